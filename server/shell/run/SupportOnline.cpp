#include "shell/run/SupportOnline.h"

#include "process/Process.h"
#include "shell/ShellServices.h"

#include <unistd.h>

namespace zs::shell {
namespace {

bool executable(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

} // namespace

SupportOnline::SupportOnline(std::filesystem::path programFolder, MessageService& messages, AlertNotice& notice,
                             ProgramStarter start, std::function<void(int)> pause)
    : m_folder(std::move(programFolder)), m_messages(messages), m_notice(notice), m_start(std::move(start)),
      m_pause(std::move(pause))
{
}

std::optional<std::filesystem::path> SupportOnline::vncServer() const
{
    for (const char* name : {"winvnc.exe", "winvnc"})
        if (executable(m_folder / name))
            return m_folder / name;
    if (auto found = process::findProgram("x11vnc"))
        return std::filesystem::path(*found);
    return std::nullopt;
}

std::vector<std::string> SupportOnline::command(const std::filesystem::path& server, const std::string& what,
                                                const std::string& host) const
{
    const bool x11vnc = server.filename() == "x11vnc";
    if (what == "kill")
        return x11vnc ? std::vector<std::string>{server.string(), "-R", "stop"}
                      : std::vector<std::string>{server.string(), "-kill"};
    if (what == "run")
        return x11vnc ? std::vector<std::string>{server.string(), "-forever", "-shared", "-bg"}
                      : std::vector<std::string>{server.string(), "-run", "-autoreconnect"};
    return x11vnc ? std::vector<std::string>{server.string(), "-R", "connect:" + host}
                  : std::vector<std::string>{server.string(), "-connect", host};
}

void SupportOnline::StartSupportOnline(const std::string& host)
{
    const auto server = vncServer();
    if (!server) {
        m_messages.show("Impossibile richiedere l'assistenza online perchè non è installato il componente necessario.",
                        MessageIcon::Information, "Attenzione.");
        return;
    }
    m_start(command(*server, "kill"));
    m_pause(1000);
    m_start(command(*server, "run"));
    m_pause(1000);
    m_start(command(*server, "connect", host.empty() ? std::string(kDefaultHost) : host));
    m_pause(0);
    m_start(command(*server, "connect", kFallbackHost));
    m_pause(0);
    m_notice.setBackground(255, 200, 200);
    m_notice.ShowMessage(kStartText);
}

void SupportOnline::StopSupportOnline()
{
    const auto server = vncServer();
    if (!server)
        return;
    m_start(command(*server, "kill"));
    m_notice.hide();
    m_notice.setBackground(224, 255, 239);
    m_notice.ShowMessage(kStopText);
    m_notice.StartTimer(300);
}

} // namespace zs::shell
