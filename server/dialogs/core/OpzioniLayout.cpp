#include "dialogs/core/OpzioniLayout.h"

#include "engine/EngineStrings.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <vector>

namespace zs::dialogs {

namespace {

std::string number(double v)
{
    // Geometry is whole pixels; a fraction (never written by this program) keeps a point.
    if (std::nearbyint(v) == v)
        return std::to_string(static_cast<long long>(v));
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::optional<double> parse(std::string text)
{
    for (char& c : text)
        if (c == ',')
            c = '.';
    while (!text.empty() && text.front() == ' ')
        text.erase(text.begin());
    double v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos)
            return parts;
        start = pos + 1;
    }
}

} // namespace

std::string windowLayoutTag(double width, double height)
{
    return " 0.0." + number(width) + "." + number(height);
}

std::string controlLayoutTag(const std::string& tag, const Geometry& g)
{
    return tag + "@" + number(g.left) + "." + number(g.top) + "." + number(g.width) + "." + number(g.height);
}

std::optional<Geometry> applyLayout(const std::string& controlTag, const std::string& windowTag, double currentWidth,
                                    double currentHeight, const Geometry& current)
{
    if (controlTag.empty())
        return std::nullopt;
    const auto win = split(windowTag, '.');
    if (win.size() < 4)
        return std::nullopt;
    const auto w0 = parse(win[2]), h0 = parse(win[3]);
    if (!w0 || !h0 || *w0 <= 0 || *h0 <= 0)
        return std::nullopt;
    const auto at = controlTag.find('@');
    if (at == std::string::npos)
        return std::nullopt;
    const std::string letters = controlTag.substr(0, at);
    std::string rest = controlTag.substr(at + 1);
    if (const auto second = rest.find('@'); second != std::string::npos)
        rest.resize(second);
    const auto parts = split(rest, '.');
    if (parts.size() < 4)
        return std::nullopt;
    Geometry d;
    std::optional<double> v[4];
    for (int i = 0; i < 4; ++i)
        if (!(v[i] = parse(parts[static_cast<std::size_t>(i)])))
            return std::nullopt;
    d = {*v[0], *v[1], *v[2], *v[3]};

    const double rx = currentWidth / *w0, ry = currentHeight / *h0;
    const double gx = currentWidth - *w0, gy = currentHeight - *h0;
    Geometry g = current;
    for (char c : letters) {
        switch (c) {
        case 'A': g = {d.left * rx, d.top * ry, d.width * rx, d.height * ry}; break;
        case 'L': g.left = d.left * rx; break;
        case 'T': g.top = d.top * ry; break;
        case 'W': g.width = d.width * rx; break;
        case 'H': g.height = d.height * ry; break;
        case 'r': g.left = d.left + gx; break;
        case 'b': g.top = d.top + gy; break;
        case 'w': g.width = d.width + gx; break;
        case 'h': g.height = d.height + gy; break;
        default: break;
        }
    }
    // A control cannot take a negative size; such a statement is passed over.
    if (g.width < 0)
        g.width = current.width;
    if (g.height < 0)
        g.height = current.height;
    return g;
}

std::string settingsFileName(const std::string& chosenPath, const std::string& programFolder)
{
    namespace stdfs = std::filesystem;
    const stdfs::path chosen(chosenPath);
    auto norm = [](const stdfs::path& p) {
        std::string s = p.lexically_normal().generic_string();
        while (s.size() > 1 && s.back() == '/')
            s.pop_back();
        return engine::lower(s);
    };
    if (!programFolder.empty() && norm(chosen.parent_path()) == norm(stdfs::path(programFolder)))
        return chosen.filename().string();
    return chosenPath;
}

} // namespace zs::dialogs
