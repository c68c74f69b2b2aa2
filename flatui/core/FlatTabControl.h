#pragma once
// The flat tab strip: picture tabs anchored at the right edge, unselected ones half
// transparent under the opaque selected one, captions wrapped on two lines, a page area with
// a border below. A left click selects a tab, shows the host controls listed for it and
// raises ShowTab; a key that chooses a tab does the same through chooseTab.

#include "flatui/core/ControlBase.h"
#include "flatui/core/Tavolex.h"

#include <functional>
#include <optional>

namespace zs::flatui {

struct TabEntry {
    std::string Caption;
    bool Selected = false;
    std::string ControlList; ///< ".name.name"
};

class TAVOLEX_EXPORT FlatTabControl : public ControlBase {
  public:
    static constexpr int kShowTab = 9;

    FlatTabControl();
    const automation::DispatchTable& dispatchTable() const override;

    Color BackColor() const { return m_backColor; }
    void setBackColor(Color c) { letShown(m_backColor, c, "BackColor"); }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool on) { let(m_enabled, on, "Enabled"); }
    const FontRef& Font() const { return m_font; }
    void setFont(FontRef f) { let(m_font, fontOrAmbient(std::move(f)), "Font"); }
    std::int16_t BackStyle() const { return m_backStyle; }
    void setBackStyle(std::int16_t s) { let(m_backStyle, s, "BackStyle"); }
    std::int16_t BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(std::int16_t s) { let(m_borderStyle, s, "BorderStyle"); }
    std::int32_t Tabs() const { return m_tabs; }
    void setTabs(std::int32_t n);
    std::int32_t TabId() const { return m_tabId; }
    void setTabId(std::int32_t id) { m_tabId = id; }
    std::string TabCaption() const;          ///< error 9 beyond the list
    void setTabCaption(std::string caption); ///< error 9 beyond the list
    bool Tabselected() const;                ///< error 9 beyond the list
    void setTabselected(bool on);            ///< error 9 beyond the list
    const PictureRef& Picture() const { return m_picTab; }
    void setPicture(PictureRef p) { let(m_picTab, std::move(p), "Picture"); }
    const PictureRef& PictureBorder() const { return m_picBordo; }
    void setPictureBorder(PictureRef p) { let(m_picBordo, std::move(p), "PictureBorder"); }
    Color BackColorTab() const { return m_backColorTab; }
    void setBackColorTab(Color c) { letShown(m_backColorTab, c, "BackColorTab"); }
    Color BorderColorTab() const { return m_borderColorTab; }
    void setBorderColorTab(Color c) { let(m_borderColorTab, c, "BorderColorTab"); }
    Color ForeColorSelected() const { return m_foreColorSelected; }
    void setForeColorSelected(Color c) { let(m_foreColorSelected, c, "ForeColorSelected"); }
    Color ForeColor() const { return m_foreColor; }
    void setForeColor(Color c) { let(m_foreColor, c, "ForeColor"); }

    void Refresh() { Refresh2(0, 0, 0); }
    /// Full redraw; (X, Y) the mouse in twips; Button 1 over a tab selects it.
    void Refresh2(std::int32_t button, std::int32_t x, std::int32_t y);
    /// Prints `s` wrapped on at most `nrighe` lines (tab-strip overflow policy).
    void SpezzaStringa(std::string_view s, int nrighe, double x, double y, double picWidth, double picHeight);
    void AddControl(std::string_view name);
    void RemoveControls();
    std::int32_t IndexSelectedTab() const;
    /// Chooses tab k (1 to Tabs) as a left click on it does: selects it, draws the strip, shows
    /// its listed controls and raises ShowTab. The keyboard's way to a tab goes through here.
    void chooseTab(std::int32_t k);

    /// The host form: makes its control of that name visible; may throw for unknown names.
    void setShowControl(std::function<void(std::string_view)> fn) { m_showControl = std::move(fn); }
    const std::vector<TabEntry>& tabList() const { return m_tabList; }
    /// Whether the hand cursor shows (the mouse is over a tab).
    bool handCursor() const { return m_mousePointer == 99; }

    /// Tab k's picture left edge and hit band [left, right] (both excluded), twips.
    double tabPictureLeft(std::int32_t k) const;
    double tabHitLeft(std::int32_t k) const;

    // Container notifications; positions in twips.
    void click();
    void dblClick();
    void keyDown(int keyCode, int shift) { raiseKey(ev::KeyDown, keyCode, shift); }
    void keyPress(int keyAscii) { raiseKey(ev::KeyPress, keyAscii, 0); }
    void keyUp(int keyCode, int shift) { raiseKey(ev::KeyUp, keyCode, shift); }
    void mouseDown(int button, int shift, double x, double y);
    void mouseMove(int button, int shift, double x, double y);
    void mouseUp(int button, int shift, double x, double y);

    void initProperties() override;
    void readProperties(const automation::PropertyBag& bag) override;
    void writeProperties(automation::PropertyBag& bag) const override;

    static PictureRef builtinTabPicture();
    static PictureRef builtinBorderPicture();

  private:
    void redraw() override { Refresh(); }
    TabEntry& entry(std::int32_t id); ///< error 9 beyond the list
    const TabEntry& entry(std::int32_t id) const;
    bool drawTab(std::int32_t k, std::int32_t blend, double mx, double my);
    void showTabControls(std::int32_t k);
    double tabW() const { return m_picTab ? m_picTab->width * kTwipsPerPixel : 0; }
    double tabH() const { return m_picTab ? m_picTab->height * kTwipsPerPixel : 0; }

    Color m_backColor = 0x8000000Fu;
    bool m_enabled = true;
    std::int16_t m_backStyle = 0;
    std::int16_t m_borderStyle = 0;
    std::int32_t m_tabs = 0;
    std::int32_t m_tabId = 0;
    std::vector<TabEntry> m_tabList;
    PictureRef m_picTab;
    PictureRef m_picBordo;
    Color m_backColorTab = 0xFF0000u;
    Color m_borderColorTab = 0xFF0000u;
    Color m_foreColorSelected = 0xFF0000u;
    Color m_foreColor = 0xFFFFFFu;
    Color m_textColor = 0xFFFFFFu;
    std::function<void(std::string_view)> m_showControl;
};

} // namespace zs::flatui
