#include "flatui/core/FlatGridControl.h"

#include "automation/AutomationError.h"
#include "text/ItalianFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;
namespace err = automation::err;

namespace {
constexpr std::int32_t kMax16 = 32767;
constexpr std::int32_t kDefaultWidth = 80;
constexpr std::int32_t kDefaultHeight = 20;
} // namespace

FlatGridControl::FlatGridControl()
{
    // On creation both counts are 0: the tables hold one entry each.
    resizeTables(false);
}

// ---- properties -------------------------------------------------------------------------

void FlatGridControl::setCols(std::int32_t n)
{
    m_cols = n;
    resizeTables(false);
    notify("cols");
    Refresh();
}

void FlatGridControl::setRows(std::int32_t n)
{
    m_rows = n;
    resizeTables(true);
    notify("rows");
    Refresh();
}

void FlatGridControl::setFixedrows(std::int32_t n)
{
    m_fixedRows = n;
    m_topRow = n + 1;
    notify("fixedRows");
    Refresh();
}

void FlatGridControl::setFixedcols(std::int32_t n)
{
    m_fixedCols = n;
    m_leftCol = n + 1;
    notify("fixedCols");
    Refresh();
}

// ---- tables -------------------------------------------------------------------------------

void FlatGridControl::checkCounts() const
{
    // The counts run in 16-bit loops.
    if (m_rows > kMax16 || m_cols > kMax16 || m_fixedRows > kMax16 || m_fixedCols > kMax16)
        throw AutomationError(err::kOverflow);
}

void FlatGridControl::resizeTables(bool keep)
{
    checkCounts();
    const std::size_t newRows = rowCap();
    const std::size_t newCols = colCap();
    if (keep) {
        // The cells lie row after row, so rows added or dropped at the end keep every other
        // cell where it is: a row appended costs the same however many the grid holds.
        const std::size_t oldCols = m_colWidths.size();
        if (oldCols == newCols) {
            m_values.resize(newCols * newRows);
            m_formats.resize(newCols * newRows, 0);
        } else {
            const std::size_t oldRows = m_rowHeights.size();
            std::vector<Variant> values(newCols * newRows);
            std::vector<std::int32_t> formats(newCols * newRows, 0);
            for (std::size_t r = 0; r < std::min(oldRows, newRows); ++r)
                for (std::size_t c = 0; c < std::min(oldCols, newCols); ++c) {
                    values[r * newCols + c] = std::move(m_values[r * oldCols + c]);
                    formats[r * newCols + c] = m_formats[r * oldCols + c];
                }
            m_values = std::move(values);
            m_formats = std::move(formats);
        }
        m_colWidths.resize(newCols, 0);
        m_rowHeights.resize(newRows, 0); // rows added this way stay invisible until given a height
    } else {
        m_values.assign(newCols * newRows, Variant());
        m_formats.assign(newCols * newRows, 0);
        m_colWidths.assign(newCols, 0);
        m_rowHeights.assign(newRows, 0);
        for (std::int32_t j = 1; j <= m_cols; ++j)
            m_colWidths[static_cast<std::size_t>(j - 1)] = kDefaultWidth;
        for (std::int32_t i = 1; i <= m_rows; ++i)
            m_rowHeights[static_cast<std::size_t>(i - 1)] = kDefaultHeight;
    }
    m_topRow = m_fixedRows + 1;
    m_leftCol = m_fixedCols + 1;
}

std::size_t FlatGridControl::cellIndex(std::int32_t riga, std::int32_t colonna) const
{
    if (riga < 1 || colonna < 1 || static_cast<std::size_t>(riga) > rowCap() ||
        static_cast<std::size_t>(colonna) > colCap())
        throw AutomationError(err::kSubscriptOutOfRange);
    return static_cast<std::size_t>(riga - 1) * colCap() + static_cast<std::size_t>(colonna - 1);
}

Variant FlatGridControl::GetValue(std::int32_t riga, std::int32_t colonna) const
{
    return m_values[cellIndex(riga, colonna)];
}

void FlatGridControl::SetValue(Variant value, std::int32_t riga, std::int32_t colonna)
{
    m_values[cellIndex(riga, colonna)] = std::move(value);
    Refresh();
}

typeCellFormat FlatGridControl::GetFormat(std::int32_t riga, std::int32_t colonna) const
{
    return static_cast<typeCellFormat>(m_formats[cellIndex(riga, colonna)]);
}

