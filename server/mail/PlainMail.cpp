#include "mail/PlainMail.h"

#include "mail/clsSendMail.h"

namespace zs::mail {

void setUpPlainMail(clsSendMail& m, const PlainMail& mail)
{
    m.setSMTPHostValidation(0);
    m.setEmailAddressValidation(1);
    m.setDelimiter(";");
    m.setSMTPHost(mail.smtpHost);
    m.setSMTPPort(mail.smtpPort);
    m.setConnectTimeout(mail.timeoutSeconds);
    m.setMessageTimeout(mail.timeoutSeconds);
    m.setFrom(mail.from);
    m.setFromDisplayName(mail.fromName);
    m.setRecipient(mail.to);
    m.setRecipientDisplayName(mail.toName);
    m.setCcRecipient(mail.cc);
    m.setCcDisplayName(mail.ccName);
    m.setBccRecipient(mail.bcc);
    m.setReplyToAddress(mail.replyTo);
    m.setSubject(mail.subject);
    m.setMessage(mail.body);
    m.setAttachment(mail.attachments);
    m.setAsHTML(false);
    m.setContentBase("");
    m.setEncodeType(0);
    m.setPriority(3);
    m.setReceipt(false);
    m.setUseAuthentication(mail.useAuthentication);
    m.setUsePopAuthentication(false);
    m.setUsername(mail.userName);
    m.setPassWord(mail.password);
    m.setPOP3Host("");
    m.setMaxRecipients(100);
}

} // namespace zs::mail
