#pragma once
// Colour values (0x00BBGGRR, or 0x800000nn for a system colour), the library's colour
// functions, the packed constant-alpha blend value and the fixed twips-per-pixel factor.

#include <cstdint>

namespace zs::flatui {

using Color = std::uint32_t;

inline constexpr double kTwipsPerPixel = 15.0;

std::int32_t GetRed(Color c);
std::int32_t GetGreen(Color c);
std::int32_t GetBlue(Color c);
/// Per channel c2 + (c1 - c2) * x, rounded half to even; x = 0 gives c2, x = 1 gives c1.
Color BlendColors(Color c1, Color c2, double x);

inline constexpr Color rgb(int r, int g, int b)
{
    return static_cast<Color>(r) | (static_cast<Color>(g) << 8) | (static_cast<Color>(b) << 16);
}
inline constexpr bool isSystemColor(Color c)
{
    return (c & 0xFF000000u) == 0x80000000u;
}

/// A plain colour for drawing: system colours map to the classic desktop scheme.
Color resolveColor(Color c);

/// Constant alpha (0-255) packed as the blend function value: alpha * 65536.
inline constexpr std::int32_t blendValue(int alpha)
{
    return alpha * 65536;
}
inline constexpr int alphaOf(std::int32_t blend)
{
    return (blend >> 16) & 0xFF;
}

/// Half-to-even rounding, used wherever a measure becomes a whole number.
double roundEven(double x);
/// Twips to pixels, not rounded.
inline constexpr double px(double twips)
{
    return twips / kTwipsPerPixel;
}
/// Twips to whole pixels, halves to even.
double pxRound(double twips);

} // namespace zs::flatui
