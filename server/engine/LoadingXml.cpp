#include "engine/LoadingXml.h"

#include "engine/EngineStrings.h"
#include "time/DateTime.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zs::engine {

namespace {

bool yes(const std::string& text)
{
    const std::string u = upper(text);
    return u == "SI" || u == "YES";
}

// A whole number written with digits only (and a sign): kept exact, leading zeros dropped.
std::optional<std::string> exactInteger(std::string_view t)
{
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size())
        return std::nullopt;
    return std::to_string(v);
}

std::optional<std::string> numericText(const std::string& text)
{
    std::string t = trim(text);
    if (t.empty())
        return std::nullopt;
    if (t.front() == '+')
        t.erase(0, 1);
    if (auto i = exactInteger(t))
        return i;
    // A fraction may be written with either separator.
    for (char& c : t)
        if (c == ',')
            c = '.';
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return sqlNumber(v);
}

} // namespace

std::string sqlNumber(double value)
{
    if (std::nearbyint(value) == value && std::fabs(value) < 9.0e15)
        return std::to_string(static_cast<std::int64_t>(value));
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

StepDefinition readStep(const xml::Element& element, program::ServerType tipoServer)
{
    StepDefinition s;
    s.element = element;
    s.tableName = upper(element.name());
    if (tipoServer != program::ServerType::Oracle && (s.tableName == "ZONE" || s.tableName == "TIME"))
        s.tableName = "[" + s.tableName + "]";
    for (const xml::Element& child : element.children()) {
        const std::string name = upper(child.name());
        if (name == "ESEGUI") {
            s.esegui = yes(child.text());
        } else if (name == "OPERAZIONE") {
            s.operazione = child.text();
        } else if (name == "SVUOTA") {
            s.svuota = yes(child.text());
        } else if (name == "CONTATORE") {
            s.contatore = child.text();
        } else if (name == "AZZERACONTATORE") {
            // Takes the emptying flag as it stands here: a reset without emptying would leave
            // the counter below the rows still in the table.
            s.azzeraContatore = yes(child.text()) && s.svuota;
        } else if (name == "QUERY") {
            s.queries.push_back(child.text());
        } else if (name == "INCREMENTALE") {
            Incremental inc;
            inc.attivo = lower(child.attribute("attivo").value_or("")) == "si";
            if (inc.attivo) {
                inc.text = child.text();
                inc.svuota = child.attribute("svuota").value_or("");
                inc.riempi = child.attribute("riempi").value_or("");
                inc.numerico = child.attribute("datatype").value_or("") == "numerico";
                inc.autoupdate = lower(child.attribute("autoupdate").value_or("")) == "si";
            }
            s.incrementale = std::move(inc);
        }
    }
    return s;
}

std::optional<std::string> watermarkLiteral(const Incremental& inc)
{
    if (inc.numerico)
        return numericText(inc.text);
    return sqlQuote(inc.text);
}

std::optional<std::string> watermarkText(const SqlValue& maximum, bool numerico)
{
    std::string text;
    if (const auto* i = std::get_if<std::int64_t>(&maximum)) {
        text = std::to_string(*i);
    } else if (const auto* d = std::get_if<double>(&maximum)) {
        text = sqlNumber(*d);
    } else if (const auto* s = std::get_if<std::string>(&maximum)) {
        text = *s;
    } else if (const auto* dt = std::get_if<time::DateTime>(&maximum)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dt->year, dt->month, dt->day, dt->hour,
                      dt->minute, dt->second);
        text = buf;
    }
    if (text.empty())
        return std::nullopt;
    if (numerico)
        return numericText(text);
    return text;
}

} // namespace zs::engine
