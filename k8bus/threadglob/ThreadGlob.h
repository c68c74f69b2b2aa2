#pragma once
// Per-thread state of the bus library: a table of numbered slots, each owned by one module
// (sockets, trace, API state, profile, event log, current message). A thread's states live
// until the thread ends; they are destroyed in descending slot order, so the API state (3)
// goes before the trace (2) and the socket state (1) it may still use.

#include <memory>

namespace zs::k8bus {

/// Base of every state kept in a slot.
class ThreadSlotState {
  public:
    virtual ~ThreadSlotState() = default;
};

enum ThreadSlot : int {
    kSlotSocket = 1,
    kSlotTrace = 2,
    kSlotApi = 3,
    kSlotProfile = 4,
    kSlotEventLog = 5,
    kSlotMessage = 6,
};

/// The state in the calling thread's slot, or null (no table yet, or slot outside 1..10).
/// Leaves errno as it found it.
ThreadSlotState* threadGetSlot(int slot);

/// Stores a state; false when the slot is outside 1..10 or already holds one (the new state is
/// then destroyed). Storing null clears the slot and destroys what it held.
bool threadSetSlot(int slot, std::unique_ptr<ThreadSlotState> state);

/// Typed lookup: the slot's state when it is a T.
template <class T> T* threadSlotAs(int slot)
{
    return dynamic_cast<T*>(threadGetSlot(slot));
}

} // namespace zs::k8bus
