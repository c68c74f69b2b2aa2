// zs-extract on a copy of the demo folder: the whole demo without a display, its day log, the
// order mails it sends through SMTP servers that misbehave, the settings' statement time-out
// and a stop during a synchronisation.

#include "ProgramUseSupport.h"

#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"

#include "db/Connection.h"
#include "dialogs/qt/CubiWindow.h"
#include "olap/OlapCatalog.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>

namespace zs::shell {
namespace {

// --- zs-extract ----------------------------------------------------------------------------------

TEST_F(ProgramInUse, StartUpReadsALargeCatalogOnceAndKeepsTheStoredChoices)
{
    // 5,000 cubes in the catalog, each with a choice stored in the settings.
    std::string cubes, stored;
    for (int i = 1; i <= 5000; ++i) {
        const std::string name = "Cubo" + std::to_string(i);
        cubes += "<Cube name=\"" + name + "\" sourceTable=\"VENDITE\"><Measure name=\"N\" aggregate=\"count\"/></Cube>";
        stored += "<cubo nome=\"" + name + "\" aggiornamento=\"" + (i % 2 ? "dati" : "incrementale") + "\" data=\"\"/>";
    }
    test::writeFile(home / "olap-demo.xml", "<OlapServer name=\"demo\"><Database name=\"Vendite\" "
                                            "connection=\"Data Source=target.db;\">" +
                                                cubes + "</Database></OlapServer>");
    addSetting(home, stored);
    const std::size_t before = olap::catalogReads();
    QElapsedTimer started;
    started.start();
    create();
    ASSERT_TRUE(app->load());
    QCoreApplication::processEvents();
    EXPECT_LE(olap::catalogReads() - before, 1u);
    EXPECT_LT(started.elapsed(), 10000); // was 7.7 s with 2,500 cubes
    const auto list = app->cubes().cubes();
    ASSERT_EQ(list.size(), 5000u);
    EXPECT_EQ(list[0].aggiornamento, program::RefreshChoice::DataOnly);
    EXPECT_EQ(list[4999].aggiornamento, program::RefreshChoice::Incremental);
}

TEST_F(ProgramInUse, ZsExtractRunsTheWholeDemoCubesIncludedWithoutADisplay)
{
    const auto r = runExtract(home, std::chrono::seconds(60), {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Inizio elaborazione dati multidimensionali."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Sto elaborando il cubo VenditePerArticolo"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("ERRORE"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    std::string day;
    for (const auto& f : fs::directory_iterator(home / "log"))
        day += test::readFile(f.path());
    EXPECT_NE(day.find("Sto elaborando il cubo VenditePerCliente"), std::string::npos);

    // Every aggregate row equals the test's own SQL over the facts the run loaded.
    db::Connection c;
    ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
    EXPECT_EQ(rowsOf(c, "SELECT count(*) FROM VENDITE"), std::vector<std::string>{"6"});
    EXPECT_EQ(
        rowsOf(c, "SELECT \"Cliente\", \"Importo\", \"Quantita\", \"fact_count\" FROM "
                  "\"olap_u081024_4_demo_7_Vendite_VenditePerCliente\" ORDER BY 1"),
        rowsOf(c, "SELECT cliente, sum(importo), sum(quantita), count(*) FROM VENDITE GROUP BY cliente ORDER BY 1"));
    EXPECT_EQ(rowsOf(c, "SELECT \"Articolo\", \"Cliente\", \"Quantita\", \"Ordini\", \"fact_count\" FROM "
                        "\"olap_u081024_4_demo_7_Vendite_VenditePerArticolo\" ORDER BY 1, 2"),
              rowsOf(c, "SELECT articolo, cliente, sum(quantita), count(*), count(*) FROM VENDITE "
                        "GROUP BY articolo, cliente ORDER BY 1, 2"));
    EXPECT_EQ(rowsOf(c, "SELECT \"member\" FROM \"olapdim_u081_4_demo_7_Vendite_Cliente\" ORDER BY 1"),
              rowsOf(c, "SELECT DISTINCT nome FROM CLIENTI ORDER BY 1"));
    c.close();

    // The settings keep the cubes with their processing dates, and the snapshot is the one the
    // cube window writes from the same server.
    const std::string settings = test::readFile(home / "zentrikServer.xml");
    EXPECT_NE(settings.find("<cubo nome=\"VenditePerCliente\" aggiornamento=\"completo\" data=\""), std::string::npos)
        << settings;
    const std::string written = test::readFile(home / "zentrikOlap.xml");
    EXPECT_NE(written.find("<LastProcessed>"), std::string::npos) << written;
    fs::remove(home / "zentrikOlap.xml");
    create();
    ASSERT_TRUE(app->load());
    app->cubes().core().flbAggiornaClick();
    EXPECT_EQ(test::readFile(home / "zentrikOlap.xml"), written);
}

TEST_F(ProgramInUse, ZsExtractWorksInTheProgramFolderAndReportsItsDayLog)
{
    // Started from elsewhere with a relative folder: the loading XML's attached database is
    // still found beside the settings.
    ASSERT_EQ(::chdir(env.root().c_str()), 0);
    const fs::path relative = fs::relative(home, env.root());
    fs::remove_all(home / "log");
    test::writeFile(home / "log", "a file where the day logs' folder should be");
    const auto r = runExtract(relative);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    std::size_t reports = 0;
    for (auto at = r.output.find("log giornaliero non aggiornato"); at != std::string::npos;
         at = r.output.find("log giornaliero non aggiornato", at + 1))
        ++reports;
    EXPECT_EQ(reports, 1u) << r.output;
}

// The demo folder with one IMPORTEMAIL step mailing one sales manager through 127.0.0.1:port.
void orderMailFolder(const fs::path& home, std::uint16_t port)
{
    {
        db::Connection target;
        ASSERT_TRUE(target.open("Data Source=" + (home / "target.db").string() + ";"));
        for (const char* sql :
             {"create table ResponsabiliVenditeAgenti (email text, DescrResponsabile text, Responsabile text)",
              "drop table if exists clienti", "create table clienti (conto text, addetto text)",
              "create table veviraorder (OMPROGRESSIVO text, OMAGENTE text, OMORDINE text, OMCONTO text, OMRAG text, "
              "OMRIFERIMENTOCLIENTE text)",
              "insert into ResponsabiliVenditeAgenti values ('rossi@example.it', 'Rossi', '02')",
              "insert into clienti values ('C1   ', 'Rossi')",
              "insert into veviraorder values ('1', 'AG1 ', 'O001 ', 'C1   ', 'Ditta Uno  ', 'R1')"})
            ASSERT_TRUE(target.execute(sql)) << sql;
    }
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><IMPORTEMAIL><esegui>si</esegui>"
                    "<operazione>Ordini aperti</operazione><Oggetto>Ordini aperti</Oggetto><destinatari/>"
                    "</IMPORTEMAIL></Estrattore>\n");
    // The demo's own sender (MittenteOrdini) is kept as it stands.
    std::string text = test::readFile(home / "zentrikServer.xml");
    text.replace(text.find("<smtpserver></smtpserver>"), 25,
                 "<smtpserver>127.0.0.1:" + std::to_string(port) + "</smtpserver>");
    test::writeFile(home / "zentrikServer.xml", text);
}

TEST_F(ProgramInUse, ZsExtractReadsAHostAndAPortInTheSmtpSetting)
{
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(peer.message().find("Subject: Ordini aperti"), std::string::npos) << r.output;
    EXPECT_NE(peer.envelope().find("rossi@example.it"), std::string::npos) << peer.envelope();
    EXPECT_NE(peer.envelope().find("from=ordini@zentrik.it"), std::string::npos) << "the demo's own sender";
}

TEST_F(ProgramInUse, ZsExtractLogsAnOrderMailAsSentWhenTheServerResetsAtQuit)
{
    // The server takes the message and answers QUIT with a reset: the mail is sent, the step
    // and the run succeed, and no sending error reaches the day log.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::ResetAtQuit);
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(peer.accepted(), 1) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Errore nell'invio email"), std::string::npos) << r.output;
    std::string dayLogs;
    for (const auto& e : fs::directory_iterator(home / "log"))
        dayLogs += test::readFile(e.path());
    EXPECT_NE(dayLogs.find("Email To: rossi@example.it"), std::string::npos);
    EXPECT_EQ(dayLogs.find("Errore nell'invio email"), std::string::npos) << dayLogs;
}

TEST_F(ProgramInUse, ZsExtractFailsTheRunWhenTheServerAnswersWithAnEmptyLine)
{
    // A server that answers HELO, or the end mark, with an empty line never took the mail:
    // the step's error line reaches the run log and the day log, and the run ends with errors.
    using Kind = mail::test::HostileSmtpPeer::Kind;
    const fs::path demo = home;
    for (const Kind kind : {Kind::EmptyHeloReply, Kind::EmptyEndMarkReply}) {
        SCOPED_TRACE(kind == Kind::EmptyHeloReply ? "empty line to HELO" : "empty line to the end mark");
        test::TempDir copy;
        fs::copy(demo, copy.path(), fs::copy_options::recursive);
        fs::remove_all(copy.path() / "log");
        mail::test::HostileSmtpPeer peer(kind);
        ASSERT_TRUE(peer.ok());
        orderMailFolder(copy.path(), peer.port());

        const auto r = runExtract(copy.path(), std::chrono::seconds(120));
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_EQ(peer.accepted(), 0);
        const std::string line = "Errore nell'invio email ai seguenti destinatari rossi@example.it-"
                                 "Invalid reply from the server (empty line)";
        EXPECT_NE(r.output.find(line), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
        std::string dayLogs;
        for (const auto& e : fs::directory_iterator(copy.path() / "log"))
            dayLogs += test::readFile(e.path());
        EXPECT_NE(dayLogs.find("Email To: rossi@example.it"), std::string::npos);
        EXPECT_NE(dayLogs.find(line), std::string::npos) << dayLogs;
    }
}

/// Every line of a day log that is not blank, with where it fails to start with the stamp.
std::vector<std::string> unstampedLines(const std::string& dayLog)
{
    std::vector<std::string> out;
    const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d   :)");
    std::size_t at = 0;
    while (at < dayLog.size()) {
        const std::size_t end = dayLog.find("\r\n", at);
        const std::string line = dayLog.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && !std::regex_search(line, stamp))
            out.push_back(line);
        if (end == std::string::npos)
            break;
        at = end + 2;
    }
    return out;
}

/// The line of `text` (lines ended by LF, CR LF or CR) that holds `needle`; "" when none.
std::string lineWith(const std::string& text, const std::string& needle)
{
    const std::size_t at = text.find(needle);
    if (at == std::string::npos)
        return {};
    const std::size_t begin = text.find_last_of("\r\n", at);
    const std::size_t end = text.find_first_of("\r\n", at);
    const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

TEST_F(ProgramInUse, AMultiLineRefusalOfAnOrderMailIsOneStampedLineEverywhere)
{
    // The server refuses the recipient with a reply of three lines: the run log, the day log
    // and zs-extract's output each hold it as one line, every word of it, behind the stamp.
    mail::test::SmtpPeer peer({.auth = "",
                               .rejectRcpt = "550-5.1.1 <rossi@example.it>: Recipient address rejected\r\n"
                                             "550-5.1.1 User unknown in virtual mailbox table\r\n"
                                             "550 5.1.1 Please check the address"});
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());
    const std::string words[] = {"Errore nell'invio email ai seguenti destinatari rossi@example.it-",
                                 "550-5.1.1 <rossi@example.it>: Recipient address rejected",
                                 "550-5.1.1 User unknown in virtual mailbox table",
                                 "550 5.1.1 Please check the address"};
    auto expectOneLine = [&](const std::string& text, const std::string& where) {
        SCOPED_TRACE(where);
        const std::string line = lineWith(text, words[0]);
        ASSERT_FALSE(line.empty()) << text;
        for (const std::string& w : words)
            EXPECT_NE(line.find(w), std::string::npos) << w << "\nin: " << line;
    };

    const auto r = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    expectOneLine(r.output, "zs-extract's output");
    std::string dayLog = dayLogText(home);
    expectOneLine(dayLog, "the day log of zs-extract's run");
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;

    // The program's own run: its line in the run window is the same one line.
    const std::string tree = programRunWindowText(home);
    expectOneLine(tree, "the run window");
    dayLog = dayLogText(home);
    expectOneLine(dayLog, "the day log of the program's run");
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;
}

TEST_F(ProgramInUse, ControlBytesInAServersReplyReachNeitherTheDayLogNorTheTerminal)
{
    using Kind = mail::test::HostileSmtpPeer::Kind;
    mail::test::HostileSmtpPeer peer(Kind::ControlBytesRefusal);
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    const std::string dayLog = dayLogText(home);
    for (const auto& [where, text] : {std::pair{"zs-extract's output", r.output}, std::pair{"the day log", dayLog}}) {
        SCOPED_TRACE(where);
        for (const char c : {'\0', '\x1b', '\x07'})
            EXPECT_EQ(text.find(c), std::string::npos) << "byte " << int(c);
        // The reply is all there, its control bytes shown.
        EXPECT_NE(text.find("550 5.1.1 \\x1b[2J\\x1b]0;titolo\\x07utente\\x00 sconosciuto\\x1b[31m\\x07"),
                  std::string::npos)
            << text;
    }
    for (const char c : {'\0', '\x1b', '\x07'})
        EXPECT_EQ(r.error.find(c), std::string::npos) << "byte " << int(c) << " on zs-extract's error output";
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;
}

TEST_F(ProgramInUse, AServersWindows1252ReplyIsReadableInTheDayLogTheWindowAndTheOutput)
{
    // The reply is in the code page: its punctuation reads as such in zs-extract's output and the
    // run window (UTF-8) and comes back as the same bytes in the day log (Windows-1252); 0x9B is
    // the code page's angle quote, never a terminal's CSI, and the unassigned 0x81 is shown.
    using Kind = mail::test::HostileSmtpPeer::Kind;
    mail::test::HostileSmtpPeer peer(Kind::CodePageRefusal);
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());
    const std::string utf8 = "550 5.1.1 \u20acuro \u201c"
                             "citazione\u201d \u2026 \u203a[31m \\x81 fine";
    const std::string cp1252 = "550 5.1.1 \x80uro \x93"
                               "citazione\x94 \x85 \x9b[31m \\x81 fine";
    auto expectNoRawByte = [](const std::string& text) {
        for (const char c : {'\x81', '\x9b'})
            EXPECT_EQ(text.find(c), std::string::npos) << "byte " << (int(c) & 0xff) << " raw in: " << text;
    };

    const auto r = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find(utf8), std::string::npos) << r.output;
    expectNoRawByte(r.output);
    std::string dayLog = dayLogText(home);
    EXPECT_NE(dayLog.find(cp1252), std::string::npos) << dayLog;