void FlatGridControl::SetFormat(typeCellFormat f, std::int32_t riga, std::int32_t colonna)
{
    const auto v = static_cast<std::int32_t>(f);
    if (riga == 0 && colonna > 0) {
        for (std::int32_t i = 1; i <= m_rows; ++i)
            m_formats[cellIndex(i, colonna)] = v;
    } else if (colonna == 0 && riga > 0) {
        for (std::int32_t j = 1; j <= m_cols; ++j)
            m_formats[cellIndex(riga, j)] = v;
    } else if (riga > 0 && colonna > 0) {
        m_formats[cellIndex(riga, colonna)] = v;
    }
    Refresh();
}

bool FlatGridControl::addrow(std::string_view s)
{
    setRows(m_rows + 1);
    if (!s.empty()) {
        std::int32_t col = 1;
        std::size_t start = 0;
        while (true) {
            const std::size_t tab = s.find('\t', start);
            const std::string_view field = s.substr(start, tab == std::string_view::npos ? s.npos : tab - start);
            m_values[cellIndex(m_rows, col)] = Variant(field);
            if (tab == std::string_view::npos)
                break;
            start = tab + 1;
            ++col;
        }
    }
    m_rowHeights[rowCap() - 1] = kDefaultHeight;
    Refresh();
    return false;
}

void FlatGridControl::setSize(std::vector<std::int32_t>& sizes, std::int32_t index, std::int32_t value)
{
    if (index >= 1 && static_cast<std::size_t>(index) <= sizes.size())
        sizes[static_cast<std::size_t>(index - 1)] = value;
}

std::int32_t FlatGridControl::sizeAt(const std::vector<std::int32_t>& sizes, std::int32_t index)
{
    if (index >= 1 && static_cast<std::size_t>(index) <= sizes.size())
        return sizes[static_cast<std::size_t>(index - 1)];
    return 0;
}

// ---- drawing and hit testing ----------------------------------------------------------------

void FlatGridControl::reserveRows(std::int32_t rows)
{
    if (rows <= 0)
        return;
    const std::size_t cells = static_cast<std::size_t>(rows) * colCap();
    m_values.reserve(cells);
    m_formats.reserve(cells);
    m_rowHeights.reserve(static_cast<std::size_t>(rows));
}

void FlatGridControl::setRedraw(bool on)
{
    if (m_redraw == on)
        return;
    m_redraw = on;
    if (on)
        Refresh();
}

std::string FlatGridControl::Refresh(RefreshMode mode, std::int32_t mx, std::int32_t my)
{
    checkCounts();
    if (mode == RefreshMode::refreshClick)
        return hitTest(mx, my);
    if (!m_redraw)
        return {};
    paintCells(mode == RefreshMode::refreshMouseMove, mx, my);
    return {};
}

namespace {
/// One direction of a block of cells: the rows or columns `first` to `last`, laid out from
/// `start` (pixels). A line ends the block when the next position plus the size of the line
/// just laid out passes `edge`.
struct Lines {
    bool rows;
    std::int32_t first, last;
    double start;
    double edge = std::numeric_limits<double>::infinity();
};
} // namespace

template <class Visit> FlatGridControl::CellWalk FlatGridControl::walkCells(Visit&& visit) const
{
    CellWalk walk;
    const double surfW = widthTwips() / kTwipsPerPixel;
    const double surfH = heightTwips() / kTwipsPerPixel;
    const std::int32_t fixedRows = std::min(m_fixedRows, m_rows);
    const std::int32_t fixedCols = std::min(m_fixedCols, m_cols);
    const auto sizeOf = [this](const Lines& l, std::int32_t k) { return l.rows ? heightOf(k) : widthOf(k); };

    // Visits a block line by line (`outer`), each line cell by cell (`inner`); true when the
    // visitor stopped. Rows cut off at the bottom edge make the scroll bar show.
    const auto block = [&](const Lines& outer, const Lines& inner) {
        double a = outer.start;
        for (std::int32_t i = outer.first; i <= outer.last; ++i) {
            double b = inner.start;
            for (std::int32_t j = inner.first; j <= inner.last; ++j) {
                const CellPlace p = outer.rows ? CellPlace{b, a, i, j} : CellPlace{a, b, j, i};
                if (visit(p)) {
                    walk.stopped = true;
                    walk.row = p.row;
                    walk.col = p.col;
                    return true;
                }
                b += sizeOf(inner, j);
                if (b + sizeOf(inner, j) > inner.edge) {
                    walk.overflow = walk.overflow || inner.rows;
                    break;
                }
            }
            a += sizeOf(outer, i);
            if (a + sizeOf(outer, i) > outer.edge) {
                if (outer.rows) {
                    walk.overflow = true;
                    walk.lastRow = i;
                }
                break;
            }
        }
        return false;
    };

    // The scrolling part starts right of and below the fixed columns and rows, whether or not
    // the other kind is there.
    double x0 = 2;
    for (std::int32_t j = 1; j <= fixedCols; ++j)
        x0 += widthOf(j);
    double y0 = 2;
    for (std::int32_t i = 1; i <= fixedRows; ++i)
        y0 += heightOf(i);

    const Lines fixedRowLines{true, 1, fixedRows, 2};
    const Lines fixedColLines{false, 1, fixedCols, 2};
    const Lines bodyRows{true, m_topRow, m_rows, y0, surfH};
    const Lines bodyCols{false, m_leftCol, m_cols, x0, surfW};
    if (block(fixedRowLines, fixedColLines) // corner
        || block(fixedRowLines, bodyCols)   // fixed rows
        || block(fixedColLines, bodyRows))  // fixed columns, column by column
        return walk;
    walk.lastRow = m_rows; // the scroll range counts from the body's last row shown
    block(bodyRows, bodyCols);
    return walk;
}

