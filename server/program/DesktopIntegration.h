#pragma once
// What the main window needs of the desktop besides its windows: the tray tip texts, the
// start-with-the-desktop entry (an XDG autostart file) and the guard against a second copy of
// the program on the same program folder. Qt-free.

#include "fs/Fd.h"

#include <filesystem>
#include <string>

namespace zs::program {

enum class TrayState { Startup, Extracting, Ready };

/// The title followed by " (startup)", " (estrazione...)" or " (pronto.)".
std::string trayTipText(const std::string& title, TrayState state);
/// A tip cut to the 63 characters the tray shows (never inside a UTF-8 sequence).
std::string cutTrayTip(const std::string& tip);

/// The autostart entry of the installation on `programFolder`:
/// $XDG_CONFIG_HOME/autostart/ZentrikServer-<folder hash>.desktop ($HOME/.config when
/// XDG_CONFIG_HOME is unset). Each program folder has its own, so starting one installation
/// never removes another's entry.
std::filesystem::path autostartEntryPath(const std::filesystem::path& programFolder);

/// The main window's caption: the title & " -  Quorvane srl", followed by " (" & the program
/// folder's name & ")" when the folder is not `defaultFolder` (two copies on two folders tell
/// themselves apart). An empty `defaultFolder` counts as the program folder.
std::string mainCaption(const std::string& title, const std::filesystem::path& programFolder,
                        const std::filesystem::path& defaultFolder);

/// Writes (true) or removes (false) the autostart entry that starts `executable` on
/// `programFolder`. Failures are ignored, as a missing entry on removal is; false tells a test.
bool writeStartupEntry(bool enable, const std::filesystem::path& executable,
                       const std::filesystem::path& programFolder);

/// An exclusive lock on a file of the program folder, held for the life of the object and taken
/// at once or not at all. The file is opened without blocking and without following a link.
class FolderFileLock {
  public:
    FolderFileLock(const std::filesystem::path& programFolder, const char* name);
    FolderFileLock(const FolderFileLock&) = delete;
    FolderFileLock& operator=(const FolderFileLock&) = delete;
    /// True when this object holds the lock.
    bool acquired() const { return m_fd.valid(); }
    /// True when another process holds it.
    bool heldElsewhere() const { return m_heldElsewhere; }
    /// Why the lock could not be taken when no other process holds it: the folder and the
    /// reason (a folder the user cannot write to, a missing folder, no file at the name); ""
    /// otherwise.
    const std::string& error() const { return m_error; }

  protected:
    const std::filesystem::path& programFolder() const { return m_programFolder; }

  private:
    std::filesystem::path m_programFolder;
    fs::Fd m_fd;
    bool m_heldElsewhere = false;
    std::string m_error;
};

/// The lock against a second copy of the program on the same program folder.
class SingleInstanceLock : public FolderFileLock {
  public:
    explicit SingleInstanceLock(const std::filesystem::path& programFolder)
        : FolderFileLock(programFolder, ".zentrikServer.lock")
    {}
};

/// The message for a program folder the program cannot use, naming the folder and the reason.
std::string programFolderMessage(const std::filesystem::path& folder, const std::string& reason);

} // namespace zs::program
