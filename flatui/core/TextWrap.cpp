#include "flatui/core/TextWrap.h"

#include "automation/AutomationError.h"

namespace zs::flatui {

namespace {

// Positions below are 1-based, as the algorithm counts characters; the text is held as code
// points so a break never splits a UTF-8 sequence.
class Text {
  public:
    explicit Text(std::string_view utf8)
    {
        for (std::size_t i = 0; i < utf8.size();) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
            m_chars.emplace_back(utf8.substr(i, std::min(n, utf8.size() - i)));
            i += n;
        }
    }
    long len() const { return static_cast<long>(m_chars.size()); }
    bool isSpace(long p) const { return m_chars[p - 1] == " "; }
    void erase(long p) { m_chars.erase(m_chars.begin() + (p - 1)); }
    void insertSpace(long p) { m_chars.insert(m_chars.begin() + (p - 1), " "); }
    /// Characters from a to b inclusive ("" when b < a).
    std::string mid(long a, long b) const
    {
        std::string out;
        for (long i = a; i <= b && i <= len(); ++i)
            out += m_chars[i - 1];
        return out;
    }
    /// First space at or after position from; 0 when none.
    long findSpace(long from) const
    {
        for (long i = std::max(from, 1L); i <= len(); ++i)
            if (isSpace(i))
                return i;
        return 0;
    }

  private:
    std::vector<std::string> m_chars;
};

} // namespace

std::vector<WrappedLine> SpezzaStringa(std::string_view s, int nrighe, double X, double Y, double Picwidth,
                                       double Picheight, const TwipsMeasure& measure, WrapOverflow policy)
{
    Text t(s);
    if (t.len() > 32767)
        throw automation::AutomationError(automation::err::kOverflow);

    // Collapse runs of spaces; leading spaces stay.
    long p = 2;
    if (t.len() >= 1 && t.isSpace(1)) {
        p = 1;
        while (p <= t.len() && t.isSpace(p))
            ++p;
    }
    while (p <= t.len()) {
        if (p >= 2 && t.isSpace(p - 1) && t.isSpace(p))
            t.erase(p);
        else
            ++p;
    }

    // Break words too wide for a line.
    long a = 1;
    for (p = 2; p <= t.len();) {
        if (t.isSpace(p)) {
            a = p + 1;
            ++p;
        } else if (measure.width(t.mid(a, p)) >= Picwidth) {
            t.insertSpace(p);
            a = p + 1;
            p += 2;
        } else {
            ++p;
        }
    }

    // Fill lines.
    std::vector<std::string> lines(1);
    int c = 0;
    a = 1;
    long f = 0;
    long h = t.findSpace(1);
    while (h > 0) {
        if (measure.width(t.mid(a, h - 1)) < Picwidth) {
            f = h;
        } else if (f < 1) {
            f = h;
        } else {
            lines.back() += t.mid(a, f - 1);
            ++c;
            a = f + 1;
            if (c == nrighe)
                break;
            lines.emplace_back();
            f = a;
        }
        h = t.findSpace(f + 1);
    }
    if (c < nrighe) {
        if (measure.width(t.mid(a, t.len())) >= Picwidth && f > 0) {
            lines.back() += t.mid(a, f - 1);
            ++c;
            a = f; // the rest keeps the space it starts with
            if (c < nrighe)
                lines.emplace_back();
        }
        if (c < nrighe)
            lines.back() += t.mid(a, t.len());
    }
    lines.emplace_back(); // the list is split from the lines followed by one separator

    const int n = policy == WrapOverflow::ExtraEmptyLine ? c + 1 : std::min(c + 1, nrighe);
    const double lh = roundEven(measure.height(lines[1]) + 4);
    const double top = roundEven((Picheight - lh * n) / 2);
    std::vector<WrappedLine> out;
    out.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int j = 1; j <= n && j <= static_cast<int>(lines.size()); ++j)
        out.push_back({lines[static_cast<std::size_t>(j - 1)], X, Y + top + lh * (j - 1)});
    return out;
}

} // namespace zs::flatui
