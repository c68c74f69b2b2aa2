#pragma once
// The zs-extract driver as the engine's end-to-end tests run it over a program folder (also as a
// child whose peak memory is measured), the connection text of the SQLite ("access") files such
// a folder holds, and the folder's settings file naming one. Header only; test code only.

#include "process/Process.h"
#include "testsupport/TestEnv.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

#ifndef ZS_EXTRACT_PATH
#error "ZS_EXTRACT_PATH names the zs-extract driver (set by the engine tests' CMakeLists.txt)"
#endif

namespace zs::engine::test {

#if defined(__SANITIZE_ADDRESS__)
// Instrumented: the allocator keeps freed memory a while, and every step runs slower; bounds on
// memory and time are not checked there.
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

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

struct MeasuredRun {
    int exitCode = -1;
    long peakKb = 0; ///< the child's own resident-set high-water mark
    double seconds = 0;
    std::string output;
};

/// Runs the driver over `home` (quiet) in a child process and takes that child's own peak
/// memory and its wall time.
inline MeasuredRun extractMeasured(const std::filesystem::path& home)
{
    const std::filesystem::path log = home / "extract.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = ZS_EXTRACT_PATH, folder = home.string(), quiet = "--quiet";
    char* argv[] = {program.data(), folder.data(), quiet.data(), nullptr};
    pid_t pid = 0;
    MeasuredRun run;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakKb = usage.ru_maxrss;
    run.output = zs::test::readFile(log);
    return run;
}

} // namespace zs::engine::test
