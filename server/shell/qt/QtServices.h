#pragma once
// The Qt side of the shell's small services: message boxes with a "next answer" hook (tests
// record them; during a scheduled run a box closes itself), the yield hook over the event
// queue and the log tree view mirroring ProgramLog.

#include "program/ProgramLog.h"
#include "program/ShellServices.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QWidget;

namespace zs::shell {

class QtMessageService : public program::MessageService {
  public:
    struct Shown {
        std::string text;
        program::MessageIcon icon;
        std::string title;
    };
    /// Seconds after which a box raised during an unattended (scheduled) run closes itself.
    static constexpr int kUnattendedTimeoutSeconds = 60;
    /// Arms a one-shot timer: `fire` runs after `ms` unless the box has gone by then.
    using TimerStarter = std::function<void(int ms, std::function<void()> fire)>;

    void show(const std::string& text, program::MessageIcon icon, const std::string& title) override;
    /// A box with `buttons`; in an unattended run it closes itself after the bound with
    /// endingAnswer(buttons).
    program::MessageAnswer ask(const std::string& text, program::MessageIcon icon, const std::string& title,
                               program::MessageButtons buttons) override;
    /// When set, every message goes to the hook instead of a box (tests). A question with no
    /// answer hook set is recorded there too and gets the answer that ends the waiting.
    void setHook(std::function<void(const Shown&)> hook) { m_hook = std::move(hook); }
    /// The next answers to questions (tests): the hook sees each question and gives its answer.
    void setAnswerHook(std::function<program::MessageAnswer(const Shown&)> hook) { m_answerHook = std::move(hook); }
    /// How the unattended bound is timed; a QTimer by default (tests inject their own).
    void setTimerStarter(TimerStarter starter) { m_timer = std::move(starter); }
    void setUnattended(bool on) { m_unattended = on; }
    bool unattended() const { return m_unattended; }

  private:
    int exec(const std::string& text, program::MessageIcon icon, const std::string& title, int buttons, int ending);

    std::function<void(const Shown&)> m_hook;
    std::function<program::MessageAnswer(const Shown&)> m_answerHook;
    TimerStarter m_timer;
    bool m_unattended = false;
};

/// Yields by running the pending window events; an optional extra hook runs first (tests).
class QtYield : public program::YieldHook {
  public:
    void yield() override;
    void setExtra(std::function<void()> extra) { m_extra = std::move(extra); }

  private:
    std::function<void()> m_extra;
};

/// A repeating timer of a window. QtIntervalTimer is the program's; tests drive a fake one tick
/// by tick, so a countdown never waits for real time.
class IntervalTimer {
  public:
    virtual ~IntervalTimer() = default;
    /// (Re)starts the timer: `tick` runs every `ms` until stop().
    virtual void start(int ms, std::function<void()> tick) = 0;
    virtual void stop() = 0;
    virtual bool active() const = 0;
};

class QtIntervalTimer : public IntervalTimer {
  public:
    QtIntervalTimer();
    void start(int ms, std::function<void()> tick) override;
    void stop() override { m_timer.stop(); }
    bool active() const override { return m_timer.isActive(); }

  private:
    QTimer m_timer;
    std::function<void()> m_tick;
};

/// Makes the windows' timers (the pop-up notice's countdown).
using IntervalTimerFactory = std::function<std::unique_ptr<IntervalTimer>()>;

/// The log tree (tvwLog): one item per node, the node's picture as icon and as item data.
/// A line costs the same however many there are: lines that come faster than the eye can follow
/// are held and added to the tree together, at most every kBatchMs (each addition makes the view
/// lay out its rows again), and the expansions and scrolls asked for meanwhile are applied once
/// then. A line that comes after a quiet spell is shown at once. flush() adds what is held now.
class LogTreeView : public QTreeWidget, public program::LogListener {
  public:
    static constexpr int kImageRole = Qt::UserRole + 1;
    static constexpr int kIdRole = Qt::UserRole + 2;
    /// The longest a line waits before it is shown.
    static constexpr int kBatchMs = 50;

    explicit LogTreeView(QWidget* parent = nullptr);
    ~LogTreeView() override;
    void nodeAdded(const program::LogNode& node) override;
    void nodeChanged(const program::LogNode& node) override;
    void cleared() override;

    /// The item of a node (lines held back are added first).
    QTreeWidgetItem* itemFor(program::LogNodeId id);
    void setNodeExpanded(program::LogNodeId id, bool expanded);
    void ensureNodeVisible(program::LogNodeId id);
    /// Adds the lines held back and applies the expansions and the scroll asked for since.
    void flush();

  private:
    struct Pending {
        QTreeWidgetItem* item;
        std::optional<program::LogNodeId> parent;
    };
    void paint(QTreeWidgetItem* item, const program::LogNode& node);
    /// Flushes now when the last flush is older than kBatchMs, else arms the timer.
    void schedule();
    std::unordered_map<program::LogNodeId, QTreeWidgetItem*> m_items;
    std::vector<Pending> m_pending;                                ///< items built, not yet in the tree
    std::vector<std::pair<program::LogNodeId, bool>> m_expansions; ///< asked for since the last flush
    std::optional<program::LogNodeId> m_scrollTo;                  ///< the last line asked to be seen
    QTimer m_batch;
    QElapsedTimer m_sinceFlush;
};

/// The program's font for every window: the windows were drawn for Arial (a metric-compatible
/// font, Liberation Sans, stands in for it where Arial is not installed).
void applyProgramFont();
/// Makes Italian the locale of every Qt widget that formats a date or a number (calendars, date
/// boxes), whatever the machine's locale: the program's windows speak Italian.
void applyProgramLocale();

/// Qt's own Italian texts for the standard buttons and dialogs ("Sì", "No", "Annulla"), from the
/// Qt translations folder; installed once. False when they are not installed there.
bool installProgramTranslations();

} // namespace zs::shell
