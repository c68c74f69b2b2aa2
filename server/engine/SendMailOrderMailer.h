#pragma once
// The order mails over the program's mail class: one clsSendMail per mail, set as the run
// notification sets it, sent synchronously (every wait bounded by its time-outs) and turned
// into its outcome.

#include "engine/MailOrdini.h"

#include <functional>

namespace zs::time {
class Clock;
}

namespace zs::engine {

class SendMailOrderMailer : public OrderMailer {
  public:
    /// `yield` runs while the mail waits on its socket; `clock` measures the time-outs (the
    /// system clock when null).
    explicit SendMailOrderMailer(std::function<void()> yield = {}, time::Clock* clock = nullptr,
                                 long timeoutSeconds = 60);
    mail::MailOutcome send(const OrderMail& mail) override;

  private:
    std::function<void()> m_yield;
    time::Clock* m_clock;
    long m_timeout;
};

} // namespace zs::engine
