#include "engine/Staging.h"

#include "engine/EngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/EngineStrings.h"
#include "engine/RunState.h"
#include "engine/TableOperations.h"

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
        // Filling a twin that could not be emptied would double its rows.
        if (!ops.EseguiJob(del)) {
            allRan = false;
            continue;
        }
        if (!ops.EseguiJob(ins))
            allRan = false;
    }
    if (!allRan)
        m_ctx.db.DescriviErrore("Errore durante l'aggiornamento da Access a SQL-Server");
    return allRan;
}

} // namespace zs::engine
