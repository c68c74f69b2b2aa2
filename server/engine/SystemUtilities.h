#pragma once
// Two small system services of the engine: the name of the operating-system version, from
// which the main window picks its tray pictures, and starting a program and waiting for its
// exit code, with which the run notification runs the archiver.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zs::engine {

/// The version record the name is worked out from.
struct OsVersionInfo {
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t platformId = 0; ///< 1 the 9x family, 2 the NT family
    std::string servicePack;
};

/// The version this program reports about the machine it runs on: the NT family, 5.1, so that
/// callers choose their modern behaviour.
OsVersionInfo currentOsVersion();

/// "Windows 95", "Windows 98", "Windows NT 3.51", "Windows NT 4.0", "Windows 2000",
/// "Windows XP" (5.1 and every later NT version), "" for versions outside the table, and
/// "Failed" for an unknown platform or no record at all.
std::string GetWindowsVersion(const std::optional<OsVersionInfo>& info);
std::string GetWindowsVersion();

/// Starts the command line (a program and its arguments in Windows form, never a shell) and
/// waits for its end, at most `timeLimit` (zero: without a limit; a child still running then is
/// killed). Its exit code, or -1 when it cannot start or was killed at the limit. Blocks the
/// calling thread without yielding.
int ShellAndWait(const std::string& commandLine, std::chrono::milliseconds timeLimit = {});

} // namespace zs::engine
