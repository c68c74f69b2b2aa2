#include "TestSite.h"
#include "automation/AutomationError.h"
#include "flatui/core/FlatTabControl.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace zs::flatui;
using namespace zs::flatui::test;

namespace {

const PropertyRow kTabProperties[] = {
    {"BackColor", 0x6803000D, "BackColor", colorVariant(0x8000000F)},
    {"enabled", 0x6803000C, "Enabled", Variant(true)},
    {"BackStyle", 0x6803000B, "BackStyle", Variant(0)},
    {"BorderStyle", 0x6803000A, "BorderStyle", Variant(0)},
    {"Tabs", 0x68030009, "", Variant(0)},
    {"TabId", 0x68030008, "", Variant(0)},
    {"TabCaption", 0x68030007, "", Variant("")},
    {"Tabselected", 0x68030006, "", Variant(false)},
    {"BackColorTab", 0x68030003, "BackColorTab", colorVariant(0xFF0000)},
    {"BorderColorTab", 0x68030002, "BorderColorTab", colorVariant(0xFF0000)},
    {"ForeColorSelected", 0x68030001, "ForeColorSelected", colorVariant(0xFF0000)},
    {"ForeColor", 0x68030000, "ForeColor", colorVariant(0xFFFFFF)},
};
const std::pair<const char*, std::int32_t> kTabMethods[] = {
    {"Refresh", 0x6003000E},    {"Refresh2", 0x6003000F},       {"SpezzaStringa", 0x6003001D},
    {"AddControl", 0x60030020}, {"RemoveControls", 0x60030021}, {"IndexSelectedTab", 0x60030022},
};

struct Strip {
    test::RecordingSite site;
    FlatTabControl tab;
    std::vector<std::string> log;
    test::EventLog events;
    Strip(int tabs = 4)
    {
        tab.setSite(&site);
        tab.initProperties();
        tab.resize(9000, 3000);
        tab.setTabs(tabs);
        for (int k = 1; k <= tabs; ++k) {
            tab.setTabId(k);
            tab.setTabCaption("Pagina " + std::to_string(k));
        }
        tab.setShowControl([this](std::string_view name) {
            if (name == "missing")
                throw std::runtime_error("no such control");
            log.push_back("show " + std::string(name));
        });
        events.attach(tab, &log);
    }
};

} // namespace

TEST(FlatTab, DispatchIdsBagNamesAndDefaults)
{
    FlatTabControl t;
    t.initProperties();
    const auto& table = t.dispatchTable();
    zs::flatui::test::expectProperties(t, kTabProperties);
    EXPECT_EQ(table.find(0x68030005)->bagName, "Picture");
    EXPECT_EQ(table.find(0x68030004)->bagName, "PictureBorder");
    for (const auto& [name, id] : kTabMethods)
        EXPECT_EQ(table.find(id)->name, name);
    ASSERT_EQ(table.events().size(), 9u);
    EXPECT_EQ(table.events()[8].name, "ShowTab");
    EXPECT_EQ(table.events()[8].id, 9);
}

TEST(FlatTab, GeometryAnchors)
{
    Strip s;
    // Built-in tab picture: 156 x 36 px = 2340 x 540 twips; step 1989, overlap 351.
    EXPECT_DOUBLE_EQ(s.tab.tabPictureLeft(4), 9000 - 351 - 1989);
    EXPECT_DOUBLE_EQ(s.tab.tabPictureLeft(3) - s.tab.tabPictureLeft(2), 1989);
    EXPECT_DOUBLE_EQ(s.tab.tabHitLeft(4), 7011);
    s.tab.Refresh();
    // Tab 4 is drawn at 6660 twips = 444 px.
    bool found = false;
    for (const auto* op : s.tab.surface().opsOfKind(DrawOp::Kind::AlphaBlend))
        found |= op->x1 == 444 && op->alpha == 128;
    EXPECT_TRUE(found);
    // Captions at P + 750, wrapped under 1239 twips.
    for (const auto* op : s.tab.surface().opsOfKind(DrawOp::Kind::Text))
        if (op->text == "Pagina 4") {
            EXPECT_DOUBLE_EQ(op->x1, (6660 + 750) / 15.0);
        }
}

