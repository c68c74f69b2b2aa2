#pragma once
// Paths as the program sees them: the program folder, names written with either slash, and
// case-insensitive lookup of files that settings name in another case than the disk holds.

#include <filesystem>
#include <string_view>

namespace zs::fs {

/// The program folder: $ZENTRIK_HOME when set and not empty, else the folder of the running
/// executable.
std::filesystem::path programFolder();

/// The user's configuration folder: $XDG_CONFIG_HOME when set and not empty, else
/// $HOME/.config, else /tmp.
std::filesystem::path configHome();

/// A path written with `\` or `/` separators (or both) as a native path.
std::filesystem::path fromWindows(std::string_view text);

/// The existing file or folder that matches `path` when each component is compared without
/// regard to case; the exact name wins when it exists. When nothing matches, `path` itself.
std::filesystem::path resolveCaseInsensitive(const std::filesystem::path& path);

/// fromWindows followed by resolveCaseInsensitive; relative paths are taken under `base`.
std::filesystem::path resolveUserPath(std::string_view text, const std::filesystem::path& base = {});

} // namespace zs::fs
