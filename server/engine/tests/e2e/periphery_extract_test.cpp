// Failures of whole runs through the zs-extract driver on SQLite files: a compaction of a file
// another connection holds, statistics that cannot be saved, and errors that no wait can mend;
// none of them may end in a success line.

#include "ExtractDriver.h"
#include "db/Connection.h"
#include "process/Process.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct Folder {
    Folder()
    {
        home = env.home();
        fs::create_directories(home);
        target = home / "vendite.mdb";
        zs::test::writeFile(target, "");
        db::Connection t;
        EXPECT_TRUE(t.open(accessCs(target)));
        EXPECT_TRUE(t.execute("create table T (x text)"));
        EXPECT_TRUE(t.execute("insert into T values ('a'), ('b')"));
        writeAccessSettings(home, target);
    }
    void steps(const std::string& xml)
    {
        zs::test::writeFile(home / "zentrikLoading.xml", "<?xml version=\"1.0\"?><Estrattore>" + xml + "</Estrattore>");
    }
    process::RunResult run() { return runExtract(home); }
    std::string dayLog() const
    {
        std::string all;
        for (const auto& e : fs::directory_iterator(home / "log"))
            all += zs::test::readFile(e.path());
        return all;
    }
    zs::test::ScopedTestEnv env;
    fs::path home, target;
};

TEST(PeripheryExtraction, ACompactionOfAHeldFileFailsItsStepAndTheRun)
{
    Folder f;
    f.steps("<COMPATTA><esegui>si</esegui><operazione>Compattazione</operazione></COMPATTA>"
            "<T><esegui>si</esegui><operazione>Dopo</operazione><query>insert into T values ('c')</query></T>");
    db::Connection holder; // another user reading the database keeps it from being rebuilt
    ASSERT_TRUE(holder.open(accessCs(f.target)));
    ASSERT_TRUE(holder.execute("begin"));
    ASSERT_TRUE(holder.query("select count(*) from T"));
    const auto result = f.run();
    EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
    const std::string failure = "Compattazione del database " + f.target.string() + " non riuscita: ";
    EXPECT_EQ(count(result.output, "ERRORE  " + failure), 1u) << result.output;
    EXPECT_EQ(count(result.output, "eseguito con successo"), 0u) << result.output;
    EXPECT_EQ(count(result.output, "Dopo"), 0u) << result.output; // the run ended with the failed step
    EXPECT_NE(result.output.find("ERRORE  Estrazione terminata con errori."), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("terminata con successo"), std::string::npos) << result.output;
    const std::string log = f.dayLog();
    EXPECT_EQ(count(log, failure), 1u) << log; // logged once
    EXPECT_EQ(count(log, "eseguito con successo"), 0u) << log;
    (void)holder.execute("rollback");
    holder.close();
    db::Connection t;
    ASSERT_TRUE(t.open(accessCs(f.target)));
    auto rs = t.query("select count(*) from T");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), "2");
}

TEST(PeripheryExtraction, StatisticsThatCannotBeSavedFailTheRun)
{
    Folder f;
    f.steps("<T><esegui>si</esegui><operazione>Copia</operazione><query>insert into T values ('c')</query></T>");
    zs::test::writeFile(f.home / "stat.xml", "<stat><Copia"); // unreadable: never overwritten
    const auto result = f.run();
    EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
    EXPECT_NE(result.output.find("ERRORE  Impossibile salvare le statistiche"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("ERRORE  Estrazione terminata con errori."), std::string::npos) << result.output;
    EXPECT_EQ(zs::test::readFile(f.home / "stat.xml"), "<stat><Copia");
}

TEST(PeripheryExtraction, ErrorsThatNoWaitMendsAreNotRetried)
{
    // A retry would wait a minute twice on the real clock: the run must end long before.
    Folder f;
    f.steps("<T><esegui>si</esegui><operazione>Copia</operazione><query>vacuum into '" +
            (f.home / "manca" / "copia.db").string() + "'</query></T>");
    const auto start = std::chrono::steady_clock::now();
    const auto result = f.run();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
    EXPECT_EQ(count(result.output, "Errore in fase di esecuzione query"), 1u) << result.output;
    EXPECT_EQ(count(result.output, "Tentativo"), 0u) << result.output;
    EXPECT_NE(result.output.find("unable to open database"), std::string::npos) << result.output;
}

} // namespace
} // namespace zs::engine::test
