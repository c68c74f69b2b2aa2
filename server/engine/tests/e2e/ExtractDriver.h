#pragma once
// The zs-extract driver as the engine's end-to-end tests run it over a program folder, the
// connection text of the SQLite ("access") files such a folder holds, and the folder's settings
// file naming one. Header only; test code only.

#include "process/Process.h"
#include "testsupport/TestEnv.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#ifndef ZS_EXTRACT_PATH
#error "ZS_EXTRACT_PATH names the zs-extract driver (set by the engine tests' CMakeLists.txt)"
#endif

namespace zs::engine::test {

/// The connection text the program's settings give a SQLite file ("access" server type).
inline std::string accessCs(const std::filesystem::path& file)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string();
}

/// Writes the program folder's settings: the SQLite file `target` as the reporting database,
/// zentrikLoading.xml as the loading file, a 60-second time-out.
inline void writeAccessSettings(const std::filesystem::path& home, const std::filesystem::path& target)
{
    zs::test::writeFile(home / "zentrikServer.xml",
                        "<?xml version=\"1.0\"?><zentrikServer><SERVERTYPE>access</SERVERTYPE>"
                        "<PROVIDERACCESS>Provider=Microsoft.Jet.OLEDB.4.0;Data Source=</PROVIDERACCESS>"
                        "<DATABASEACCESS>" +
                            target.string() +
                            "</DATABASEACCESS><LOADINGFILE>zentrikLoading.xml</LOADINGFILE><TIMEOUT>60</TIMEOUT>"
                            "</zentrikServer>");
}

/// Runs the driver over the program folder `home` with `args` after it, its output captured.
/// `timeLimit`, when not zero, stops a hang.
inline process::RunResult runExtract(const std::filesystem::path& home, const std::vector<std::string>& args = {},
                                     std::chrono::milliseconds timeLimit = std::chrono::milliseconds(0))
{
    std::vector<std::string> argv{ZS_EXTRACT_PATH, home.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    process::RunOptions options;
    options.captureOutput = true;
    options.timeLimit = timeLimit;
    return process::run(argv, options);
}

} // namespace zs::engine::test
