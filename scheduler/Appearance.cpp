#include "Appearance.h"

#include "automation/PropertyBag.h"

namespace zs::cadenzo {

using automation::colorVariant;
using automation::Variant;

AppearanceProps readAppearance(const automation::PropertyBag& bag, std::shared_ptr<FontObject> ambientFont)
{
    AppearanceProps p;
    p.appearance = bag.read("Appearance", Variant(std::int16_t{1})).toInt16();
    p.backColor = bag.read("BackColor", colorVariant(kButtonFace)).toColor();
    p.enabled = bag.read("Enabled", Variant(true)).toBool();
    p.fillColor = bag.read("FillColor", colorVariant(kWindowBackground)).toColor();
    auto font = bag.read("Font", Variant(Variant::ObjectRef(ambientFont))).objectAs<FontObject>();
    p.font = font ? font : ambientFont;
    p.foreColor = bag.read("ForeColor", colorVariant(kButtonText)).toColor();
    p.style = bag.read("Style", Variant(std::int16_t{0}));
    return p;
}

void writeAppearance(automation::PropertyBag& bag, const AppearanceProps& p,
                     const std::shared_ptr<FontObject>& ambientFont)
{
    bag.write("Appearance", Variant(p.appearance), Variant(std::int16_t{1}));
    bag.write("BackColor", colorVariant(p.backColor), colorVariant(kButtonFace));
    bag.write("Enabled", Variant(p.enabled), Variant(true));
    bag.write("FillColor", colorVariant(p.fillColor), colorVariant(kWindowBackground));
    bag.write("Font", Variant(Variant::ObjectRef(p.font)), Variant(Variant::ObjectRef(ambientFont)));
    bag.write("ForeColor", colorVariant(p.foreColor), colorVariant(kButtonText));
    bag.write("Style", p.style, Variant(std::int16_t{0}));
}

} // namespace zs::cadenzo
