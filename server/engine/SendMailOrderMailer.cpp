#include "engine/SendMailOrderMailer.h"

#include "mail/PlainMail.h"
#include "mail/clsSendMail.h"
#include "text/Ascii.h"

namespace zs::engine {

SendMailOrderMailer::SendMailOrderMailer(std::function<void()> yield, time::Clock* clock, long timeoutSeconds)
    : m_yield(std::move(yield))
    , m_clock(clock)
    , m_timeout(timeoutSeconds)
{}

mail::MailOutcome SendMailOrderMailer::send(const OrderMail& mail)
{
    mail::SendMailOptions options;
    options.clock = m_clock;
    options.yield = m_yield;
    mail::clsSendMail m(std::move(options));
    enum class Event { None, Sent, Failed } event = Event::None;
    std::string failure;
    m.SendSuccesful = [&] { event = Event::Sent; };
    m.SendFailed = [&](const std::string& text) {
        event = Event::Failed;
        failure = text;
    };
    mail::PlainMail plain;
    plain.smtpHost = mail.settings.smtpServer;
    plain.smtpPort = mail.settings.smtpPort;
    plain.timeoutSeconds = m_timeout;
    plain.from = mail.settings.sender;
    plain.fromName = mail.fromDisplayName;
    plain.to = mail.recipient;
    plain.subject = mail.subject;
    plain.body = mail.message;
    plain.useAuthentication = mail.settings.useAuthentication;
    plain.userName = mail.settings.userName;
    plain.password = mail.settings.password;
    mail::setUpPlainMail(m, plain);
    m.Send();
    // The event decides, never the text: only SendSuccesful is a sent mail. Send ends every
    // attempt with one of the two events; a missing one is a failure all the same.
    if (event == Event::Sent)
        return mail::MailOutcome::delivered();
    return mail::MailOutcome::failed(std::string(text::trim(failure, " \t\r\n")));
}

} // namespace zs::engine
