#include "IniFile.h"

#include <fstream>
#include <sstream>

namespace zs::k8bus {
namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Walks the lines; calls fn(section, key, value) for every entry and fn(section, {}, {}) for
// every section header. Stops when fn returns true.
template <class Fn> void walk(std::string_view text, Fn fn)
{
    std::string_view section;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            section = trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
            if (fn(section, std::string_view{}, std::string_view{}, true))
                return;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        if (fn(section, trim(line.substr(0, eq)), trim(line.substr(eq + 1)), false))
            return;
    }
}

} // namespace

IniFile IniFile::load(const std::string& path)
{
    IniFile ini;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ini;
    std::ostringstream ss;
    ss << in.rdbuf();
    ini.m_text = ss.str();
    ini.m_exists = true;
    return ini;
}

bool IniFile::hasSection(std::string_view section) const
{
    bool found = false;
    walk(m_text, [&](std::string_view s, std::string_view, std::string_view, bool header) {
        found = header && sameName(s, section);
        return found;
    });
    return found;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    std::optional<std::string> result;
    walk(m_text, [&](std::string_view s, std::string_view k, std::string_view v, bool header) {
        if (header || !sameName(s, section) || !sameName(k, key))
            return false;
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        result = std::string(v);
        return true;
    });
    return result;
}

} // namespace zs::k8bus
