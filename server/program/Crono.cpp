#include "program/Crono.h"

#include "time/Clock.h"

namespace zs::program {

std::int32_t Crono::tick() const
{
    // The low 32 bits of the tick, as the system's 32-bit counter gives them.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(m_clock.tickMs()));
}

std::int32_t Crono::AvviaCrono()
{
    m_start = tick();
    return m_start;
}

std::int32_t Crono::FermaCrono()
{
    m_stop = tick();
    return m_stop;
}

double Crono::TempoTrascorso()
{
    FermaCrono();
    // Unsigned subtraction wraps like the counter does, so a wrap between the marks still
    // gives the right difference.
    const auto diff =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(m_stop) - static_cast<std::uint32_t>(m_start));
    return static_cast<double>(diff) / 1000.0;
}

} // namespace zs::program
