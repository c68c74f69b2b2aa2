#pragma once
// What the operation edit dialog does, without the window: its lists, the silent correction of
// date, hour and minute, and writing the operation into the collection on confirmation.
// frmOperazione shows this state and forwards the operator's input to it.

#include "Operazione.h"
#include "Scheduler.h"

#include "time/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::time {
class Clock;
}

namespace zs::cadenzo {

/// An hour or minute box's text corrected: the leading number rounded, 0 when below 0 or above
/// `limit`. Returns the value; `shown` gets it with two digits.
std::int32_t normaliseTimeField(std::string_view text, int limit, std::string* shown = nullptr);

/// The system's long date text: "lunedì 8 dicembre 2026".
std::string formatLongDate(const time::DateTime& date);
/// Reads a date the way the date box accepts one: the long date text (weekday optional but
/// right when given, month name in any case, year of two or four digits) or the short date
/// with "/", "-" or "." (text::parseDate); nothing for anything else, trailing text included.
std::optional<time::DateTime> parseDialogDate(std::string_view text);
/// What the dialog says when its date box holds no date.
std::string refusedDateMessage(std::string_view text);
/// What the dialog says when the operation could never fall due: every occurrence lands on
/// the excluded weekday.
std::string neverDueMessage(std::string_view escludi);

/// The exclusion list: "niente", then the weekdays from Monday to Sunday.
std::vector<std::string> exclusionChoices();
/// The seven periodicity texts in the dialog's order.
std::vector<std::string> periodicityChoices();

class OperazioneForm {
  public:
    explicit OperazioneForm(SchedulerState& state)
        : m_state(state)
    {}

    /// Prepares the fields for a new operation.
    void Aggiungi(const time::Clock& clock);
    /// Prepares the fields from the operation at 1-based position j; false when there is none.
    /// An action, periodicity or exclusion that its list lacks (a store from another language,
    /// or edited by hand) is added at the end of that list and selected, so confirming keeps it
    /// unless the operator picks another.
    bool Modifica(int j);

    /// Applies the date, minute and hour texts, then writes the operation (appending a new
    /// one). Refuses, changing nothing and giving the message for the operator, when the date
    /// box holds no date or when the operation could never fall due.
    [[nodiscard]] bool Conferma(std::string* refusal = nullptr);

    /// Takes the date box's text as the chosen date; false, keeping the text and the date
    /// chosen before, when it is no date.
    bool applyDateText();
    void applyHourText();
    void applyMinuteText();

    // Fields the window shows and edits.
    std::vector<std::string> azioni;                                    ///< cmbAzione entries
    int azioneIndex = -1;                                               ///< selected entry, -1 none
    std::vector<std::string> periodicitaChoices = periodicityChoices(); ///< cmbPeriodicità entries
    std::vector<std::string> escludiChoices = exclusionChoices();       ///< cmbEscludi entries
    std::string dateText;                                               ///< txtData
    std::string hourText;                                               ///< txtOra
    std::string minuteText;                                             ///< txtMinuti
    std::string periodicita{kUnaVoltaSola};
    std::string escludi{kNiente};
    bool abilitato = false; ///< kept between uses, as the check box is

    int position() const { return m_position; }
    const time::DateTime& chosenDate() const { return m_date; }
    void setChosenDate(const time::DateTime& d);

  private:
    SchedulerState& m_state;
    int m_position = 0;
    time::DateTime m_date;
    std::int32_t m_hour = 0;
    std::int32_t m_minute = 0;
};

} // namespace zs::cadenzo
