#include "mail/clsSendMail.h"

#include "fs/Paths.h"
#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/MessageFormat.h"
#include "mail/ReplyReader.h"
#include "net/TcpClient.h"
#include "registry/UserRegistry.h"
#include "text/Ascii.h"
#include "text/Cp1252.h"
#include "text/Split.h"
#include "time/Clock.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace zs::mail {
namespace {

constexpr const char* kApp = "Mercuvo";
constexpr const char* kSection = "Settings";
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const std::string kErrAttach = "The file you tried to attach does not exist";
const std::string kErrBcc = "Invalid Bcc: Recipient E-mail Address";
const std::string kErrCc = "Invalid Cc: Recipient E-mail Address";
const std::string kErrTo = "Missing or Invalid Recipient E-mail Address";
const std::string kErrFrom = "Missing or Invalid Sender E-mail Address";
const std::string kErrPop3Host = "Invalid or Missing POP3 Host Name";
const std::string kErrSmtpHost = "Invalid or Missing SMTP Host Name";
const std::string kErrPort = "Invalid Remote Port";
const std::string kErrTimeout = "Timeout occurred: The SMTP Host did not respond to the request";
const std::string kErrClosed = "Connection closed by the SMTP Host";
// Values that would put a line break into a header or a command are refused, never sent.
const std::string kErrSubject = "Invalid Subject: Line Breaks are not Allowed";
const std::string kErrFromName = "Invalid Sender Display Name: Line Breaks are not Allowed";
const std::string kErrReplyTo = "Invalid Reply-To E-mail Address";
const std::string kErrAttachName = "Invalid Attachment File Name";
const std::string kErrContentBase = "Invalid Content Base";
const std::string kErrPopLogin = "Invalid POP3 User Name or Password";
const std::string kErrBusy = "Another message is being sent: this one was not sent";
const std::string kErrLongReply = "Invalid reply from the server (too long): ";

std::string boolText(bool v)
{
    return v ? "-1" : "0";
}

long readLong(const std::string& text)
{
    try {
        std::size_t used = 0;
        const long v = std::stol(text, &used);
        return v;
    } catch (const std::exception&) {
        return 0;
    }
}

bool readBool(const std::string& text)
{
    const std::string t = text::lowerAscii(text);
    if (t == "true")
        return true;
    if (t == "false" || t.empty())
        return false;
    return readLong(t) != 0;
}

long absLong(long v)
{
    return v == LONG_MIN ? LONG_MAX : std::labs(v);
}

std::string hex8(unsigned long long v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08llX", v);
    std::string s = buf;
    return s.size() > 8 ? s.substr(s.size() - 8) : s;
}

// USER and PASS go to the POP3 server as lines of their own (AUTH LOGIN sends base64).
bool isSafePop3Login(const std::string& user, const std::string& password)
{
    auto safe = [](const std::string& s) { return !hasLineBreak(s) && s.find('\0') == std::string::npos; };
    return safe(user) && safe(password);
}

int localZoneMinutes()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

} // namespace

clsSendMail::clsSendMail()
    : clsSendMail(SendMailOptions{})
{}

clsSendMail::clsSendMail(SendMailOptions options)
    : m_options(std::move(options))
    , m_clock(m_options.clock ? *m_options.clock : zs::time::systemClock())
    , m_sock(std::make_unique<zs::net::TcpClient>())
    , m_reader(std::make_unique<ReplyReader>())
    , m_mx(m_options.mx)
{
    m_persistent = readLong(ReadSetting("PersistentSettings", "0")) != 0;
    if (m_persistent) {
        m_from = ReadSetting("From", "");
        m_fromName = ReadSetting("FromDisplayName", "");
        m_pop3Host = ReadSetting("Pop3Host", "");
        m_smtpHost = ReadSetting("RemoteHost", "");
        m_port = readLong(ReadSetting("RemotePort", "25"));
        m_hostValidation = readLong(ReadSetting("SMTPHostValidation", "3"));
        m_emailValidation = readLong(ReadSetting("EmailValidation", "1"));
        m_connectTimeout = readLong(ReadSetting("ConnectTimeout", "40"));
        m_messageTimeout = readLong(ReadSetting("MessageTimeout", "60"));
        m_connectRetry = readLong(ReadSetting("ConnectRetry", "4"));
        m_encodeType = readLong(ReadSetting("EncodeType", "0"));
        m_username = ReadSetting("Username", "");
        m_useAuth = readBool(ReadSetting("UseAuthentication", "False"));
        m_usePop = readBool(ReadSetting("UsePopAuthentication", "False"));
        m_maxRecipients = readLong(ReadSetting("MaxRecipients", "100"));
    }
    if (m_maxRecipients < 1)
        m_maxRecipients = 100;
    m_zone = formatZoneOffset(localZoneMinutes());
}

clsSendMail::~clsSendMail()
{
    if (m_sock->state() != zs::net::TcpClient::State::Closed) {
        // Nobody listens any more: the goodbye must not reach destroyed callbacks.
        Status = nullptr;
        SendFailed = nullptr;
        CloseSession();
    }
}

// ---- small helpers -------------------------------------------------------------------------

std::string clsSendMail::trim(const std::string& s)
{
    return std::string(text::trim(s));
}

std::vector<std::string> clsSendMail::splitList(const std::string& v) const
{
    if (v.empty())
        return {};
    return text::split(v, m_delimiter);
}

std::vector<std::string> clsSendMail::cleanList(std::vector<std::string> list)
{
    // Every CR and LF goes, paired or not: a list entry never carries a line end to the wire.
    for (auto& e : list) {
        e = trim(e);
        std::erase_if(e, [](char ch) { return ch == '\r' || ch == '\n' || ch == '\t'; });
    }
    return list;
}

