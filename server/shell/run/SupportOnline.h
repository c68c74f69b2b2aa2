#pragma once
// Remote assistance: starts the VNC server of the program folder (winvnc.exe or winvnc there,
// else x11vnc on the PATH) and asks it to connect back to a support host; the pop-up notice
// tells the local user while it lasts. Programs start with an argv, never through a shell.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zs::shell {

class MessageService;

/// The pop-up notice (frmAlert) as remote assistance uses it.
class AlertNotice {
public:
    virtual ~AlertNotice() = default;
    virtual void setBackground(int r, int g, int b) = 0;
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void StartTimer(int seconds) = 0;
    virtual void hide() = 0;
};

/// Starts a program without waiting for its end.
using ProgramStarter = std::function<void(const std::vector<std::string>& argv)>;

class SupportOnline {
public:
    static constexpr const char* kDefaultHost = "assistenza.zentrik.example";
    static constexpr const char* kFallbackHost = "zentriksupporto";
    static constexpr const char* kStartText =
        "Attenzione! E' in corso l'intervento di assistenza online. L'operatore del supporto tecnico sta "
        "effettuando il suo intervento: se non diversamente richiesto non interferite con l'operazione. Grazie";
    static constexpr const char* kStopText =
        "La sessione di assistenza remota è conclusa. Fare doppio click per nascondere il messaggio. Grazie.";

    SupportOnline(std::filesystem::path programFolder, MessageService& messages, AlertNotice& notice,
                  ProgramStarter start, std::function<void(int ms)> pause);

    void StartSupportOnline(const std::string& host);
    void StopSupportOnline();

    /// The VNC server: winvnc.exe or winvnc in the program folder, else x11vnc on the PATH.
    std::optional<std::filesystem::path> vncServer() const;

private:
    std::vector<std::string> command(const std::filesystem::path& server, const std::string& what,
                                     const std::string& host = {}) const;

    std::filesystem::path m_folder;
    MessageService& m_messages;
    AlertNotice& m_notice;
    ProgramStarter m_start;
    std::function<void(int)> m_pause;
};

} // namespace zs::shell
