#include "shell/run/RunNotification.h"
#include "shell/run/SupportOnline.h"

#include "fs/OwnedFolder.h"
#include "fs/Paths.h"
#include "process/Process.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "text/Ascii.h"
#include "time/Clock.h"

#include <cstdio>
#include <unistd.h>

namespace zs::shell {

// The foundation's names used here.
using program::LogImage;
using program::LogNodeId;
using program::ProgramLog;
using program::SecondaryOptionsFields;
using program::SettingsStore;
using program::YieldHook;
namespace {

bool fileExists(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::exists(p, ec);
}

std::string dayLogName(const time::DateTime& d)
{
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02d.log", d.year % 100, d.month, d.day);
    return name;
}

} // namespace

std::optional<std::filesystem::path> findArchiver(const std::filesystem::path& programFolder)
{
    for (const char* name : {"arj32.exe", "arj32", "arj"}) {
        const auto p = programFolder / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0)
            return p;
    }
    if (auto found = process::findProgram("arj"))
        return std::filesystem::path(*found);
    return std::nullopt;
}

RunNotification::RunNotification(ProgramLog& log, SettingsStore& store, const SecondaryOptionsFields& fields,
                                 YieldHook& yield, const time::Clock& clock, MailSender& sender)
    : m_log(log)
    , m_store(store)
    , m_fields(fields)
    , m_yield(yield)
    , m_clock(clock)
    , m_sender(sender)
{}

bool RunNotification::runArchiver(const std::vector<std::string>& argv) const
{
    process::RunOptions options;
    options.timeLimit = m_archiverTimeLimit;
    options.privateFiles = true; // the archive holds the settings' passwords
    const process::RunResult r = process::run(argv, options);
    return r.exitCode >= 0 && !r.timedOut;
}

int removeRunLeftovers(const std::filesystem::path& programFolder)
{
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    int removed = fs::removeDeadOwnedFolders(programFolder, RunNotification::kArchiveFolderPrefix);
    if (!ec)
        removed += fs::removeDeadOwnedFolders(temp, SupportOnline::kFolderPrefix);
    return removed;
}

std::vector<std::filesystem::path> RunNotification::gatherFiles() const
{
    const auto& folder = m_store.programFolder();
    std::vector<std::filesystem::path> files;
    for (const char* name : {"zentrikserver.xml", "zentrikloading.xml"}) {
        const auto p = fs::resolveCaseInsensitive(folder / name);
        if (fileExists(p))
            files.push_back(p);
    }
    const auto today = m_clock.now();
    // The day log's folder is already the program folder's "log".
    files.push_back(m_log.dayLog().folder() / dayLogName(today));
    const auto yesterday = m_log.dayLog().folder() / dayLogName(today.addDays(-1));
    if (fileExists(yesterday))
        files.push_back(yesterday);
    return files;
}

void RunNotification::NotificaEstrazione(bool hadErrors)
{
    std::string recipient = kSupportMailbox;
    std::string recipientName = "zentrik";
    if (auto v = m_store.LeggiTesto("email"); !v.empty())
        recipient = v;
    if (auto v = m_store.LeggiTesto("emailTo"); !v.empty())
        recipientName = v;

    const LogNodeId gathering = m_log.OutputResponse("Raccolta informazioni", false, 0);
    m_yield.yield();

    const auto files = gatherFiles();
    std::string attachments;
    for (const auto& f : files)
        attachments += (attachments.empty() ? "" : ";") + f.string();

    // The archive holds the settings with their passwords: it is made in a folder of this
    // process that nobody else can enter, and goes with that folder after the send. A folder
    // left by a killed send is removed at the next start (removeRunLeftovers).
    const auto archiver = findArchiver(m_store.programFolder());
    std::optional<std::filesystem::path> privateFolder;
    if (archiver)
        privateFolder = fs::makeOwnedFolder(m_store.programFolder(), kArchiveFolderPrefix);
    bool packed = false;
    if (privateFolder) {
        const auto archive = *privateFolder / ("zentrik" + m_codice + ".arj");
        packed = true;
        for (const auto& f : files)
            packed = packed && runArchiver({archiver->string(), "a", "-e", archive.string(), f.string()});
        if (packed)
            attachments = archive.string();
    }
    if (privateFolder && !packed) {
        // Stopped or never started: the files go unpacked.
        std::error_code ec;
        std::filesystem::remove_all(*privateFolder, ec);
        privateFolder.reset();
    }
    m_log.setImage(gathering, LogImage::Success);

    const LogNodeId line = m_log.OutputResponse("Invio notifica email in corso..", false, 0);
    MailMessage mail;
    mail.smtpHost = m_fields.txtSmtp;
    // Without an installation code the sender would be "@domain", which no mail server takes:
    // the notification could then never be sent. Such an installation sends as "zentrik".
    mail.fromAddress = (m_codice.empty() ? std::string("zentrik") : m_codice) + "@" + kSupportDomain;
    mail.fromName = "zentrik" + m_codice;
    mail.toAddress = recipient;
    mail.toName = recipientName;
    mail.subject = m_codice + (hadErrors ? ":anomalia estrazione" : ":notifica estrazione");
    mail.body = m_codice + (hadErrors ? ":anomalia estrazione Zentrik:" : ":notifica estrazione Zentrik") + "\r\n";
    mail.attachments = attachments;
    mail.useAuthentication = m_fields.chkAutentifica != 0;
    mail.userName = m_fields.txtUsername;
    mail.password = m_fields.txtPwd;
    SendEmail(mail);
    if (privateFolder) {
        std::error_code ec;
        std::filesystem::remove_all(*privateFolder, ec);
        privateFolder.reset();
    }
    if (const std::string failure = SendEmailFailed(); !failure.empty()) {
        m_log.OutputResponse("Invio notifica email con errore:" + failure, true, 1);
        m_log.setImage(line, LogImage::Error);
    } else {
        const LogNodeId done = m_log.OutputResponse("Invio notifica email completata", false, 1);
        m_log.setImage(done, LogImage::Success);
        m_log.setImage(line, LogImage::Success);
        if (m_collapse)
            m_collapse(line);
    }
}

void RunNotification::SendEmail(const MailMessage& message)
{
    m_lastFailure.clear();
    MailMessage m = message;
    m.attachments = std::string(text::trim(m.attachments, " "));
    const MailOutcome outcome = m_sender.send(m, [this](const std::string& status) {
        const LogNodeId id = m_log.OutputResponse(status, false, 1);
        m_log.setImage(id, LogImage::Success);
    });
    // The outcome decides, and a failure always says why.
    if (!outcome.sent)
        m_lastFailure = outcome.failure;
}

std::string RunNotification::SendEmailFailed() const
{
    return m_lastFailure;
}

} // namespace zs::shell
