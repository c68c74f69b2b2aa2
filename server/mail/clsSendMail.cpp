// clsSendMail: construction, the kept settings, the error list, the properties without checks
// of their own and the utility methods. Checks, session, composition, attachments and the
// stages of a send live in the files next to this one.

#include "mail/clsSendMail.h"

#include "mail/AddressUtils.h"
#include "mail/ReplyReader.h"
#include "mail/SendMail_p.h"
#include "net/TcpClient.h"
#include "registry/UserRegistry.h"
#include "text/Ascii.h"
#include "text/Cp1252.h"
#include "text/Split.h"
#include "time/Clock.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <stdexcept>

namespace zs::mail {

namespace {

constexpr const char* kApp = "Mercuvo";
constexpr const char* kSection = "Settings";

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
    // Neither 7-bit nor 8-bit data may hold a NUL (RFC 2045 2.7, 2.8): such a body goes out
    // quoted-printable, in a MIME message even when plain mode was chosen.
    m_hasNul = m_message.find('\0') != std::string::npos;
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
    MXResult result = m_mx.lookup(domain);
    if (result.failed()) {
        raiseStatus(result.error);
        return {};
    }
    return std::move(result.host);
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

} // namespace zs::mail
