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

/// The order mail step over the sample ERP, its log and a mailer that waits `waitSeconds` for
/// the server on `port` of 127.0.0.1.
struct OrderMails {
    OrderMails(int port, int waitSeconds)
        : mailer({}, nullptr, waitSeconds)
        , step(
              log, yield, [this] { return &erp.db; },
              [port] {
                  OrderMailSettings s;
                  s.smtpServer = "127.0.0.1";
                  s.smtpPort = port;
                  s.sender = "ordini@example.it";
                  return s;
              },
              mailer)
    {}
    bool run(const std::string& subject)
    {
        auto doc = xml::Document::loadString("<IMPORTEMAIL><oggetto>" + subject + "</oggetto></IMPORTEMAIL>");
        return step.MailOrdersStep(doc->root());
    }
    Erp erp;
    program::DayLog dayLog{erp.env.home(), time::systemClock()};
    program::ProgramLog log{dayLog};
    zs::test::CountingYield yield;
    SendMailOrderMailer mailer;
    MailOrdini step;
};

TEST(MailOrdiniSmtp, OneMessagePerManagerReachesTheServer)
{
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    OrderMails m(peer.port(), 10);
    EXPECT_TRUE(m.run("Ordini aperti"));
    EXPECT_NE(peer.envelope(1).find("bianchi@example.it"), std::string::npos) << peer.envelope(1);
    EXPECT_NE(peer.envelope(2).find("rossi@example.it"), std::string::npos) << peer.envelope(2);
    EXPECT_EQ(peer.message(3), "");
    EXPECT_NE(peer.message(1).find("Subject: Ordini aperti"), std::string::npos) << peer.message(1);
    EXPECT_NE(peer.message(2).find("O001 - R1 - 0002 - AG1 - C1  Uno"), std::string::npos) << peer.message(2);
    EXPECT_TRUE(m.log.nodes().empty());
}

TEST(MailOrdiniSmtp, AMessageAcceptedBeforeAResetAtQuitIsLoggedAsSent)
{
    // The server takes each message and then answers QUIT with a reset: the mails are sent.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::ResetAtQuit);
    ASSERT_TRUE(peer.ok());
    OrderMails m(peer.port(), 5);
    m.log.OutputResponse("Invio ordini", false, 0);
    EXPECT_TRUE(m.run("Ordini aperti"));
    EXPECT_EQ(peer.accepted(), 2);
    ASSERT_EQ(m.log.nodes().size(), 1u) << m.log.nodes().back().text;
    EXPECT_EQ(m.log.nodes()[0].text, "Invio ordini");
}

TEST(MailOrdiniSmtp, AServerThatIsNotThereFailsTheStep)
{
    OrderMails m(mail::test::freePort(), 3);
    m.log.OutputResponse("Invio ordini", false, 0);
    EXPECT_FALSE(m.run("x"));
    ASSERT_EQ(m.log.nodes().size(), 3u);
    EXPECT_EQ(m.log.nodes()[1].text.rfind("Errore nell'invio email ai seguenti destinatari bianchi@example.it-", 0), 0u)
        << m.log.nodes()[1].text;
    EXPECT_GT(m.log.nodes()[1].text.size(),
              std::string("Errore nell'invio email ai seguenti destinatari bianchi@example.it-").size());
}

} // namespace
} // namespace zs::engine
