#include "text/Ascii.h"
#include "text/Cp1252.h"
#include "text/ItalianFormat.h"
#include "text/Split.h"
#include "text/SystemReason.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

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

TEST(Ascii, CaseChangesOnlyAsciiLettersWhateverTheLocale)
{
    // "Città" in UTF-8: the two bytes of à must pass through untouched.
    EXPECT_EQ(text::lowerAscii("CITT\xC3\x80 Àz[@"), "citt\xC3\x80 Àz[@");
    EXPECT_EQ(text::upperAscii("citt\xC3\xA0 `{a"), "CITT\xC3\xA0 `{A");
    EXPECT_EQ(text::lowerAscii('Q'), 'q');
    EXPECT_EQ(text::upperAscii('\xE0'), '\xE0');
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    };
    const Case cases[] = {
        {"Provider", "PROVIDER", true},  {"", "", true}, {"abc", "abcd", false}, {"[", "{", false}, {"@", "`", false},
        {"\xC3\xA0", "\xC3\x80", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " ~ " + c.b);
        EXPECT_EQ(text::equalsNoCase(c.a, c.b), c.equal);
    }
}

TEST(Ascii, TrimTakesTheGivenCharactersFromBothEnds)
{
    struct Case {
        const char* name;
        std::string_view in;
        std::string_view chars;
        std::string_view both, left, right;
    };
    const Case cases[] = {
        {"blanks", " \t a b \t ", text::kBlanks, "a b", "a b \t ", " \t a b"},
        {"spaces only keep tabs", " \ta\t ", " ", "\ta\t", "\ta\t ", " \ta\t"},
        {"all blank", " \t ", text::kBlanks, "", "", ""},
        {"empty", "", text::kBlanks, "", "", ""},
        {"line ends", "\r\n x\r\n", " \t\r\n", "x", "x\r\n", "\r\n x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text::trim(c.in, c.chars), c.both);
        EXPECT_EQ(text::trimLeft(c.in, c.chars), c.left);
        EXPECT_EQ(text::trimRight(c.in, c.chars), c.right);
    }
}

TEST(Split, EveryOccurrenceSplitsAndEmptyItemsStay)
{
    using Items = std::vector<std::string>;
    EXPECT_EQ(text::split("a.b.c", '.'), (Items{"a", "b", "c"}));
    EXPECT_EQ(text::split("", '.'), (Items{""}));
    EXPECT_EQ(text::split(".a..", '.'), (Items{"", "a", "", ""}));
    EXPECT_EQ(text::split("nessuno", '@'), (Items{"nessuno"}));
    EXPECT_EQ(text::split("uno\r\ndue\r\n", "\r\n"), (Items{"uno", "due", ""}));
    EXPECT_EQ(text::split("a b", ""), (Items{"a b"}));
}

TEST(ItalianFormat, DateTextsAsTheOperatorTypesThem)
{
    using time::DateTime;
    struct Case {
        const char* text;
        std::optional<DateTime> expected;
    };
    const DateTime dec8{2027, 12, 8, 0, 0, 0};
    const Case cases[] = {
        {"08/12/2027", dec8},
        {"8/12/2027", dec8},
        {"08/12/27", dec8}, // two digits: this century
        {"8/12/27", dec8},
        {"08-12-2027", dec8},
        {"8.12.2027", dec8},
        {"08.12.27", dec8},
        {" 08/12/2027 ", dec8},
        {"31/12/99", DateTime{2099, 12, 31, 0, 0, 0}},
        {"01/01/00", DateTime{2000, 1, 1, 0, 0, 0}},
        {"08/12/1999", DateTime{1999, 12, 8, 0, 0, 0}},
        {"29/02/24", DateTime{2024, 2, 29, 0, 0, 0}},
        {"08/12/2027 06:30", DateTime{2027, 12, 8, 6, 30, 0}},
        {"08/12/27 6:30:15", DateTime{2027, 12, 8, 6, 30, 15}},
        {"08-12-2027 23:59:59", DateTime{2027, 12, 8, 23, 59, 59}},
        {"08/12/2027xyz", std::nullopt},
        {"08/12/2027 xyz", std::nullopt},
        {"08/12/2027 06:30xyz", std::nullopt},
        {"08/12/2027 06", std::nullopt},
        {"08/12/2027 24:00", std::nullopt},
        {"08/12/027", std::nullopt}, // three digits are no year
        {"08/12/7", std::nullopt},
        {"08/12/20271", std::nullopt},
        {"08/12-2027", std::nullopt}, // mixed separators
        {"08 12 2027", std::nullopt},
        {"008/12/2027", std::nullopt},
        {"29/02/23", std::nullopt},
        {"31/04/2027", std::nullopt},
        {"00/12/2027", std::nullopt},
        {"08/13/2027", std::nullopt},
        {"08/12", std::nullopt},
        {"", std::nullopt},
        {"x08/12/2027", std::nullopt},
        {"-8/12/2027", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text::parseDateTime(c.text), c.expected);
        // The date alone refuses a time after it.
        const bool hasTime = c.expected && (c.expected->hour || c.expected->minute || c.expected->second);
        EXPECT_EQ(text::parseDate(c.text), hasTime ? std::nullopt : c.expected);
    }
    EXPECT_EQ(text::parseYear("27"), 2027);
    EXPECT_EQ(text::parseYear("0027"), 27);
    EXPECT_FALSE(text::parseYear("027"));
}

TEST(SystemReason, TheCommonReasonsReadInItalian)
{
    const std::pair<int, const char*> cases[] = {
        {ENOENT, "File o directory inesistente"},    {EACCES, "Permesso negato"},
        {ENOSPC, "Spazio esaurito sul dispositivo"}, {EROFS, "File system in sola lettura"},
        {EDQUOT, "Quota del disco superata"},        {ECONNREFUSED, "Connessione rifiutata"},
        {ENOEXEC, "Errore di formato di exec"},      {0, "errore di sistema 0"},
        {99999, "errore di sistema 99999"},
    };
    for (const auto& [value, reason] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(text::systemReason(value), reason);
    }
    // An error code of the system's categories takes the same table; another category its own text.
    EXPECT_EQ(text::systemReason(std::make_error_code(std::errc::permission_denied)), "Permesso negato");
    std::error_code ec;
    std::filesystem::create_directory("/nonexistent-folder/of/test", ec);
    EXPECT_EQ(text::systemReason(ec), "File o directory inesistente");
    EXPECT_EQ(text::systemReason(std::make_error_code(std::io_errc::stream)),
              std::make_error_code(std::io_errc::stream).message());
}
