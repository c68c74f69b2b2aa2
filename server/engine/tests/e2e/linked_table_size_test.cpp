// A linked table of two million rows read by a job: the rows come a batch at a time, so the
// process's peak memory stays that of a ten-row copy, the copy holds every remote row, and a
// stop lands within a batch and rolls the copy back. On the PostgreSQL test server through
// ODBC and on a SQLite file.

#include "DirectRun.h"
#include "ExtractDriver.h"
#include "StepsTestSupport.h"
#include "db/Connection.h"
#include "dblink/LinkModule.h"
#include "engine/DbEngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/RunState.h"
#include "engine/TableOperations.h"
#include "pgtest/PgServer.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr long kLargeRows = 2'000'000;
constexpr long kSmallRows = 10;
// What the large copy may cost beyond the small one.
constexpr long kMaxExtraKb = 64 * 1024;

/// A program folder whose target holds COPIA and the link COPIA is filled from by one job.
struct CopyFolder {
    CopyFolder(const std::string& name, const std::string& source, const std::string& remoteTable)
    {
        dblink::registerLinkModule();
        home = env.home() / name;
        fs::create_directories(home);
        target = home / "target.db";
        zs::test::writeFile(target, "");
        sqliteRun(target, {"create table COPIA (id integer, nome text)",
                           dblink::createLinkSql("ORIGINE_LINK", source, remoteTable)});
        writeAccessSettings(home, target);
        zs::test::writeFile(home / "zentrikLoading.xml",
                            "<?xml version=\"1.0\"?><Estrattore><COPIA><esegui>si</esegui>"
                            "<operazione>Copia collegata</operazione><svuota>si</svuota>"
                            "<query>insert into COPIA select id, nome from ORIGINE_LINK</query></COPIA>"
                            "</Estrattore>");
    }
    zs::test::ScopedTestEnv env;
    fs::path home, target;
};

std::string scalarOf(const fs::path& file, const std::string& sql)
{
    db::Connection c;
    if (!c.open(sqliteCs(file)))
        return "<cannot open>";
    return scalar(c, sql);
}

std::string pgTable(const char* what)
{
    return std::string(what) + "_" + std::to_string(::getpid());
}

/// A remote table of `rows` rows (id, nome, prezzo) on the test server, built there.
void buildPgTable(const std::string& table, long rows)
{
    ASSERT_TRUE(pgtest::Server::shared().psql(
        "drop table if exists " + table + "; create table " + table +
        " as select i as id, 'nome ' || i as nome, i * 0.5 as prezzo from generate_series(1, " + std::to_string(rows) +
        ") i"));
}

