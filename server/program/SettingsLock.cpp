#include "program/SettingsLock.h"

#include "fs/ReadFile.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>

namespace zs::program {

SettingsLock::SettingsLock(const std::filesystem::path& settingsFile, std::chrono::milliseconds wait)
    : m_file(settingsFile.parent_path() / ".zentrikSettings.lock")
{
    fs::OpenFailure failure;
    std::string error;
    fs::Fd fd = fs::openForWriting(m_file, O_RDWR, 0600, error, &failure);
    if (!fd.valid()) {
        m_why = failure.reason;
        return;
    }
    const auto until = std::chrono::steady_clock::now() + wait;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_why = text::systemReason(errno);
            return;
        }
        if (std::chrono::steady_clock::now() >= until) {
            m_why = "è tenuto da un altro processo";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_fd = std::move(fd);
}

std::string SettingsLock::refusal() const
{
    return "Impostazioni salvate senza il blocco " + m_file.string() + ": " + m_why;
}

} // namespace zs::program
