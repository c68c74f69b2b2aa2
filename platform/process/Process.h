#pragma once
// Starting other programs: posix_spawn with an argv and waitpid, never a shell. The server
// uses it to run the archiver and remote-assistance programs; tests use it to drive servers.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zs::process {

struct RunOptions {
    /// Collect the child's standard output and error (merged) into RunResult::output.
    bool captureOutput = false;
    /// Extra environment entries "NAME=value" added to (or replacing those of) the caller's.
    std::vector<std::string> extraEnvironment;
    /// Working folder of the child; the caller's when empty.
    std::string workingDirectory;
    /// Longest wait for the child's end; zero waits without a limit. A child still running then
    /// is killed with everything it started (it runs in a process group of its own) and the
    /// result is -1 with `timedOut` set.
    std::chrono::milliseconds timeLimit{0};
    /// The child runs under umask 077: every file it makes is its user's alone from its first
    /// byte (copies of files that hold passwords).
    bool privateFiles = false;
};

struct RunResult {
    /// The exit code; 128 + signal number when the child was killed by a signal; -1 when the
    /// program could not be started (then `error` says why).
    int exitCode = -1;
    std::string output;
    std::string error;
    bool timedOut = false;
};

/// Where `program` would be started from: a name with a slash (or backslash) is a path; a bare
/// name is looked up in $PATH. A name ending in ".exe" that is not found is looked up again
/// without it. Nothing when no executable file matches.
std::optional<std::string> findProgram(const std::string& program);

/// Starts argv[0] (found by findProgram) with the given arguments and waits for it to end.
/// Blocks the calling thread.
RunResult run(const std::vector<std::string>& argv, const RunOptions& options = {});

/// Runs a command line written in Windows form (split by splitWindowsCommandLine) and waits for
/// its end, at most `timeLimit` (zero: without a limit). Returns its exit code, or -1 at once
/// when the program cannot be started, or -1 when it was killed at the time limit.
int ShellAndWait(const std::string& commandLine, std::chrono::milliseconds timeLimit = {});

} // namespace zs::process
