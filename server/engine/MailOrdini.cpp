#include "engine/MailOrdini.h"

#include "db/Connection.h"
#include "engine/EngineStrings.h"
#include "engine/StepFields.h"
#include "program/ProgramLog.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

#include <cstdio>

namespace zs::engine {

MailOrdini::MailOrdini(program::ProgramLog& log, program::YieldHook& yield, std::function<db::Connection*()> connection,
                       std::function<OrderMailSettings()> settings, OrderMailer& mailer,
                       std::function<bool()> stopRequested)
    : m_log(log)
    , m_yield(yield)
    , m_connection(std::move(connection))
    , m_settings(std::move(settings))
    , m_mailer(mailer)
    , m_stopRequested(std::move(stopRequested))
{}

std::string MailOrdini::orderQuery(const std::string& descrResponsabile)
{
    return "select count(veviraorder.OMPROGRESSIVO) as RiGHE,veviraorder.OMAGENTE,veviraorder.OMORDINE,"
           "veviraorder.OMCONTO,veviraorder.OMRAG , veviraorder.OMRIFERIMENTOCLIENTE, veviraorder.OMAGENTE from "
           "veviraorder inner join clienti on veviraorder.omconto = clienti.conto inner join "
           "ResponsabiliVenditeAgenti on ResponsabiliVenditeAgenti.DescrResponsabile = clienti.addetto"
           " where ResponsabiliVenditeAgenti.DescrResponsabile=" +
           sqlQuote(descrResponsabile) +
           " group by OMORDINE,OMCONTO,OMRAG,OMRIFERIMENTOCLIENTE,OMAGENTE, clienti.addetto order by OMORDINE";
}

std::string MailOrdini::header()
{
    return " Ordine  - Rif. Cli.  -  NR  -  Agente - Cliente" + std::string(50, ' ') + "\r\n";
}

bool MailOrdini::MailOrdersStep(const xml::Element& step)
{
    // The step's "body" is not used: the message is the order table.
    const StepFields f(step);
    const std::string oggetto = f["oggetto"];
    const std::string destinatari = f["destinatari"];
    db::Connection* c = m_connection ? m_connection() : nullptr;
    auto dbFailure = [this, c](const std::string& what) {
        const std::string reason = c && !c->errors().empty() ? c->errors().front().description : "connessione assente";
        m_log.OutputResponse("Errore nella lettura degli ordini (" + what + "): " + reason, true, 1);
        return false;
    };
    if (!c || !c->isOpen())
        return dbFailure("responsabili");
    auto managers = c->query(kManagerQuery);
    if (!managers)
        return dbFailure("responsabili");

    bool ok = true;
    for (; !managers->eof(); managers->moveNext()) {
        // The step yields around every mail, so Stop can be pressed meanwhile: no further
        // manager is mailed after it.
        if (m_stopRequested && m_stopRequested()) {
            m_log.OutputResponse("Invio email interrotto dall'utente: i responsabili da " +
                                     managers->text("DescrResponsabile") + " in poi non sono stati avvisati",
                                 true, 1);
            return false;
        }
        const std::string email = managers->text("email");
        const std::string manager = managers->text("DescrResponsabile");
        const std::string query = orderQuery(manager);
        auto orders = c->query(query);
        if (!orders) {
            ok = dbFailure(manager);
            continue;
        }
        std::string text;
        for (; !orders->eof(); orders->moveNext()) {
            char count[24];
            std::snprintf(count, sizeof count, "%04lld",
                          static_cast<long long>(orders->value("RiGHE").toInt().value_or(0)));
            text += orders->text("OMORDINE") + " - " + trim(orders->text("OMRIFERIMENTOCLIENTE")) + " - " + count +
                    " - " + orders->text("OMAGENTE") + " - " + orders->text("OMCONTO") + "  " + orders->text("OMRAG") +
                    "\r\n";
        }
        if (text.empty())
            continue;
        const std::string recipient = destinatari.empty() ? email : destinatari;
        const std::string message = header() + text;
        m_log.WriteInLog("Email To: " + recipient, false, false);
        m_log.WriteInLog("Body Email: " + message, false, false);
        m_log.WriteInLog("Query: " + query, false, false);
        OrderMailSettings s = m_settings ? m_settings() : OrderMailSettings{};
        // The values handed to the mail class, the password masked.
        m_log.WriteInLog(s.smtpServer + "," + s.sender + "," + kSenderDisplayName + "," + recipient + ",,,,,," +
                             oggetto + "," + message + ",," + (s.useAuthentication ? "1" : "0") + "," + s.userName +
                             "," + (s.password.empty() ? "" : "****"),
                         false, false);
        m_yield.yield();
        OrderMail mail;
        mail.settings = m_settings ? m_settings() : OrderMailSettings{};
        mail.fromDisplayName = kSenderDisplayName;
        mail.recipient = recipient;
        mail.subject = oggetto;
        mail.message = message;
        const mail::MailOutcome outcome = m_mailer.send(mail);
        m_yield.yield();
        if (!outcome.sent) {
            ok = false;
            // Whether the mail went is the outcome's to say, and a failure always says why.
            const auto id = m_log.OutputResponse(
                "Errore nell'invio email ai seguenti destinatari " + recipient + "-" + outcome.failure, true, 1);
            m_log.setImage(id, static_cast<program::LogImage>(2));
        }
    }
    return ok;
}

} // namespace zs::engine
