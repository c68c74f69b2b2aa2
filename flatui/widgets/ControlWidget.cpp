#include "flatui/widgets/ControlWidget.h"

namespace zs::flatui {

int qtButton(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
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

int vbKeyCode(const QKeyEvent& e)
{
    switch (e.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Delete:
        return 46;
    default:
        return e.key() < 128 ? e.key() : 0;
    }
}

int keyAscii(const QKeyEvent& e)
{
    const QString t = e.text();
    return t.isEmpty() ? 0 : t.at(0).unicode() < 256 ? t.at(0).unicode() : 0;
}

void drawFocusMark(QPainter& p, const QRect& r)
{
    const QRect mark = r.adjusted(2, 2, -3, -3);
    if (mark.width() < 2 || mark.height() < 2)
        return;
    p.save();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(mark);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawRect(mark);
    p.restore();
}

void applyPointer(QWidget& w, int pointer)
{
    if (pointer == 99)
        w.setCursor(Qt::PointingHandCursor);
    else
        w.unsetCursor();
}

} // namespace zs::flatui