std::string clsSendMail::join(const std::vector<std::string>& list) const
{
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i)
        out += (i ? m_delimiter : "") + list[i];
    return out;
}

void clsSendMail::AddError(const std::string& text)
{
    if (std::none_of(m_errors.begin(), m_errors.end(),
                     [&](const std::string& e) { return text::equalsNoCase(e, text); }))
        m_errors.push_back(text);
}

void clsSendMail::RemoveError(const std::string& text)
{
    std::erase_if(m_errors, [&](const std::string& e) { return text::equalsNoCase(e, text); });
}

void clsSendMail::raiseStatus(const std::string& text)
{
    if (Status)
        Status(text);
}

std::string clsSendMail::ReadSetting(const std::string& name, const std::string& fallback) const
{
    return zs::registry::getSetting(kApp, kSection, name, fallback);
}

void clsSendMail::WriteSetting(const std::string& name, const std::string& text)
{
    if (m_persistent)
        (void)zs::registry::saveSetting(kApp, kSection, name, text); // a failed write is not an error of the mail
}

// ---- properties ----------------------------------------------------------------------------

void clsSendMail::validateAddressList(const std::string& text, const std::string& errorText)
{
    RemoveError(errorText);
    // Whatever the validation setting, an address must stand between angle brackets safely.
    for (const auto& entry : cleanList(splitList(text))) {
        if (!isWireSafeAddress(entry)) {
            AddError(errorText);
            return;
        }
    }
    if (m_emailValidation != 1)
        return;
    for (const auto& part : splitList(text)) {
        if (!zs::mail::IsValidEmailAddress(part)) {
            AddError(errorText);
            return;
        }
    }
}

void clsSendMail::setRecipient(const std::string& v)
{
    m_to = cleanList(splitList(v));
    validateAddressList(v, kErrTo);
}

void clsSendMail::setCcRecipient(const std::string& v)
{
    m_cc = cleanList(splitList(v));
    validateAddressList(v, kErrCc);
}

void clsSendMail::setBccRecipient(const std::string& v)
{
    m_bcc = cleanList(splitList(v));
    validateAddressList(v, kErrBcc);
}

void clsSendMail::setFrom(const std::string& v)
{
    m_from = trim(v);
    validateAddressList(v, kErrFrom);
    if (!isWireSafeAddress(m_from))
        AddError(kErrFrom);
    WriteSetting("From", v);
}

void clsSendMail::setFromDisplayName(const std::string& v)
{
    m_fromName = trim(v);
    RemoveError(kErrFromName);
    if (hasLineBreak(m_fromName))
        AddError(kErrFromName);
    WriteSetting("FromDisplayName", v);
}

void clsSendMail::setSubject(const std::string& v)
{
    m_subject = v;
    RemoveError(kErrSubject);
    if (hasLineBreak(v))
        AddError(kErrSubject);
}

void clsSendMail::setReplyToAddress(const std::string& v)
{
    m_replyTo = trim(v);
    RemoveError(kErrReplyTo);
    if (!isWireSafeAddress(m_replyTo))
        AddError(kErrReplyTo);
}

std::string clsSendMail::Attachment() const
{
    return join(m_attachPaths);
}

void clsSendMail::setAttachment(const std::string& v)
{
    m_attachPaths = splitList(v);
    m_attachSize = 0;
    m_attachNameLength = 0;
    RemoveError(kErrAttach);
    RemoveError(kErrAttachName);
    m_attachNames.assign(m_attachPaths.size(), std::string());
    m_embedded.assign(m_attachPaths.size(), false);
    for (std::size_t i = 0; i < m_attachPaths.size(); ++i) {
        std::error_code ec;
        std::filesystem::path p(m_attachPaths[i]);
        if (!std::filesystem::is_regular_file(p, ec) && m_attachPaths[i].find('\\') != std::string::npos)
            p = zs::fs::resolveUserPath(m_attachPaths[i]);
        if (m_attachPaths[i].empty() || !std::filesystem::is_regular_file(p, ec)) {
            AddError(kErrAttach);
            return;
        }
        m_attachPaths[i] = p.string();
        const auto slash = m_attachPaths[i].find_last_of("\\/");
        m_attachNames[i] = slash == std::string::npos ? m_attachPaths[i] : m_attachPaths[i].substr(slash + 1);
        if (hasControlCharacter(m_attachNames[i]))
            AddError(kErrAttachName); // a name that would break its header line or "begin" line
        m_attachSize += std::filesystem::file_size(p, ec);
        m_attachNameLength += m_attachNames[i].size();
    }
}

void clsSendMail::setConnectRetry(long v)
{
    if (v < 1 || v > 20)
        return;
    m_connectRetry = v;
    WriteSetting("ConnectRetry", std::to_string(v));
}

void clsSendMail::setConnectTimeout(long v)
{
    if (v < 1 || v > 120)
        return;
    m_connectTimeout = v;
    WriteSetting("ConnectTimeout", std::to_string(v));
}

void clsSendMail::setContentBase(const std::string& v)
{
    RemoveError(kErrContentBase);
    if (v.empty()) {
        m_contentBase.clear();
        return;
    }
    if (hasControlCharacter(v) || v.find('"') != std::string::npos)
        AddError(kErrContentBase);
    std::string s = v;
    std::replace(s.begin(), s.end(), '\\', '/');
    if (text::lowerAscii(s).find("http://") == std::string::npos)
        s = "http://" + s;
    if (s.back() != '/')
        s += '/';
    m_contentBase = s;
}

void clsSendMail::setEmailAddressValidation(long v)
{
    m_emailValidation = v;
    WriteSetting("EmailValidation", std::to_string(v));
}

void clsSendMail::setEncodeType(long v)
{
    m_encodeType = v;
    WriteSetting("EncodeType", std::to_string(v));
}

