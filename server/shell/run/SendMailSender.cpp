#include "shell/run/SendMailSender.h"

#include "mail/clsSendMail.h"

#include <charconv>

namespace zs::shell {

SmtpAddress parseSmtpAddress(const std::string& text)
{
    SmtpAddress a{text, 25};
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)
        return a; // no port, or an IPv6 literal
    long port = 0;
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, port);
    if (ec != std::errc() || end != last || port < 1 || port > 65535)
        return a;
    a.host = text.substr(0, colon);
    a.port = port;
    return a;
}

SendMailSender::SendMailSender(std::function<void()> yield, const time::Clock* clock, long timeoutSeconds)
    : m_yield(std::move(yield))
    , m_clock(clock)
    , m_timeout(timeoutSeconds)
{}

SendMailSender::~SendMailSender() = default;

std::string SendMailSender::send(const MailMessage& message, const std::function<void(const std::string&)>& status)
{
    mail::SendMailOptions options;
    options.clock = const_cast<time::Clock*>(m_clock);
    options.yield = m_yield;
    mail::clsSendMail m(std::move(options));
    enum class Outcome { None, Sent, Failed } outcome = Outcome::None;
    std::string failure;
    m.Progress = [](long) {};
    m.Status = [&status](const std::string& text) {
        if (status)
            status(text);
    };
    m.SendFailed = [&](const std::string& explanation) {
        failure = explanation;
        outcome = Outcome::Failed;
    };
    m.SendSuccesful = [&] {
        failure.clear();
        outcome = Outcome::Sent;
    };

    const SmtpAddress smtp = parseSmtpAddress(message.smtpHost);
    m.setSMTPHostValidation(0);
    m.setEmailAddressValidation(1);
    m.setDelimiter(";");
    m.setSMTPHost(smtp.host);
    m.setSMTPPort(smtp.port);
    m.setConnectTimeout(m_timeout);
    m.setMessageTimeout(m_timeout);
    m.setFrom(message.fromAddress);
    m.setFromDisplayName(message.fromName);
    m.setRecipient(message.toAddress);
    m.setRecipientDisplayName(message.toName);
    m.setCcRecipient(message.ccAddress);
    m.setCcDisplayName(message.ccName);
    m.setBccRecipient(message.bccAddress);
    m.setReplyToAddress(message.replyTo);
    m.setSubject(message.subject);
    m.setMessage(message.body);
    m.setAttachment(message.attachments);
    m.setAsHTML(false);
    m.setContentBase("");
    m.setEncodeType(0);
    m.setPriority(3);
    m.setReceipt(false);
    m.setUseAuthentication(message.useAuthentication);
    m.setUsePopAuthentication(false);
    m.setUsername(message.userName);
    m.setPassWord(message.password);
    m.setPOP3Host("");
    m.setMaxRecipients(100);
    m.Send();

    // Send bounds every wait by its time-outs and ends with one of the two events; a send
    // without one, or a failure that says nothing, is still a failure and never a success.
    while (!failure.empty() && (failure.back() == '\n' || failure.back() == '\r'))
        failure.pop_back();
    if (outcome == Outcome::Sent)
        return {};
    if (outcome == Outcome::None || failure.find_first_not_of(" \t\r\n") == std::string::npos)
        return kNoOutcome;
    return failure;
}

} // namespace zs::shell
