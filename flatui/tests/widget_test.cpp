// Renders the flat widgets offscreen and checks pixels: fills, borders and alpha blends.

#include "flatui/widgets/FlatWidgets.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <array>

using namespace zs::flatui;

namespace {

QImage render(QWidget& w)
{
    w.show();
    QApplication::processEvents();
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void expectColour(const QImage& img, int x, int y, int r, int g, int b, int tolerance = 2)
{
    const QColor c = img.pixelColor(x, y);
    SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y << " = " << c.red() << "," << c.green() << ","
                                    << c.blue());
    EXPECT_NEAR(c.red(), r, tolerance);
    EXPECT_NEAR(c.green(), g, tolerance);
    EXPECT_NEAR(c.blue(), b, tolerance);
}

/// The columns holding dark pixels (black text on a light ground), as [first, last];
/// {-1, -1} when none.
std::pair<int, int> inkColumns(const QImage& img)
{
    int first = -1;
    int last = -1;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y)
            if (qGray(img.pixel(x, y)) < 128) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

/// A 300 x 100 grid widget of n x n cells with one header row and no fixed column.
struct SquareGrid {
    explicit SquareGrid(int n)
    {
        w.resize(300, 100);
        g.setCols(n);
        g.setRows(n);
        g.setFixedcols(0);
    }
    FlatGridWidget w;
    FlatGridControl& g = w.model();
};

/// A container that lays `control` out over its whole client area, as a form's layout does.
struct Container {
    explicit Container(QWidget* control)
    {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        control->setParent(&window);
        layout->addWidget(control);
    }
    /// Shows the container at one width, then resizes it to another, as the operator does.
    void showThenResize(QSize first, QSize second)
    {
        window.resize(first);
        window.show();
        QApplication::processEvents();
        window.resize(second);
        QApplication::processEvents();
    }
    QWidget window;
};

QImage grab(QWidget& w)
{
    QApplication::processEvents();
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(Widgets, ButtonCaptionStaysCentredWhenTheContainerResizesIt)
{
    auto* w = new FlatButtonWidget;
    Container container(w);
    auto& m = w->model();
    m.setBackColor(0xFFFFFF);
    m.setForeColorNormal(0x000000);
    m.setText("Invia ora");
    m.setEnabled(true);
    const QSize sizes[] = {{180, 30}, {420, 40}, {120, 30}};
    container.showThenResize({80, 30}, sizes[0]);
    for (const QSize& s : sizes) {
        SCOPED_TRACE(testing::Message() << "width " << s.width());
        container.window.resize(s);
        const QImage img = grab(*w);
        ASSERT_EQ(img.width(), s.width());
        const auto [first, last] = inkColumns(img);
        ASSERT_GE(first, 0);
        const double middle = (first + last + 1) / 2.0;
        EXPECT_NEAR(middle, s.width() / 2.0, 2.0) << "ink from " << first << " to " << last;
        EXPECT_DOUBLE_EQ(m.widthTwips(), s.width() * 15.0);
    }
}

TEST(Widgets, GridRedrawsToItsNewSize)
{
    auto* w = new FlatGridWidget;
    Container container(w);
    auto& g = w->model();
    g.setCols(2);
    g.setRows(12); // more rows than fit: the scroll bar shows at the right edge
    g.setFixedcols(0);
    for (int r = 1; r <= 12; ++r)
        g.setRowHeight(r, 20);
    g.setOutsideColor(0x00FF00);
    container.showThenResize({200, 100}, {400, 160});
    const QImage img = grab(*w);
    ASSERT_EQ(img.width(), 400);
    auto* bar = w->findChild<QScrollBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->geometry().right(), 399);
    EXPECT_GE(bar->height(), 140);
    expectColour(img, 250, 5, 0, 255, 0); // beyond the two columns: outside colour at the new width
}

TEST(Widgets, TabStripFollowsItsNewWidth)
{
    auto* w = new FlatTabWidget;
    Container container(w);
    auto& t = w->model();
    t.setBackColor(0xFFFFFF);
    t.setBackColorTab(0x00FFFF); // yellow page
    t.setBorderColorTab(0x0000FF);
    t.setTabs(2);
    container.showThenResize({600, 200}, {800, 240});
    const QImage img = grab(*w);
    ASSERT_EQ(img.width(), 800);
    expectColour(img, 700, 200, 255, 255, 0); // the page reaches the new width and height
    expectColour(img, 798, 150, 255, 0, 0);   // right border at the new edge
    // The tabs stand at the right: tab 1 moved 200 px with the edge, so white is left behind.
    expectColour(img, 340, 30, 255, 255, 255);
    const QColor selected = img.pixelColor(540, 30);
    EXPECT_NE(selected, QColor(255, 255, 255));
}

TEST(Widgets, ButtonBlendsItsPictureByState)
{
    FlatButtonWidget w;
    w.resize(100, 30);
    auto& m = w.model();
    m.setBackColor(0xFFFFFF);
    m.setPicture(std::make_shared<Picture>(100, 30, 0xFFFF0000u)); // opaque red
    m.setEnabled(true);
    // Normal: alpha 180 over white: green and blue 255 * 75 / 255 = 75.
    expectColour(render(w), 5, 5, 255, 75, 75);
    m.mouseMove(0, 0, 10, 10); // hover: full picture
    expectColour(render(w), 5, 5, 255, 0, 0);
    m.setEnabled(false); // alpha 50: 255 * 205 / 255
    expectColour(render(w), 5, 5, 255, 205, 205);
    m.setFading(true);
    m.setText("x");
    expectColour(render(w), 5, 5, 255, 255, 255);
}

TEST(Widgets, GridFillsAndBorders)
{
    SquareGrid grid(3);
    auto& [w, g] = grid;
    g.setOutsideColor(0x00FF00);
    const QImage img = render(w);
    expectColour(img, 0, 0, 0, 255, 0);          // outside the cells
    expectColour(img, 10, 5, 0x78, 0xB4, 0xDC);  // header cell: BackColorFixed &HDCB478
    expectColour(img, 10, 30, 255, 255, 255);    // body cell
    expectColour(img, 80, 30, 0xC0, 0xC0, 0xC0); // right edge of a body cell (x + w - 2 .. x + w - 1)
    expectColour(img, 10, 40, 0xC0, 0xC0, 0xC0); // bottom edge of row 2
    expectColour(img, 80, 10, 255, 255, 255);    // header border: BorderColorFixed
    expectColour(img, 250, 5, 0, 255, 0);        // 2 + 3 * 80 = 242: nothing beyond
}

TEST(Widgets, GridTickBoxRepaints)
{
    SquareGrid grid(2);
    auto& [w, g] = grid;
    g.setAllowEdit(true);
    g.SetFormat(typeCellFormat::flbBoolean, 2, 2);
    g.SetValue(zs::automation::Variant(false), 2, 2);
    // Cell (2,2): x 82..161, y 22..41; box from (114.5, 24.5); the tick passes (120.5, 35.5).
    expectColour(render(w), 120, 34, 255, 255, 255);
    g.mouseDown(1, 0, 120, 32);
    g.Refresh();
    expectColour(render(w), 120, 34, 0, 0, 0, 60);
}

TEST(Widgets, TabStripPageAndSelectedTab)
{
    FlatTabWidget w;
    w.resize(600, 200);
    auto& t = w.model();
    t.setBackColor(0xFFFFFF);
    t.setBackColorTab(0x00FFFF); // yellow page
    t.setBorderColorTab(0x0000FF);
    t.setTabs(2);
    t.Refresh();
    const QImage img = render(w);
    expectColour(img, 300, 150, 255, 255, 0); // page fill
    expectColour(img, 1, 150, 255, 0, 0);     // left border line in BorderColorTab
    expectColour(img, 5, 5, 255, 255, 255);   // background left of the tabs
    // Tab 1 (selected by the Tabs let) is opaque at 311 px; tab 2 at 444 px is blended at alpha 128
    // over the white background.
    const QColor selected = img.pixelColor(340, 30);
    const QColor unselected = img.pixelColor(470, 30);
    EXPECT_GT(unselected.red(), selected.red());
}

/// A key pressed and released on `w` as the window system sends it; whether `w` took the press.
bool key(QWidget& w, int k, Qt::KeyboardModifiers mods = Qt::NoModifier, bool autoRepeat = false)
{
    QKeyEvent down(QEvent::KeyPress, k, mods, QString(), autoRepeat);
    QApplication::sendEvent(&w, &down);
    QKeyEvent up(QEvent::KeyRelease, k, mods, QString(), autoRepeat);
    QApplication::sendEvent(&w, &up);
    return down.isAccepted();
}

TEST(Widgets, ButtonIsPressedBySpaceOrEnterAndLetsOtherKeysGoOn)
{
    FlatButtonWidget w;
    w.resize(120, 30);
    auto& m = w.model();
    m.setEnabled(true);
    int clicks = 0;
    std::vector<int> keyDowns;
    m.events().connect([&](zs::automation::DispId id, std::span<zs::automation::Variant> args) {
        if (id == ev::Click)
            ++clicks;
        if (id == ev::KeyDown)
            keyDowns.push_back(args[0].toInt32());
    });
    EXPECT_EQ(w.focusPolicy(), Qt::StrongFocus);
    struct Case {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        bool autoRepeat;
        int clicks; // the Click events it raises
        bool taken; // whether the window around never sees it
    };
    const Case cases[] = {
        {"Space", Qt::Key_Space, Qt::NoModifier, false, 1, true},
        {"Enter", Qt::Key_Return, Qt::NoModifier, false, 1, true},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, false, 1, true},
        {"Space held down", Qt::Key_Space, Qt::NoModifier, true, 0, true},
        {"Ctrl+Enter", Qt::Key_Return, Qt::ControlModifier, false, 0, false},
        {"Escape", Qt::Key_Escape, Qt::NoModifier, false, 0, false},
        {"a letter", Qt::Key_X, Qt::NoModifier, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clicks = 0;
        keyDowns.clear();
        EXPECT_EQ(key(w, c.key, c.mods, c.autoRepeat), c.taken);
        EXPECT_EQ(clicks, c.clicks);
        EXPECT_EQ(keyDowns.size(), 1u); // the model hears every key
    }
    // Drawn disabled: no Click from the keyboard, and no key events (as with the mouse's keys).
    m.setEnabled(false);
    clicks = 0;
    keyDowns.clear();
    key(w, Qt::Key_Space);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(keyDowns.empty());
}

TEST(Widgets, FocusedButtonAndGridShowAFocusMark)
{
    QWidget window;
    window.resize(400, 200);
    auto* b = new FlatButtonWidget(&window);
    b->setGeometry(10, 10, 120, 30);
    b->model().setBackColor(0x808080);
    b->model().setEnabled(true);
    auto* g = new FlatGridWidget(&window);
    g->setGeometry(10, 60, 300, 100);
    g->model().setCols(2);
    g->model().setRows(2);
    window.show();
    QApplication::processEvents();
    window.activateWindow();
    for (QWidget* w : std::initializer_list<QWidget*>{b, g}) {
        SCOPED_TRACE(w == b ? "button" : "grid");
        w->clearFocus();
        const QImage before = grab(*w);
        w->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(w->hasFocus());
        const QImage after = grab(*w);
        // A dotted frame two pixels in: white dots and black dots along the top edge.
        int white = 0, black = 0;
        for (int x = 4; x < w->width() - 4; ++x) {
            const QRgb p = after.pixel(x, 2);
            white += qGray(p) > 240;
            black += qGray(p) < 15;
        }
        EXPECT_GT(white, 10);
        EXPECT_GT(black, 10);
        EXPECT_NE(before, after);
        w->clearFocus();
        EXPECT_EQ(grab(*w), before); // gone with the focus
    }
}

TEST(Widgets, TabStripTakesArrowKeysAsClicksOnTheNeighbouringTab)
{
    FlatTabWidget w;
    w.resize(600, 200);
    auto& t = w.model();
    t.setTabs(3);
    int clicks = 0;
    t.events().connect(
        [&](zs::automation::DispId id, std::span<zs::automation::Variant>) { clicks += id == ev::Click; });
    struct Step {
        int key;
        int selected;
        int clicks;
    };
    const Step steps[] = {
        {Qt::Key_Left, 1, 0}, {Qt::Key_Right, 2, 1}, {Qt::Key_End, 3, 2}, {Qt::Key_Right, 3, 2}, {Qt::Key_Home, 1, 3}};
    for (const Step& s : steps) {
        EXPECT_TRUE(key(w, s.key));
        EXPECT_EQ(t.IndexSelectedTab(), s.selected);
        EXPECT_EQ(clicks, s.clicks);
    }
    EXPECT_FALSE(key(w, Qt::Key_Escape));
}

namespace {

/// A mouse button pressed and released at `at` (pixels) on `w`, as the window system sends it.
void mouseClickAt(QWidget& w, QPointF at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, w.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&w, &release);
}

/// A three-tab strip whose tab k lists the host control "pagina<k>", with what its host sees:
/// the controls made visible and the events, the tab selected when Click comes. Key and mouse
/// events are kept apart, as the input itself.
struct RecordedTabStrip {
    RecordedTabStrip()
    {
        w.resize(600, 200);
        w.show(); // the strip lays its tabs out at the size it is shown
        QApplication::processEvents();
        t.setTabs(3);
        for (int k = 1; k <= 3; ++k) {
            t.setTabId(k);
            t.AddControl("pagina" + std::to_string(k));
        }
        t.setShowControl([this](std::string_view name) { effects.push_back("show " + std::string(name)); });
        t.events().connect([this](zs::automation::DispId id, std::span<zs::automation::Variant> args) {
            if (id == FlatTabControl::kShowTab)
                effects.push_back("ShowTab " + std::to_string(args[0].toInt32()));
            else if (id == ev::Click)
                effects.push_back("Click, tab " + std::to_string(t.IndexSelectedTab()));
            else
                input.push_back(id);
        });
    }
    void select(int k)
    {
        t.setTabId(k);
        t.setTabselected(true);
        effects.clear();
        input.clear();
    }
    QPointF centreOfTab(int k) const
    {
        const double w = t.Picture()->width;
        return {t.tabHitLeft(k) / kTwipsPerPixel + 0.425 * w, t.Picture()->height / 2.0};
    }
    FlatTabWidget w;
    FlatTabControl& t = w.model();
    std::vector<std::string> effects;
    std::vector<int> input;
};

} // namespace

