#include "flatui/core/MenuButtonControl.h"

#include "automation/AutomationError.h"
#include "flatui/core/TextWrap.h"

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;
namespace err = automation::err;

namespace {
constexpr int kErrObjectNotSet = 91;
constexpr int kErrImageIndex = 35600;
constexpr int kErrControlNotFound = 730;
constexpr std::int32_t kFinalBlend = 2097152; // alpha 32: the menu almost opaque over the copy
constexpr Color kBlack = 0;
} // namespace

MenuButtonControl::MenuButtonControl()
    : m_menuFont(ambientFont())
{}

void MenuButtonControl::pump()
{
    if (m_container)
        m_container->pumpEvents();
}

void MenuButtonControl::setMenuVisible(bool v)
{
    m_menuVisible = v;
    if (m_container)
        m_container->setMenuVisible(v);
}

// ---- properties ---------------------------------------------------------------------------

const FontRef& MenuButtonControl::Font()
{
    m_font = m_menuFont;
    return m_menuFont;
}

void MenuButtonControl::setFont(FontRef f)
{
    m_menuFont = fontOrAmbient(std::move(f));
    m_font = m_menuFont;
    notify("Font");
}

Color* MenuButtonControl::colorSlot(std::string_view member)
{
    using M = MenuButtonControl;
    static constexpr std::pair<std::string_view, Color M::*> kSlots[] = {
        {"BackColorMenu", &M::m_backColorMenu},         {"BackColorSel", &M::m_backColorSel},
        {"ForeColorMenu", &M::m_foreColorMenu},         {"ForeColorSel", &M::m_foreColorSel},
        {"ForeColorDisabled", &M::m_foreColorDisabled}, {"ForeColorMenu2", &M::m_foreColorMenu2},
        {"ForeColorSel2", &M::m_foreColorSel2},
    };
    for (const auto& [name, slot] : kSlots)
        if (member == name)
            return &(this->*slot);
    return nullptr;
}

void MenuButtonControl::setColor(std::string_view member, Color c)
{
    if (Color* slot = colorSlot(member))
        let(*slot, c, member);
}

Color MenuButtonControl::color(std::string_view member) const
{
    const Color* slot = const_cast<MenuButtonControl*>(this)->colorSlot(member);
    return slot ? *slot : 0;
}

void MenuButtonControl::setImageWidth(std::int32_t w)
{
    m_imageWidth = w;
    resize((w + 10) * kTwipsPerPixel, heightTwips());
    notify("ImageWidth");
}

void MenuButtonControl::setImageHeight(std::int32_t h)
{
    m_imageHeight = h;
    resize(widthTwips(), (h + 3) * kTwipsPerPixel);
    notify("ImageHeight");
}

void MenuButtonControl::setMenuItemsCount(std::int32_t n)
{
    m_count = n;
    notify("menuItemsCount");
    const auto m = static_cast<std::size_t>(n >= 1 ? n : 1);
    m_labels.resize(m);
    m_tags.resize(m, 0);
    m_icons.resize(m, 0);
    m_arrays = true;
}

void MenuButtonControl::checkIndex(std::int32_t i) const
{
    if (!m_arrays || i < 1 || static_cast<std::size_t>(i) > m_labels.size())
        throw AutomationError(err::kSubscriptOutOfRange);
}

std::string MenuButtonControl::MenuTag(std::int32_t i) const
{
    if (m_arrays && i >= 1 && static_cast<std::size_t>(i) > m_tags.size())
        return {};
    return std::to_string(item(m_tags, i));
}

void MenuButtonControl::setMenuTag(std::int32_t i, const Variant& v)
{
    std::int32_t& tag = item(m_tags, i);
    const std::int32_t n = v.toInt32(); // a text that is no number fails here, keeping the old tag
    let(tag, n, "MenuTag");
}

void MenuButtonControl::setMenuSelected(std::int32_t i)
{
    m_menuSelected = i;
    DrawButton(i, false);
}

// ---- methods ------------------------------------------------------------------------------

void MenuButtonControl::Intialize()
{
    m_hotItem = 1;
    m_menuSelected = 1;
    DrawButton(1, false);
}

void MenuButtonControl::Refresh()
{
    DrawButton(m_faceItem, m_menuVisible);
}

