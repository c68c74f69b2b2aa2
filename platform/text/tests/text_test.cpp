#include "text/Cp1252.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

using namespace zs;

TEST(Cp1252, EncodesAndDecodes)
{
    EXPECT_EQ(text::toCp1252("è€"), "\xE8\x80");
    EXPECT_EQ(text::toCp1252("日"), "?");
    EXPECT_EQ(text::fromCp1252("\xE8\x80"), "è€");
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(text::toCp1252(text::fromCp1252(one)), one) << b;
    }
    EXPECT_EQ(text::toLatin1("àé€"), "\xE0\xE9?");
    EXPECT_EQ(text::fromLatin1("\xE0"), "à");
}

TEST(ItalianFormat, DatesTimesNamesAndNumbers)
{
    const time::DateTime dt{2005, 1, 3, 7, 8, 9};
    EXPECT_EQ(text::formatDateTime(dt), "03/01/2005 07:08:09");
    EXPECT_EQ(text::dayName(dt.weekday()), "lunedì");
    EXPECT_EQ(text::monthName(12), "dicembre");
    EXPECT_EQ(text::formatNumber(1234.5, 2), "1234,50");
    EXPECT_EQ(text::formatNumber(2.5), "2,5");
    EXPECT_EQ(text::parseNumber(" 3,25 "), 3.25);
    EXPECT_FALSE(text::parseNumber("3,2x"));
    EXPECT_EQ(text::parseDateTime("31/12/2004 23:59"), (time::DateTime{2004, 12, 31, 23, 59, 0}));
    time::FakeClock clock({2004, 2, 29, 12, 0, 1});
    EXPECT_EQ(text::today(clock), "29/02/2004");
    EXPECT_EQ(text::timeNow(clock), "12:00:01");
}
