#pragma once
// The hover tip: when the cursor has rested for one timer interval, a small shaped window (a
// rounded box, with a balloon pointer or without) shows a faint copy of the host's picture
// under it with the text on top; the first tick after the cursor moves hides it. With
// withAlarm set, the timer raises Alarm instead.

#include "flatui/core/ControlBase.h"
#include "flatui/core/Tavolex.h"

namespace zs::flatui {

struct TipLayout {
    std::vector<std::string> lines;
    double W = 3000; ///< twips
    double H = 1050; ///< twips
};

/// Lines and size of the tip: word wrap into a fixed 3000 x 1050 box, one line for a short
/// text, or the text's own CR LF lines. Overflow (6) beyond 16-bit counts.
TAVOLEX_EXPORT TipLayout layoutTip(std::string_view text, bool wordwrap, const TextMetrics& metrics,
                                   const FontSpec& font);

struct TipPlacement {
    int x = 0, y = 0;       ///< pixels in the container
    int srcX = 0, srcY = 0; ///< the source position, moved with the tip
    bool flippedLeft = false;
};

/// Flips the tip to the left of its anchor at the right edge and pushes it up at the bottom.
TAVOLEX_EXPORT TipPlacement placeTip(int tooltipLeft, int tooltipTop, double W, double H, int cw, int ch, int srcX,
                                     int srcY);

/// The window shape: a round rectangle from (0, 20) with 20 x 20 corners, plus the balloon's
/// pointer at the top-left (or top-right when flipped). Pixels.
struct TAVOLEX_EXPORT TipShape {
    double w = 0, h = 0;
    bool balloon = true;
    bool pointerRight = false;
    bool contains(double x, double y) const;
    std::vector<PointF> pointer() const;
};

class TAVOLEX_EXPORT ToolTipHost {
  public:
    virtual ~ToolTipHost() = default;
    virtual PointF cursorPos() = 0;
    /// The container window's size in pixels.
    virtual std::pair<int, int> containerSize() = 0;
    virtual void moveControl(double x, double y) = 0; ///< container units (pixels)
    virtual void resizeControl(double wTwips, double hTwips) = 0;
    virtual void setShape(const TipShape& shape) = 0;
    virtual void setWindowVisible(bool visible) = 0;
    virtual void setCursorVisible(bool visible) = 0;
    virtual void timerChanged(int intervalMs, bool enabled) = 0;
    virtual void pumpEvents() {}
    /// The picture behind srcHdc.
    virtual PictureRef sourcePicture(std::int32_t) { return nullptr; }
};

class TAVOLEX_EXPORT ToolTipControl : public ControlBase {
  public:
    static constexpr int kAlarm = 1;

    ToolTipControl();
    const automation::DispatchTable& dispatchTable() const override;
    void setHost(ToolTipHost* host) { m_host = host; }

    std::int32_t srcX() const { return m_srcX; }
    void setSrcX(std::int32_t v) { letAtRunTime(m_srcX, v, "srcX"); } ///< run time only, like the next three
    std::int32_t srcY() const { return m_srcY; }
    void setSrcY(std::int32_t v) { letAtRunTime(m_srcY, v, "srcY"); }
    const std::string& Text() const { return m_text; }
    void setText(std::string t) { letAtRunTime(m_text, std::move(t), "Text"); }
    std::int32_t srcHdc() const { return m_srcHdc; }
    void setSrcHdc(std::int32_t v) { letAtRunTime(m_srcHdc, v, "srcHdc"); }
    Color BackColor() const { return m_backColor; }
    void setBackColor(Color c) { let(m_backColor, c, "BackColor"); }
    std::int32_t Interval() const { return m_interval; }
    void setInterval(std::int32_t ms); ///< ignored while the tip is shown
    bool TimerEnabled() const { return m_timerEnabled; }
    void setTimerEnabled(bool on); ///< enabling records the cursor as the rest point
    typeApparance Appearance() const { return m_appearance; }
    void setAppearance(typeApparance a) { let(m_appearance, a, "Appearance"); }
    std::int32_t opacity() const { return m_opacity; }
    void setOpacity(std::int32_t a) { let(m_opacity, a, "opacity"); }
    std::int32_t tooltipLeft() const { return m_left; }
    void setTooltipLeft(std::int32_t v) { let(m_left, v, "tooltipLeft"); }
    std::int32_t tooltipTop() const { return m_topPos; }
    void setTooltipTop(std::int32_t v) { let(m_topPos, v, "tooltipTop"); }
    bool withAlarm() const { return m_withAlarm; }
    void setWithAlarm(bool on) { let(m_withAlarm, on, "withAlarm"); }
    bool wordwrap() const { return m_wordwrap; }
    void setWordwrap(bool on) { let(m_wordwrap, on, "wordwrap"); }

    void Hide();
    void show();
    /// Builds the tip (size, place, shape, content) without showing it. The cursor is hidden
    /// while the tip is drawn and always shown again, whatever the text.
    void go();
    /// The hover timer fired.
    void timerTick();

    bool isShown() const { return m_shown; }
    PointF restPoint() const { return m_rest; }
    const TipShape& shape() const { return m_shape; }

    void initProperties() override;
    void readProperties(const automation::PropertyBag& bag) override;
    void writeProperties(automation::PropertyBag& bag) const override;

  private:
    ToolTipHost* m_host = nullptr;
    std::int32_t m_srcX = 0, m_srcY = 0, m_srcHdc = 0;
    std::string m_text;
    Color m_backColor = 0x8000000Fu;
    std::int32_t m_interval = 0;
    bool m_timerEnabled = false;
    typeApparance m_appearance = typeApparance::baloon;
    std::int32_t m_opacity = 64;
    std::int32_t m_left = 0, m_topPos = 0;
    bool m_withAlarm = false;
    bool m_wordwrap = false;
    bool m_shown = false;
    PointF m_rest;
    TipShape m_shape;
};

} // namespace zs::flatui