/// The same as a SQLite file.
void buildSqliteTable(const fs::path& file, long rows)
{
    zs::test::writeFile(file, "");
    sqliteRun(file, {"create table ORIGINE (id integer, nome text, prezzo real)",
                     "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                         std::to_string(rows) + ") insert into ORIGINE select i, 'nome ' || i, i * 0.5 from n"});
}

TEST(LinkedTableSize, ALargeCopyCostsNoMoreMemoryThanASmallOne)
{
    ZS_REQUIRE_PG();
    pgtest::usePrivateOdbcIni();
    zs::test::ScopedTestEnv env;
    const std::string small = pgTable("piccola"), large = pgTable("grande");
    struct Case {
        std::string name;
        std::string smallSource, largeSource, smallTable, largeTable;
    };
    buildPgTable(small, kSmallRows);
    buildPgTable(large, kLargeRows);
    buildSqliteTable(env.root() / "piccola.db", kSmallRows);
    buildSqliteTable(env.root() / "grande.db", kLargeRows);
    const std::string pg = "ODBC;" + pgtest::Server::shared().odbcConnectionString();
    const Case cases[] = {
        {"PostgreSQL", pg, pg, small, large},
        {"SQLite", ";DATABASE=" + (env.root() / "piccola.db").string(),
         ";DATABASE=" + (env.root() / "grande.db").string(), "ORIGINE", "ORIGINE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFolder smallCopy("piccola", c.smallSource, c.smallTable);
        const MeasuredRun base = extractMeasured(smallCopy.home);
        ASSERT_EQ(base.exitCode, 0) << base.output;
        EXPECT_EQ(scalarOf(smallCopy.target, "select count(*) || ':' || sum(id) from COPIA"), "10:55");

        CopyFolder largeCopy("grande", c.largeSource, c.largeTable);
        const auto start = Steady::now();
        const MeasuredRun run = extractMeasured(largeCopy.home);
        const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
        ASSERT_EQ(run.exitCode, 0) << run.output;
        // Every remote row, once: count and sum of the ids (1 + … + 2,000,000).
        EXPECT_EQ(scalarOf(largeCopy.target, "select count(*) || ':' || sum(id) from COPIA"), "2000000:2000001000000");
        EXPECT_EQ(scalarOf(largeCopy.target, "select count(*) from COPIA where nome = 'nome ' || id"), "2000000");
        std::printf("[ %s ] peak memory: %ld KB for %ld rows, %ld KB for %ld rows (+%ld KB); copy %.1f s\n",
                    c.name.c_str(), run.peakKb, kLargeRows, base.peakKb, kSmallRows, run.peakKb - base.peakKb, seconds);
        if (!kSanitized) {
            EXPECT_LE(run.peakKb - base.peakKb, kMaxExtraKb);
        }
    }
    pgtest::Server::shared().psql("drop table " + small + "; drop table " + large);
}

/// The engine's job executor over a SQLite target holding the link, in this process: the
/// yield presses stop a second into the job.
struct StopRun : test::DirectRun {
    explicit StopRun(const fs::path& target)
        : DirectRun(sqliteCs(target), "access")
    {}
};

TEST(LinkedTableSize, StopDuringALargeCopyEndsItAtOnceAndRollsItBack)
{
    ZS_REQUIRE_PG();
    pgtest::usePrivateOdbcIni();
    dblink::registerLinkModule();
    zs::test::ScopedTestEnv env;
    const std::string large = pgTable("grande");
    buildPgTable(large, kLargeRows);
    buildSqliteTable(env.root() / "grande.db", kLargeRows);
    struct Case {
        std::string source, remoteTable;
        std::string copied; ///< what the job copies from the link
    };
    // A SQLite file is read faster than a second: its copy reads the link four times over.
    const Case cases[] = {
        {"ODBC;" + pgtest::Server::shared().odbcConnectionString(), large, "id, nome from ORIGINE_LINK"},
        {";DATABASE=" + (env.root() / "grande.db").string(), "ORIGINE",
         "id, nome from (select 1 union all select 2 union all select 3 union all select 4), ORIGINE_LINK"},
    };
    for (const auto& [source, remoteTable, copied] : cases) {
        SCOPED_TRACE(source.substr(0, 12));
        const fs::path target = env.root() / "target.db";
        fs::remove(target);
        zs::test::writeFile(target, "");
        sqliteRun(target, {"create table COPIA (id integer, nome text)", "insert into COPIA values (0, 'prima')",
                           dblink::createLinkSql("ORIGINE_LINK", source, remoteTable)});
        StopRun r(target);
        ASSERT_TRUE(r.backend.open());
        const auto start = Steady::now();
        std::optional<Steady::time_point> stopped;
        r.yield.onYield = [&](int) {
            if (!stopped && Steady::now() - start > std::chrono::seconds(1)) {
                stopped = Steady::now();
                r.state.setStatoProcesso(RunState::kStopped);
            }
        };
        std::string sql = "insert into COPIA select " + copied;
        EXPECT_FALSE(TableOperations(r.ctx).EseguiJob(sql));
        const auto end = Steady::now();
        ASSERT_TRUE(stopped) << "the copy ended before the stop";
        const double afterStop = std::chrono::duration<double>(end - *stopped).count();
        std::printf("[ %s ] the copy ended %.3f s after the stop\n", source.substr(0, 12).c_str(), afterStop);
        EXPECT_LT(afterStop, kSanitized ? 5.0 : 1.0);
        EXPECT_EQ(r.errors,
                  (std::vector<std::string>{"Processo di estrazione interrotto dall'utente sul job: " + sql}));
        r.backend.close();
        // Rolled back: the table holds what it held before the job.
        EXPECT_EQ(scalarOf(target, "select count(*) || ':' || min(nome) from COPIA"), "1:prima");
    }
    pgtest::Server::shared().psql("drop table " + large);
}

} // namespace
} // namespace zs::engine::test
