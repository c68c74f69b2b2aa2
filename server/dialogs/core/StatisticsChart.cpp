#include "dialogs/core/StatisticsChart.h"

#include "engine/EngineStrings.h"
#include "engine/StepTree.h"
#include "program/SettingsStore.h"
#include "text/ItalianFormat.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace zs::dialogs {

double leadingNumber(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::size_t end = i;
    if (end < text.size() && (text[end] == '-' || text[end] == '+'))
        ++end;
    bool point = false;
    while (end < text.size() && (std::isdigit(static_cast<unsigned char>(text[end])) || (text[end] == '.' && !point))) {
        point = point || text[end] == '.';
        ++end;
    }
    std::string digits = text.substr(i, end - i);
    if (!digits.empty() && digits.front() == '+')
        digits.erase(digits.begin());
    double v = 0;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    return r.ec == std::errc() && std::isfinite(v) ? v : 0.0;
}

std::vector<ChartRow> ChartRows(const xml::Document& stat, const engine::StepTree& tree, StatMeasure measure)
{
    const char* field = measure == StatMeasure::LastTime  ? "lasttime"
                        : measure == StatMeasure::Average ? "avarage"
                        : measure == StatMeasure::Times   ? "times"
                                                          : nullptr;
    std::vector<ChartRow> rows;
    const xml::Element root = stat.root();
    if (root.isNull())
        return rows;
    const std::vector<xml::Element> moduli = root.children();
    for (const engine::StepNode& step : tree.steps()) {
        xml::Element found;
        for (const xml::Element& m : moduli)
            if (m.name() == "modulo" && m.child("operazione").text() == step.text && !m.child("operazione").isNull())
                found = m; // the later one in the file wins
        if (found.isNull())
            continue;
        rows.push_back({step.text, field ? leadingNumber(found.child(field).text()) : 0.0});
    }
    return rows;
}

std::string ValueLabel(double value, StatMeasure measure)
{
    if (measure == StatMeasure::Times)
        return text::formatNumber(value) + " volte";
    return text::formatNumber(value / 60.0, 1) + " min.";
}

ChartLayout LayoutChart(const std::vector<ChartRow>& rows, StatMeasure measure, int surfaceWidth, int frameHeight,
                        const std::function<int(const std::string&)>& textWidth)
{
    ChartLayout out;
    int widest = 0;
    double largest = 0;
    for (const ChartRow& r : rows) {
        widest = std::max(widest, textWidth(r.name));
        largest = std::max(largest, r.value);
    }
    out.surfaceHeight = static_cast<int>(rows.size()) * 15 + 20;
    if (out.surfaceHeight > frameHeight) {
        out.scrollVisible = true;
        out.scrollMax = std::min(out.surfaceHeight - frameHeight, int{std::numeric_limits<std::int16_t>::max()});
    }
    const double span = surfaceWidth - (widest + 80);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double r = largest > 0 ? std::max(0.0, rows[i].value) / largest : 0.0;
        ChartBar bar;
        bar.name = rows[i].name;
        bar.y = static_cast<int>(i) * 15 + 10;
        bar.barLeft = widest + 20;
        bar.barRight = static_cast<int>(std::nearbyint(bar.barLeft + std::max(0.0, span) * r));
        // Halves round to the even integer (nearbyint, not std::round): the colour of a bar at an
        // exact half depends on it.
        bar.colour = {static_cast<int>(std::nearbyint(255 - 55 * r)), static_cast<int>(std::nearbyint(200 - 200 * r)),
                      static_cast<int>(std::nearbyint(155 - 155 * r))};
        bar.label = ValueLabel(rows[i].value, measure);
        bar.labelX = surfaceWidth - 50;
        out.bars.push_back(std::move(bar));
    }
    return out;
}

std::optional<xml::Document> LoadStatistics(const std::filesystem::path& programFolder,
                                            program::MessageService& messages)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (engine::lower(it->path().filename().string()) != "stat.xml")
            continue;
        if (auto doc = program::CaricaXML(it->path(), messages))
            return doc;
        return xml::Document();
    }
    return std::nullopt;
}

} // namespace zs::dialogs
