#pragma once
// What timed and placed effects (menu drop-down fade, splash fade, tool tip) need of the
// window system: a millisecond tick, a wait, an event pass, and copies of what lies on screen.
// The Qt widgets implement it; tests script it with a fake clock.

#include "flatui/core/Canvas.h"
#include "flatui/core/Export.h"

#include <cstdint>

namespace zs::flatui {

class TAVOLEX_EXPORT EffectHost {
  public:
    virtual ~EffectHost() = default;
    virtual std::int64_t tickMs() = 0;
    virtual void sleepMs(int ms) = 0;
    /// Lets pending window events run (a control's own handlers may run inside).
    virtual void pumpEvents() = 0;
};

/// A host without a window system: the machine's steady clock, real waits, no events.
class TAVOLEX_EXPORT PlainEffectHost : public EffectHost {
  public:
    std::int64_t tickMs() override;
    void sleepMs(int ms) override;
    void pumpEvents() override {}
};

} // namespace zs::flatui
