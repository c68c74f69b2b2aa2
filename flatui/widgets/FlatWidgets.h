#pragma once
// Qt widgets of the flat controls. Each owns its model (model()) and forwards the container's
// notifications to it; hosts talk to the model or through its dispatch table.

#include "flatui/core/FlatButton.h"
#include "flatui/core/FlatGridControl.h"
#include "flatui/core/FlatTabControl.h"
#include "flatui/core/MenuButtonControl.h"
#include "flatui/core/SplashControl.h"
#include "flatui/core/ToolTipControl.h"

#include "flatui/widgets/ControlWidget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

class QScrollBar;

namespace zs::flatui {

// The button, grid and tab widgets define their destructors in the library, so their vtables
// and the input handlers they inherit are built there, beside the Qt helpers they call.

/// The button: positions in twips; a release inside it is a Click, and so is Space or Enter
/// while it has the focus. In the disabled look it takes no focus (Tab passes it by).
class TAVOLEX_EXPORT FlatButtonWidget : public InputControlWidget<FlatButton, InputKind::buttonLike> {
  public:
    explicit FlatButtonWidget(QWidget* parent = nullptr);
    ~FlatButtonWidget() override;

  protected:
    bool keyAction(const QKeyEvent& e) override;

  private:
    void followDisabledLook();
};

/// The grid: positions in pixels, with its vertical scroll bar; its Click comes from the model.
/// With the focus it shows a cell cursor: the arrow keys (Page Up, Page Down) move it, Space
/// does what a left click on its cell does.
class TAVOLEX_EXPORT FlatGridWidget : public InputControlWidget<FlatGridControl, InputKind::plain> {
  public:
    explicit FlatGridWidget(QWidget* parent = nullptr);
    ~FlatGridWidget() override;

  protected:
    bool keyAction(const QKeyEvent& e) override;
    void focusInEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    void syncScrollBar();
    QScrollBar* m_scroll;
    bool m_syncing = false;
};

/// The tab strip: positions in twips; a release inside it is a Click. With the focus, Left and
/// Right (Home, End) choose the neighbouring (first, last) tab as a click on it would: ShowTab,
/// then Click.
class TAVOLEX_EXPORT FlatTabWidget : public InputControlWidget<FlatTabControl, InputKind::buttonLike> {
  public:
    explicit FlatTabWidget(QWidget* parent = nullptr);
    ~FlatTabWidget() override;

  protected:
    bool keyAction(const QKeyEvent& e) override;
};

/// The timed effects' host on the Qt event loop: milliseconds since the widget was made, real
/// waits, and event passes.
template <class Host> class QtEffectHost : public Host {
  public:
    QtEffectHost() { m_clock.start(); }
    std::int64_t tickMs() override { return m_clock.elapsed(); }
    void sleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
    void pumpEvents() override { QCoreApplication::processEvents(); }

  private:
    QElapsedTimer m_clock;
};

class MenuDropDown;

/// The menu button's face; its drop-down opens over the face's top-level window.
class TAVOLEX_EXPORT MenuButtonWidget : public ControlWidget<MenuButtonControl>, private QtEffectHost<MenuContainer> {
  public:
    explicit MenuButtonWidget(QWidget* parent = nullptr);
    QWidget* dropDown() const;

  protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    int containerWidthPx() override;
    PictureRef copyBackground(int x, int y, int w, int h) override;
    void placeMenu(double leftTw, double topTw, double widthTw, double heightTw) override;
    void setMenuVisible(bool visible) override;
    void updatePosition();

    MenuDropDown* m_dropDown = nullptr;
};

/// The splash picture surface: fades in over a copy of the desktop under its window, or raises
/// the window's opacity where the desktop cannot be copied (Wayland).
class TAVOLEX_EXPORT SplashWidget : public ControlWidget<SplashControl>, private QtEffectHost<SplashHost> {
  public:
    explicit SplashWidget(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    double parentWidthTwips() override { return width() * kTwipsPerPixel; }
    double parentHeightTwips() override { return height() * kTwipsPerPixel; }
    double screenWidthTwips() override;
    double screenHeightTwips() override;
    PictureRef copyDesktop(int x, int y, int w, int h) override;
    void setParentVisible(bool visible) override;
    void refreshParent() override;
    void setParentOpacity(double o) override;
};

/// The hover tip window, shaped by its region, over its container.
class TAVOLEX_EXPORT ToolTipWidget : public ControlWidget<ToolTipControl>, private ToolTipHost {
  public:
    explicit ToolTipWidget(QWidget* container);
    /// The picture the tip shows faintly behind its text (what srcHdc names).
    void setSourcePicture(PictureRef p) { m_source = std::move(p); }

  private:
    PointF cursorPos() override;
    std::pair<int, int> containerSize() override;
    void moveControl(double x, double y) override { move(static_cast<int>(x), static_cast<int>(y)); }
    void resizeControl(double wTwips, double hTwips) override;
    void setShape(const TipShape& shape) override;
    void setWindowVisible(bool visible) override;
    void setCursorVisible(bool visible) override;
    void timerChanged(int intervalMs, bool enabled) override;
    void pumpEvents() override;
    PictureRef sourcePicture(std::int32_t) override { return m_source; }

    class QTimer* m_timer;
    PictureRef m_source;
    bool m_cursorHidden = false;
};

} // namespace zs::flatui
