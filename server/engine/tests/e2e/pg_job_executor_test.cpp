// The job executor on the server path against a real PostgreSQL server through ODBC:
// asynchronous statements polled while the run yields, a stop that cancels the statement on
// the server, a lost connection retried after a reconnection, and the command time-out.

#include "DirectRun.h"
#include "db/Connection.h"
#include "engine/DbEngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/RunState.h"
#include "engine/Staging.h"
#include "engine/TableOperations.h"
#include "pgtest/PgServer.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <new>

namespace zs::engine {
namespace {

using Steady = std::chrono::steady_clock;

// The engine's procedures over the test server, reached by its ODBC string.
struct PgRun : test::DirectRun {
    PgRun()
        : DirectRun(pgtest::Server::shared().odbcConnectionString(), "sqlserver")
    {}
    int stillRunning(const std::string& marker)
    {
        std::string out;
        pgtest::Server::shared().psql("select 'n=' || count(*) from pg_stat_activity where query like '%" + marker +
                                          "%' and state = 'active' and query not like '%pg_stat_activity%'"
                                          " and datname = current_database()",
                                      &out);
        const auto pos = out.find("n=");
        return pos == std::string::npos ? -1 : std::stoi(out.substr(pos + 2));
    }

    Steady::time_point start = Steady::now();
    /// Seconds since `start`, for what the yield does during a statement.
    double elapsed() const { return std::chrono::duration<double>(Steady::now() - start).count(); }
};

TEST(PgJobExecutor, StopDuringALongStatementCancelsItOnTheServer)
{
    ZS_REQUIRE_PG();
    PgRun r;
    ASSERT_TRUE(r.backend.open());
    r.yield.onYield = [&](int) {
        if (r.elapsed() > 1.0)
            r.state.setStatoProcesso(RunState::kStopped);
    };
    const auto start = Steady::now();
    r.start = start;
    std::string sql = "select pg_sleep(30)";
    EXPECT_FALSE(TableOperations(r.ctx).EseguiJob(sql));
    EXPECT_LT(std::chrono::duration<double>(Steady::now() - start).count(), 3.0);
    EXPECT_EQ(r.errors,
              (std::vector<std::string>{"Processo di estrazione interrotto dall'utente sul job: select pg_sleep(30)"}));
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.stillRunning("pg_sleep(30)"), 0);
}

TEST(PgJobExecutor, StopDuringADeleteRollsItBackWithOrWithoutACondition)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    // Every deleted row waits a little, so the stop lands while the delete runs.
    ASSERT_TRUE(pg.psql("drop table if exists stop_delete; create table stop_delete(n int); "
                        "insert into stop_delete select generate_series(1, 40); "
                        "create or replace function stop_delete_slow() returns trigger language plpgsql as "
                        "$$ begin perform pg_sleep(0.1); return old; end $$; "
                        "create trigger stop_delete_slow before delete on stop_delete for each row "
                        "execute function stop_delete_slow()"));
    for (const char* condition : {"", "where n > 0"}) {
        SCOPED_TRACE(condition);
        PgRun r;
        ASSERT_TRUE(r.backend.open());
        r.yield.onYield = [&](int) {
            if (r.elapsed() > 1.0)
                r.state.setStatoProcesso(RunState::kStopped);
        };
        r.start = Steady::now();
        EXPECT_FALSE(TableOperations(r.ctx).CancellaTabella("stop_delete", condition));
        EXPECT_LT(r.elapsed(), 3.0);
        EXPECT_EQ(r.errors, (std::vector<std::string>{
                                "Processo di cancellazione interrotto dall'utente sulla tabella STOP_DELETE"}));
        std::string out;
        ASSERT_TRUE(pg.psql("select 'rows=' || count(*) from stop_delete", &out));
        EXPECT_NE(out.find("rows=40"), std::string::npos) << out;
    }
    pg.psql("drop table if exists stop_delete; drop function if exists stop_delete_slow()");
}

