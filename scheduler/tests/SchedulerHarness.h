#pragma once
// Fake timers and a small driver that moves a fake clock second by second and fires the
// scheduler's timers when their interval has run, so poll tests never sleep.

#include "scheduler/Scheduler.h"

#include "time/Clock.h"

#include <functional>
#include <string>
#include <vector>

namespace zs::cadenzo::test {

class FakeTimer : public ITimer {
  public:
    explicit FakeTimer(const time::Clock& clock)
        : m_clock(clock)
    {}
    void setIntervalMs(int ms) override { m_interval = ms; }
    int intervalMs() const override { return m_interval; }
    void setEnabled(bool enabled) override
    {
        m_enabled = enabled;
        if (enabled)
            m_due = m_clock.tickMs() + m_interval;
    }
    bool isEnabled() const override { return m_enabled; }

    /// True when the timer fires now; re-arms it as a repeating window timer does.
    bool fireDue()
    {
        if (!m_enabled || m_clock.tickMs() < m_due)
            return false;
        m_due += m_interval;
        return true;
    }

  private:
    const time::Clock& m_clock;
    int m_interval = 0;
    bool m_enabled = false;
    std::int64_t m_due = 0;
};

class CountingYield : public IYield {
  public:
    void yield() override { ++count; }
    int count = 0;
};

class RecordingView : public ISchedulerView {
  public:
    void setCaption(const std::string& c) override { captions.push_back(c); }
    void showRows(const std::vector<OperationRow>& r) override { rows = r; }
    std::vector<std::string> captions;
    std::vector<OperationRow> rows;
};

/// One scheduler with fake ports, as the control builds it.
struct Harness {
    explicit Harness(time::DateTime start)
        : clock(start)
    {}

    /// Advances the clock one second at a time, firing due timers.
    void runFor(int seconds)
    {
        for (int i = 0; i < seconds; ++i) {
            clock.advanceSeconds(1);
            if (startTimer.fireDue())
                scheduler.startTick();
            if (pollTimer.fireDue())
                scheduler.pollTick();
        }
    }

    time::FakeClock clock;
    SchedulerState state;
    FakeTimer pollTimer{clock};
    FakeTimer startTimer{clock};
    CountingYield yield;
    RecordingView view;
    Scheduler scheduler{state, clock, pollTimer, startTimer, yield, &view};
};

} // namespace zs::cadenzo::test
