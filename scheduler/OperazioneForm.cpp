#include "OperazioneForm.h"

#include "OperationStore.h"
#include "Operazione.h"

#include "text/Ascii.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace zs::cadenzo {

std::int32_t normaliseTimeField(std::string_view text, int limit, std::string* shown)
{
    const double r = std::nearbyint(leadingNumber(text));
    std::int32_t v = 0;
    if (r >= 0 && r <= limit)
        v = static_cast<std::int32_t>(r);
    if (shown) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02d", v);
        *shown = buf;
    }
    return v;
}

std::string formatLongDate(const time::DateTime& date)
{
    return std::string(text::dayName(date.weekday())) + " " + std::to_string(date.day) + " " +
           std::string(text::monthName(date.month)) + " " + std::to_string(date.year);
}

std::optional<time::DateTime> parseDialogDate(std::string_view text)
{
    if (auto d = text::parseDate(text))
        return d;
    std::istringstream in{std::string(text)};
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(text::lowerAscii(w));
    int weekday = 0;
    if (words.size() == 4) {
        for (int wd = 1; wd <= 7; ++wd)
            if (words[0] == text::lowerAscii(std::string(text::dayName(wd))))
                weekday = wd;
        if (weekday == 0)
            return std::nullopt;
        words.erase(words.begin());
    }
    if (words.size() != 3)
        return std::nullopt;
    const std::string& dayText = words[0];
    if (dayText.empty() || dayText.size() > 2 ||
        !std::all_of(dayText.begin(), dayText.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    auto year = text::parseYear(words[2]);
    int month = 0;
    for (int m = 1; m <= 12; ++m)
        if (words[1] == text::lowerAscii(std::string(text::monthName(m))))
            month = m;
    if (!year || month == 0)
        return std::nullopt;
    time::DateTime d{*year, month, std::stoi(dayText), 0, 0, 0};
    // A weekday that does not go with the date leaves the operator's meaning in doubt.
    if (!d.isValid() || (weekday != 0 && d.weekday() != weekday))
        return std::nullopt;
    return d;
}

std::string refusedDateMessage(std::string_view text)
{
    // Every example is one date, the long form with its own weekday, so each reads back as given.
    const time::DateTime example{2026, 12, 8, 0, 0, 0};
    return "La data \"" + std::string(text) +
           "\" non è valida. Scrivere la data come 08/12/2026, 8-12-26, 8.12.2026 o " + formatLongDate(example) + ".";
}

std::string neverDueMessage(std::string_view escludi)
{
    return "L'operazione non verrebbe mai eseguita: con questa periodicità ogni sua data cade di " +
           std::string(escludi) + ", il giorno escluso. Scegliere un'altra data, un'altra periodicità o un altro " +
           "giorno da escludere.";
}

std::vector<std::string> exclusionChoices()
{
    std::vector<std::string> out{std::string(kNiente)};
    for (int i = 0; i < 7; ++i)
        out.emplace_back(text::dayName(i < 6 ? i + 2 : 1)); // Monday (2) … Saturday (7), then Sunday (1)
    return out;
}

std::vector<std::string> periodicityChoices()
{
    return {std::begin(kPeriodicita), std::end(kPeriodicita)};
}

namespace {

/// The index of `value` in `list`, after adding it at the end when the list lacks it.
int selectKeeping(std::vector<std::string>& list, const std::string& value)
{
    auto it = std::find(list.begin(), list.end(), value);
    if (it == list.end()) {
        list.push_back(value);
        return static_cast<int>(list.size()) - 1;
    }
    return static_cast<int>(it - list.begin());
}

} // namespace

void OperazioneForm::setChosenDate(const time::DateTime& d)
{
    m_date = d.date();
    dateText = formatLongDate(m_date);
}

void OperazioneForm::Aggiungi(const time::Clock& clock)
{
    m_position = 0;
    azioni = m_state.colAzioni;
    azioneIndex = azioni.empty() ? -1 : 0;
    const time::DateTime now = clock.now();
    setChosenDate(now);
    m_hour = normaliseTimeField(std::to_string(now.hour), 23, &hourText);
    m_minute = normaliseTimeField(std::to_string(now.minute), 59, &minuteText);
    periodicitaChoices = periodicityChoices();
    escludiChoices = exclusionChoices();
    escludi = std::string(kNiente);
    periodicita = std::string(kUnaVoltaSola);
}

bool OperazioneForm::Modifica(int j)
{
    if (j < 1 || j > static_cast<int>(m_state.colOperazioni.size()))
        return false;
    m_position = j;
    const clsOperazione& op = *m_state.colOperazioni[static_cast<size_t>(j - 1)];
    azioni = m_state.colAzioni;
    azioneIndex = selectKeeping(azioni, op.azione());
    periodicitaChoices = periodicityChoices();
    selectKeeping(periodicitaChoices, op.Periodicita());
    escludiChoices = exclusionChoices();
    selectKeeping(escludiChoices, op.Escludi());
    const time::DateTime& p = op.ProssimoAppuntamento();
    setChosenDate(p);
    m_hour = normaliseTimeField(std::to_string(p.hour), 23, &hourText);
    m_minute = normaliseTimeField(std::to_string(p.minute), 59, &minuteText);
    escludi = op.Escludi();
    periodicita = op.Periodicita();
    abilitato = op.Abilitato();
    return true;
}

bool OperazioneForm::applyDateText()
{
    auto d = parseDialogDate(dateText);
    if (d)
        setChosenDate(*d);
    return d.has_value();
}

void OperazioneForm::applyHourText()
{
    m_hour = normaliseTimeField(hourText, 23, &hourText);
}

void OperazioneForm::applyMinuteText()
{
    m_minute = normaliseTimeField(minuteText, 59, &minuteText);
}

bool OperazioneForm::Conferma(std::string* refusal)
{
    auto refuse = [&](std::string message) {
        if (refusal)
            *refusal = std::move(message);
        return false;
    };
    if (!applyDateText())
        return refuse(refusedDateMessage(dateText));
    applyMinuteText();
    applyHourText();

    // The first occurrence is worked out as the control does after a load or an Alarm: the
    // chosen start, or the first after it off the excluded weekday. A start in the past is kept,
    // so it falls due at the next poll.
    clsOperazione candidate;
    candidate.setEscludi(escludi);
    candidate.setPeriodicita(periodicita);
    time::DateTime start = m_date;
    start.hour = m_hour;
    start.minute = m_minute;
    const std::optional<time::DateTime> first = candidate.skipExcluded(start);
    if (!first)
        return refuse(neverDueMessage(escludi));

    std::shared_ptr<clsOperazione> op;
    auto& ops = m_state.colOperazioni;
    if (m_position != 0) {
        // The collection may have changed while the dialog was open (an Alarm handler let the
        // operator remove an operation): an edit of a vanished position is dropped.
        if (m_position > static_cast<int>(ops.size()))
            return true;
        op = ops[static_cast<size_t>(m_position - 1)];
    } else {
        op = std::make_shared<clsOperazione>();
    }
    op->setAzione(azioneIndex >= 0 && azioneIndex < static_cast<int>(azioni.size())
                      ? azioni[static_cast<size_t>(azioneIndex)]
                      : std::string());
    op->setData(m_date);
    op->setOra(m_hour);
    op->setMinuti(m_minute);
    op->setEscludi(escludi);
    op->setProssimoAppuntamento(*first);
    op->setPeriodicita(periodicita);
    op->setAbilitato(abilitato);
    if (m_position == 0)
        ops.push_back(std::move(op));
    return true;
}

} // namespace zs::cadenzo
