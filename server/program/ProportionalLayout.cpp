#include "program/ProportionalLayout.h"

#include "text/Ascii.h"
#include "text/Split.h"

#include <charconv>
#include <vector>

namespace zs::program {
namespace {

std::optional<double> number(std::string_view text)
{
    text = text::trim(text, " ");
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

std::string windowTag(long width, long height)
{
    return " 0.0." + std::to_string(width) + "." + std::to_string(height);
}

std::optional<std::pair<double, double>> windowDesignSize(const std::string& tag)
{
    const auto fields = text::split(tag, '.');
    if (fields.size() < 4)
        return std::nullopt;
    const auto w = number(fields[2]);
    const auto h = number(fields[3]);
    if (!w || !h || *w <= 0 || *h <= 0)
        return std::nullopt;
    return std::make_pair(*w, *h);
}

std::string appendGeometry(const std::string& tag, long left, long top, long width, long height)
{
    if (tag.empty())
        return tag;
    return tag + "@" + std::to_string(left) + "." + std::to_string(top) + "." + std::to_string(width) + "." +
           std::to_string(height);
}

std::optional<Geometry> layoutControl(const std::string& windowTagText, const std::string& controlTag,
                                      const Geometry& current, double width, double height)
{
    if (controlTag.empty())
        return std::nullopt;
    Geometry g = current;
    const auto design = windowDesignSize(windowTagText);
    const auto parts = text::split(controlTag, '@');
    if (!design || parts.size() < 2)
        return g;
    const auto fields = text::split(parts[1], '.');
    if (fields.size() < 4)
        return g;
    const auto left = number(fields[0]), top = number(fields[1]), w = number(fields[2]), h = number(fields[3]);
    if (!left || !top || !w || !h)
        return g;
    const auto [designW, designH] = *design;
    const double rx = width / designW;
    const double ry = height / designH;
    for (const char letter : parts[0]) {
        switch (letter) {
        case 'L':
            g.left = *left * rx;
            break;
        case 'T':
            g.top = *top * ry;
            break;
        case 'W':
            g.width = *w * rx;
            break;
        case 'H':
            g.height = *h * ry;
            break;
        case 'A':
            g = {*left * rx, *top * ry, *w * rx, *h * ry};
            break;
        case 'r':
            g.left = width - (designW - *left);
            break;
        case 'b':
            g.top = height - (designH - *top);
            break;
        case 'w':
            g.width = *w + (width - designW);
            break;
        case 'h':
            g.height = *h + (height - designH);
            break;
        default:
            break;
        }
    }
    // A control cannot take a negative size (a window shrunk below its design size): that
    // statement is passed over and the control keeps its size.
    if (g.width < 0)
        g.width = current.width;
    if (g.height < 0)
        g.height = current.height;
    return g;
}

} // namespace zs::program
