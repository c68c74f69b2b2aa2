#include "engine/TableOperations.h"

#include "engine/EngineContext.h"
#include "engine/EngineStrings.h"
#include "engine/RunState.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"

namespace zs::engine {

namespace {

// Below this many seconds a running statement is polled briskly; after it, every pass waits up
// to two seconds, so a long statement does not keep the processor busy.
constexpr double kBriskSeconds = 5.0;
constexpr int kBriskWaitMs = 50;
constexpr int kSlowWaitMs = 2000;
constexpr double kRetryWaitSeconds = 60.0;
constexpr int kMaxAttempts = 3;

std::string attemptPrefix(int attempt)
{
    return attempt <= 1 ? std::string() : "(Tentativo n." + std::to_string(attempt) + ")";
}

} // namespace

std::vector<std::string> azzeraContatoreStatements(program::ServerType tipoServer, const std::string& table,
                                                   const std::string& column, int start)
{
    const std::string s = std::to_string(start);
    if (tipoServer == program::ServerType::SqlServer)
        return {"EXEC ('DBCC CHECKIDENT (" + table + ",RESEED," + s + ")')"};
    if (tipoServer == program::ServerType::Oracle)
        return {"drop sequence " + table + "_SEQ",
                "CREATE SEQUENCE \"ZENTRIK\".\"" + table + "_SEQ\" INCREMENT BY 1 START WITH " + s +
                    " MAXVALUE 1.0E28 MINVALUE " + s + " NOCYCLE   CACHE 20 NOORDER "};
    return {"ALTER TABLE " + table + " ALTER COLUMN " + column + " COUNTER (" + s + ", 1)"};
}

std::string cancellaTabellaStatement(const std::string& table, const std::string& condition)
{
    return "delete from " + table + " " + condition;
}

std::string svuotaTabellaStatement(const std::string& table)
{
    return "Truncate Table " + table;
}
std::string svuotaTabellaFallback(const std::string& table)
{
    return "delete from  " + table;
}

std::string leggiMaxStatement(const std::string& table, const std::string& column)
{
    return "select max( " + column + ") from " + table;
}

bool TableOperations::AzzeraContatore(const std::string& table, const std::string& column, int start)
{
    const auto statements = azzeraContatoreStatements(m_ctx.settings.TipoServer, table, column, start);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const bool isDropOfSequence = statements.size() > 1 && i == 0;
        if (m_ctx.db.execute(statements[i], ExecuteMode::Sync))
            continue;
        // The sequence does not exist yet on a fresh database: its drop may fail, the creation
        // that follows must not be skipped for that.
        if (isDropOfSequence && m_ctx.db.lastFailure() == FailureKind::Rejected)
            continue;
        m_ctx.db.DescriviErrore("Errore in fase di azzeramento contatore della tabella" + upper(table));
        return false;
    }
    return true;
}

bool TableOperations::CancellaTabella(const std::string& table, const std::string& condition)
{
    std::string sql = cancellaTabellaStatement(table, condition);
    return runLoop(sql, Kind::Delete, table);
}

bool TableOperations::SvuotaTabella(const std::string& table)
{
    std::string sql = svuotaTabellaStatement(table);
    return runLoop(sql, Kind::Truncate, table);
}

SqlValue TableOperations::LeggiMaxIncrementale(const std::string& table, const std::string& column, bool* ok)
{
    SqlValue value;
    const bool good = m_ctx.db.queryValue(leggiMaxStatement(table, column), value);
    if (ok)
        *ok = good;
    if (!good) {
        m_ctx.db.DescriviErrore("Errore in fase di conteggio del campo incrementale della tabella " + upper(table));
        return std::string();
    }
    return value;
}

bool TableOperations::EseguiJob(std::string& sql)
{
    return runLoop(sql, Kind::Job, std::string());
}

