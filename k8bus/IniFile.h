#pragma once
// A small reader of INI files as the platform keeps its settings: [section] lines and
// key=value lines, names compared without regard to case, ';' and '#' comment lines. Reads the
// profile file kor8.ini; the per-user settings go through platform/registry.

#include <optional>
#include <string>
#include <string_view>

namespace zs::k8bus {

class IniFile {
public:
    /// Reads the file; a missing or unreadable file gives an empty one (exists() false).
    static IniFile load(const std::string& path);

    bool exists() const { return m_exists; }
    bool hasSection(std::string_view section) const;
    /// The value, with surrounding blanks (and one pair of enclosing quotes) removed.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

private:
    bool m_exists = false;
    std::string m_text;
};

} // namespace zs::k8bus
