// The statements of the table operations, staging and synchronisation in each dialect, and the
// job executor's attempts, waits, time-out and stop.

#include "EngineTestSupport.h"

#include "engine/Staging.h"
#include "engine/TableOperations.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zs::engine::test {
namespace {

struct SqlCase {
    const char* name;
    const char* tipo;
    std::function<bool(const EngineContext&)> action;
    std::vector<std::string> expected;
    std::vector<ExecuteMode> modes;
};

TEST(TableOperationsSql, StatementsPerDialect)
{
    using M = ExecuteMode;
    const std::vector<SqlCase> cases = {
        {"access counter",
         "access",
         [](const EngineContext& c) { return TableOperations(c).AzzeraContatore("CLIENTI", "ID", 1); },
         {"ALTER TABLE CLIENTI ALTER COLUMN ID COUNTER (1, 1)"},
         {M::Sync}},
        {"sqlserver counter",
         "sqlserver",
         [](const EngineContext& c) { return TableOperations(c).AzzeraContatore("[TIME]", "ID", 0); },
         {"EXEC ('DBCC CHECKIDENT ([TIME],RESEED,0)')"},
         {M::Sync}},
        {"oracle counter",
         "oracle",
         [](const EngineContext& c) { return TableOperations(c).AzzeraContatore("CLIENTI", "ID", 1); },
         {"drop sequence CLIENTI_SEQ", "CREATE SEQUENCE \"ZENTRIK\".\"CLIENTI_SEQ\" INCREMENT BY 1 START WITH 1 "
                                       "MAXVALUE 1.0E28 MINVALUE 1 NOCYCLE   "
                                       "CACHE 20 NOORDER "},
         {M::Sync, M::Sync}},
        {"delete all",
         "access",
         [](const EngineContext& c) { return TableOperations(c).CancellaTabella("CLIENTI", ""); },
         {"delete from CLIENTI "},
         {M::Async}},
        {"delete above watermark on sqlserver",
         "sqlserver",
         [](const EngineContext& c) { return TableOperations(c).CancellaTabella("ORDINI", "where id > 7"); },
         {"delete from ORDINI where id > 7"},
         {M::Async}},
        {"truncate",
         "sqlserver",
         [](const EngineContext& c) { return TableOperations(c).SvuotaTabella("CLIENTI"); },
         {"Truncate Table CLIENTI"},
         {M::Async}},
        {"truncate elsewhere runs synchronously",
         "oracle",
         [](const EngineContext& c) { return TableOperations(c).SvuotaTabella("CLIENTI"); },
         {"Truncate Table CLIENTI"},
         {M::Sync}},
        {"maximum",
         "sqlserver",
         [](const EngineContext& c) { return TableOperations(c).LeggiMaxIncrementale("ORDINI", "ORDINI.ID"), true; },
         {"select max( ORDINI.ID) from ORDINI"},
         {}},
        {"stage minimal",
         "sqlserver",
         [](const EngineContext& c) { return Staging(c).CaricaStage("ARTICOLI;ERPLINK"); },
         {"if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[STA_ARTICOLI]') and "
          "OBJECTPROPERTY(id, N'IsUserTable') = 1) drop table [dbo].[STA_ARTICOLI];select ARTICOLI.* into STA_ARTICOLI "
          "from openquery(ERPLINK,'select * from ARTICOLI   ') ARTICOLI where ditta in (select ditta from ditte) ;"},
         {M::Async}},
        {"stage with condition and columns",
         "sqlserver",
         [](const EngineContext& c) {
             return Staging(c).CaricaStage("ARTICOLI;ERPLINK;where anno = 2005;?tblname.codice");
         },
         {"if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[STA_ARTICOLI]') and "
          "OBJECTPROPERTY(id, N'IsUserTable') = 1) drop table [dbo].[STA_ARTICOLI];select ARTICOLI.codice into "
          "STA_ARTICOLI from openquery(ERPLINK,'select * from ARTICOLI where anno = 2005  ') ARTICOLI where ditta in "
          "(select ditta from ditte) ;"},
         {M::Async}},
        {"stage with columns and no condition",
         "oracle",
         [](const EngineContext& c) { return Staging(c).CaricaStage("ARTICOLI;ERPLINK;;codice,descrizione"); },
         {"if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[STA_ARTICOLI]') and "
          "OBJECTPROPERTY(id, N'IsUserTable') = 1) drop table [dbo].[STA_ARTICOLI];select codice,descrizione into "
          "STA_ARTICOLI from openquery(ERPLINK,'select * from ARTICOLI   ') ARTICOLI where ditta in (select ditta from "
          "ditte) "},
         {M::Async}},
        {"sync",
         "sqlserver",
         [](const EngineContext& c) { return Staging(c).Sincronizza("CLIENTI,TIME,zone"); },
         {"DELETE FROM SQLServer_CLIENTI", "INSERT INTO SQLServer_CLIENTI SELECT * FROM CLIENTI",
          "DELETE FROM SQLServer_TIME", "INSERT INTO SQLServer_TIME SELECT * FROM [TIME]", "DELETE FROM SQLServer_zone",
          "INSERT INTO SQLServer_zone SELECT * FROM [zone]"},
         {M::Async, M::Async, M::Async, M::Async, M::Async, M::Async}},
        {"oracle job trimmed",
         "oracle",
         [](const EngineContext& c) {
             std::string sql = "  insert into A select * from B ;  ";
             const bool ok = TableOperations(c).EseguiJob(sql);
             return ok && sql == "insert into A select * from B ";
         },
         {"insert into A select * from B "},
         {M::Async}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture f(c.tipo);
        EXPECT_TRUE(c.action(f.ctx));
        EXPECT_EQ(f.db.statements, c.expected);
        if (!c.modes.empty()) {
            EXPECT_EQ(f.db.modes, c.modes);
        }
        EXPECT_TRUE(f.db.errors.empty());
    }
}

// Each twin is emptied and filled in one transaction wherever the target has them, the twin
// locked against every other writer first; elsewhere the statements go one by one.
TEST(Synchronisation, EachTwinIsOneTransactionWhereTheTargetHasThem)
{
    struct Case {
        const char* name;
        db::Dialect dialect;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"sql server",
         db::Dialect::SqlServer,
         {"SET XACT_ABORT ON; BEGIN TRANSACTION; SELECT TOP 1 1 FROM SQLServer_CLIENTI WITH (TABLOCKX, HOLDLOCK); "
          "DELETE FROM SQLServer_CLIENTI; INSERT INTO SQLServer_CLIENTI SELECT * FROM CLIENTI; COMMIT",
          "SET XACT_ABORT ON; BEGIN TRANSACTION; SELECT TOP 1 1 FROM SQLServer_TIME WITH (TABLOCKX, HOLDLOCK); "
          "DELETE FROM SQLServer_TIME; INSERT INTO SQLServer_TIME SELECT * FROM [TIME]; COMMIT"}},
        {"postgresql",
         db::Dialect::PostgreSql,
         {"BEGIN; LOCK TABLE SQLServer_CLIENTI IN EXCLUSIVE MODE; DELETE FROM SQLServer_CLIENTI; "
          "INSERT INTO SQLServer_CLIENTI SELECT * FROM CLIENTI; COMMIT",
          "BEGIN; LOCK TABLE SQLServer_TIME IN EXCLUSIVE MODE; DELETE FROM SQLServer_TIME; "
          "INSERT INTO SQLServer_TIME SELECT * FROM [TIME]; COMMIT"}},
        {"sqlite",
         db::Dialect::Sqlite,
         {"BEGIN; DELETE FROM SQLServer_CLIENTI; INSERT INTO SQLServer_CLIENTI SELECT * FROM CLIENTI; COMMIT",
          "BEGIN; DELETE FROM SQLServer_TIME; INSERT INTO SQLServer_TIME SELECT * FROM [TIME]; COMMIT"}},
        {"oracle",
         db::Dialect::Oracle,
         {"DELETE FROM SQLServer_CLIENTI", "INSERT INTO SQLServer_CLIENTI SELECT * FROM CLIENTI",
          "DELETE FROM SQLServer_TIME", "INSERT INTO SQLServer_TIME SELECT * FROM [TIME]"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture f(c.dialect == db::Dialect::Sqlite ? "access" : "sqlserver");
        f.db.target = c.dialect;
        EXPECT_TRUE(Staging(f.ctx).Sincronizza("CLIENTI,TIME"));
        EXPECT_EQ(f.db.statements, c.expected);
        EXPECT_TRUE(f.db.errors.empty());
    }
}

TEST(Synchronisation, AFailedTwinOnSqlServerIsRolledBackAndTheStepFails)
{
    EngineFixture f("sqlserver");
    f.db.target = db::Dialect::SqlServer;
    f.db.rules.push_back({"INSERT INTO SQLServer_CLIENTI", FailureKind::Rejected, 1000});
    EXPECT_FALSE(Staging(f.ctx).Sincronizza("CLIENTI"));
    ASSERT_EQ(f.db.statements.size(), 1u);
    EXPECT_EQ(f.db.statements[0].rfind("SET XACT_ABORT ON; BEGIN TRANSACTION; ", 0), 0u) << f.db.statements[0];
    const auto lines = f.logTexts();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Tabella SQLServer_CLIENTI non sincronizzata: conserva le righe che aveva prima."),
              lines.end());
}

TEST(TableOperations, RejectedTruncateFallsBackToDeleteInTheSameAttempt)
{
    EngineFixture f("sqlserver");
    f.db.rules.push_back({"Truncate", FailureKind::Rejected, 1000});
    EXPECT_TRUE(TableOperations(f.ctx).SvuotaTabella("CLIENTI"));
    EXPECT_EQ(f.db.statements, (std::vector<std::string>{"Truncate Table CLIENTI", "delete from  CLIENTI"}));
    EXPECT_TRUE(f.db.errors.empty());
}

TEST(TableOperations, FailedFallbackDeleteIsAFailedAttempt)
{
    EngineFixture f("sqlserver");
    f.db.rules.push_back({"Truncate", FailureKind::Rejected, 1000});
    f.db.rules.push_back({"delete from", FailureKind::Rejected, 1000});
    EXPECT_FALSE(TableOperations(f.ctx).SvuotaTabella("clienti"));
    EXPECT_EQ(f.db.errors, (std::vector<std::string>{"Errore in fase di eliminazione record dalla tabella CLIENTI"}));
}

TEST(TableOperations, OracleCounterGoesOnWhenTheSequenceDidNotExist)
{
    EngineFixture f("oracle");
    f.db.rules.push_back({"drop sequence", FailureKind::Rejected, 1});
    EXPECT_TRUE(TableOperations(f.ctx).AzzeraContatore("CLIENTI", "ID", 1));
    EXPECT_EQ(f.db.statements.size(), 2u);
    f.db.rules.push_back({"CREATE SEQUENCE", FailureKind::Rejected, 1});
    EXPECT_FALSE(TableOperations(f.ctx).AzzeraContatore("clienti", "ID", 1));
    EXPECT_EQ(f.db.errors.back(), "Errore in fase di azzeramento contatore della tabellaCLIENTI");
}

TEST(TableOperations, MaximumOfMissingTableIsLoggedAndEmpty)
{
    EngineFixture f;
    f.db.rules.push_back({"max(", FailureKind::Rejected, 1});
    bool ok = true;
    const SqlValue v = TableOperations(f.ctx).LeggiMaxIncrementale("ordini", "ordini.id", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(std::get<std::string>(v), "");
    EXPECT_EQ(f.db.errors,
              (std::vector<std::string>{"Errore in fase di conteggio del campo incrementale della tabella ORDINI"}));
}

TEST(JobExecutor, RejectedStatementFailsOnceWithoutRetry)
{
    EngineFixture f("sqlserver");
    f.settings.TimeoutComandi = 77;
    f.db.rules.push_back({"bad", FailureKind::Rejected});
    std::string sql = "select bad";
    EXPECT_FALSE(TableOperations(f.ctx).EseguiJob(sql));
    EXPECT_EQ(f.db.statements.size(), 1u);
    EXPECT_EQ(f.db.errors, (std::vector<std::string>{" Errore in fase di esecuzione query :select bad"}));
    EXPECT_EQ(f.db.timeout, 77);
    EXPECT_EQ(f.db.opens, 0);
}

TEST(JobExecutor, TimeOutIsNotRetried)
{
    EngineFixture f("oracle");
    f.db.failLate = true;
    f.db.asyncPolls = 3;
    f.db.rules.push_back({"slow", FailureKind::TimedOut});
    std::string sql = "select slow";
    EXPECT_FALSE(TableOperations(f.ctx).EseguiJob(sql));
    EXPECT_EQ(f.db.statements.size(), 1u);
    EXPECT_EQ(f.db.opens, 0);
}

TEST(JobExecutor, LostConnectionOnEveryAttemptWaitsAndReconnectsThreeTimes)
{
    EngineFixture f("sqlserver");
    f.db.rules.push_back({"job", FailureKind::ConnectionLost});
    const auto start = f.clock.tickMs();
    std::string sql = "exec job";
    EXPECT_FALSE(TableOperations(f.ctx).EseguiJob(sql));
    EXPECT_EQ(f.db.statements.size(), 3u);
    EXPECT_EQ(f.db.errors, (std::vector<std::string>{" Errore in fase di esecuzione query :exec job",
                                                     "(Tentativo n.2) Errore in fase di esecuzione query :exec job",
                                                     "(Tentativo n.3) Errore in fase di esecuzione query :exec job"}));
    EXPECT_EQ(f.db.opens, 3);
    // Three waits of a minute each, on the clock, never a real sleep.
    EXPECT_GE(f.clock.tickMs() - start, 180000);
    EXPECT_LT(f.clock.tickMs() - start, 190000);
}

TEST(JobExecutor, LostConnectionThenSuccessOnTheSecondAttempt)
{
    EngineFixture f("access");
    f.db.rules.push_back({"job", FailureKind::ConnectionLost, 1});
    std::string sql = "insert job";
    EXPECT_TRUE(TableOperations(f.ctx).EseguiJob(sql));
    EXPECT_EQ(f.db.calls, (std::vector<std::string>{"exec:insert job", "open", "exec:insert job"}));
}

TEST(JobExecutor, StopDuringAStatementCancelsItAndLogsTheStopLine)
{
    // Every target, the Access file included, runs the job asynchronously and cancels it on stop.
    for (const char* tipo : {"oracle", "sqlserver", "access"}) {
        SCOPED_TRACE(tipo);
        EngineFixture f(tipo);
        f.db.asyncPolls = 1000;
        f.yield.onYield = [&](int n) {
            if (n == 6)
                f.state.setStatoProcesso(RunState::kStopped);
        };
        std::string sql = "select long";
        EXPECT_FALSE(TableOperations(f.ctx).EseguiJob(sql));
        EXPECT_EQ(f.db.modes, (std::vector<ExecuteMode>{ExecuteMode::Async}));
        EXPECT_EQ(f.db.cancels, 1);
        EXPECT_EQ(f.db.statements.size(), 1u);
        EXPECT_EQ(f.db.errors,
                  (std::vector<std::string>{"Processo di estrazione interrotto dall'utente sul job: select long"}));
    }
}

TEST(JobExecutor, StopReportsWhatTheStatementDid)
{
    // A stop tells whether the statement still did its work (it ended before the cancel could
    // reach it) or was cancelled and rolled back: never "interrotto" over a change that stays.
    struct Case {
        const char* name;
        int asyncPolls; // how long the statement runs after the stop
        std::function<bool(TableOperations&)> action;
        std::vector<std::string> errors;
        std::string doneLine;
        bool result;
    };
    const std::vector<Case> cases = {
        {"delete ended before the cancel",
         0,
         [](TableOperations& t) { return t.CancellaTabella("clienti", ""); },
         {},
         "Processo di cancellazione completato prima dell'interruzione dell'utente sulla tabella CLIENTI",
         true},
        {"delete cancelled",
         50,
         [](TableOperations& t) { return t.CancellaTabella("clienti", "where id > 3"); },
         {"Processo di cancellazione interrotto dall'utente sulla tabella CLIENTI"},
         "",
         false},
        {"job ended before the cancel",
         0,
         [](TableOperations& t) {
             std::string sql = "delete from T";
             return t.EseguiJob(sql);
         },
         {},
         "Processo di estrazione completato prima dell'interruzione dell'utente sul job: delete from T",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture f("access");
        f.db.asyncPolls = c.asyncPolls;
        f.state.setStatoProcesso(RunState::kStopped);
        TableOperations ops(f.ctx);
        EXPECT_EQ(c.action(ops), c.result);
        EXPECT_EQ(f.db.statements.size(), 1u); // no second attempt after a stop
        EXPECT_EQ(f.db.cancels, c.asyncPolls > 0 ? 1 : 0);
        EXPECT_EQ(f.db.errors, c.errors);
        const auto texts = f.logTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), c.doneLine), c.doneLine.empty() ? 0 : 1);
    }
}

TEST(JobExecutor, LongStatementIsPolledBrisklyThenWithTwoSecondWaits)
{
    EngineFixture f("sqlserver");
    f.db.runUntilMs = 12000; // the statement ends after 12 seconds on the clock
    std::string sql = "exec long";
    EXPECT_TRUE(TableOperations(f.ctx).EseguiJob(sql));
    int brisk = 0, slow = 0;
    for (int w : f.db.waits)
        (w == 2000 ? slow : brisk)++;
    EXPECT_EQ(brisk, 101); // the first 5 s in 50 ms slices, and the one that crosses the mark
    EXPECT_EQ(slow, 4);
    EXPECT_TRUE(f.db.errors.empty());
}

} // namespace
} // namespace zs::engine::test
