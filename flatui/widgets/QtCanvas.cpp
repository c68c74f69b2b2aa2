#include "flatui/widgets/QtCanvas.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

namespace zs::flatui {

QColor toQColor(Color c)
{
    const Color r = resolveColor(c);
    return QColor(GetRed(r), GetGreen(r), GetBlue(r));
}

QFont toQFont(const FontSpec& f)
{
    QFont q(QString::fromStdString(f.name));
    q.setPointSizeF(f.size > 0 ? f.size : 8.25);
    q.setBold(f.bold);
    q.setItalic(f.italic);
    q.setUnderline(f.underline);
    return q;
}

QImage toQImage(const Picture& p)
{
    QImage img(p.width, p.height, QImage::Format_ARGB32);
    for (int y = 0; y < p.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < p.width; ++x)
            line[x] = p.at(x, y);
    }
    return img;
}

PictureRef fromQImage(const QImage& image)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    auto p = std::make_shared<Picture>(img.width(), img.height());
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            p->set(x, y, line[x]);
    }
    return p;
}

namespace {

QImage withTransparentColour(const Picture& p, Color transparent)
{
    QImage img = toQImage(p);
    const QRgb key = toQColor(transparent).rgb() & 0xFFFFFFu;
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == key)
                line[x] = 0;
    }
    return img;
}

} // namespace

void paintDisplayList(QPainter& painter, const DisplayList& list, const QSize& size)
{
    using K = DrawOp::Kind;
    for (const auto& op : list.ops()) {
        switch (op.kind) {
        case K::Clear:
            painter.fillRect(QRect(QPoint(0, 0), size), toQColor(op.color));
            break;
        case K::FillBox:
            painter.fillRect(QRectF(op.x1, op.y1, op.x2 - op.x1 + 1, op.y2 - op.y1 + 1), toQColor(op.color));
            break;
        case K::Box:
            painter.setPen(QPen(toQColor(op.color), op.pen));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(op.x1, op.y1, op.x2 - op.x1, op.y2 - op.y1));
            break;
        case K::Line:
            painter.setPen(QPen(toQColor(op.color), op.pen, Qt::SolidLine, Qt::SquareCap));
            painter.drawLine(QPointF(op.x1, op.y1), QPointF(op.x2, op.y2));
            break;
        case K::Text:
            if (!op.text.empty()) {
                const QFont f = op.font ? toQFont(*op.font) : QFont();
                painter.setFont(f);
                painter.setPen(toQColor(op.color));
                painter.drawText(QPointF(op.x1, op.y1 + QFontMetricsF(f).ascent()), QString::fromStdString(op.text));
            }
            break;
        case K::AlphaBlend:
            if (op.picture) {
                painter.save();
                painter.setOpacity(op.alpha / 255.0);
                painter.drawImage(QRectF(op.x1, op.y1, op.x2, op.y2), toQImage(*op.picture),
                                  QRectF(0, 0, op.srcW, op.srcH));
                painter.restore();
            }
            break;
        case K::TransparentBlt:
            if (op.picture)
                painter.drawImage(QPointF(op.x1, op.y1), withTransparentColour(*op.picture, op.color));
            break;
        case K::Image:
            if (op.picture)
                painter.drawImage(QPointF(op.x1, op.y1), toQImage(*op.picture));
            break;
        case K::Polygon: {
            QPolygonF poly;
            for (const auto& pt : op.points)
                poly << QPointF(pt.x, pt.y);
            painter.setPen(QPen(toQColor(op.color), 1));
            painter.setBrush(toQColor(op.fill));
            painter.drawPolygon(poly);
            painter.setBrush(Qt::NoBrush);
            break;
        }
        case K::CopyBackground:
            break; // the widgets that need it draw the copy themselves
        }
    }
}

double QtTextMetrics::width(std::string_view text, const FontSpec& font) const
{
    return QFontMetricsF(toQFont(font))
        .horizontalAdvance(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

double QtTextMetrics::height(std::string_view, const FontSpec& font) const
{
    return QFontMetricsF(toQFont(font)).height();
}

const QtTextMetrics& QtTextMetrics::instance()
{
    static const QtTextMetrics metrics;
    return metrics;
}

} // namespace zs::flatui
