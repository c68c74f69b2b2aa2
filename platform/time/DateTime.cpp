#include "time/DateTime.h"

#include <cstdio>

namespace zs::time {

namespace {

// Howard Hinnant's days-from-civil and civil-from-days algorithms.
std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::int64_t DateTime::daysSinceEpoch() const
{
    return daysFromCivil(year, month, day);
}

std::int64_t DateTime::civilSeconds() const
{
    return daysSinceEpoch() * 86400 + hour * 3600 + minute * 60 + second;
}

DateTime DateTime::fromDays(std::int64_t days)
{
    DateTime dt;
    civilFromDays(days, dt.year, dt.month, dt.day);
    dt.hour = dt.minute = dt.second = 0;
    return dt;
}

DateTime DateTime::fromCivilSeconds(std::int64_t seconds)
{
    const std::int64_t days = floorDiv(seconds, 86400);
    const std::int64_t rest = seconds - days * 86400;
    DateTime dt = fromDays(days);
    dt.hour = static_cast<int>(rest / 3600);
    dt.minute = static_cast<int>(rest % 3600 / 60);
    dt.second = static_cast<int>(rest % 60);
    return dt;
}

DateTime DateTime::addSeconds(std::int64_t seconds) const
{
    return fromCivilSeconds(civilSeconds() + seconds);
}

DateTime DateTime::addDays(std::int64_t days) const
{
    return addSeconds(days * 86400);
}

DateTime DateTime::addMonths(int months) const
{
    DateTime dt = *this;
    const int total = year * 12 + (month - 1) + months;
    dt.year = total >= 0 ? total / 12 : -((-total + 11) / 12);
    dt.month = total - dt.year * 12 + 1;
    const int last = daysInMonth(dt.year, dt.month);
    if (dt.day > last)
        dt.day = last;
    return dt;
}

DateTime DateTime::addYears(int years) const
{
    return addMonths(years * 12);
}

int DateTime::weekday() const
{
    // 1970-01-01 was a Thursday (5 in the Sunday = 1 count).
    const std::int64_t w = (daysSinceEpoch() % 7 + 7 + 4) % 7; // 0 Sunday
    return static_cast<int>(w) + 1;
}

bool DateTime::isValid() const
{
    return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month) && hour >= 0 && hour < 24 &&
           minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

std::optional<DateTime> parseIso(const std::string& text)
{
    DateTime dt;
    char sep = 0;
    int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &dt.year, &dt.month, &dt.day, &sep, &dt.hour,
                        &dt.minute, &dt.second);
    if (n == 3) {
        dt.hour = dt.minute = dt.second = 0;
    } else if (n != 7 || (sep != 'T' && sep != ' ')) {
        return std::nullopt;
    }
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

std::string toIso(const DateTime& dt)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", dt.year, dt.month, dt.day, dt.hour, dt.minute,
                  dt.second);
    return buf;
}

} // namespace zs::time
