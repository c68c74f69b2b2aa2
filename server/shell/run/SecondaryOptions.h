#pragma once
// The rules of the secondary-options window (frmSchedulazione) that hold no widget: the
// scheduler alarm's dispatch with its own re-entry flag, and the month field's normalisation.

#include <functional>
#include <string>

namespace zs::shell {

class YieldHook;

/// The month field as the window shows it after a change: "" stays "" (the window turns it into
/// "1" when it loses the focus), a text that is not a number becomes "1", a number is rounded
/// and clamped to 1..12.
std::string normalizeMonths(const std::string& text);

/// The scheduler's Alarm: "Estrazione ed Elaborazione." starts an extraction not by hand,
/// "Elaborazione dati." cube processing; anything else nothing. An alarm that arrives while
/// one is being handled is dropped.
class AlarmHandler {
public:
    static constexpr const char* kEstrazione = "Estrazione ed Elaborazione.";
    static constexpr const char* kElaborazione = "Elaborazione dati.";

    struct Actions {
        std::function<void()> initializeResponse;
        std::function<void()> estrazione;   ///< Estrazione(false)
        std::function<void()> elaborazione; ///< Elaborazione(), result ignored
        /// Called with true before and false after the run: modal questions raised meanwhile
        /// must not hold the schedule.
        std::function<void(bool)> unattended;
    };

    AlarmHandler(YieldHook& yield, Actions actions) : m_yield(yield), m_actions(std::move(actions)) {}

    /// False when the alarm was dropped because another one is being handled.
    bool CadenzoControl_Alarm(const std::string& azione);
    bool busy() const { return m_busy; }

private:
    YieldHook& m_yield;
    Actions m_actions;
    bool m_busy = false;
};

} // namespace zs::shell
