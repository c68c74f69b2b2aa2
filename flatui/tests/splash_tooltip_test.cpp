#include "TestSite.h"
#include "automation/AutomationError.h"
#include "flatui/core/SplashControl.h"
#include "flatui/core/ToolTipControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

using namespace zs::flatui;
using namespace zs::flatui::test;

namespace {

class FakeSplashHost : public FakeEffectClock<SplashHost> {
  public:
    FakeSplashHost()
        : FakeEffectClock(5000)
    {}
    bool canCopy = true;
    std::array<int, 4> copied{};
    std::vector<double> opacities;
    double parentWidthTwips() override { return 5985; }
    double parentHeightTwips() override { return 4455; }
    double screenWidthTwips() override { return 15360; }
    double screenHeightTwips() override { return 11520; }
    PictureRef copyDesktop(int x, int y, int w, int h) override
    {
        copied = {x, y, w, h};
        return canCopy ? std::make_shared<Picture>(w, h) : nullptr;
    }
    void setParentVisible(bool) override {}
    void refreshParent() override {}
    void setParentOpacity(double o) override { opacities.push_back(o); }
};

PictureRef splashPicture()
{
    return std::make_shared<Picture>(399, 297, 0xFF102030u);
}

} // namespace

TEST(Splash, DesktopOffsetOfACentredParent)
{
    EXPECT_EQ(SplashControl::desktopOffset(5985, 4455, 15360, 11520), std::make_pair(312, 235));
    FakeSplashHost host;
    SplashControl s;
    s.setHost(&host);
    s.go2(splashPicture(), 0);
    EXPECT_EQ(host.copied, (std::array<int, 4>{312, 235, 399, 297}));
}

TEST(Splash, Go2FrameScheduleOnAFastMachine)
{
    FakeSplashHost host;
    SplashControl s;
    s.setHost(&host);
    s.go2(splashPicture(), 1500);
    const auto& f = s.frames();
    const auto& t = s.frameTimes();
    ASSERT_EQ(f.size(), 76u); // frames every 20 ms from 0 to 1480, then the final one
    for (std::size_t i = 0; i + 1 < f.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(t[i], static_cast<std::int64_t>(20 * i));
        // Each frame shows the opacity worked out after the previous one.
        const double a = i == 0 ? 0 : std::floor((20.0 * static_cast<double>(i - 1)) * 255 / 1500);
        EXPECT_EQ(f[i], static_cast<int>(a));
    }
    EXPECT_EQ(f.back(), 255);
    EXPECT_EQ(t.back(), 1500);
}

