#pragma once
// Finding the dialogs' widgets by objectName in the window tests, and clicking them as the
// operator's mouse does.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <gtest/gtest.h>

namespace zs::dialogs::test {

/// The child widget of type T named `name`; a test failure (and null) when there is none.
template <class T> T* child(QWidget& w, const char* name)
{
    T* c = w.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

/// A left press and release at `at` inside `w`.
inline void mouseClick(QWidget& w, const QPointF& at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
}

} // namespace zs::dialogs::test
