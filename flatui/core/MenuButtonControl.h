#pragma once
// The menu button: a face that drops a drawn list of items (label, icon, numeric tag) below
// itself with a short fade over a copy of what lay behind. styleCombo shows the chosen item's
// icon and closes on a choice; styleMenu (the category menu) stays open and reports the
// highlighted item.

#include "flatui/core/ControlBase.h"
#include "flatui/core/Hosting.h"
#include "flatui/core/Tavolex.h"

#include <optional>

namespace zs::flatui {

/// The window the drop-down opens over.
class TAVOLEX_EXPORT MenuContainer : public EffectHost {
  public:
    /// Width of the container window's rectangle in pixels.
    virtual int containerWidthPx() = 0;
    /// A copy of the container's pixels at (x, y), w x h; nullptr when nothing can be copied.
    virtual PictureRef copyBackground(int x, int y, int w, int h) = 0;
    /// The drop-down moved (twips in the container) or was shown or hidden.
    virtual void placeMenu(double leftTw, double topTw, double widthTw, double heightTw) = 0;
    virtual void setMenuVisible(bool visible) = 0;
    /// Names of the image lists on the parent window, in collection order.
    virtual std::vector<std::string> imageListNames() { return {}; }
    /// The named image list; nullptr when the parent has no such control.
    virtual ImageListRef imageListByName(std::string_view) { return nullptr; }
};

class TAVOLEX_EXPORT MenuButtonControl : public ControlBase {
  public:
    enum Event {
        KeyDown = 1,
        KeyPress,
        KeyUp,
        MouseDown,
        MouseMove,
        MouseUp,
        DblClick,
        Click,
        ExpandMenu,
        CollapseMenu
    };
    static constexpr double kDesignMenuWidth = 2400;

    MenuButtonControl();
    const automation::DispatchTable& dispatchTable() const override;
    /// The container; not owned. Without one, the drop-down draws but copies no background.
    void setContainer(MenuContainer* c) { m_container = c; }
    /// The control's position in its container, as the container reports it (pixels).
    void setPosition(double left, double top) { m_left = left, m_top = top; }

    // Public variables.
    bool MenuonDrawing = false;
    bool EventEnabled = false;
    ImageListRef ImageList;
    ImageListRef ImageListMenu;

    // Properties: a let stores and reports the change under the member's name.
    Color BackColor() const { return m_backColor; }
    void setBackColor(Color c) { let(m_backColor, c, "BackColor"); }
    const FontRef& Font(); ///< the drop-down's font, which the face then takes too
    void setFont(FontRef f);
    void setColor(std::string_view member, Color c); ///< the seven colours by member name
    Color color(std::string_view member) const;
    std::int32_t ImageWidth() const { return m_imageWidth; }
    void setImageWidth(std::int32_t w);
    std::int32_t ImageHeight() const { return m_imageHeight; }
    void setImageHeight(std::int32_t h);
    std::int32_t startImage = 1;
    std::int32_t startImageMenu = 1;
    std::int32_t menuItemsCount() const { return m_count; }
    void setMenuItemsCount(std::int32_t n);
    /// Item accessors: error 9 outside 1 to the count or before the arrays exist.
    std::string MenuLabels(std::int32_t i) const { return item(m_labels, i); }
    void setMenuLabels(std::int32_t i, std::string s) { let(item(m_labels, i), std::move(s), "MenuLabels"); }
    std::int32_t MenuIcons(std::int32_t i) const { return item(m_icons, i); }
    void setMenuIcons(std::int32_t i, std::int32_t v) { let(item(m_icons, i), v, "MenuIcons"); }
    /// "" above the count; the let converts the text to a number (error 13 when it is none).
    std::string MenuTag(std::int32_t i) const;
    void setMenuTag(std::int32_t i, const automation::Variant& v);
    std::string caption, caption2;
    styleEnum style = styleEnum::styleCombo;
    std::int32_t CaptionLeft = 0, CaptionTop = 0, Caption2Left = 0, Caption2Top = 0;
    stateEnum stateButton() const { return m_stateButton; }
    void setStateButton(stateEnum s) { letShown(m_stateButton, s, "StateButton"); }
    std::int32_t SubMenuPictureWidth = 0;
    std::int32_t SubMenuWidth() const { return static_cast<std::int32_t>(roundEven(m_menuWidth)); }
    void setSubMenuWidth(double w) { m_menuWidth = w; }
    bool MenuExpanded() const { return m_expanded; }
    bool BorderMenu = false;
    std::int32_t MenuSelected() const { return m_menuSelected; }
    void setMenuSelected(std::int32_t i); ///< no report; draws the face for that item

