#pragma once
// The operator's mouse and keyboard in the window tests: clicks at a point and keys sent where
// the focus is, as the window system delivers them.

#include "WidgetLookup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <gtest/gtest.h>

#include <string>

namespace zs::dialogs::input {

using test::mouseClick;

inline void mouseClick(QWidget& w)
{
    mouseClick(w, QPointF(w.width() / 2.0, w.height() / 2.0));
}

/// Where the operator's keys go: the focus widget, else the active modal or active window.
inline QWidget* keyboardTarget()
{
    if (QWidget* w = QApplication::focusWidget())
        return w;
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    return QApplication::activeWindow();
}

/// The objectName of the widget that has the focus; "<none>" when none has.
inline std::string focusName()
{
    const QWidget* w = QApplication::focusWidget();
    return w ? w->objectName().toStdString() : "<none>";
}

/// One key pressed and released where the keyboard is; the application passes it on to the
/// parents while nobody takes it.
inline void pressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    QPointer<QWidget> target = keyboardTarget();
    ASSERT_TRUE(target) << "no window has the keyboard";
    QKeyEvent down(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &down);
    if (!target)
        return;
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &up);
}

/// Types `text` (printable ASCII) key by key.
inline void typeKeys(const QString& text)
{
    for (const QChar c : text)
        pressKey(c.toUpper().unicode(), c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier, QString(c));
}

/// Selects what the focused field holds and types `text` over it.
inline void retype(const QString& text)
{
    pressKey(Qt::Key_A, Qt::ControlModifier);
    typeKeys(text);
}

/// Presses Tab until the widget named `name` has the focus; false after `limit` presses.
inline bool tabTo(const char* name, int limit = 20)
{
    for (int i = 0; i < limit && focusName() != name; ++i)
        pressKey(Qt::Key_Tab);
    return focusName() == name;
}

} // namespace zs::dialogs::input
