#include "flatui/core/FlatButton.h"

#include "automation/AutomationError.h"
#include "flatui/core/Tavolex.h"
#include "flatui/core/TextWrap.h"

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;

namespace {
constexpr Color kDefaultBack = 0x8000000Fu;
constexpr Color kWhite = 0xFFFFFFu;
constexpr int kErrImageIndex = 35600; // the image list's "index out of bounds"
constexpr int kErrObjectNotSet = 91;
} // namespace

FlatButton::FlatButton() = default;

void FlatButton::setEnabled(bool on)
{
    m_enabled = on;
    m_state = on ? Normal : Disabled;
    paint();
    notify("Enabled");
}

void FlatButton::setImageindex(std::int32_t i)
{
    m_imageindex = i;
    if (!myImageList)
        throw AutomationError(kErrObjectNotSet, "Object variable or With block variable not set");
    PictureRef pic = myImageList->item(i);
    if (!pic)
        throw AutomationError(kErrImageIndex, "Index out of bounds");
    let(m_picture, std::move(pic), "imageindex");
}

void FlatButton::Refresh()
{
    if (m_state == Hover || m_state == Pressed) {
        m_state = Normal;
        paint();
    }
}

void FlatButton::paint()
{
    DisplayList& c = canvas();
    c.clear(m_backColor);
    Color textColor = m_foreColor;
    int alpha = 255;
    switch (m_state) {
    case Normal:
        textColor = m_foreColorNormal;
        alpha = 180;
        m_mousePointer = 99;
        break;
    case Hover:
    case Pressed:
        m_mousePointer = 99;
        break;
    default:
        alpha = 50;
        m_mousePointer = 0;
        break;
    }
    if (!m_fading) {
        if (m_picture) {
            // The hidden picture's size in twips, back to whole pixels.
            const double w = pxRound(m_picture->width * kTwipsPerPixel);
            const double h = pxRound(m_picture->height * kTwipsPerPixel);
            c.alphaBlend(m_picture, 0, 0, w, h, w, h, alpha);
        }
        const TwipsMeasure m{textMetrics(), *m_font};
        const double x = (widthTwips() - m.width(m_text)) / 2;
        const double y = (heightTwips() - m.height(m_text)) / 2;
        c.text(px(x), px(y), m_text, textColor, m_font);
    }
    finishDrawing();
}

void FlatButton::mouseDown(int button, int shift, double x, double y)
{
    if (m_state == Normal || m_state == Hover) {
        m_state = Pressed;
        paint();
    }
    raiseMouse(ev::MouseDown, button, shift, x, y);
}

void FlatButton::mouseMove(int button, int shift, double x, double y)
{
    if (button == 0 && (m_state == Normal || m_state == Pressed)) {
        m_state = Hover;
        paint();
    }
    raiseMouse(ev::MouseMove, button, shift, x, y);
}

void FlatButton::mouseUp(int button, int shift, double x, double y)
{
    if (m_state != Disabled)
        raiseMouse(ev::MouseUp, button, shift, x, y);
}

void FlatButton::click()
{
    raise(ev::Click);
}
void FlatButton::dblClick()
{
    raise(ev::DblClick);
}

void FlatButton::keyDown(int keyCode, int shift)
{
    if (m_state != Disabled)
        raiseKey(ev::KeyDown, keyCode, shift);
}

void FlatButton::keyPress(int keyAscii)
{
    if (m_state != Disabled)
        raiseKey(ev::KeyPress, keyAscii, 0);
}

void FlatButton::keyUp(int keyCode, int shift)
{
    if (m_state != Disabled)
        raiseKey(ev::KeyUp, keyCode, shift);
}

void FlatButton::initProperties()
{
    m_enabled = false;
    m_font = ambientFont();
    m_borderStyle = 0;
    m_text.clear();
    m_imageindex = 0;
    m_foreColorNormal = kWhite;
    m_foreColor = kWhite;
    m_fading = false;
}

