#include "flatui/core/MenuButtonControl.h"

#include <type_traits>

namespace zs::flatui {

using automation::Variant;
using M = MenuButtonControl;

namespace {

/// A public variable as a persisted property: the let stores the converted value and reports
/// it under the variable's name.
template <class V>
void fieldProperty(automation::DispatchTableBuilder<M>& b, automation::DispId id, V M::*field, const char* name)
{
    b.property(
        id, name, name, [field](M& m) { return Variant(m.*field); },
        [field, name](M& m, const Variant& v) {
            if constexpr (std::is_same_v<V, bool>)
                m.*field = v.toBool();
            else if constexpr (std::is_same_v<V, std::string>)
                m.*field = v.toString();
            else
                m.*field = v.toInt32();
            m.report(name);
        });
}

} // namespace

const automation::DispatchTable& MenuButtonControl::dispatchTable() const
{
    using automation::colorVariant;
    using automation::requiredArg;
    static const automation::DispatchTable table = [] {
        auto b = automation::DispatchTableBuilder<M>("MenuButtonControl");
        b.property(
            0x40030003, "MenuonDrawing", "", [](M& m) { return Variant(m.MenuonDrawing); },
            [](M& m, const Variant& v) { m.MenuonDrawing = v.toBool(); });
        b.property(
            0x40030004, "EventEnabled", "", [](M& m) { return Variant(m.EventEnabled); },
            [](M& m, const Variant& v) { m.EventEnabled = v.toBool(); });
        b.property(
            0x4003001E, "ImageList", "", [](M& m) { return objectVariant(m.ImageList); },
            [](M& m, const Variant& v) { m.ImageList = v.objectAs<flatui::ImageList>(); });
        b.property(
            0x4003001F, "ImageListMenu", "", [](M& m) { return objectVariant(m.ImageListMenu); },
            [](M& m, const Variant& v) { m.ImageListMenu = v.objectAs<flatui::ImageList>(); });
        b.property(
            0x6803001D, "BackColor", "BackColor", [](M& m) { return colorVariant(m.BackColor()); },
            [](M& m, const Variant& v) { m.setBackColor(v.toColor()); });
        b.property(
            0x6803001C, "Font", "Font", [](M& m) { return objectVariant(m.Font()); },
            [](M& m, const Variant& v) { m.setFont(fontFrom(v)); });
        const std::pair<std::int32_t, const char*> colours[] = {
            {0x6803001B, "BackColorMenu"}, {0x6803001A, "BackColorSel"},      {0x68030019, "ForeColorMenu"},
            {0x68030018, "ForeColorSel"},  {0x68030017, "ForeColorDisabled"}, {0x68030016, "ForeColorMenu2"},
            {0x68030015, "ForeColorSel2"},
        };
        for (const auto& [id, name] : colours) {
            const std::string member = name;
            b.property(
                id, member, member, [member](M& m) { return colorVariant(m.color(member)); },
                [member](M& m, const Variant& v) { m.setColor(member, v.toColor()); });
        }
        b.property(
            0x68030014, "ImageWidth", "ImageWidth", [](M& m) { return Variant(m.ImageWidth()); },
            [](M& m, const Variant& v) { m.setImageWidth(v.toInt32()); });
        b.property(
            0x68030013, "ImageHeight", "ImageHeight", [](M& m) { return Variant(m.ImageHeight()); },
            [](M& m, const Variant& v) { m.setImageHeight(v.toInt32()); });
        fieldProperty(b, 0x68030012, &M::startImage, "startImage");
        fieldProperty(b, 0x68030011, &M::startImageMenu, "startImageMenu");
        b.property(
            0x68030010, "menuItemsCount", "MenuItemsCount", [](M& m) { return Variant(m.menuItemsCount()); },
            [](M& m, const Variant& v) { m.setMenuItemsCount(v.toInt32()); });
        b.indexedProperty(
            0x6803000F, "MenuLabels",
            [](M& m, std::span<Variant> a) { return Variant(m.MenuLabels(requiredArg(a, 0).toInt32())); },
            [](M& m, std::span<Variant> a, const Variant& v) {
                m.setMenuLabels(requiredArg(a, 0).toInt32(), v.toString());
            });
        b.indexedProperty(
            0x6803000E, "MenuIcons",
            [](M& m, std::span<Variant> a) { return Variant(m.MenuIcons(requiredArg(a, 0).toInt32())); },
            [](M& m, std::span<Variant> a, const Variant& v) {
                m.setMenuIcons(requiredArg(a, 0).toInt32(), v.toInt32());
            });
        b.indexedProperty(
            0x6803000D, "MenuTag",
            [](M& m, std::span<Variant> a) { return Variant(m.MenuTag(requiredArg(a, 0).toInt32())); },
            [](M& m, std::span<Variant> a, const Variant& v) { m.setMenuTag(requiredArg(a, 0).toInt32(), v); });
        b.method(0x60030022, "Intialize", noArgMethod<M, &M::Intialize>);
        b.method(0x60030027, "TurnOn", noArgMethod<M, &M::TurnOn>);
        b.method(0x60030028, "TurnOff", noArgMethod<M, &M::TurnOff>);
        b.method(0x6003002A, "SpezzaStringa", [](M& m, std::span<Variant> a) {
            m.SpezzaStringa(requiredArg(a, 0).toString(), requiredArg(a, 1).toInt16(), requiredArg(a, 2).toInt32(),
                            requiredArg(a, 3).toInt32(), requiredArg(a, 4).toInt32(), requiredArg(a, 5).toInt32());
            return Variant();
        });
        fieldProperty(b, 0x6803000C, &M::caption, "caption");
        fieldProperty(b, 0x6803000B, &M::caption2, "caption2");
        b.property(
            0x6803000A, "style", "style", [](M& m) { return Variant(static_cast<std::int32_t>(m.style)); },
            [](M& m, const Variant& v) {
                m.style = static_cast<styleEnum>(v.toInt32());
                m.report("style");
            });
        fieldProperty(b, 0x68030009, &M::CaptionLeft, "CaptionLeft");
        fieldProperty(b, 0x68030008, &M::CaptionTop, "CaptionTop");
        fieldProperty(b, 0x68030007, &M::Caption2Left, "Caption2Left");
        fieldProperty(b, 0x68030006, &M::Caption2Top, "Caption2Top");
        b.property(
            0x68030005, "stateButton", "", [](M& m) { return Variant(static_cast<std::int32_t>(m.stateButton())); },
            [](M& m, const Variant& v) { m.setStateButton(static_cast<stateEnum>(v.toInt32())); });
        fieldProperty(b, 0x68030004, &M::SubMenuPictureWidth, "SubMenuPictureWidth");
        b.property(
            0x68030003, "SubMenuWidth", "SubMenuWidth", [](M& m) { return Variant(m.SubMenuWidth()); },
            [](M& m, const Variant& v) {
                m.setSubMenuWidth(v.toDouble());
                m.report("SubMenuWidth");
            });
        b.method(0x6003002D, "Refresh", noArgMethod<M, &M::Refresh>);
        b.property(
            0x68030002, "MenuExpanded", "", [](M& m) { return Variant(m.MenuExpanded()); }, nullptr);
        b.method(0x6003002E, "getImageLists", [](M& m, std::span<Variant>) { return Variant(m.getImageLists()); });
        b.method(0x6003002F, "setImageListbyName", [](M& m, std::span<Variant> a) {
            m.setImageListbyName(requiredArg(a, 0).toString(), requiredArg(a, 1).toString());
            return Variant();
        });
        fieldProperty(b, 0x68030001, &M::BorderMenu, "BorderMenu");
        b.property(
            0x68030000, "MenuSelected", "", [](M& m) { return Variant(m.MenuSelected()); },
            [](M& m, const Variant& v) { m.setMenuSelected(v.toInt32()); });
        const char* events[] = {"KeyDown", "KeyPress", "KeyUp", "MouseDown",  "MouseMove",
                                "MouseUp", "DblClick", "Click", "ExpandMenu", "CollapseMenu"};
        const int args[] = {3, 2, 3, 5, 5, 5, 1, 1, 0, 0};
        for (int i = 0; i < 10; ++i)
            b.event(i + 1, events[i], args[i]);
        return b.build();
    }();
    return table;
}

} // namespace zs::flatui