void clsSendMail::setMaxRecipients(long v)
{
    m_maxRecipients = absLong(v);
    WriteSetting("MaxRecipients", std::to_string(m_maxRecipients));
}

std::string clsSendMail::Message() const
{
    return zs::text::fromLatin1(m_message);
}

void clsSendMail::setMessage(const std::string& v)
{
    m_message = PrepareBody(zs::text::toLatin1(v));
    m_eightBit =
        std::any_of(m_message.begin(), m_message.end(), [](char c) { return static_cast<unsigned char>(c) > 126; });
}

void clsSendMail::setMessageTimeout(long v)
{
    m_messageTimeout = absLong(v);
    WriteSetting("MessageTimeout", std::to_string(m_messageTimeout));
}

void clsSendMail::setPersistentSettings(bool v)
{
    m_persistent = v;
    WriteSetting("PersistentSettings", boolText(v));
}

void clsSendMail::setPriority(long v)
{
    m_priority = v;
    if (v == 1)
        m_priorityWord = "High";
    else if (v == 3)
        m_priorityWord = "Normal";
    else if (v == 5)
        m_priorityWord = "Low";
}

bool clsSendMail::checkHost(std::string& host) const
{
    if (host.empty())
        return true;
    switch (m_hostValidation) {
    case 1:
        return zs::mail::IsValidHost(host);
    case 2: {
        const auto r = PingHost(host);
        if (r.ok)
            host = r.host;
        return r.ok;
    }
    case 3:
        return !zs::mail::GetIPAddress(host).empty();
    default:
        return true;
    }
}

void clsSendMail::setHost(const std::string& v, std::string& slot, const std::string& setting,
                          const std::string& errorText)
{
    std::string host = v;
    std::erase(host, '\0');
    host = trim(host);
    if (!checkHost(host)) {
        AddError(errorText);
        return;
    }
    WriteSetting(setting, host);
    RemoveError(errorText);
    slot = host;
}

void clsSendMail::setSMTPHost(const std::string& v)
{
    setHost(v, m_smtpHost, "RemoteHost", kErrSmtpHost);
}

void clsSendMail::setPOP3Host(const std::string& v)
{
    setHost(v, m_pop3Host, "Pop3Host", kErrPop3Host);
}

void clsSendMail::setSMTPHostValidation(long v)
{
    m_hostValidation = v;
    WriteSetting("SMTPHostValidation", std::to_string(v));
    if (!m_smtpHost.empty())
        setSMTPHost(m_smtpHost);
}

void clsSendMail::setSMTPPort(long v)
{
    if (v < 1 || v > 65535) {
        AddError(kErrPort);
        return;
    }
    m_port = v;
    RemoveError(kErrPort);
    WriteSetting("RemotePort", std::to_string(v));
}

void clsSendMail::setUseAuthentication(bool v)
{
    m_useAuth = v;
    WriteSetting("UseAuthentication", boolText(v));
}

void clsSendMail::setUsePopAuthentication(bool v)
{
    m_usePop = v;
    WriteSetting("UsePopAuthentication", boolText(v));
}

void clsSendMail::setUsername(const std::string& v)
{
    m_username = v;
    WriteSetting("Username", v);
}

// ---- utilities -----------------------------------------------------------------------------

std::string clsSendMail::GetContentType(const std::string& fileName, const std::string& fallback) const
{
    return zs::mail::GetContentType(fileName, fallback);
}

std::string clsSendMail::GetIPAddress(const std::string& host) const
{
    return zs::mail::GetIPAddress(host);
}

std::string clsSendMail::GetIPHost() const
{
    return zs::mail::GetIPHost();
}

bool clsSendMail::IsValidEmailAddress(const std::string& address) const
{
    return zs::mail::IsValidEmailAddress(address);
}

std::string clsSendMail::DecodeBase64String(const std::string& base64) const
{
    return zs::mail::DecodeBase64String(base64);
}

std::string clsSendMail::MXQuery(const std::string& domainIn)
{
    const std::string domain = trim(domainIn);
    raiseStatus(domain.empty() ? "Performing MX Query" : "Performing MX Query, Domain: " + domain);
    try {
        return m_mx.MXQuery(domain);
    } catch (const MXQueryError& e) {
        raiseStatus(e.what());
        return {};
    }
}

bool clsSendMail::Ping(std::string& host, std::string& roundTrip, std::string& dataSize, bool& echoMatched)
{
    const auto r = PingHost(host);
    if (!r.host.empty()) {
        host = r.host;
        roundTrip = r.roundTrip;
        dataSize = r.dataSize;
        echoMatched = r.echoMatched;
    }
    return r.ok;
}

// ---- the session ---------------------------------------------------------------------------

bool& clsSendMail::flag(Flag f)
{
    switch (f) {
    case Flag::Connected:
        return m_connected;
    case Flag::Reply:
        return m_reply;
    case Flag::DataGo:
        return m_dataGo;
    case Flag::LoginOffered:
        return m_loginOffered;
    case Flag::LoginAccepted:
        return m_loginAccepted;
    case Flag::Pop3Done:
        return m_pop3Done;
    case Flag::SomeBytesSent:
        break;
    }
    return m_someBytesSent;
}

void clsSendMail::ReportFailure()
{
    std::string joined;
    for (const auto& e : m_errors)
        joined += e + "\r\n";
    m_errors.clear();
    // One outcome per Send: whatever goes wrong after the first failure (the goodbye, a reset
    // while closing) is part of that failure, and its reason stays the first one.
    const bool first = !m_outcomeRaised;
    m_outcomeRaised = true;
    if (first && SendFailed)
        SendFailed(joined);
    if (m_sock->state() != zs::net::TcpClient::State::Closed)
        CloseSession();
    m_abort = true;
    m_errors.clear();
}

