#include "flatui/core/Canvas.h"

#include <algorithm>
#include <cmath>

namespace zs::flatui {

double FixedPitchMetrics::width(std::string_view text, const FontSpec&) const
{
    std::size_t chars = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) // count code points, not UTF-8 bytes
            ++chars;
    return m_cw * static_cast<double>(chars);
}

void DisplayList::clear(Color c)
{
    m_ops.clear();
    DrawOp op;
    op.kind = DrawOp::Kind::Clear;
    op.color = c;
    m_ops.push_back(std::move(op));
}

void DisplayList::fillBox(double x1, double y1, double x2, double y2, Color c)
{
    DrawOp op;
    op.kind = DrawOp::Kind::FillBox;
    op.x1 = x1, op.y1 = y1, op.x2 = x2, op.y2 = y2, op.color = c;
    m_ops.push_back(std::move(op));
}

void DisplayList::box(double x1, double y1, double x2, double y2, Color c, double pen)
{
    DrawOp op;
    op.kind = DrawOp::Kind::Box;
    op.x1 = x1, op.y1 = y1, op.x2 = x2, op.y2 = y2, op.color = c, op.pen = pen;
    m_ops.push_back(std::move(op));
}

void DisplayList::line(double x1, double y1, double x2, double y2, Color c, double pen)
{
    DrawOp op;
    op.kind = DrawOp::Kind::Line;
    op.x1 = x1, op.y1 = y1, op.x2 = x2, op.y2 = y2, op.color = c, op.pen = pen;
    m_ops.push_back(std::move(op));
}

void DisplayList::text(double x, double y, std::string s, Color c, const FontRef& font)
{
    DrawOp op;
    op.kind = DrawOp::Kind::Text;
    op.x1 = x, op.y1 = y, op.color = c, op.text = std::move(s), op.font = font;
    m_ops.push_back(std::move(op));
}

void DisplayList::alphaBlend(const PictureRef& pic, double x, double y, double w, double h, double srcW, double srcH,
                             int alpha)
{
    DrawOp op;
    op.kind = DrawOp::Kind::AlphaBlend;
    op.picture = pic;
    op.x1 = x, op.y1 = y, op.x2 = w, op.y2 = h, op.srcW = srcW, op.srcH = srcH, op.alpha = alpha;
    m_ops.push_back(std::move(op));
}

void DisplayList::transparentBlt(const PictureRef& pic, double x, double y, Color transparent)
{
    DrawOp op;
    op.kind = DrawOp::Kind::TransparentBlt;
    op.picture = pic;
    op.x1 = x, op.y1 = y, op.color = transparent;
    m_ops.push_back(std::move(op));
}

void DisplayList::image(const PictureRef& pic, double x, double y)
{
    DrawOp op;
    op.kind = DrawOp::Kind::Image;
    op.picture = pic;
    op.x1 = x, op.y1 = y;
    m_ops.push_back(std::move(op));
}

void DisplayList::polygon(std::vector<PointF> pts, Color outline, Color fill)
{
    DrawOp op;
    op.kind = DrawOp::Kind::Polygon;
    op.points = std::move(pts);
    op.color = outline;
    op.fill = fill;
    m_ops.push_back(std::move(op));
}

namespace {

Color fromArgb(std::uint32_t p)
{
    return rgb(static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF));
}

/// `over` laid on `under` with opacity a (0 to 1), each channel rounded.
Color blend(Color over, Color under, double a)
{
    over = resolveColor(over);
    under = resolveColor(under);
    const auto mix = [a](std::int32_t o, std::int32_t u) {
        return static_cast<int>(std::lround(o * a + u * (1.0 - a)));
    };
    return rgb(mix(GetRed(over), GetRed(under)), mix(GetGreen(over), GetGreen(under)),
               mix(GetBlue(over), GetBlue(under)));
}

