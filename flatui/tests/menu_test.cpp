#include "TestSite.h"
#include "automation/AutomationError.h"
#include "flatui/core/MenuButtonControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

using namespace zs::flatui;
using namespace zs::flatui::test;

namespace {

/// A container whose clock moves only when the control waits.
class FakeContainer : public FakeEffectClock<MenuContainer> {
  public:
    FakeContainer()
        : FakeEffectClock(1000)
    {}
    int widthPx = 800;
    std::vector<std::string>* log = nullptr;
    int containerWidthPx() override { return widthPx; }
    PictureRef copyBackground(int x, int y, int w, int h) override
    {
        copied = {x, y, w, h};
        return std::make_shared<Picture>(std::max(w, 1), std::max(h, 1), 0xFFFFFFFFu);
    }
    void placeMenu(double l, double t, double w, double h) override { placed = {l, t, w, h}; }
    void setMenuVisible(bool v) override
    {
        if (log)
            log->push_back(v ? "menu shown" : "menu hidden");
    }
    std::vector<std::string> imageListNames() override { return {"imlMain", "imlMenu"}; }
    ImageListRef imageListByName(std::string_view n) override
    {
        return n == "imlMain" || n == "imlMenu" ? std::make_shared<ImageList>() : nullptr;
    }
    std::array<int, 4> copied{};
    std::array<double, 4> placed{};
};

ImageListRef images(int n)
{
    auto l = std::make_shared<ImageList>();
    for (int i = 0; i < n; ++i)
        l->images.push_back(std::make_shared<Picture>(16 + i, 16));
    return l;
}

/// The category menu as the main window sets it up.
struct CategoryMenu {
    test::RecordingSite site;
    FakeContainer container;
    MenuButtonControl menu;
    std::vector<std::string> log;
    test::EventLog events;
    explicit CategoryMenu(styleEnum style = styleEnum::styleMenu, int items = 5)
    {
        menu.setSite(&site);
        menu.setContainer(&container);
        menu.initProperties();
        menu.EventEnabled = true;
        menu.ImageList = images(15);
        menu.ImageListMenu = images(3);
        menu.caption = "Menu";
        menu.style = style;
        menu.setImageWidth(154);
        menu.setImageHeight(27);
        menu.SubMenuPictureWidth = 27;
        menu.setSubMenuWidth(2700);
        menu.setMenuItemsCount(items);
        const char* labels[] = {"Estrazione e elaborazione dei dati", "Opzioni principali", "Opzioni secondarie",
                                "Opzioni preparazione dei cubi ", "Configurazione guidata "};
        const int icons[] = {1, 2, 4, 3, 5};
        for (int i = 1; i <= items; ++i) {
            menu.setMenuLabels(i, labels[(i - 1) % 5]);
            menu.setMenuIcons(i, icons[(i - 1) % 5]);
        }
        menu.Intialize();
        container.log = &log;
        events.attach(menu, &log);
        menu.setInvalidate([this] { log.push_back("face " + std::to_string(menu.faceItem())); });
    }
};

} // namespace

