#include "shell/DesktopIntegration.h"

#include "fs/AtomicFile.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zs::shell {
namespace {

/// Quotes one argument of a desktop entry's Exec line.
std::string execQuote(const std::string& arg)
{
    std::string out = "\"";
    for (const char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string trayTipText(const std::string& title, TrayState state)
{
    switch (state) {
    case TrayState::Startup: return title + " (startup)";
    case TrayState::Extracting: return title + " (estrazione...)";
    case TrayState::Ready: break;
    }
    return title + " (pronto.)";
}

std::string cutTrayTip(const std::string& tip)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < tip.size(); ++i) {
        const auto c = static_cast<unsigned char>(tip[i]);
        if ((c & 0xC0) == 0x80)
            continue; // continuation byte of the character already counted
        if (chars == 63)
            return tip.substr(0, i);
        ++chars;
    }
    return tip;
}

std::filesystem::path autostartEntryPath()
{
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".config";
    else
        base = "/tmp";
    return base / "autostart" / "ZentrikServer.desktop";
}

bool writeStartupEntry(bool enable, const std::filesystem::path& executable, const std::filesystem::path& programFolder)
{
    const auto file = autostartEntryPath();
    std::error_code ec;
    if (!enable) {
        std::filesystem::remove(file, ec);
        return !ec;
    }
    std::string exec;
    if (programFolder != executable.parent_path())
        exec = "env " + execQuote("ZENTRIK_HOME=" + programFolder.string()) + " ";
    exec += execQuote(executable.string());
    const std::string entry = "[Desktop Entry]\nType=Application\nName=Zentrik Server\nExec=" + exec +
                              "\nPath=" + programFolder.string() + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec)
        return false;
    return fs::writeFileAtomic(file, entry);
}

SingleInstanceLock::SingleInstanceLock(const std::filesystem::path& programFolder)
{
    const auto file = programFolder / ".zentrikServer.lock";
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

SingleInstanceLock::~SingleInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace zs::shell