TEST(Widgets, TabStripKeysRaiseWhatAClickOnTheirTabRaises)
{
    struct Case {
        const char* name;
        int from;
        int key;
        int to; // the tab the key chooses; 0 for none
    };
    const Case cases[] = {
        {"Left", 2, Qt::Key_Left, 1},
        {"Right", 2, Qt::Key_Right, 3},
        {"Home", 3, Qt::Key_Home, 1},
        {"End", 1, Qt::Key_End, 3},
        {"Left at the first", 1, Qt::Key_Left, 0},
        {"Right at the last", 3, Qt::Key_Right, 0},
        {"Home at the first", 1, Qt::Key_Home, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordedTabStrip byKey;
        byKey.select(c.from);
        EXPECT_TRUE(key(byKey.w, c.key));
        EXPECT_EQ(byKey.input, (std::vector<int>{ev::KeyDown, ev::KeyUp}));
        if (c.to == 0) {
            EXPECT_TRUE(byKey.effects.empty());
            EXPECT_EQ(byKey.t.IndexSelectedTab(), c.from);
            continue;
        }
        RecordedTabStrip byMouse;
        byMouse.select(c.from);
        mouseClickAt(byMouse.w, byMouse.centreOfTab(c.to));
        ASSERT_EQ(byMouse.t.IndexSelectedTab(), c.to);
        const std::string tab = std::to_string(c.to);
        const std::vector<std::string> expected{"show pagina" + tab, "ShowTab " + tab, "Click, tab " + tab};
        EXPECT_EQ(byMouse.effects, expected);
        EXPECT_EQ(byKey.effects, expected);
        EXPECT_EQ(byKey.t.IndexSelectedTab(), c.to);
        // Both strips end up drawn alike, the mouse's highlight aside: the same tab in front.
        byMouse.t.Refresh();
        EXPECT_EQ(byKey.w.grab().toImage(), byMouse.w.grab().toImage());
    }
}

TEST(Widgets, AButtonItsHostDisabledIsPassedByTab)
{
    QWidget window;
    window.resize(400, 100);
    FlatButtonWidget* buttons[3];
    for (int i = 0; i < 3; ++i) {
        buttons[i] = new FlatButtonWidget(&window);
        buttons[i]->setGeometry(10 + 130 * i, 10, 120, 30);
    }
    auto& [first, disabled, loaded] = buttons;
    first->model().setEnabled(true);
    disabled->model().setEnabled(false); // the host disabled it: drawn disabled
    // `loaded` keeps "Enabled" False from its bag but was never disabled by the host: it looks
    // normal and keeps its Tab stop.
    window.show();
    QApplication::processEvents();
    window.activateWindow();
    first->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(first->hasFocus());
    key(*first, Qt::Key_Tab);
    EXPECT_TRUE(loaded->hasFocus());
    key(*loaded, Qt::Key_Tab);
    EXPECT_TRUE(first->hasFocus());
    EXPECT_EQ(disabled->focusPolicy(), Qt::NoFocus);

    // A click on it reaches its host (Click in every state) but gives it no focus.
    int clicks = 0;
    disabled->model().events().connect(
        [&](zs::automation::DispId id, std::span<zs::automation::Variant>) { clicks += id == ev::Click; });
    mouseClickAt(*disabled, QPointF(60, 15));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(first->hasFocus());

    // Enabled again, it is a Tab stop again; disabled while it has the focus, it hands it on.
    disabled->model().setEnabled(true);
    key(*first, Qt::Key_Tab);
    ASSERT_TRUE(disabled->hasFocus());
    disabled->model().setEnabled(false);
    EXPECT_FALSE(disabled->hasFocus());
    EXPECT_TRUE(loaded->hasFocus());
    key(*loaded, Qt::Key_Tab);
    EXPECT_TRUE(first->hasFocus());
}

namespace {

/// A 300 x 100 grid of 3 columns and 12 rows of 20 pixels (one header row), column 2 editable
/// tick boxes, all clear; it records the cells its Click events name, with Button and Shift.
struct TickGrid {
    TickGrid()
    {
        w.resize(300, 100);
        g.setCols(3);
        g.setRows(12);
        g.setFixedcols(0);
        g.setAllowEdit(true);
        for (int r = 1; r <= 12; ++r) {
            g.setRowHeight(r, 20);
            if (r > 1) {
                g.SetFormat(typeCellFormat::flbBoolean, r, 2);
                g.SetValue(zs::automation::Variant(false), r, 2);
            }
        }
        g.events().connect([this](zs::automation::DispId id, std::span<zs::automation::Variant> a) {
            if (id == ev::Click)
                clicks.push_back({a[0].toInt32(), a[1].toInt32(), a[2].toInt32(), a[3].toInt32()});
        });
        w.show();
        QApplication::processEvents();
    }
    bool ticked(int r) { return g.GetValue(r, 2).toBool(); }
    FlatGridWidget w;
    FlatGridControl& g = w.model();
    std::vector<std::array<int, 4>> clicks;
};

} // namespace

TEST(Widgets, GridCellCursorMovesByArrowsAndSpaceDoesWhatAClickDoes)
{
    TickGrid keys;
    TickGrid mouse;
    auto& g = keys.g;
    keys.w.activateWindow();
    QApplication::processEvents();
    keys.w.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(keys.w.hasFocus());
    EXPECT_EQ(std::pair(g.cursorRow(), g.cursorCol()), std::pair(2, 1)); // the first body cell
    struct Step {
        int key;
        int row, col; // where the cursor is after it
    };
    const Step steps[] = {{Qt::Key_Up, 2, 1}, // never onto the header
                          {Qt::Key_Left, 2, 1},  {Qt::Key_Right, 2, 2}, {Qt::Key_Down, 3, 2},
                          {Qt::Key_Right, 3, 3}, {Qt::Key_Right, 3, 3}, {Qt::Key_Left, 3, 2}};
    for (const Step& s : steps) {
        EXPECT_TRUE(key(keys.w, s.key));
        EXPECT_EQ(std::pair(g.cursorRow(), g.cursorCol()), std::pair(s.row, s.col));
    }
    EXPECT_TRUE(keys.clicks.empty());
    EXPECT_TRUE(key(keys.w, Qt::Key_Space));
    EXPECT_TRUE(keys.ticked(3));
    key(keys.w, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_FALSE(keys.ticked(3));
    key(keys.w, Qt::Key_Space, Qt::NoModifier, true); // held down: one click only
    EXPECT_FALSE(keys.ticked(3));
    EXPECT_FALSE(key(keys.w, Qt::Key_Tab, Qt::ControlModifier)); // other keys go on to the window

    // The mouse on the same cell: the same Click, the same value.
    mouse.g.mouseDown(1, 0, 120, 52); // row 3 spans 42..61, column 2 82..161
    mouse.g.mouseDown(1, 1, 120, 52);
    EXPECT_EQ(keys.clicks, mouse.clicks);
    EXPECT_EQ(keys.clicks, (std::vector<std::array<int, 4>>{{1, 0, 3, 2}, {1, 1, 3, 2}}));
    EXPECT_EQ(keys.ticked(3), mouse.ticked(3));
    // A click moves the cursor to its cell.
    EXPECT_EQ(std::pair(mouse.g.cursorRow(), mouse.g.cursorCol()), std::pair(3, 2));

    // The cursor shows, in the highlight colour, only while the grid has the focus, and the
    // tick Space set shows at once.
    key(keys.w, Qt::Key_Space);
    auto cell = g.cursorRect();
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->y, 42);
    EXPECT_EQ(cell->x, 82);
    QImage shot = grab(keys.w);
    expectColour(shot, 84, 50, 255, 0, 0);
    expectColour(shot, 120, 55, 0, 0, 0, 60); // the tick
    keys.w.clearFocus();
    shot = grab(keys.w);
    expectColour(shot, 84, 50, 255, 255, 255);

    // Going down past the view scrolls it so that the cursor's row shows whole, scroll bar too.
    keys.w.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(g.pageRows(), 3); // 78 pixels below the header
    for (int i = 0; i < 4; ++i)
        key(keys.w, Qt::Key_Down);
    EXPECT_EQ(g.cursorRow(), 7);
    EXPECT_EQ(g.topRow(), 5);
    const auto* bar = keys.w.findChild<QScrollBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 3);
    cell = g.cursorRect();
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->y, 62);
    key(keys.w, Qt::Key_PageDown);
    key(keys.w, Qt::Key_PageDown);
    EXPECT_EQ(g.cursorRow(), 12);
    key(keys.w, Qt::Key_Space);
    EXPECT_TRUE(keys.ticked(12));
    EXPECT_EQ(keys.clicks.back(), (std::array<int, 4>{1, 0, 12, 2}));
    key(keys.w, Qt::Key_PageUp);
    key(keys.w, Qt::Key_PageUp);
    key(keys.w, Qt::Key_PageUp);
    key(keys.w, Qt::Key_PageUp);
    EXPECT_EQ(g.cursorRow(), 2);
    EXPECT_EQ(g.topRow(), 2);
    EXPECT_EQ(bar->value(), 0);

    // Rows taken away bring the cursor back inside the table.
    key(keys.w, Qt::Key_PageDown);
    g.setRows(3);
    key(keys.w, Qt::Key_Down);
    EXPECT_EQ(std::pair(g.cursorRow(), g.cursorCol()), std::pair(3, 2));
    g.setRows(1); // the header alone: no cursor, and the keys do nothing
    key(keys.w, Qt::Key_Space);
    EXPECT_EQ(g.cursorRow(), 0);
    EXPECT_FALSE(g.cursorRect());
}