void FlatGridControl::updateScrollBar(const CellWalk& walk)
{
    // The scroll range is worked out only while the view is at the top.
    if (m_leftCol != m_fixedCols + 1 || m_topRow != m_fixedRows + 1)
        return;
    m_vscroll.visible = walk.overflow;
    m_vscroll.left = widthTwips() / kTwipsPerPixel - 15;
    m_vscroll.top = 0;
    m_vscroll.width = 15;
    m_vscroll.height = heightTwips() / kTwipsPerPixel;
    if (walk.overflow) {
        const std::int32_t max = m_rows - walk.lastRow;
        const std::int32_t large = walk.lastRow - m_fixedRows;
        if (max > kMax16 || large > kMax16)
            throw AutomationError(err::kOverflow);
        m_vscroll.max = max;
        m_vscroll.smallChange = 1;
        m_vscroll.largeChange = large;
    }
}

void FlatGridControl::paintCells(bool hover, double mx, double my)
{
    canvas().clear(m_outsideColor);
    const CellWalk walk = walkCells([&](const CellPlace& p) {
        const bool hot = hover && p.y < my && my < p.y + heightOf(p.row) &&
                         (m_selectionRow || (p.x < mx && mx < p.x + widthOf(p.col)));
        drawCell(p, hot);
        return false;
    });
    updateScrollBar(walk);
    finishDrawing();
}

std::string FlatGridControl::hitTest(double mx, double my)
{
    const CellWalk walk = walkCells([&](const CellPlace& p) {
        return p.y < my && my < p.y + heightOf(p.row) && p.x < mx && mx < p.x + widthOf(p.col);
    });
    if (!walk.stopped) {
        updateScrollBar(walk);
        return {};
    }
    flipIfEditable(cellIndex(walk.row, walk.col));
    return std::to_string(walk.row) + "." + std::to_string(walk.col);
}

void FlatGridControl::flipIfEditable(std::size_t idx)
{
    if (m_allowEdit && static_cast<typeCellFormat>(m_formats[idx]) == typeCellFormat::flbBoolean) {
        try {
            m_values[idx] = automation::logicalNot(m_values[idx]);
        } catch (const AutomationError&) {
            // A value with no logical form stays as it is.
        }
    }
}