TEST(MenuButton, DispatchIdsBagNamesAndDefaults)
{
    MenuButtonControl m;
    m.initProperties();
    const PropertyRow rows[] = {
        {"MenuonDrawing", 0x40030003, "", Variant(false)},
        {"EventEnabled", 0x40030004, "", Variant(false)},
        {"ImageList", 0x4003001E, "", Variant()},
        {"ImageListMenu", 0x4003001F, "", Variant()},
        {"BackColor", 0x6803001D, "BackColor", colorVariant(0x8000000F)},
        {"BackColorMenu", 0x6803001B, "BackColorMenu", colorVariant(0x8000000F)},
        {"BackColorSel", 0x6803001A, "BackColorSel", colorVariant(0x8000000F)},
        {"ForeColorMenu", 0x68030019, "ForeColorMenu", colorVariant(0)},
        {"ForeColorSel", 0x68030018, "ForeColorSel", colorVariant(0)},
        {"ForeColorDisabled", 0x68030017, "ForeColorDisabled", colorVariant(0)},
        {"ForeColorMenu2", 0x68030016, "ForeColorMenu2", colorVariant(0)},
        {"ForeColorSel2", 0x68030015, "ForeColorSel2", colorVariant(0)},
        {"ImageWidth", 0x68030014, "ImageWidth", Variant(32)},
        {"ImageHeight", 0x68030013, "ImageHeight", Variant(32)},
        {"startImage", 0x68030012, "startImage", Variant(1)},
        {"startImageMenu", 0x68030011, "startImageMenu", Variant(1)},
        {"menuItemsCount", 0x68030010, "MenuItemsCount", Variant(0)},
        {"caption", 0x6803000C, "caption", Variant("")},
        {"caption2", 0x6803000B, "caption2", Variant("")},
        {"style", 0x6803000A, "style", Variant(0)},
        {"CaptionLeft", 0x68030009, "CaptionLeft", Variant(0)},
        {"CaptionTop", 0x68030008, "CaptionTop", Variant(0)},
        {"Caption2Left", 0x68030007, "Caption2Left", Variant(0)},
        {"Caption2Top", 0x68030006, "Caption2Top", Variant(0)},
        {"stateButton", 0x68030005, "", Variant(0)},
        {"SubMenuPictureWidth", 0x68030004, "SubMenuPictureWidth", Variant(0)},
        {"SubMenuWidth", 0x68030003, "SubMenuWidth", Variant(2400)},
        {"MenuExpanded", 0x68030002, "", Variant(false)},
        {"BorderMenu", 0x68030001, "BorderMenu", Variant(false)},
        {"MenuSelected", 0x68030000, "", Variant(0)},
    };
    const auto& t = m.dispatchTable();
    zs::flatui::test::expectProperties(m, rows);
    EXPECT_EQ(t.find(0x6803001C)->name, "Font"); // this control's Font has an id of its own
    const std::pair<const char*, std::int32_t> methods[] = {
        {"MenuLabels", 0x6803000F},         {"MenuIcons", 0x6803000E}, {"MenuTag", 0x6803000D},
        {"Intialize", 0x60030022},          {"TurnOn", 0x60030027},    {"TurnOff", 0x60030028},
        {"SpezzaStringa", 0x6003002A},      {"Refresh", 0x6003002D},   {"getImageLists", 0x6003002E},
        {"setImageListbyName", 0x6003002F},
    };
    for (const auto& [name, id] : methods)
        EXPECT_EQ(t.find(id)->name, name);
    const char* events[] = {"KeyDown", "KeyPress", "KeyUp", "MouseDown",  "MouseMove",
                            "MouseUp", "DblClick", "Click", "ExpandMenu", "CollapseMenu"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(t.events()[static_cast<std::size_t>(i)].id, i + 1);
        EXPECT_EQ(t.events()[static_cast<std::size_t>(i)].name, events[i]);
    }
    std::vector<Variant> v{Variant(true)};
    EXPECT_TRUE(t.invoke(m, 0x68030002, InvokeKind::Put, v)); // read-only: ignored
    EXPECT_FALSE(m.MenuExpanded());
}

TEST(MenuButton, BagDefaultsDifferFromANewInstance)
{
    MenuButtonControl m;
    m.initProperties();
    PropertyBag bag;
    m.writeProperties(bag);
    EXPECT_EQ(bag.read("BorderMenu", Variant()).toBool(), false);
    EXPECT_EQ(bag.read("MenuItemsCount", Variant()).toInt32(), 0);
    EXPECT_EQ(bag.read("SubMenuWidth", Variant()).toInt32(), 2400);
    EXPECT_FALSE(bag.contains("caption2"));

    MenuButtonControl loaded;
    loaded.readProperties(PropertyBag{});
    EXPECT_TRUE(loaded.BorderMenu);
    EXPECT_EQ(loaded.menuItemsCount(), 1);
    EXPECT_EQ(loaded.SubMenuWidth(), 2700);
    EXPECT_TRUE(loaded.EventEnabled);
    EXPECT_EQ(loaded.caption2, "");

    m.caption2 = "due";
    m.Caption2Top = 90;
    m.CaptionTop = 30;
    PropertyBag again;
    m.writeProperties(again);
    MenuButtonControl back;
    back.readProperties(again);
    EXPECT_EQ(back.caption2, "due");
    EXPECT_EQ(back.Caption2Top, 90);
    EXPECT_EQ(back.CaptionTop, 30);
    EXPECT_EQ(back.menuItemsCount(), 0);
}

