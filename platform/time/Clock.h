#pragma once
// The clock seam: local wall-clock time and a millisecond tick counter. Code that reads the
// time takes a Clock&; tests pass a FakeClock and move it by hand, so nothing sleeps.

#include "time/DateTime.h"

#include <cstdint>

namespace zs::time {

class Clock {
  public:
    virtual ~Clock() = default;
    /// Local wall-clock time, to the second.
    virtual DateTime now() const = 0;
    /// Milliseconds from an arbitrary start, never going back.
    virtual std::int64_t tickMs() const = 0;
};

/// The machine's clock (local time zone, steady tick).
Clock& systemClock();

/// A clock that moves only when told to.
class FakeClock : public Clock {
  public:
    explicit FakeClock(DateTime start = {2004, 1, 1, 0, 0, 0})
        : m_now(start)
    {}
    DateTime now() const override { return m_now; }
    std::int64_t tickMs() const override { return m_tick; }

    void set(const DateTime& dt) { m_now = dt; }
    void setTickMs(std::int64_t tick) { m_tick = tick; }
    /// Moves both the wall clock and the tick forward.
    void advanceMs(std::int64_t ms)
    {
        m_subMs += ms;
        m_tick += ms;
        m_now = m_now.addSeconds(m_subMs / 1000);
        m_subMs %= 1000;
    }
    void advanceSeconds(std::int64_t s) { advanceMs(s * 1000); }

  private:
    DateTime m_now;
    std::int64_t m_tick = 0;
    std::int64_t m_subMs = 0;
};

} // namespace zs::time
