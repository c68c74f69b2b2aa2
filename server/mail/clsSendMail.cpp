#include "mail/clsSendMail.h"

#include "fs/Paths.h"
#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/ReplyReader.h"
#include "net/TcpClient.h"
#include "registry/UserRegistry.h"
#include "text/Ascii.h"
#include "text/Cp1252.h"
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

// Every lone CR or LF becomes CR LF: bare line ends are not allowed in SMTP data.
std::string toWireLines(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

int localZoneMinutes()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

} // namespace

clsSendMail::clsSendMail() : clsSendMail(SendMailOptions{}) {}

clsSendMail::clsSendMail(SendMailOptions options)
    : m_options(std::move(options)),
      m_clock(m_options.clock ? *m_options.clock : zs::time::systemClock()),
      m_sock(std::make_unique<zs::net::TcpClient>()),
      m_reader(std::make_unique<ReplyReader>()),
      m_mx(m_options.mx)
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
    std::vector<std::string> out;
    if (v.empty())
        return out;
    if (m_delimiter.empty())
        return {v};
    std::size_t start = 0;
    for (;;) {
        const auto p = v.find(m_delimiter, start);
        out.push_back(v.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos)
            return out;
        start = p + m_delimiter.size();
    }
}

std::vector<std::string> clsSendMail::cleanList(std::vector<std::string> list)
{
    for (auto& e : list) {
        e = trim(e);
        for (std::size_t p; (p = e.find("\r\n")) != std::string::npos;)
            e.erase(p, 2);
        std::erase(e, '\t');
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
    WriteSetting("From", v);
}

void clsSendMail::setFromDisplayName(const std::string& v)
{
    m_fromName = trim(v);
    WriteSetting("FromDisplayName", v);
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
    if (v.empty()) {
        m_contentBase.clear();
        return;
    }
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
    m_eightBit = std::any_of(m_message.begin(), m_message.end(), [](char c) { return static_cast<unsigned char>(c) > 126; });
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
    case 1: return zs::mail::IsValidHost(host);
    case 2: {
        const auto r = PingHost(host);
        if (r.ok)
            host = r.host;
        return r.ok;
    }
    case 3: return !zs::mail::GetIPAddress(host).empty();
    default: return true;
    }
}

void clsSendMail::setSMTPHost(const std::string& v)
{
    std::string host = v;
    std::erase(host, '\0');
    host = trim(host);
    if (!checkHost(host)) {
        AddError(kErrSmtpHost);
        return;
    }
    WriteSetting("RemoteHost", host);
    RemoveError(kErrSmtpHost);
    m_smtpHost = host;
}

void clsSendMail::setPOP3Host(const std::string& v)
{
    std::string host = v;
    std::erase(host, '\0');
    host = trim(host);
    if (!checkHost(host)) {
        AddError(kErrPop3Host);
        return;
    }
    WriteSetting("Pop3Host", host);
    RemoveError(kErrPop3Host);
    m_pop3Host = host;
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
    case Flag::Connected: return m_connected;
    case Flag::Reply: return m_reply;
    case Flag::DataGo: return m_dataGo;
    case Flag::LoginOffered: return m_loginOffered;
    case Flag::LoginAccepted: return m_loginAccepted;
    case Flag::Pop3Done: return m_pop3Done;
    case Flag::SomeBytesSent: break;
    }
    return m_someBytesSent;
}

