#pragma once
// Paths as the program sees them: the program folder, names written with either slash, and
// case-insensitive lookup of files that settings name in another case than the disk holds.

#include <filesystem>
#include <string_view>

namespace zs::fs {

/// The program folder: $ZENTRIK_HOME when set and not empty, else defaultProgramFolder().
/// Always absolute, without a trailing "/": a relative $ZENTRIK_HOME is taken from the working
/// folder at the time of the call, so the program asks once, at start-up.
std::filesystem::path programFolder();

/// The program folder without $ZENTRIK_HOME: the executable's folder when it is a build folder
/// (isBuildFolder), else the per-user folder of an installed program, perUserProgramFolder().
std::filesystem::path defaultProgramFolder();

/// `$XDG_DATA_HOME/ZentrikServer` ($HOME/.local/share when XDG_DATA_HOME is unset or relative).
std::filesystem::path perUserProgramFolder();

/// Whether `dir` is a folder of a CMake build tree (it holds cmake_install.cmake and CMakeFiles),
/// as the folder of an executable that has not been installed is.
bool isBuildFolder(const std::filesystem::path& dir);

/// `folder` made absolute (from the working folder) and normal, without a trailing "/": the one
/// spelling of a folder however it was named ("d2", "./d2/", "/x/d2").
std::filesystem::path absoluteFolder(const std::filesystem::path& folder);

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
