#include "flatui/core/Canvas.h"

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