// The synchronisation's statements are plain SQL: on PostgreSQL each twin is emptied and
// refilled from its table; only a TIME or ZONE table is written in brackets, which fails there.
TEST(PgJobExecutor, SynchronisationRefillsTheTwinsOfPlainTables)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    ASSERT_TRUE(pg.psql("drop table if exists sync_a, sqlserver_sync_a, zone, sqlserver_zone; "
                        "create table sync_a(n int); insert into sync_a values (1), (2), (3); "
                        "create table sqlserver_sync_a(n int); insert into sqlserver_sync_a values (9); "
                        "create table zone(n int); create table sqlserver_zone(n int)"));
    {
        PgRun r;
        ASSERT_TRUE(r.backend.open());
        EXPECT_TRUE(Staging(r.ctx).Sincronizza("sync_a"));
        EXPECT_TRUE(r.errors.empty()) << r.errors.front();
    }
    std::string out;
    ASSERT_TRUE(pg.psql("select 'rows=' || count(*) || ' sum=' || sum(n) from sqlserver_sync_a", &out));
    EXPECT_NE(out.find("rows=3 sum=6"), std::string::npos) << out;
    {
        PgRun r;
        ASSERT_TRUE(r.backend.open());
        EXPECT_FALSE(Staging(r.ctx).Sincronizza("ZONE"));
        EXPECT_FALSE(r.errors.empty());
    }
    pg.psql("drop table if exists sync_a, sqlserver_sync_a, zone, sqlserver_zone");
}

TEST(PgJobExecutor, LostConnectionIsRetriedAndThenSucceeds)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    ASSERT_TRUE(pg.psql("drop table if exists lost_job; create table lost_job(n int)"));
    PgRun r;
    ASSERT_TRUE(r.backend.open());
    bool killed = false;
    r.yield.onYield = [&](int) {
        if (!killed && r.elapsed() > 0.7) {
            killed = true;
            pg.psql("select pg_terminate_backend(pid) from pg_stat_activity where query like 'insert into lost_job%' "
                    "and datname = current_database()");
        }
    };
    std::string sql = "insert into lost_job select 1 from (select pg_sleep(2)) s";
    EXPECT_TRUE(TableOperations(r.ctx).EseguiJob(sql));
    EXPECT_TRUE(killed);
    EXPECT_EQ(r.errors, (std::vector<std::string>{" Errore in fase di esecuzione query :" + sql}));
    EXPECT_EQ(r.opens, 2);
    EXPECT_GE(r.clock.tickMs(), 60000); // the minute's wait, on the clock
    std::string out;
    ASSERT_TRUE(pg.psql("select 'rows=' || count(*) from lost_job", &out));
    EXPECT_NE(out.find("rows=1"), std::string::npos) << out;
}

TEST(PgJobExecutor, CommandTimeOutFailsOnceWithoutRetry)
{
    ZS_REQUIRE_PG();
    PgRun r;
    r.settings.TimeoutComandi = 1;
    ASSERT_TRUE(r.backend.open());
    const auto start = Steady::now();
    std::string sql = "select pg_sleep(6)";
    EXPECT_FALSE(TableOperations(r.ctx).EseguiJob(sql));
    EXPECT_LT(std::chrono::duration<double>(Steady::now() - start).count(), 4.0);
    EXPECT_EQ(r.errors, (std::vector<std::string>{" Errore in fase di esecuzione query :select pg_sleep(6)"}));
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.backend.lastFailure(), FailureKind::TimedOut);
}

TEST(PgJobExecutor, AFaultInsideTheDatabaseLayerIsReportedOnceAsInternal)
{
    ZS_REQUIRE_PG();
    PgRun r;
    ASSERT_TRUE(r.backend.open());
    // Memory running out inside the layer, the same on every connection: no reconnection, no wait.
    db::setJobFaultHook([] { throw std::bad_alloc(); });
    std::string sql = "select 1";
    const bool ran = TableOperations(r.ctx).EseguiJob(sql);
    db::setJobFaultHook(nullptr);
    EXPECT_FALSE(ran);
    EXPECT_EQ(r.errors, (std::vector<std::string>{" Errore in fase di esecuzione query :select 1"}));
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.clock.tickMs(), 0);
    EXPECT_EQ(r.backend.lastFailure(), FailureKind::Internal);
    ASSERT_TRUE(r.connection);
    EXPECT_EQ(r.connection->errors().front().description,
              "memoria insufficiente: l'operazione sul database non è stata completata");
}

} // namespace
} // namespace zs::engine
