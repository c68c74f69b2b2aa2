#pragma once
// Finding the dialogs' widgets by objectName in the window tests.

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

} // namespace zs::dialogs::test