bool onSegment(double px, double py, const DrawOp& op)
{
    const double dx = op.x2 - op.x1;
    const double dy = op.y2 - op.y1;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - op.x1) * dx + (py - op.y1) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = op.x1 + t * dx - px;
    const double ey = op.y1 + t * dy - py;
    const double reach = std::max(op.pen, 1.0) / 2;
    return ex * ex + ey * ey <= reach * reach;
}

/// The picture's pixel under (x, y) for a picture drawn at (left, top) scaled to w × h.
const std::uint32_t* pictureAt(const Picture& pic, double left, double top, double w, double h, double srcW,
                               double srcH, int x, int y)
{
    if (x < left || y < top || x >= left + w || y >= top + h || w <= 0 || h <= 0)
        return nullptr;
    const int sx = static_cast<int>((x - left) * srcW / w);
    const int sy = static_cast<int>((y - top) * srcH / h);
    if (sx < 0 || sy < 0 || sx >= pic.width || sy >= pic.height)
        return nullptr;
    return &pic.pixels[static_cast<std::size_t>(sy) * static_cast<std::size_t>(pic.width) +
                       static_cast<std::size_t>(sx)];
}

} // namespace

Color DisplayList::colorAt(int x, int y, Color ground) const
{
    Color c = ground;
    const double px = x;
    const double py = y;
    for (const DrawOp& op : m_ops) {
        switch (op.kind) {
        case DrawOp::Kind::Clear:
            c = op.color;
            break;
        case DrawOp::Kind::FillBox:
            if (px >= std::min(op.x1, op.x2) && px <= std::max(op.x1, op.x2) && py >= std::min(op.y1, op.y2) &&
                py <= std::max(op.y1, op.y2))
                c = op.color;
            break;
        case DrawOp::Kind::Box: {
            DrawOp edge = op;
            const double xs[][4] = {{op.x1, op.y1, op.x2, op.y1},
                                    {op.x2, op.y1, op.x2, op.y2},
                                    {op.x2, op.y2, op.x1, op.y2},
                                    {op.x1, op.y2, op.x1, op.y1}};
            for (const auto& e : xs) {
                edge.x1 = e[0], edge.y1 = e[1], edge.x2 = e[2], edge.y2 = e[3];
                if (onSegment(px, py, edge))
                    c = op.color;
            }
            break;
        }
        case DrawOp::Kind::Line:
            if (onSegment(px, py, op))
                c = op.color;
            break;
        case DrawOp::Kind::AlphaBlend:
            if (op.picture)
                if (const auto* p = pictureAt(*op.picture, op.x1, op.y1, op.x2, op.y2, op.srcW, op.srcH, x, y))
                    c = blend(fromArgb(*p), c, op.alpha / 255.0);
            break;
        case DrawOp::Kind::TransparentBlt:
            if (op.picture)
                if (const auto* p = pictureAt(*op.picture, op.x1, op.y1, op.picture->width, op.picture->height,
                                              op.picture->width, op.picture->height, x, y);
                    p && fromArgb(*p) != resolveColor(op.color))
                    c = fromArgb(*p);
            break;
        case DrawOp::Kind::Image:
            if (op.picture)
                if (const auto* p = pictureAt(*op.picture, op.x1, op.y1, op.picture->width, op.picture->height,
                                              op.picture->width, op.picture->height, x, y);
                    p && (*p >> 24) != 0)
                    c = blend(fromArgb(*p), c, ((*p >> 24) & 0xFF) / 255.0);
            break;
        case DrawOp::Kind::Text:
        case DrawOp::Kind::Polygon:
        case DrawOp::Kind::CopyBackground:
            break;
        }
    }
    return c;
}

std::vector<const DrawOp*> DisplayList::opsOfKind(DrawOp::Kind k) const
{
    std::vector<const DrawOp*> out;
    for (const auto& op : m_ops)
        if (op.kind == k)
            out.push_back(&op);
    return out;
}

std::vector<std::string> DisplayList::texts() const
{
    std::vector<std::string> out;
    for (const auto& op : m_ops)
        if (op.kind == DrawOp::Kind::Text)
            out.push_back(op.text);
    return out;
}

} // namespace zs::flatui
