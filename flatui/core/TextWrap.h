#pragma once
// The caption wrapping the tab strip and the menu drop-down share: runs of spaces collapse,
// words too wide for a line are broken, words fill at most `nrighe` lines of width below
// `Picwidth`, and the block is centred vertically in the band from Y of height `Picheight`.
// All measures in twips. The two controls differ only when the text overflows.

#include "flatui/core/Canvas.h"

#include <string>
#include <string_view>
#include <vector>

namespace zs::flatui {

enum class WrapOverflow {
    /// The tab strip lays out one more (empty) line than the limit, moving the text up by half
    /// a line.
    ExtraEmptyLine,
    /// The menu drop-down lays out at most `nrighe` lines.
    AtMostLimit,
};

struct WrappedLine {
    std::string text;
    double x = 0; ///< twips
    double y = 0; ///< twips
};

/// Measures in twips with one font.
struct TwipsMeasure {
    const TextMetrics& metrics;
    const FontSpec& font;
    double width(std::string_view s) const { return metrics.width(s, font) * kTwipsPerPixel; }
    double height(std::string_view s) const { return metrics.height(s, font) * kTwipsPerPixel; }
};

/// The lines to print and where. Raises overflow (6) for texts beyond the 16-bit counters.
std::vector<WrappedLine> SpezzaStringa(std::string_view s, int nrighe, double X, double Y, double Picwidth,
                                       double Picheight, const TwipsMeasure& measure, WrapOverflow policy);

} // namespace zs::flatui
