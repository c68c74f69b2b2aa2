// The order mail step against a real SMTP server (the aiosmtpd peer) through the program's
// mail class: one message per manager with orders, and a server that is not there.

#include "engine/MailOrdini.h"
#include "engine/SendMailOrderMailer.h"

#include "db/Connection.h"
#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"
#include "program/ProgramLog.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

namespace zs::engine {
namespace {

struct Erp {
    Erp()
    {
        zs::test::writeFile(env.home() / "erp.mdb", "");
        EXPECT_TRUE(db.open("Data Source=" + (env.home() / "erp.mdb").string() + ";"));
        for (const char* sql :
             {"create table ResponsabiliVenditeAgenti (email text, DescrResponsabile text, Responsabile text)",
              "create table clienti (conto text, addetto text)",
              "create table veviraorder (OMPROGRESSIVO text, OMAGENTE text, OMORDINE text, OMCONTO text, OMRAG text, "
              "OMRIFERIMENTOCLIENTE text)",
              "insert into ResponsabiliVenditeAgenti values ('rossi@example.it', 'Rossi', '2'), "
              "('bianchi@example.it', 'Bianchi', '1'), ('verdi@example.it', 'Verdi', '3')",
              "insert into clienti values ('C1', 'Rossi'), ('C2', 'Bianchi')",
              "insert into veviraorder values ('1', 'AG1', 'O001', 'C1', 'Uno', 'R1'), "
              "('2', 'AG1', 'O001', 'C1', 'Uno', 'R1'), ('1', 'AG2', 'O002', 'C2', 'Due', 'R2')"})
            EXPECT_TRUE(db.execute(sql)) << sql;
    }
    zs::test::ScopedTestEnv env;
    db::Connection db;
};

TEST(MailOrdiniSmtp, OneMessagePerManagerReachesTheServer)
{
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    Erp erp;
    program::DayLog dayLog(erp.env.home(), time::systemClock());
    program::ProgramLog log(dayLog);
    zs::test::CountingYield yield;
    SendMailOrderMailer mailer({}, nullptr, 10);
    MailOrdini step(
        log, yield, [&] { return &erp.db; },
        [&] {
            OrderMailSettings s;
            s.smtpServer = "127.0.0.1";
            s.smtpPort = peer.port();
            s.sender = "ordini@example.it";
            return s;
        },
        mailer);
    auto doc = xml::Document::loadString("<IMPORTEMAIL><oggetto>Ordini aperti</oggetto></IMPORTEMAIL>");
    EXPECT_TRUE(step.MailOrdersStep(doc->root()));
    EXPECT_NE(peer.envelope(1).find("bianchi@example.it"), std::string::npos) << peer.envelope(1);
    EXPECT_NE(peer.envelope(2).find("rossi@example.it"), std::string::npos) << peer.envelope(2);
    EXPECT_EQ(peer.message(3), "");
    EXPECT_NE(peer.message(1).find("Subject: Ordini aperti"), std::string::npos) << peer.message(1);
    EXPECT_NE(peer.message(2).find("O001 - R1 - 0002 - AG1 - C1  Uno"), std::string::npos) << peer.message(2);
    EXPECT_TRUE(log.nodes().empty());
}

TEST(MailOrdiniSmtp, AMessageAcceptedBeforeAResetAtQuitIsLoggedAsSent)
{
    // The server takes each message and then answers QUIT with a reset: the mails are sent.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::ResetAtQuit);
    ASSERT_TRUE(peer.ok());
    Erp erp;
    program::DayLog dayLog(erp.env.home(), time::systemClock());
    program::ProgramLog log(dayLog);
    zs::test::CountingYield yield;
    SendMailOrderMailer mailer({}, nullptr, 5);
    MailOrdini step(
        log, yield, [&] { return &erp.db; },
        [&] {
            OrderMailSettings s;
            s.smtpServer = "127.0.0.1";
            s.smtpPort = peer.port();
            s.sender = "ordini@example.it";
            return s;
        },
        mailer);
    log.OutputResponse("Invio ordini", false, 0);
    auto doc = xml::Document::loadString("<IMPORTEMAIL><oggetto>Ordini aperti</oggetto></IMPORTEMAIL>");
    EXPECT_TRUE(step.MailOrdersStep(doc->root()));
    EXPECT_EQ(peer.accepted(), 2);
    ASSERT_EQ(log.nodes().size(), 1u) << log.nodes().back().text;
    EXPECT_EQ(log.nodes()[0].text, "Invio ordini");
}

TEST(MailOrdiniSmtp, AServerThatIsNotThereFailsTheStep)
{
    Erp erp;
    program::DayLog dayLog(erp.env.home(), time::systemClock());
    program::ProgramLog log(dayLog);
    zs::test::CountingYield yield;
    SendMailOrderMailer mailer({}, nullptr, 3);
    const auto port = mail::test::freePort();
    MailOrdini step(
        log, yield, [&] { return &erp.db; },
        [&] {
            OrderMailSettings s;
            s.smtpServer = "127.0.0.1";
            s.smtpPort = port;
            s.sender = "ordini@example.it";
            return s;
        },
        mailer);
    log.OutputResponse("Invio ordini", false, 0);
    auto doc = xml::Document::loadString("<IMPORTEMAIL><oggetto>x</oggetto></IMPORTEMAIL>");
    EXPECT_FALSE(step.MailOrdersStep(doc->root()));
    ASSERT_EQ(log.nodes().size(), 3u);
    EXPECT_EQ(log.nodes()[1].text.rfind("Errore nell'invio email ai seguenti destinatari bianchi@example.it-", 0), 0u)
        << log.nodes()[1].text;
    EXPECT_GT(log.nodes()[1].text.size(),
              std::string("Errore nell'invio email ai seguenti destinatari bianchi@example.it-").size());
}

} // namespace
} // namespace zs::engine
