#pragma once
// Remote assistance: starts the VNC server of the program folder (winvnc.exe or winvnc there,
// else x11vnc on the PATH) and asks it to connect back to a support host; the pop-up notice
// tells the local user while it lasts. Programs start with an argv, never through a shell, one
// after the other, and the server stays under the program's control: "Fine assistenza" and
// the program's end stop it. x11vnc is started for reverse connections only: it listens on no
// port of its own and takes the support hosts from a private connect file.

#include "process/ChildProcess.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zs::program {
class MessageService;
} // namespace zs::program

namespace zs::shell {

/// The pop-up notice (frmAlert) as remote assistance uses it.
class AlertNotice {
  public:
    virtual ~AlertNotice() = default;
    virtual void setBackground(int r, int g, int b) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void StartTimer(int seconds) = 0;
    virtual void hide() = 0;
};

class SupportOnline {
  public:
    /// The assistance folder in the temporary folder: the connect file and the server's output.
    static constexpr const char* kFolderPrefix = "zentrik-vnc-";
    static constexpr const char* kDefaultHost = "assistenza.zentrik.example";
    static constexpr const char* kFallbackHost = "zentriksupporto";
    static constexpr const char* kStartText =
        "Attenzione! E' in corso l'intervento di assistenza online. L'operatore del supporto tecnico sta "
        "effettuando il suo intervento: se non diversamente richiesto non interferite con l'operazione. Grazie";
    static constexpr const char* kStopText =
        "La sessione di assistenza remota è conclusa. Fare doppio click per nascondere il messaggio. Grazie.";
    static constexpr const char* kMissingText =
        "Impossibile richiedere l'assistenza online perchè non è installato il componente necessario.";
    /// How long a control command ("-kill", "-connect") may take before it counts as failed.
    static constexpr int kCommandBoundMs = 10000;
    /// How long x11vnc may take to pick up a support host from its connect file.
    static constexpr int kConnectBoundMs = 15000;

    struct Hosts {
        std::string fallback = kFallbackHost;
        std::string defaultHost = kDefaultHost;
    };

    /// `pause` waits while window events go on; `report` receives the reason of a start that
    /// failed (the day log), beside the message box the operator sees.
    SupportOnline(std::filesystem::path programFolder, program::MessageService& messages, AlertNotice& notice,
                  std::function<void(int ms)> pause, std::function<void(const std::string&)> report, Hosts hosts);
    ~SupportOnline();

    /// Stops the server started before, starts it again and has it connect to `host` (the
    /// default support host when "") and then to the fallback host; shows the notice. A server
    /// that is missing or cannot be started gives the message box and no notice.
    void StartSupportOnline(const std::string& host);
    void StopSupportOnline();
    /// Stops the server without a word (the program ends).
    void shutdown();

    /// The VNC server: winvnc.exe or winvnc in the program folder, else x11vnc on the PATH.
    /// None when the folder holds a server of its own that cannot run (not executable).
    std::optional<std::filesystem::path> vncServer() const;
    /// The folder's own server when it is there but none of its names can run.
    std::optional<std::filesystem::path> ownServerThatCannotRun() const;
    /// The server process the program holds; 0 when none runs.
    pid_t serverPid();

  private:
    [[nodiscard]] bool stopServer(const std::filesystem::path& server, std::string* why);
    [[nodiscard]] bool startServer(const std::filesystem::path& server, std::string* why);
    [[nodiscard]] bool connect(const std::filesystem::path& server, const std::string& host, std::string* why);
    [[nodiscard]] bool runCommand(const std::vector<std::string>& argv, std::string* why);
    void failed(const std::string& why);
    void removeConnectFile();

    std::filesystem::path m_folder;
    program::MessageService& m_messages;
    AlertNotice& m_notice;
    std::function<void(int)> m_pause;
    std::function<void(const std::string&)> m_report;
    Hosts m_hosts;
    process::ChildProcess m_server;
    std::filesystem::path m_connectDir; ///< private folder of x11vnc's connect file
};

} // namespace zs::shell
