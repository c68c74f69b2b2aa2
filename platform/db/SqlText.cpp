#include "db/SqlText.h"

#include "db/Backend_p.h"

namespace zs::db {

std::string quoteSql(std::string_view text, char open, char close)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += open;
    for (const char c : text) {
        out += c;
        if (c == close)
            out += close;
    }
    out += close;
    return out;
}

std::string insertStatement(const std::string& quotedTable, const std::vector<std::string>& quotedColumns)
{
    if (quotedColumns.empty())
        return "insert into " + quotedTable + " default values";
    std::string sql = "insert into " + quotedTable + " (";
    std::string marks;
    for (std::size_t i = 0; i < quotedColumns.size(); ++i) {
        sql += (i ? "," : "") + quotedColumns[i];
        marks += i ? ",?" : "?";
    }
    return sql + ") values (" + marks + ")";
}

std::string insertRowsStatement(const std::string& quotedTable, const std::vector<std::string>& quotedColumns,
                                std::size_t rows)
{
    std::string sql = insertStatement(quotedTable, quotedColumns);
    if (quotedColumns.empty() || rows < 2)
        return sql;
    const std::string marks = sql.substr(sql.rfind(" values ") + 8);
    sql.reserve(sql.size() + (marks.size() + 1) * (rows - 1));
    for (std::size_t r = 1; r < rows; ++r)
        sql += "," + marks;
    return sql;
}

} // namespace zs::db