void FlatGridControl::drawCell(const CellPlace& p, bool hot)
{
    const double x = p.x;
    const double y = p.y;
    const std::int32_t row = p.row;
    const std::int32_t col = p.col;
    const double w = widthOf(col);
    const double h = heightOf(row);
    const std::size_t idx = cellIndex(row, col);
    const auto format = static_cast<typeCellFormat>(m_formats[idx]);
    const bool fixed = row <= m_fixedRows || col <= m_fixedCols;
    const double b = m_borderSize;
    DisplayList& c = canvas();

    c.fillBox(x, y, x + w - b, y + h - b, hot ? m_backColorSelected : fixed ? m_backColorFixed : m_backColor);
    const Color border = fixed ? m_borderColorFixed : m_borderColor;
    if (col == 1)
        c.line(x, y, x, y + h - b, border, b);
    if (row == 1)
        c.line(x, y, x + w - b, y, border, b);
    c.fillBox(x + w - b, y, x + w - 1, y + h - b, border);
    c.fillBox(x, y + h - b, x + w - b, y + h - 1, border);

    Color textColor = fixed ? m_foreColorFixed : m_foreColor;
    if (hot) {
        try {
            textColor = m_foreColorSelected.toColor();
        } catch (const AutomationError&) {
        }
    }
    const Variant& value = m_values[idx];
    std::string text = cellText(value, format);
    if (format == typeCellFormat::flbBoolean) {
        const double bx = x + (w - 15) / 2;
        const double by = y + (h - 15) / 2;
        c.fillBox(bx, by, bx + 15, by + 15, m_backColor);
        c.box(bx, by, bx + 15, by + 15, m_borderColor, b);
        bool ticked = false;
        try {
            ticked = value.toBool();
        } catch (const AutomationError&) {
            ticked = false; // no tick for a value that is neither true nor false
        }
        if (ticked) {
            c.line(bx + 2, by + 8, bx + 6, by + 11, 0, 3);
            c.line(bx + 6, by + 10, bx + 12, by + 4, 0, 3);
        }
        text.clear();
    }
    const double tw = textMetrics().width(text, *m_font);
    const double th = textMetrics().height(text, *m_font);
    c.text(x + (w - tw) / 2, y + (h - th) / 2, std::move(text), textColor, m_font);
}

std::string FlatGridControl::cellText(const Variant& v, typeCellFormat f) const
{
    std::string text;
    try {
        text = v.toString();
    } catch (const AutomationError&) {
        return {};
    }
    switch (f) {
    case typeCellFormat::flbLongDate:
        try {
            return longDateText(v.toDate());
        } catch (const AutomationError&) {
            return text;
        }
    case typeCellFormat::flbCustom: {
        const auto bar = text.find('|');
        if (bar == std::string::npos)
            return text;
        return formatWithPattern(Variant(text.substr(0, bar)), std::string_view(text).substr(bar + 1));
    }
    default:
        return text;
    }
}

// ---- events -------------------------------------------------------------------------------

void FlatGridControl::mouseDown(int button, int shift, double x, double y)
{
    const std::string hit = Refresh(RefreshMode::refreshClick, static_cast<std::int32_t>(roundEven(x)),
                                    static_cast<std::int32_t>(roundEven(y)));
    if (hit.empty())
        return;
    const auto dot = hit.find('.');
    const auto riga = static_cast<std::int32_t>(std::stol(hit.substr(0, dot)));
    const auto colonna = static_cast<std::int32_t>(std::stol(hit.substr(dot + 1)));
    // A body cell clicked is where the keyboard goes on from.
    if (riga >= firstBodyRow() && colonna >= firstBodyCol()) {
        m_cursorRow = riga;
        m_cursorCol = colonna;
    }
    raiseClick(button, shift, riga, colonna);
}

void FlatGridControl::raiseClick(int button, int shift, std::int32_t riga, std::int32_t colonna)
{
    Variant args[] = {Variant(static_cast<std::int16_t>(button)), Variant(static_cast<std::int16_t>(shift)),
                      Variant(riga), Variant(colonna)};
    raise(ev::Click, args);
}

// ---- the keyboard's cell cursor -------------------------------------------------------------

bool FlatGridControl::placeCursor()
{
    if (firstBodyRow() > m_rows || firstBodyCol() > m_cols) {
        m_cursorRow = m_cursorCol = 0;
        return false;
    }
    if (m_cursorRow == 0 || m_cursorCol == 0) {
        m_cursorRow = firstBodyRow();
        m_cursorCol = firstBodyCol();
    }
    m_cursorRow = std::clamp(m_cursorRow, firstBodyRow(), m_rows);
    m_cursorCol = std::clamp(m_cursorCol, firstBodyCol(), m_cols);
    return true;
}

void FlatGridControl::moveCursor(std::int32_t rows, std::int32_t cols)
{
    if (!placeCursor())
        return;
    m_cursorRow =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{m_cursorRow} + rows, firstBodyRow(), m_rows));
    m_cursorCol =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{m_cursorCol} + cols, firstBodyCol(), m_cols));
    scrollIntoView(m_cursorRow);
    finishDrawing(); // the host draws the cursor over the cells
}

void FlatGridControl::pressCursor(int shift)
{
    if (!placeCursor())
        return;
    scrollIntoView(m_cursorRow);
    flipIfEditable(cellIndex(m_cursorRow, m_cursorCol));
    raiseClick(1, shift, m_cursorRow, m_cursorCol);
    Refresh();
}

