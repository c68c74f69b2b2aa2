#include "process/ChildProcess.h"

#include "fs/Fd.h"
#include "process/ChildSetup_p.h"
#include "process/Process.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace zs::process {

ChildProcess::~ChildProcess()
{
    terminate();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, 0))
    , m_ended(other.m_ended)
    , m_exitCode(other.m_exitCode)
{}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        terminate();
        m_pid = std::exchange(other.m_pid, 0);
        m_ended = other.m_ended;
        m_exitCode = other.m_exitCode;
    }
    return *this;
}

bool ChildProcess::start(const std::vector<std::string>& argvIn, const ChildOptions& options, std::string* error)
{
    terminate();
    m_pid = 0;
    m_ended = false;
    m_exitCode = -1;
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (argvIn.empty() || argvIn.front().empty())
        return fail("nessun programma indicato");
    const auto program = findProgram(argvIn.front());
    if (!program)
        return fail("programma non trovato: " + argvIn.front());

    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> argv = argvIn;
    std::vector<std::string> env = detail::environmentWith(options.extraEnvironment, options.removeEnvironment);
    auto argvP = detail::pointers(argv);
    auto envP = detail::pointers(env);
    fs::Fd in{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    fs::Fd out{options.outputFile.empty()
                   ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                   : ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)};
    if (!in.valid() || !out.valid())
        return fail("impossibile aprire l'uscita di " + *program + ": " + text::systemReason(errno));
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return fail("impossibile creare la pipe: " + text::systemReason(errno));
    fs::Fd reportRead{report[0]};
    fs::Fd reportWrite{report[1]};
    const pid_t parent = ::getpid();
    const char* dir = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();

    const pid_t pid = ::fork();
    if (pid < 0)
        return fail("impossibile creare il processo: " + text::systemReason(errno));
    if (pid == 0) {
        // Never outlive the program that holds this child.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(in.get(), STDIN_FILENO);
        ::dup2(out.get(), STDOUT_FILENO);
        ::dup2(out.get(), STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        int err = 0;
        if (dir && ::chdir(dir) != 0)
            err = errno;
        if (err == 0) {
            ::execve(program->c_str(), argvP.data(), envP.data());
            err = errno;
        }
        (void)!::write(reportWrite.get(), &err, sizeof err);
        ::_exit(127);
    }
    reportWrite.reset();
    int childError = 0;
    ssize_t got;
    do
        got = ::read(reportRead.get(), &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    m_pid = pid;
    if (got == static_cast<ssize_t>(sizeof childError)) {
        reap(true);
        m_pid = 0;
        return fail("impossibile avviare " + *program + ": " + text::systemReason(childError));
    }
    return true;
}

bool ChildProcess::reap(bool block)
{
    if (m_pid <= 0 || m_ended)
        return m_ended;
    int status = 0;
    pid_t r;
    do
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == m_pid) {
        m_ended = true;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    } else if (r < 0) {
        m_ended = true; // not ours any more (reaped elsewhere)
    }
    return m_ended;
}

bool ChildProcess::running()
{
    return m_pid > 0 && !reap(false);
}

std::optional<int> ChildProcess::exitCode()
{
    if (m_pid > 0 && reap(false))
        return m_exitCode;
    return std::nullopt;
}

std::optional<int> ChildProcess::waitFor(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (running()) {
        if (std::chrono::steady_clock::now() >= until)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitCode();
}

void ChildProcess::terminate(int graceMs)
{
    if (!running())
        return;
    ::kill(m_pid, SIGTERM);
    if (!waitFor(graceMs)) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
}

} // namespace zs::process
