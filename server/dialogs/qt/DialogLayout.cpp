#include "dialogs/qt/DialogLayout.h"

#include "dialogs/core/OpzioniLayout.h"

#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace zs::dialogs {

namespace {
constexpr double kTwips = 15.0; // twips per pixel
constexpr const char* kTag = "zsTag";

std::string tagOf(const QObject& o)
{
    return o.property(kTag).toString().toStdString();
}

int pixels(double twips)
{
    return static_cast<int>(std::lround(twips / kTwips));
}
} // namespace

void saveLayoutProperties(QWidget& window)
{
    window.setProperty(kTag,
                       QString::fromStdString(windowLayoutTag(window.width() * kTwips, window.height() * kTwips)));
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const std::string tag = tagOf(*w);
        if (tag.empty())
            continue;
        const QRect g = w->geometry();
        w->setProperty(kTag, QString::fromStdString(controlLayoutTag(
                                 tag, {g.x() * kTwips, g.y() * kTwips, g.width() * kTwips, g.height() * kTwips})));
    }
}

void applyLayoutProperties(QWidget& window)
{
    const std::string windowTag = tagOf(window);
    if (windowTag.empty())
        return; // not recorded yet
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const std::string tag = tagOf(*w);
        if (tag.empty())
            continue;
        const QRect g = w->geometry();
        const auto next = applyLayout(tag, windowTag, window.width() * kTwips, window.height() * kTwips,
                                      {g.x() * kTwips, g.y() * kTwips, g.width() * kTwips, g.height() * kTwips});
        if (!next)
            continue;
        // A size the control cannot take (a window shrunk past the design margins) becomes 0.
        w->setGeometry(pixels(next->left), pixels(next->top), std::max(0, pixels(next->width)),
                       std::max(0, pixels(next->height)));
    }
}

} // namespace zs::dialogs
