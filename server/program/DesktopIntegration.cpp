#include "program/DesktopIntegration.h"
#include "fs/ReadFile.h"

#include "fs/AtomicFile.h"
#include "fs/Paths.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zs::program {
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
    case TrayState::Startup:
        return title + " (startup)";
    case TrayState::Extracting:
        return title + " (estrazione...)";
    case TrayState::Ready:
        break;
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

namespace {

std::filesystem::path autostartFolder()
{
    return fs::configHome() / "autostart";
}

/// The canonical text of a program folder, so "/a/b" and "/a/./b/" name one installation.
std::string folderKey(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
    if (ec)
        p = folder.lexically_normal();
    std::string key = p.string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

/// The last name of a program folder ("d2" for "d2/" and "/x/d2"); "/" for the root.
std::string folderName(const std::filesystem::path& folder)
{
    const std::string name = std::filesystem::path(folderKey(folder)).filename().string();
    return name.empty() ? folderKey(folder) : name;
}

} // namespace

std::filesystem::path autostartEntryPath(const std::filesystem::path& programFolder)
{
    // FNV-1a of the folder: stable across runs and builds.
    std::uint32_t hash = 2166136261u;
    for (const char c : folderKey(programFolder)) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char name[40];
    std::snprintf(name, sizeof name, "ZentrikServer-%08x.desktop", static_cast<unsigned>(hash));
    return autostartFolder() / name;
}

namespace {

/// Earlier versions wrote one shared "ZentrikServer.desktop"; it goes when it is this folder's.
void removeSharedEntryOf(const std::filesystem::path& programFolder)
{
    const auto shared = autostartFolder() / "ZentrikServer.desktop";
    std::string text;
    if (!fs::readWholeFile(shared, text, fs::ReadLimit::kStore))
        return;
    const std::string want = "\nPath=" + folderKey(programFolder) + "\n";
    if (text.find(want) != std::string::npos ||
        text.find("\nPath=" + programFolder.string() + "\n") != std::string::npos) {
        std::error_code ec;
        std::filesystem::remove(shared, ec);
    }
}

} // namespace

std::string mainCaption(const std::string& title, const std::filesystem::path& programFolder,
                        const std::filesystem::path& defaultFolder)
{
    std::string caption = title + " -  Quorvane srl";
    if (defaultFolder.empty() || folderKey(programFolder) == folderKey(defaultFolder))
        return caption;
    return caption + " (" + folderName(programFolder) + ")";
}

bool writeStartupEntry(bool enable, const std::filesystem::path& executable, const std::filesystem::path& programFolder)
{
    removeSharedEntryOf(programFolder);
    const auto file = autostartEntryPath(programFolder);
    std::error_code ec;
    if (!enable) {
        std::filesystem::remove(file, ec);
        return !ec;
    }
    // One spelling of the folder, however it was named ("d2/", "./d2", "/x/d2").
    const std::string folder = folderKey(programFolder);
    std::string exec;
    if (folder != folderKey(executable.parent_path()))
        exec = "env " + execQuote("ZENTRIK_HOME=" + folder) + " ";
    exec += execQuote(executable.string());
    const std::string entry = "[Desktop Entry]\nType=Application\nName=Zentrik Server (" + folderName(programFolder) +
                              ")\nExec=" + exec + "\nPath=" + folder +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec)
        return false;
    return fs::writeFileAtomic(file, entry);
}

FolderFileLock::FolderFileLock(const std::filesystem::path& programFolder, const char* name)
    : m_programFolder(programFolder)
{
    // A link planted at the name never makes an empty file at its target.
    const auto file = programFolder / name;
    std::string why;
    fs::OpenFailure failure;
    fs::Fd owner = fs::openForWriting(file, O_RDWR, 0600, why, &failure);
    if (!owner.valid()) {
        const int openError = failure.errorNumber;
        if (openError == 0) {
            // Something else stands at the name: say what, after the file's name.
            m_error = programFolderMessage(programFolder, std::string(name) + " " + failure.reason);
            return;
        }
        // An existing lock file that we may only read still tells whether a copy runs.
        std::string ignored;
        const fs::Fd probe = fs::openForReading(file, ignored, nullptr, /*followLinks=*/false);
        if (probe.valid())
            m_heldElsewhere = ::flock(probe.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (!m_heldElsewhere)
            m_error = programFolderMessage(programFolder, text::systemReason(openError));
        return;
    }
    if (::flock(owner.get(), LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        if (lockError == EWOULDBLOCK)
            m_heldElsewhere = true;
        else
            m_error = programFolderMessage(programFolder, text::systemReason(lockError));
        return;
    }
    m_fd = std::move(owner);
}

std::string programFolderMessage(const std::filesystem::path& folder, const std::string& reason)
{
    return "Impossibile usare la cartella del programma " + folder.string() + ": " + reason + ".";
}

} // namespace zs::program
