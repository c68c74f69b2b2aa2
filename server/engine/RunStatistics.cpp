#include "engine/RunStatistics.h"

#include "engine/EngineStrings.h"
#include "program/SettingsStore.h"
#include "text/ItalianFormat.h"
#include "xml/XmlUtilities.h"

#include <cmath>
#include <limits>

namespace zs::engine {

namespace {

xml::Element childOrNew(xml::Element& parent, std::string_view name)
{
    xml::Element e = parent.child(name);
    return e ? e : parent.appendChild(name);
}

} // namespace

void AggiornaStatistiche(xml::Document& doc, const std::string& label, double seconds)
{
    xml::Element root = doc.root();
    if (!root)
        root = doc.createRoot("stat");
    // Halves go to the even neighbour, as the file has always been written.
    const double rounded = std::nearbyint(seconds);
    const long long secs = std::isfinite(rounded) ? static_cast<long long>(rounded) : 0;

    const std::string key = lower(label);
    xml::Element found;
    for (const xml::Element& m : root.children()) {
        if (m.name() == "modulo" && lower(m.child("operazione").text()) == key) {
            found = m;
            break;
        }
    }
    long long count = 0;
    double mean = 0;
    if (found) {
        const auto c = text::parseNumber(found.child("times").text());
        const auto a = text::parseNumber(found.child("avarage").text());
        if (c && *c >= 0 && *c < std::numeric_limits<std::int32_t>::max())
            count = static_cast<long long>(*c);
        if (a && std::isfinite(*a))
            mean = *a;
    }
    const double newMean =
        (static_cast<double>(count) * mean + static_cast<double>(secs)) / static_cast<double>(count + 1);
    if (!found) {
        found = root.appendChild("modulo");
        found.appendChild("operazione").setText(label);
    }
    childOrNew(found, "lasttime").setText(std::to_string(secs));
    childOrNew(found, "times").setText(std::to_string(count + 1));
    childOrNew(found, "avarage").setText(text::formatNumber(newMean));
}

RunStatistics::RunStatistics(std::filesystem::path file, program::MessageService& messages)
    : m_file(std::move(file))
{
    std::error_code ec;
    if (std::filesystem::exists(m_file, ec)) {
        if (auto doc = program::CaricaXML(m_file, messages); doc && doc->root()) {
            m_doc = std::move(*doc);
            return;
        }
        m_usable = false;
    }
    m_doc.createRoot("stat");
}

void RunStatistics::AggiornaStatistiche(const std::string& label, double seconds)
{
    if (m_usable)
        engine::AggiornaStatistiche(m_doc, label, seconds);
}

bool RunStatistics::save(std::string* error)
{
    if (!m_usable) {
        if (error)
            *error = "il file " + m_file.string() + " non e' leggibile: non viene sovrascritto";
        return false;
    }
    return xml::FormatXml(m_doc, m_file, error);
}

} // namespace zs::engine
