#include "flatui/core/FlatTabControl.h"

#include "automation/AutomationError.h"
#include "flatui/core/TextWrap.h"

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;
namespace err = automation::err;

namespace {
constexpr std::int32_t kOpaque = 0xFF0000;
constexpr std::int32_t kHalf = 0x800000;
constexpr int kHandPointer = 99;
} // namespace

FlatTabControl::FlatTabControl()
    : m_picTab(builtinTabPicture())
    , m_picBordo(builtinBorderPicture())
{}

PictureRef FlatTabControl::builtinTabPicture()
{
    // A 156 x 36 tab: a rounded top in a blue gradient, transparent outside the shape.
    static const PictureRef pic = [] {
        auto p = std::make_shared<flatui::Picture>(156, 36, 0x00000000u);
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 156; ++x) {
                const int inset = y < 6 ? 6 - y : 0;
                if (x < inset + 2 || x > 153 - inset)
                    continue;
                const int shade = 200 - y * 3;
                const bool edge = y == 0 || x == inset + 2 || x == 153 - inset;
                p->set(x, y,
                       edge ? 0xFF203C78u
                            : 0xFF000000u | (static_cast<std::uint32_t>(shade / 3) << 16) |
                                  (static_cast<std::uint32_t>(shade / 2) << 8) | 0xE0u);
            }
        return p;
    }();
    return pic;
}

PictureRef FlatTabControl::builtinBorderPicture()
{
    static const PictureRef pic = [] {
        auto p = std::make_shared<flatui::Picture>(9, 4, 0xFF3050A0u);
        for (int x = 0; x < 9; ++x)
            p->set(x, 0, 0xFF6080D0u);
        return p;
    }();
    return pic;
}

// ---- properties ---------------------------------------------------------------------------

void FlatTabControl::setTabs(std::int32_t n)
{
    if (n > 32767)
        throw AutomationError(err::kOverflow);
    m_tabs = n;
    m_tabList.resize(static_cast<std::size_t>(std::max(n, 1)));
    if (n >= 1) {
        for (auto& t : m_tabList)
            t.Selected = false;
        m_tabList[0].Selected = true;
    }
}

TabEntry& FlatTabControl::entry(std::int32_t id)
{
    if (id < 1 || static_cast<std::size_t>(id) > m_tabList.size())
        throw AutomationError(err::kSubscriptOutOfRange);
    return m_tabList[static_cast<std::size_t>(id - 1)];
}

const TabEntry& FlatTabControl::entry(std::int32_t id) const
{
    return const_cast<FlatTabControl*>(this)->entry(id);
}

std::string FlatTabControl::TabCaption() const
{
    return m_tabId < 1 ? std::string() : entry(m_tabId).Caption;
}

void FlatTabControl::setTabCaption(std::string caption)
{
    if (m_tabId >= 1)
        entry(m_tabId).Caption = std::move(caption);
}

bool FlatTabControl::Tabselected() const
{
    return m_tabId >= 1 && entry(m_tabId).Selected;
}

void FlatTabControl::setTabselected(bool on)
{
    if (m_tabId < 1)
        return;
    if (on) {
        for (std::int32_t k = 1; k <= m_tabs && static_cast<std::size_t>(k) <= m_tabList.size(); ++k)
            m_tabList[static_cast<std::size_t>(k - 1)].Selected = false;
        entry(m_tabId).Selected = true;
        return;
    }
    TabEntry& e = entry(m_tabId);
    if (e.Selected) {
        e.Selected = false;
        m_tabList[0].Selected = true;
    }
}

void FlatTabControl::AddControl(std::string_view name)
{
    if (m_tabId >= 1 && m_tabId <= m_tabs)
        entry(m_tabId).ControlList += "." + std::string(name);
}

void FlatTabControl::RemoveControls()
{
    if (m_tabId >= 1 && m_tabId <= m_tabs)
        entry(m_tabId).ControlList.clear();
}

std::int32_t FlatTabControl::IndexSelectedTab() const
{
    for (std::int32_t k = 1; k <= m_tabs && static_cast<std::size_t>(k) <= m_tabList.size(); ++k)
        if (m_tabList[static_cast<std::size_t>(k - 1)].Selected)
            return k;
    return 0;
}

// ---- geometry and drawing -----------------------------------------------------------------

double FlatTabControl::tabHitLeft(std::int32_t k) const
{
    const double slot = m_tabs - k + 1;
    return widthTwips() - 0.85 * tabW() * slot;
}

