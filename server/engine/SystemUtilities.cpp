#include "engine/SystemUtilities.h"

#include "process/Process.h"

namespace zs::engine {

OsVersionInfo currentOsVersion()
{
    return {5, 1, 2600, 2, ""};
}

std::string GetWindowsVersion(const std::optional<OsVersionInfo>& info)
{
    if (!info)
        return "Failed";
    switch (info->platformId) {
    case 1:
        if (info->minorVersion == 0)
            return "Windows 95";
        if (info->minorVersion == 10)
            return "Windows 98";
        return "";
    case 2:
        if (info->majorVersion == 3)
            return "Windows NT 3.51";
        if (info->majorVersion == 4)
            return "Windows NT 4.0";
        if (info->majorVersion == 5)
            return info->minorVersion == 0 ? "Windows 2000" : "Windows XP";
        if (info->majorVersion > 5)
            return "Windows XP";
        return "";
    default:
        return "Failed";
    }
}

std::string GetWindowsVersion()
{
    return GetWindowsVersion(currentOsVersion());
}

int ShellAndWait(const std::string& commandLine, std::chrono::milliseconds timeLimit)
{
    return process::ShellAndWait(commandLine, timeLimit);
}

} // namespace zs::engine
