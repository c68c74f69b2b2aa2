#pragma once
// The program's display formats, fixed to Italian whatever the machine's locale: decimal
// comma, dd/mm/yyyy, hh:mm:ss, Italian day and month names. Display only: SQL never uses these.

#include "time/DateTime.h"

#include <optional>
#include <string>
#include <string_view>

namespace zs::time {
class Clock;
}

namespace zs::text {

std::string formatDate(const time::DateTime& dt);     ///< "dd/mm/yyyy"
std::string formatTime(const time::DateTime& dt);     ///< "hh:mm:ss"
std::string formatDateTime(const time::DateTime& dt); ///< "dd/mm/yyyy hh:mm:ss"

/// Day names, 1 Sunday … 7 Saturday: "domenica", "lunedì", … "sabato".
std::string_view dayName(int weekday);
/// Month names, 1 … 12: "gennaio" … "dicembre".
std::string_view monthName(int month);

/// A number with a decimal comma and `decimals` digits after it (rounded half away from zero).
std::string formatNumber(double value, int decimals);
/// A number with as many decimals as needed (up to 15 significant digits), comma as separator.
std::string formatNumber(double value);
/// Reads a number written with a decimal comma (or a point); nothing when it is not a number.
std::optional<double> parseNumber(std::string_view text);
/// Reads a short date, day first: one or two digits for day and month, a year of two digits
/// (2000 + yy) or four, separated by "/", "-" or "." (the same one twice), optionally followed by
/// blanks and "hh:mm" or "hh:mm:ss". Blanks around the whole are allowed; any other text before
/// or after, or a date the calendar lacks, gives nothing.
std::optional<time::DateTime> parseDateTime(std::string_view text);
/// The same without a time: the date alone, at midnight.
std::optional<time::DateTime> parseDate(std::string_view text);
/// A year as typed: two digits mean 2000 + yy, four digits the year itself; nothing otherwise.
std::optional<int> parseYear(std::string_view digits);

/// Today's date and the time now from the clock, formatted.
std::string today(const time::Clock& clock);
std::string timeNow(const time::Clock& clock);

} // namespace zs::text
