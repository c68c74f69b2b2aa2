#pragma once
// The Qt side of the shell's small services: message boxes with a "next answer" hook (tests
// record them; during a scheduled run a box closes itself), the yield hook over the event
// queue, the log tree view mirroring ProgramLog, and the proportional layout applied to widgets.

#include "shell/ProgramLog.h"
#include "shell/ShellServices.h"

#include <QTreeWidget>

#include <functional>
#include <map>
#include <string>

class QWidget;

namespace zs::shell {

class QtMessageService : public MessageService {
public:
    struct Shown {
        std::string text;
        MessageIcon icon;
        std::string title;
    };
    /// Seconds after which a box raised during an unattended (scheduled) run closes itself.
    static constexpr int kUnattendedTimeoutSeconds = 60;

    void show(const std::string& text, MessageIcon icon, const std::string& title) override;
    /// When set, every message goes to the hook instead of a box (tests).
    void setHook(std::function<void(const Shown&)> hook) { m_hook = std::move(hook); }
    void setUnattended(bool on) { m_unattended = on; }

private:
    std::function<void(const Shown&)> m_hook;
    bool m_unattended = false;
};

/// Yields by running the pending window events; an optional extra hook runs first (tests).
class QtYield : public YieldHook {
public:
    void yield() override;
    void setExtra(std::function<void()> extra) { m_extra = std::move(extra); }

private:
    std::function<void()> m_extra;
};

/// The log tree (tvwLog): one item per node, the node's picture as icon and as item data.
class LogTreeView : public QTreeWidget, public LogListener {
public:
    static constexpr int kImageRole = Qt::UserRole + 1;
    static constexpr int kIdRole = Qt::UserRole + 2;

    explicit LogTreeView(QWidget* parent = nullptr);
    void nodeAdded(const LogNode& node) override;
    void nodeChanged(const LogNode& node) override;
    void cleared() override;

    QTreeWidgetItem* itemFor(LogNodeId id) const;
    void setNodeExpanded(LogNodeId id, bool expanded);
    void ensureNodeVisible(LogNodeId id);

private:
    void paint(QTreeWidgetItem* item, const LogNode& node);
    std::map<LogNodeId, QTreeWidgetItem*> m_items;
};

/// Records and applies the proportional layout on a window whose children carry a code in their
/// "zsTag" property: saveProperties once at load, applyLayout on every resize.
void saveProperties(QWidget& window);
void applyLayout(QWidget& window);

} // namespace zs::shell
