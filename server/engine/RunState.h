#pragma once
// The program-wide run state that the run window's play, pause and stop buttons set and the
// engine reads while a run is under way: 0 running, 1 paused, 2 stopped.

#include <atomic>

namespace zs::engine {

class RunState {
  public:
    static constexpr int kRunning = 0;
    static constexpr int kPaused = 1;
    static constexpr int kStopped = 2;

    int StatoProcesso() const { return m_value.load(std::memory_order_acquire); }
    /// May be called from any thread (a test driver presses stop from a timer thread).
    void setStatoProcesso(int value) { m_value.store(value, std::memory_order_release); }
    bool stopped() const { return StatoProcesso() == kStopped; }

  private:
    std::atomic<int> m_value{kRunning};
};

} // namespace zs::engine
