#pragma once
// Replays a control's display list with QPainter, and measures text with Qt's font metrics.

#include "flatui/core/Canvas.h"
#include "flatui/core/Export.h"

#include <QColor>
#include <QFont>
#include <QImage>

class QPainter;

namespace zs::flatui {

TAVOLEX_EXPORT QColor toQColor(Color c);
TAVOLEX_EXPORT QFont toQFont(const FontSpec& f);
TAVOLEX_EXPORT QImage toQImage(const Picture& p);
TAVOLEX_EXPORT PictureRef fromQImage(const QImage& image);

/// Draws every operation of `list` in order; coordinates are the widget's pixels.
TAVOLEX_EXPORT void paintDisplayList(QPainter& painter, const DisplayList& list, const QSize& size);

class TAVOLEX_EXPORT QtTextMetrics : public TextMetrics {
  public:
    double width(std::string_view text, const FontSpec& font) const override;
    double height(std::string_view text, const FontSpec& font) const override;
    /// One shared instance for every widget.
    static const QtTextMetrics& instance();
};

} // namespace zs::flatui
