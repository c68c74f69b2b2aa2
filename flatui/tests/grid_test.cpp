#include "TestSite.h"
#include "automation/AutomationError.h"
#include "flatui/core/FlatGridControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

using namespace zs::flatui;
using namespace zs::flatui::test;

namespace {

const PropertyRow kGridProperties[] = {
    {"BackColor", 0x68030013, "BackColor", colorVariant(0xFFFFFF)},
    {"ForeColor", 0x68030012, "ForeColor", colorVariant(0)},
    {"enabled", 0x68030011, "Enabled", Variant(false)},
    {"BackColorFixed", 0x68030010, "BackColorFixed", colorVariant(0xDCB478)},
    {"BorderColorFixed", 0x6803000F, "BorderColorFixed", colorVariant(0xFFFFFF)},
    {"BorderColor", 0x6803000E, "BorderColor", colorVariant(0xC0C0C0)},
    {"ForeColorFixed", 0x6803000D, "ForeColorFixed", colorVariant(0xFFFFFF)},
    {"FontSizeFixed", 0x6803000C, "FontSizeFixed", Variant(9)},
    {"BackColorSelected", 0x6803000B, "BackColorSelected", colorVariant(0xFF)},
    {"ForeColorSelected", 0x6803000A, "ForeColorSelected", colorVariant(0xFFFFFF)},
    {"BorderSize", 0x68030009, "BorderSize", Variant(2)},
    {"cols", 0x68030008, "cols", Variant(3)},
    {"rows", 0x68030007, "rows", Variant(2)},
    {"col", 0x68030006, "col", Variant(0)},
    {"row", 0x68030005, "row", Variant(0)},
    {"fixedrows", 0x68030004, "fixedRows", Variant(1)},
    {"fixedcols", 0x68030003, "fixedCols", Variant(1)},
    {"SelectionRow", 0x68030002, "SelectionRow", Variant(false)},
    {"AllowEdit", 0x68030001, "AllowEdit", Variant(false)},
    {"OutsideColor", 0x68030000, "OutsideColor", colorVariant(0x80000005)},
};
const std::pair<const char*, std::int32_t> kGridMethods[] = {
    {"GetValue", 0x60030021},     {"SetValue", 0x60030022},    {"GetFormat", 0x60030023},
    {"SetFormat", 0x60030024},    {"addrow", 0x60030025},      {"Refresh", 0x60030026},
    {"setColWidth", 0x6003002B},  {"getColWidth", 0x6003002C}, {"setRowHeight", 0x6003002D},
    {"getRowHeight", 0x6003002E},
};

// The cube window's grid: 5 columns, a header row, cube rows with three tick boxes.
struct CubeGrid {
    test::RecordingSite site;
    FlatGridControl grid;
    test::EventLog log;
    CubeGrid(int cubes = 2)
    {
        grid.setSite(&site);
        grid.initProperties();
        grid.resize(450 * 15, 200 * 15);
        grid.setCols(5);
        grid.setRows(1);
        grid.setFixedcols(0);
        grid.setBorderSize(1);
        grid.setAllowEdit(true);
        grid.setOutsideColor(0xFFF3EA);
        grid.setRows(0);
        grid.addrow("Cubo\tIncrementale\tAggiornamento Dati\tCompleta\tdata ultima elaborazione");
        for (int i = 1; i <= cubes; ++i) {
            grid.addrow("Vendite" + std::to_string(i) + "\tFalse\tFalse\tTrue\t");
            for (int c = 2; c <= 4; ++c)
                grid.SetFormat(typeCellFormat::flbBoolean, grid.rows(), c);
        }
        log.attach(grid);
    }
};

std::size_t tickLines(const DisplayList& d)
{
    std::size_t n = 0;
    for (const auto* op : d.opsOfKind(DrawOp::Kind::Line))
        if (op->pen == 3 && op->color == 0)
            ++n;
    return n;
}

} // namespace

TEST(FlatGrid, DispatchIdsBagNamesAndDefaults)
{
    FlatGridControl g;
    g.initProperties();
    const auto& t = g.dispatchTable();
    zs::flatui::test::expectProperties(g, kGridProperties);
    for (const auto& [name, id] : kGridMethods) {
        SCOPED_TRACE(name);
        ASSERT_NE(t.find(id), nullptr);
        EXPECT_EQ(t.find(id)->name, name);
    }
    EXPECT_EQ(t.find(-512)->bagName, "Font");
}

