#include "shell/run/SupportOnline.h"

#include "fs/AtomicFile.h"
#include "fs/OwnedFolder.h"
#include "process/Process.h"
#include "program/ShellServices.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <unistd.h>

namespace zs::shell {

// The foundation's names used here.
using program::MessageIcon;
using program::MessageService;
namespace {

bool executable(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

bool isX11vnc(const std::filesystem::path& server)
{
    return server.filename() == "x11vnc";
}

/// A host as x11vnc's connect file may carry it: a name or an address, with an optional port.
/// Anything else (blanks, commas, its repeater prefixes) would be read as more than one host.
bool plainHost(const std::string& host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (const char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' ||
              c == ']'))
            return false;
    return host.find("::") == std::string::npos || host.front() == '[';
}

/// The last line of a text, for a short reason.
std::string lastLine(const std::string& text)
{
    auto end = text.find_last_not_of("\r\n");
    if (end == std::string::npos)
        return {};
    const auto start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

} // namespace

SupportOnline::SupportOnline(std::filesystem::path programFolder, MessageService& messages, AlertNotice& notice,
                             std::function<void(int)> pause, std::function<void(const std::string&)> report,
                             Hosts hosts)
    : m_folder(std::move(programFolder))
    , m_messages(messages)
    , m_notice(notice)
    , m_pause(std::move(pause))
    , m_report(std::move(report))
    , m_hosts(std::move(hosts))
{}

SupportOnline::~SupportOnline()
{
    shutdown();
}

std::optional<std::filesystem::path> SupportOnline::ownServerThatCannotRun() const
{
    std::optional<std::filesystem::path> present;
    for (const char* name : {"winvnc.exe", "winvnc"}) {
        const auto p = m_folder / name;
        std::error_code ec;
        if (executable(p))
            return std::nullopt;
        if (!present && std::filesystem::exists(std::filesystem::symlink_status(p, ec)))
            present = p;
    }
    return present;
}

std::optional<std::filesystem::path> SupportOnline::vncServer() const
{
    for (const char* name : {"winvnc.exe", "winvnc"})
        if (executable(m_folder / name))
            return m_folder / name;
    // The folder's own server is the one to use: one that cannot run is reported, never
    // replaced by another program.
    if (ownServerThatCannotRun())
        return std::nullopt;
    if (auto found = process::findProgram("x11vnc"))
        return std::filesystem::path(*found);
    return std::nullopt;
}

pid_t SupportOnline::serverPid()
{
    return m_server.running() ? m_server.pid() : 0;
}

bool SupportOnline::runCommand(const std::vector<std::string>& argv, std::string* why)
{
    process::ChildProcess command;
    if (!command.start(argv, {}, why))
        return false;
    if (!command.waitFor(kCommandBoundMs)) {
        command.terminate(500);
        *why = argv.front() + " " + argv.at(1) + ": nessuna risposta entro " + std::to_string(kCommandBoundMs / 1000) +
               " secondi";
        return false;
    }
    return true; // the exit code tells nothing: "-kill" with no server running fails harmlessly
}

void SupportOnline::removeConnectFile()
{
    if (m_connectDir.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_connectDir, ec);
    m_connectDir.clear();
}

bool SupportOnline::stopServer(const std::filesystem::path& server, std::string* why)
{
    bool ok = true;
    if (!isX11vnc(server))
        ok = runCommand({server.string(), "-kill"}, why);
    m_server.terminate();
    removeConnectFile();
    return ok;
}

bool SupportOnline::startServer(const std::filesystem::path& server, std::string* why)
{
    if (!isX11vnc(server))
        return m_server.start({server.string(), "-run", "-autoreconnect"}, {}, why);

    // The desktop this program runs on, never a guessed one: without DISPLAY x11vnc would try
    // ":0", which may be somebody else's.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        *why = "nessun display X su cui avviare x11vnc (DISPLAY non impostato)";
        return false;
    }
    // A folder of our own holds the connect file x11vnc polls and its output; its marker lets
    // the next start remove it when this program is killed.
    const auto folder = fs::makeOwnedFolder(std::filesystem::temp_directory_path(), kFolderPrefix, why);
    if (!folder)
        return false;
    m_connectDir = *folder;
    if (!fs::writeFileAtomic(m_connectDir / "connect", "", {.privateMode = true}, why))
        return false;
    // -rfbport 0 and -rfbportv6 -1: no listening port at all (x11vnc listens on IPv6 port 5900
    // even with -rfbport 0 otherwise); the support side is reached by reverse connections
    // only. No -bg: the server stays this program's child.
    process::ChildOptions options;
    options.outputFile = (m_connectDir / "x11vnc.log").string();
    return m_server.start({server.string(), "-display", display, "-rfbport", "0", "-rfbportv6", "-1", "-nopw",
                           "-forever", "-shared", "-connect", (m_connectDir / "connect").string()},
                          options, why);
}

bool SupportOnline::connect(const std::filesystem::path& server, const std::string& host, std::string* why)
{
    if (!isX11vnc(server))
        return runCommand({server.string(), "-connect", host}, why);
    if (!plainHost(host)) {
        if (m_report)
            m_report("Assistenza online: host di supporto non valido: \"" + host + "\"");
        return true; // the other host may still answer
    }
    const auto file = m_connectDir / "connect";
    if (!fs::writeFileAtomic(file, host + "\n", {.privateMode = true}, why))
        return false;
    // x11vnc reads the file every second or so and empties it; a server that has gone or
    // never reads it has failed.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectBoundMs);
    while (true) {
        std::error_code ec;
        if (std::filesystem::file_size(file, ec) == 0 || ec)
            return true;
        if (!m_server.running()) {
            std::string log;
            (void)fs::readWholeFile(m_connectDir / "x11vnc.log", log);
            *why = "x11vnc si e' chiuso: " + lastLine(log);
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            *why = "x11vnc non ha letto la richiesta di connessione a " + host;
            return false;
        }
        m_pause(50);
    }
}

void SupportOnline::failed(const std::string& why)
{
    m_server.terminate();
    removeConnectFile();
    if (m_report)
        m_report("Assistenza online non avviata: " + why);
    m_messages.show(kMissingText, MessageIcon::Information, "Attenzione.");
}

void SupportOnline::StartSupportOnline(const std::string& host)
{
    const auto server = vncServer();
    if (!server) {
        if (const auto own = ownServerThatCannotRun(); own && m_report)
            m_report("Assistenza online non avviata: " + own->filename().string() +
                     " nella cartella del programma non e' eseguibile");
        m_messages.show(kMissingText, MessageIcon::Information, "Attenzione.");
        return;
    }
    std::string why;
    if (!stopServer(*server, &why))
        return failed(why);
    m_pause(1000);
    if (!startServer(*server, &why))
        return failed(why);
    m_pause(1000);
    // A server that ended with an error did not start; one that ended well handed over (a
    // Windows-style server), but x11vnc must keep running. Asked again after the connections,
    // for a server slow to fail.
    auto ended = [&]() -> std::optional<std::string> {
        if (m_server.running())
            return std::nullopt;
        const int code = m_server.exitCode().value_or(-1);
        if (code == 0 && !isX11vnc(*server))
            return std::nullopt;
        std::string log;
        if (!m_connectDir.empty())
            (void)fs::readWholeFile(m_connectDir / "x11vnc.log", log);
        return server->filename().string() + " terminato con codice " + std::to_string(code) +
               (log.empty() ? std::string() : ": " + lastLine(log));
    };
    if (auto reason = ended())
        return failed(*reason);
    for (const std::string& target : {host.empty() ? m_hosts.defaultHost : host, m_hosts.fallback}) {
        if (!connect(*server, target, &why))
            return failed(why);
        m_pause(0);
    }
    if (auto reason = ended())
        return failed(*reason);
    m_notice.setBackground(255, 200, 200);
    m_notice.ShowMessage(kStartText);
}

void SupportOnline::StopSupportOnline()
{
    const auto server = vncServer();
    if (!server) {
        shutdown(); // the program's own server, should it still run
        return;
    }
    std::string why;
    if (!stopServer(*server, &why) && m_report)
        m_report("Assistenza online: " + why);
    m_notice.hide();
    m_notice.setBackground(224, 255, 239);
    m_notice.ShowMessage(kStopText);
    m_notice.StartTimer(300);
}

void SupportOnline::shutdown()
{
    m_server.terminate();
    removeConnectFile();
}

} // namespace zs::shell
