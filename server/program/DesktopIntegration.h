#pragma once
// What the main window needs of the desktop besides its windows: the tray tip texts, the
// start-with-the-desktop entry (an XDG autostart file) and the guard against a second copy of
// the program on the same program folder. Qt-free.

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

/// Holds an exclusive lock on a file of the program folder for the life of the object; a second
/// copy on the same folder fails to take it.
class SingleInstanceLock {
  public:
    explicit SingleInstanceLock(const std::filesystem::path& programFolder);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;
    /// True when this object holds the lock: no other copy runs on the folder.
    bool acquired() const { return m_fd >= 0; }
    /// True when another copy holds the lock (the only reason for "another copy is running").
    bool heldElsewhere() const { return m_heldElsewhere; }
    /// Why the lock could not be taken when no other copy holds it: the folder and the
    /// system's reason (a folder the user cannot write to, a missing folder); "" otherwise.
    const std::string& error() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
    std::string m_error;
};

/// The lock a run (an extraction or a cube processing, by the program or by zs-extract) holds
/// on its program folder for its length, taken at once or not at all: a second run on the
/// same folder finds it held and does not start. An idle program holds none.
class RunLock {
  public:
    explicit RunLock(const std::filesystem::path& programFolder);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    /// True when this object holds the lock: the run may go.
    bool acquired() const { return m_fd >= 0; }
    /// True when another run holds it.
    bool heldElsewhere() const { return m_heldElsewhere; }
    /// The run line of a run that does not start, `what` ("Estrazione", "Elaborazione") first.
    std::string refusal(const std::string& what, const std::filesystem::path& programFolder) const;

  private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
    std::string m_error;
};

/// The message for a program folder the program cannot use, naming the folder and the reason.
std::string programFolderMessage(const std::filesystem::path& folder, const std::string& reason);

} // namespace zs::program