double FlatGridControl::bodyTop() const
{
    double y = 2;
    for (std::int32_t i = 1; i < firstBodyRow(); ++i)
        y += heightOf(i);
    return y;
}

double FlatGridControl::bodyLeft() const
{
    double x = 2;
    for (std::int32_t j = 1; j < firstBodyCol(); ++j)
        x += widthOf(j);
    return x;
}

std::int32_t FlatGridControl::pageRows() const
{
    const double room = heightTwips() / kTwipsPerPixel - bodyTop();
    std::int32_t n = 0;
    double used = 0;
    for (std::int32_t r = m_topRow; r <= m_rows && used + heightOf(r) <= room; ++r, ++n)
        used += heightOf(r);
    return std::max(n, 1);
}

void FlatGridControl::scrollIntoView(std::int32_t row)
{
    // The highest top row that still shows `row` whole (or `row` itself when it is taller
    // than the view), kept within the scroll bar's range.
    std::int32_t top = m_topRow;
    if (row < m_topRow) {
        top = row;
    } else {
        const double room = heightTwips() / kTwipsPerPixel - bodyTop();
        std::int32_t first = row;
        double used = heightOf(row);
        while (first - 1 >= m_topRow && used + heightOf(first - 1) <= room)
            used += heightOf(--first);
        if (first == m_topRow)
            return; // shown whole already
        top = first;
    }
    std::int32_t value = top - m_fixedRows - 1;
    if (m_vscroll.visible)
        value = std::min(value, m_vscroll.max);
    value = std::max(value, 0);
    if (value + m_fixedRows + 1 != m_topRow)
        scrolled(value);
}

std::optional<FlatGridControl::CellRect> FlatGridControl::cursorRect() const
{
    if (m_cursorRow < firstBodyRow() || m_cursorRow > m_rows || m_cursorCol < firstBodyCol() || m_cursorCol > m_cols ||
        m_cursorRow < m_topRow || m_cursorCol < m_leftCol)
        return std::nullopt;
    const double bottom = heightTwips() / kTwipsPerPixel;
    double y = bodyTop();
    for (std::int32_t r = m_topRow; r < m_cursorRow; ++r) {
        y += heightOf(r);
        if (y >= bottom)
            return std::nullopt;
    }
    double x = bodyLeft();
    for (std::int32_t c = m_leftCol; c < m_cursorCol; ++c)
        x += widthOf(c);
    if (y >= bottom || x >= widthTwips() / kTwipsPerPixel)
        return std::nullopt;
    return CellRect{x, y, static_cast<double>(widthOf(m_cursorCol)), static_cast<double>(heightOf(m_cursorRow))};
}

void FlatGridControl::mouseMove(int button, int shift, double x, double y)
{
    Refresh(RefreshMode::refreshMouseMove, static_cast<std::int32_t>(roundEven(x)),
            static_cast<std::int32_t>(roundEven(y)));
    raiseMouse(ev::MouseMove, button, shift, x, y);
}

void FlatGridControl::scrolled(int value)
{
    m_vscroll.value = value;
    m_topRow = value + m_fixedRows + 1;
    Refresh();
}

// ---- persistence --------------------------------------------------------------------------

void FlatGridControl::initProperties()
{
    m_backColor = 0xFFFFFFu;
    m_foreColor = 0;
    m_enabled = false;
    m_font = ambientFont();
    m_backColorFixed = 0xDCB478u;
    m_borderColorFixed = 0xFFFFFFu;
    m_borderColor = 0xC0C0C0u;
    m_foreColorFixed = 0xFFFFFFu;
    m_fontSizeFixed = 9;
    m_backColorSelected = 0xFFu;
    m_foreColorSelected = automation::colorVariant(0xFFFFFFu);
    m_borderSize = 2;
    m_cols = 3;
    m_rows = 2;
    m_col = 0;
    m_row = 0;
    m_fixedRows = 1;
    m_fixedCols = 1;
    m_selectionRow = false;
    m_allowEdit = false;
    resizeTables(false);
}

