#include "flatui/core/Hosting.h"

#include <chrono>
#include <thread>

namespace zs::flatui {

std::int64_t PlainEffectHost::tickMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PlainEffectHost::sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace zs::flatui
