#pragma once
// A program started with an argv (never through a shell) and kept under the caller's control:
// it is ended when the object goes, and ends by itself should the starting thread die without
// cleaning up. The server holds its VNC server this way; tests hold the program under test.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zs::process {

struct ChildOptions {
    /// Standard output and error are appended to this file; they go to /dev/null when empty.
    std::string outputFile;
    /// Extra environment entries "NAME=value" added to (or replacing those of) the caller's.
    std::vector<std::string> extraEnvironment;
    /// Environment variables removed from the child's environment.
    std::vector<std::string> removeEnvironment;
    /// Working folder of the child; the caller's when empty.
    std::string workingDirectory;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    /// Ends the program (terminate()) when it still runs.
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts argv[0] (found by findProgram). False, with `error` saying why, when it could not
    /// be started: not found, not executable, or the system refused to run it.
    [[nodiscard]] bool start(const std::vector<std::string>& argv, const ChildOptions& options = {},
                             std::string* error = nullptr);
    /// True while the program runs; false once it has ended (and been reaped) or never started.
    bool running();
    /// The exit code once the program has ended (128 + signal when a signal ended it).
    std::optional<int> exitCode();
    /// Waits at most `ms` milliseconds for the end; the exit code, or nothing while it runs.
    std::optional<int> waitFor(int ms);
    /// Asks the program to end (SIGTERM), kills it after `graceMs`, and reaps it.
    void terminate(int graceMs = 2000);
    /// The process id while started; 0 when none.
    pid_t pid() const { return m_pid; }

  private:
    bool reap(bool block);

    pid_t m_pid = 0;
    bool m_ended = false;
    int m_exitCode = -1;
};

} // namespace zs::process
