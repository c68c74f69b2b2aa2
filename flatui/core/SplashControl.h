#pragma once
// The splash fade: the parent window seems to fade in over the desktop. Before the window
// shows, the control copies the desktop area it will cover, paints the copy on the window and
// blends the picture over it with a rising opacity. Where the platform cannot copy the desktop,
// the window's own opacity rises instead. Frames follow a fixed schedule from the host's clock.

#include "flatui/core/ControlBase.h"
#include "flatui/core/Hosting.h"

namespace zs::flatui {

class TAVOLEX_EXPORT SplashHost : public EffectHost {
  public:
    virtual double parentWidthTwips() = 0;
    virtual double parentHeightTwips() = 0;
    virtual double screenWidthTwips() = 0;
    virtual double screenHeightTwips() = 0;
    /// The desktop's pixels at (x, y), w x h; nullptr where the platform cannot copy them.
    virtual PictureRef copyDesktop(int x, int y, int w, int h) = 0;
    virtual void setParentVisible(bool visible) = 0;
    /// The parent shows SplashControl::parentSurface() again.
    virtual void refreshParent() = 0;
    /// Window opacity 0..1, used only when there is no desktop copy.
    virtual void setParentOpacity(double) {}
    /// The picture behind a device-context handle a host passes to go2/go.
    virtual PictureRef pictureForHandle(std::int32_t) { return nullptr; }
};

class TAVOLEX_EXPORT SplashControl : public ControlBase {
  public:
    SplashControl();
    const automation::DispatchTable& dispatchTable() const override;
    void setHost(SplashHost* host) { m_host = host; }

    /// Fades `picture` in over `timems` ms; a time of 0 or less shows it at once.
    void go2(const PictureRef& picture, std::int32_t timems = 1500);
    /// Fades in with a step measured on the first frames; no final frame at full opacity.
    void go(const PictureRef& picture);

    /// Where the desktop copy is taken from for a centred parent.
    static std::pair<int, int> desktopOffset(double parentW, double parentH, double screenW, double screenH);

    const DisplayList& parentSurface() const { return m_parent; }
    /// The whole alpha of every frame drawn by the last call, in order.
    const std::vector<int>& frames() const { return m_frames; }
    /// Milliseconds from the start of the last call at which each frame was drawn.
    const std::vector<std::int64_t>& frameTimes() const { return m_frameTimes; }

    void initProperties() override {}
    void readProperties(const automation::PropertyBag&) override {}
    void writeProperties(automation::PropertyBag&) const override {}

  private:
    void prepare();
    void frame(double a, const PictureRef& picture);
    void plain();
    void finish();

    static constexpr int kErrNoHost = 91;
    SplashHost* m_host = nullptr;
    DisplayList m_parent;
    PictureRef m_holder;
    int m_w = 0, m_h = 0;
    std::int64_t m_callStart = 0;
    std::vector<int> m_frames;
    std::vector<std::int64_t> m_frameTimes;
};

} // namespace zs::flatui
