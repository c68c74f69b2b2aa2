// Logs, databases and lock files that are not regular files (a FIFO, a link, a folder): zs-extract
// and the program's window name them and end or go on as they should.

#include "ProgramUseSupport.h"

#include "db/Connection.h"
#include "testsupport/HostileXml.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace zs::shell {
namespace {

// --- Logs, databases and lock files that are not regular files ------------------------------

/// The demo's loading XML with an XML import step before the cubes, whose one file is
/// malformed: the run writes a line to the import's error log.
void addRejectedImport(const fs::path& folder)
{
    fs::create_directories(folder / "in");
    test::writeFile(folder / "in/rotto.xml", "<ROOT><Cliente Codice='C9'>");
    test::writeFile(folder / "clienti.xsd",
                    "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
                    "<xsd:element name='Cliente' sql:relation='CLIENTI'><xsd:complexType>"
                    "<xsd:attribute name='Codice' sql:field='codice' type='xsd:string'/>"
                    "</xsd:complexType></xsd:element></xsd:schema>");
    std::string loading = test::readFile(folder / "zentrikLoading.xml");
    loading.insert(loading.find("  <ELABORACUBI>"),
                   "  <IMPORTXML><esegui>si</esegui><operazione>Importazione clienti</operazione><path>" +
                       (folder / "in").string() + "</path><schema>" + (folder / "clienti.xsd").string() +
                       "</schema></IMPORTXML>\n");
    test::writeFile(folder / "zentrikLoading.xml", loading);
}

/// What stands at a log's name instead of the file.
struct SpecialFile {
    const char* kind;
    const char* says;
};
const SpecialFile kSpecialFiles[] = {{"fifo", "è una pipe, non un file"},
                                     {"link", "è un collegamento, non un file"},
                                     {"folder", "è una cartella, non un file"}};

/// Puts `special` at `at`; a link points to `outside`, a file of someone else's.
void plant(const fs::path& at, const SpecialFile& special, const fs::path& outside)
{
    fs::create_directories(at.parent_path());
    const std::string kind = special.kind;
    if (kind == "link") {
        fs::create_symlink(outside, at);
        return;
    }
    const std::string planted = kind == "fifo" ? "fifo" : "directory";
    test::plantNonRegular(planted, at);
    ASSERT_EQ(test::describeEntry(at), planted);
}

/// Today's day log of `folder` and the import's error log beside it.
fs::path todaysLog(const fs::path& folder, bool importErrors)
{
    const fs::path day = program::DayLog(folder, time::systemClock()).currentFile();
    return importErrors ? day.parent_path() / (day.stem().string() + "x.log") : day;
}

TEST_F(ProgramInUse, ZsExtractEndsWithTheLogsErrorWhenALogIsNoFile)
{
    const fs::path outside = env.root() / "altrui.log";
    for (const bool importErrors : {false, true}) {
        for (const SpecialFile& special : kSpecialFiles) {
            SCOPED_TRACE(std::string(importErrors ? "x.log " : "day log ") + special.kind);
            test::writeFile(outside, "righe di un altro programma\n");
            const fs::path folder = env.root() / ("caso-" + std::string(special.kind) + (importErrors ? "x" : ""));
            fs::copy(ZS_DEMO_DIR, folder, fs::copy_options::recursive);
            addRejectedImport(folder);
            const fs::path log = todaysLog(folder, importErrors);
            ASSERT_NO_FATAL_FAILURE(plant(log, special, outside));

            QElapsedTimer t;
            t.start();
            const auto r = runExtract(folder, std::chrono::seconds(30));
            EXPECT_LT(t.elapsed(), 5000);
            EXPECT_FALSE(r.timedOut);
            // The import's rejected file fails the run; every other step ran.
            EXPECT_EQ(r.exitCode, 1) << r.output;
            EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;
            const std::string error = "Impossibile aprire il file " + log.string() + ": " + special.says;
            EXPECT_EQ(occurrences(r.output, error), 1u) << r.output;
            EXPECT_EQ(occurrences(r.output, importErrors ? "Log degli errori di importazione non aggiornato: "
                                                         : "log giornaliero non aggiornato: "),
                      1u)
                << r.output;
            EXPECT_EQ(test::readFile(outside), "righe di un altro programma\n");
            // The other log is written as ever.
            const std::string other = test::readFile(todaysLog(folder, !importErrors));
            EXPECT_NE(other.find(importErrors ? "Estrazione terminata con errori." : "rotto.xml: XML non valido"),
                      std::string::npos)
                << other;
        }
    }
}

TEST_F(ProgramInUse, TheWindowStaysLiveThroughARunWhoseLogIsNoFileAndSaysItOnce)
{
    addSetting(home, "<pause>200</pause>"); // the run lasts long enough for the clock to tick
    addRejectedImport(home);
    const fs::path outside = env.root() / "altrui.log";
    for (const bool importErrors : {false, true}) {
        for (const SpecialFile& special : kSpecialFiles) {
            SCOPED_TRACE(std::string(importErrors ? "x.log " : "day log ") + special.kind);
            test::writeFile(outside, "righe di un altro programma\n");
            const fs::path log = todaysLog(home, importErrors);
            fs::remove_all(home / "log");
            ASSERT_NO_FATAL_FAILURE(plant(log, special, outside));
            create();
            ASSERT_TRUE(app->load());
            int ticks = 0;
            QTimer clock;
            QObject::connect(&clock, &QTimer::timeout, [&ticks] { ++ticks; });
            clock.start(20);
            QElapsedTimer t;
            t.start();
            clickRun();
            const qint64 ms = t.elapsed();
            clock.stop();
            EXPECT_LT(ms, 15000);
            // The timer went on all through the run: the window never froze.
            EXPECT_GE(ticks, static_cast<int>(ms / 20 / 3)) << ticks << " ticks in " << ms << " ms";
            EXPECT_NE(topLine("Elaborazione eseguita con errori"), nullptr) << ::testing::PrintToString(lines());
            const std::string error = "Impossibile aprire il file " + log.string() + ": " + special.says;
            int said = 0;
            for (const auto& l : lines())
                said += l.find(error) != std::string::npos ? 1 : 0;
            EXPECT_EQ(said, 1) << ::testing::PrintToString(lines());
            EXPECT_EQ(countLines(importErrors ? "  Log degli errori di importazione non aggiornato: "
                                              : "Log giornaliero non aggiornato: "),
                      1)
                << ::testing::PrintToString(lines());
            EXPECT_EQ(test::readFile(outside), "righe di un altro programma\n");
            app.reset();
        }
    }
}

TEST_F(ProgramInUse, ZsExtractRefusesAFifoAtAnAttachedDatabaseNamingIt)
{
    // The demo's settings bound each statement to 60 s.
    fs::remove(home / "erp.db");
    ASSERT_EQ(::mkfifo((home / "erp.db").c_str(), 0600), 0);
    QElapsedTimer t;
    t.start();
    auto r = runExtract(home, std::chrono::seconds(60 + 30));
    EXPECT_LT(t.elapsed(), (60 + 10) * 1000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("'" + (home / "erp.db").string() + "' is a FIFO, not a database file"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;

    // With the database back, the next run loads it.
    fs::remove(home / "erp.db");
    fs::copy_file(fs::path(ZS_DEMO_DIR) / "erp.db", home / "erp.db");
    r = runExtract(home, std::chrono::seconds(60 + 30));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    db::Connection c;
    ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
    EXPECT_EQ(rowsOf(c, "SELECT count(*) FROM VENDITE"), std::vector<std::string>{"6"});
}

} // namespace
} // namespace zs::shell
