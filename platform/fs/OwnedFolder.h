#pragma once
// Private working folders that a process makes for files it must not leave readable (copies of
// files that hold passwords, a remote-assistance server's connect file), and the clean-up that a
// later start runs over those a killed process left behind. A folder is 0700 from its creation
// and holds a marker naming the process that made it (its pid and its start time, so a reused
// pid is not taken for the maker); only a folder of this user whose marker names a process that
// no longer runs is ever removed.

#include <filesystem>
#include <optional>
#include <string>

namespace zs::fs {

/// The marker file inside every owned folder.
inline constexpr const char* kOwnerMarker = ".owner";

/// Creates `parent`/`prefix`XXXXXX (six random characters), mode 0700, with the marker of this
/// process inside. Nothing, with the reason in `error`, when it cannot be made; a folder whose
/// marker could not be written is removed again.
std::optional<std::filesystem::path> makeOwnedFolder(const std::filesystem::path& parent, const std::string& prefix,
                                                     std::string* error = nullptr);

/// Removes the folders under `parent` named `prefix` and six more characters that belong to this
/// user and whose marker names a process that has ended. A folder without a readable marker (a
/// maker that has not written it yet, or another program's folder), a link, another user's
/// folder or one whose maker still runs stays. Returns how many went.
int removeDeadOwnedFolders(const std::filesystem::path& parent, const std::string& prefix);

/// The start time of process `pid` in clock ticks since boot; nothing when it does not run.
std::optional<unsigned long long> processStartTime(long pid);

} // namespace zs::fs
