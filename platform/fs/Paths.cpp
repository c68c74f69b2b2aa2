#include "fs/Paths.h"

#include "text/Ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace zs::fs {

namespace {} // namespace

std::filesystem::path absoluteFolder(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(folder, ec);
    if (ec)
        p = folder;
    p = p.lexically_normal();
    // "/x/d2/" and "/x/d2/." normalise to "/x/d2/": the folder is "/x/d2".
    if (!p.has_filename() && p.has_relative_path())
        p = p.parent_path();
    return p;
}

bool isBuildFolder(const std::filesystem::path& dir)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(dir / "cmake_install.cmake", ec) &&
           std::filesystem::is_directory(dir / "CMakeFiles", ec);
}

std::filesystem::path perUserProgramFolder()
{
    std::filesystem::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::filesystem::path(home) / ".local/share";
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        data = std::filesystem::path(pw->pw_dir) / ".local/share";
    else
        data = "/tmp";
    return absoluteFolder(data / "ZentrikServer");
}

std::filesystem::path defaultProgramFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return absoluteFolder(std::filesystem::current_path(ec));
    if (isBuildFolder(exe.parent_path()))
        return exe.parent_path();
    return perUserProgramFolder();
}

std::filesystem::path programFolder()
{
    if (const char* home = std::getenv("ZENTRIK_HOME"); home && *home)
        return absoluteFolder(home);
    return defaultProgramFolder();
}

std::filesystem::path configHome()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return xdg;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config";
    return "/tmp";
}

std::filesystem::path fromWindows(std::string_view text)
{
    std::string s(text);
    std::replace(s.begin(), s.end(), '\\', '/');
    return std::filesystem::path(s);
}

std::filesystem::path resolveCaseInsensitive(const std::filesystem::path& path)
{
    std::error_code ec;
    if (path.empty() || std::filesystem::exists(path, ec))
        return path;

    std::filesystem::path current = path.has_root_path() ? path.root_path() : std::filesystem::path(".");
    const bool relative = !path.has_root_path();
    std::filesystem::path built = path.root_path();
    for (const auto& part : path.relative_path()) {
        const std::string name = part.string();
        if (name.empty() || name == "." || name == "..") {
            built /= part;
            current /= part;
            continue;
        }
        std::filesystem::path exact = current / part;
        if (std::filesystem::exists(exact, ec)) {
            built /= part;
            current = exact;
            continue;
        }
        bool found = false;
        for (std::filesystem::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string candidate = it->path().filename().string();
            if (text::equalsNoCase(candidate, name)) {
                built /= candidate;
                current = it->path();
                found = true;
                break;
            }
        }
        if (!found)
            return path;
    }
    return relative ? built.relative_path() : built;
}

std::filesystem::path resolveUserPath(std::string_view text, const std::filesystem::path& base)
{
    auto p = fromWindows(text);
    if (p.is_relative() && !base.empty())
        p = base / p;
    return resolveCaseInsensitive(p);
}

} // namespace zs::fs
