#include "flatui/core/ControlBase.h"

#include "automation/AutomationError.h"

namespace zs::flatui {

using automation::Variant;

namespace {
automation::NullSite g_nullSite;
const FixedPitchMetrics g_fixedMetrics;
} // namespace

ControlBase::ControlBase()
    : m_font(ambientFont())
    , m_site(&g_nullSite)
    , m_metrics(&g_fixedMetrics)
{}
ControlBase::~ControlBase() = default;

void ControlBase::setSite(automation::ControlSite* site)
{
    m_site = site ? site : &g_nullSite;
}
void ControlBase::setTextMetrics(const TextMetrics* metrics)
{
    m_metrics = metrics ? metrics : &g_fixedMetrics;
}

FontRef ControlBase::ambientFont()
{
    return std::make_shared<FontSpec>("Sans Serif", 8.25);
}

void ControlBase::runtimeOnly() const
{
    if (!m_site->userMode())
        throw automation::AutomationError(automation::err::kNotPermittedAtDesignTime);
}

void ControlBase::resize(double widthTwips, double heightTwips)
{
    m_width = widthTwips;
    m_height = heightTwips;
    redraw();
}

void ControlBase::finishDrawing()
{
    ++m_drawCount;
    if (m_invalidate)
        m_invalidate();
}

void ControlBase::raiseMouse(int id, int button, int shift, double x, double y)
{
    Variant args[] = {Variant(static_cast<std::int16_t>(button)), Variant(static_cast<std::int16_t>(shift)),
                      Variant(static_cast<double>(static_cast<float>(x))),
                      Variant(static_cast<double>(static_cast<float>(y)))};
    raise(id, args);
}

void ControlBase::raiseKey(int id, int keyCode, int shift)
{
    if (id == 4) { // KeyPress carries KeyAscii only
        Variant args[] = {Variant(static_cast<std::int16_t>(keyCode))};
        raise(id, args);
        return;
    }
    Variant args[] = {Variant(static_cast<std::int16_t>(keyCode)), Variant(static_cast<std::int16_t>(shift))};
    raise(id, args);
}

Color readColor(const automation::PropertyBag& bag, std::string_view name, Color def)
{
    return bag.read(name, automation::colorVariant(def)).toColor();
}

void writeColor(automation::PropertyBag& bag, std::string_view name, Color value, Color def)
{
    bag.write(name, automation::colorVariant(value), automation::colorVariant(def));
}

FontRef readFont(const automation::PropertyBag& bag, std::string_view name)
{
    auto f = bag.read(name, Variant()).objectAs<FontSpec>();
    return f ? std::make_shared<FontSpec>(*f) : ControlBase::ambientFont();
}

void writeFont(automation::PropertyBag& bag, std::string_view name, const FontRef& font)
{
    // A font equal to the ambient one is left out, like every other default.
    const auto amb = ControlBase::ambientFont();
    if (!font || (font->name == amb->name && font->size == amb->size && font->bold == amb->bold &&
                  font->italic == amb->italic && font->underline == amb->underline)) {
        bag.write(name, Variant(), Variant());
        return;
    }
    bag.set(name, Variant(std::static_pointer_cast<automation::AutomationObject>(std::make_shared<FontSpec>(*font))));
}

PictureRef readPicture(const automation::PropertyBag& bag, std::string_view name)
{
    return bag.read(name, Variant()).objectAs<const Picture>();
}

void writePicture(automation::PropertyBag& bag, std::string_view name, const PictureRef& pic)
{
    bag.write(name, pictureVariant(pic), Variant());
}

Variant pictureVariant(const PictureRef& pic)
{
    if (!pic)
        return Variant();
    return Variant(std::const_pointer_cast<automation::AutomationObject>(
        std::static_pointer_cast<const automation::AutomationObject>(pic)));
}

PictureRef pictureFrom(const Variant& v)
{
    return v.objectAs<const Picture>();
}
Variant objectVariant(std::shared_ptr<automation::AutomationObject> o)
{
    return o ? Variant(std::move(o)) : Variant();
}

FontRef fontFrom(const Variant& v)
{
    return v.objectAs<FontSpec>();
}

} // namespace zs::flatui
