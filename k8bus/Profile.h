#pragma once
// The platform's settings as the bus library reads them: the current user's registry key
// Software\Brastel\Korvi (a per-user INI file, one section per key path) and the profile file
// kor8.ini in the Windows folder ($WINDIR, else /etc). UseGlobalIniFile and UseEnvironment under
// the key decide whether the profile file is read and whether environment variables come first.

#include <optional>
#include <string>

namespace zs::k8bus {

inline constexpr const char* kKorviBaseKey = "Software\\Brastel\\Korvi";

/// Looks up section/key: registry first (when the key exists and a section is given), then the
/// profile file (when enabled and the section is not empty). `out` receives the value or the
/// default; values longer than `size` - 1 count as missing. Returns the value's length, 0 when
/// nothing was found.
int GetKorviProfileString(const char* section, const char* key, const char* def, std::string& out, std::size_t size);
/// An environment-like setting: the environment variable (when UseEnvironment), else
/// [Environment] in the registry, else in the profile file.
std::optional<std::string> getprofile(const char* name);
/// The profile file's path.
std::string getDefaultIniPath();

/// Forgets the process-wide decisions so the next lookup takes them again (tests only).
void profileResetForTests();

} // namespace zs::k8bus
