#pragma once
// Qt widgets of the flat controls. Each owns its model (model()) and forwards the container's
// notifications to it; hosts talk to the model or through its dispatch table.

#include "flatui/core/FlatButton.h"
#include "flatui/core/FlatGridControl.h"
#include "flatui/core/FlatTabControl.h"
#include "flatui/core/MenuButtonControl.h"

#include <QElapsedTimer>
#include "flatui/widgets/ControlWidget.h"

class QScrollBar;

namespace zs::flatui {

int vbKeyCode(const QKeyEvent& e);

class TAVOLEX_EXPORT FlatButtonWidget : public ControlWidget<FlatButton> {
public:
    explicit FlatButtonWidget(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
};

class TAVOLEX_EXPORT FlatGridWidget : public ControlWidget<FlatGridControl> {
public:
    explicit FlatGridWidget(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void syncScrollBar();
    QScrollBar* m_scroll;
    bool m_syncing = false;
};

class TAVOLEX_EXPORT FlatTabWidget : public ControlWidget<FlatTabControl> {
public:
    explicit FlatTabWidget(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
};

class MenuDropDown;

/// The menu button's face; its drop-down opens over the face's top-level window.
class TAVOLEX_EXPORT MenuButtonWidget : public ControlWidget<MenuButtonControl>, private MenuContainer {
public:
    explicit MenuButtonWidget(QWidget* parent = nullptr);
    QWidget* dropDown() const;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    std::int64_t tickMs() override;
    void sleepMs(int ms) override;
    void pumpEvents() override;
    int containerWidthPx() override;
    PictureRef copyBackground(int x, int y, int w, int h) override;
    void placeMenu(double leftTw, double topTw, double widthTw, double heightTw) override;
    void setMenuVisible(bool visible) override;
    void updatePosition();

    MenuDropDown* m_dropDown = nullptr;
    QElapsedTimer m_clock;
};

} // namespace zs::flatui
