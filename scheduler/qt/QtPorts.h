#pragma once
// The scheduler core's timer and yield ports over Qt: a QTimer per timer, processEvents() for
// "let pending window messages run".

#include "scheduler/SchedulerPorts.h"

#include <QTimer>

#include <functional>

namespace zs::cadenzo {

class QtTimer : public ITimer {
  public:
    QtTimer(QObject* parent, std::function<void()> onTick);
    void setIntervalMs(int ms) override { m_timer->setInterval(ms); }
    int intervalMs() const override { return m_timer->interval(); }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return m_timer->isActive(); }

  private:
    QTimer* m_timer; // child of the parent given
};

class QtYield : public IYield {
  public:
    void yield() override;
};

} // namespace zs::cadenzo