void FlatGridControl::readProperties(const automation::PropertyBag& bag)
{
    m_backColor = readColor(bag, "BackColor", 0xFFFFFFu);
    m_foreColor = readColor(bag, "ForeColor", 0);
    m_enabled = bag.read("Enabled", Variant(false)).toBool();
    m_font = readFont(bag, "Font");
    m_backColorFixed = readColor(bag, "BackColorFixed", 0xDCB478u);
    m_borderColorFixed = readColor(bag, "BorderColorFixed", 0xFFFFFFu);
    m_borderColor = readColor(bag, "BorderColor", 0xC0C0C0u);
    m_foreColorFixed = readColor(bag, "ForeColorFixed", 0xFFFFFFu);
    m_fontSizeFixed = bag.read("FontSizeFixed", Variant(9)).toInt32();
    m_backColorSelected = readColor(bag, "BackColorSelected", 0xFFu);
    m_foreColorSelected = bag.read("ForeColorSelected", automation::colorVariant(0xFFFFFFu));
    m_borderSize = bag.read("BorderSize", Variant(2)).toInt32();
    m_cols = bag.read("cols", Variant(3)).toInt32();
    m_rows = bag.read("rows", Variant(2)).toInt32();
    m_col = bag.read("col", Variant(0)).toInt32();
    m_row = bag.read("row", Variant(0)).toInt32();
    m_fixedRows = bag.read("fixedRows", Variant(1)).toInt32();
    m_fixedCols = bag.read("fixedCols", Variant(1)).toInt32();
    resizeTables(false);
    m_selectionRow = bag.read("SelectionRow", Variant(false)).toBool();
    m_allowEdit = bag.read("AllowEdit", Variant(false)).toBool();
    m_outsideColor = readColor(bag, "OutsideColor", 0x80000005u);
}

void FlatGridControl::writeProperties(automation::PropertyBag& bag) const
{
    writeColor(bag, "BackColor", m_backColor, 0xFFFFFFu);
    writeColor(bag, "ForeColor", m_foreColor, 0);
    bag.write("Enabled", Variant(m_enabled), Variant(false));
    writeFont(bag, "Font", m_font);
    writeColor(bag, "BackColorFixed", m_backColorFixed, 0xDCB478u);
    writeColor(bag, "BorderColorFixed", m_borderColorFixed, 0xFFFFFFu);
    writeColor(bag, "BorderColor", m_borderColor, 0xC0C0C0u);
    writeColor(bag, "ForeColorFixed", m_foreColorFixed, 0xFFFFFFu);
    bag.write("FontSizeFixed", Variant(m_fontSizeFixed), Variant(9));
    writeColor(bag, "BackColorSelected", m_backColorSelected, 0xFFu);
    bag.write("ForeColorSelected", m_foreColorSelected, automation::colorVariant(0xFFFFFFu));
    bag.write("BorderSize", Variant(m_borderSize), Variant(2));
    bag.write("cols", Variant(m_cols), Variant(3));
    bag.write("rows", Variant(m_rows), Variant(2));
    bag.write("col", Variant(m_col), Variant(0));
    bag.write("row", Variant(m_row), Variant(0));
    bag.write("fixedRows", Variant(m_fixedRows), Variant(1));
    bag.write("fixedCols", Variant(m_fixedCols), Variant(1));
    bag.write("SelectionRow", Variant(m_selectionRow), Variant(false));
    bag.write("AllowEdit", Variant(m_allowEdit), Variant(false));
    writeColor(bag, "OutsideColor", m_outsideColor, 0x80000005u);
}

// ---- formats ------------------------------------------------------------------------------

std::string longDateText(const time::DateTime& d)
{
    return std::string(text::dayName(d.weekday())) + " " + std::to_string(d.day) + " " +
           std::string(text::monthName(d.month)) + " " + std::to_string(d.year);
}

