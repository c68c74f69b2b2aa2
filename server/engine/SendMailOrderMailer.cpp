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

std::string SendMailOrderMailer::send(const OrderMail& mail)
{
    mail::SendMailOptions options;
    options.clock = m_clock;
    options.yield = m_yield;
    mail::clsSendMail m(std::move(options));
    bool ended = false;
    std::string failure;
    m.SendSuccesful = [&] { ended = true; };
    m.SendFailed = [&](const std::string& text) {
        ended = true;
        failure = text.empty() ? std::string("Invio non riuscito") : text;
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
    // Send ends every attempt with one of the two events; a missing one is no success.
    if (!ended)
        return "Invio non concluso";
    failure = std::string(text::trimRight(failure, "\r\n"));
    return failure;
}

} // namespace zs::engine