TEST(Widgets, GridHomeEndAndTheirControlFormsReachTheFirstAndTheLastCell)
{
    TickGrid keys;
    auto& g = keys.g;
    keys.w.activateWindow();
    QApplication::processEvents();
    keys.w.setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(keys.w.hasFocus());
    key(keys.w, Qt::Key_Right); // column 2, so that a row move shows it keeps the column
    struct Step {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        int row, col, top; // the cursor after it, and the first body row shown
    } steps[] = {{"End: the last row", Qt::Key_End, Qt::NoModifier, 12, 2, 10},
                 {"Home: the first row", Qt::Key_Home, Qt::NoModifier, 2, 2, 2},
                 {"Ctrl+End: the last cell", Qt::Key_End, Qt::ControlModifier, 12, 3, 10},
                 {"Ctrl+Home: the first cell", Qt::Key_Home, Qt::ControlModifier, 2, 1, 2},
                 {"Ctrl+PageDown: the last row", Qt::Key_PageDown, Qt::ControlModifier, 12, 1, 10},
                 {"Ctrl+PageUp: the first row", Qt::Key_PageUp, Qt::ControlModifier, 2, 1, 2},
                 {"Shift+End as End", Qt::Key_End, Qt::ShiftModifier, 12, 1, 10},
                 {"the keypad's Home", Qt::Key_Home, Qt::KeypadModifier, 2, 1, 2}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_TRUE(key(keys.w, s.key, s.mods));
        EXPECT_EQ(std::pair(g.cursorRow(), g.cursorCol()), std::pair(s.row, s.col));
        EXPECT_EQ(g.topRow(), s.top);
        EXPECT_TRUE(g.cursorRect()); // the cursor's cell is in view
    }
    EXPECT_TRUE(keys.clicks.empty());                         // moving never ticks
    EXPECT_FALSE(key(keys.w, Qt::Key_Home, Qt::AltModifier)); // left to the window
}