std::string MenuButtonControl::getImageLists() const
{
    std::string out;
    if (!m_container)
        return out;
    for (const auto& n : m_container->imageListNames())
        out += (out.empty() ? "" : "|") + n;
    return out;
}

void MenuButtonControl::setImageListbyName(std::string_view s, std::string_view collezione)
{
    if (collezione != "main" && collezione != "menu")
        return;
    ImageListRef list = m_container ? m_container->imageListByName(s) : nullptr;
    if (!list)
        throw AutomationError(kErrControlNotFound, "Control '" + std::string(s) + "' not found");
    (collezione == "main" ? ImageList : ImageListMenu) = std::move(list);
}

int MenuButtonControl::fadeAlpha(std::int64_t elapsedMs)
{
    const double a = roundEven(255.0 - static_cast<double>(elapsedMs) * 223.0 / 300.0);
    return static_cast<int>(std::clamp(a, 0.0, 255.0));
}

std::int32_t MenuButtonControl::itemAt(double y) const
{
    const auto itemH = static_cast<std::int64_t>(roundEven(heightTwips() + 105));
    if (itemH <= 0)
        return 1;
    return static_cast<std::int32_t>(static_cast<std::int64_t>(roundEven(y)) / itemH + 1);
}

void MenuButtonControl::TurnOn()
{
    if (m_menuVisible || MenuonDrawing)
        return;
    try {
        openSequence();
    } catch (...) {
        // Never leave the drop-down half open: a later TurnOn must be able to try again.
        MenuonDrawing = false;
        m_expanded = false;
        setMenuVisible(false);
        throw;
    }
}

void MenuButtonControl::openSequence()
{
    MenuonDrawing = true;
    m_expanded = true;
    if (EventEnabled)
        raise(ExpandMenu);
    for (int i = 0; i < 3; ++i)
        pump();

    // A new back colour wipes the drop-down's old drawing.
    m_menu.clear(m_backColor);
    const double h = heightTwips();
    const double w = widthTwips();
    const double W = m_menuWidth;
    m_menuHeight = (h + 105) * m_count + 105;
    const double H = m_menuHeight;

    const int containerW = m_container ? m_container->containerWidthPx() : 0;
    m_alignLeft = !(m_left * kTwipsPerPixel + W > containerW * kTwipsPerPixel);

    const int copyW = static_cast<int>(pxRound(W));
    const int copyH = static_cast<int>(std::max(0.0, pxRound(H)));
    const double srcX = m_alignLeft ? m_left : m_left - (W / kTwipsPerPixel - w / kTwipsPerPixel);
    const double srcY = (m_top * kTwipsPerPixel + h) / kTwipsPerPixel;
    m_background = m_container ? m_container->copyBackground(static_cast<int>(roundEven(srcX)),
                                                             static_cast<int>(roundEven(srcY)), copyW, copyH)
                               : nullptr;
    if (!m_background) {
        const Color bg = resolveColor(m_backColorMenu);
        m_background = std::make_shared<Picture>(std::max(copyW, 1), std::max(copyH, 1),
                                                 0xFF000000u | static_cast<std::uint32_t>(GetRed(bg)) << 16 |
                                                     static_cast<std::uint32_t>(GetGreen(bg)) << 8 |
                                                     static_cast<std::uint32_t>(GetBlue(bg)));
    }

    m_menuLeftTw = m_alignLeft ? m_left * kTwipsPerPixel : m_left * kTwipsPerPixel - (W - w);
    m_menuTopTw = m_top * kTwipsPerPixel + h - 15;
    if (m_container)
        m_container->placeMenu(m_menuLeftTw, m_menuTopTw, W, H);

    DrawButton(m_faceItem, true);
    pump();
    m_hotItem = 1;
    setMenuVisible(true);

    EffectHost& clock = m_container ? static_cast<EffectHost&>(*m_container) : m_plainHost;
    const std::int64_t t0 = clock.tickMs();
    while (true) {
        const std::int64_t elapsed = clock.tickMs() - t0;
        DrawMenu(m_hotItem, blendValue(fadeAlpha(elapsed)));
        if (!m_menuVisible)
            break;
        pump();
        clock.sleepMs(10);
        if (clock.tickMs() - t0 >= 300)
            break;
    }
    if (m_menuVisible)
        DrawMenu(m_hotItem, kFinalBlend);
    MenuonDrawing = false;
}

