#pragma once
// The echo of the program's password boxes: one "*" for each character typed, as the windows
// were drawn, whatever mark the platform style would put there.

#include <QLineEdit>

namespace zs::dialogs {

inline void maskWithStars(QLineEdit& box)
{
    box.setEchoMode(QLineEdit::Password);
    box.setStyleSheet(box.styleSheet() + "QLineEdit { lineedit-password-character: 42; }");
}

} // namespace zs::dialogs
