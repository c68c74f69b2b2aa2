#include "shell/qt/frmMenu.h"

#include "flatui/widgets/FlatWidgets.h"

#include <QLabel>

#include <cstdint>
#include <memory>

namespace zs::shell {
namespace {

flatui::PictureRef solid(int w, int h, std::uint32_t argb, std::uint32_t edge)
{
    auto p = std::make_shared<flatui::Picture>(w, h, argb);
    for (int x = 0; x < w; ++x) {
        p->set(x, 0, edge);
        p->set(x, h - 1, edge);
    }
    for (int y = 0; y < h; ++y) {
        p->set(0, y, edge);
        p->set(w - 1, y, edge);
    }
    return p;
}

/// The entries' icons (three states each) and the button faces (normal, selected, disabled).
void setPictures(flatui::MenuButtonControl& m)
{
    auto icons = std::make_shared<flatui::ImageList>();
    const std::uint32_t hues[] = {0xFFE0A030u, 0xFF40A0E0u, 0xFF60C060u, 0xFFC060C0u, 0xFFE06050u};
    for (const std::uint32_t hue : hues)
        for (int state = 0; state < 3; ++state)
            icons->images.push_back(solid(22, 22, hue, 0xFFFFFFFFu));
    auto faces = std::make_shared<flatui::ImageList>();
    faces->images.push_back(solid(154, 27, 0xFF30508Cu, 0xFF8090C0u));
    faces->images.push_back(solid(154, 27, 0xFF3C64B4u, 0xFFC0D0F0u));
    faces->images.push_back(solid(154, 27, 0xFF606060u, 0xFF909090u));
    m.ImageList = icons;
    m.ImageListMenu = faces;
    m.setImageWidth(154);
    m.setImageHeight(27);
    m.SubMenuPictureWidth = 27;
    m.startImage = 1;
    m.startImageMenu = 1;
}

void setLook(flatui::MenuButtonControl& m)
{
    m.caption = "Menu";
    auto font = std::make_shared<flatui::FontSpec>("Arial", 9, true);
    font->italic = true;
    m.setFont(font);
    m.setBackColor(0x503020);
    m.setColor("BackColorMenu", 0x402818);
    m.setColor("BackColorSel", 0xB47840);
    m.setColor("ForeColorMenu", 0xFFFFFF);
    m.setColor("ForeColorSel", 0xFFFFFF);
    m.CaptionLeft = 520;
    m.CaptionTop = 120;
    m.style = flatui::styleEnum::styleMenu;
    m.setSubMenuWidth(2700);
}

void setEntries(flatui::MenuButtonControl& m)
{
    const char* labels[] = {"Estrazione e elaborazione dei dati", "Opzioni principali", "Opzioni secondarie",
                            "Opzioni preparazione dei cubi ", "Configurazione guidata "};
    const int iconOf[] = {1, 2, 4, 3, 5};
    m.setMenuItemsCount(5);
    for (int i = 1; i <= 5; ++i) {
        m.setMenuLabels(i, labels[i - 1]);
        m.setMenuIcons(i, iconOf[i - 1]);
    }
}

} // namespace

frmMenu::frmMenu(std::function<void(int entry)> onEntry, QWidget* parent)
    : QWidget(parent)
    , m_onEntry(std::move(onEntry))
{
    setObjectName("frmMenu");
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x30, 0x50));
    setPalette(pal);
    m_menuButton = new flatui::MenuButtonWidget(this);
    m_menuButton->setObjectName("mbtmenu");
    m_menuButton->move(10, 10);
    auto& m = m_menuButton->model();
    setPictures(m);
    setLook(m);
    m.EventEnabled = true;
    setEntries(m);
    m.setStateButton(flatui::stateEnum::statoSelezionato);
    m.Intialize();
    m_menuButton->resize(164, 30);
    m.events().connect([this](automation::DispId id, std::span<automation::Variant> args) {
        if (id == flatui::MenuButtonControl::Click && !args.empty() && m_onEntry)
            m_onEntry(static_cast<int>(args[0].toDouble()));
    });
    auto* pic = new QLabel(this);
    pic->setObjectName("picInstantMessage1");
    pic->hide();
}

} // namespace zs::shell