void MenuButtonControl::TurnOff()
{
    setMenuVisible(false);
    m_expanded = false;
    DrawButton(m_hotItem, false);
    pump();
    raise(CollapseMenu);
    pump();
}

void MenuButtonControl::menuText(std::string_view s, double x, double y)
{
    m_menu.text(px(x), px(y), std::string(s), m_menuForeColor, m_menuFont);
}

void MenuButtonControl::SpezzaStringa(std::string_view s, int nrighe, double x, double y, double picWidth,
                                      double picHeight)
{
    const TwipsMeasure m{textMetrics(), *m_menuFont};
    for (const auto& line : flatui::SpezzaStringa(s, nrighe, x, y, picWidth, picHeight, m, WrapOverflow::AtMostLimit))
        menuText(line.text, line.x, line.y);
    if (m_menuInvalidate)
        m_menuInvalidate();
}

void MenuButtonControl::DrawMenu(std::int32_t item, std::int32_t blend)
{
    m_hotItem = item;
    m_expanded = true;
    if (blend == -1)
        blend = m_lastBlend;
    if (m_count == 0) {
        setMenuVisible(false);
        return;
    }
    const double h = heightTwips();
    const double w = widthTwips();
    const double W = m_menuWidth;
    const double H = m_menuHeight;
    m_menu.clear(m_backColor);

    if (style == styleEnum::styleCombo && BorderMenu) {
        const auto ln = [this](double x1, double y1, double x2, double y2) {
            m_menu.line(px(x1), px(y1), px(x2), px(y2), m_backColorSel, 1);
        };
        ln(0, 0, 0, H - 15);
        ln(0, H - 15, W - 15, H - 15);
        if (m_alignLeft) {
            ln(W - 15, H - 15, W - 15, 0);
            ln(W - 15, 0, w - 30, 0);
        } else {
            ln(W - 15, H - 15, W - 15, -15);
            ln(W - w, 0, 0, 0);
        }
    }
    m_menu.fillBox(1, 1, px(SubMenuPictureWidth * kTwipsPerPixel + 100), px(H - 30), m_backColorMenu);
    const double y1 = (h + 105) * (m_hotItem - 1) + 105;
    const double y2 = (h + 105) * (m_hotItem - 1) + h + 105;
    m_menu.fillBox(1, px(y1), px(W - 30), px(y2), m_backColorSel);
    m_menu.box(1, px(y1), px(W - 30), px(y2), kBlack, 1);
    m_menu.alphaBlend(m_background, 0, 0, pxRound(W), pxRound(H), pxRound(W), pxRound(H), alphaOf(blend));
    m_lastBlend = blend;

    if (m_count > 32767)
        throw AutomationError(err::kOverflow);
    for (std::int32_t v = 1; v <= m_count; ++v) {
        if (!ImageList)
            throw AutomationError(kErrObjectNotSet, "Object variable or With block variable not set");
        std::int32_t x = MenuIcons(v);
        if (ImageList->count() < 3 * x || x == 0)
            x = startImage;
        const PictureRef icon = ImageList->item(3 * x - 2);
        if (!icon)
            throw AutomationError(kErrImageIndex, "Index out of bounds");
        m_menu.image(icon, 5, (h + 105) / kTwipsPerPixel * (v - 1) + 9);
        m_menuForeColor = v == m_hotItem ? m_foreColorSel : m_foreColorMenu;
        const std::string label = MenuLabels(v);
        const double th = textMetrics().height(label, *m_menuFont) * kTwipsPerPixel;
        const TwipsMeasure m{textMetrics(), *m_menuFont};
        for (const auto& line :
             flatui::SpezzaStringa(label, 2, SubMenuPictureWidth * kTwipsPerPixel + 150,
                                   roundEven((h + 105) * (v - 1) + h / 2 + 205 - th / 2),
                                   roundEven(W - SubMenuPictureWidth * kTwipsPerPixel - 150),
                                   roundEven((h + 105) / kTwipsPerPixel), m, WrapOverflow::AtMostLimit))
            menuText(line.text, line.x, line.y);
    }
    if (m_menuInvalidate)
        m_menuInvalidate();
}

