#include "program/LogPruning.h"

#include "text/Ascii.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>

namespace zs::program {

std::optional<time::DateTime> dayLogDate(const std::filesystem::path& file)
{
    std::string name = file.filename().string();
    const std::string lower = text::lowerAscii(name);
    if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".log") != 0)
        return std::nullopt;
    const std::string stem = name.substr(0, name.size() - 4);
    if (stem.size() < 6 ||
        !std::all_of(stem.begin(), stem.begin() + 6, [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    time::DateTime dt;
    dt.year = 2000 + std::stoi(stem.substr(0, 2));
    dt.month = std::stoi(stem.substr(2, 2));
    dt.day = std::stoi(stem.substr(4, 2));
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

int ClearLogs(const std::filesystem::path& logFolder, int monthsKept, const time::DateTime& today)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(logFolder, ec))
        return 0;
    const time::DateTime limit = today.date().addMonths(-std::max(1, monthsKept));
    int deleted = 0;
    for (std::filesystem::directory_iterator it(logFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        const auto date = dayLogDate(it->path());
        if (date && *date < limit) {
            std::error_code rm;
            // A read-only file goes too: removing needs only the folder's permission here.
            if (std::filesystem::remove(it->path(), rm))
                ++deleted;
        }
    }
    return deleted;
}

} // namespace zs::program
