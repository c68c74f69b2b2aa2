#pragma once
// The ports through which the scheduler core reaches the window system: timers, the "let
// pending window messages run" hook, and the list and caption it shows. The Qt layer
// implements them with QTimer and widgets; tests with fakes driven by a fake clock.

#include <string>
#include <vector>

namespace zs::cadenzo {

class ITimer {
  public:
    virtual ~ITimer() = default;
    virtual void setIntervalMs(int ms) = 0;
    virtual int intervalMs() const = 0;
    /// Enabling a timer (re)starts its interval; disabling it stops it.
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

class IYield {
  public:
    virtual ~IYield() = default;
    virtual void yield() = 0;
};

/// One row of the operations list: action, next occurrence, periodicity, enabled.
struct OperationRow {
    std::string azione;
    std::string prossimo;
    std::string periodicita;
    std::string abilitato;
    friend bool operator==(const OperationRow&, const OperationRow&) = default;
};

class ISchedulerView {
  public:
    virtual ~ISchedulerView() = default;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void showRows(const std::vector<OperationRow>& rows) = 0;
};

} // namespace zs::cadenzo