std::string formatWithPattern(const Variant& value, std::string_view pattern)
{
    const bool numeric = !pattern.empty() && pattern.find_first_not_of("0#.,%") == std::string_view::npos;
    if (numeric) {
        double v = 0;
        try {
            v = value.toDouble();
        } catch (const AutomationError&) {
            return value.toString();
        }
        const bool percent = pattern.find('%') != std::string_view::npos;
        if (percent)
            v *= 100;
        const auto dot = pattern.find('.');
        const int decimals =
            dot == std::string_view::npos
                ? 0
                : static_cast<int>(pattern.substr(dot + 1).find_first_not_of("0#") == std::string_view::npos
                                       ? pattern.size() - dot - 1 - (percent ? 1 : 0)
                                       : pattern.substr(dot + 1).find_first_not_of("0#"));
        std::string out = text::formatNumber(v, decimals);
        const bool grouping =
            pattern.find(',') != std::string_view::npos && (dot == std::string_view::npos || pattern.find(',') < dot);
        if (grouping) {
            const auto comma = out.find(',');
            std::size_t end = comma == std::string::npos ? out.size() : comma;
            const std::size_t begin = out[0] == '-' ? 1 : 0;
            for (std::size_t p = end; p > begin + 3; p -= 3)
                out.insert(p - 3, ".");
        }
        return percent ? out + "%" : out;
    }
    time::DateTime d;
    try {
        d = value.toDate();
    } catch (const AutomationError&) {
        return value.toString();
    }
    std::string out;
    const auto two = [](int n) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02d", n);
        return std::string(buf);
    };
    for (std::size_t i = 0; i < pattern.size();) {
        std::size_t n = 1;
        while (i + n < pattern.size() && pattern[i + n] == pattern[i])
            ++n;
        const char ch = pattern[i];
        if (ch == 'd')
            out += n == 1   ? std::to_string(d.day)
                   : n == 2 ? two(d.day)
                   : n == 3 ? std::string(text::dayName(d.weekday()).substr(0, 3))
                            : std::string(text::dayName(d.weekday()));
        else if (ch == 'm')
            out += n == 1   ? std::to_string(d.month)
                   : n == 2 ? two(d.month)
                   : n == 3 ? std::string(text::monthName(d.month).substr(0, 3))
                            : std::string(text::monthName(d.month));
        else if (ch == 'y')
            out += n <= 2 ? two(d.year % 100) : std::to_string(d.year);
        else if (ch == 'h')
            out += n == 1 ? std::to_string(d.hour) : two(d.hour);
        else if (ch == 'n')
            out += n == 1 ? std::to_string(d.minute) : two(d.minute);
        else if (ch == 's')
            out += n == 1 ? std::to_string(d.second) : two(d.second);
        else
            out.append(n, ch);
        i += n;
    }
    return out;
}

} // namespace zs::flatui

// ---- dispatch -----------------------------------------------------------------------------