void TableOperations::poll(bool async)
{
    if (!async)
        return;
    const double start = m_ctx.seconds();
    bool cancelled = false;
    // A bounded wait on the statement instead of a spin: it ends as soon as the statement does.
    // After a stop the statement is still waited for, briskly, while the window stays live: only
    // its end says whether the cancel rolled it back or it had already done its work (an
    // unconditional delete on SQLite clears the table in one step the cancel cannot reach), and
    // no statement is left running behind the stop.
    while (m_ctx.db.isExecuting()) {
        const bool brisk = cancelled || m_ctx.seconds() - start <= kBriskSeconds;
        m_ctx.db.waitForCompletion(brisk ? kBriskWaitMs : kSlowWaitMs);
        m_ctx.doYield();
        if (!cancelled && m_ctx.state.stopped()) {
            m_ctx.db.cancel();
            cancelled = true;
        }
    }
}

void TableOperations::waitBeforeRetry()
{
    const double start = m_ctx.seconds();
    while (m_ctx.seconds() - start < kRetryWaitSeconds && !m_ctx.state.stopped()) {
        m_ctx.doYield();
        m_ctx.sleep(m_ctx.seconds() - start > kBriskSeconds ? kSlowWaitMs : kBriskWaitMs);
        m_ctx.doYield();
    }
}

bool TableOperations::runLoop(std::string& sql, Kind kind, const std::string& table)
{
    const program::ServerType tipo = m_ctx.settings.TipoServer;
    const bool oracle = tipo == program::ServerType::Oracle;
    // Jobs and deletes run asynchronously on every target, the Access file too, so that the
    // run keeps yielding and a stop interrupts the statement (rolling it back) instead of
    // waiting for it to commit. A statement the stop came too late for is reported as done.
    const bool async = kind == Kind::Truncate ? tipo == program::ServerType::SqlServer : true;
    const std::string tableUpper = upper(table);
    int attempt = 0;
    bool result = false;
    do {
        ++attempt;
        result = false;
        std::string statement = sql;
        if (kind == Kind::Truncate)
            statement = svuotaTabellaStatement(table);
        bool failed = false;
        for (bool fellBack = false;;) {
            m_ctx.db.setCommandTimeout(m_ctx.settings.TimeoutComandi);
            if (kind == Kind::Job && oracle) {
                sql = trim(sql);
                if (!sql.empty() && sql.back() == ';')
                    sql.pop_back();
                statement = sql;
            }
            // Whether the statement did its work is its own outcome, a stop or not: a statement
            // that ended before the cancel could reach it has changed the table.
            bool ran = m_ctx.db.execute(statement, async ? ExecuteMode::Async : ExecuteMode::Sync);
            if (ran) {
                poll(async);
                ran = !async || m_ctx.db.finishStatement();
            }
            if (ran) {
                result = true;
                break;
            }
            if (m_ctx.state.stopped())
                break;
            // A table the server refuses to truncate (referenced by a key) is emptied with a
            // delete in the same attempt.
            if (kind == Kind::Truncate && !fellBack && m_ctx.db.lastFailure() == FailureKind::Rejected) {
                fellBack = true;
                statement = svuotaTabellaFallback(table);
                continue;
            }
            failed = true;
            break;
        }
        if (result) {
            if (m_ctx.state.stopped())
                m_ctx.log.OutputResponse(
                    kind == Kind::Job
                        ? "Processo di estrazione completato prima dell'interruzione dell'utente sul job: " + sql
                        : "Processo di cancellazione completato prima dell'interruzione dell'utente sulla tabella " +
                              tableUpper,
                    false, 1);
        } else if (!failed) {
            m_ctx.db.DescriviErrore(
                kind == Kind::Job ? "Processo di estrazione interrotto dall'utente sul job: " + sql
                                  : "Processo di cancellazione interrotto dall'utente sulla tabella " + tableUpper);
        } else {
            const FailureKind why = m_ctx.db.lastFailure();
            m_ctx.db.DescriviErrore(kind == Kind::Job
                                        ? attemptPrefix(attempt) + " Errore in fase di esecuzione query :" + sql
                                        : attemptPrefix(attempt) +
                                              "Errore in fase di eliminazione record dalla tabella " + tableUpper);
            if (why != FailureKind::ConnectionLost)
                return false;
            waitBeforeRetry();
            if (m_ctx.state.stopped())
                return false;
            // A failed reconnection has logged itself; the next attempt then fails in turn.
            (void)m_ctx.db.open();
        }
    } while (!result && attempt < kMaxAttempts && !m_ctx.state.stopped());
    return result;
}

} // namespace zs::engine
