#include "engine/EngineStrings.h"
#include "db/SqlText.h"

#include "engine/EngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/RunState.h"
#include "program/ShellServices.h"
#include "time/Clock.h"

#include <chrono>
#include <thread>

namespace zs::engine {

std::string sqlQuote(std::string_view text)
{
    return db::sqlLiteral(text);
}

void EngineContext::doYield() const
{
    yield.yield();
}

void EngineContext::sleep(int ms) const
{
    if (sleepMs)
        sleepMs(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double EngineContext::seconds() const
{
    return static_cast<double>(clock.tickMs()) / 1000.0;
}

} // namespace zs::engine
