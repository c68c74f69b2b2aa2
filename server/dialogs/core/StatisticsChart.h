#pragma once
// The statistics page's bar chart without its window: rows from stat.xml for the steps of the
// step tree, the bars' lengths, colours and labels, the surface height and the scroll range.
// The window paints what this computes.

#include "program/ProgramLog.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zs::engine {
class StepTree;
}
namespace zs::xml {
class Document;
}
namespace zs::program {
class MessageService;
}

namespace zs::dialogs {

/// The option buttons optStatistiche 0, 1 and 2; None when no button is chosen.
enum class StatMeasure { None = -1, LastTime = 0, Average = 1, Times = 2 };

struct ChartRow {
    std::string name;
    double value = 0;
};

/// The rows in step-tree order: for each step the last `modulo` of exactly its name.
std::vector<ChartRow> ChartRows(const xml::Document& stat, const engine::StepTree& tree, StatMeasure measure);

/// The leading number of a text ("12.5s" gives 12.5, no number gives 0), '.' as the point.
double leadingNumber(const std::string& text);

/// "2,0 min." for times (seconds shown in minutes, system decimal sign), "7 volte" for counts.
std::string ValueLabel(double value, StatMeasure measure);

struct ChartBar {
    std::string name;
    int y = 0;
    int barLeft = 0;
    int barRight = 0;
    program::Rgb colour;
    std::string label;
    int labelX = 0;
};

struct ChartLayout {
    int surfaceHeight = 20;
    bool scrollVisible = false;
    int scrollMax = 0;
    std::vector<ChartBar> bars;
};

/// The chart's geometry on a surface `surfaceWidth` wide inside a frame `frameHeight` high;
/// `textWidth` measures a name on the surface. A largest value of 0 draws every bar empty.
ChartLayout LayoutChart(const std::vector<ChartRow>& rows, StatMeasure measure, int surfaceWidth, int frameHeight,
                        const std::function<int(const std::string&)>& textWidth);

/// Loads the program folder's stat.xml (its name matched without regard to case). Nothing
/// when there is no such file; a file that does not parse is reported through `messages` and
/// gives an empty document, so the chart is drawn empty.
std::optional<xml::Document> LoadStatistics(const std::filesystem::path& programFolder,
                                            program::MessageService& messages);

} // namespace zs::dialogs
