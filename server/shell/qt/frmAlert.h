#pragma once
// The pop-up notice remote assistance shows: a small top-most window without a title bar.

#include "shell/qt/QtServices.h"
#include "shell/run/SupportOnline.h"

#include <QLabel>
#include <QWidget>

#include <memory>
#include <string>

namespace zs::shell {

/// The pop-up notice: a small top-most window that a double-click or its countdown hides.
class frmAlert : public QWidget, public AlertNotice {
  public:
    /// `timer` counts the seconds (Timer1); a Qt timer when null.
    explicit frmAlert(std::unique_ptr<IntervalTimer> timer = nullptr);
    void setBackground(int r, int g, int b) override;
    void ShowMessage(const std::string& text) override;
    /// Hides the notice `seconds` ticks of one second later; 0 or less at the first tick.
    void StartTimer(int seconds) override;
    void hide() override;
    std::string text() const;
    QColor background() const;
    bool counting() const { return m_timer->active(); }
    /// The width of the thin fixed border around the client area.
    static constexpr int kBorder = 1;

  protected:
    void mouseDoubleClickEvent(QMouseEvent*) override { hide(); }
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent*) override;

  private:
    void Timer1_Timer();

    QLabel* m_label;
    std::unique_ptr<IntervalTimer> m_timer;
    int m_ticks = 0, m_limit = 0;
};

} // namespace zs::shell