    // Methods.
    void Intialize();
    /// Opens with the fade; nothing when open or opening. An error inside closes the drop-down
    /// again and clears MenuonDrawing before it reaches the caller, so the menu can reopen.
    void TurnOn();
    void TurnOff();
    void SpezzaStringa(std::string_view s, int nrighe, double x, double y, double picWidth, double picHeight);
    void Refresh();
    std::string getImageLists() const;
    void setImageListbyName(std::string_view s, std::string_view collezione);

    // Drawing and hit testing (twips on the drop-down).
    void DrawMenu(std::int32_t item, std::int32_t blend);
    void DrawButton(std::int32_t item, bool expanded);
    std::int32_t itemAt(double y) const;
    static int fadeAlpha(std::int64_t elapsedMs);

    // Container notifications.
    void faceMouseDown(int button, int shift, double x, double y);
    void faceMouseMove(int button, int shift, double x, double y);
    void menuMouseMove(double y);
    void menuMouseDown(int button, double y);

    const DisplayList& menuSurface() const { return m_menu; }
    bool menuVisible() const { return m_menuVisible; }
    double menuLeft() const { return m_menuLeftTw; }
    double menuTop() const { return m_menuTopTw; }
    double menuHeight() const { return m_menuHeight; }
    bool alignLeft() const { return m_alignLeft; }
    std::int32_t hotItem() const { return m_hotItem; }
    std::int32_t faceItem() const { return m_faceItem; }
    std::int32_t lastBlend() const { return m_lastBlend; }
    void setMenuInvalidate(std::function<void()> fn) { m_menuInvalidate = std::move(fn); }
    /// Reports a change of a plain stored property to the container.
    void report(std::string_view member) { notify(member); }

    void initProperties() override;
    void readProperties(const automation::PropertyBag& bag) override;
    void writeProperties(automation::PropertyBag& bag) const override;

  private:
    /// The face's arrow and borders follow the control's size.
    void redraw() override { Refresh(); }
    void openSequence();
    void setMenuVisible(bool v);
    void pump();
    void menuText(std::string_view s, double x, double y);
    void checkIndex(std::int32_t i) const;
    /// Entry `i` (from 1) of an item array, after checkIndex.
    template <class Items> auto item(Items& items, std::int32_t i) const -> decltype(items[0])
    {
        checkIndex(i);
        return items[static_cast<std::size_t>(i - 1)];
    }
    Color* colorSlot(std::string_view member);

    MenuContainer* m_container = nullptr;
    PlainEffectHost m_plainHost;
    double m_left = 0, m_top = 0;
    Color m_backColor = 0x8000000Fu;
    Color m_backColorMenu = 0x8000000Fu, m_backColorSel = 0x8000000Fu;
    Color m_foreColorMenu = 0, m_foreColorSel = 0, m_foreColorDisabled = 0, m_foreColorMenu2 = 0, m_foreColorSel2 = 0;
    FontRef m_menuFont;
    std::int32_t m_imageWidth = 32, m_imageHeight = 32;
    std::int32_t m_count = 0;
    bool m_arrays = false;
    std::vector<std::string> m_labels;
    std::vector<std::int32_t> m_tags, m_icons;
    stateEnum m_stateButton = stateEnum::statoNormale;
    double m_menuWidth = kDesignMenuWidth;
    double m_menuHeight = 0;
    double m_menuLeftTw = 0, m_menuTopTw = 0;
    bool m_expanded = false;
    bool m_menuVisible = false;
    bool m_alignLeft = true;
    std::int32_t m_menuSelected = 0;
    std::int32_t m_faceItem = 0, m_hotItem = 0, m_lastBlend = 0;
    PictureRef m_background;
    DisplayList m_menu;
    Color m_menuForeColor = 0;
    std::function<void()> m_menuInvalidate;
};

} // namespace zs::flatui
