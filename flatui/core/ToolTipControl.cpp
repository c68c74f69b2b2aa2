#include "flatui/core/ToolTipControl.h"

#include "automation/AutomationError.h"
#include "text/Ascii.h"
#include "text/Split.h"

#include <cmath>

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;
namespace err = automation::err;

namespace {

bool inTriangle(const std::vector<PointF>& t, double x, double y)
{
    const auto sign = [](const PointF& a, const PointF& b, double px, double py) {
        return (px - b.x) * (a.y - b.y) - (a.x - b.x) * (py - b.y);
    };
    const double d1 = sign(t[0], t[1], x, y);
    const double d2 = sign(t[1], t[2], x, y);
    const double d3 = sign(t[2], t[0], x, y);
    const bool neg = d1 < 0 || d2 < 0 || d3 < 0;
    const bool pos = d1 > 0 || d2 > 0 || d3 > 0;
    return !(neg && pos);
}

} // namespace

TipLayout layoutTip(std::string_view text, bool wordwrap, const TextMetrics& metrics, const FontSpec& font)
{
    const auto width = [&](std::string_view s) { return metrics.width(s, font) * kTwipsPerPixel; };
    const auto height = [&](std::string_view s) { return metrics.height(s, font) * kTwipsPerPixel; };
    TipLayout out;
    if (wordwrap && width(text) >= 2700) {
        const auto words = text::split(text, " ");
        if (words.size() > 32767)
            throw AutomationError(err::kOverflow);
        std::string c;
        for (const auto& w : words) {
            if (width(std::string(text::trimLeft(c + " " + w, " "))) > out.W - 300) {
                out.lines.push_back(std::string(text::trimLeft(c, " ")));
                c = w;
            } else {
                c = c + " " + w;
            }
        }
        out.lines.push_back(std::string(text::trimLeft(c, " ")));
    } else if (wordwrap) {
        out.lines.emplace_back(text);
        out.W = width(text) + 300;
        out.H = height(text) + 600;
    } else {
        // An empty text has no lines at all; the box keeps its margins.
        if (!text.empty())
            out.lines = text::split(text, "\r\n");
        if (out.lines.size() > 32767)
            throw AutomationError(err::kOverflow);
        const double lineH = out.lines.empty() ? 0 : height(out.lines[0]);
        out.H = static_cast<double>(out.lines.size()) * lineH + 600;
        double widest = 0;
        for (const auto& l : out.lines)
            widest = std::max(widest, width(l));
        out.W = widest + 300;
    }
    return out;
}

TipPlacement placeTip(int tooltipLeft, int tooltipTop, double W, double H, int cw, int ch, int srcX, int srcY)
{
    TipPlacement p{tooltipLeft, tooltipTop, srcX, srcY, false};
    const int wp = static_cast<int>(pxRound(W));
    const int hp = static_cast<int>(pxRound(H));
    if (tooltipLeft + wp > cw) {
        p.x = tooltipLeft - wp;
        p.srcX = srcX - wp;
        p.flippedLeft = true;
    }
    if (tooltipTop + hp > ch) {
        p.y = ch - hp;
        p.srcY = srcY + ch - (hp + tooltipTop);
    }
    return p;
}

std::vector<PointF> TipShape::pointer() const
{
    if (pointerRight)
        return {{w, 0}, {w - 10, 20}, {w - 30, 20}};
    return {{0, 0}, {10, 20}, {30, 20}};
}

