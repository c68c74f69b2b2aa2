#pragma once
// The rules of the secondary-options window (frmSchedulazione) that hold no widget: the
// scheduler alarm's dispatch with its own re-entry flag, and the month field's normalisation.

#include <functional>
#include <string>

namespace zs::program {
class YieldHook;
} // namespace zs::program

namespace zs::shell {

/// The month field as the window shows it after a change: "" stays "" (the window turns it into
/// "1" when it loses the focus), a text that is not a number becomes "1", a number is rounded
/// and clamped to 1..12.
std::string normalizeMonths(const std::string& text);

/// The scheduler's Alarm: "Estrazione ed Elaborazione." starts an extraction not by hand,
/// "Elaborazione dati." cube processing; anything else nothing. An alarm that arrives while a
/// run is under way (by hand, or an earlier alarm's) leaves that run's log alone: it is logged
/// as a line of its own and waits, and runs once when the run ends. One alarm waits at most;
/// a further one is logged and dropped.
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
        /// Whether a run is under way (the run window's guard).
        std::function<bool()> running;
        /// Logs a line of its own, not part of the running run (an error line when true).
        std::function<void(const std::string&, bool)> note;
        /// Runs a call once the current event has been handled; at once when empty.
        std::function<void(std::function<void()>)> defer;
    };

    AlarmHandler(program::YieldHook& yield, Actions actions)
        : m_yield(yield)
        , m_actions(std::move(actions))
    {}

    /// False when the alarm did not run now (it waits, or was dropped).
    bool CadenzoControl_Alarm(const std::string& azione);
    /// A run has ended: the alarm that waited for it, if any, runs now.
    void runEnded();
    bool busy() const { return m_busy; }
    /// The action of the alarm waiting for the current run to end; "" when none waits.
    const std::string& waiting() const { return m_waiting; }

  private:
    bool runGoing() const { return m_busy || (m_actions.running && m_actions.running()); }

    program::YieldHook& m_yield;
    Actions m_actions;
    bool m_busy = false;
    std::string m_waiting;
};

} // namespace zs::shell