namespace zs::flatui {

namespace {
using G = FlatGridControl;
} // namespace

const automation::DispatchTable& FlatGridControl::dispatchTable() const
{
    using automation::colorVariant;
    using automation::optionalArg;
    using automation::requiredArg;
    static const automation::DispatchTable table =
        withStandardEvents(automation::DispatchTableBuilder<G>("FlatGridControl"), 4)
            .property(
                0x68030013, "BackColor", "BackColor", [](G& g) { return colorVariant(g.BackColor()); },
                [](G& g, const Variant& v) { g.setBackColor(v.toColor()); })
            .property(
                0x68030012, "ForeColor", "ForeColor", [](G& g) { return colorVariant(g.ForeColor()); },
                [](G& g, const Variant& v) { g.setForeColor(v.toColor()); })
            .property(
                0x68030011, "enabled", "Enabled", [](G& g) { return Variant(g.enabled()); },
                [](G& g, const Variant& v) { g.setEnabled(v.toBool()); })
            .property(
                automation::kDispIdFont, "Font", "Font", [](G& g) { return objectVariant(g.Font()); },
                [](G& g, const Variant& v) { g.setFont(fontFrom(v)); })
            .property(
                0x68030010, "BackColorFixed", "BackColorFixed", [](G& g) { return colorVariant(g.BackColorFixed()); },
                [](G& g, const Variant& v) { g.setBackColorFixed(v.toColor()); })
            .property(
                0x6803000F, "BorderColorFixed", "BorderColorFixed",
                [](G& g) { return colorVariant(g.BorderColorFixed()); },
                [](G& g, const Variant& v) { g.setBorderColorFixed(v.toColor()); })
            .property(
                0x6803000E, "BorderColor", "BorderColor", [](G& g) { return colorVariant(g.BorderColor()); },
                [](G& g, const Variant& v) { g.setBorderColor(v.toColor()); })
            .property(
                0x6803000D, "ForeColorFixed", "ForeColorFixed", [](G& g) { return colorVariant(g.ForeColorFixed()); },
                [](G& g, const Variant& v) { g.setForeColorFixed(v.toColor()); })
            .property(
                0x6803000C, "FontSizeFixed", "FontSizeFixed", [](G& g) { return Variant(g.FontSizeFixed()); },
                [](G& g, const Variant& v) { g.setFontSizeFixed(v.toInt32()); })
            .property(
                0x6803000B, "BackColorSelected", "BackColorSelected",
                [](G& g) { return colorVariant(g.BackColorSelected()); },
                [](G& g, const Variant& v) { g.setBackColorSelected(v.toColor()); })
            .property(
                0x6803000A, "ForeColorSelected", "ForeColorSelected", [](G& g) { return g.ForeColorSelected(); },
                [](G& g, const Variant& v) { g.setForeColorSelected(v); })
            .property(
                0x68030009, "BorderSize", "BorderSize", [](G& g) { return Variant(g.BorderSize()); },
                [](G& g, const Variant& v) { g.setBorderSize(v.toInt32()); })
            .property(
                0x68030008, "cols", "cols", [](G& g) { return Variant(g.cols()); },
                [](G& g, const Variant& v) { g.setCols(v.toInt32()); })
            .property(
                0x68030007, "rows", "rows", [](G& g) { return Variant(g.rows()); },
                [](G& g, const Variant& v) { g.setRows(v.toInt32()); })
            .property(
                0x68030006, "col", "col", [](G& g) { return Variant(g.col()); },
                [](G& g, const Variant& v) { g.setCol(v.toInt32()); })
            .property(
                0x68030005, "row", "row", [](G& g) { return Variant(g.row()); },
                [](G& g, const Variant& v) { g.setRow(v.toInt32()); })
            .property(
                0x68030004, "fixedrows", "fixedRows", [](G& g) { return Variant(g.fixedrows()); },
                [](G& g, const Variant& v) { g.setFixedrows(v.toInt32()); })
            .property(
                0x68030003, "fixedcols", "fixedCols", [](G& g) { return Variant(g.fixedcols()); },
                [](G& g, const Variant& v) { g.setFixedcols(v.toInt32()); })
            .property(
                0x68030002, "SelectionRow", "SelectionRow", [](G& g) { return Variant(g.SelectionRow()); },
                [](G& g, const Variant& v) { g.setSelectionRow(v.toBool()); })
            .property(
                0x68030001, "AllowEdit", "AllowEdit", [](G& g) { return Variant(g.AllowEdit()); },
                [](G& g, const Variant& v) { g.setAllowEdit(v.toBool()); })
            .property(
                0x68030000, "OutsideColor", "OutsideColor", [](G& g) { return colorVariant(g.OutsideColor()); },
                [](G& g, const Variant& v) { g.setOutsideColor(v.toColor()); })
            .method(0x60030021, "GetValue",
                    [](G& g, std::span<Variant> a) {
                        return g.GetValue(requiredArg(a, 0).toInt32(), requiredArg(a, 1).toInt32());
                    })
            .method(0x60030022, "SetValue",
                    [](G& g, std::span<Variant> a) {
                        g.SetValue(requiredArg(a, 0), requiredArg(a, 1).toInt32(), requiredArg(a, 2).toInt32());
                        return Variant();
                    })
            .method(0x60030023, "GetFormat",
                    [](G& g, std::span<Variant> a) {
                        return Variant(static_cast<std::int32_t>(
                            g.GetFormat(requiredArg(a, 0).toInt32(), requiredArg(a, 1).toInt32())));
                    })
            .method(0x60030024, "SetFormat",
                    [](G& g, std::span<Variant> a) {
                        g.SetFormat(static_cast<typeCellFormat>(requiredArg(a, 0).toInt32()),
                                    optionalArg(a, 1, Variant(0)).toInt32(), optionalArg(a, 2, Variant(0)).toInt32());
                        return Variant();
                    })
            .method(0x60030025, "addrow",
                    [](G& g, std::span<Variant> a) { return Variant(g.addrow(requiredArg(a, 0).toString())); })
            .method(0x60030026, "Refresh",
                    [](G& g, std::span<Variant> a) {
                        return Variant(g.Refresh(static_cast<RefreshMode>(optionalArg(a, 0, Variant(0)).toInt32()),
                                                 optionalArg(a, 1, Variant(0)).toInt32(),
                                                 optionalArg(a, 2, Variant(0)).toInt32()));
                    })
            .method(0x6003002B, "setColWidth",
                    [](G& g, std::span<Variant> a) {
                        g.setColWidth(requiredArg(a, 0).toInt32(), requiredArg(a, 1).toInt32());
                        return Variant();
                    })
            .method(0x6003002C, "getColWidth",
                    [](G& g, std::span<Variant> a) { return Variant(g.getColWidth(requiredArg(a, 0).toInt32())); })
            .method(0x6003002D, "setRowHeight",
                    [](G& g, std::span<Variant> a) {
                        g.setRowHeight(requiredArg(a, 0).toInt32(), requiredArg(a, 1).toInt32());
                        return Variant();
                    })
            .method(0x6003002E, "getRowHeight",
                    [](G& g, std::span<Variant> a) { return Variant(g.getRowHeight(requiredArg(a, 0).toInt32())); })
            .build();
    return table;
}

} // namespace zs::flatui