void clsSendMail::ReportTimeout()
{
    AddError(kErrTimeout);
    ReportFailure();
}

void clsSendMail::pumpOnce(int ms)
{
    using State = zs::net::TcpClient::State;
    auto ev = m_sock->pump(ms);
    if (ev.connected)
        m_connected = true;
    if (ev.bytesSent > 0)
        sckMail_SendProgress(ev.bytesSent, m_sock->queued());
    if (!ev.data.empty()) {
        m_reader->feed(ev.data);
        while (auto reply = m_reader->next())
            onReply(*reply);
        if (m_reader->failed() && !m_abort && !m_closing) {
            AddError(kErrLongReply + replyForLog(m_reader->failedStart()));
            ReportFailure();
        }
    }
    if (ev.closed || m_sock->state() == State::Closed)
        m_connected = false;
    if (ev.error && !m_abort && !m_closing) {
        if (!ev.data.empty()) {
            // The reply that came with the reset still counts (a "250" to the end mark is a
            // sent message); the reset is the reason of whatever waits next.
            m_lostConnection = ev.errorText;
        } else {
            AddError(ev.errorText);
            ReportFailure();
        }
    }
}

bool clsSendMail::WaitForFlag(Flag f, long seconds, bool reportOnTimeout)
{
    using State = zs::net::TcpClient::State;
    if (seconds < 1)
        return false;
    const std::int64_t deadline = m_clock.tickMs() + static_cast<std::int64_t>(seconds) * 1000;
    bool& target = flag(f);
    while (!target) {
        if (m_clock.tickMs() >= deadline) {
            if (reportOnTimeout)
                ReportTimeout();
            return false;
        }
        if (m_abort)
            return false;
        // A peer that hung up will never set the flag: say so now instead of at the deadline.
        if (f != Flag::Connected && m_sock->state() != State::Connected && m_sock->state() != State::Connecting) {
            if (reportOnTimeout) {
                AddError(m_lostConnection.empty() ? kErrClosed : m_lostConnection);
                ReportFailure();
            }
            return false;
        }
        pumpOnce(10);
        if (m_options.yield)
            m_options.yield();
    }
    return true;
}

void clsSendMail::sendText(const std::string& utf8)
{
    m_sock->send(zs::text::toLatin1(utf8));
}

void clsSendMail::sendData(std::string_view bytes)
{
    m_wire.clear();
    m_stuffer.append(bytes, m_wire);
    m_sock->send(m_wire);
}

void clsSendMail::onReply(const std::string& reply)
{
    const std::string code = text::lowerAscii(reply.substr(0, 3));
    if (code == "220" || code == "221" || code == "251") {
        m_reply = true;
    } else if (code == "250") {
        m_reply = true;
        const std::string l = text::lowerAscii(reply);
        if (l.find("auth") != std::string::npos && l.find("login") != std::string::npos)
            m_loginOffered = true;
    } else if (code == "235") {
        m_loginAccepted = true;
    } else if (code == "334") {
        std::string challenge = trim(reply.size() > 3 ? reply.substr(3) : std::string());
        for (std::size_t p; (p = challenge.find_first_of("\r\n")) != std::string::npos;)
            challenge.erase(p, 1);
        // Prompts differ between servers ("Username:", "User Name"): blanks do not count.
        std::string decoded = text::lowerAscii(zs::mail::DecodeBase64String(trim(challenge)));
        std::erase(decoded, ' ');
        if (decoded.find("username") != std::string::npos)
            sendText(EncodeBase64Line(zs::text::toLatin1(m_username)) + "\r\n"); // one line, however long
        else if (decoded.find("password") != std::string::npos)
            sendText(EncodeBase64Line(zs::text::toLatin1(m_password)) + "\r\n");
        else
            sendText("\r\n*\r\n");
    } else if (code == "354") {
        m_dataGo = true;
    } else if (code == "211" || code == "214") {
        // help and status texts change nothing
    } else if (code == "+ok") {
        switch (m_pop3Step) {
        case 0:
            sendText("USER " + m_username + "\r\n");
            m_pop3Step = 1;
            break;
        case 1:
            sendText("PASS " + m_password + "\r\n");
            m_pop3Step = 2;
            break;
        case 2:
            sendText("QUIT\r\n");
            m_pop3Step = 3;
            break;
        default:
            m_pop3Done = true;
            m_pop3Step = 0;
            break;
        }
    } else if (m_abort || m_closing) {
        // Already reported, or closing: a refusal of the goodbye adds nothing.
    } else if (code == "-er") {
        m_pop3Done = false;
        m_pop3Step = 0;
        AddError(replyForLog(reply));
        ReportFailure();
    } else {
        AddError(replyForLog(reply));
        ReportFailure();
    }
}

bool clsSendMail::connectWithRetry(bool clearConnectedEachRound)
{
    using State = zs::net::TcpClient::State;
    const std::string host = m_inPop3 ? m_pop3Host : m_smtpHost;
    const auto port = m_inPop3 ? m_options.pop3Port : static_cast<std::uint16_t>(m_port);
    for (long attempt = 0; attempt < m_connectRetry; ++attempt) {
        if (m_sock->state() == State::Connected) {
            m_connected = true;
            return true;
        }
        if (clearConnectedEachRound)
            m_connected = false;
        if (m_sock->state() == State::Closed) {
            std::string error;
            if (!m_sock->connect(host, port, &error)) {
                AddError(error);
                ReportFailure();
                return false;
            }
        }
        if (WaitForFlag(Flag::Connected, m_connectTimeout, false))
            return true;
        if (m_abort)
            return false;
        if (m_sock->state() == State::Error)
            m_sock->close();
        pumpOnce(0);
    }
    return false;
}