TEST(Splash, Go2SlowFirstFramesAndZeroTime)
{
    struct Case {
        const char* name;
        int firstFrameMs;
        int timems;
        std::vector<int> frames;
        std::int64_t lastAt;
    };
    const Case cases[] = {
        {"first frame 400 ms: plain until the time is up", 400, 1500, {0, 255}, 1500},
        {"first frame longer than the fade: no wait", 2000, 1500, {0, 255}, 2000},
        {"zero time shows the picture at once", 0, 0, {255}, 0},
        {"negative time too", 0, -5, {255}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSplashHost host;
        host.onPump = [&](int n) {
            if (n == 2)
                host.now += c.firstFrameMs; // the pump after the first frame
        };
        SplashControl s;
        s.setHost(&host);
        s.go2(splashPicture(), c.timems);
        EXPECT_EQ(s.frames(), c.frames);
        EXPECT_EQ(s.frameTimes().back(), c.lastAt);
    }
}

TEST(Splash, GoMeasuresItsStep)
{
    struct Case {
        const char* name;
        int frameMs; // cost of each of the first two frames
        std::size_t frames;
        int last;
    };
    const Case cases[] = {
        {"80 ms: step 5.1", 40, 52, 251},
        {"400 ms: step capped at 10", 200, 3 + 25, 252},
        {"a clock that never moves still ends", 0, 3 + 1 + 25, 252},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSplashHost host;
        host.now = 0;
        host.onPump = [&](int n) {
            if (n == 2 || n == 3)
                host.now += c.frameMs;
        };
        SplashControl s;
        s.setHost(&host);
        s.go(splashPicture());
        EXPECT_EQ(s.frames().size(), c.frames);
        EXPECT_EQ(s.frames().back(), c.last);
        EXPECT_LT(s.frames().back(), 255); // no final frame at full opacity
    }
}

TEST(Splash, WithoutADesktopCopyTheWindowOpacityRises)
{
    FakeSplashHost host;
    host.canCopy = false;
    SplashControl s;
    s.setHost(&host);
    s.go2(splashPicture(), 200);
    ASSERT_FALSE(host.opacities.empty());
    EXPECT_EQ(host.opacities.front(), 0.0);
    EXPECT_EQ(host.opacities.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(host.opacities.begin(), host.opacities.end()));
    EXPECT_EQ(s.parentSurface().opsOfKind(DrawOp::Kind::Image).size(), 1u);
}

TEST(Splash, DispatchIds)
{
    SplashControl s;
    EXPECT_EQ(s.dispatchTable().find(0x60030000)->name, "go2");
    EXPECT_EQ(s.dispatchTable().find(0x60030001)->name, "go");
    EXPECT_TRUE(s.dispatchTable().events().empty());
    FakeSplashHost host;
    s.setHost(&host);
    std::vector<Variant> args{pictureVariant(splashPicture())}; // timems defaults to 1500
    ASSERT_TRUE(s.dispatchTable().invoke(s, 0x60030000, InvokeKind::Method, args));
    EXPECT_EQ(s.frameTimes().back(), 1500);
}

// ---- tool tip ---------------------------------------------------------------------------------

namespace {

class FakeTipHost : public ToolTipHost {
  public:
    PointF cursor{100, 100};
    int cursorReads = 0;
    std::vector<bool> cursorStates;
    bool windowVisible = false;
    int interval = 0;
    bool enabled = false;
    PointF movedTo;
    PointF cursorPos() override
    {
        ++cursorReads;
        return cursor;
    }
    std::pair<int, int> containerSize() override { return {400, 300}; }
    void moveControl(double x, double y) override { movedTo = {x, y}; }
    void resizeControl(double, double) override {}
    void setShape(const TipShape&) override {}
    void setWindowVisible(bool v) override { windowVisible = v; }
    void setCursorVisible(bool v) override { cursorStates.push_back(v); }
    void timerChanged(int ms, bool on) override
    {
        interval = ms;
        enabled = on;
    }
};

const FixedPitchMetrics kMetrics; // 105 twips a character, lines 195 twips
const FontSpec kFont;

} // namespace

TEST(ToolTip, DispatchIdsBagNamesAndDefaults)
{
    ToolTipControl t;
    t.initProperties();
    const PropertyRow rows[] = {
        {"srcX", 0x6803000C, "srcX", Variant(0)},
        {"srcY", 0x6803000B, "srcY", Variant(0)},
        {"Text", 0x6803000A, "Text", Variant("")},
        {"srcHdc", 0x68030009, "srcHdc", Variant(0)},
        {"BackColor", 0x68030008, "BackColor", zs::automation::colorVariant(0x8000000F)},
        {"Interval", 0x68030007, "", Variant(0)},
        {"TimerEnabled", 0x68030006, "", Variant(false)},
        {"Appearance", 0x68030005, "Appearance", Variant(0)},
        {"opacity", 0x68030004, "opacity", Variant(64)},
        {"tooltipLeft", 0x68030003, "tooltipLeft", Variant(0)},
        {"tooltipTop", 0x68030002, "tooltipTop", Variant(0)},
        {"withAlarm", 0x68030001, "withAlarm", Variant(false)},
        {"wordwrap", 0x68030000, "wordwrap", Variant(false)}, // a new instance; the bag's default is True
    };
    const auto& table = t.dispatchTable();
    zs::flatui::test::expectProperties(t, rows);
    EXPECT_EQ(table.find(0x6003000D)->name, "Hide");
    EXPECT_EQ(table.find(0x6003000E)->name, "show");
    EXPECT_EQ(table.find(0x6003000F)->name, "go");
    EXPECT_EQ(table.events().at(0).name, "Alarm");

    ToolTipControl loaded;
    loaded.readProperties(PropertyBag{});
    EXPECT_TRUE(loaded.wordwrap());
}

TEST(ToolTip, RunTimeOnlyAndPersistence)
{
    test::RecordingSite site;
    site.runMode = false;
    ToolTipControl t;
    t.setSite(&site);
    for (std::int32_t id : {0x6803000C, 0x6803000B, 0x6803000A, 0x68030009}) {
        std::vector<Variant> v{Variant(5)};
        EXPECT_EQ(t.dispatchTable().invoke(t, id, InvokeKind::Put, v).errorNumber, err::kNotPermittedAtDesignTime);
    }
    EXPECT_EQ(t.srcX(), 0);
    EXPECT_TRUE(site.changes.empty());
    t.setWordwrap(false);
    t.setWithAlarm(true);
    t.setOpacity(200);
    PropertyBag bag;
    t.writeProperties(bag);
    EXPECT_EQ(bag.names(), (std::vector<std::string>{"opacity", "withAlarm", "wordwrap"}));
    ToolTipControl back;
    back.readProperties(bag);
    EXPECT_FALSE(back.wordwrap());
    EXPECT_TRUE(back.withAlarm());
    EXPECT_EQ(back.opacity(), 200);
}

TEST(ToolTip, LayoutTable)
{
    using V = std::vector<std::string>;
    const std::string longWord(30, 'x');
    struct Case {
        const char* name;
        std::string text;
        bool wrap;
        V lines;
        double W, H;
    };
    const Case cases[] = {
        {"short text, one line", "Ciao", true, V{"Ciao"}, 4 * 105 + 300, 195 + 600},
        {"wrapped into the fixed box", "w001 w002 w003 w004 w005 w006 w007 w008 w009 w010", true,
         V{"w001 w002 w003 w004 w005", "w006 w007 w008 w009 w010"}, 3000, 1050},
        {"first word too wide", longWord + " ab", true, V{"", longWord, "ab"}, 3000, 1050},
        {"own lines", "uno\r\ndue righe", false, V{"uno", "due righe"}, 9 * 105 + 300, 2 * 195 + 600},
        {"empty, own lines", "", false, V{}, 300, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TipLayout l = layoutTip(c.text, c.wrap, kMetrics, kFont);
        EXPECT_EQ(l.lines, c.lines);
        EXPECT_EQ(l.W, c.W);
        EXPECT_EQ(l.H, c.H);
    }
}

TEST(ToolTip, FlipTable)
{
    struct Case {
        const char* name;
        int left, top;
        TipPlacement expected;
    };
    // A 3000 x 1050 tip is 200 x 70 pixels; the container is 400 x 300.
    const Case cases[] = {
        {"fits", 50, 50, {50, 50, 10, 20, false}},
        {"flips left at the right edge", 350, 50, {150, 50, -190, 20, true}},
        {"pushed up at the bottom", 50, 250, {50, 230, 10, 0, false}},
        {"exactly at the edge stays", 200, 230, {200, 230, 10, 20, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TipPlacement p = placeTip(c.left, c.top, 3000, 1050, 400, 300, 10, 20);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
        EXPECT_EQ(p.srcX, c.expected.srcX);
        EXPECT_EQ(p.srcY, c.expected.srcY);
        EXPECT_EQ(p.flippedLeft, c.expected.flippedLeft);
    }
}

TEST(ToolTip, ShapeTable)
{
    struct Case {
        const char* name;
        TipShape shape;
        double x, y;
        bool inside;
    };
    const TipShape balloon{200, 70, true, false};
    const TipShape flipped{200, 70, true, true};
    const TipShape box{200, 70, false, false};
    const Case cases[] = {
        {"balloon pointer", balloon, 5, 5, true},
        {"beside the pointer", balloon, 20, 5, false},
        {"box has no pointer", box, 5, 5, false},
        {"box top band is outside", box, 100, 10, false},
        {"body", box, 100, 50, true},
        {"rounded corner cut", box, 1, 21, false},
        {"just inside the corner", box, 10, 21, true},
        {"flipped pointer at the right", flipped, 195, 5, true},
        {"flipped: nothing at the left", flipped, 5, 5, false},
        {"below the box", box, 100, 70, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.shape.contains(c.x, c.y), c.inside);
    }
}

TEST(ToolTip, HoverCycle)
{
    FakeTipHost host;
    ToolTipControl t;
    t.setHost(&host);
    t.initProperties();
    t.setText("Avvia l'estrazione");
    t.setWordwrap(true);
    t.setInterval(500);
    t.setTimerEnabled(false);
    EXPECT_EQ(host.cursorReads, 0); // disabling records nothing
    t.setTimerEnabled(true);
    EXPECT_EQ(t.restPoint(), (PointF{100, 100}));
    host.cursor = {101, 100};
    t.timerTick(); // moved since: no tip
    EXPECT_FALSE(t.isShown());
    t.setTimerEnabled(true); // records the new rest point
    t.timerTick();
    EXPECT_TRUE(t.isShown());
    EXPECT_TRUE(host.windowVisible);
    EXPECT_EQ(host.interval, 50);
    t.setInterval(900); // ignored while shown
    EXPECT_EQ(t.Interval(), 50);
    EXPECT_EQ(host.cursorStates, (std::vector<bool>{false, true}));
    host.cursor = {120, 100};
    t.timerTick();
    EXPECT_FALSE(t.isShown());
    EXPECT_FALSE(host.enabled);
    EXPECT_FALSE(host.windowVisible);
}

TEST(ToolTip, AlarmInsteadOfATip)
{
    FakeTipHost host;
    ToolTipControl t;
    t.setHost(&host);
    t.setWithAlarm(true);
    int alarms = 0;
    t.events().connect([&](zs::automation::DispId id, std::span<Variant>) { alarms += id == 1; });
    t.timerTick();
    t.timerTick();
    EXPECT_EQ(alarms, 2);
    EXPECT_EQ(host.cursorReads, 0);
}

TEST(ToolTip, EmptyTextNeverLeavesThePointerHidden)
{
    for (bool wrap : {true, false}) {
        SCOPED_TRACE(wrap);
        FakeTipHost host;
        ToolTipControl t;
        t.setHost(&host);
        t.setWordwrap(wrap);
        t.go();
        ASSERT_FALSE(host.cursorStates.empty());
        EXPECT_TRUE(host.cursorStates.back());
    }
}
