#pragma once
// The run window's mail object (poSendMail) behind the notification's MailSender port: every
// message gets a clsSendMail of its own, so a send started while another one waits (the wait
// lets window events run) cannot change the first one's message or take its events; their
// events become the status lines and the failure text the notification logs.

#include "shell/run/RunNotification.h"

#include <functional>
#include <string>

namespace zs::time {
class Clock;
}

namespace zs::shell {

/// "host" or "host:port" of the SMTP server box; the port is 25 when none is given or it is
/// not a number from 1 to 65535.
struct SmtpAddress {
    std::string host;
    long port = 25;
};
SmtpAddress parseSmtpAddress(const std::string& text);

class SendMailSender : public MailSender {
  public:
    /// `yield` runs in every wait round of the mail object; `clock` measures its time-outs (the
    /// system clock when null); `timeoutSeconds` bounds the connection and every reply.
    explicit SendMailSender(std::function<void()> yield, const time::Clock* clock = nullptr, long timeoutSeconds = 60);
    ~SendMailSender() override;

    MailOutcome send(const MailMessage& message, const std::function<void(const std::string&)>& status) override;

  private:
    std::function<void()> m_yield;
    const time::Clock* m_clock;
    long m_timeout;
};

} // namespace zs::shell
