#pragma once
// The run window: run buttons, play/pause/stop, status, progress bar, the log tree and its text
// box, date and time. All decisions are the RunControl's; this window only shows them.

#include "shell/run/RunControl.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QTextEdit;
class QToolButton;

namespace zs::flatui {
class FlatButtonWidget;
}

namespace zs::shell {

class LogTreeView;

class frmMain : public QWidget, public RunWindowView {
  public:
    frmMain(const RunControl::Parts& parts, QWidget* parent = nullptr);
    ~frmMain() override;

    RunControl& run() { return *m_run; }
    /// The log tree with every line reported so far in it.
    LogTreeView& tvwLog();
    void Form_ShowMe();
    /// The tray tip the window last asked for; the main window shows it.
    std::function<void(program::TrayState)> onTrayTip;

    // RunWindowView
    void setProgressVisible(bool visible) override;
    void setProgress(int percent) override;
    void setStatusText(const std::string& text) override;
    void setRunButtonsEnabled(bool enabled) override;
    void setControlButtons(bool play, bool pause, bool stop) override;
    void setCursor(Cursor cursor) override;
    void setTrayTip(program::TrayState state) override;
    void setExpanded(program::LogNodeId id, bool expanded) override;
    void ensureVisible(program::LogNodeId id) override;

  protected:
    void resizeEvent(QResizeEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

  private:
    void refreshClock();
    std::unique_ptr<RunControl> m_run;
    const time::Clock& m_clock;
    flatui::FlatButtonWidget* m_execute;
    flatui::FlatButtonWidget* m_elabora;
    QCheckBox* m_ricarica;
    QToolButton* m_play;
    QToolButton* m_pause;
    QToolButton* m_stop;
    QLabel* m_stato;
    QProgressBar* m_progress;
    LogTreeView* m_tree;
    QTextEdit* m_text;
    QLabel* m_date;
    QLabel* m_time;
};

} // namespace zs::shell
