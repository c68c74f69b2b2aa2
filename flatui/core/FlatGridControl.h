#pragma once
// The owner-drawn grid: a table of values with a display format per cell, column widths and
// row heights in pixels, fixed header rows and columns and a vertical scroll position. Refresh
// draws the visible cells (highlighting the one under the mouse) or finds the cell at a point;
// both go over the cells through one walk. A click on an editable tick box flips its value.
// A cell cursor lets the keyboard do what the mouse does: arrows move it, Space clicks it.

#include "flatui/core/ControlBase.h"
#include "flatui/core/Tavolex.h"

#include <optional>

namespace zs::flatui {

struct ScrollBarState {
    bool visible = false;
    double left = 0, top = 0, width = 15, height = 0; ///< pixels
    int min = 0, max = 0, smallChange = 1, largeChange = 1, value = 0;
};

class TAVOLEX_EXPORT FlatGridControl : public ControlBase {
  public:
    FlatGridControl();
    const automation::DispatchTable& dispatchTable() const override;

    // Properties: every let stores and notifies the bag name; the shown ones refresh.
    Color BackColor() const { return m_backColor; }
    void setBackColor(Color c) { letShown(m_backColor, c, "BackColor"); }
    Color ForeColor() const { return m_foreColor; }
    void setForeColor(Color c) { letShown(m_foreColor, c, "ForeColor"); }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool on) { let(m_enabled, on, "Enabled"); }
    const FontRef& Font() const { return m_font; }
    void setFont(FontRef f) { letShown(m_font, fontOrAmbient(std::move(f)), "Font"); }
    Color BackColorFixed() const { return m_backColorFixed; }
    void setBackColorFixed(Color c) { letShown(m_backColorFixed, c, "BackColorFixed"); }
    Color BorderColorFixed() const { return m_borderColorFixed; }
    void setBorderColorFixed(Color c) { letShown(m_borderColorFixed, c, "BorderColorFixed"); }
    Color BorderColor() const { return m_borderColor; }
    void setBorderColor(Color c) { letShown(m_borderColor, c, "BorderColor"); }
    Color ForeColorFixed() const { return m_foreColorFixed; }
    void setForeColorFixed(Color c) { let(m_foreColorFixed, c, "ForeColorFixed"); }
    std::int32_t FontSizeFixed() const { return m_fontSizeFixed; }
    void setFontSizeFixed(std::int32_t s) { letShown(m_fontSizeFixed, s, "FontSizeFixed"); }
    Color BackColorSelected() const { return m_backColorSelected; }
    void setBackColorSelected(Color c) { letShown(m_backColorSelected, c, "BackColorSelected"); }
    const automation::Variant& ForeColorSelected() const { return m_foreColorSelected; }
    void setForeColorSelected(automation::Variant v)
    {
        letShown(m_foreColorSelected, std::move(v), "ForeColorSelected");
    }
    std::int32_t BorderSize() const { return m_borderSize; }
    void setBorderSize(std::int32_t s) { letShown(m_borderSize, s, "BorderSize"); }
    std::int32_t cols() const { return m_cols; }
    void setCols(std::int32_t n); ///< rebuilds the tables empty
    std::int32_t rows() const { return m_rows; }
    void setRows(std::int32_t n); ///< keeps the contents
    std::int32_t col() const { return m_col; }
    void setCol(std::int32_t c) { letAtRunTime(m_col, c, "col"); } ///< run time only: error 387 at design time
    std::int32_t row() const { return m_row; }
    void setRow(std::int32_t r) { letAtRunTime(m_row, r, "row"); } ///< run time only: error 387 at design time
    std::int32_t fixedrows() const { return m_fixedRows; }
    void setFixedrows(std::int32_t n);
    std::int32_t fixedcols() const { return m_fixedCols; }
    void setFixedcols(std::int32_t n);
    bool SelectionRow() const { return m_selectionRow; }
    void setSelectionRow(bool on) { letShown(m_selectionRow, on, "SelectionRow"); }
    bool AllowEdit() const { return m_allowEdit; }
    void setAllowEdit(bool on) { let(m_allowEdit, on, "AllowEdit"); }
    Color OutsideColor() const { return m_outsideColor; }
    void setOutsideColor(Color c) { letShown(m_outsideColor, c, "OutsideColor"); }

