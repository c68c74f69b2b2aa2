#include "flatui/core/SplashControl.h"

#include "automation/AutomationError.h"

#include <cmath>

namespace zs::flatui {

using automation::AutomationError;
using automation::Variant;

SplashControl::SplashControl() = default;

std::pair<int, int> SplashControl::desktopOffset(double parentW, double parentH, double screenW, double screenH)
{
    // The vertical offset carries an extra half pixel before rounding; the horizontal one does not.
    const int x = static_cast<int>(roundEven(((screenW - parentW) / kTwipsPerPixel) / 2));
    const int y = static_cast<int>(roundEven(((screenH - parentH) / kTwipsPerPixel) / 2 - 0.5));
    return {x, y};
}

void SplashControl::prepare()
{
    if (!m_host)
        throw AutomationError(kErrNoHost, "The splash control has no parent window");
    const double pw = m_host->parentWidthTwips();
    const double ph = m_host->parentHeightTwips();
    m_w = static_cast<int>(pxRound(pw));
    m_h = static_cast<int>(pxRound(ph));
    const auto [x, y] = desktopOffset(pw, ph, m_host->screenWidthTwips(), m_host->screenHeightTwips());
    m_holder = m_host->copyDesktop(x, y, m_w, m_h);
    m_frames.clear();
    m_frameTimes.clear();
    m_callStart = m_host->tickMs();
    m_host->pumpEvents();
}

void SplashControl::frame(double a, const PictureRef& picture)
{
    const int alpha = static_cast<int>(std::clamp(std::floor(a), 0.0, 255.0));
    m_parent.clear(0);
    if (m_holder) {
        m_parent.image(m_holder, 0, 0);
        if (picture)
            m_parent.alphaBlend(picture, 0, 0, m_w, m_h, m_w, m_h, alpha);
    } else {
        // No desktop copy: the window itself becomes more opaque.
        if (picture)
            m_parent.image(picture, 0, 0);
        m_host->setParentOpacity(alpha / 255.0);
    }
    m_frames.push_back(alpha);
    m_frameTimes.push_back(m_host->tickMs() - m_callStart);
    m_host->refreshParent();
}

void SplashControl::plain()
{
    m_parent.clear(0);
    if (m_holder)
        m_parent.image(m_holder, 0, 0);
    m_host->refreshParent();
}

void SplashControl::finish()
{
    // The holder is released; the parent keeps its last frame.
    m_holder.reset();
}

void SplashControl::go2(const PictureRef& picture, std::int32_t timems)
{
    prepare();
    const std::int64_t start = m_host->tickMs();
    double a = 0;
    m_host->setParentVisible(true);
    if (timems > 0) {
        do {
            frame(a, picture);
            m_host->pumpEvents();
            const std::int64_t elapsed = m_host->tickMs() - start;
            if (a != 0 || elapsed <= 300) {
                a = std::min(static_cast<double>(elapsed) * 255.0 / timems, 255.0);
                m_host->pumpEvents();
                m_host->sleepMs(20);
            } else {
                // The first frame alone took too long: show the plain background for the rest
                // of the time, then the picture at once.
                a = 255;
                plain();
                const std::int64_t rest = timems - elapsed;
                if (rest > 0)
                    m_host->sleepMs(static_cast<int>(rest));
            }
        } while (m_host->tickMs() < start + timems);
    }
    frame(255, picture);
    m_host->setParentVisible(true);
    m_host->pumpEvents();
    finish();
}

void SplashControl::go(const PictureRef& picture)
{
    prepare();
    std::int64_t start = m_host->tickMs();
    double step = 1;
    double a = 0;
    int measures = 0;
    do {
        frame(a, picture);
        m_host->setParentVisible(true);
        m_host->pumpEvents();
        if (a == 2) {
            const std::int64_t t = m_host->tickMs() - start;
            start = t; // the measured time replaces the mark, as the fade always did
            step = std::min(static_cast<double>(t) / 1000.0 * 255.0 / 4.0, 10.0);
            // A clock that did not move twice running would hold the fade at 2 for ever.
            if (step <= 0 && ++measures > 1)
                step = 10;
        }
        a += step;
    } while (a < 255);
    finish();
}

const automation::DispatchTable& SplashControl::dispatchTable() const
{
    using S = SplashControl;
    const auto pictureArg = [](S& s, const Variant& v) -> PictureRef {
        if (auto p = pictureFrom(v))
            return p;
        return s.m_host ? s.m_host->pictureForHandle(v.toInt32()) : nullptr;
    };
    static const automation::DispatchTable table =
        automation::DispatchTableBuilder<S>("SplashControl")
            .method(0x60030000, "go2",
                    [pictureArg](S& s, std::span<Variant> a) {
                        s.go2(pictureArg(s, automation::requiredArg(a, 0)),
                              automation::optionalArg(a, 1, Variant(1500)).toInt32());
                        return Variant();
                    })
            .method(0x60030001, "go",
                    [pictureArg](S& s, std::span<Variant> a) {
                        s.go(pictureArg(s, automation::requiredArg(a, 0)));
                        return Variant();
                    })
            .build();
    return table;
}

} // namespace zs::flatui
