#pragma once
// The program's one reader of INI text: "[section]" lines, "name=value" lines, ';' and '#'
// comment lines, names compared without regard to case. It reads the hand-written profile files
// the bus library consults (kor8.ini) and is the parser under UserRegistry's per-user store.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zs::registry {

/// One section as the file holds it: its name and its entries in file order, values raw
/// (surrounding blanks removed, nothing unescaped).
struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
};

class IniFile {
  public:
    /// Reads the file; a missing or unreadable file gives an empty one (exists() false). What
    /// is not a regular file (FIFO, folder, device) or holds more than a few MB is never read:
    /// refused() is then true and `error` says why.
    static IniFile load(const std::filesystem::path& path, std::string* error = nullptr);
    /// Parses text. Entries before the first section header, or after a header without its
    /// closing bracket, belong to no section and are dropped.
    static IniFile parse(std::string_view text);

    bool exists() const { return m_exists; }
    bool refused() const { return m_refused; }
    bool hasSection(std::string_view section) const;
    /// The first section of that name, or null.
    const IniSection* section(std::string_view name) const;
    /// A profile value as the platform's profile reader gives it: the first entry of that name
    /// in a section of that name, with one pair of enclosing double quotes removed.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    std::vector<IniSection>& sections() { return m_sections; }
    const std::vector<IniSection>& sections() const { return m_sections; }

  private:
    bool m_exists = false;
    bool m_refused = false;
    std::vector<IniSection> m_sections;
};

/// Case-insensitive comparison of section and entry names (ASCII letters).
bool sameIniName(std::string_view a, std::string_view b);

} // namespace zs::registry
