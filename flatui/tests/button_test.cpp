#include "TestSite.h"
#include "flatui/core/FlatButton.h"

#include <gtest/gtest.h>

using namespace zs::flatui;
using namespace zs::flatui::test;

namespace {

// Dispatch ids, bag names and defaults of _FlatButton.
const PropertyRow kButtonMembers[] = {
    {"BackColor", 0x68030008, "BackColor", colorVariant(0x8000000F)},
    {"enabled", 0x68030007, "Enabled", Variant(false)},
    {"Font", -512, "Font", Variant(), false},
    {"BorderStyle", 0x68030006, "BorderStyle", Variant(0)},
    {"Text", 0x68030005, "Text", Variant("")},
    {"Picture", 0x68030004, "Picture", Variant(), false},
    {"imageindex", 0x68030003, "imageindex", Variant(0)},
    {"ForeColorNormal", 0x68030002, "ForeColorNormal", colorVariant(0xFFFFFF)},
    {"ForeColor", 0x68030001, "ForeColor", colorVariant(0xFFFFFF)},
    {"Fading", 0x68030000, "Fading", Variant(false)},
};

struct Fixture {
    test::RecordingSite site;
    FlatButton button;
    test::EventLog log;
    Fixture()
    {
        button.setSite(&site);
        button.initProperties();
        button.resize(1500, 450);
        log.attach(button);
    }
};

} // namespace

TEST(FlatButton, DispatchIdsBagNamesAndDefaults)
{
    FlatButton b;
    b.initProperties();
    const auto& t = b.dispatchTable();
    expectProperties(b, kButtonMembers);
    ASSERT_NE(t.find(0x40030008), nullptr);
    EXPECT_EQ(t.find(0x40030008)->name, "myImageList");
    EXPECT_EQ(t.find(0x60030009)->name, "Refresh");
    const char* events[] = {"Click", "DblClick", "KeyDown", "KeyPress", "KeyUp", "MouseDown", "MouseMove", "MouseUp"};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(t.events()[static_cast<std::size_t>(i)].name, events[i]);
}