bool clsSendMail::OpenSession()
{
    try {
        return openSessionImpl();
    } catch (const std::exception& e) {
        m_inPop3 = false;
        m_openFailure = std::string("Connect error: ") + e.what();
        raiseStatus(m_openFailure);
        return false;
    }
}

bool clsSendMail::openSessionImpl()
{
    using State = zs::net::TcpClient::State;
    if (m_sock->state() == State::Connected)
        return true;
    if (m_sock->state() != State::Closed) {
        m_sock->close();
        m_reader->clear();
    }
    // Connect opens a session without Send's checks: what goes into a command is checked here.
    const bool unsafeHelo = !isWireSafeAddress(m_from);
    const bool unsafePop = m_usePop && !isSafePop3Login(m_username, m_password);
    if (unsafeHelo)
        AddError(kErrFrom);
    if (unsafePop)
        AddError(kErrPopLogin);
    if (unsafeHelo || unsafePop) {
        ReportFailure();
        return false;
    }
    if (m_smtpHost.empty())
        m_smtpHost = MXQuery("");
    if (m_smtpHost.empty()) {
        AddError(kErrSmtpHost);
        ReportFailure();
        return false;
    }
    if (m_usePop) {
        raiseStatus("Connecting to POP3 Server (" + m_pop3Host + ")...");
        m_abort = m_connected = m_pop3Done = false;
        m_pop3Step = 0;
        if (m_pop3Host.empty()) {
            AddError(kErrPop3Host);
            ReportFailure();
            return false;
        }
        m_inPop3 = true;
        connectWithRetry(false);
        if (!m_abort)
            (void)WaitForFlag(Flag::Pop3Done, m_connectTimeout, false); // a silent POP3 server only delays
        m_sock->close();
        m_reader->clear();
        m_inPop3 = false;
        if (m_abort)
            return false;
        raiseStatus("POP3 Authentication Successful...");
    }
    m_reply = m_dataGo = m_loginOffered = m_loginAccepted = m_abort = m_connected = false;
    m_lostConnection.clear();
    if (m_sock->state() != State::Closed) {
        m_sock->close();
        m_reader->clear();
    }
    raiseStatus("Connecting to SMTP Server (" + m_smtpHost + ")...");
    connectWithRetry(true);
    if (m_abort)
        return false; // already reported
    (void)WaitForFlag(Flag::Reply, m_connectTimeout, false);
    if (m_abort)
        return false;
    if (m_sock->state() != State::Connected || !m_connected || !m_reply) {
        ReportTimeout();
        return false;
    }
    raiseStatus("Initializing Communications...");
    m_reply = false;
    const std::string from = trim(m_from);
    const auto at = from.find('@');
    sendText((m_useAuth ? "EHLO " : "HELO ") + (at == std::string::npos ? from : from.substr(at + 1)) + "\r\n");
    if (!WaitForFlag(Flag::Reply, m_connectTimeout, true))
        return false;
    if (m_useAuth) {
        if (m_loginOffered || WaitForFlag(Flag::LoginOffered, 5, false)) {
            raiseStatus("Sending Login Authentication...");
            sendText("AUTH LOGIN\r\n"); // the mechanism's name as RFC 4954 spells it
            if (!WaitForFlag(Flag::LoginAccepted, 5, false)) {
                raiseStatus("Host Login Failed!");
                m_openFailure = "Host Login Failed!";
                m_abort = true;
                return false;
            }
            raiseStatus("Host Login OK!");
            if (m_abort)
                return false;
        } else {
            if (m_abort)
                return false;
            raiseStatus("Login Not Supported by Host, Continuing...");
        }
    }
    return true;
}

void clsSendMail::CloseSession()
{
    using State = zs::net::TcpClient::State;
    if (m_sock->state() != State::Closed)
        raiseStatus("Closing Connection...");
    // Nothing that happens while closing is reported: replies and socket errors in the wait
    // for the goodbye are ignored. A peer that broke the reply bounds gets no QUIT at all.
    const bool closing = m_closing;
    m_closing = true;
    if (m_sock->state() == State::Connected && !m_reader->failed()) {
        if (m_inPop3) {
            sendText("QUIT\r\n");
            pumpOnce(0);
        } else {
            m_reply = false;
            const bool abort = m_abort;
            m_abort = false; // the goodbye is awaited even after a failure
            sendText("QUIT\r\n");
            (void)WaitForFlag(Flag::Reply, 2, false);
            m_abort = abort;
        }
    }
    m_sock->close();
    m_reader->clear();
    m_connected = false;
    m_lostConnection.clear();
    m_closing = closing;
}

void clsSendMail::Disconnect()
{
    m_keepOpen = false;
    CloseSession();
}

// ---- transmission --------------------------------------------------------------------------

void clsSendMail::sckMail_SendProgress(std::size_t sent, std::size_t remaining)
{
    m_bytesSent += sent;
    m_someBytesSent = true;
    long percent = 0;
    if (m_estimatedTotal > 0)
        percent = std::min(
            100L, std::lround(static_cast<float>(m_bytesSent) / static_cast<float>(m_estimatedTotal) * 100.0F));
    // Within one send the figure only climbs: the log-in bytes count towards it, never restart it.
    if (percent != m_lastPercent && percent > m_percentFloor) {
        m_lastPercent = percent;
        m_percentFloor = percent;
        if (m_sock->state() == zs::net::TcpClient::State::Connected && Progress)
            Progress(percent);
    }
    m_bytesQueued = remaining;
}

