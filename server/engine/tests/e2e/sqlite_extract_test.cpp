// A whole extraction on SQLite files ("access" server type) through the zs-extract driver: an
// ERP source and a target database, a step that empties a table, resets its counter and
// reads the source after ATTACH, the calendar for two years, an incremental step run twice in
// one process, and a failing last step; then the target's rows, stat.xml and the day log.

#include "ExtractDriver.h"
#include "StatFile.h"
#include "StepsTestSupport.h"
#include "db/Connection.h"
#include "fs/AtomicFile.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <csignal>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

struct ProgramFolder {
    ProgramFolder()
    {
        home = env.home();
        fs::create_directories(home);
        erp = home / "erp.db";
        target = home / "target.db";
        zs::test::writeFile(erp, "");
        zs::test::writeFile(target, "");
        db::Connection e;
        EXPECT_TRUE(e.open(accessCs(erp)));
        exec(e, "create table CLIENTI (id integer, nome text)");
        exec(e, "insert into CLIENTI values (10, 'Rossi'), (11, 'Bianchi'), (12, 'Verdi')");
        exec(e, "create table FORNITORI (id integer, nome text)");
        exec(e, "insert into FORNITORI values (20, 'Acme'), (21, 'Ferro Srl')");
        exec(e, "create table ORDINI (id integer, importo real)");
        exec(e, "insert into ORDINI values (1, 10.5), (2, 20), (3, 30)");
        db::Connection t;
        EXPECT_TRUE(t.open(accessCs(target)));
        exec(t, "create table CLIENTI (ID integer primary key autoincrement, codice integer, nome text)");
        exec(t, "insert into CLIENTI (codice, nome) values (99, 'vecchio'), (98, 'vecchio')");
        exec(t, "create table [TIME] (Data datetime, giorno text, mese text, anno integer, GiornodelMese text, "
                "SettimanadellAnno text, mesedellanno text, Trimestre integer, DataVevira text)");
        exec(t, "create table ORDINI (id integer, importo real)");

        const std::string attach = "<query>ATTACH DATABASE '" + erp.string() + "' AS erp</query>";
        zs::test::writeFile(
            home / "zentrikLoading.xml",
            "<?xml version=\"1.0\"?><Estrattore>"
            "<CLIENTI><esegui>si</esegui><operazione>Anagrafica clienti</operazione><svuota>si</svuota>"
            "<contatore>ID</contatore><azzeracontatore>si</azzeracontatore>" +
                attach +
                "<query>insert into CLIENTI (codice, nome) select id, nome from erp.CLIENTI</query>"
                "<query>insert into CLIENTI (codice, nome) select id, nome from erp.FORNITORI</query></CLIENTI>"
                "<TIME><esegui>si</esegui><operazione>Calendario</operazione><svuota>si</svuota><query>2004,2005</"
                "query></TIME>"
                "<ORDINI><esegui>si</esegui><operazione>Ordini</operazione>"
                "<incrementale attivo=\"si\" datatype=\"numerico\" autoupdate=\"si\" "
                "riempi=\"ORDINI.id\">0</incrementale>" +
                attach +
                "<query>insert into ORDINI select id, importo from erp.ORDINI where id &gt; [incrementale]</query>"
                "</ORDINI>"
                "<NUOVI><esegui>si</esegui><operazione>Nuovi ordini</operazione>" +
                attach +
                "<query>insert into erp.ORDINI select (select max(id) from erp.ORDINI) + id, importo from erp.ORDINI "
                "where id &lt;= 2</query></NUOVI>"
                "<NONESEGUITO><esegui>no</esegui><operazione>Non eseguito</operazione><query>delete from "
                "CLIENTI</query>"
                "</NONESEGUITO>"
                "<ULTIMO><esegui>si</esegui><operazione>Passo che fallisce</operazione>"
                "<query>insert into TABELLA_INESISTENTE select 1</query></ULTIMO>"
                "</Estrattore>");
        writeAccessSettings(home, target);
    }
    zs::test::ScopedTestEnv env;
    fs::path home, erp, target;
};

std::optional<std::string> dayLog(const fs::path& home)
{
    for (const auto& e : fs::directory_iterator(home / "log"))
        if (e.path().extension() == ".log")
            return zs::test::readFile(e.path());
    return std::nullopt;
}

