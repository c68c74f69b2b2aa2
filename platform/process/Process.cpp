#include "process/Process.h"

#include "fs/Paths.h"
#include "process/ChildSetup_p.h"
#include "process/CommandLine.h"
#include "text/Ascii.h"
#include "text/Split.h"
#include "text/SystemReason.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zs::process {

namespace {

bool isExecutableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> findExact(const std::string& program)
{
    if (program.empty())
        return std::nullopt;
    if (program.find('/') != std::string::npos || program.find('\\') != std::string::npos) {
        const std::string path = fs::resolveCaseInsensitive(fs::fromWindows(program)).string();
        if (isExecutableFile(path))
            return path;
        return std::nullopt;
    }
    const char* pathVar = std::getenv("PATH");
    for (const std::string& dir : text::split(pathVar ? pathVar : "/usr/local/bin:/usr/bin:/bin", ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

/// Owns a pipe's two ends.
class Pipe {
  public:
    Pipe()
    {
        if (::pipe2(m_fd, O_CLOEXEC) != 0)
            m_fd[0] = m_fd[1] = -1;
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return m_fd[0] >= 0; }
    int readEnd() const { return m_fd[0]; }
    int writeEnd() const { return m_fd[1]; }
    void closeRead()
    {
        if (m_fd[0] >= 0)
            ::close(m_fd[0]);
        m_fd[0] = -1;
    }
    void closeWrite()
    {
        if (m_fd[1] >= 0)
            ::close(m_fd[1]);
        m_fd[1] = -1;
    }

  private:
    int m_fd[2] = {-1, -1};
};

/// posix_spawn's attribute objects with their destroy calls.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

/// posix_spawn's attribute object with its destroy call.
struct SpawnAttributes {
    posix_spawnattr_t attr;
    SpawnAttributes() { posix_spawnattr_init(&attr); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

using Clock = std::chrono::steady_clock;

/// Milliseconds left until `deadline` for poll (-1: no deadline), never negative.
int msLeft(bool bounded, Clock::time_point deadline)
{
    if (!bounded)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

} // namespace

std::optional<std::string> findProgram(const std::string& program)
{
    if (auto found = findExact(program))
        return found;
    if (program.size() > 4) {
        if (text::equalsNoCase(std::string_view(program).substr(program.size() - 4), ".exe"))
            return findExact(program.substr(0, program.size() - 4));
    }
    return std::nullopt;
}

RunResult run(const std::vector<std::string>& argvIn, const RunOptions& options)
{
    RunResult result;
    if (argvIn.empty() || argvIn.front().empty()) {
        result.error = "nessun programma indicato";
        return result;
    }
    const auto program = findProgram(argvIn.front());
    if (!program) {
        result.error = "programma non trovato: " + argvIn.front();
        return result;
    }

    std::vector<std::string> argv = argvIn;
    std::vector<std::string> env = detail::environmentWith(options.extraEnvironment);
    auto argvP = detail::pointers(argv);
    auto envP = detail::pointers(env);

    SpawnActions actions;
    Pipe out;
    if (options.captureOutput) {
        if (!out.ok()) {
            result.error = "impossibile creare la pipe: " + text::systemReason(errno);
            return result;
        }
        posix_spawn_file_actions_adddup2(&actions.actions, out.writeEnd(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions.actions, out.writeEnd(), STDERR_FILENO);
    }
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions.actions, options.workingDirectory.c_str());

    const bool bounded = options.timeLimit.count() > 0;
    SpawnAttributes attributes;
    if (bounded) {
        // A process group of its own, so that a hung child is killed with its own children.
        posix_spawnattr_setflags(&attributes.attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes.attr, 0);
    }
    const Clock::time_point deadline = Clock::now() + options.timeLimit;

    pid_t pid = 0;
    // The child takes the umask it is started with; the caller's own is back at once.
    const mode_t callerMask = options.privateFiles ? ::umask(077) : 0;
    const int rc = ::posix_spawn(&pid, program->c_str(), &actions.actions, &attributes.attr, argvP.data(), envP.data());
    if (options.privateFiles)
        ::umask(callerMask);
    if (rc != 0) {
        result.error = "impossibile avviare " + *program + ": " + text::systemReason(rc);
        return result;
    }
    auto killAtLimit = [&] {
        ::kill(-pid, SIGKILL);
        result.timedOut = true;
    };
    if (options.captureOutput) {
        out.closeWrite();
        char buffer[4096];
        while (!result.timedOut) {
            pollfd p{out.readEnd(), POLLIN, 0};
            const int ready = ::poll(&p, 1, msLeft(bounded, deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0 && bounded && Clock::now() >= deadline) {
                killAtLimit();
                break;
            }
            if (ready <= 0)
                continue;
            const ssize_t got = ::read(out.readEnd(), buffer, sizeof buffer);
            if (got > 0)
                result.output.append(buffer, static_cast<std::size_t>(got));
            else if (got < 0 && errno == EINTR)
                continue;
            else
                break;
        }
    }
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, bounded && !result.timedOut ? WNOHANG : 0);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR) {
            result.error = "attesa del processo non riuscita: " + text::systemReason(errno);
            return result;
        }
        if (done == 0) {
            if (Clock::now() >= deadline)
                killAtLimit();
            else
                ::usleep(static_cast<useconds_t>(std::min(msLeft(bounded, deadline), 20)) * 1000);
        }
    }
    if (result.timedOut) {
        result.exitCode = -1;
        result.error = "limite di " + std::to_string(options.timeLimit.count()) + " ms raggiunto: " + *program +
                       " e' stato fermato";
        return result;
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    return result;
}

int ShellAndWait(const std::string& commandLine, std::chrono::milliseconds timeLimit)
{
    RunOptions options;
    options.timeLimit = timeLimit;
    return run(splitWindowsCommandLine(commandLine), options).exitCode;
}

} // namespace zs::process