double FlatTabControl::tabPictureLeft(std::int32_t k) const
{
    const double slot = m_tabs - k + 1;
    return widthTwips() - 0.15 * tabW() - 0.85 * tabW() * slot;
}

bool FlatTabControl::drawTab(std::int32_t k, std::int32_t blend, double mx, double my)
{
    const TabEntry& e = m_tabList[static_cast<std::size_t>(k - 1)];
    const double W = tabW();
    const double Ht = tabH();
    m_textColor = m_foreColor;
    const double L = tabHitLeft(k);
    const bool over = L < mx && mx < L + 0.85 * W && 0 < my && my < Ht;
    if (over)
        m_textColor = m_foreColorSelected;
    const double P = tabPictureLeft(k);
    DisplayList& c = canvas();
    if (m_picTab) {
        if (blend >= kOpaque) {
            c.transparentBlt(m_picTab, pxRound(P), 0, resolveColor(m_backColor));
        } else {
            const int a = blend / 65536;
            c.alphaBlend(m_picTab, pxRound(P), 0, m_picTab->width, m_picTab->height, m_picTab->width, m_picTab->height,
                         a);
            // The caption fades toward the background as the picture does; a system colour is
            // resolved first so the fade goes toward what is shown.
            m_textColor = BlendColors(resolveColor(m_textColor), resolveColor(m_backColor), a / 255.0);
        }
    }
    SpezzaStringa(e.Caption, 2, roundEven(P + 750), 0, roundEven(0.85 * W - 750), roundEven(Ht));
    return over;
}

void FlatTabControl::SpezzaStringa(std::string_view s, int nrighe, double x, double y, double picWidth,
                                   double picHeight)
{
    const TwipsMeasure m{textMetrics(), *m_font};
    for (auto& line : flatui::SpezzaStringa(s, nrighe, x, y, picWidth, picHeight, m, WrapOverflow::ExtraEmptyLine))
        canvas().text(px(line.x), px(line.y), std::move(line.text), m_textColor, m_font);
}

void FlatTabControl::Refresh2(std::int32_t button, std::int32_t x, std::int32_t y)
{
    if (m_tabs > 32767)
        throw AutomationError(err::kOverflow);
    DisplayList& c = canvas();
    c.clear(m_backColor);
    m_mousePointer = 0;
    const double CW = widthTwips();
    const double CH = heightTwips();
    const double Ht = tabH();
    const std::int32_t n = std::min<std::int32_t>(m_tabs, static_cast<std::int32_t>(m_tabList.size()));

    std::int32_t selected = 0;
    std::int32_t hovered = 0;
    for (std::int32_t k = n; k >= 1; --k) {
        if (m_tabList[static_cast<std::size_t>(k - 1)].Selected)
            selected = k;
        else if (drawTab(k, kHalf, x, y))
            hovered = k;
    }
    if (m_picBordo) {
        const double Hb = m_picBordo->height * kTwipsPerPixel;
        c.alphaBlend(m_picBordo, 0, pxRound(Ht - Hb), pxRound(CW), m_picBordo->height, m_picBordo->width,
                     m_picBordo->height, 255);
    }
    if (selected && drawTab(selected, kOpaque, x, y))
        hovered = selected;
    m_mousePointer = hovered ? kHandPointer : 0;
    c.fillBox(0, pxRound(Ht + 15), pxRound(CW), pxRound(CH), m_backColorTab);
    c.line(0, pxRound(Ht), 0, pxRound(CH), m_borderColorTab, 4);
    c.line(pxRound(CW), pxRound(Ht), pxRound(CW), pxRound(CH), m_borderColorTab, 4);
    c.line(0, pxRound(CH), pxRound(CW), pxRound(CH), m_borderColorTab, 4);

    if (hovered && button == 1) {
        chooseTab(hovered);
        return; // the nested Refresh already put the drawing on screen
    }
    finishDrawing();
}

void FlatTabControl::chooseTab(std::int32_t k)
{
    m_tabId = k;
    setTabselected(true);
    Refresh();
    showTabControls(k);
}

void FlatTabControl::showTabControls(std::int32_t k)
{
    if (k < 0 || k > m_tabs)
        return;
    const std::string list = m_tabId >= 1 ? entry(m_tabId).ControlList : std::string();
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = list.find('.', start);
        const std::string name = list.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!name.empty() && m_showControl) {
            try {
                m_showControl(name);
            } catch (...) {
                // A name the form does not have, or any other failure of one control, is skipped.
            }
        }
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    Variant args[] = {Variant(static_cast<std::int16_t>(k)), Variant(std::int16_t{0}), Variant(std::int16_t{0}),
                      Variant(0.0), Variant(0.0)};
    raise(kShowTab, args);
}

