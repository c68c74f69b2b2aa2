#pragma once
// Qt widgets of the flat controls. Each owns its model (model()) and forwards the container's
// notifications to it; hosts talk to the model or through its dispatch table.

#include "flatui/core/FlatButton.h"
#include "flatui/core/FlatGridControl.h"
#include "flatui/core/FlatTabControl.h"
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

} // namespace zs::flatui