    // Methods; rows and columns count from 1. Out-of-table cells fail with error 9.
    automation::Variant GetValue(std::int32_t riga, std::int32_t colonna) const;
    void SetValue(automation::Variant value, std::int32_t riga, std::int32_t colonna);
    typeCellFormat GetFormat(std::int32_t riga, std::int32_t colonna) const;
    void SetFormat(typeCellFormat f, std::int32_t riga = 0, std::int32_t colonna = 0);
    /// Appends a row from a tab-separated line; always returns false.
    bool addrow(std::string_view s);
    /// Holds the drawing back (false) while many rows are added, so each costs only its cells;
    /// true draws again, once, at once. A click still hit-tests. Not a persisted property.
    void setRedraw(bool on);
    bool redrawEnabled() const { return m_redraw; }
    /// Makes room for `rows` rows in all, so appending up to that many moves no cell.
    void reserveRows(std::int32_t rows);
    /// Draws (normal, mouse move) or hit-tests (click); the hit is "row.col", "" for none.
    std::string Refresh(RefreshMode mode = RefreshMode::refreshNormal, std::int32_t mx = 0, std::int32_t my = 0);
    /// Sizes in pixels; a let outside the table does nothing, a get there gives 0.
    void setColWidth(std::int32_t index, std::int32_t w) { setSize(m_colWidths, index, w); }
    std::int32_t getColWidth(std::int32_t index) const { return sizeAt(m_colWidths, index); }
    void setRowHeight(std::int32_t index, std::int32_t h) { setSize(m_rowHeights, index, h); }
    std::int32_t getRowHeight(std::int32_t index) const { return sizeAt(m_rowHeights, index); }

    // The keyboard's cell cursor (C++ only: not in the dispatch table, not persisted, apart
    // from `col` and `row`). It lies on a body cell, or nowhere (row and column 0).
    std::int32_t cursorRow() const { return m_cursorRow; }
    std::int32_t cursorCol() const { return m_cursorCol; }
    /// Puts the cursor on the first body cell when it lies nowhere, or back inside the table
    /// when rows or columns went; false when the table has no body cell.
    bool placeCursor();
    /// Moves the cursor by `rows` and `cols` cells, stopping at the body's edges, and scrolls
    /// its row into view.
    void moveCursor(std::int32_t rows, std::int32_t cols);
    /// Space on the cursor's cell: what a left click on it does (an editable tick box flips,
    /// Click is raised with the cell), then the grid is drawn again to show the change.
    void pressCursor(int shift);
    /// Body rows the view shows whole from its top row, at least 1: what a page key moves.
    std::int32_t pageRows() const;
    struct CellRect {
        double x = 0, y = 0, w = 0, h = 0; ///< pixels
    };
    /// Where the cursor's cell is drawn; nothing while it lies nowhere or out of view.
    std::optional<CellRect> cursorRect() const;

    std::int32_t topRow() const { return m_topRow; }
    std::int32_t leftCol() const { return m_leftCol; }
    const ScrollBarState& vscroll() const { return m_vscroll; }

    // Container notifications; positions in pixels.
    void mouseDown(int button, int shift, double x, double y);
    void mouseMove(int button, int shift, double x, double y);
    void mouseUp(int button, int shift, double x, double y) { raiseMouse(ev::MouseUp, button, shift, x, y); }
    void dblClick() { raise(ev::DblClick); }
    void keyDown(int keyCode, int shift) { raiseKey(ev::KeyDown, keyCode, shift); }
    void keyPress(int keyAscii) { raiseKey(ev::KeyPress, keyAscii, 0); }
    void keyUp(int keyCode, int shift) { raiseKey(ev::KeyUp, keyCode, shift); }
    /// The scroll bar moved (change or thumb drag).
    void scrolled(int value);

    void initProperties() override;
    void readProperties(const automation::PropertyBag& bag) override;
    void writeProperties(automation::PropertyBag& bag) const override;