    // The program's own run: the same reply in the run window and its day log.
    const std::string tree = programRunWindowText(home);
    EXPECT_NE(tree.find(utf8), std::string::npos) << tree;
    expectNoRawByte(tree);
    dayLog = dayLogText(home);
    EXPECT_NE(dayLog.find(cp1252), std::string::npos) << dayLog;
}

// --- Statement time-outs and stops ------------------------------------------------------------

TEST_F(ProgramInUse, ZsExtractBoundsEachStatementByTheSettingsTimeout)
{
    std::string settings = test::readFile(home / "zentrikServer.xml");
    settings.replace(settings.find("<timeout>60</timeout>"), 21, "<timeout>2</timeout>");
    test::writeFile(home / "zentrikServer.xml", settings);
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><CONTA><esegui>si</esegui>"
                    "<operazione>Conteggio senza fine</operazione><query>create table if not exists CONTA as with "
                    "recursive c(x) as (select 1 union all select x + 1 from c) select count(*) as n from c</query>"
                    "</CONTA></Estrattore>\n");
    QElapsedTimer t;
    t.start();
    const auto r = runExtract(home);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(t.elapsed(), 20000) << r.output;
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Timeout expired"), std::string::npos) << r.output;
}

TEST_F(ProgramInUse, AStopDuringSincroniaLeavesTheTwinAsItWasAndSaysSoOnce)
{
    {
        db::Connection c;
        ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        // A source without end: however fast the machine, the stop lands while the twin is filled.
        ASSERT_TRUE(c.execute("CREATE VIEW GRANDE AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
                              "SELECT x AS id, 'riga ' || x AS testo FROM n"));
        ASSERT_TRUE(c.execute("CREATE TABLE SQLServer_GRANDE (id INTEGER, testo TEXT)"));
        ASSERT_TRUE(c.execute("INSERT INTO SQLServer_GRANDE VALUES (1, 'prima'), (2, 'prima'), (3, 'prima')"));
    }
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><SINCRONIA><esegui>si</esegui>"
                    "<operazione>Sincronia grande</operazione><query>GRANDE</query></SINCRONIA></Estrattore>\n");
    const auto twinRows = [&] {
        db::Connection c;
        EXPECT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        return rowsOf(c, "SELECT count(*), min(testo) FROM SQLServer_GRANDE");
    };

    // The stop lands while the twin is being filled.
    process::ChildProcess run;
    const fs::path output = env.root() / "sincronia.txt";
    process::ChildOptions o;
    o.outputFile = output.string();
    ASSERT_TRUE(run.start({ZS_EXTRACT_PATH, home.string()}, o));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30000 && run.running() && dayLogText(home).find("Sincronia grande") == std::string::npos)
        QThread::msleep(10);
    QThread::msleep(300);
    ASSERT_TRUE(run.running()) << test::readFile(output);
    ASSERT_EQ(::kill(run.pid(), SIGINT), 0);
    EXPECT_EQ(run.waitFor(60000), std::optional<int>(1));
    const std::string out = test::readFile(output);
    EXPECT_NE(out.find("Processo di estrazione interrotto dall'utente sul job: BEGIN; DELETE FROM SQLServer_GRANDE; "
                       "INSERT INTO SQLServer_GRANDE SELECT * FROM GRANDE; COMMIT"),
              std::string::npos)
        << out;
    EXPECT_EQ(occurrences(out, "ERRORE  Tabella SQLServer_GRANDE non sincronizzata: conserva le righe che aveva "
                               "prima.\n"),
              1u)
        << out;
    EXPECT_NE(out.find("Estrazione interrotta dall'utente."), std::string::npos) << out;
    // Every error line once.
    std::map<std::string, int> errorLines;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("ERRORE  ") != std::string::npos) {
            EXPECT_EQ(++errorLines[line], 1) << line << "\n" << out;
        }
    EXPECT_EQ(twinRows(), std::vector<std::string>{"3|prima"});

    // The next run, from a source that ends, fills the twin.
    {
        db::Connection c;
        ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        ASSERT_TRUE(c.execute("DROP VIEW GRANDE"));
        ASSERT_TRUE(c.execute("CREATE TABLE GRANDE AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                              "WHERE x < 3000000) SELECT x AS id, 'riga ' || x AS testo FROM n"));
    }
    const auto next = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_EQ(twinRows(), std::vector<std::string>{"3000000|riga 1"});
}

} // namespace
} // namespace zs::shell
