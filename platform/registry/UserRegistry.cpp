#include "registry/UserRegistry.h"

#include "registry/IniFile.h"

#include "fs/AtomicFile.h"
#include "fs/Paths.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace zs::registry {
namespace {

// One section of the file: its key path as written and its values (unescaped) in file order.
using Section = IniSection;

// Values are stored escaped so that any text (line breaks, '=' and leading blanks included)
// survives the round trip through a line-based file.
std::string escape(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case ' ':
            out += (out.empty() ? "\\s" : " ");
            break;
        default:
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ')
        out.replace(out.size() - 1, 1, "\\s");
    return out;
}

std::string unescape(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char n = s[++i];
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == 't' ? '\t' : n == 's' ? ' ' : n;
    }
    return out;
}

std::string escapeName(std::string_view s)
{
    std::string out;
    for (char c : s)
        out += (c == '=' || c == '\n' || c == '\r' || c == '[') ? '_' : c;
    return out;
}

std::vector<Section> load(const std::filesystem::path& file, bool* refused = nullptr)
{
    IniFile ini = IniFile::load(file);
    if (refused)
        *refused = ini.refused();
    std::vector<Section> sections = std::move(ini.sections());
    for (auto& section : sections)
        for (auto& entry : section.values)
            entry.second = unescape(entry.second);
    return sections;
}

std::string serialise(const std::vector<Section>& sections)
{
    std::string out;
    for (const auto& s : sections) {
        if (!out.empty())
            out += '\n';
        out += '[' + s.name + "]\n";
        for (const auto& [name, value] : s.values)
            out += name + '=' + escape(value) + '\n';
    }
    return out;
}

std::string normaliseKey(std::string_view key)
{
    std::string out(key);
    std::replace(out.begin(), out.end(), '/', '\\');
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    while (!out.empty() && out.front() == '\\')
        out.erase(out.begin());
    return out;
}

Section* findSection(std::vector<Section>& sections, std::string_view key)
{
    for (auto& s : sections)
        if (sameIniName(s.name, key))
            return &s;
    return nullptr;
}

} // namespace

UserRegistry::UserRegistry(std::filesystem::path file)
    : m_file(std::move(file))
{}

std::filesystem::path UserRegistry::defaultFile()
{
    return fs::configHome() / "ZentrikServer" / "registry.ini";
}

std::optional<std::string> UserRegistry::value(std::string_view keyPath, std::string_view name) const
{
    auto sections = load(m_file);
    const Section* s = findSection(sections, normaliseKey(keyPath));
    if (!s)
        return std::nullopt;
    for (const auto& [n, v] : s->values)
        if (sameIniName(n, name))
            return v;
    return std::nullopt;
}

bool UserRegistry::hasKey(std::string_view keyPath) const
{
    // As in a hive, a key exists when it has a section of its own or any key below it has one.
    const std::string key = normaliseKey(keyPath);
    const std::string below = key + '\\';
    for (const auto& s : load(m_file)) {
        const std::string name = normaliseKey(s.name);
        if (sameIniName(name, key) || key.empty() ||
            (name.size() > below.size() && sameIniName(std::string_view(name).substr(0, below.size()), below)))
            return true;
    }
    return false;
}

bool UserRegistry::setValue(std::string_view keyPath, std::string_view name, std::string_view text)
{
    // A file that could not be read is not replaced by one that drops what it held.
    bool refused = false;
    auto sections = load(m_file, &refused);
    if (refused)
        return false;
    const std::string key = normaliseKey(keyPath);
    Section* s = findSection(sections, key);
    if (!s) {
        sections.push_back({key, {}});
        s = &sections.back();
    }
    const std::string cleanName = escapeName(name);
    auto it = std::find_if(s->values.begin(), s->values.end(),
                           [&](const auto& p) { return sameIniName(p.first, cleanName); });
    if (it != s->values.end())
        it->second = std::string(text);
    else
        s->values.emplace_back(cleanName, std::string(text));
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    // Kept settings may hold user names and hosts; the hive is private to its user.
    return zs::fs::writeFileAtomic(m_file, serialise(sections), {.privateMode = true});
}

bool UserRegistry::removeValue(std::string_view keyPath, std::string_view name)
{
    bool refused = false;
    auto sections = load(m_file, &refused);
    if (refused)
        return false;
    Section* s = findSection(sections, normaliseKey(keyPath));
    if (!s)
        return true;
    const auto before = s->values.size();
    std::erase_if(s->values, [&](const auto& p) { return sameIniName(p.first, name); });
    if (before == s->values.size())
        return true;
    return zs::fs::writeFileAtomic(m_file, serialise(sections), {.privateMode = true});
}

std::vector<std::string> UserRegistry::subkeys(std::string_view keyPath) const
{
    const std::string prefix = normaliseKey(keyPath) + '\\';
    std::vector<std::string> out;
    for (const auto& s : load(m_file)) {
        if (s.name.size() <= prefix.size() || !sameIniName(std::string_view(s.name).substr(0, prefix.size()), prefix))
            continue;
        std::string child = s.name.substr(prefix.size());
        child = child.substr(0, child.find('\\'));
        if (std::none_of(out.begin(), out.end(), [&](const std::string& o) { return sameIniName(o, child); }))
            out.push_back(child);
    }
    return out;
}

std::string settingsKey(std::string_view app, std::string_view section)
{
    return "Software\\" + std::string(app) + '\\' + std::string(section);
}

std::string getSetting(std::string_view app, std::string_view section, std::string_view name, std::string_view fallback,
                       const UserRegistry& reg)
{
    return reg.value(settingsKey(app, section), name).value_or(std::string(fallback));
}

bool saveSetting(std::string_view app, std::string_view section, std::string_view name, std::string_view text,
                 UserRegistry reg)
{
    return reg.setValue(settingsKey(app, section), name, text);
}

} // namespace zs::registry
