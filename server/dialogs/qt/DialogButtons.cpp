#include "dialogs/qt/DialogButtons.h"

#include "flatui/widgets/FlatWidgets.h"

#include <cstdint>
#include <memory>

namespace zs::dialogs {

namespace {

/// A blue face shaded from top to bottom with a darker edge.
flatui::PictureRef buttonFace(int w, int h)
{
    constexpr std::uint32_t kBase = 0x3C64B4;
    auto p = std::make_shared<flatui::Picture>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const auto shade = static_cast<std::uint32_t>(edge ? 30 : 60 + y * 120 / h);
            p->set(x, y,
                   0xFF000000u | ((kBase >> 16 & 0xFF) * shade / 180) << 16 | ((kBase >> 8 & 0xFF) * shade / 180) << 8 |
                       ((kBase & 0xFF) * shade / 180));
        }
    return p;
}

} // namespace

flatui::FlatButtonWidget* makeFlatButton(QWidget* parent, const char* name, const char* caption, int width, int height)
{
    auto* b = new flatui::FlatButtonWidget(parent);
    b->setObjectName(name);
    b->resize(width, height);
    auto& m = b->model();
    m.setBackColor(0xFFF3EA);
    m.setPicture(buttonFace(width, height));
    m.setText(caption);
    m.setEnabled(true);
    return b;
}

} // namespace zs::dialogs