TEST(FlatGrid, BagRoundTripAndLetNotifications)
{
    test::RecordingSite site;
    FlatGridControl g;
    g.setSite(&site);
    g.initProperties();
    g.setFixedrows(2);
    g.setFixedcols(0);
    g.setAllowEdit(true);
    g.setOutsideColor(0xFFF3EA);
    EXPECT_EQ(site.changes, (std::vector<std::string>{"fixedRows", "fixedCols", "AllowEdit", "OutsideColor"}));
    PropertyBag bag;
    g.writeProperties(bag);
    EXPECT_EQ(bag.names(), (std::vector<std::string>{"AllowEdit", "OutsideColor", "fixedCols", "fixedRows"}));
    FlatGridControl h;
    h.readProperties(bag);
    EXPECT_EQ(h.fixedrows(), 2);
    EXPECT_EQ(h.fixedcols(), 0);
    EXPECT_EQ(h.topRow(), 3);
    EXPECT_EQ(h.cols(), 3);
    EXPECT_EQ(h.OutsideColor(), 0xFFF3EAu);
}

TEST(FlatGrid, ColAndRowOnlyAtRunTime)
{
    test::RecordingSite site;
    site.runMode = false;
    FlatGridControl g;
    g.setSite(&site);
    std::vector<Variant> args{Variant(2)};
    const auto r = g.dispatchTable().invoke(g, 0x68030006, InvokeKind::Put, args);
    EXPECT_EQ(r.errorNumber, err::kNotPermittedAtDesignTime);
    EXPECT_EQ(g.col(), 0);
    EXPECT_TRUE(site.changes.empty());
    site.runMode = true;
    EXPECT_TRUE(g.dispatchTable().invoke(g, 0x68030005, InvokeKind::Put, args));
    EXPECT_EQ(g.row(), 2);
}

