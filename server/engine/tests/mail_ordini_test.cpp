// The order mail step over a real SQLite copy of the ERP's tables, with a recording mailer:
// one mail per manager with orders in manager order, the order table's layout, the fixed
// recipient, failures in the run log, and names holding a quote.

#include "StepsTestSupport.h"
#include "engine/MailOrdini.h"

#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

namespace zs::engine {
namespace {

class RecordingMailer : public OrderMailer {
  public:
    mail::MailOutcome send(const OrderMail& mail) override
    {
        mails.push_back(mail);
        return mail.recipient == failFor ? mail::MailOutcome::failed(failText) : mail::MailOutcome::delivered();
    }
    std::vector<OrderMail> mails;
    std::string failFor;
    std::string failText = "Connessione rifiutata";
};

class MailOrdiniTest : public test::StepsTest {
  protected:
    MailOrdiniTest()
    {
        test::sqliteRun(
            path("erp.mdb"),
            {"create table ResponsabiliVenditeAgenti (email text, DescrResponsabile text, Responsabile text)",
             "create table clienti (conto text, addetto text)",
             "create table veviraorder (OMPROGRESSIVO text, OMAGENTE text, OMORDINE text, OMCONTO text, OMRAG text, "
             "OMRIFERIMENTOCLIENTE text)",
             "insert into ResponsabiliVenditeAgenti values ('rossi@example.it', 'Rossi', '02'), "
             "('bianchi@example.it', 'Bianchi', '01'), ('verdi@example.it', 'Verdi', '03'), "
             "('oneil@example.it', 'O''Neil', '04')",
             "insert into clienti values ('C1   ', 'Rossi'), ('C2   ', 'Bianchi'), ('C3   ', 'O''Neil')",
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 12) "
             "insert into veviraorder select i, 'AG1 ', 'O002 ', 'C1   ', 'Ditta Uno  ', 'RIF2' from n",
             "insert into veviraorder values ('1', 'AG1 ', 'O001 ', 'C1   ', 'Ditta Uno  ', '  R1  ')",
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 12345) "
             "insert into veviraorder select i, 'AG2 ', 'O003 ', 'C2   ', 'Ditta Due  ', 'R3' from n",
             "insert into veviraorder values ('1', 'AG4 ', 'O004 ', 'C3   ', 'Ditta Tre  ', 'R4')"});
        EXPECT_TRUE(m_db.open(test::sqliteCs(path("erp.mdb"))));
    }
    bool run(const std::string& children)
    {
        auto doc = xml::Document::loadString("<IMPORTEMAIL>" + children + "</IMPORTEMAIL>");
        return m_step.MailOrdersStep(doc->root());
    }

    db::Connection m_db;
    RecordingMailer m_mailer;
    MailOrdini m_step{m_log, m_yield, [this] { return &m_db; },
                      [] {
                          OrderMailSettings s;
                          s.smtpServer = "smtp.example.it";
                          s.useAuthentication = true;
                          s.userName = "utente";
                          s.password = "Segreta!9";
                          s.sender = "ordini@example.it";
                          return s;
                      },
                      m_mailer};
};

TEST_F(MailOrdiniTest, OneMailPerManagerWithOrders)
{
    EXPECT_TRUE(run("<Oggetto>Ordini aperti</Oggetto><body>ignorato</body><destinatari/>"));
    ASSERT_EQ(m_mailer.mails.size(), 3u);
    EXPECT_EQ(m_mailer.mails[0].recipient, "bianchi@example.it");
    EXPECT_EQ(m_mailer.mails[1].recipient, "rossi@example.it");
    EXPECT_EQ(m_mailer.mails[2].recipient, "oneil@example.it"); // a name with a quote is a value
    const std::string header = " Ordine  - Rif. Cli.  -  NR  -  Agente - Cliente" + std::string(50, ' ') + "\r\n";
    EXPECT_EQ(header.size(), 100u);
    EXPECT_EQ(m_mailer.mails[0].message, header + "O003  - R3 - 12345 - AG2  - C2     Ditta Due  \r\n");
    EXPECT_EQ(m_mailer.mails[1].message, header + "O001  - R1 - 0001 - AG1  - C1     Ditta Uno  \r\n"
                                                  "O002  - RIF2 - 0012 - AG1  - C1     Ditta Uno  \r\n");
    for (const auto& m : m_mailer.mails) {
        EXPECT_EQ(m.subject, "Ordini aperti");
        EXPECT_EQ(m.fromDisplayName, "VevEzarir ");
        EXPECT_EQ(m.settings.sender, "ordini@example.it");
    }
    EXPECT_TRUE(lines().empty()); // the detail goes to the day log only
    const std::string log = dayLog();
    EXPECT_NE(log.find(":Email To: rossi@example.it\r\n"), std::string::npos);
    EXPECT_NE(log.find(":Body Email:  Ordine  - Rif. Cli."), std::string::npos);
    EXPECT_NE(log.find(":Query: " + MailOrdini::orderQuery("Rossi") + "\r\n"), std::string::npos);
    EXPECT_NE(log.find(":smtp.example.it,ordini@example.it,VevEzarir ,rossi@example.it,,,,,,Ordini aperti,"),
              std::string::npos);
    EXPECT_NE(log.find(",,1,utente,****\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Segreta!9"), std::string::npos);
    EXPECT_EQ(m_yield.count, 6);
}