TEST(FlatButton, LetsNotifyBagNamesAndRepaintAsTabled)
{
    Fixture f;
    struct Case {
        const char* name;
        std::int32_t id;
        Variant value;
        const char* bag;
        bool repaints;
    };
    const Case cases[] = {
        {"BackColor", 0x68030008, Variant(255), "BackColor", true},
        {"enabled", 0x68030007, Variant(true), "Enabled", true},
        {"BorderStyle", 0x68030006, Variant(1), "BorderStyle", false},
        {"Text", 0x68030005, Variant("Avvia"), "Text", true},
        {"ForeColorNormal", 0x68030002, Variant(0), "ForeColorNormal", true},
        {"ForeColor", 0x68030001, Variant(0), "ForeColor", true},
        {"Fading", 0x68030000, Variant(true), "Fading", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f.site.changes.clear();
        const int before = f.button.drawCount();
        std::vector<Variant> args{c.value};
        ASSERT_TRUE(f.button.dispatchTable().invoke(f.button, c.id, InvokeKind::Put, args));
        EXPECT_EQ(f.site.changes, std::vector<std::string>{c.bag});
        EXPECT_EQ(f.button.drawCount() > before, c.repaints);
    }
}

TEST(FlatButton, ImageIndexFailsWithoutTheItemAndKeepsThePicture)
{
    Fixture f;
    auto list = std::make_shared<ImageList>();
    list->images.push_back(std::make_shared<Picture>(4, 4));
    f.button.myImageList = list;
    f.button.setImageindex(1);
    EXPECT_EQ(f.button.Picture(), list->images[0]);
    f.site.changes.clear();
    std::vector<Variant> args{Variant(5)};
    const auto r = f.button.dispatchTable().invoke(f.button, 0x68030003, InvokeKind::Put, args);
    EXPECT_FALSE(r);
    EXPECT_EQ(f.button.Picture(), list->images[0]);
    EXPECT_TRUE(f.site.changes.empty());
}

TEST(FlatButton, StateTable)
{
    Fixture f;
    auto& b = f.button;
    EXPECT_EQ(b.state(), 0);
    b.mouseMove(1, 0, 10, 10); // a move with a button held changes nothing
    EXPECT_EQ(b.state(), 0);
    b.mouseMove(0, 0, 10, 10);
    EXPECT_EQ(b.state(), 1);
    b.mouseDown(1, 0, 10, 10);
    EXPECT_EQ(b.state(), 2);
    b.mouseUp(1, 0, 10, 10);
    EXPECT_EQ(b.state(), 2); // stays pressed until the mouse moves or the host refreshes
    b.mouseMove(0, 0, 10, 10);
    EXPECT_EQ(b.state(), 1);
    b.Refresh();
    EXPECT_EQ(b.state(), 0);
    b.setEnabled(false);
    EXPECT_EQ(b.state(), 3);
    const int draws = b.drawCount();
    b.Refresh();
    b.mouseMove(0, 0, 1, 1);
    b.mouseDown(1, 0, 1, 1);
    EXPECT_EQ(b.state(), 3);
    EXPECT_EQ(b.drawCount(), draws); // disabled: neither Refresh nor the mouse repaint
    b.setEnabled(true);
    EXPECT_EQ(b.state(), 0);
}

TEST(FlatButton, DisabledSuppressesKeysAndMouseUpButNotClicks)
{
    Fixture f;
    f.button.setEnabled(false);
    f.log.lines.clear();
    f.button.mouseDown(1, 0, 15, 30);
    f.button.mouseUp(1, 0, 15, 30);
    f.button.click();
    f.button.dblClick();
    f.button.keyDown(13, 0);
    f.button.keyPress(13);
    f.button.keyUp(13, 0);
    f.button.mouseMove(0, 0, 15, 30);
    EXPECT_EQ(f.log.lines,
              (std::vector<std::string>{"MouseDown(1,0,15,30)", "Click", "DblClick", "MouseMove(0,0,15,30)"}));

    f.button.setEnabled(true);
    f.log.lines.clear();
    f.button.keyDown(13, 2);
    f.button.keyPress(65);
    f.button.keyUp(13, 2);
    f.button.mouseUp(2, 1, 3, 4);
    EXPECT_EQ(f.log.lines,
              (std::vector<std::string>{"KeyDown(13,2)", "KeyPress(65)", "KeyUp(13,2)", "MouseUp(2,1,3,4)"}));
}

TEST(FlatButton, PaintByState)
{
    Fixture f;
    auto& b = f.button;
    b.setPicture(std::make_shared<Picture>(100, 30));
    b.setText("Avvia");
    b.setForeColorNormal(0x00FF00);
    b.setForeColor(0x0000FF);
    struct Case {
        const char* name;
        int state;
        int alpha;
        Color text;
        int pointer;
    };
    const Case cases[] = {{"normal", 0, 180, 0x00FF00, 99},
                          {"hover", 1, 255, 0x0000FF, 99},
                          {"pressed", 2, 255, 0x0000FF, 99},
                          {"disabled", 3, 50, 0x0000FF, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        b.setEnabled(c.state != 3);
        if (c.state == 1)
            b.mouseMove(0, 0, 1, 1);
        if (c.state == 2)
            b.mouseDown(1, 0, 1, 1);
        ASSERT_EQ(b.state(), c.state);
        const auto& ops = b.surface().ops();
        ASSERT_EQ(ops.size(), 3u);
        EXPECT_EQ(ops[0].kind, DrawOp::Kind::Clear);
        EXPECT_EQ(ops[1].kind, DrawOp::Kind::AlphaBlend);
        EXPECT_EQ(ops[1].alpha, c.alpha);
        EXPECT_EQ(ops[1].x2, 100);
        EXPECT_EQ(ops[2].color, c.text);
        EXPECT_EQ(b.mousePointer(), c.pointer);
    }
    // Caption centred: (1500 - 5 * 105) / 2 twips = 487.5 → 32.5 px; (450 - 195) / 2 = 127.5 → 8.5 px.
    EXPECT_DOUBLE_EQ(b.surface().ops()[2].x1, 32.5);
    EXPECT_DOUBLE_EQ(b.surface().ops()[2].y1, 8.5);

    b.setFading(true);
    b.setText("x");
    ASSERT_EQ(b.surface().ops().size(), 1u); // only the back colour
}

TEST(FlatButton, PropertyBagRoundTripAndLoadedState)
{
    FlatButton a;
    a.initProperties();
    a.setText("Esegui");
    a.setForeColor(0x123456);
    a.setFading(true);
    a.setEnabled(false);
    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.names(), (std::vector<std::string>{"Fading", "ForeColor", "Text"})); // defaults left out

    FlatButton b;
    b.readProperties(bag);
    EXPECT_EQ(b.Text(), "Esegui");
    EXPECT_EQ(b.ForeColor(), 0x123456u);
    EXPECT_TRUE(b.Fading());
    EXPECT_FALSE(b.enabled());
    EXPECT_EQ(b.state(), 0); // drawn as normal until the host assigns enabled
    PropertyBag again;
    b.writeProperties(again);
    EXPECT_EQ(again.names(), bag.names());
}

TEST(FlatButton, ResizeRecentresTheCaption)
{
    Fixture f;
    auto& b = f.button;
    b.setText("Avvia");
    const int before = b.drawCount();
    b.resize(3000, 600);
    EXPECT_EQ(b.drawCount(), before + 1);
    const auto texts = b.surface().opsOfKind(DrawOp::Kind::Text);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_DOUBLE_EQ(texts[0]->x1, (3000 - 5 * 105) / 2.0 / 15); // 82.5 px
    EXPECT_DOUBLE_EQ(texts[0]->y1, (600 - 195) / 2.0 / 15);      // 13.5 px
}