bool clsSendMail::drainBelow(std::size_t limit)
{
    while (m_sock->queued() > limit) {
        const std::size_t noted = m_sock->queued();
        const std::int64_t deadline = m_clock.tickMs() + static_cast<std::int64_t>(m_messageTimeout) * 1000;
        while (m_sock->queued() == noted) {
            if (m_abort || m_sock->state() != zs::net::TcpClient::State::Connected) {
                if (!m_abort) {
                    AddError(m_lostConnection.empty() ? kErrClosed : m_lostConnection);
                    ReportFailure();
                }
                return false;
            }
            if (m_clock.tickMs() >= deadline) {
                ReportTimeout();
                return false;
            }
            pumpOnce(10);
            if (m_options.yield)
                m_options.yield();
        }
    }
    return true;
}

std::string clsSendMail::PrepareBody(const std::string& text)
{
    // One line at a time, whatever ended it (CR LF, CR or LF): the message knows only CR LF.
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 2);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of("\r\n", start);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        // A line of 999 characters or more is cut at its last blank within 998 (kept on the
        // first piece), or at 998 when it has none.
        std::size_t pos = start;
        while (stop - pos >= 999) {
            const std::size_t blank = text.rfind(' ', pos + 997);
            const std::size_t cut = (blank != std::string::npos && blank >= pos) ? blank + 1 - pos : 998;
            out.append(text, pos, cut);
            out += "\r\n";
            pos += cut;
        }
        out.append(text, pos, stop - pos);
        if (end == std::string::npos)
            return out;
        out += "\r\n";
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
}

std::string clsSendMail::formatZoneOffset(int minutesEast)
{
    const int a = std::abs(minutesEast);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", minutesEast < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return buf;
}

std::string clsSendMail::MakeDateText() const
{
    const auto now = m_clock.now();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d ", kWeekdays[(now.weekday() + 6) % 7], now.day,
                  kMonths[(now.month + 11) % 12], now.year, now.hour, now.minute, now.second);
    return buf + m_zone;
}

std::string clsSendMail::MakeMessageId() const
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz012345678";
    std::mt19937 gen(std::random_device{}());
    std::uniform_int_distribution<std::size_t> dist(0, kChars.size() - 1);
    std::string id = std::string(stamp) + '.';
    for (int i = 0; i < 20; ++i)
        id += kChars[dist(gen)];
    // The machine's own name, as the system keeps it: a reverse look-up per message could stall
    // the send on a slow resolver.
    const std::string host = zs::mail::GetIPHost();
    return id + '@' + messageIdHost(host.empty() ? m_smtpHost : host);
}

long clsSendMail::EstimateMessageSize() const
{
    auto L = [](const std::string& s) { return static_cast<long>(s.size()); };
    long total = L(m_from) + 93;
    if (m_useAuth) {
        total += L(m_from) + 25;
        if (!m_username.empty())
            total += L(m_username) * 4 / 3;
        if (!m_password.empty())
            total += L(m_password) * 4 / 3;
    }
    auto addresses = [&](const std::vector<std::string>& list, long twice) {
        for (std::size_t i = 0; i < list.size(); ++i)
            total += twice * L(list[i]) + 15 + (i > 0 ? 6 : 0);
    };
    addresses(m_to, 2);
    for (const auto& n : m_toNames)
        total += L(n) + 11;
    addresses(m_cc, 2);
    for (const auto& n : m_ccNames)
        total += L(n) + 11;
    addresses(m_bcc, 1);
    if (!m_fromName.empty())
        total += L(m_fromName) + 3;
    total += L(m_from);
    if (!m_replyTo.empty())
        total += L(m_replyTo) + 14;
    total += L(m_subject) + L(m_message);
    if (m_encodeType == 0) {
        total += 64;
        if (m_asHtml && !m_contentBase.empty())
            total += L(m_contentBase) + 18;
        if (m_receipt)
            total += L(m_fromName) + 36 + L(m_from);
    }
    const long n = static_cast<long>(m_attachPaths.size());
    const long s = static_cast<long>(m_attachSize);
    const long t = static_cast<long>(m_attachNameLength);
    if (n >= 1) {
        if (m_encodeType != 0)
            total += s * 4 / 3 + (s / 45) * 3 + t + 20 * n;
        else
            total += s * 4 / 3 + 42 + (s / 57) * 2 + 2 * t + 182 * n + 290;
    }
    return total;
}

bool clsSendMail::EmbedInlineFiles()
{
    if (!m_asHtml || m_attachNames.empty())
        return false;
    bool any = false;
    for (std::size_t i = 0; i < m_attachNames.size(); ++i) {
        const std::string name = zs::text::toLatin1(m_attachNames[i]);
        if (name.empty())
            continue;
        const std::string lname = text::lowerAscii(name);
        std::size_t from = 0;
        for (;;) {
            const std::size_t p = text::lowerAscii(m_message).find(lname, from);
            if (p == std::string::npos)
                break;
            const std::size_t l = p == 0 ? std::string::npos : m_message.rfind('<', p);
            const std::size_t g = l == std::string::npos ? std::string::npos : m_message.find('>', l);
            const std::size_t e = l == std::string::npos ? std::string::npos : m_message.rfind('=', p);
            // Rewrite only a name that stands inside a tag, after an "=" of that same tag.
            if (l == std::string::npos || g == std::string::npos || g <= p || l >= p || e == std::string::npos ||
                e < l) {
                from = p + 1;
                continue;
            }
            const std::size_t q = m_message.find('"', e);
            const std::size_t cut = (q != std::string::npos && q < p) ? q + 1 : e + 1;
            // The reference is the Content-ID as a URL: its own "%" escapes escaped once more.
            std::string reference = "cid:";
            for (char ch : contentIdOf(m_attachNames[i]))
                reference += ch == '%' ? std::string("%25") : std::string(1, ch);
            m_message = m_message.substr(0, cut) + reference + m_message.substr(p + name.size());
            m_embedded[i] = true;
            any = true;
            from = cut + reference.size() - 1;
        }
    }
    return any;
}