TEST(MenuButton, ItemArraysAndTags)
{
    test::RecordingSite site;
    MenuButtonControl m;
    m.setSite(&site);
    EXPECT_EQ(errorOf([&] { (void)m.MenuLabels(1); }), err::kSubscriptOutOfRange); // no arrays yet
    m.setMenuItemsCount(0);
    EXPECT_EQ(site.changes.back(), "menuItemsCount");
    EXPECT_EQ(m.MenuLabels(1), ""); // the single index 1
    m.setMenuItemsCount(3);
    m.setMenuLabels(2, "due");
    m.setMenuTag(2, Variant("42"));
    m.setMenuIcons(3, 7);
    m.setMenuItemsCount(5);
    EXPECT_EQ(m.MenuLabels(2), "due");
    EXPECT_EQ(m.MenuTag(2), "42");
    EXPECT_EQ(m.MenuIcons(3), 7);
    m.setMenuItemsCount(2);
    EXPECT_EQ(errorOf([&] { (void)m.MenuIcons(3); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([&] { (void)m.MenuLabels(3); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(m.MenuTag(3), ""); // the tag getter alone answers "" above the count
    EXPECT_EQ(errorOf([&] { m.setMenuTag(1, Variant("dieci")); }), err::kTypeMismatch);
    EXPECT_EQ(m.MenuTag(1), "0");
    EXPECT_EQ(errorOf([&] { (void)m.MenuTag(0); }), err::kSubscriptOutOfRange);
}

TEST(MenuButton, FaceSizeAndImageListsByName)
{
    FakeContainer c;
    MenuButtonControl m;
    m.setContainer(&c);
    m.setImageWidth(154);
    m.setImageHeight(27);
    EXPECT_EQ(m.widthTwips(), 2460);
    EXPECT_EQ(m.heightTwips(), 450);
    EXPECT_EQ(m.getImageLists(), "imlMain|imlMenu");
    m.setImageListbyName("imlMain", "MAIN"); // exact comparison: nothing
    EXPECT_EQ(m.ImageList, nullptr);
    m.setImageListbyName("imlMain", "main");
    EXPECT_NE(m.ImageList, nullptr);
    EXPECT_NE(errorOf([&] { m.setImageListbyName("nessuna", "menu"); }), 0);
    EXPECT_EQ(m.ImageListMenu, nullptr);
}

TEST(MenuButton, FadeAlphasAndFinalBlend)
{
    EXPECT_EQ(MenuButtonControl::fadeAlpha(0), 255);
    EXPECT_EQ(MenuButtonControl::fadeAlpha(150), 144); // 143.5 rounds to even
    EXPECT_EQ(MenuButtonControl::fadeAlpha(300), 32);

    CategoryMenu c;
    std::vector<int> alphas;
    c.container.onPump = [&](int) {
        if (c.menu.menuVisible())
            alphas.push_back(alphaOf(c.menu.lastBlend()));
    };
    c.menu.TurnOn();
    ASSERT_GE(alphas.size(), 30u);
    EXPECT_EQ(alphas.front(), 255);
    EXPECT_EQ(alphas[15], 144); // at 150 ms
    EXPECT_EQ(c.menu.lastBlend(), 2097152);
    EXPECT_FALSE(c.menu.MenuonDrawing);
    EXPECT_TRUE(c.menu.menuVisible());
    EXPECT_EQ(c.menu.menuHeight(), 2880); // five items of 555 twips + 105
}

TEST(MenuButton, Placement)
{
    struct Case {
        const char* name;
        double left;
        bool alignLeft;
        double menuLeft;
        int copyX;
    };
    const Case cases[] = {{"right-aligned", 200, false, 2760, 184}, {"left-aligned", 10, true, 150, 10}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        CategoryMenu c;
        c.container.widthPx = 300;
        c.menu.setPosition(k.left, 40);
        c.menu.TurnOn();
        EXPECT_EQ(c.menu.alignLeft(), k.alignLeft);
        EXPECT_EQ(c.container.placed[0], k.menuLeft);
        EXPECT_EQ(c.container.placed[1], 40 * 15 + 450 - 15);
        EXPECT_EQ(c.container.copied[0], k.copyX);
        EXPECT_EQ(c.container.copied[1], 70); // (600 + 450) / 15
        EXPECT_EQ(c.container.copied[2], 180);
        EXPECT_EQ(c.container.copied[3], 192);
    }
}

TEST(MenuButton, HitTestBoundary)
{
    CategoryMenu c;
    EXPECT_EQ(c.menu.itemAt(0), 1);
    EXPECT_EQ(c.menu.itemAt(554), 1);
    EXPECT_EQ(c.menu.itemAt(555), 2);
    EXPECT_EQ(c.menu.itemAt(2800), 6);
    c.menu.TurnOn();
    c.menu.menuMouseMove(600);
    EXPECT_EQ(c.menu.hotItem(), 2);
    c.menu.menuMouseMove(2800); // beyond the items: no change
    EXPECT_EQ(c.menu.hotItem(), 2);
    c.log.clear();
    c.menu.menuMouseDown(1, 2800); // menu style reports the highlighted item and stays open
    EXPECT_EQ(c.log, std::vector<std::string>{"Click(2)"});
    EXPECT_EQ(c.menu.MenuSelected(), 2);
    EXPECT_TRUE(c.menu.menuVisible());

    CategoryMenu combo(styleEnum::styleCombo);
    combo.menu.TurnOn();
    combo.log.clear();
    combo.menu.menuMouseDown(1, 2800); // item 6 of 5: nothing at all
    EXPECT_TRUE(combo.log.empty());
    EXPECT_TRUE(combo.menu.menuVisible());
}

TEST(MenuButton, ComboChoiceEventOrder)
{
    CategoryMenu c(styleEnum::styleCombo);
    c.menu.TurnOn();
    c.menu.menuMouseMove(1200); // item 3 highlighted
    c.log.clear();
    c.site.changes.clear();
    c.menu.menuMouseDown(1, 1200);
    EXPECT_EQ(c.log, (std::vector<std::string>{"face 3", "menu hidden", "face 3", "CollapseMenu", "Click(3)"}));
    EXPECT_EQ(c.menu.MenuSelected(), 3);
    EXPECT_FALSE(c.menu.MenuExpanded());
}

TEST(MenuButton, OpeningRules)
{
    CategoryMenu c;
    c.menu.TurnOn();
    c.log.clear();
    c.menu.TurnOn(); // open: nothing, no ExpandMenu
    EXPECT_TRUE(c.log.empty());
    c.menu.TurnOff();
    c.log.clear();
    c.menu.TurnOff(); // closed: still CollapseMenu
    EXPECT_EQ(c.log.back(), "CollapseMenu");

    CategoryMenu empty(styleEnum::styleMenu, 1);
    empty.menu.setMenuItemsCount(0);
    empty.log.clear();
    empty.menu.TurnOn();
    EXPECT_EQ(empty.log.front(), "ExpandMenu");
    EXPECT_FALSE(empty.menu.menuVisible());
    EXPECT_TRUE(empty.menu.MenuExpanded());
    EXPECT_EQ(std::count(empty.log.begin(), empty.log.end(), "CollapseMenu"), 0);

    // A press on the face opens only with events enabled.
    CategoryMenu off;
    off.menu.EventEnabled = false;
    off.menu.faceMouseDown(1, 0, 10, 10);
    EXPECT_FALSE(off.menu.menuVisible());
}

TEST(MenuButton, AnErrorInsideTurnOnLeavesItAbleToOpenAgain)
{
    FakeContainer container;
    MenuButtonControl m;
    m.setContainer(&container);
    m.readProperties(PropertyBag{}); // one item, but no arrays and no image list at run time
    m.resize(2460, 450);
    const auto r = m.dispatchTable().invoke(m, 0x60030027, InvokeKind::Method, {});
    EXPECT_FALSE(r);
    EXPECT_FALSE(m.MenuonDrawing);
    EXPECT_FALSE(m.menuVisible());
    m.ImageList = images(3);
    m.setMenuItemsCount(1);
    m.setMenuLabels(1, "Voce");
    m.TurnOn();
    EXPECT_TRUE(m.menuVisible());
}

TEST(MenuButton, IconNumbering)
{
    CategoryMenu c(styleEnum::styleCombo, 1);
    c.menu.ImageList = images(6);
    const auto iconDrawn = [&] {
        const auto ops = c.menu.menuSurface().opsOfKind(DrawOp::Kind::Image);
        return ops.empty() ? 0 : ops[0]->picture->width - 15; // images(n) are 16 + i wide
    };
    const auto faceImage = [&] {
        const auto ops = c.menu.surface().opsOfKind(DrawOp::Kind::Image);
        return ops.empty() ? 0 : ops[0]->picture->width - 15;
    };
    c.menu.setMenuIcons(1, 2);
    c.menu.DrawMenu(1, 0);
    c.menu.DrawButton(1, false);
    EXPECT_EQ(iconDrawn(), 4);
    EXPECT_EQ(faceImage(), 6);
    c.menu.setMenuIcons(1, 3);
    c.menu.DrawMenu(1, 0);
    c.menu.DrawButton(1, false);
    EXPECT_EQ(iconDrawn(), 1); // startImage
    EXPECT_EQ(faceImage(), 0); // image 9 does not exist: nothing drawn
}

// The open drop-down's top-left corner, background blend included, gives the expanded face its
// colour; the closed face keeps BackColor.
TEST(MenuButton, ExpandedFaceTakesTheDropDownColour)
{
    struct Case {
        const char* name;
        styleEnum style;
        bool border;
        int containerPx; // narrow: the drop-down opens right-aligned, its top edge bordered from 0
        Color expected;  // the copied white background at alpha 32 over the colour under (2, 0)
    };
    const Color back = 0x203040; // BackColor: R 0x40, G 0x30, B 0x20
    const Color sel = 0x0000C0;  // BackColorSel
    const auto over = [](Color under) {
        const auto ch = [](int c) { return static_cast<int>(std::lround(255 * 32 / 255.0 + c * 223 / 255.0)); };
        return rgb(ch(GetRed(under)), ch(GetGreen(under)), ch(GetBlue(under)));
    };
    const Case cases[] = {
        {"menu style", styleEnum::styleMenu, false, 800, over(back)},
        {"combo with its border, left-aligned: the open top edge", styleEnum::styleCombo, true, 800, over(back)},
        {"combo with its border, right-aligned: the border line", styleEnum::styleCombo, true, 100, over(sel)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CategoryMenu m(c.style);
        m.menu.setBackColor(back);
        m.menu.setColor("BackColorSel", sel);
        m.menu.BorderMenu = c.border;
        m.container.widthPx = c.containerPx;
        m.menu.TurnOn();
        m.menu.Refresh(); // the face drawn while the drop-down is open
        const auto& ops = m.menu.surface().ops();
        ASSERT_FALSE(ops.empty());
        ASSERT_EQ(ops[0].kind, DrawOp::Kind::Clear);
        EXPECT_EQ(ops[0].color, c.expected);
        EXPECT_NE(ops[0].color, back);
        m.menu.TurnOff();
        EXPECT_EQ(m.menu.surface().ops()[0].color, back);
    }
}

TEST(MenuButton, ResizeRedrawsTheFace)
{
    CategoryMenu m(styleEnum::styleCombo);
    const int before = m.menu.drawCount();
    m.menu.resize(3000, 600);
    EXPECT_EQ(m.menu.drawCount(), before + 1);
    const auto polys = m.menu.surface().opsOfKind(DrawOp::Kind::Polygon);
    ASSERT_EQ(polys.size(), 1u);
    EXPECT_EQ(polys[0]->points[1].x, pxRound(3000 - 15)); // the arrow sits in the new corner
    EXPECT_EQ(polys[0]->points[2].y, pxRound(600 - 15));
}

TEST(DisplayListColour, PointsOfTheDrawing)
{
    DisplayList d;
    EXPECT_EQ(d.colorAt(3, 3, 0x123456), 0x123456u);
    d.clear(0x000000);
    d.fillBox(2, 2, 4, 4, 0x0000FF);
    d.line(0, 8, 9, 8, 0x00FF00, 1);
    d.box(10, 10, 14, 14, 0xFF0000, 1);
    auto white = std::make_shared<Picture>(4, 4, 0xFFFFFFFFu);
    d.alphaBlend(white, 20, 0, 4, 4, 4, 4, 128);
    const struct {
        int x, y;
        Color expected;
    } points[] = {{4, 4, 0x0000FF},   {5, 4, 0x000000},   {6, 8, 0x00FF00},
                  {14, 12, 0xFF0000}, {12, 12, 0x000000}, {21, 1, rgb(128, 128, 128)},
                  {24, 1, 0x000000}};
    for (const auto& p : points)
        EXPECT_EQ(d.colorAt(p.x, p.y, 0), p.expected) << p.x << "," << p.y;
}
