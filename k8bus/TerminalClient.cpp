#include "TerminalClient.h"

#include "ApiState.h"
#include "Bus.h"
#include "ErrorLog.h"
#include "Profile.h"

#include "fs/Paths.h"
#include "process/CommandLine.h"
#include "process/Process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace zs::k8bus {
namespace {

std::string substitute(const std::string& arg, const std::string& host, int port)
{
    std::string out;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 1 < arg.size()) {
            const char c = arg[i + 1];
            if (c == 's') {
                out += host;
                ++i;
                continue;
            }
            if (c == 'd') {
                out += std::to_string(port);
                ++i;
                continue;
            }
            if (c == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += arg[i];
    }
    return out;
}

std::string joinForLog(const std::vector<std::string>& argv)
{
    std::string line;
    for (const auto& a : argv) {
        if (!line.empty())
            line += ' ';
        line += a.find(' ') == std::string::npos ? a : "\"" + a + "\"";
    }
    return line;
}

bool named(const char* variable)
{
    const char* v = std::getenv(variable);
    return v && *v;
}

// Whether a terminal client has anywhere to show: a display for its window, or the process's own
// terminal for a client that runs in it. A run from cron has neither.
bool hasScreen()
{
    if (named("DISPLAY") || named("WAYLAND_DISPLAY"))
        return true;
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0)
        return false;
    ::close(tty);
    return true;
}

} // namespace

std::vector<std::string> buildClientArgv(const std::string& folder, const std::string& commandFormat,
                                         const std::string& host, int port)
{
    std::vector<std::string> argv = process::splitWindowsCommandLine(commandFormat);
    if (argv.empty())
        return argv;
    for (auto& a : argv)
        a = substitute(a, host, port);
    if (!folder.empty())
        argv[0] = (fs::fromWindows(folder) / fs::fromWindows(argv[0])).string();
    return argv;
}

int startTextClient(const std::vector<std::string>& argv, std::shared_ptr<ClientWatch> watch)
{
    const std::string line = joinForLog(argv);
    if (!hasScreen()) {
        // Started anyway, the client would find no operator and the task would wait for one.
        char text[600];
        std::snprintf(text, sizeof text,
                      "failed to start client program: no display and no terminal for command line '%.450s'\n",
                      line.c_str());
        logErrorStat(err::kTerminalClient, ENXIO, 0, text);
        return 0;
    }
    auto program = argv.empty() ? std::nullopt : process::findProgram(argv[0]);
    if (!program) {
        char text[600];
        std::snprintf(text, sizeof text, "failed to start client program: command line '%.500s'\n", line.c_str());
        logErrorStat(err::kTerminalClient, ENOENT, 0, text);
        return 0;
    }
    // A detached thread waits for the client, so it leaves no zombie, and tells the watch its end.
    if (watch)
        watch->started();
    std::thread([argv, watch = std::move(watch)] {
        (void)process::run(argv);
        if (watch)
            watch->ended();
    }).detach();
    logDebugf("k8ExecTask: client started: cmd line '%.900s'", line.c_str());
    return 1;
}

int startClient(int session, const char* host, int port, const char*, const char*, bool guiMode)
{
    ApiGlobals* g = apiGlobals();
    KernelSession* k = findKernelSession(session);
    if (!g || !k)
        return -1;
    logDebugf("k8ExecTask: NEED_SCREEN: kernel waiting on port %d, GuiMode=%c", port, guiMode ? 'Y' : 'N');
    if (guiMode) {
        logError(err::kClientObject, "Connect: Unable to create KORVI Client Object");
        return 0;
    }
    const std::string format = getprofile("K8API_CLIENT_CMD").value_or("telnet %s %d");
    const std::string folder = getprofile("K8API_CLIENT_DIR").value_or("");
    if (!k->terminalClients)
        k->terminalClients = std::make_shared<ClientWatch>();
    return startTextClient(buildClientArgv(folder, format, host ? host : "", port), k->terminalClients);
}

int disconnectClientOcx()
{
    return 1;
}

} // namespace zs::k8bus