void MenuButtonControl::DrawButton(std::int32_t item, bool expanded)
{
    if (item > startImage * 3 + m_count)
        return;
    const double h = heightTwips();
    const double w = widthTwips();
    m_faceItem = item;
    DisplayList& c = canvas();
    // The expanded face takes the drop-down's colour just inside its top-left corner (30 twips
    // in), background blend included, so the two read as one surface.
    c.clear(expanded ? m_menu.colorAt(2, 0, m_backColor) : m_backColor);

    PictureRef pic;
    if (style == styleEnum::styleMenu) {
        if (ImageListMenu)
            pic = ImageListMenu->item(startImageMenu + static_cast<std::int32_t>(m_stateButton));
    } else if (ImageList && m_arrays && item >= 1 && static_cast<std::size_t>(item) <= m_icons.size()) {
        pic = ImageList->item(m_icons[static_cast<std::size_t>(item - 1)] * 3);
    }
    if (pic)
        c.image(pic, 2, 2);

    if (expanded && style == styleEnum::styleCombo && BorderMenu) {
        c.line(0, px(h - 15), 0, 0, m_backColorSel, 1);
        c.line(0, 0, px(w - 15), 0, m_backColorSel, 1);
        c.line(px(w - 15), 0, px(w - 15), px(h + 15), m_backColorSel, 1);
    }
    if (!caption.empty()) {
        const auto pick = [this](Color normal, Color selected, Color current) {
            switch (m_stateButton) {
            case stateEnum::statoNormale:
                return normal;
            case stateEnum::statoSelezionato:
                return selected;
            case stateEnum::statoDisabilitato:
                return m_foreColorDisabled;
            }
            return current;
        };
        const Color c1 = pick(m_foreColorMenu, m_foreColorSel, m_foreColorMenu);
        c.text(px(CaptionLeft), px(CaptionTop), caption, c1, m_font);
        const Color c2 = pick(m_foreColorMenu2, m_foreColorSel2, c1);
        c.text(px(Caption2Left), px(Caption2Top), caption2, c2, m_font);
    }
    if (style == styleEnum::styleCombo) {
        c.polygon({{pxRound(w - 105), pxRound(h - 90)},
                   {pxRound(w - 15), pxRound(h - 90)},
                   {pxRound(w - 60), pxRound(h - 15)}},
                  m_backColorSel, kBlack);
    }
    finishDrawing();
}

// ---- mouse --------------------------------------------------------------------------------

void MenuButtonControl::faceMouseDown(int, int, double, double)
{
    if (EventEnabled)
        TurnOn();
}

void MenuButtonControl::faceMouseMove(int button, int shift, double x, double y)
{
    if (!EventEnabled)
        return;
    Variant args[] = {Variant(m_faceItem), Variant(static_cast<std::int16_t>(button)),
                      Variant(static_cast<std::int16_t>(shift)), Variant(static_cast<double>(static_cast<float>(x))),
                      Variant(static_cast<double>(static_cast<float>(y)))};
    raise(MouseMove, args);
}

void MenuButtonControl::menuMouseMove(double y)
{
    const std::int32_t item = itemAt(y);
    if (item <= m_count && item != m_hotItem)
        DrawMenu(item, -1);
}

void MenuButtonControl::menuMouseDown(int, double y)
{
    if (style == styleEnum::styleCombo) {
        const std::int32_t item = itemAt(y);
        if (item > 32767)
            throw AutomationError(err::kOverflow);
        if (item > m_count)
            return;
        DrawButton(item, false);
        TurnOff();
    }
    if (EventEnabled) {
        m_menuSelected = m_hotItem;
        Variant args[] = {Variant(m_hotItem)};
        raise(Click, args);
    }
}

// ---- persistence --------------------------------------------------------------------------

void MenuButtonControl::initProperties()
{
    m_backColor = m_backColorMenu = m_backColorSel = 0x8000000Fu;
    m_foreColorMenu = m_foreColorSel = m_foreColorDisabled = m_foreColorMenu2 = m_foreColorSel2 = 0;
    m_imageWidth = m_imageHeight = 32;
    startImage = startImageMenu = 1;
    caption.clear();
    style = styleEnum::styleCombo;
    CaptionLeft = CaptionTop = Caption2Left = Caption2Top = 0;
    SubMenuPictureWidth = 0;
}