bool TipShape::contains(double x, double y) const
{
    if (balloon && inTriangle(pointer(), x, y))
        return true;
    // Round rectangle (0, 20)-(w, h), corner ellipses 20 x 20: radius 10.
    if (x < 0 || x >= w || y < 20 || y >= h)
        return false;
    const double r = 10;
    const double cx = x < r ? r : (x > w - r ? w - r : x);
    const double cy = y < 20 + r ? 20 + r : (y > h - r ? h - r : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

ToolTipControl::ToolTipControl() = default;

void ToolTipControl::setInterval(std::int32_t ms)
{
    if (m_shown)
        return;
    m_interval = ms;
    if (m_host)
        m_host->timerChanged(m_interval, m_timerEnabled);
    notify("Interval");
}

void ToolTipControl::setTimerEnabled(bool on)
{
    m_timerEnabled = on;
    if (m_host) {
        m_host->timerChanged(m_interval, m_timerEnabled);
        if (on)
            m_rest = m_host->cursorPos();
    }
    notify("TimerEnabled");
}

void ToolTipControl::Hide()
{
    if (m_host) {
        m_host->setWindowVisible(false);
        m_host->moveControl(-px(widthTwips()), -px(heightTwips()));
    }
    m_shown = false;
    m_timerEnabled = false;
    if (m_host)
        m_host->timerChanged(m_interval, false);
}

void ToolTipControl::show()
{
    if (m_host)
        m_host->setWindowVisible(true);
    m_shown = true;
}

void ToolTipControl::go()
{
    if (!m_host)
        return;
    m_host->moveControl(1, 1);
    for (int i = 0; i < 3; ++i)
        m_host->pumpEvents();
    const auto [cw, ch] = m_host->containerSize();
    m_host->pumpEvents();
    const TipLayout layout = layoutTip(m_text, m_wordwrap, textMetrics(), *m_font);
    m_host->pumpEvents();
    const TipPlacement place = placeTip(m_left, m_topPos, layout.W, layout.H, cw, ch, m_srcX, m_srcY);
    m_srcX = place.srcX;
    m_srcY = place.srcY;
    m_host->pumpEvents();
    m_host->moveControl(place.x, place.y);

    m_shape = TipShape{pxRound(layout.W), pxRound(layout.H), m_appearance == typeApparance::baloon, place.flippedLeft};

    // The cursor comes back whatever happens while the tip is drawn.
    struct CursorGuard {
        ToolTipHost& host;
        explicit CursorGuard(ToolTipHost& h)
            : host(h)
        {
            host.setCursorVisible(false);
        }
        ~CursorGuard() { host.setCursorVisible(true); }
    } guard(*m_host);

    m_host->setShape(m_shape);
    m_host->resizeControl(layout.W, layout.H);
    resize(layout.W, layout.H);
    DisplayList& c = canvas();
    c.clear(m_backColor);
    if (PictureRef src = m_host->sourcePicture(m_srcHdc)) {
        // Only the part of the source under the tip: a window of it starting at (srcX, srcY).
        auto part = std::make_shared<Picture>(static_cast<int>(m_shape.w), static_cast<int>(m_shape.h), 0u);
        for (int y = 0; y < part->height; ++y)
            for (int x = 0; x < part->width; ++x) {
                const int sx = m_srcX + x, sy = m_srcY + y;
                if (sx >= 0 && sy >= 0 && sx < src->width && sy < src->height)
                    part->set(x, y, src->at(sx, sy));
            }
        c.alphaBlend(part, 0, 0, m_shape.w, m_shape.h, m_shape.w, m_shape.h, m_opacity & 0xFF);
    }
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const double lh = textMetrics().height(layout.lines[i], *m_font) * kTwipsPerPixel;
        c.text(px(150), px(static_cast<double>(i) * lh + 450), layout.lines[i], 0, m_font);
    }
    finishDrawing();
}

void ToolTipControl::timerTick()
{
    if (m_withAlarm) {
        if (!m_shown)
            raise(kAlarm);
        return;
    }
    if (!m_host)
        return;
    const PointF now = m_host->cursorPos();
    if (m_shown) {
        if (!(now == m_rest))
            Hide();
        return;
    }
    if (now == m_rest) {
        go();
        show();
        m_interval = 50;
        m_host->timerChanged(m_interval, m_timerEnabled);
    }
}

void ToolTipControl::initProperties()
{
    m_srcX = m_srcY = m_srcHdc = 0;
    m_text.clear();
    m_appearance = typeApparance::baloon;
    m_opacity = 64;
    m_left = m_topPos = 0;
    setWithAlarm(false);
}

void ToolTipControl::readProperties(const automation::PropertyBag& bag)
{
    m_srcX = bag.read("srcX", Variant(0)).toInt32();
    m_srcY = bag.read("srcY", Variant(0)).toInt32();
    m_text = bag.read("Text", Variant("")).toString();
    m_srcHdc = bag.read("srcHdc", Variant(0)).toInt32();
    m_backColor = readColor(bag, "BackColor", 0x8000000Fu);
    Hide();
    m_appearance = static_cast<typeApparance>(bag.read("Appearance", Variant(0)).toInt32());
    m_opacity = bag.read("opacity", Variant(64)).toInt32();
    m_left = bag.read("tooltipLeft", Variant(0)).toInt32();
    m_topPos = bag.read("tooltipTop", Variant(0)).toInt32();
    m_withAlarm = bag.read("withAlarm", Variant(false)).toBool();
    m_wordwrap = bag.read("wordwrap", Variant(true)).toBool();
}

void ToolTipControl::writeProperties(automation::PropertyBag& bag) const
{
    bag.write("srcX", Variant(m_srcX), Variant(0));
    bag.write("srcY", Variant(m_srcY), Variant(0));
    bag.write("Text", Variant(m_text), Variant(""));
    bag.write("srcHdc", Variant(m_srcHdc), Variant(0));
    writeColor(bag, "BackColor", m_backColor, 0x8000000Fu);
    bag.write("Appearance", Variant(static_cast<std::int32_t>(m_appearance)), Variant(0));
    bag.write("opacity", Variant(m_opacity), Variant(64));
    bag.write("tooltipLeft", Variant(m_left), Variant(0));
    bag.write("tooltipTop", Variant(m_topPos), Variant(0));
    bag.write("withAlarm", Variant(m_withAlarm), Variant(false));
    bag.write("wordwrap", Variant(m_wordwrap), Variant(true));
}

const automation::DispatchTable& ToolTipControl::dispatchTable() const
{
    using T = ToolTipControl;
    using automation::colorVariant;
    static const automation::DispatchTable table =
        automation::DispatchTableBuilder<T>("ToolTipControl")
            .property(
                0x6803000C, "srcX", "srcX", [](T& t) { return Variant(t.srcX()); },
                [](T& t, const Variant& v) { t.setSrcX(v.toInt32()); })
            .property(
                0x6803000B, "srcY", "srcY", [](T& t) { return Variant(t.srcY()); },
                [](T& t, const Variant& v) { t.setSrcY(v.toInt32()); })
            .property(
                0x6803000A, "Text", "Text", [](T& t) { return Variant(t.Text()); },
                [](T& t, const Variant& v) { t.setText(v.toString()); })
            .property(
                0x68030009, "srcHdc", "srcHdc", [](T& t) { return Variant(t.srcHdc()); },
                [](T& t, const Variant& v) { t.setSrcHdc(v.toInt32()); })
            .property(
                0x68030008, "BackColor", "BackColor", [](T& t) { return colorVariant(t.BackColor()); },
                [](T& t, const Variant& v) { t.setBackColor(v.toColor()); })
            .property(
                0x68030007, "Interval", "", [](T& t) { return Variant(t.Interval()); },
                [](T& t, const Variant& v) { t.setInterval(v.toInt32()); })
            .property(
                0x68030006, "TimerEnabled", "", [](T& t) { return Variant(t.TimerEnabled()); },
                [](T& t, const Variant& v) { t.setTimerEnabled(v.toBool()); })
            .property(
                0x68030005, "Appearance", "Appearance",
                [](T& t) { return Variant(static_cast<std::int32_t>(t.Appearance())); },
                [](T& t, const Variant& v) { t.setAppearance(static_cast<typeApparance>(v.toInt32())); })
            .property(
                0x68030004, "opacity", "opacity", [](T& t) { return Variant(t.opacity()); },
                [](T& t, const Variant& v) { t.setOpacity(v.toInt32()); })
            .property(
                0x68030003, "tooltipLeft", "tooltipLeft", [](T& t) { return Variant(t.tooltipLeft()); },
                [](T& t, const Variant& v) { t.setTooltipLeft(v.toInt32()); })
            .property(
                0x68030002, "tooltipTop", "tooltipTop", [](T& t) { return Variant(t.tooltipTop()); },
                [](T& t, const Variant& v) { t.setTooltipTop(v.toInt32()); })
            .property(
                0x68030001, "withAlarm", "withAlarm", [](T& t) { return Variant(t.withAlarm()); },
                [](T& t, const Variant& v) { t.setWithAlarm(v.toBool()); })
            .property(
                0x68030000, "wordwrap", "wordwrap", [](T& t) { return Variant(t.wordwrap()); },
                [](T& t, const Variant& v) { t.setWordwrap(v.toBool()); })
            .method(0x6003000D, "Hide", noArgMethod<T, &T::Hide>)
            .method(0x6003000E, "show", noArgMethod<T, &T::show>)
            .method(0x6003000F, "go", noArgMethod<T, &T::go>)
            .event(kAlarm, "Alarm", 0)
            .build();
    return table;
}

} // namespace zs::flatui