  private:
    void redraw() override { Refresh(); }
    void resizeTables(bool keep);
    void checkCounts() const;
    /// A visible cell and its top-left corner in pixels.
    struct CellPlace {
        double x, y;
        std::int32_t row, col;
    };
    /// How a walk ended: at the cell the visitor stopped on, or at the end with the overflow
    /// and last body row the scroll bar is sized from.
    struct CellWalk {
        bool stopped = false;
        std::int32_t row = 0, col = 0;
        bool overflow = false;
        std::int32_t lastRow = 0;
    };
    /// Visits the visible cells in drawing order (corner, fixed rows, fixed columns, body) until
    /// `visit` returns true.
    template <class Visit> CellWalk walkCells(Visit&& visit) const;
    void paintCells(bool hover, double mx, double my);
    /// "row.col" of the cell at the point, "" for none; flips an editable tick box.
    std::string hitTest(double mx, double my);
    /// What a click does to a cell: an editable tick box takes the logical negation of its value.
    void flipIfEditable(std::size_t idx);
    /// Raises Click(button, shift, riga, colonna).
    void raiseClick(int button, int shift, std::int32_t riga, std::int32_t colonna);
    void scrollIntoView(std::int32_t row);
    std::int32_t firstBodyRow() const { return std::min(m_fixedRows, m_rows) + 1; }
    std::int32_t firstBodyCol() const { return std::min(m_fixedCols, m_cols) + 1; }
    /// The top of the scrolling rows and the left of the scrolling columns, pixels.
    double bodyTop() const;
    double bodyLeft() const;
    void updateScrollBar(const CellWalk& walk);
    void drawCell(const CellPlace& p, bool hot);
    std::string cellText(const automation::Variant& v, typeCellFormat f) const;
    std::size_t rowCap() const { return static_cast<std::size_t>(std::max(m_rows, 1)); }
    std::size_t colCap() const { return static_cast<std::size_t>(std::max(m_cols, 1)); }
    std::size_t cellIndex(std::int32_t riga, std::int32_t colonna) const; ///< throws 9
    static void setSize(std::vector<std::int32_t>& sizes, std::int32_t index, std::int32_t value);
    static std::int32_t sizeAt(const std::vector<std::int32_t>& sizes, std::int32_t index);
    std::int32_t widthOf(std::int32_t col) const { return getColWidth(col); }
    std::int32_t heightOf(std::int32_t row) const { return getRowHeight(row); }

    Color m_backColor = 0xFFFFFFu;
    Color m_foreColor = 0;
    bool m_enabled = false;
    Color m_backColorFixed = 0xDCB478u;
    Color m_borderColorFixed = 0xFFFFFFu;
    Color m_borderColor = 0xC0C0C0u;
    Color m_foreColorFixed = 0xFFFFFFu;
    std::int32_t m_fontSizeFixed = 9;
    Color m_backColorSelected = 0xFFu;
    automation::Variant m_foreColorSelected = automation::colorVariant(0xFFFFFFu);
    std::int32_t m_borderSize = 2;
    std::int32_t m_cols = 0;
    std::int32_t m_rows = 0;
    std::int32_t m_col = 0;
    std::int32_t m_row = 0;
    std::int32_t m_fixedRows = 1;
    std::int32_t m_fixedCols = 1;
    bool m_selectionRow = false;
    bool m_allowEdit = false;
    Color m_outsideColor = 0x80000005u;

    // Column-major, as the stored tables are: cell (r, c) at (c - 1) * rowCap() + (r - 1).
    bool m_redraw = true;
    std::vector<automation::Variant> m_values;
    std::vector<std::int32_t> m_formats;
    std::vector<std::int32_t> m_colWidths;
    std::vector<std::int32_t> m_rowHeights;
    std::int32_t m_topRow = 2;
    std::int32_t m_leftCol = 2;
    std::int32_t m_cursorRow = 0;
    std::int32_t m_cursorCol = 0;
    ScrollBarState m_vscroll;
};

/// The long date the grid shows: "domenica 7 marzo 2004".
std::string longDateText(const time::DateTime& d);
/// A value formatted with a number ("0.00", "#,##0") or date ("dd/mm/yyyy hh:nn") pattern.
std::string formatWithPattern(const automation::Variant& value, std::string_view pattern);

} // namespace zs::flatui
