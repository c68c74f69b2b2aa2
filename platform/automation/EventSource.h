#pragma once
// A control's outgoing events. Handlers run synchronously, in connection order, and receive the
// arguments by reference as the original event interfaces pass them: a handler may change them
// and the control reads the changed values back.

#include "automation/Variant.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zs::automation {

using DispId = std::int32_t;

class EventSource {
  public:
    using Handler = std::function<void(DispId eventId, std::span<Variant> args)>;

    /// Returns a cookie for disconnect().
    int connect(Handler handler);
    void disconnect(int cookie);
    /// Raises to every handler; returns after the last one ran.
    void raise(DispId eventId, std::span<Variant> args) const;
    void raise(DispId eventId) const { raise(eventId, {}); }

  private:
    std::vector<std::pair<int, Handler>> m_handlers;
    int m_nextCookie = 1;
};

} // namespace zs::automation
