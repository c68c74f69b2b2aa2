#include "threadglob/ThreadGlob.h"

#include <array>
#include <cerrno>

namespace zs::k8bus {
namespace {

constexpr int kSlotCount = 11; // slot 0 is never used

struct SlotTable {
    std::array<std::unique_ptr<ThreadSlotState>, kSlotCount> slots;
    ~SlotTable()
    {
        // Later owners use earlier ones while they close (the API state closes sockets and
        // traces), so tear down from the top.
        for (int i = kSlotCount - 1; i > 0; --i)
            slots[static_cast<std::size_t>(i)].reset();
    }
};

thread_local SlotTable t_table;

} // namespace

ThreadSlotState* threadGetSlot(int slot)
{
    const int saved = errno;
    ThreadSlotState* p = nullptr;
    if (slot >= 1 && slot < kSlotCount)
        p = t_table.slots[static_cast<std::size_t>(slot)].get();
    errno = saved;
    return p;
}

bool threadSetSlot(int slot, std::unique_ptr<ThreadSlotState> state)
{
    if (slot < 1 || slot >= kSlotCount)
        return false;
    auto& cell = t_table.slots[static_cast<std::size_t>(slot)];
    if (state && cell)
        return false;
    cell = std::move(state);
    return true;
}

} // namespace zs::k8bus
