#include "shell/run/SecondaryOptions.h"

#include "shell/ShellServices.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"

#include <cmath>

namespace zs::shell {

std::string normalizeMonths(const std::string& text)
{
    const std::string_view trimmed = text::trim(text, " ");
    if (trimmed.empty())
        return text;
    const auto value = text::parseNumber(trimmed);
    if (!value || !std::isfinite(*value))
        return "1";
    const double months = std::nearbyint(*value); // banker's rounding, as the integer conversion does
    if (months < 1)
        return "1";
    if (months > 12)
        return "12";
    return std::to_string(static_cast<int>(months));
}

bool AlarmHandler::CadenzoControl_Alarm(const std::string& azione)
{
    if (m_busy)
        return false;
    m_busy = true;
    // The flag goes back down whatever the run does, so one failed run does not drop every
    // later alarm.
    struct Reset {
        AlarmHandler& h;
        ~Reset()
        {
            if (h.m_actions.unattended)
                h.m_actions.unattended(false);
            h.m_busy = false;
        }
    } reset{*this};
    if (m_actions.unattended)
        m_actions.unattended(true);
    m_yield.yield();
    if (m_actions.initializeResponse)
        m_actions.initializeResponse();
    if (azione == kEstrazione) {
        if (m_actions.estrazione)
            m_actions.estrazione();
    } else if (azione == kElaborazione) {
        if (m_actions.elaborazione)
            m_actions.elaborazione();
    }
    return true;
}

} // namespace zs::shell