TEST_F(MailOrdiniTest, FixedRecipientAndFailedSends)
{
    m_mailer.failFor = "capo@example.it;vice@example.it";
    m_log.OutputResponse("Invio ordini", false, 0);
    EXPECT_FALSE(run("<oggetto>x</oggetto><DESTINATARI>capo@example.it;vice@example.it</DESTINATARI>"));
    ASSERT_EQ(m_mailer.mails.size(), 3u); // every manager still gets his mail
    for (const auto& m : m_mailer.mails)
        EXPECT_EQ(m.recipient, "capo@example.it;vice@example.it");
    const auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[1], "  E:Errore nell'invio email ai seguenti destinatari capo@example.it;vice@example.it-"
                    "Connessione rifiutata");
    EXPECT_EQ(m_log.nodes()[0].image, program::LogImage::Error);
}

TEST_F(MailOrdiniTest, AFailureWithoutATextIsStillAFailureWithAReason)
{
    // The outcome decides: a failed mail whose text is empty or blank is never taken as sent.
    m_log.OutputResponse("Invio ordini", false, 0);
    for (const char* text : {"", "\r\n", " \t"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(text)));
        m_mailer.mails.clear();
        m_mailer.failFor = "bianchi@example.it";
        m_mailer.failText = text;
        const std::size_t before = lines().size();
        EXPECT_FALSE(run("<oggetto>x</oggetto>"));
        ASSERT_EQ(lines().size(), before + 1);
        EXPECT_EQ(lines().back(), "  E:Errore nell'invio email ai seguenti destinatari bianchi@example.it-"
                                  "Invio non concluso: nessuna risposta dal server di posta");
    }
}

TEST_F(MailOrdiniTest, MissingTablesFailTheStep)
{
    ASSERT_TRUE(m_db.execute("drop table clienti"));
    EXPECT_FALSE(run("<oggetto>x</oggetto>"));
    EXPECT_TRUE(m_mailer.mails.empty());
    ASSERT_EQ(lines().size(), 4u);
    EXPECT_EQ(lines()[0].rfind("E:Errore nella lettura degli ordini (Bianchi): ", 0), 0u) << lines()[0];
}

} // namespace
} // namespace zs::engine

namespace zs::engine {
namespace {

TEST_F(MailOrdiniTest, StopBetweenManagersMailsNoFurtherManager)
{
    // The operator presses Stop while the first mail is sent (the step yields around it).
    bool stop = false;
    class StoppingMailer : public RecordingMailer {
      public:
        explicit StoppingMailer(bool& stop)
            : m_stop(stop)
        {}
        mail::MailOutcome send(const OrderMail& mail) override
        {
            m_stop = true;
            return RecordingMailer::send(mail);
        }
        bool& m_stop;
    } mailer(stop);
    MailOrdini step(
        m_log, m_yield, [this] { return &m_db; }, [] { return OrderMailSettings{}; }, mailer, [&stop] { return stop; });
    m_log.OutputResponse("Invio ordini", false, 0);
    auto doc = xml::Document::loadString("<IMPORTEMAIL><oggetto>x</oggetto></IMPORTEMAIL>");
    EXPECT_FALSE(step.MailOrdersStep(doc->root()));
    ASSERT_EQ(mailer.mails.size(), 1u);
    EXPECT_EQ(mailer.mails[0].recipient, "bianchi@example.it");
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "  E:Invio email interrotto dall'utente: i responsabili da Rossi in poi non sono stati avvisati");
}

} // namespace
} // namespace zs::engine