void FlatButton::readProperties(const automation::PropertyBag& bag)
{
    m_backColor = readColor(bag, "BackColor", kDefaultBack);
    m_enabled = bag.read("Enabled", Variant(false)).toBool();
    m_font = readFont(bag, "Font");
    m_borderStyle = bag.read("BorderStyle", Variant(std::int16_t{0})).toInt16();
    m_text = bag.read("Text", Variant("")).toString();
    setPicture(readPicture(bag, "Picture"));
    // No image list is set while a form loads: the index is only stored.
    m_imageindex = bag.read("imageindex", Variant(0)).toInt32();
    m_state = Normal;
    m_foreColorNormal = readColor(bag, "ForeColorNormal", kWhite);
    m_foreColor = readColor(bag, "ForeColor", kWhite);
    m_fading = bag.read("Fading", Variant(false)).toBool();
}

void FlatButton::writeProperties(automation::PropertyBag& bag) const
{
    writeColor(bag, "BackColor", m_backColor, kDefaultBack);
    bag.write("Enabled", Variant(m_enabled), Variant(false));
    writeFont(bag, "Font", m_font);
    bag.write("BorderStyle", Variant(m_borderStyle), Variant(std::int16_t{0}));
    bag.write("Text", Variant(m_text), Variant(""));
    writePicture(bag, "Picture", m_picture);
    bag.write("imageindex", Variant(m_imageindex), Variant(0));
    writeColor(bag, "ForeColorNormal", m_foreColorNormal, kWhite);
    writeColor(bag, "ForeColor", m_foreColor, kWhite);
    bag.write("Fading", Variant(m_fading), Variant(false));
}

const automation::DispatchTable& FlatButton::dispatchTable() const
{
    using B = automation::DispatchTableBuilder<FlatButton>;
    static const automation::DispatchTable table =
        withStandardEvents(B("FlatButton"))
            .property(
                0x40030008, "myImageList", "", [](FlatButton& b) { return objectVariant(b.myImageList); },
                [](FlatButton& b, const Variant& v) { b.myImageList = v.objectAs<ImageList>(); })
            .property(
                0x68030008, "BackColor", "BackColor",
                [](FlatButton& b) { return automation::colorVariant(b.BackColor()); },
                [](FlatButton& b, const Variant& v) { b.setBackColor(v.toColor()); })
            .property(
                0x68030007, "enabled", "Enabled", [](FlatButton& b) { return Variant(b.enabled()); },
                [](FlatButton& b, const Variant& v) { b.setEnabled(v.toBool()); })
            .property(
                automation::kDispIdFont, "Font", "Font", [](FlatButton& b) { return objectVariant(b.Font()); },
                [](FlatButton& b, const Variant& v) { b.setFont(fontFrom(v)); })
            .property(
                0x68030006, "BorderStyle", "BorderStyle", [](FlatButton& b) { return Variant(b.BorderStyle()); },
                [](FlatButton& b, const Variant& v) { b.setBorderStyle(v.toInt16()); })
            .property(
                0x68030005, "Text", "Text", [](FlatButton& b) { return Variant(b.Text()); },
                [](FlatButton& b, const Variant& v) { b.setText(v.toString()); })
            .property(
                0x68030004, "Picture", "Picture", [](FlatButton& b) { return pictureVariant(b.Picture()); },
                [](FlatButton& b, const Variant& v) { b.setPicture(pictureFrom(v)); })
            .property(
                0x68030003, "imageindex", "imageindex", [](FlatButton& b) { return Variant(b.imageindex()); },
                [](FlatButton& b, const Variant& v) { b.setImageindex(v.toInt32()); })
            .property(
                0x68030002, "ForeColorNormal", "ForeColorNormal",
                [](FlatButton& b) { return automation::colorVariant(b.ForeColorNormal()); },
                [](FlatButton& b, const Variant& v) { b.setForeColorNormal(v.toColor()); })
            .property(
                0x68030001, "ForeColor", "ForeColor",
                [](FlatButton& b) { return automation::colorVariant(b.ForeColor()); },
                [](FlatButton& b, const Variant& v) { b.setForeColor(v.toColor()); })
            .property(
                0x68030000, "Fading", "Fading", [](FlatButton& b) { return Variant(b.Fading()); },
                [](FlatButton& b, const Variant& v) { b.setFading(v.toBool()); })
            .method(0x60030009, "Refresh", noArgMethod<FlatButton, &FlatButton::Refresh>)
            .build();
    return table;
}

} // namespace zs::flatui
