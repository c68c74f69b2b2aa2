// A synchronisation of a large PostgreSQL table through the zs-extract driver, the driver killed
// while the server runs the twin's refill and a new run started at once: the new run waits for
// the dead one's refill to end (the server ends it, the client being gone) and then replaces the
// twin's rows whole, so the twin holds every source row once.

#include "ExtractDriver.h"
#include "PgTarget.h"
#include "pgtest/PgServer.h"
#include "program/PasswordCodec.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace zs::engine {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test::tagged;

/// Starts the driver over `home` with its output thrown away; the child's id, or -1.
pid_t startExtract(const fs::path& home)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = ZS_EXTRACT_PATH, folder = home.string(), quiet = "--quiet";
    std::vector<char*> argv{program.data(), folder.data(), quiet.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

constexpr const char* kRefillActive = "select 'jobs=' || count(*) from pg_stat_activity where datname = "
                                      "current_database() and state = 'active' and query like "
                                      "'%INSERT INTO SQLServer_sinc_grande%' and query not like '%pg_stat_activity%'";

TEST(PgSyncKill, ARunStartedWhileTheServerStillRefillsADeadRunsTwinLeavesEverySourceRowOnce)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    pgtest::usePrivateOdbcIni();
    // A site's size: a million rows, an index on the twin, so the refill lasts some seconds.
    constexpr int kRows = 1000000;
    ASSERT_TRUE(pg.psql("drop table if exists sinc_grande, sqlserver_sinc_grande; "
                        "create table sinc_grande (codice integer, descrizione varchar(60), importo double precision); "
                        "insert into sinc_grande select g, 'articolo numero ' || g, g * 0.5 "
                        "from generate_series(1, " +
                        std::to_string(kRows) +
                        ") g; "
                        "create table sqlserver_sinc_grande (codice integer, descrizione varchar(60), "
                        "importo double precision); create index on sqlserver_sinc_grande (descrizione); "
                        "insert into sqlserver_sinc_grande select * from sinc_grande; analyze"));

    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    test::writePgSettings(home, 600);
    zs::test::writeFile(home / "zentrikLoading.xml",
                        "<?xml version=\"1.0\"?><Estrattore><SINCRONIA><esegui>si</esegui>"
                        "<operazione>Copia nelle tabelle gemelle</operazione><query>sinc_grande</query>"
                        "</SINCRONIA></Estrattore>");

    const pid_t first = startExtract(home);
    ASSERT_GT(first, 0);
    const auto waitStart = Steady::now();
    while (tagged(kRefillActive, "jobs=") != "1" && Steady::now() - waitStart < 60s)
        std::this_thread::sleep_for(20ms);
    const bool refilling = tagged(kRefillActive, "jobs=") == "1";
    ::kill(first, SIGKILL);
    int status = 0;
    ::waitpid(first, &status, 0);
    ASSERT_TRUE(refilling) << "the first run's refill never showed on the server";

    // At once, while the server may still hold the dead run's refill.
    const auto start = Steady::now();
    const auto run = test::runExtract(home, {"--quiet"}, 300s);
    const auto took = Steady::now() - start;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(tagged("select 'rows=' || count(*) || ',' || count(distinct codice) from sqlserver_sinc_grande", "rows="),
              std::to_string(kRows) + "," + std::to_string(kRows));
    EXPECT_EQ(tagged(kRefillActive, "jobs="), "0");
    std::cout << "second run took " << std::chrono::duration<double>(took).count() << " s\n";
    pg.psql("drop table if exists sinc_grande, sqlserver_sinc_grande");
}

} // namespace
} // namespace zs::engine