void MenuButtonControl::readProperties(const automation::PropertyBag& bag)
{
    m_backColor = readColor(bag, "BackColor", 0x8000000Fu);
    m_menuFont = readFont(bag, "Font");
    m_backColorMenu = readColor(bag, "BackColorMenu", 0x8000000Fu);
    m_backColorSel = readColor(bag, "BackColorSel", 0x8000000Fu);
    m_foreColorMenu = readColor(bag, "ForeColorMenu", 0);
    m_foreColorSel = readColor(bag, "ForeColorSel", 0);
    m_foreColorMenu2 = readColor(bag, "ForeColorMenu2", 0);
    m_foreColorSel2 = readColor(bag, "ForeColorSel2", 0);
    m_foreColorDisabled = readColor(bag, "ForeColorDisabled", 0);
    m_imageWidth = bag.read("ImageWidth", Variant(32)).toInt32();
    m_imageHeight = bag.read("ImageHeight", Variant(32)).toInt32();
    startImage = bag.read("startImage", Variant(1)).toInt32();
    startImageMenu = bag.read("startImageMenu", Variant(1)).toInt32();
    m_count = bag.read("MenuItemsCount", Variant(1)).toInt32();
    SubMenuPictureWidth = bag.read("SubMenuPictureWidth", Variant(0)).toInt32();
    m_menuWidth = bag.read("SubMenuWidth", Variant(2700.0)).toDouble();
    caption = bag.read("caption", Variant("")).toString();
    caption2 = bag.read("caption2", Variant("")).toString();
    style = static_cast<styleEnum>(bag.read("style", Variant(0)).toInt32());
    CaptionLeft = bag.read("CaptionLeft", Variant(0)).toInt32();
    CaptionTop = bag.read("CaptionTop", Variant(0)).toInt32();
    Caption2Left = bag.read("Caption2Left", Variant(0)).toInt32();
    Caption2Top = bag.read("Caption2Top", Variant(0)).toInt32();
    BorderMenu = bag.read("BorderMenu", Variant(true)).toBool();
    EventEnabled = true;
}

void MenuButtonControl::writeProperties(automation::PropertyBag& bag) const
{
    writeColor(bag, "BackColor", m_backColor, 0x8000000Fu);
    writeFont(bag, "Font", m_menuFont);
    writeColor(bag, "BackColorMenu", m_backColorMenu, 0x8000000Fu);
    writeColor(bag, "BackColorSel", m_backColorSel, 0x8000000Fu);
    writeColor(bag, "ForeColorMenu", m_foreColorMenu, 0);
    writeColor(bag, "ForeColorSel", m_foreColorSel, 0);
    writeColor(bag, "ForeColorMenu2", m_foreColorMenu2, 0);
    writeColor(bag, "ForeColorSel2", m_foreColorSel2, 0);
    writeColor(bag, "ForeColorDisabled", m_foreColorDisabled, 0);
    bag.write("ImageWidth", Variant(m_imageWidth), Variant(32));
    bag.write("ImageHeight", Variant(m_imageHeight), Variant(32));
    bag.write("startImage", Variant(startImage), Variant(1));
    bag.write("startImageMenu", Variant(startImageMenu), Variant(1));
    bag.write("MenuItemsCount", Variant(m_count), Variant(1));
    bag.write("SubMenuPictureWidth", Variant(SubMenuPictureWidth), Variant(0));
    // Saved as a single-precision number.
    bag.write("SubMenuWidth", Variant(static_cast<double>(static_cast<float>(m_menuWidth))), Variant(2700.0));
    bag.write("caption", Variant(caption), Variant(""));
    bag.write("caption2", Variant(caption2), Variant(""));
    bag.write("style", Variant(static_cast<std::int32_t>(style)), Variant(0));
    bag.write("CaptionLeft", Variant(CaptionLeft), Variant(0));
    bag.write("CaptionTop", Variant(CaptionTop), Variant(0));
    bag.write("Caption2Left", Variant(Caption2Left), Variant(0));
    bag.write("Caption2Top", Variant(Caption2Top), Variant(0));
    bag.write("BorderMenu", Variant(BorderMenu), Variant(true));
}

} // namespace zs::flatui
