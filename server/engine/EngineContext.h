#pragma once
// Everything an engine procedure reads or calls besides its arguments: the program-wide
// settings values, the log, the run state, the yield hook, the clock and the way it sleeps,
// and the target database. Built once by the host and passed by reference.

#include <functional>

namespace zs::program {
class ProgramLog;
class YieldHook;
struct ProgramSettings;
} // namespace zs::program
namespace zs::time {
class Clock;
}

namespace zs::engine {

class EngineBackend;
class RunState;

struct EngineContext {
    const program::ProgramSettings& settings;
    program::ProgramLog& log;
    RunState& state;
    program::YieldHook& yield;
    const time::Clock& clock;
    /// Blocks for the given milliseconds (tests move a fake clock instead).
    std::function<void(int)> sleepMs;
    EngineBackend& db;

    void doYield() const;
    void sleep(int ms) const;
    /// Seconds on the clock's tick, which never wraps at midnight.
    double seconds() const;
};

} // namespace zs::engine
