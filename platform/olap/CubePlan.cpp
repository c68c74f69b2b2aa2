#include "olap/CubePlan_p.h"

#include "db/SqlText.h"
#include "text/Ascii.h"

#include <charconv>

namespace zs::olap {

namespace {

bool plainName(const std::string& name)
{
    if (name.empty() || (name.front() >= '0' && name.front() <= '9'))
        return false;
    for (const char ch : name)
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'))
            return false;
    return true;
}

/// A stored mark as an SQL literal: a plain number as it stands, anything else quoted.
std::string markLiteral(const std::string& mark)
{
    double v = 0;
    const auto r = std::from_chars(mark.data(), mark.data() + mark.size(), v);
    if (!mark.empty() && r.ec == std::errc() && r.ptr == mark.data() + mark.size())
        return mark;
    return db::sqlLiteral(mark);
}

bool validAggregate(const std::string& a)
{
    return a == "sum" || a == "count" || a == "min" || a == "max";
}

/// The function that folds already aggregated values together again.
std::string reaggregate(const std::string& a)
{
    if (a == "min")
        return "MIN";
    if (a == "max")
        return "MAX";
    return "SUM";
}

/// The schema that holds this connection's temporary tables, as a statement names it; empty
/// where the target has none that CREATE TEMPORARY TABLE … AS fills.
std::string temporarySchema(db::Dialect dialect)
{
    if (dialect == db::Dialect::Sqlite)
        return "temp";
    if (dialect == db::Dialect::PostgreSql)
        return "pg_temp";
    return {};
}

} // namespace

std::string quoteId(const std::string& name)
{
    return db::quoteSql(name, '"', '"');
}

/// A table or column the catalog names in the target database, resolved as the target
/// resolves the program's other SQL, where such names stand unquoted: a plain name folds as
/// the database folds unquoted names (lower case on PostgreSQL, upper case on Oracle), so
/// "VENDITE" finds the table that CREATE TABLE VENDITE made there; any other name is taken
/// exactly as written. Quoted either way, so a name that is also a keyword still works.
std::string sourceId(db::Dialect dialect, const std::string& name)
{
    if (plainName(name)) {
        if (dialect == db::Dialect::PostgreSql)
            return quoteId(text::lowerAscii(name));
        if (dialect == db::Dialect::Oracle)
            return quoteId(text::upperAscii(name));
    }
    return quoteId(name);
}

/// Why `filter` is not one SQL condition, or nothing when it is: the filter stands inside the
/// aggregate's WHERE between parentheses, so it may hold no statement separator, no comment
/// (which would hide the rest of the statement), no parenthesis that closes what it did not
/// open and no text or name left open.
std::optional<std::string> notOneCondition(const std::string& filter)
{
    int depth = 0;
    const std::size_t n = filter.size();
    auto identChar = [](char ch) {
        return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_';
    };
    for (std::size_t i = 0; i < n; ++i) {
        const char ch = filter[i];
        if (ch == '\'' || ch == '"' || ch == '[') {
            const char close = ch == '[' ? ']' : ch;
            // E'…' (PostgreSQL) takes backslash escapes: \' does not end it.
            const bool escapes = ch == '\'' && i > 0 && (filter[i - 1] == 'E' || filter[i - 1] == 'e') &&
                                 (i < 2 || !identChar(filter[i - 2]));
            std::size_t j = i + 1;
            for (; j < n; ++j) {
                if (escapes && filter[j] == '\\') {
                    ++j;
                    continue;
                }
                if (filter[j] == close) {
                    if (close != ']' && j + 1 < n && filter[j + 1] == close) {
                        ++j; // a doubled quote stands for itself
                        continue;
                    }
                    break;
                }
            }
            if (j >= n)
                return std::string("testo o nome non chiuso");
            i = j;
        } else if (ch == ';') {
            return std::string("il filtro contiene un'altra istruzione (;)");
        } else if ((ch == '-' && i + 1 < n && filter[i + 1] == '-') ||
                   (ch == '/' && i + 1 < n && filter[i + 1] == '*')) {
            return std::string("il filtro contiene un commento");
        } else if (ch == '(') {
            ++depth;
        } else if (ch == ')') {
            if (--depth < 0)
                return std::string("parentesi non bilanciate");
        } else if (ch == '$' && (i == 0 || !identChar(filter[i - 1]))) {
            return std::string("il filtro contiene un testo delimitato da $");
        }
    }
    if (depth != 0)
        return std::string("parentesi non bilanciate");
    return std::nullopt;
}

/// The columns of a cube's aggregate: its dimensions, its measures and "fact_count".
std::vector<std::string> aggregateColumns(const CubeDef& cube)
{
    std::vector<std::string> out;
    out.reserve(cube.dimensions.size() + cube.measures.size() + 1);
    for (const auto& d : cube.dimensions)
        out.push_back(d.name);
    for (const auto& m : cube.measures)
        out.push_back(m.name);
    out.push_back("fact_count");
    return out;
}

std::optional<OlapError> cubeDefinitionError(const CubeDef& cube)
{
    if (cube.sourceTable.empty())
        return OlapError{kErrOlapDefinition, "Il cubo " + cube.name + " non ha una tabella dei fatti", kOlapSource};
    for (const auto& m : cube.measures)
        if (!validAggregate(m.aggregate) || (m.column.empty() && m.aggregate != "count"))
            return OlapError{kErrOlapDefinition, "Misura non valida nel cubo " + cube.name + ": " + m.name,
                             kOlapSource};
    if (const auto why = notOneCondition(cube.sourceTableFilter))
        return OlapError{kErrOlapDefinition,
                         "Filtro non valido nel cubo " + cube.name + ": " + *why +
                             ". Il filtro deve essere una sola "
                             "condizione SQL.",
                         kOlapSource};
    return std::nullopt;
}

std::string markQuery(db::Dialect dialect, const CubeDef& cube, const std::string& above)
{
    if (cube.incrementalColumn.empty())
        return {};
    const std::string column = sourceId(dialect, cube.incrementalColumn);
    std::string sql = "SELECT MAX(" + column + ") FROM " + sourceId(dialect, cube.sourceTable);
    if (!above.empty())
        sql += " WHERE " + column + " > " + markLiteral(above);
    return sql;
}

bool mergesNewFacts(const CubeDef& cube, const CubeRebuild& rebuild)
{
    return rebuild.type == ProcessType::Incremental && !rebuild.prior.empty() && !cube.incrementalColumn.empty() &&
           !cube.incrementalMark.empty();
}

namespace {

/// The facts of `cube` aggregated by its dimensions, optionally limited by `extraCondition`.
std::string aggregateSelect(db::Dialect dialect, const CubeDef& cube, const std::string& extraCondition)
{
    std::string cols, group;
    for (const auto& d : cube.dimensions) {
        const std::string col = sourceId(dialect, d.column.empty() ? d.name : d.column);
        cols += col + " AS " + quoteId(d.name) + ", ";
        group += (group.empty() ? "" : ", ") + col;
    }
    for (const auto& m : cube.measures) {
        const std::string arg = m.aggregate == "count" && m.column.empty() ? "*" : sourceId(dialect, m.column);
        cols += text::upperAscii(m.aggregate) + "(" + arg + ") AS " + quoteId(m.name) + ", ";
    }
    cols += "COUNT(*) AS \"fact_count\"";
    std::string sql = "SELECT " + cols + " FROM " + sourceId(dialect, cube.sourceTable);
    if (!cube.sourceTableAlias.empty())
        sql += " AS " + sourceId(dialect, cube.sourceTableAlias);
    std::string where;
    if (!cube.sourceTableFilter.empty())
        where = "(" + cube.sourceTableFilter + ")";
    if (!extraCondition.empty())
        where += (where.empty() ? "" : " AND ") + extraCondition;
    if (!where.empty())
        sql += " WHERE " + where;
    if (!group.empty())
        sql += " GROUP BY " + group;
    return sql;
}

/// The facts up to `mark`, as a condition on the incremental column; empty without a mark.
std::string upTo(db::Dialect dialect, const CubeDef& cube, const std::string& mark)
{
    return mark.empty() ? std::string() : sourceId(dialect, cube.incrementalColumn) + " <= " + markLiteral(mark);
}

/// The previous aggregate and the facts above its mark, folded together by the dimensions.
std::string mergeSelect(const CubeDef& cube, const CubeRebuild& r)
{
    std::string keys, folded, group, cols;
    for (const auto& d : cube.dimensions) {
        keys += quoteId(d.name) + ", ";
        group += (group.empty() ? "" : ", ") + quoteId(d.name);
    }
    for (const auto& m : cube.measures) {
        cols += quoteId(m.name) + ", ";
        folded += reaggregate(m.aggregate) + "(" + quoteId(m.name) + ") AS " + quoteId(m.name) + ", ";
    }
    const std::string added =
        aggregateSelect(r.dialect, cube,
                        sourceId(r.dialect, cube.incrementalColumn) + " > " + markLiteral(cube.incrementalMark) +
                            " AND " + upTo(r.dialect, cube, r.newMark));
    std::string merge = "SELECT " + keys + folded + "SUM(\"fact_count\") AS \"fact_count\" FROM (SELECT " + keys +
                        cols + "\"fact_count\" FROM " + quoteId(r.prior) + " UNION ALL " + added + ") u";
    if (!group.empty())
        merge += " GROUP BY " + group;
    return merge;
}

/// The statements that fold the new facts into the previous aggregate.
std::vector<std::string> mergeStatements(const CubeDef& cube, const CubeRebuild& r, const std::string& own)
{
    const std::string agg = quoteId(own);
    const std::string merge = mergeSelect(cube, r);
    if (r.prior != own) {
        // The base still has an earlier name: the merge becomes the cube's own table.
        return {"CREATE TABLE " + agg + " AS " + merge};
    }
    if (const std::string temp = temporarySchema(r.dialect); !temp.empty()) {
        // Creating, dropping or renaming a table in the target costs as much as its
        // schema is long (thousands of cubes' tables): the merge is built in a
        // temporary table of this connection and replaces the rows of the cube's own
        // table, so adding a day's facts costs the same however many cubes there are.
        // Its name holds no underscore: SQLite looks up the part of a new table's name
        // before the last one among all the target's tables (a look-up that, missing,
        // costs as much as the target has tables), and the table lives only inside this
        // transaction of this connection, so one name serves every cube.
        const std::string tempName = "olapfusione";
        const std::string fresh = temp + "." + quoteId(tempName);
        std::string list;
        for (const auto& col : aggregateColumns(cube))
            list += (list.empty() ? "" : ", ") + quoteId(col);
        return {"DROP TABLE IF EXISTS " + fresh, "CREATE TEMPORARY TABLE " + quoteId(tempName) + " AS " + merge,
                "DELETE FROM " + agg, "INSERT INTO " + agg + " (" + list + ") SELECT " + list + " FROM " + fresh,
                "DROP TABLE " + fresh};
    }
    const std::string fresh = quoteId(olapTableName("olapnew_", r.server, r.database, cube.name));
    return {"DROP TABLE IF EXISTS " + fresh, "CREATE TABLE " + fresh + " AS " + merge, "DROP TABLE IF EXISTS " + agg,
            "ALTER TABLE " + fresh + " RENAME TO " + agg};
}

/// The statements that aggregate all the facts up to the new mark.
std::vector<std::string> fullStatements(const CubeDef& cube, const CubeRebuild& r, const std::string& own)
{
    const std::string agg = quoteId(own);
    const std::string select = aggregateSelect(r.dialect, cube, upTo(r.dialect, cube, r.newMark));
    // On SQLite every CREATE and DROP walks the whole schema, which grows with every cube: a
    // rebuild of an aggregate that already holds the cube's columns reloads its rows instead,
    // whatever the choice (a full one, or an incremental one that has no mark to merge from),
    // so processing many cubes again costs the same per cube.
    if ((r.type == ProcessType::RefreshData || r.dialect == db::Dialect::Sqlite) && r.prior == own)
        return {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + select};
    return {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + select};
}

} // namespace

std::vector<std::string> rebuildStatements(const CubeDef& cube, const CubeRebuild& rebuild)
{
    const std::string own = cube.aggregateTable(rebuild.server, rebuild.database);
    if (!mergesNewFacts(cube, rebuild))
        return fullStatements(cube, rebuild, own);
    if (rebuild.newMark != cube.incrementalMark)
        return mergeStatements(cube, rebuild, own);
    if (rebuild.prior != own) {
        // Nothing new, but the aggregate still has its old name: it is copied under the new one.
        return {"CREATE TABLE " + quoteId(own) + " AS SELECT * FROM " + quoteId(rebuild.prior)};
    }
    return {};
}

} // namespace zs::olap
