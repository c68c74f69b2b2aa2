#pragma once
// The run notification mail (NotificaEstrazione) and the one-message send (SendEmail): gathers
// the settings files and the day logs, packs them with the archiver when there is one, and hands
// the mail to a sender: the program's SendMailSender over the mail class, or in a build
// without mail UnavailableMailSender, whose failure the notification logs.

#include "mail/MailOutcome.h"
#include "program/ProgramLog.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zs::time {
class Clock;
}

namespace zs::program {
class SettingsStore;
class YieldHook;
struct SecondaryOptionsFields;
} // namespace zs::program

namespace zs::shell {

struct MailMessage {
    std::string smtpHost, fromAddress, fromName, toAddress, toName, ccAddress, ccName, bccAddress, replyTo;
    std::string subject, body, attachments;
    bool useAuthentication = false;
    std::string userName, password;
};

/// How one send ended: `sent` alone decides; `failure` says why a message was not sent.
using MailOutcome = mail::MailOutcome;

/// Sends one message and returns its outcome. It must end every send (its own time-outs bound
/// the wait).
class MailSender {
  public:
    virtual ~MailSender() = default;
    /// `status` receives the sender's progress texts.
    virtual MailOutcome send(const MailMessage& message, const std::function<void(const std::string&)>& status) = 0;
};

/// The sender of a build without the mail module: every send fails with kMailUnavailable.
class UnavailableMailSender : public MailSender {
  public:
    static constexpr const char* kMailUnavailable =
        "il modulo di invio email non e' disponibile in questa installazione";
    MailOutcome send(const MailMessage&, const std::function<void(const std::string&)>&) override
    {
        return MailOutcome::failed(kMailUnavailable);
    }
};

/// The archiver of the program folder: arj32.exe, arj32 or arj there, else Debian's arj on the
/// PATH; nothing when there is none.
std::optional<std::filesystem::path> findArchiver(const std::filesystem::path& programFolder);

/// Removes what a killed notification or remote assistance of this user left behind: the private
/// folders of the notification's archive in the program folder and the assistance folders in
/// the temporary folder, each only once the process that made it has ended. Returns how many
/// went.
int removeRunLeftovers(const std::filesystem::path& programFolder);

class RunNotification {
  public:
    static constexpr const char* kSupportMailbox = "assistenza@zentrik.it";
    /// The private folder in the program folder that holds the archive while it is sent.
    static constexpr const char* kArchiveFolderPrefix = ".zentrik-notifica-";
    static constexpr const char* kSupportDomain = "zentrik.it";

    RunNotification(program::ProgramLog& log, program::SettingsStore& store,
                    const program::SecondaryOptionsFields& fields, program::YieldHook& yield, const time::Clock& clock,
                    MailSender& sender);

    /// Longest time one archiver call may take before it is stopped (a hung archiver must not
    /// hold a scheduled run); the notification then goes out with the files unpacked.
    static constexpr std::chrono::milliseconds kArchiverTimeLimit{std::chrono::minutes(5)};

    void setArchiverTimeLimit(std::chrono::milliseconds limit) { m_archiverTimeLimit = limit; }
    /// Collapses a line of the log tree (the run window binds it).
    void setCollapse(std::function<void(program::LogNodeId)> collapse) { m_collapse = std::move(collapse); }
    void setCodiceInstallazione(std::string code) { m_codice = std::move(code); }

    void NotificaEstrazione(bool hadErrors);
    /// Sends one message and returns when the sender has an outcome; SendEmailFailed tells it.
    void SendEmail(const MailMessage& message);
    /// "" when the last message was sent; else why it was not (never empty for a failure).
    std::string SendEmailFailed() const;

    /// The files the notification attaches, in order (exposed for tests).
    std::vector<std::filesystem::path> gatherFiles() const;

  private:
    /// Runs the archiver once, waited for; false when it could not start or was stopped at its
    /// time limit (its exit code is not examined).
    bool runArchiver(const std::vector<std::string>& argv) const;

    program::ProgramLog& m_log;
    program::SettingsStore& m_store;
    const program::SecondaryOptionsFields& m_fields;
    program::YieldHook& m_yield;
    const time::Clock& m_clock;
    MailSender& m_sender;
    std::chrono::milliseconds m_archiverTimeLimit = kArchiverTimeLimit;
    std::function<void(program::LogNodeId)> m_collapse;
    std::string m_codice;
    std::string m_lastFailure;
};

} // namespace zs::shell