TEST(SqliteExtraction, WholeRunThroughTheDriver)
{
    ProgramFolder pf;
    const auto result = runExtract(pf.home, {"--runs", "2"});
    ASSERT_EQ(result.exitCode, 1) << result.output << result.error;

    db::Connection t;
    ASSERT_TRUE(t.open(accessCs(pf.target)));
    // Emptied, counter reset, both sources read (the second run did it all again).
    EXPECT_EQ(scalar(t, "select count(*) || ':' || min(ID) || ':' || max(ID) || ':' || sum(codice) from CLIENTI"),
              "5:1:5:74");
    EXPECT_EQ(scalar(t, "select count(*) from [TIME]"), "731");
    EXPECT_EQ(scalar(t,
                     "select giorno || '|' || mese || '|' || anno || '|' || GiornodelMese || '|' || SettimanadellAnno "
                     "|| '|' || mesedellanno || '|' || Trimestre || '|' || DataVevira from [TIME] "
                     "where DataVevira = '00074876'"),
              "Sabato|Gennaio|2005|01|53|01|1|00074876");
    EXPECT_EQ(scalar(t, "select substr(Data, 1, 10) from [TIME] where DataVevira = '00074876'"), "2005-01-01");
    EXPECT_EQ(scalar(t, "select count(*) from [TIME] where anno = 2004"), "366");
    // The second run loaded only the orders added after the first.
    EXPECT_EQ(scalar(t, "select group_concat(id, ',') from (select id from ORDINI order by id)"), "1,2,3,4,5");

    auto stat = xml::Document::loadFile(pf.home / "stat.xml");
    ASSERT_TRUE(stat);
    for (const char* label : {"Anagrafica clienti", "Ordini", "Nuovi ordini", "Passo che fallisce"}) {
        SCOPED_TRACE(label);
        EXPECT_EQ(statEntry(*stat, label, "times"), "2");
        EXPECT_NE(statEntry(*stat, label, "avarage"), "<none>");
        EXPECT_NE(statEntry(*stat, label, "lasttime"), "<none>");
    }
    EXPECT_EQ(statEntry(*stat, "Calendario", "times"), "<none>"); // a special step is not timed
    EXPECT_EQ(statEntry(*stat, "Non eseguito", "times"), "<none>");

    const auto log = dayLog(pf.home);
    ASSERT_TRUE(log);
    for (const char* line :
         {" :Anagrafica clienti\r\n", " :Calendario\r\n", " :delete * from CLIENTI\r\n", " :eseguito con successo in ",
          " :ERRORE   Errore in fase di esecuzione query :insert into "
          "TABELLA_INESISTENTE select 1\r\n",
          " :Aggiornamento statistiche di estrazione\r\n", " :Apertura connessione:"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(log->find(line), std::string::npos) << *log;
    }
    EXPECT_EQ(log->find("Non eseguito"), std::string::npos);
    // Each run opens with its start line and ends with its total time, as the program's do.
    const auto count = [&](const std::string& text) {
        int n = 0;
        for (auto at = log->find(text); at != std::string::npos; at = log->find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(" :Inizio estrazione dati ("), 2) << *log;
    EXPECT_EQ(count(" :Tempo impiegato: "), 2) << *log;
    EXPECT_LT(log->find(" :Inizio estrazione dati ("), log->find(" :Anagrafica clienti\r\n"));
    EXPECT_GT(log->rfind(" :Tempo impiegato: "), log->rfind("Estrazione terminata con errori."));
}

TEST(SqliteExtraction, StepErrorsLogTheirReason)
{
    struct Case {
        const char* name;
        const char* step;
        std::vector<const char*> lines; ///< in the day log, in this order
    };
    const Case cases[] = {
        {"a year list with an empty item",
         "<TIME><esegui>si</esegui><operazione>Calendario</operazione><query>2005,,2006</query></TIME>",
         {" :ERRORE  Errore in fase di esecuzione query sulla tabella TIME\r\n",
          " :ERRORE  Errore indefinito: 13 - Type mismatch\r\n"}},
        {"a counter reset on a column that holds no counter",
         "<CLIENTI><esegui>si</esegui><operazione>Clienti</operazione><svuota>si</svuota><contatore>nome</contatore>"
         "<azzeracontatore>si</azzeracontatore><query>select 1</query></CLIENTI>",
         {" :ERRORE  Errore in fase di azzeramento contatore della tabellaCLIENTI\r\n",
          "the column nome of table CLIENTI is not a counter"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        const fs::path home = env.home();
        fs::create_directories(home);
        const fs::path target = home / "target.db";
        zs::test::writeFile(target, "");
        {
            db::Connection t;
            ASSERT_TRUE(t.open(accessCs(target)));
            exec(t, "create table CLIENTI (ID integer primary key autoincrement, codice integer, nome text)");
            exec(t, "insert into CLIENTI (codice, nome) values (1, 'a'), (2, 'b')");
            exec(t, "create table [TIME] (Data datetime, giorno text, mese text, anno integer, GiornodelMese text, "
                    "SettimanadellAnno text, mesedellanno text, Trimestre integer, DataVevira text)");
        }
        zs::test::writeFile(home / "zentrikLoading.xml",
                            std::string("<?xml version=\"1.0\"?><Estrattore>") + c.step + "</Estrattore>");
        writeAccessSettings(home, target);
        const auto result = runExtract(home);
        EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
        const auto log = dayLog(home);
        ASSERT_TRUE(log);
        std::size_t at = 0;
        for (const char* line : c.lines) {
            SCOPED_TRACE(line);
            at = log->find(line, at);
            ASSERT_NE(at, std::string::npos) << *log;
        }
        db::Connection t;
        ASSERT_TRUE(t.open(accessCs(target)));
        // A refused reset leaves the counter where it was: the next row still gets 3.
        exec(t, "insert into CLIENTI (codice, nome) values (3, 'c')");
        EXPECT_EQ(scalar(t, "select max(ID) from CLIENTI"), "3");
    }
}

TEST(SqliteExtraction, ACubeSnapshotThatCannotBeWrittenEndsTheRunWithErrors)
{
    // The demo, with a folder where the cube snapshot goes: nobody answers the box in a cron run.
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home() / "demo";
    fs::create_directories(home.parent_path());
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    fs::create_directory(home / "zentrikOlap.xml");
    const auto result = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
    EXPECT_NE(result.output.find("Sto elaborando il cubo VenditePerCliente"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("Estrazione terminata con errori."), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Estrazione terminata con successo."), std::string::npos) << result.output;
    const auto log = dayLog(home);
    ASSERT_TRUE(log);
    // The snapshot's failure is a line of its own, not one of the last cube nor of the database.
    EXPECT_NE(log->find(" :ERRORE  zentrikOlap.xml non scritto: "), std::string::npos) << *log;
    EXPECT_NE(result.output.find("\nERRORE  zentrikOlap.xml non scritto: "), std::string::npos) << result.output;
    EXPECT_EQ(log->find("Errore nel processamento del cubo"), std::string::npos) << *log;
    EXPECT_NE(log->find("Estrazione terminata con errori."), std::string::npos) << *log;
    EXPECT_TRUE(fs::is_directory(home / "zentrikOlap.xml"));
}

TEST(SqliteExtraction, BadInputExitsWithTwo)
{
    zs::test::ScopedTestEnv env;
    fs::create_directories(env.home());
    EXPECT_EQ(runExtract(env.home() / "missing").exitCode, 2);
    EXPECT_EQ(runExtract(env.home()).exitCode, 2);
    zs::test::writeFile(
        env.home() / "zentrikServer.xml",
        "<zentrikServer><SERVERTYPE>access</SERVERTYPE><LOADINGFILE>none.xml</LOADINGFILE></zentrikServer>");
    EXPECT_EQ(runExtract(env.home()).exitCode, 2);
}

/// The temporary files of saves in `folder`.
std::vector<std::string> temporaries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (zs::fs::temporaryOwner(e.path().filename().string()))
            names.push_back(e.path().filename().string());
    return names;
}

TEST(SqliteExtraction, SavesKilledMidWayLeaveNoTemporaryAfterTheNextRun)
{
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    // Many runs in one process: the statistics, the settings and the cube file are saved over
    // and over, so the kills land in the middle of saves.
    std::vector<pid_t> killed;
    for (int k = 0; k < 10; ++k) {
        const std::string folder = home.string();
        char* const argv[] = {const_cast<char*>(ZS_EXTRACT_PATH), const_cast<char*>(folder.c_str()),
                              const_cast<char*>("--runs"),        const_cast<char*>("1000"),
                              const_cast<char*>("--quiet"),       nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, ZS_EXTRACT_PATH, nullptr, nullptr, argv, environ), 0);
        ::usleep(static_cast<useconds_t>(300000 + 70000 * k));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the run ended before the kill";
        killed.push_back(pid);
    }
    // Whatever the kills happened to leave, a save's temporary of a killed process is there.
    const std::string planted = ".stat.xml.zstmp-" + std::to_string(killed.back()) + "-0123456789abcdef";
    zs::test::writeFile(home / planted, "<partial");
    const std::string someoneElses = ".stat.xml.zstmp-" + std::to_string(::getpid()) + "-0123456789abcdef";
    zs::test::writeFile(home / someoneElses, "<in corso");
    ASSERT_GE(temporaries(home).size(), 2u);

    const auto clean = runExtract(home, {"--quiet"}, std::chrono::seconds(120));
    EXPECT_EQ(clean.exitCode, 0) << clean.output << clean.error;
    // Only the temporary of a process still running stays.
    EXPECT_EQ(temporaries(home), (std::vector<std::string>{someoneElses}));
}

} // namespace
} // namespace zs::engine::test
