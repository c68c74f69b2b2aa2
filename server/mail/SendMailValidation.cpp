// clsSendMail's checks: the setters that check their value (addresses, hosts, port, texts that
// go into headers) and the checks a send runs before anything is written.

#include "mail/clsSendMail.h"

#include "fs/ReadFile.h"
#include "mail/AddressUtils.h"
#include "mail/MessageFormat.h"
#include "mail/SendMail_p.h"
#include "text/Ascii.h"

#include <algorithm>
#include <utility>

namespace zs::mail {

bool isSafePop3Login(const std::string& user, const std::string& password)
{
    auto safe = [](const std::string& s) { return !hasLineBreak(s) && s.find('\0') == std::string::npos; };
    return safe(user) && safe(password);
}

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
    // What stands at an attachment's name now, not when it was set: only a regular file that
    // opens is sent (a FIFO or a device put there since would hang the send).
    for (const auto& path : m_attachPaths) {
        std::string why;
        if (!zs::fs::openForReading(path, why).valid()) {
            AddError(kErrAttach);
            break;
        }
    }
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

} // namespace zs::mail
