#pragma once
// The proportional layout on the dialogs' Qt windows: every widget below the window that
// carries a letter code in its "zsTag" property is recorded at load and placed again on each
// resize by the program's one layout rule (OpzioniLayout). Nested controls keep coordinates
// relative to their own parent, and are rescaled by the window's size like the others. The
// windows tag their controls with tagged().

#include <QRect>
#include <QString>
#include <QVariant>
#include <QWidget>

class QMdiSubWindow;

namespace zs::dialogs {

/// The widget property that holds a control's layout code, and then its design geometry.
inline constexpr const char* kLayoutTagProperty = "zsTag";

/// Names a control, gives it its layout code and its design geometry (pixels, relative to its
/// parent); returns it, so a new control can be made, tagged and kept in one statement.
template <class W> W* tagged(W* w, const char* name, const char* code, QRect g)
{
    w->setObjectName(name);
    w->setProperty(kLayoutTagProperty, QString(code));
    w->setGeometry(g);
    return w;
}

/// Records the window's design size and every tagged widget's design geometry in the tags.
/// Run once, at the end of the window's load.
void saveLayoutProperties(QWidget& window);
/// Places every tagged widget for the window's current size; a widget whose tag is empty or
/// not well formed stays where it is.
void applyLayoutProperties(QWidget& window);

/// The main window's sub-window that holds `window` (directly, or inside the scroll area that
/// lets a window smaller than its minimum size be scrolled); nothing outside the main window.
QMdiSubWindow* subWindowOf(const QWidget& window);

} // namespace zs::dialogs