// ---- events -------------------------------------------------------------------------------

void FlatTabControl::click()
{
    if (!m_enabled)
        return;
    raise(ev::Click);
    Refresh();
}

void FlatTabControl::dblClick()
{
    if (m_enabled)
        raise(ev::DblClick);
}

void FlatTabControl::mouseDown(int button, int shift, double x, double y)
{
    if (!m_enabled)
        return;
    raiseMouse(ev::MouseDown, button, shift, x, y);
    Refresh2(button, static_cast<std::int32_t>(roundEven(x)), static_cast<std::int32_t>(roundEven(y)));
}

void FlatTabControl::mouseMove(int button, int shift, double x, double y)
{
    if (!m_enabled)
        return;
    Refresh2(0, static_cast<std::int32_t>(roundEven(x)), static_cast<std::int32_t>(roundEven(y)));
    raiseMouse(ev::MouseMove, button, shift, x, y);
}

void FlatTabControl::mouseUp(int button, int shift, double x, double y)
{
    if (m_enabled)
        raiseMouse(ev::MouseUp, button, shift, x, y);
}

// ---- persistence --------------------------------------------------------------------------

void FlatTabControl::initProperties()
{
    m_enabled = true;
    m_font = ambientFont();
    m_backStyle = 0;
    m_backColorTab = m_borderColorTab = m_foreColorSelected = 0xFF0000u;
    m_foreColor = 0xFFFFFFu;
}

void FlatTabControl::readProperties(const automation::PropertyBag& bag)
{
    m_backColor = readColor(bag, "BackColor", 0x8000000Fu);
    m_enabled = bag.read("Enabled", Variant(true)).toBool();
    m_font = readFont(bag, "Font");
    m_backStyle = bag.read("BackStyle", Variant(std::int16_t{0})).toInt16();
    m_borderStyle = bag.read("BorderStyle", Variant(std::int16_t{0})).toInt16();
    if (auto p = readPicture(bag, "Picture"))
        m_picTab = p;
    Refresh();
    // Stored forms carry the tab picture under both names; the second entry is read into the
    // tab picture too, so the border strip keeps its built-in image.
    if (auto p = readPicture(bag, "PictureBorder"))
        m_picTab = p;
    m_backColorTab = readColor(bag, "BackColorTab", 0xFF0000u);
    m_borderColorTab = readColor(bag, "BorderColorTab", 0xFF0000u);
    m_foreColorSelected = readColor(bag, "ForeColorSelected", 0xFF0000u);
    m_foreColor = readColor(bag, "ForeColor", 0xFFFFFFu);
}

void FlatTabControl::writeProperties(automation::PropertyBag& bag) const
{
    writeColor(bag, "BackColor", m_backColor, 0x8000000Fu);
    bag.write("Enabled", Variant(m_enabled), Variant(true));
    writeFont(bag, "Font", m_font);
    bag.write("BackStyle", Variant(m_backStyle), Variant(std::int16_t{0}));
    bag.write("BorderStyle", Variant(m_borderStyle), Variant(std::int16_t{0}));
    const PictureRef stored = m_picTab == builtinTabPicture() ? nullptr : m_picTab;
    writePicture(bag, "Picture", stored);
    writePicture(bag, "PictureBorder", stored);
    writeColor(bag, "BackColorTab", m_backColorTab, 0xFF0000u);
    writeColor(bag, "BorderColorTab", m_borderColorTab, 0xFF0000u);
    writeColor(bag, "ForeColorSelected", m_foreColorSelected, 0xFF0000u);
    writeColor(bag, "ForeColor", m_foreColor, 0xFFFFFFu);
}

// ---- dispatch -----------------------------------------------------------------------------

