#include "shell/run/SecondaryOptions.h"

#include "program/ShellServices.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"

#include <cmath>
#include <utility>

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
    const bool known = azione == kEstrazione || azione == kElaborazione;
    if (runGoing()) {
        // The running run's log stays: the alarm is a line of its own.
        if (!known)
            return false;
        if (m_waiting.empty()) {
            m_waiting = azione;
            if (m_actions.note)
                m_actions.note("Operazione pianificata \"" + azione +
                                   "\" in attesa: un'altra elaborazione e' in corso. Sara' eseguita al termine.",
                               false);
        } else if (m_actions.note) {
            m_actions.note(
                "Operazione pianificata \"" + azione + "\" non eseguita: un'altra operazione e' gia' in attesa.", true);
        }
        return false;
    }
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
            if (!h.m_waiting.empty()) {
                AlarmHandler* handler = &h;
                if (h.m_actions.defer)
                    h.m_actions.defer([handler] { handler->runEnded(); });
                else
                    h.runEnded();
            }
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

namespace zs::shell {

void AlarmHandler::runEnded()
{
    if (m_waiting.empty() || runGoing())
        return;
    const std::string azione = std::exchange(m_waiting, std::string());
    (void)CadenzoControl_Alarm(azione);
}

} // namespace zs::shell
