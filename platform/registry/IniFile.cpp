#include "registry/IniFile.h"

#include "fs/ReadFile.h"
#include "text/Ascii.h"

namespace zs::registry {
namespace {

/// Lines may end in CR (files written on Windows); names and values lose their blanks.
std::string_view trim(std::string_view s)
{
    return text::trim(s, " \t\r");
}

} // namespace

bool sameIniName(std::string_view a, std::string_view b)
{
    return text::equalsNoCase(a, b);
}

IniFile IniFile::load(const std::filesystem::path& path, std::string* error)
{
    std::string text;
    // A FIFO at the name would hold the caller (a bus login on the window's thread) for good,
    // a link to /dev/zero would fill the memory: only a regular file of a bounded size is read.
    switch (zs::fs::readFileBounded(path, zs::fs::ReadLimit::kIni, text, error)) {
    case zs::fs::ReadOutcome::Read:
        break;
    case zs::fs::ReadOutcome::Missing:
        if (error)
            error->clear();
        return IniFile{};
    case zs::fs::ReadOutcome::Refused: {
        IniFile refused;
        refused.m_refused = true;
        return refused;
    }
    }
    IniFile ini = parse(text);
    ini.m_exists = true;
    return ini;
}

IniFile IniFile::parse(std::string_view text)
{
    IniFile ini;
    // Entries belong to the section of the last well-formed header; after a malformed one they
    // belong to none, so a broken header never lends its entries to the section before it.
    bool inSection = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            // A header needs its closing bracket (what follows it is ignored); a line without
            // one starts no section.
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos;
            if (inSection)
                ini.m_sections.push_back({std::string(trim(line.substr(1, close - 1))), {}});
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !inSection)
            continue;
        ini.m_sections.back().values.emplace_back(std::string(trim(line.substr(0, eq))),
                                                  std::string(trim(line.substr(eq + 1))));
    }
    return ini;
}

bool IniFile::hasSection(std::string_view name) const
{
    return section(name) != nullptr;
}

const IniSection* IniFile::section(std::string_view name) const
{
    for (const auto& s : m_sections)
        if (sameIniName(s.name, name))
            return &s;
    return nullptr;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    for (const auto& s : m_sections) {
        if (!sameIniName(s.name, section))
            continue;
        for (const auto& [name, raw] : s.values) {
            if (!sameIniName(name, key))
                continue;
            std::string_view v = raw;
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
                v = v.substr(1, v.size() - 2);
            return std::string(v);
        }
    }
    return std::nullopt;
}

} // namespace zs::registry