bool clsSendMail::SendFileEncoded(const std::string& path, int mode)
{
    using State = zs::net::TcpClient::State;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error(kErrAttach);
        if (mode == 0) {
            std::string block(11400, '\0');
            std::string encoded;
            encoded.reserve(15600);
            while (in) {
                in.read(block.data(), static_cast<std::streamsize>(block.size()));
                const auto got = static_cast<std::size_t>(in.gcount());
                if (got == 0)
                    break;
                m_someBytesSent = false;
                if (m_sock->state() != State::Connected)
                    throw std::runtime_error("Socket not Open");
                encoded.clear();
                appendBase64Lines(std::string_view(block.data(), got), encoded);
                sendData(encoded);
                (void)WaitForFlag(Flag::SomeBytesSent, 2, false);
                // Never hold more than a few blocks in memory, however slow the server.
                if (m_abort || !drainBelow(64 * 1024))
                    return false;
            }
        } else if (mode == 1) {
            char line[45];
            std::string batch;
            int lines = 0;
            while (in) {
                in.read(line, sizeof line);
                const auto got = static_cast<std::size_t>(in.gcount());
                if (got == 0)
                    break;
                if (m_sock->state() != State::Connected)
                    throw std::runtime_error("Socket not Open");
                batch += UuencodeLine(std::string_view(line, got));
                batch += "\r\n";
                if (++lines % 50 == 0) {
                    sendData(batch);
                    batch.clear();
                    pumpOnce(0);
                    if (m_abort || !drainBelow(64 * 1024))
                        return false;
                }
            }
            batch += UuencodeLine({}); // the zero-length line that ends the data
            batch += "\r\n";
            sendData(batch);
        }
        return !m_abort;
    } catch (const std::exception& e) {
        AddError(e.what());
        ReportFailure();
        m_abort = true;
        return false;
    }
}

std::string clsSendMail::makeBoundary() const
{
    const auto now = m_clock.now();
    const auto serial = static_cast<unsigned long long>(now.daysSinceEpoch() + 25569);
    const double fraction = (now.hour * 3600 + now.minute * 60 + now.second) / 86400.0;
    return "----_=_NextPart_000_" + hex8(serial) + '.' +
           hex8(static_cast<unsigned long long>(std::llround(fraction * 1e8)));
}

// ---- one send, stage by stage --------------------------------------------------------------

// What one send writes, fixed before the first byte goes out: a property assigned while the
// send waits (from a yield) belongs to the next message.
struct clsSendMail::Outgoing {
    struct File {
        std::string path;
        std::string name;      // UTF-8
        std::string contentId; // "" unless referenced from the HTML body
        bool embedded = false;
    };
    std::string from;
    std::vector<std::string> recipients; // To, then Cc, then Bcc
    std::string header;                  // the header block, ISO-8859-1, without its empty line
    std::string body;                    // the prepared Message
    std::vector<File> files;
    bool plain = false;   // uuencoded attachments after the body, no MIME
    std::string boundary; // multipart when not empty
};

namespace {

// Marks the object busy for the life of one Send or Connect.
class BusyScope {
  public:
    explicit BusyScope(bool& busy)
        : m_busy(busy)
    {
        m_busy = true;
    }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& m_busy;
};

} // namespace

bool clsSendMail::Connect()
{
    if (m_busy)
        return false; // the running conversation owns the socket
    BusyScope busy(m_busy);
    m_keepOpen = true;
    m_outcomeRaised = false;
    m_openFailure.clear();
    return OpenSession();
}

void clsSendMail::Send()
{
    // One conversation at a time. A Send re-entered from a yield of a running Send or Connect
    // gets its own single outcome here and touches nothing the running one uses: not the error
    // list, not the flags, not the socket.
    if (m_busy) {
        if (SendFailed)
            SendFailed(kErrBusy + "\r\n");
        return;
    }
    BusyScope busy(m_busy);
    m_outcomeRaised = false;
    m_openFailure.clear();
    try {
        sendImpl();
    } catch (const std::exception& e) {
        if (!m_outcomeRaised) {
            AddError(e.what());
            ReportFailure();
        }
    }
    // Every Send ends in exactly one outcome: a session that could not be opened for a
    // reason told only through Status is still a failure the caller must learn of.
    if (!m_outcomeRaised) {
        AddError(m_openFailure.empty() ? "The message could not be sent" : m_openFailure);
        ReportFailure();
    }
}

void clsSendMail::sendImpl()
{
    if (!checkMessage()) {
        ReportFailure();
        return;
    }
    const Outgoing out = composeMessage();
    m_estimatedTotal = EstimateMessageSize();
    m_abort = false;
    // Counted from the start of the send, log-in included, so the percentage never restarts.
    m_bytesSent = 0;
    m_percentFloor = -1;
    if (m_sock->state() != zs::net::TcpClient::State::Connected && !OpenSession())
        return;
    if (!sendEnvelope(out) || !sendContent(out) || !finishMessage())
        return;
    m_lastPercent = m_percentFloor = 100;
    if (Progress)
        Progress(100);
    raiseStatus("Transmission Complete...");
    // The server took the message: it is sent, whatever the goodbye brings.
    m_outcomeRaised = true;
    if (!m_keepOpen)
        CloseSession();
    if (SendSuccesful)
        SendSuccesful();
}

bool clsSendMail::checkMessage()
{
    if (m_from.empty())
        AddError(kErrFrom);
    if (m_asHtml && m_encodeType == 1)
        AddError("Sending HTML requires MIME encoding");
    const std::size_t count = m_to.size() + m_cc.size() + m_bcc.size();
    if (count == 0)
        AddError("No Recipient E-mail Address Specified");
    if (static_cast<long long>(count) > m_maxRecipients)
        AddError("Too many recipients");
    checkWireValues();
    if (!m_to.empty())
        m_toNames.resize(m_to.size());
    if (!m_cc.empty())
        m_ccNames.resize(m_cc.size());
    return m_errors.empty();
}

