#include "flatui/core/Colors.h"

#include <cmath>

namespace zs::flatui {

std::int32_t GetRed(Color c)
{
    return static_cast<std::int32_t>(c & 255u);
}
std::int32_t GetGreen(Color c)
{
    return static_cast<std::int32_t>((c & 0xFF00u) / 256u);
}
std::int32_t GetBlue(Color c)
{
    return static_cast<std::int32_t>((c >> 16) & 255u);
}

double roundEven(double x)
{
    return std::nearbyint(x);
}
double pxRound(double twips)
{
    return roundEven(twips / kTwipsPerPixel);
}

Color BlendColors(Color c1, Color c2, double x)
{
    const auto mix = [x](std::int32_t a, std::int32_t b) {
        const double v = roundEven(b + (a - b) * x);
        return static_cast<int>(v < 0 ? 0 : (v > 255 ? 255 : v));
    };
    return rgb(mix(GetRed(c1), GetRed(c2)), mix(GetGreen(c1), GetGreen(c2)), mix(GetBlue(c1), GetBlue(c2)));
}

Color resolveColor(Color c)
{
    if (!isSystemColor(c))
        return c & 0xFFFFFFu;
    switch (c & 0xFFu) {
    case 0x05:
        return rgb(255, 255, 255); // window background
    case 0x08:
        return rgb(0, 0, 0); // window text
    case 0x0D:
        return rgb(0, 120, 215); // highlight
    case 0x0E:
        return rgb(255, 255, 255); // highlight text
    case 0x12:
        return rgb(0, 0, 0); // button text
    case 0x10:
        return rgb(160, 160, 160); // button shadow
    case 0x14:
        return rgb(255, 255, 255); // button highlight
    case 0x0F:                     // button face
    default:
        return rgb(240, 240, 240);
    }
}

} // namespace zs::flatui
