#include "engine/ImportRecord.h"

#include "db/Connection.h"
#include "db/SqlText.h"
#include "engine/ImportError.h"
#include "text/Ascii.h"

#include <algorithm>

namespace zs::engine {

bool ensureLoadedTable(db::Connection& c, std::string& reason)
{
    const auto names = c.tableNames();
    if (names && std::any_of(names->begin(), names->end(),
                             [](const std::string& n) { return text::equalsNoCase(n, kLoadedTable); }))
        return true;
    std::string text = "varchar(4000)", number = "bigint";
    switch (c.dialect()) {
    case db::Dialect::Sqlite:
        text = "text";
        number = "integer";
        break;
    case db::Dialect::PostgreSql:
        text = "text";
        break;
    case db::Dialect::SqlServer:
        text = "nvarchar(4000)";
        break;
    case db::Dialect::Oracle:
        text = "varchar2(4000)";
        number = "number(19)";
        break;
    default:
        break;
    }
    if (c.execute("create table " + std::string(kLoadedTable) + " (CARTELLA " + text + " not null, NOMEFILE " + text +
                  " not null, DIMENSIONE " + number + " not null, MODIFICATO " + number + " not null)"))
        return true;
    reason = "Tabella " + std::string(kLoadedTable) + ": " + errorText(c);
    return false;
}

std::string recordSql(const std::string& folder, const std::string& name, const fs::FileIdentity& id)
{
    return "insert into " + std::string(kLoadedTable) + " (CARTELLA, NOMEFILE, DIMENSIONE, MODIFICATO) values (" +
           db::sqlLiteral(folder) + ", " + db::sqlLiteral(name) + ", " + std::to_string(id.size) + ", " +
           std::to_string(id.modified) + ")";
}

std::string forgetSql(const std::string& folder, const std::string& name)
{
    return "delete from " + std::string(kLoadedTable) + " where CARTELLA = " + db::sqlLiteral(folder) +
           " and NOMEFILE = " + db::sqlLiteral(name);
}

std::optional<std::vector<LoadedFile>> loadedFiles(db::Connection& c, const std::string& folder)
{
    auto rs = c.query("select NOMEFILE, DIMENSIONE, MODIFICATO from " + std::string(kLoadedTable) +
                      " where CARTELLA = " + db::sqlLiteral(folder));
    if (!rs)
        return std::nullopt;
    std::vector<LoadedFile> files;
    for (std::size_t r = 0; r < rs->rowCount(); ++r)
        files.push_back({rs->at(r, 0).toString(),
                         fs::FileIdentity{rs->at(r, 1).toInt().value_or(-1), rs->at(r, 2).toInt().value_or(-1)}});
    return files;
}

} // namespace zs::engine
