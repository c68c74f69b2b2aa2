#include "engine/CubeProgress.h"

namespace zs::engine {

void CubeProgress::MostraAvanzamento(double windowWidthTwips, double windowHeightTwips, const std::string& text,
                                     int icon)
{
    m_host.setMousePointer(kHourglass);
    m_left = (windowWidthTwips - kWidth) / 2;
    m_top = (windowHeightTwips - kHeight) / 2;
    m_drawing = CubeProgressDrawing{};
    m_drawing.frameRight = kWidth - 15;
    m_drawing.frameBottom = kHeight - 15;
    m_drawing.icon = icon > 0 ? icon : 0;
    m_drawing.text = text;
    m_drawing.textY = (kHeight - m_host.textHeightTwips(text)) / 2;
    ++m_drawCount;
    m_visible = true;
    m_host.yield();
}

void CubeProgress::NascondiAvanzamento()
{
    m_visible = false;
    m_host.setMousePointer(0);
    m_host.yield();
}

} // namespace zs::engine