void clsSendMail::ReportFailure()
{
    std::string joined;
    for (const auto& e : m_errors)
        joined += e + "\r\n";
    m_errors.clear();
    m_outcomeRaised = true;
    if (SendFailed)
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
    }
    if (ev.closed || m_sock->state() == State::Closed)
        m_connected = false;
    if (ev.error && !m_abort) {
        AddError(ev.errorText);
        ReportFailure();
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
                AddError(kErrClosed);
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

void clsSendMail::sendBytes(const std::string& bytes)
{
    m_sock->send(bytes);
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
            sendText(EncodeBase64Text(m_username));
        else if (decoded.find("password") != std::string::npos)
            sendText(EncodeBase64Text(m_password));
        else
            sendText("\r\n*\r\n");
    } else if (code == "354") {
        m_dataGo = true;
    } else if (code == "211" || code == "214") {
        // help and status texts change nothing
    } else if (code == "+ok") {
        switch (m_pop3Step) {
        case 0: sendText("USER " + m_username + "\r\n"); m_pop3Step = 1; break;
        case 1: sendText("PASS " + m_password + "\r\n"); m_pop3Step = 2; break;
        case 2: sendText("QUIT\r\n"); m_pop3Step = 3; break;
        default: m_pop3Done = true; m_pop3Step = 0; break;
        }
    } else if (m_abort) {
        // Already reported and closing: a refusal of the goodbye adds nothing.
    } else if (code == "-er") {
        m_pop3Done = false;
        m_pop3Step = 0;
        AddError(reply.substr(0, reply.find_last_not_of("\r\n") + 1));
        ReportFailure();
    } else {
        AddError(reply.substr(0, reply.find_last_not_of("\r\n") + 1));
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
    const auto at = m_from.find('@');
    sendText((m_useAuth ? "EHLO " : "HELO ") + (at == std::string::npos ? m_from : m_from.substr(at + 1)) + "\r\n");
    if (!WaitForFlag(Flag::Reply, m_connectTimeout, true))
        return false;
    if (m_useAuth) {
        if (m_loginOffered || WaitForFlag(Flag::LoginOffered, 5, false)) {
            raiseStatus("Sending Login Authentication...");
            sendText("AUTH Login\r\n");
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
    if (m_sock->state() == State::Connected) {
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
}

bool clsSendMail::Connect()
{
    m_keepOpen = true;
    m_openFailure.clear();
    return OpenSession();
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
        percent = std::min(100L, std::lround(static_cast<float>(m_bytesSent) / static_cast<float>(m_estimatedTotal) * 100.0F));
    if (percent != m_lastPercent) {
        m_lastPercent = percent;
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
                    AddError(kErrClosed);
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
    if (text.empty())
        return {};
    std::string sep;
    if (text.find("\r\n") != std::string::npos)
        sep = "\r\n";
    else if (text.find('\r') != std::string::npos)
        sep = "\r";
    else if (text.find('\n') != std::string::npos)
        sep = "\n"; // text written on this system: still one line per line
    const std::string foldSep = sep.empty() ? "\r\n" : sep;
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t start = 0;
    for (bool first = true;; first = false) {
        const std::size_t end = sep.empty() ? std::string::npos : text.find(sep, start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!first)
            out += sep;
        if (!line.empty() && line[0] == '.')
            line.insert(0, 1, '.');
        std::size_t pos = 0;
        while (line.size() - pos >= 999) {
            const std::size_t blank = line.rfind(' ', pos + 997);
            const std::size_t cut = (blank != std::string::npos && blank >= pos) ? blank + 1 - pos : 998;
            out.append(line, pos, cut);
            out += foldSep;
            pos += cut;
            // A continuation is a line of its own on the wire: a leading "." must be doubled too.
            if (pos < line.size() && line[pos] == '.')
                line.insert(pos, 1, '.');
        }
        out.append(line, pos, std::string::npos);
        if (end == std::string::npos)
            break;
        start = end + sep.size();
    }
    return out;
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
    std::string host = modMXQuery::GetHostNameFromIP(m_sock->localAddress());
    if (host.empty())
        host = m_sock->remoteHost();
    return id + '@' + host;
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
            if (l == std::string::npos || g == std::string::npos || g <= p || l >= p || e == std::string::npos || e < l) {
                from = p + 1;
                continue;
            }
            const std::size_t q = m_message.find('"', e);
            const std::size_t cut = (q != std::string::npos && q < p) ? q + 1 : e + 1;
            m_message = m_message.substr(0, cut) + "cid:" + name + m_message.substr(p + name.size());
            m_embedded[i] = true;
            any = true;
            from = cut + 4 + name.size() - 1;
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
                sendBytes(encoded);
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
                    sendBytes(batch);
                    batch.clear();
                    pumpOnce(0);
                    if (m_abort || !drainBelow(64 * 1024))
                        return false;
                }
            }
            sendBytes(batch);
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
    return "----_=_NextPart_000_" + hex8(serial) + '.' + hex8(static_cast<unsigned long long>(std::llround(fraction * 1e8)));
}

std::string clsSendMail::headerEntry(const std::string& address, const std::string& name) const
{
    return (name.empty() ? '"' + address + '"' : EncodeHeaderText(name, true)) + " <" + address + ">";
}

void clsSendMail::Send()
{
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
    using State = zs::net::TcpClient::State;
    const bool multipart = m_encodeType == 0 && !m_attachPaths.empty();
    if (m_from.empty())
        AddError(kErrFrom);
    if (m_asHtml && m_encodeType == 1)
        AddError("Sending HTML requires MIME encoding");
    const std::size_t count = m_to.size() + m_cc.size() + m_bcc.size();
    if (count == 0)
        AddError("No Recipient E-mail Address Specified");
    if (static_cast<long long>(count) > m_maxRecipients)
        AddError("Too many recipients");
    if (!m_to.empty())
        m_toNames.resize(m_to.size());
    if (!m_cc.empty())
        m_ccNames.resize(m_cc.size());
    if (!m_errors.empty()) {
        ReportFailure();
        return;
    }
    std::fill(m_embedded.begin(), m_embedded.end(), false);
    const bool embedded = !m_attachPaths.empty() && EmbedInlineFiles();
    m_estimatedTotal = EstimateMessageSize();
    m_abort = false;
    if (m_sock->state() != State::Connected && !OpenSession())
        return;

    auto waitReply = [&](Flag f) { return WaitForFlag(f, m_messageTimeout, true) && !m_abort; };
    auto line = [&](const std::string& text) { sendText(text + "\r\n"); };

    m_bytesSent = 0;
    raiseStatus("Sending Sender Information...");
    m_reply = false;
    line("MAIL FROM: <" + m_from + ">");
    if (!waitReply(Flag::Reply))
        return;
    raiseStatus("Sending Recipient Information...");
    std::string toHeader, ccHeader;
    const std::string entrySep = ",\r\n\t";
    for (std::size_t i = 0; i < m_to.size(); ++i) {
        m_reply = false;
        line("RCPT TO: <" + m_to[i] + ">");
        if (!waitReply(Flag::Reply))
            return;
        toHeader += (toHeader.empty() ? "" : entrySep) + headerEntry(m_to[i], i < m_toNames.size() ? m_toNames[i] : "");
    }
    for (std::size_t i = 0; i < m_cc.size(); ++i) {
        m_reply = false;
        line("RCPT TO: <" + m_cc[i] + ">");
        if (!waitReply(Flag::Reply))
            return;
        ccHeader += (ccHeader.empty() ? "" : entrySep) + headerEntry(m_cc[i], i < m_ccNames.size() ? m_ccNames[i] : "");
    }
    for (const auto& bcc : m_bcc) {
        m_reply = false;
        line("RCPT TO: <" + bcc + ">");
        if (!waitReply(Flag::Reply))
            return;
    }
    raiseStatus("Sending Message...");
    m_dataGo = false;
    line("DATA");
    if (!waitReply(Flag::DataGo))
        return;

    m_reply = false;
    const std::string fromHeader =
        (trim(m_fromName).empty() ? '"' + m_from + '"' : EncodeHeaderText(m_fromName, true)) + " <" + m_from + ">";
    line("Message-ID: <" + MakeMessageId() + ">");
    line("From: " + fromHeader);
    line("To: " + toHeader);
    if (!ccHeader.empty())
        line("Cc: " + ccHeader);
    line("Subject: " + EncodeHeaderText(m_subject, false));
    if (!m_replyTo.empty())
        line("Reply-to: <" + m_replyTo + ">");
    line("Date: " + MakeDateText());
    std::string boundary;
    if (m_encodeType == 0) {
        line("MIME-Version: 1.0");
        if (m_priority != 3) {
            line("X-Priority: " + std::to_string(m_priority));
            line("X-MSMail-Priority: " + m_priorityWord);
        }
        if (m_receipt)
            line("Disposition-Notification-To: " + fromHeader);
        if (multipart) {
            boundary = makeBoundary();
            line(embedded ? "Content-Type: multipart/related;" : "Content-Type: multipart/mixed;");
            line("\tboundary=\"" + boundary + "\"\r\n");
            line("This is a multi-part message in MIME format.\r\n");
            line("--" + boundary);
        }
        line(m_asHtml ? "Content-Type: text/html;" : "Content-Type: text/plain;");
        line("\tcharset=\"iso-8859-1\"");
        line(std::string("Content-Transfer-Encoding: ") + (m_eightBit ? "8bit" : "7bit"));
        if (m_asHtml && !m_contentBase.empty())
            line("Content-Base: \"" + m_contentBase + "\"");
    }
    sendBytes("\r\n");
    sendBytes(toWireLines(m_message) + "\r\n");
    if (!m_attachPaths.empty())
        sendBytes("\r\n");

    for (std::size_t i = 0; i < m_attachPaths.size(); ++i) {
        const std::string& name = m_attachNames[i];
        raiseStatus((m_embedded[i] ? "Sending Embedded File, " : "Sending Attachment, ") + name + "...");
        if (m_encodeType != 0) {
            line("begin 600 " + name);
            if (!SendFileEncoded(m_attachPaths[i], 1))
                return;
            line("end");
        } else {
            line("--" + boundary);
            line("Content-Type: " + GetContentType(name, "application/octet-stream") + ";");
            line("\tname=\"" + name + "\"");
            line("Content-Transfer-Encoding: base64");
            line("Content-Disposition: attachment;");
            line("\tfilename=\"" + name + "\"");
            if (m_embedded[i] && embedded)
                line("Content-ID: <" + name + ">");
            sendBytes("\r\n");
            if (!SendFileEncoded(m_attachPaths[i], 0))
                return;
            sendBytes("\r\n");
        }
        if (!drainBelow(4096))
            return;
    }
    if (multipart)
        line("--" + boundary + "--");
    m_reply = false;
    line(".");
    if (!WaitForFlag(Flag::Reply, m_messageTimeout, true) || m_abort)
        return;
    if (Progress)
        Progress(100);
    raiseStatus("Transmission Complete...");
    if (!m_keepOpen)
        CloseSession();
    m_outcomeRaised = true;
    if (SendSuccesful)
        SendSuccesful();
}

} // namespace zs::mail
