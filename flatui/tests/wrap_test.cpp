#include "flatui/core/TextWrap.h"

#include <gtest/gtest.h>

using namespace zs::flatui;

namespace {

// 7 px a character = 105 twips; lines 13 px = 195 twips.
const FixedPitchMetrics kMetrics;
const FontSpec kFont;

std::vector<std::string> wrapTexts(const std::string& s, int nrighe, double width, WrapOverflow policy)
{
    std::vector<std::string> out;
    for (const auto& l : SpezzaStringa(s, nrighe, 0, 0, width, 600, TwipsMeasure{kMetrics, kFont}, policy))
        out.push_back(l.text);
    return out;
}

} // namespace

TEST(TextWrap, OneTableOverBothPolicies)
{
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string text;
        double width; // twips
        V tabLines;   // ExtraEmptyLine
        V menuLines;  // AtMostLimit
    };
    // "aa bb" is 5 characters = 525 twips; "aa bb cc" 8 = 840.
    const Case cases[] = {
        {"fits on one line", "aa bb", 1000, V{"aa bb"}, V{"aa bb"}},
        {"three words keep the space", "aa bb cc", 600, V{"aa bb", " cc"}, V{"aa bb", " cc"}},
        {"four words two a line", "aa bb cc dd", 600, V{"aa bb", "cc dd"}, V{"aa bb", "cc dd"}},
        {"overflow", "aa bb cc dd ee ff", 600, V{"aa bb", "cc dd", ""}, V{"aa bb", "cc dd"}},
        {"runs of spaces collapse", "aa    bb", 1000, V{"aa bb"}, V{"aa bb"}},
        {"leading spaces stay", "  aa   bb", 1000, V{"  aa bb"}, V{"  aa bb"}},
        {"long word broken", "abcdefghij", 600, V{"abcde", " fghij"}, V{"abcde", " fghij"}},
        {"empty", "", 600, V{""}, V{""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wrapTexts(c.text, 2, c.width, WrapOverflow::ExtraEmptyLine), c.tabLines);
        EXPECT_EQ(wrapTexts(c.text, 2, c.width, WrapOverflow::AtMostLimit), c.menuLines);
    }
}

TEST(TextWrap, LinesAreCentredInTheBand)
{
    const TwipsMeasure m{kMetrics, kFont};
    // Line height 195 + 4 = 199; two lines in 600: top (600 - 398) / 2 = 101.
    auto lines = SpezzaStringa("aa bb cc dd", 2, 750, 30, 600, 600, m, WrapOverflow::AtMostLimit);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].x, 750);
    EXPECT_EQ(lines[0].y, 30 + 101);
    EXPECT_EQ(lines[1].y, 30 + 101 + 199);
    // Overflow in the tab policy lays out three lines: the text moves up by half a line.
    auto tab = SpezzaStringa("aa bb cc dd ee ff", 2, 0, 0, 600, 600, m, WrapOverflow::ExtraEmptyLine);
    ASSERT_EQ(tab.size(), 3u);
    EXPECT_EQ(tab[0].y, 2); // (600 - 597) / 2 = 1.5, halves to even
}
