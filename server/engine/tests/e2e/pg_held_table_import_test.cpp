// An XML import through the zs-extract driver into a PostgreSQL table that another session
// holds locked for longer than a connection's own default time-out: with the settings' long
// time-out the import waits for the lock and then loads every row.

#include "ExtractDriver.h"
#include "PgTarget.h"
#include "pgtest/PgServer.h"
#include "program/PasswordCodec.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace zs::engine {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test::tagged;

TEST(PgHeldTableImport, AnImportWaitsForALockHeldLongerThanTheDefaultTimeOutAndLoadsEveryRow)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    pgtest::usePrivateOdbcIni();
    ASSERT_TRUE(pg.psql("drop table if exists righe_tenute; "
                        "create table righe_tenute (codice varchar(20), quantita integer)"));

    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::create_directories(home / "in");
    fs::create_directories(home / "old");
    // More rows than one batch holds, so several batches wait behind the lock.
    constexpr int kRows = 25000;
    std::string xml = "<?xml version='1.0' encoding='UTF-8'?>\n<RIGHE>\n";
    for (int i = 1; i <= kRows; ++i)
        xml += "<Riga Codice='C" + std::to_string(i) + "' Quantita='" + std::to_string(i % 100) + "'/>\n";
    zs::test::writeFile(home / "in/righe.xml", xml + "</RIGHE>\n");
    zs::test::writeFile(home / "righe.xsd",
                        "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
                        "<xsd:element name='Riga' sql:relation='righe_tenute'><xsd:complexType>"
                        "<xsd:attribute name='Codice' sql:field='codice'/>"
                        "<xsd:attribute name='Quantita' sql:field='quantita'/>"
                        "</xsd:complexType></xsd:element></xsd:schema>");
    test::writePgSettings(home, 3600);
    zs::test::writeFile(home / "zentrikLoading.xml", "<?xml version=\"1.0\"?><Estrattore><IMPORTXML><esegui>si</esegui>"
                                                     "<operazione>Importazione righe</operazione><path>" +
                                                         (home / "in").string() + "</path><oldpath>" +
                                                         (home / "old").string() + "</oldpath><schema>" +
                                                         (home / "righe.xsd").string() +
                                                         "</schema></IMPORTXML></Estrattore>");

    // Another session takes the table for 40 seconds, well past a connection's 30-second default.
    constexpr auto kHold = 40s;
    std::thread holder([&] {
        pg.psql("begin; lock table righe_tenute in access exclusive mode; select pg_sleep(" +
                std::to_string(kHold.count()) + "); commit");
    });
    const auto lockQuery = "select 'locks=' || count(*) from pg_locks where relation = 'righe_tenute'::regclass "
                           "and mode = 'AccessExclusiveLock' and granted";
    const auto waitStart = Steady::now();
    while (tagged(lockQuery, "locks=") != "1" && Steady::now() - waitStart < 20s)
        std::this_thread::sleep_for(50ms);
    const bool held = tagged(lockQuery, "locks=") == "1";
    const auto start = Steady::now();
    const auto run = held ? test::runExtract(home, {"--quiet"}, 240s) : process::RunResult{};
    const auto took = Steady::now() - start;
    holder.join();
    ASSERT_TRUE(held) << "the other session never took the lock";

    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.output.find("Timeout"), std::string::npos) << run.output;
    // The import waited behind the lock for longer than the old default allowed.
    EXPECT_GE(took, 31s);
    EXPECT_EQ(tagged("select 'rows=' || count(*) || ',' || sum(quantita) from righe_tenute", "rows="),
              std::to_string(kRows) + "," + std::to_string((kRows / 100) * 4950));
    EXPECT_TRUE(fs::exists(home / "old/righe.xml"));
    EXPECT_FALSE(fs::exists(home / "in/righe.xml"));
    pg.psql("drop table if exists righe_tenute");
}

} // namespace
} // namespace zs::engine
