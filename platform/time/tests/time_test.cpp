#include "time/Clock.h"
#include "time/DateTime.h"

#include <gtest/gtest.h>

using zs::time::DateTime;

TEST(DateTime, CivilArithmetic)
{
    struct Case {
        const char* name;
        DateTime from;
        DateTime got;
        DateTime want;
    } cases[] = {
        {"day over month end",
         {2004, 1, 31, 6, 30, 0},
         DateTime{2004, 1, 31, 6, 30, 0}.addDays(1),
         {2004, 2, 1, 6, 30, 0}},
        {"leap day", {2004, 2, 28, 0, 0, 0}, DateTime{2004, 2, 28}.addDays(1), {2004, 2, 29, 0, 0, 0}},
        {"dst change keeps hour",
         {2026, 3, 28, 6, 30, 0},
         DateTime{2026, 3, 28, 6, 30, 0}.addDays(1),
         {2026, 3, 29, 6, 30, 0}},
        {"month clamp", {2005, 1, 31}, DateTime{2005, 1, 31}.addMonths(1), {2005, 2, 28}},
        {"year clamp", {2004, 2, 29}, DateTime{2004, 2, 29}.addYears(1), {2005, 2, 28}},
        {"negative months", {2005, 1, 15}, DateTime{2005, 1, 15}.addMonths(-2), {2004, 11, 15}},
        {"seconds back", {2005, 1, 1}, DateTime{2005, 1, 1}.addSeconds(-1), {2004, 12, 31, 23, 59, 59}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.got, c.want);
    }
}

TEST(DateTime, WeekdayCountsFromSunday)
{
    EXPECT_EQ((DateTime{2005, 1, 1}.weekday()), 7);  // Saturday
    EXPECT_EQ((DateTime{2026, 12, 7}.weekday()), 2); // Monday
    EXPECT_EQ((DateTime{1899, 12, 30}.weekday()), 7);
}

TEST(DateTime, IsoRoundTrip)
{
    const DateTime dt{2026, 12, 9, 21, 5, 7};
    EXPECT_EQ(zs::time::toIso(dt), "2026-12-09T21:05:07");
    EXPECT_EQ(zs::time::parseIso("2026-12-09T21:05:07"), dt);
    EXPECT_EQ(zs::time::parseIso("2026-12-09"), (DateTime{2026, 12, 9}));
    EXPECT_FALSE(zs::time::parseIso("2026-02-30"));
    EXPECT_FALSE(zs::time::parseIso("garbage"));
}

TEST(FakeClock, AdvancesWallClockAndTick)
{
    zs::time::FakeClock clock({2005, 12, 31, 23, 59, 59});
    clock.advanceMs(500);
    EXPECT_EQ(clock.now().second, 59);
    clock.advanceMs(500);
    EXPECT_EQ(clock.now(), (DateTime{2006, 1, 1, 0, 0, 0}));
    EXPECT_EQ(clock.tickMs(), 1000);
}