const automation::DispatchTable& FlatTabControl::dispatchTable() const
{
    using T = FlatTabControl;
    using automation::colorVariant;
    using automation::optionalArg;
    using automation::requiredArg;
    static const automation::DispatchTable table =
        withStandardEvents(automation::DispatchTableBuilder<T>("FlatTabControl"))
            .property(
                0x6803000D, "BackColor", "BackColor", [](T& t) { return colorVariant(t.BackColor()); },
                [](T& t, const Variant& v) { t.setBackColor(v.toColor()); })
            .property(
                0x6803000C, "enabled", "Enabled", [](T& t) { return Variant(t.enabled()); },
                [](T& t, const Variant& v) { t.setEnabled(v.toBool()); })
            .property(
                automation::kDispIdFont, "Font", "Font", [](T& t) { return objectVariant(t.Font()); },
                [](T& t, const Variant& v) { t.setFont(fontFrom(v)); })
            .property(
                0x6803000B, "BackStyle", "BackStyle", [](T& t) { return Variant(t.BackStyle()); },
                [](T& t, const Variant& v) { t.setBackStyle(v.toInt16()); })
            .property(
                0x6803000A, "BorderStyle", "BorderStyle", [](T& t) { return Variant(t.BorderStyle()); },
                [](T& t, const Variant& v) { t.setBorderStyle(v.toInt16()); })
            .property(
                0x68030009, "Tabs", "", [](T& t) { return Variant(t.Tabs()); },
                [](T& t, const Variant& v) { t.setTabs(v.toInt32()); })
            .property(
                0x68030008, "TabId", "", [](T& t) { return Variant(t.TabId()); },
                [](T& t, const Variant& v) { t.setTabId(v.toInt32()); })
            .property(
                0x68030007, "TabCaption", "", [](T& t) { return Variant(t.TabCaption()); },
                [](T& t, const Variant& v) { t.setTabCaption(v.toString()); })
            .property(
                0x68030006, "Tabselected", "", [](T& t) { return Variant(t.Tabselected()); },
                [](T& t, const Variant& v) { t.setTabselected(v.toBool()); })
            .property(
                0x68030005, "Picture", "Picture", [](T& t) { return pictureVariant(t.Picture()); },
                [](T& t, const Variant& v) { t.setPicture(pictureFrom(v)); })
            .property(
                0x68030004, "PictureBorder", "PictureBorder", [](T& t) { return pictureVariant(t.PictureBorder()); },
                [](T& t, const Variant& v) { t.setPictureBorder(pictureFrom(v)); })
            .property(
                0x68030003, "BackColorTab", "BackColorTab", [](T& t) { return colorVariant(t.BackColorTab()); },
                [](T& t, const Variant& v) { t.setBackColorTab(v.toColor()); })
            .property(
                0x68030002, "BorderColorTab", "BorderColorTab", [](T& t) { return colorVariant(t.BorderColorTab()); },
                [](T& t, const Variant& v) { t.setBorderColorTab(v.toColor()); })
            .property(
                0x68030001, "ForeColorSelected", "ForeColorSelected",
                [](T& t) { return colorVariant(t.ForeColorSelected()); },
                [](T& t, const Variant& v) { t.setForeColorSelected(v.toColor()); })
            .property(
                0x68030000, "ForeColor", "ForeColor", [](T& t) { return colorVariant(t.ForeColor()); },
                [](T& t, const Variant& v) { t.setForeColor(v.toColor()); })
            .method(0x6003000E, "Refresh", noArgMethod<T, &T::Refresh>)
            .method(0x6003000F, "Refresh2",
                    [](T& t, std::span<Variant> a) {
                        t.Refresh2(optionalArg(a, 0, Variant(0)).toInt32(), optionalArg(a, 1, Variant(0)).toInt32(),
                                   optionalArg(a, 2, Variant(0)).toInt32());
                        return Variant();
                    })
            .method(0x6003001D, "SpezzaStringa",
                    [](T& t, std::span<Variant> a) {
                        t.SpezzaStringa(requiredArg(a, 0).toString(), requiredArg(a, 1).toInt16(),
                                        requiredArg(a, 2).toInt32(), requiredArg(a, 3).toInt32(),
                                        requiredArg(a, 4).toInt32(), requiredArg(a, 5).toInt32());
                        return Variant();
                    })
            .method(0x60030020, "AddControl",
                    [](T& t, std::span<Variant> a) {
                        t.AddControl(requiredArg(a, 0).toString());
                        return Variant();
                    })
            .method(0x60030021, "RemoveControls", noArgMethod<T, &T::RemoveControls>)
            .method(0x60030022, "IndexSelectedTab",
                    [](T& t, std::span<Variant>) { return Variant(t.IndexSelectedTab()); })
            .event(kShowTab, "ShowTab", 5)
            .build();
    return table;
}

} // namespace zs::flatui
