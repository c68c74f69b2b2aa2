#pragma once
// One scheduled operation of the scheduler control: the action it announces, its start, how
// often it repeats, the weekday it avoids, and when it falls due next. The control owns the
// operations; the edit dialog creates and changes them.

#include "automation/Dispatch.h"
#include "time/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zs::time {
class Clock;
}

namespace zs::cadenzo {

/// The periodicity texts, in the order the edit dialog lists them.
inline constexpr std::string_view kUnaVoltaSola = "Una volta sola";
inline constexpr std::string_view kOgni6Ore = "Ogni 6 ore";
inline constexpr std::string_view kOgni12Ore = "Ogni 12 ore";
inline constexpr std::string_view kOgniGiorno = "Ogni giorno";
inline constexpr std::string_view kUnaVoltaASettimana = "Una volta a settimana";
inline constexpr std::string_view kDueVolteASettimana = "Due volte a settimana";
inline constexpr std::string_view kUnaVoltaAlMese = "Una volta al mese";
inline constexpr std::string_view kPeriodicita[] = {
    kUnaVoltaSola, kOgni6Ore, kOgni12Ore, kOgniGiorno, kUnaVoltaASettimana, kDueVolteASettimana, kUnaVoltaAlMese};
/// The exclusion text that matches no weekday.
inline constexpr std::string_view kNiente = "niente";

/// Adds one period of `periodicita` to `when`; nothing for "Una volta sola" and unknown texts.
/// Steps are civil: a day is the same wall-clock time on the next date, whatever the clock
/// does in between.
std::optional<time::DateTime> addPeriod(const time::DateTime& when, std::string_view periodicita);

/// The full weekday name the operation's exclusion is compared with ("lunedì", …).
std::string weekdayName(const time::DateTime& when);

/// The bound of the next-occurrence search.
inline constexpr int kMaxSteps = 1000;

/// Internal to the library, but late-bound like every class of it (interface _clsOperazione).
class clsOperazione : public automation::Dispatchable {
  public:
    const automation::DispatchTable& dispatchTable() const override;
    automation::EventSource& events() override { return m_events; }

    const std::string& azione() const { return m_azione; }
    void setAzione(std::string v) { m_azione = std::move(v); }
    const time::DateTime& Data() const { return m_data; }
    void setData(const time::DateTime& v) { m_data = v; }
    std::int32_t Ora() const { return m_ora; }
    void setOra(std::int32_t v) { m_ora = v; }
    std::int32_t Minuti() const { return m_minuti; }
    void setMinuti(std::int32_t v) { m_minuti = v; }
    const std::string& Escludi() const { return m_escludi; }
    void setEscludi(std::string v) { m_escludi = std::move(v); }
    const std::string& Periodicita() const { return m_periodicita; }
    void setPeriodicita(std::string v) { m_periodicita = std::move(v); }
    bool Abilitato() const { return m_abilitato; }
    void setAbilitato(bool v) { m_abilitato = v; }
    const time::DateTime& ProssimoAppuntamento() const { return m_prossimo; }
    void setProssimoAppuntamento(const time::DateTime& v) { m_prossimo = v; }

    /// The start: the date of `Data` at `Ora`:`Minuti`:00. An hour or minute out of range
    /// (only a store edited by hand holds one) counts as 0, as the edit dialog treats it.
    time::DateTime start() const;

    /// Sets and returns the next occurrence: the start, moved on by the periodicity while it is
    /// earlier than now or falls on the excluded weekday, at most kMaxSteps times.
    time::DateTime CalcolaProssimoAppuntamento(const time::Clock& clock);
    /// The next occurrence after `raised` fell due: strictly after `raised` (unless the
    /// periodicity has no step), so a poll in the very second of an occurrence cannot leave it
    /// due for the next poll, and counted on from `raised` when the start is not later.
    /// However many occurrences were missed, the result is the first one after now: one Alarm
    /// covers them all.
    time::DateTime CalcolaProssimoDopo(const time::Clock& clock, const time::DateTime& raised);
    /// `candidate`, moved on by the periodicity while it falls on the excluded weekday; nothing
    /// when kMaxSteps steps never leave it (a weekly operation on its own excluded weekday).
    /// A periodicity without a step leaves the candidate as it is.
    std::optional<time::DateTime> skipExcluded(time::DateTime candidate) const;

    /// Moves the start onto the next occurrence and returns the operation's element for the
    /// store, each line ended by CR LF and preceded by one empty line. Texts are escaped so the
    /// store always parses back to the same values.
    std::string ToXml();

  private:
    time::DateTime nextFrom(time::DateTime candidate, const time::Clock& clock);

    std::string m_azione;
    time::DateTime m_data;
    std::int32_t m_ora = 0;
    std::int32_t m_minuti = 0;
    std::string m_escludi;
    std::string m_periodicita{kUnaVoltaSola};
    bool m_abilitato = false;
    time::DateTime m_prossimo;
    automation::EventSource m_events; // the class raises no events
};

/// Text escaped for an XML element's content; characters XML cannot hold at all are dropped.
std::string escapeXmlText(std::string_view text);

} // namespace zs::cadenzo
