#include "flatui/widgets/ControlWidget.h"

namespace zs::flatui {

int qtButton(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

int qtButtons(Qt::MouseButtons b)
{
    return (b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) | (b & Qt::MiddleButton ? 4 : 0);
}

int qtShift(Qt::KeyboardModifiers m)
{
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

void applyPointer(QWidget& w, int pointer)
{
    if (pointer == 99)
        w.setCursor(Qt::PointingHandCursor);
    else
        w.unsetCursor();
}

} // namespace zs::flatui
