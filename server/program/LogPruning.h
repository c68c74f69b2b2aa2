#pragma once
// Removes the day logs older than the months the operator keeps. A day log's date comes from
// its name "yymmdd….log" (20yy); files that are not day logs are never touched.

#include <filesystem>
#include <optional>

#include "time/DateTime.h"

namespace zs::program {

/// The date a day-log file name stands for, or nothing when it is not a day log.
std::optional<time::DateTime> dayLogDate(const std::filesystem::path& file);

/// Deletes from `logFolder` every ".log" file dated before `today` minus `monthsKept`
/// calendar months (clamped to the month's last day). Months below 1 count as 1. A missing
/// folder is not an error. Returns how many files were deleted.
int ClearLogs(const std::filesystem::path& logFolder, int monthsKept, const time::DateTime& today);

} // namespace zs::program
