#include "dialogs/qt/DialogLayout.h"

#include "dialogs/core/OpzioniLayout.h"

#include <QMdiSubWindow>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace zs::dialogs {

namespace {
constexpr double kTwips = 15.0; // twips per pixel

std::string tagOf(const QObject& o)
{
    return o.property(kLayoutTagProperty).toString().toStdString();
}

int pixels(double twips)
{
    return static_cast<int>(std::lround(twips / kTwips));
}

Geometry twips(const QRect& g)
{
    return {g.x() * kTwips, g.y() * kTwips, g.width() * kTwips, g.height() * kTwips};
}
} // namespace

void saveLayoutProperties(QWidget& window)
{
    window.setProperty(kLayoutTagProperty,
                       QString::fromStdString(windowLayoutTag(window.width() * kTwips, window.height() * kTwips)));
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const std::string tag = tagOf(*w);
        if (tag.empty())
            continue;
        w->setProperty(kLayoutTagProperty, QString::fromStdString(controlLayoutTag(tag, twips(w->geometry()))));
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
        const auto next =
            applyLayout(tag, windowTag, window.width() * kTwips, window.height() * kTwips, twips(w->geometry()));
        if (!next)
            continue;
        // A size the control cannot take (a window shrunk past the design margins) becomes 0.
        w->setGeometry(pixels(next->left), pixels(next->top), std::max(0, pixels(next->width)),
                       std::max(0, pixels(next->height)));
    }
}

QMdiSubWindow* subWindowOf(const QWidget& window)
{
    for (QWidget* p = window.parentWidget(); p; p = p->parentWidget()) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(p))
            return sub;
        if (p->isWindow())
            break;
    }
    return nullptr;
}

} // namespace zs::dialogs
