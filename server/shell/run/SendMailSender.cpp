#include "shell/run/SendMailSender.h"

#include "mail/PlainMail.h"
#include "mail/clsSendMail.h"
#include "text/Ascii.h"

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

MailOutcome SendMailSender::send(const MailMessage& message, const std::function<void(const std::string&)>& status)
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
    mail::PlainMail plain;
    plain.smtpHost = smtp.host;
    plain.smtpPort = smtp.port;
    plain.timeoutSeconds = m_timeout;
    plain.from = message.fromAddress;
    plain.fromName = message.fromName;
    plain.to = message.toAddress;
    plain.toName = message.toName;
    plain.cc = message.ccAddress;
    plain.ccName = message.ccName;
    plain.bcc = message.bccAddress;
    plain.replyTo = message.replyTo;
    plain.subject = message.subject;
    plain.body = message.body;
    plain.attachments = message.attachments;
    plain.useAuthentication = message.useAuthentication;
    plain.userName = message.userName;
    plain.password = message.password;
    mail::setUpPlainMail(m, plain);
    m.Send();

    // Send bounds every wait by its time-outs and ends with one of the two events; a send
    // without one is still a failure and never a success.
    if (outcome == Outcome::Sent)
        return MailOutcome::delivered();
    return MailOutcome::failed(std::string(text::trimRight(failure, "\r\n")));
}

} // namespace zs::shell