TEST(FlatTab, HoverBandsAreStrict)
{
    Strip s;
    struct Case {
        const char* name;
        int x, y;
        bool hand;
    };
    const Case cases[] = {
        {"inside tab 4", 8000, 100, true}, {"boundary 3|4", 7011, 100, false}, {"y = 0", 8000, 0, false},
        {"y = Ht", 8000, 540, false},      {"right edge", 9000, 100, false},   {"inside tab 3", 7010, 539, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        s.tab.Refresh2(0, c.x, c.y);
        EXPECT_EQ(s.tab.handCursor(), c.hand);
    }
}

TEST(FlatTab, ClickEventOrder)
{
    Strip s;
    s.tab.setTabId(3);
    s.tab.AddControl("txtServer");
    s.tab.AddControl("missing");
    s.tab.AddControl("txtDb");
    EXPECT_EQ(s.tab.tabList()[2].ControlList, ".txtServer.missing.txtDb");
    s.events.lines.clear();
    s.tab.events().connect([&](zs::automation::DispId id, std::span<Variant>) {
        if (id == 1)
            s.log.push_back("selected in Click: " + std::to_string(s.tab.IndexSelectedTab()));
    });
    const double x = 5500, y = 200; // inside tab 3's band: 5022 .. 7011
    s.tab.mouseDown(1, 0, x, y);
    s.tab.mouseUp(1, 0, x, y);
    s.tab.click();
    EXPECT_EQ(s.log,
              (std::vector<std::string>{"MouseDown(1,0,5500,200)", "show txtServer", "show txtDb", "ShowTab(3,0,0,0,0)",
                                        "MouseUp(1,0,5500,200)", "Click", "selected in Click: 3"}));
    EXPECT_EQ(s.tab.TabId(), 3);
}

TEST(FlatTab, DisabledStripIgnoresMouseButNotKeys)
{
    Strip s;
    s.tab.setEnabled(false);
    s.log.clear();
    s.tab.mouseDown(1, 0, 5500, 200);
    s.tab.mouseMove(0, 0, 5500, 200);
    s.tab.click();
    s.tab.keyDown(65, 0);
    EXPECT_EQ(s.log, std::vector<std::string>{"KeyDown(65,0)"});
    EXPECT_EQ(s.tab.IndexSelectedTab(), 1);
}

TEST(FlatTab, TabListAndSelection)
{
    FlatTabControl t;
    t.setTabId(1);
    EXPECT_EQ(errorOf([&] { (void)t.TabCaption(); }), err::kSubscriptOutOfRange); // never set
    t.setTabs(0);
    EXPECT_EQ(t.TabCaption(), ""); // the single kept entry
    EXPECT_EQ(t.IndexSelectedTab(), 0);

    t.setTabs(4);
    for (int k = 1; k <= 4; ++k) {
        t.setTabId(k);
        t.setTabCaption("T" + std::to_string(k));
    }
    t.setTabId(3);
    t.setTabselected(true);
    EXPECT_EQ(t.IndexSelectedTab(), 3);
    t.setTabselected(false);
    EXPECT_EQ(t.IndexSelectedTab(), 1);
    EXPECT_FALSE(t.Tabselected());
    t.setTabId(2);
    t.setTabselected(false); // not the selected one: nothing changes
    EXPECT_EQ(t.IndexSelectedTab(), 1);

    t.setTabId(3);
    t.setTabselected(true);
    t.setTabs(6);
    EXPECT_EQ(t.IndexSelectedTab(), 1);
    t.setTabId(4);
    EXPECT_EQ(t.TabCaption(), "T4");
    t.setTabId(6);
    EXPECT_EQ(t.TabCaption(), "");
    t.setTabId(7);
    EXPECT_EQ(errorOf([&] { t.setTabselected(true); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(t.IndexSelectedTab(), 0); // the flags were cleared before the error
    t.setTabId(0);
    EXPECT_FALSE(t.Tabselected());
    t.AddControl("x"); // outside 1..Tabs: nothing
}

TEST(FlatTab, NoTabsDrawsStripPageAndBorders)
{
    FlatTabControl t;
    t.initProperties();
    t.resize(9000, 3000);
    t.Refresh();
    const auto& ops = t.surface().ops();
    ASSERT_EQ(ops.size(), 6u);
    EXPECT_EQ(ops[1].kind, DrawOp::Kind::AlphaBlend); // border strip, stretched to 600 px
    EXPECT_EQ(ops[1].x2, 600);
    EXPECT_EQ(ops[1].y1, 32); // (540 - 60) / 15
    EXPECT_EQ(ops[2].kind, DrawOp::Kind::FillBox);
    EXPECT_EQ(ops[2].y1, 37); // (540 + 15) / 15
    EXPECT_EQ(ops[2].color, 0xFF0000u);
}

TEST(FlatTab, CaptionsFadeWithUnselectedTabs)
{
    Strip s(2);
    s.tab.setBackColor(0x000000);
    s.tab.setForeColor(0xFFFFFF);
    s.tab.Refresh();
    std::map<std::string, Color> colours;
    for (const auto* op : s.tab.surface().opsOfKind(DrawOp::Kind::Text))
        colours[op->text] = op->color;
    EXPECT_EQ(colours["Pagina 1"], 0xFFFFFFu);
    EXPECT_EQ(colours["Pagina 2"], 0x808080u); // 255 * 128 / 255 toward black
    EXPECT_EQ(s.tab.surface().opsOfKind(DrawOp::Kind::TransparentBlt).size(), 1u);
}

TEST(FlatTab, PersistenceKeepsTheTabPictureUnderBothNames)
{
    FlatTabControl a;
    a.initProperties();
    auto pic = std::make_shared<Picture>(100, 30);
    a.setPicture(pic);
    a.setEnabled(false);
    a.setForeColor(0x00FF00);
    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.names(), (std::vector<std::string>{"Enabled", "ForeColor", "Picture", "PictureBorder"}));
    FlatTabControl b;
    b.readProperties(bag);
    EXPECT_FALSE(b.enabled());
    EXPECT_EQ(b.ForeColor(), 0x00FF00u);
    EXPECT_EQ(b.Picture()->width, 100);
    EXPECT_EQ(b.PictureBorder(), FlatTabControl::builtinBorderPicture());
}
