#pragma once
// Measures how long a run, a step or a cube's processing takes: one start mark and one stop
// mark from the millisecond tick counter, taken as 32-bit signed values as the tick wraps.

#include <cstdint>

namespace zs::time {
class Clock;
}

namespace zs::program {

class Crono {
  public:
    explicit Crono(const time::Clock& clock)
        : m_clock(clock)
    {}

    std::int32_t AvviaCrono();
    std::int32_t FermaCrono();
    /// Stops the measurement and returns the seconds since the start mark (1234 ms → 1.234).
    double TempoTrascorso();

  private:
    std::int32_t tick() const;
    const time::Clock& m_clock;
    std::int32_t m_start = 0;
    std::int32_t m_stop = 0;
};

} // namespace zs::program