TEST(FlatGrid, TablesKeepOrRebuild)
{
    FlatGridControl g;
    g.initProperties();
    g.setRows(0);
    g.addrow("a\tb");
    g.addrow("");
    EXPECT_EQ(g.rows(), 2);
    EXPECT_EQ(g.getRowHeight(1), 20);
    EXPECT_EQ(g.getRowHeight(2), 20);
    EXPECT_EQ(g.GetValue(1, 2).toString(), "b");
    g.setRows(4); // raised directly: height 0
    EXPECT_EQ(g.getRowHeight(3), 0);
    EXPECT_EQ(g.GetValue(1, 1).toString(), "a");
    g.SetFormat(typeCellFormat::flbBoolean, 0, 3);
    EXPECT_EQ(g.GetFormat(4, 3), typeCellFormat::flbBoolean);
    g.addrow("x");
    EXPECT_EQ(g.GetFormat(5, 3), typeCellFormat::flbGeneral);
    EXPECT_EQ(g.getColWidth(0), 0);
    g.setColWidth(99, 50);
    EXPECT_EQ(g.getColWidth(3), 80);
    g.setColWidth(2, 50);
    g.setCols(3); // same count, still a rebuild
    EXPECT_EQ(g.getColWidth(2), 80);
    EXPECT_TRUE(g.GetValue(1, 1).isEmpty());
    EXPECT_EQ(g.getRowHeight(3), 20);

    EXPECT_EQ(errorOf([&] { (void)g.GetValue(6, 1); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([&] { g.SetValue(Variant(1), 1, 4); }), err::kSubscriptOutOfRange);
    // More fields than columns: the row is added with the earlier fields, height 0.
    EXPECT_EQ(errorOf([&] { g.addrow("1\t2\t3\t4"); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(g.rows(), 6);
    EXPECT_EQ(g.GetValue(6, 3).toString(), "3");
    EXPECT_EQ(g.getRowHeight(6), 0);
    EXPECT_EQ(errorOf([&] { g.setRows(40000); }), err::kOverflow);
}

TEST(FlatGrid, CubeWindowTickBoxClick)
{
    CubeGrid c;
    auto& g = c.grid;
    ASSERT_EQ(g.rows(), 3);
    // Cube 1, column 2: x from 2 + 80 = 82, y from 2 + 20 = 22; the box centre.
    EXPECT_EQ(tickLines(g.surface()), 4u); // column 4 ticked in both cube rows
    g.mouseDown(1, 0, 82 + 40, 22 + 10);
    EXPECT_EQ(c.log.lines, std::vector<std::string>{"Click(1,0,2,2)"});
    EXPECT_TRUE(g.GetValue(2, 2).toBool());
    // The click only hit-tested: the old drawing stays until the next refresh.
    EXPECT_EQ(tickLines(g.surface()), 4u);
    g.Refresh();
    EXPECT_EQ(tickLines(g.surface()), 6u);
    // The window then clears the other two choices.
    g.SetValue(Variant(false), 2, 4);
    EXPECT_EQ(tickLines(g.surface()), 4u);
    // A click on a header cell reports its own numbers and flips nothing.
    c.log.lines.clear();
    g.mouseDown(1, 0, 5, 5);
    EXPECT_EQ(c.log.lines, std::vector<std::string>{"Click(1,0,1,1)"});
    // Edges are strict: x = 82 is no cell's inside.
    c.log.lines.clear();
    EXPECT_EQ(g.Refresh(RefreshMode::refreshClick, 82, 30), "");
    EXPECT_EQ(g.Refresh(RefreshMode::refreshClick, 83, 30), "2.2");
}

TEST(FlatGrid, CellDrawingColours)
{
    CubeGrid c(1);
    auto& g = c.grid;
    g.setBackColorSelected(0x0000FF);
    g.Refresh(RefreshMode::refreshMouseMove, 200, 30); // over row 2, column 3
    const auto fills = g.surface().opsOfKind(DrawOp::Kind::FillBox);
    // Every cell: back box, right edge, bottom edge (+ tick-box fill for Boolean cells).
    const auto backAt = [&](double x, double y) -> Color {
        for (const auto* op : fills)
            if (op->x1 == x && op->y1 == y)
                return op->color;
        return 0xDEAD;
    };
    EXPECT_EQ(backAt(2, 2), 0xDCB478u);    // header: fixed colour
    EXPECT_EQ(backAt(2, 22), 0xFFFFFFu);   // body
    EXPECT_EQ(backAt(162, 22), 0x0000FFu); // hot cell
    g.setSelectionRow(true);
    g.Refresh(RefreshMode::refreshMouseMove, 200, 30);
    const auto fills2 = g.surface().opsOfKind(DrawOp::Kind::FillBox);
    EXPECT_EQ(fills2[0]->kind, DrawOp::Kind::FillBox);
    int hot = 0;
    for (const auto* op : fills2)
        if (op->color == 0x0000FF)
            ++hot;
    EXPECT_EQ(hot, 5); // the whole row
}

TEST(FlatGrid, ColumnWalkUsesTheWidthJustDrawn)
{
    FlatGridControl g;
    g.initProperties();
    g.setFixedcols(0);
    g.setCols(4);
    g.resize(250 * 15, 100 * 15);
    // 2 + 80 + 80 = 162; 162 + 80 = 242 <= 250: the third fits; 242 + 80 > 250 stops.
    g.Refresh();
    std::set<double> xs;
    for (const auto* op : g.surface().opsOfKind(DrawOp::Kind::Text))
        xs.insert(op->x1);
    EXPECT_EQ(xs.size(), 3u);
    // A narrow column after a wide one is left out though it would fit.
    g.setColWidth(1, 200);
    g.setColWidth(2, 20);
    g.Refresh();
    EXPECT_EQ(g.surface().opsOfKind(DrawOp::Kind::Text).size(), 2u); // header row and body row, column 1 only
}

TEST(FlatGrid, ScrollBarRules)
{
    CubeGrid c(12); // 13 rows of 20 px in a 200 px surface
    auto& g = c.grid;
    g.Refresh();
    const auto& sb = g.vscroll();
    EXPECT_TRUE(sb.visible);
    EXPECT_EQ(sb.left, 435);
    EXPECT_EQ(sb.height, 200);
    // Rows from y0 = 22: after row i, y = 22 + 20 (i - 1); overflow when y + 20 > 200 -> i = 9.
    EXPECT_EQ(sb.max, 13 - 9);
    EXPECT_EQ(sb.largeChange, 9 - 1);
    g.scrolled(2);
    EXPECT_EQ(g.topRow(), 4);
    // Scrolled: refreshes leave the range alone.
    g.SetValue(Variant("x"), 5, 1);
    EXPECT_EQ(g.vscroll().max, 4);
    EXPECT_EQ(g.Refresh(RefreshMode::refreshClick, 10, 30), "4.1");
    // A change of rows returns to the top and the range is worked out again.
    g.setRows(5);
    EXPECT_EQ(g.topRow(), 2);
    EXPECT_FALSE(g.vscroll().visible);
}
