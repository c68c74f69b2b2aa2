#pragma once
// The flat push button: its picture alpha-blended by state (normal dimmed, hover and pressed
// full, disabled faint) with the caption centred over it. It has no mouse-leave detection;
// hosts call Refresh() on buttons the mouse left.

#include "flatui/core/ControlBase.h"

namespace zs::flatui {

class TAVOLEX_EXPORT FlatButton : public ControlBase {
  public:
    enum State { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };

    FlatButton();
    const automation::DispatchTable& dispatchTable() const override;

    // Properties: each let stores and notifies the bag name; the shown ones repaint.
    Color BackColor() const { return m_backColor; }
    void setBackColor(Color c) { letShown(m_backColor, c, "BackColor"); }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool on); ///< state 0 or 3, paints, then notifies
    const FontRef& Font() const { return m_font; }
    void setFont(FontRef f) { letShown(m_font, fontOrAmbient(std::move(f)), "Font"); }
    std::int16_t BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(std::int16_t s) { let(m_borderStyle, s, "BorderStyle"); }
    const std::string& Text() const { return m_text; }
    void setText(std::string t) { letShown(m_text, std::move(t), "Text"); }
    const PictureRef& Picture() const { return m_picture; }
    void setPicture(PictureRef p) { letShown(m_picture, std::move(p), "Picture"); }
    std::int32_t imageindex() const { return m_imageindex; }
    /// Loads item `i` of myImageList into the hidden picture; no repaint. Fails (the list's
    /// error) when the list is missing or has no such item, keeping the picture.
    void setImageindex(std::int32_t i);
    Color ForeColorNormal() const { return m_foreColorNormal; }
    void setForeColorNormal(Color c) { letShown(m_foreColorNormal, c, "ForeColorNormal"); }
    Color ForeColor() const { return m_foreColor; }
    void setForeColor(Color c) { letShown(m_foreColor, c, "ForeColor"); }
    bool Fading() const { return m_fading; }
    void setFading(bool on) { let(m_fading, on, "Fading"); }
    ImageListRef myImageList;

    /// Takes the hover or pressed look off; nothing in states 0 and 3.
    void Refresh();
    int state() const { return m_state; }

    // Container notifications.
    void paint();
    void mouseDown(int button, int shift, double x, double y);
    void mouseMove(int button, int shift, double x, double y);
    void mouseUp(int button, int shift, double x, double y);
    void click();
    void dblClick();
    void keyDown(int keyCode, int shift);
    void keyPress(int keyAscii);
    void keyUp(int keyCode, int shift);

    void initProperties() override;
    void readProperties(const automation::PropertyBag& bag) override;
    void writeProperties(automation::PropertyBag& bag) const override;

  protected:
    /// A resized button is painted again: the container paints it, and the caption is centred
    /// on the new size.
    void redraw() override { paint(); }

  private:
    int m_state = Normal;
    Color m_backColor = 0x8000000Fu;
    bool m_enabled = false;
    std::int16_t m_borderStyle = 0;
    std::string m_text;
    PictureRef m_picture;
    std::int32_t m_imageindex = 0;
    Color m_foreColorNormal = 0xFFFFFFu;
    Color m_foreColor = 0xFFFFFFu;
    bool m_fading = false;
};

} // namespace zs::flatui