TEST(Widgets, MenuDropDownOpensOverItsWindow)
{
    QWidget window;
    window.resize(400, 400);
    window.setStyleSheet("background: white;");
    auto* face = new MenuButtonWidget(&window);
    face->move(10, 10);
    face->resize(164, 30);
    auto& m = face->model();
    auto icons = std::make_shared<ImageList>();
    for (int i = 0; i < 3; ++i)
        icons->images.push_back(std::make_shared<Picture>(8, 8, 0xFF00FF00u));
    m.ImageList = icons;
    m.EventEnabled = true;
    m.style = styleEnum::styleMenu;
    m.setImageHeight(27);
    m.setSubMenuWidth(2700);
    m.setBackColor(0x000000);
    m.setColor("BackColorSel", 0x0000FF);
    m.setMenuItemsCount(2);
    m.setMenuLabels(1, "Uno");
    m.setMenuLabels(2, "Due");
    m.Intialize();
    window.show();
    QApplication::processEvents();
    m.TurnOn();
    ASSERT_NE(face->dropDown(), nullptr);
    EXPECT_TRUE(face->dropDown()->isVisible());
    EXPECT_EQ(face->dropDown()->geometry(), QRect(10, 10 + 30 - 1, 180, (555 * 2 + 105) / 15));
    const QImage img = face->dropDown()->grab().toImage();
    // Item 1 highlighted in red, with the white copy behind blended in at alpha 32.
    expectColour(img, 100, 10, 255, 32, 32, 3);
    // Outside the highlight: black over white at alpha 32.
    expectColour(img, 100, 70, 32, 32, 32, 3);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
