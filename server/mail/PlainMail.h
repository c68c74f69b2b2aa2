#pragma once
// One plain-text message as the program's senders hand it to the mail object: the run
// notification (shell) and the order mails (engine) both set every property of a send through
// it, so the object never carries a value over from an earlier message.

#include <string>

namespace zs::mail {

class clsSendMail;

struct PlainMail {
    std::string smtpHost;
    long smtpPort = 25;
    /// Bounds the connection and every reply, in seconds.
    long timeoutSeconds = 60;
    std::string from, fromName;
    /// Lists separated by ';'.
    std::string to, toName, cc, ccName, bcc;
    std::string replyTo;
    std::string subject, body;
    /// Paths separated by ';'.
    std::string attachments;
    bool useAuthentication = false;
    std::string userName, password;
};

/// Sets every property of `m` for `mail`: plain text, no host check, addresses checked for
/// form, normal priority, no receipt, no POP3 log-in, at most 100 recipients.
void setUpPlainMail(clsSendMail& m, const PlainMail& mail);

} // namespace zs::mail
