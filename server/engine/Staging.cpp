#include "engine/Staging.h"

#include "db/Transaction.h"
#include "engine/EngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/EngineStrings.h"
#include "engine/RunState.h"
#include "engine/TableOperations.h"
#include "program/ProgramLog.h"

#include <string_view>

namespace zs::engine {

std::optional<std::string> stageStatement(const std::string& jobText)
{
    const std::vector<std::string> items = split(jobText, ';');
    if (items.size() < 2)
        return std::nullopt;
    const std::string appended = items.size() >= 3 ? items[2] : std::string();
    const std::string columns = items.size() >= 4 ? items[3] : std::string("?tblname.*");
    std::string sql;
    sql.reserve(400);
    sql += "if exists (select * from dbo.sysobjects where id = object_id(N'[dbo].[STA_?tblname]') and "
           "OBJECTPROPERTY(id, N'IsUserTable') = 1) ";
    sql += "drop table [dbo].[STA_?tblname];";
    sql += "select ";
    sql += columns;
    sql += " into STA_?tblname from openquery(?source,'select * from ?tblname ";
    sql += appended;
    sql += "  ') ?tblname where ditta in (select ditta from ditte) ;";
    return replaceAll(replaceAll(sql, "?tblname", items[0]), "?source", items[1]);
}

std::vector<std::pair<std::string, std::string>> syncStatements(const std::string& tables)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& t : split(tables, ',')) {
        const std::string u = upper(t);
        const std::string source = (u == "TIME" || u == "ZONE") ? "[" + t + "]" : t;
        out.emplace_back("DELETE FROM SQLServer_" + t, "INSERT INTO SQLServer_" + t + " SELECT * FROM " + source);
    }
    return out;
}

bool Staging::CaricaStage(const std::string& jobText)
{
    std::optional<std::string> sql = stageStatement(jobText);
    if (!sql) {
        m_ctx.db.DescriviErrore(" Errore in fase di esecuzione query :" + jobText);
        return false;
    }
    return TableOperations(m_ctx).EseguiJob(*sql);
}

bool Staging::Sincronizza(const std::string& tables)
{
    TableOperations ops(m_ctx);
    bool allRan = true;
    for (auto& [del, ins] : syncStatements(tables)) {
        if (m_ctx.state.stopped())
            return false;
        const std::string twin = del.substr(std::string_view("DELETE FROM ").size());
        const db::Dialect dialect = m_ctx.db.dialect();
        if (db::hasTransactions(dialect)) {
            // Emptied and filled in one transaction: a failure or a stop at any point leaves the
            // twin with the rows it had. One job rather than a transaction guard around two: a
            // stop cancels the job and the database undoes all of it, and the job executor's
            // retry after a lost connection runs the whole job again, never the insert alone.
            // The twin is locked first: a run started while the server still finishes a dead
            // run's job waits for its commit, then replaces the rows whole instead of missing
            // the ones still being inserted and adding them a second time.
            std::vector<std::string> statements{del, ins};
            if (std::string lock = db::lockTableStatement(dialect, twin); !lock.empty())
                statements.insert(statements.begin(), std::move(lock));
            std::string job = db::transactionText(dialect, statements);
            if (!ops.EseguiJob(job)) {
                m_ctx.db.rollback();
                allRan = false;
                m_ctx.log.OutputResponse("Tabella " + twin + " non sincronizzata: conserva le righe che aveva prima.",
                                         true, 1);
            }
            continue;
        }
        // Filling a twin that could not be emptied would double its rows.
        if (!ops.EseguiJob(del)) {
            allRan = false;
            continue;
        }
        if (!ops.EseguiJob(ins))
            allRan = false;
    }
    // The failed statements have logged their errors: the step's own line adds no repeat of them.
    if (!allRan)
        m_ctx.log.OutputResponse("Errore durante l'aggiornamento da Access a SQL-Server", true, 1);
    return allRan;
}

} // namespace zs::engine