void clsSendMail::checkWireValues()
{
    // The setters refuse these too, but a value can also come from the kept settings, or have
    // been reported once already (a report empties the list): nothing is written unchecked.
    if (!isWireSafeAddress(m_from))
        AddError(kErrFrom);
    const std::pair<const std::vector<std::string>*, const std::string*> lists[] = {
        {&m_to, &kErrTo}, {&m_cc, &kErrCc}, {&m_bcc, &kErrBcc}};
    for (const auto& [list, error] : lists)
        if (!std::all_of(list->begin(), list->end(), [](const std::string& a) { return isWireSafeAddress(a); }))
            AddError(*error);
    if (hasLineBreak(m_fromName))
        AddError(kErrFromName);
    if (hasLineBreak(m_subject))
        AddError(kErrSubject);
    if (!isWireSafeAddress(m_replyTo))
        AddError(kErrReplyTo);
    if (std::any_of(m_attachNames.begin(), m_attachNames.end(),
                    [](const std::string& n) { return hasControlCharacter(n); }))
        AddError(kErrAttachName);
    if (m_asHtml && (hasControlCharacter(m_contentBase) || m_contentBase.find('"') != std::string::npos))
        AddError(kErrContentBase);
    if (m_usePop && !isSafePop3Login(m_username, m_password))
        AddError(kErrPopLogin);
}

clsSendMail::Outgoing clsSendMail::composeMessage()
{
    Outgoing out;
    out.plain = m_encodeType != 0;
    std::fill(m_embedded.begin(), m_embedded.end(), false);
    const bool embedded = !m_attachPaths.empty() && EmbedInlineFiles();
    if (!out.plain && !m_attachPaths.empty())
        out.boundary = makeBoundary();

    HeaderFields f;
    f.messageId = MakeMessageId();
    f.date = MakeDateText();
    // A kept sender read back from the settings may carry blanks; the envelope never does.
    f.from = trim(m_from);
    f.fromName = m_fromName;
    for (std::size_t i = 0; i < m_to.size(); ++i)
        f.to.emplace_back(m_to[i], i < m_toNames.size() ? m_toNames[i] : std::string());
    for (std::size_t i = 0; i < m_cc.size(); ++i)
        f.cc.emplace_back(m_cc[i], i < m_ccNames.size() ? m_ccNames[i] : std::string());
    f.subject = m_subject;
    f.replyTo = m_replyTo;
    f.mime = !out.plain;
    f.priority = m_priority;
    f.priorityWord = m_priorityWord;
    f.receipt = m_receipt;
    f.boundary = out.boundary;
    f.related = embedded;
    f.html = m_asHtml;
    f.eightBit = m_eightBit;
    f.contentBase = m_contentBase;
    out.header = composeHeader(f);

    out.from = f.from;
    for (const auto* list : {&m_to, &m_cc, &m_bcc})
        out.recipients.insert(out.recipients.end(), list->begin(), list->end());
    out.body = m_message;
    for (std::size_t i = 0; i < m_attachPaths.size(); ++i) {
        const bool inline_ = m_embedded[i] && embedded;
        out.files.push_back({m_attachPaths[i], m_attachNames[i],
                             inline_ ? contentIdOf(m_attachNames[i]) : std::string(), m_embedded[i]});
    }
    return out;
}

bool clsSendMail::sendCommand(const std::string& line, Flag awaited)
{
    flag(awaited) = false;
    sendText(line + "\r\n");
    return WaitForFlag(awaited, m_messageTimeout, true) && !m_abort;
}

bool clsSendMail::sendEnvelope(const Outgoing& out)
{
    raiseStatus("Sending Sender Information...");
    if (!sendCommand("MAIL FROM: <" + out.from + ">", Flag::Reply))
        return false;
    raiseStatus("Sending Recipient Information...");
    for (const auto& recipient : out.recipients)
        if (!sendCommand("RCPT TO: <" + recipient + ">", Flag::Reply))
            return false;
    raiseStatus("Sending Message...");
    return sendCommand("DATA", Flag::DataGo);
}

bool clsSendMail::sendContent(const Outgoing& out)
{
    // No reply comes between DATA's go-ahead and the end mark; the flag waits for the last one.
    m_reply = false;
    m_stuffer = DataStuffer();
    sendData(out.header);
    sendData("\r\n");
    sendData(out.body);
    sendData(out.files.empty() ? "\r\n" : "\r\n\r\n");
    for (std::size_t i = 0; i < out.files.size(); ++i)
        if (!sendAttachment(out, i))
            return false;
    if (!out.boundary.empty())
        sendData("--" + out.boundary + "--\r\n");
    return true;
}

bool clsSendMail::sendAttachment(const Outgoing& out, std::size_t index)
{
    const auto& file = out.files[index];
    raiseStatus((file.embedded ? "Sending Embedded File, " : "Sending Attachment, ") + file.name + "...");
    if (out.plain) {
        sendData("begin 600 " + zs::text::toLatin1(file.name) + "\r\n");
        if (!SendFileEncoded(file.path, 1))
            return false;
        sendData("end\r\n");
    } else {
        sendData(composeAttachmentHeader(out.boundary, file.name, GetContentType(file.name, "application/octet-stream"),
                                         file.contentId));
        sendData("\r\n");
        if (!SendFileEncoded(file.path, 0))
            return false;
        sendData("\r\n");
    }
    return drainBelow(4096);
}

bool clsSendMail::finishMessage()
{
    m_reply = false;
    m_wire.clear();
    m_stuffer.finish(m_wire);
    m_sock->send(m_wire);
    return WaitForFlag(Flag::Reply, m_messageTimeout, true) && !m_abort;
}

} // namespace zs::mail
