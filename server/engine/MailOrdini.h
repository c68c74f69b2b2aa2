#pragma once
// The IMPORTEMAIL step: one plain-text mail per sales manager who has orders, holding a table
// of those orders, sent through the program's mail class. The mail itself goes through the
// small OrderMailer port so the step does not depend on how the mail class is driven.

#include "mail/MailOutcome.h"

#include <functional>
#include <string>

namespace zs::db {
class Connection;
}
namespace zs::xml {
class Element;
}
namespace zs::program {
class ProgramLog;
class YieldHook;
} // namespace zs::program

namespace zs::engine {

/// The mail settings, read afresh for every mail (secondary-options window and settings).
struct OrderMailSettings {
    std::string smtpServer;
    int smtpPort = 25;
    bool useAuthentication = false;
    std::string userName;
    std::string password; ///< decoded
    std::string sender;   ///< the configured sender mailbox
};

struct OrderMail {
    OrderMailSettings settings;
    std::string fromDisplayName;
    std::string recipient; ///< one address or a ";" list
    std::string subject;
    std::string message;
};

/// Sends one mail and returns when it has been sent or has failed (every wait bounded).
class OrderMailer {
  public:
    virtual ~OrderMailer() = default;
    virtual mail::MailOutcome send(const OrderMail& mail) = 0;
};

/// A mailer for builds without the mail class: every mail fails with a clear text.
class UnavailableOrderMailer : public OrderMailer {
  public:
    mail::MailOutcome send(const OrderMail&) override
    {
        return mail::MailOutcome::failed("Invio email non disponibile in questa installazione");
    }
};

class MailOrdini {
  public:
    static constexpr const char* kSenderDisplayName = "VevEzarir ";
    static constexpr const char* kManagerQuery =
        "select ResponsabiliVenditeAgenti.email,ResponsabiliVenditeAgenti.DescrResponsabile  from "
        "ResponsabiliVenditeAgenti order by ResponsabiliVenditeAgenti.Responsabile";

    /// `stopRequested` tells whether the operator pressed Stop; it is read between managers.
    MailOrdini(program::ProgramLog& log, program::YieldHook& yield, std::function<db::Connection*()> connection,
               std::function<OrderMailSettings()> settings, OrderMailer& mailer,
               std::function<bool()> stopRequested = {});

    /// Mails every manager with orders. False when a query failed, a mail was not sent or the
    /// operator stopped the run before the last manager.
    bool MailOrdersStep(const xml::Element& step);

    /// The order query of one manager, the name quoted safely.
    static std::string orderQuery(const std::string& descrResponsabile);
    /// The header line of every mail, CR LF included.
    static std::string header();

  private:
    program::ProgramLog& m_log;
    program::YieldHook& m_yield;
    std::function<db::Connection*()> m_connection;
    std::function<OrderMailSettings()> m_settings;
    OrderMailer& m_mailer;
    std::function<bool()> m_stopRequested;
};

} // namespace zs::engine
