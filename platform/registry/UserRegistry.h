#pragma once
// The per-user key/value store that replaces the current user's registry hive: one INI file
// whose sections are key paths. Used by the mail client's kept settings and by anything else
// that keeps small per-user strings.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::registry {

class UserRegistry {
  public:
    /// The store at `file`; the default is $XDG_CONFIG_HOME/ZentrikServer/registry.ini.
    explicit UserRegistry(std::filesystem::path file = defaultFile());

    static std::filesystem::path defaultFile();
    const std::filesystem::path& file() const { return m_file; }

    /// The value, or nothing when the key, the value or the file is missing or unreadable.
    std::optional<std::string> value(std::string_view keyPath, std::string_view name) const;
    /// Writes one value, creating the key; false when the file cannot be written.
    [[nodiscard]] bool setValue(std::string_view keyPath, std::string_view name, std::string_view text);
    /// Removes one value; true when it is gone afterwards.
    bool removeValue(std::string_view keyPath, std::string_view name);
    /// Whether the key exists: it has a section (with or without values), or a key below it has one.
    bool hasKey(std::string_view keyPath) const;
    /// Names of the keys directly below `keyPath`, in file order.
    std::vector<std::string> subkeys(std::string_view keyPath) const;

  private:
    std::filesystem::path m_file;
};

/// Key path of an application's settings section: "Software\<app>\<section>".
std::string settingsKey(std::string_view app, std::string_view section);
/// Reads a program setting; `fallback` when it is missing.
std::string getSetting(std::string_view app, std::string_view section, std::string_view name, std::string_view fallback,
                       const UserRegistry& reg = UserRegistry());
/// Writes a program setting; false when the store cannot be written.
[[nodiscard]] bool saveSetting(std::string_view app, std::string_view section, std::string_view name,
                               std::string_view text, UserRegistry reg = UserRegistry());

} // namespace zs::registry
