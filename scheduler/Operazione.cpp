#include "Operazione.h"

#include "text/ItalianFormat.h"
#include "time/Clock.h"

namespace zs::cadenzo {

std::optional<time::DateTime> addPeriod(const time::DateTime& when, std::string_view periodicita)
{
    if (periodicita == kOgni6Ore)
        return when.addSeconds(6 * 3600);
    if (periodicita == kOgni12Ore)
        return when.addSeconds(12 * 3600);
    if (periodicita == kOgniGiorno)
        return when.addDays(1);
    if (periodicita == kUnaVoltaASettimana)
        return when.addDays(7);
    // Twice a week had no step at all, so a passed start fell due at every poll; half a week
    // between occurrences is what the operator asked for.
    if (periodicita == kDueVolteASettimana)
        return when.addSeconds((3 * 24 + 12) * 3600);
    if (periodicita == kUnaVoltaAlMese)
        return when.addMonths(1);
    return std::nullopt;
}

std::string weekdayName(const time::DateTime& when)
{
    return std::string(text::dayName(when.weekday()));
}

time::DateTime clsOperazione::start() const
{
    time::DateTime s = m_data.date();
    s.hour = (m_ora >= 0 && m_ora <= 23) ? m_ora : 0;
    s.minute = (m_minuti >= 0 && m_minuti <= 59) ? m_minuti : 0;
    return s;
}

time::DateTime clsOperazione::CalcolaProssimoAppuntamento(const time::Clock& clock)
{
    return nextFrom(start(), clock);
}

namespace {

/// The step of a periodicity that is a fixed number of wall-clock seconds; nothing for months
/// and for texts without a step.
std::optional<std::int64_t> fixedStepSeconds(std::string_view periodicita)
{
    const time::DateTime origin{2000, 1, 1, 0, 0, 0};
    if (periodicita == kUnaVoltaAlMese)
        return std::nullopt;
    auto next = addPeriod(origin, periodicita);
    if (!next)
        return std::nullopt;
    return next->civilSeconds() - origin.civilSeconds();
}

} // namespace

time::DateTime clsOperazione::CalcolaProssimoDopo(const time::Clock& clock, const time::DateTime& raised)
{
    const time::DateTime s = start();
    time::DateTime candidate = s <= raised ? raised : s;
    m_prossimo = candidate;
    if (!addPeriod(candidate, m_periodicita))
        return candidate;
    // The first occurrence of the series after now and after the one just raised: the missed
    // ones (an occurrence in this very second too) are covered by the Alarm being raised, in one
    // go rather than one period per poll.
    const time::DateTime afterNow = clock.now().addSeconds(1);
    const time::DateTime afterRaised = raised.addSeconds(1);
    const time::DateTime bound = afterNow < afterRaised ? afterRaised : afterNow;
    if (auto step = fixedStepSeconds(m_periodicita)) {
        if (candidate < bound) {
            const std::int64_t gap = bound.civilSeconds() - candidate.civilSeconds();
            candidate = candidate.addSeconds((gap + *step - 1) / *step * *step);
        }
    } else {
        // Months differ in length and a clamped day stays clamped, so they are walked one by one.
        while (candidate < bound)
            candidate = *addPeriod(candidate, m_periodicita);
    }
    // A series that only ever falls on the excluded weekday keeps the bounded search's answer.
    time::DateTime next = candidate;
    for (int counter = 0; counter < kMaxSteps && weekdayName(next) == m_escludi; ++counter)
        next = *addPeriod(next, m_periodicita);
    m_prossimo = next;
    return next;
}

std::optional<time::DateTime> clsOperazione::skipExcluded(time::DateTime candidate) const
{
    for (int counter = 0; weekdayName(candidate) == m_escludi; ++counter) {
        if (counter == kMaxSteps)
            return std::nullopt;
        auto next = addPeriod(candidate, m_periodicita);
        if (!next)
            return candidate;
        candidate = *next;
    }
    return candidate;
}

time::DateTime clsOperazione::nextFrom(time::DateTime candidate, const time::Clock& clock)
{
    m_prossimo = candidate;
    for (int counter = 0; counter < kMaxSteps; ++counter) {
        if (!(candidate < clock.now() || weekdayName(candidate) == m_escludi))
            break;
        auto next = addPeriod(candidate, m_periodicita);
        if (!next)
            break;
        candidate = *next;
    }
    m_prossimo = candidate;
    return candidate;
}

std::string escapeXmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break; // not allowed in XML 1.0 even as a character reference
            out += c;
        }
    }
    return out;
}

std::string clsOperazione::ToXml()
{
    m_data = m_prossimo.date();
    m_ora = m_prossimo.hour;
    m_minuti = m_prossimo.minute;

    const char* crlf = "\r\n";
    std::string x = crlf;
    x += "<operazione>";
    x += crlf;
    x += "<azione>" + escapeXmlText(m_azione) + "</azione>" + crlf;
    x += "<data>" + text::formatDate(m_data) + "</data>" + crlf;
    x += "<ora>" + std::to_string(m_ora) + "</ora>" + crlf;
    x += "<minuti>" + std::to_string(m_minuti) + "</minuti>" + crlf;
    x += "<escludi>" + escapeXmlText(m_escludi) + "</escludi>" + crlf;
    x += "<periodicita>" + escapeXmlText(m_periodicita) + "</periodicita>" + crlf;
    x += std::string("<abilitato>") + (m_abilitato ? "1" : "0") + "</abilitato>" + crlf;
    x += "</operazione>";
    x += crlf;
    return x;
}

const automation::DispatchTable& clsOperazione::dispatchTable() const
{
    using automation::Variant;
    using Op = clsOperazione;
    static const automation::DispatchTable table =
        automation::DispatchTableBuilder<Op>("clsOperazione")
            .method(
                0x60030008, "CalcolaProssimoAppuntamento",
                [](Op& o, std::span<Variant>) { return Variant(o.CalcolaProssimoAppuntamento(time::systemClock())); })
            .property(
                0x68030007, "ProssimoAppuntamento", "", [](Op& o) { return Variant(o.m_prossimo); },
                [](Op& o, const Variant& v) { o.m_prossimo = v.toDate(); })
            .property(
                0x68030006, "Abilitato", "", [](Op& o) { return Variant(o.m_abilitato); },
                [](Op& o, const Variant& v) { o.m_abilitato = v.toBool(); })
            .property(
                0x68030005, "Escludi", "", [](Op& o) { return Variant(o.m_escludi); },
                [](Op& o, const Variant& v) { o.m_escludi = v.toString(); })
            .property(
                0x68030004, "Periodicita", "", [](Op& o) { return Variant(o.m_periodicita); },
                [](Op& o, const Variant& v) { o.m_periodicita = v.toString(); })
            .property(
                0x68030003, "Minuti", "", [](Op& o) { return Variant(o.m_minuti); },
                [](Op& o, const Variant& v) { o.m_minuti = v.toInt32(); })
            .property(
                0x68030002, "Ora", "", [](Op& o) { return Variant(o.m_ora); },
                [](Op& o, const Variant& v) { o.m_ora = v.toInt32(); })
            .property(
                0x68030001, "Data", "", [](Op& o) { return Variant(o.m_data); },
                [](Op& o, const Variant& v) { o.m_data = v.toDate(); })
            .property(
                0x68030000, "azione", "", [](Op& o) { return Variant(o.m_azione); },
                [](Op& o, const Variant& v) { o.m_azione = v.toString(); })
            .method(0x60030009, "ToXml", [](Op& o, std::span<Variant>) { return Variant(o.ToXml()); })
            .build();
    return table;
}

} // namespace zs::cadenzo
