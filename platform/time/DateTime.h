#pragma once
// Civil (wall-clock) dates and times without a time zone, as the program shows and stores
// them. Arithmetic is on the calendar: adding a day keeps the hour across a daylight-saving
// change, because no time zone is involved.

#include <cstdint>
#include <optional>
#include <string>

namespace zs::time {

struct DateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
    friend auto operator<=>(const DateTime&, const DateTime&) = default;

    /// Days since 1970-01-01 of the date part (negative before).
    std::int64_t daysSinceEpoch() const;
    /// Seconds since 1970-01-01 00:00:00, counting on the wall clock.
    std::int64_t civilSeconds() const;
    static DateTime fromDays(std::int64_t days);
    static DateTime fromCivilSeconds(std::int64_t seconds);

    DateTime addSeconds(std::int64_t seconds) const;
    DateTime addDays(std::int64_t days) const;
    /// Adds months keeping the day, clamped to the month's last day (31 Jan + 1 month = 28/29 Feb).
    DateTime addMonths(int months) const;
    /// Adds years keeping month and day, clamped (29 Feb + 1 year = 28 Feb).
    DateTime addYears(int years) const;

    DateTime date() const { return {year, month, day, 0, 0, 0}; }
    /// 1 Sunday … 7 Saturday, as the original's Weekday function counts.
    int weekday() const;
    bool isValid() const;
};

bool isLeapYear(int year);
int daysInMonth(int year, int month);

/// Parses "yyyy-mm-dd", "yyyy-mm-ddThh:mm:ss" and "yyyy-mm-dd hh:mm:ss" (the store formats).
std::optional<DateTime> parseIso(const std::string& text);
/// "yyyy-mm-ddThh:mm:ss".
std::string toIso(const DateTime& dt);

} // namespace zs::time
