#include "engine/SendMailOrderMailer.h"

#include "mail/clsSendMail.h"

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
    m.setSMTPHostValidation(0);
    m.setEmailAddressValidation(1);
    m.setDelimiter(";");
    m.setSMTPHost(mail.settings.smtpServer);
    m.setSMTPPort(mail.settings.smtpPort);
    m.setConnectTimeout(m_timeout);
    m.setMessageTimeout(m_timeout);
    m.setFrom(mail.settings.sender);
    m.setFromDisplayName(mail.fromDisplayName);
    m.setRecipient(mail.recipient);
    m.setRecipientDisplayName("");
    m.setCcRecipient("");
    m.setCcDisplayName("");
    m.setBccRecipient("");
    m.setReplyToAddress("");
    m.setSubject(mail.subject);
    m.setMessage(mail.message);
    m.setAttachment("");
    m.setAsHTML(false);
    m.setContentBase("");
    m.setEncodeType(0);
    m.setPriority(3);
    m.setReceipt(false);
    m.setUseAuthentication(mail.settings.useAuthentication);
    m.setUsername(mail.settings.userName);
    m.setPassWord(mail.settings.password);
    m.setUsePopAuthentication(false);
    m.setPOP3Host("");
    m.setMaxRecipients(100);
    m.Send();
    // Send ends every attempt with one of the two events; a missing one is no success.
    if (!ended)
        return "Invio non concluso";
    while (!failure.empty() && (failure.back() == '\n' || failure.back() == '\r'))
        failure.pop_back();
    return failure;
}

} // namespace zs::engine
