#include "olap/OlapServer.h"

#include "db/Connection.h"
#include "db/SqlText.h"
#include "text/Ascii.h"
#include "time/Clock.h"

#include <charconv>

namespace zs::olap {

namespace {

constexpr const char* kSource = "zs::olap";

std::string quoteId(const std::string& name)
{
    return db::quoteSql(name, '"', '"');
}

std::string quoteText(const std::string& text)
{
    return db::sqlLiteral(text);
}

/// A stored mark as an SQL literal: a plain number as it stands, anything else quoted.
std::string markLiteral(const std::string& mark)
{
    double v = 0;
    const auto r = std::from_chars(mark.data(), mark.data() + mark.size(), v);
    if (!mark.empty() && r.ec == std::errc() && r.ptr == mark.data() + mark.size())
        return mark;
    return quoteText(mark);
}

OlapError fromDb(const db::Connection& c, const std::string& fallback)
{
    if (c.errors().empty())
        return {kErrOlapDefinition, fallback, kSource};
    const db::Error& e = c.errors().front();
    return {e.number, e.description, e.source};
}

bool fail(OlapError* error, OlapError e)
{
    if (error)
        *error = std::move(e);
    return false;
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

/// The facts of `cube` aggregated by its dimensions, optionally limited by `extraCondition`.
std::string aggregateSelect(const CubeDef& cube, const std::string& extraCondition)
{
    std::string cols, group;
    for (const auto& d : cube.dimensions) {
        const std::string col = quoteId(d.column.empty() ? d.name : d.column);
        cols += col + " AS " + quoteId(d.name) + ", ";
        group += (group.empty() ? "" : ", ") + col;
    }
    for (const auto& m : cube.measures) {
        const std::string arg = m.aggregate == "count" && m.column.empty() ? "*" : quoteId(m.column);
        cols += text::upperAscii(m.aggregate) + "(" + arg + ") AS " + quoteId(m.name) + ", ";
    }
    cols += "COUNT(*) AS \"fact_count\"";
    std::string sql = "SELECT " + cols + " FROM " + quoteId(cube.sourceTable);
    if (!cube.sourceTableAlias.empty())
        sql += " AS " + quoteId(cube.sourceTableAlias);
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

bool tableExists(db::Connection& c, const std::string& table)
{
    auto names = c.tableNames();
    if (!names)
        return false;
    for (const auto& n : *names)
        if (n == table)
            return true;
    return false;
}

/// Runs statements as one transaction on SQLite (so a failure leaves the old table), one by
/// one elsewhere. On failure `error` holds the failing statement's error, not the rollback's.
bool runAll(db::Connection& c, const std::vector<std::string>& statements, OlapError* error, const char* what)
{
    const bool tx = c.dialect() == db::Dialect::Sqlite;
    if (tx && !c.execute("BEGIN"))
        return fail(error, fromDb(c, what));
    for (const auto& s : statements) {
        if (!c.execute(s)) {
            fail(error, fromDb(c, what));
            if (tx)
                (void)c.execute("ROLLBACK");
            return false;
        }
    }
    if (tx && !c.execute("COMMIT")) {
        fail(error, fromDb(c, what));
        (void)c.execute("ROLLBACK");
        return false;
    }
    return true;
}

} // namespace

ProcessType processTypeForChoice(int aggiornamento)
{
    switch (aggiornamento) {
    case 1:
        return ProcessType::RefreshData;
    case 2:
        return ProcessType::Incremental;
    default:
        return ProcessType::Full;
    }
}

OlapServer::OlapServer(std::filesystem::path folder, const time::Clock& clock)
    : m_folder(std::move(folder))
    , m_clock(clock)
{}

OlapServer::~OlapServer()
{
    CloseServer();
}

bool OlapServer::Connect(const std::string& server, OlapError* error)
{
    CloseServer();
    const auto path = catalogPath(m_folder, server);
    if (!path)
        return fail(error, {kErrOlapNotConnected, "Nome del server OLAP non valido: " + server, kSource});
    if (!std::filesystem::exists(*path))
        return fail(error, {kErrOlapNotConnected, "Server OLAP sconosciuto: " + server, kSource});
    m_catalog = loadCatalog(*path, error);
    if (!m_catalog)
        return false;
    m_file = *path;
    return true;
}

void OlapServer::CloseServer()
{
    m_connections.clear();
    m_catalog.reset();
    m_file.clear();
}

OlapDatabaseDef* OlapServer::database(const std::string& name)
{
    return m_catalog ? m_catalog->database(name) : nullptr;
}

db::Connection* OlapServer::target(OlapDatabaseDef& db, OlapError* error)
{
    auto& slot = m_connections[db.name];
    if (slot && slot->isOpen())
        return slot.get();
    slot = std::make_unique<db::Connection>();
    slot->setCommandTimeout(0);
    if (!slot->open(db.connectionString)) {
        fail(error, fromDb(*slot, "Database di destinazione non raggiungibile"));
        slot.reset();
        return nullptr;
    }
    return slot.get();
}

bool OlapServer::record(OlapError* error)
{
    return saveCatalog(*m_catalog, m_file, error, m_ops);
}

bool OlapServer::processDimension(const std::string& database, const std::string& dimension, ProcessType type,
                                  OlapError* error)
{
    OlapDatabaseDef* db = this->database(database);
    if (!db)
        return fail(error, {kErrOlapNotFound, "Database OLAP inesistente: " + database, kSource});
    DimensionDef* dim = db->dimension(dimension);
    if (!dim)
        return fail(error, {kErrOlapNotFound, "Dimensione inesistente: " + dimension, kSource});
    if (dim->table.empty() || dim->column.empty())
        return fail(error, {kErrOlapDefinition, "Dimensione senza tabella o colonna: " + dimension, kSource});
    db::Connection* c = target(*db, error);
    if (!c)
        return false;

    const std::string table = quoteId("olapdim_" + dim->name);
    const std::string members =
        "SELECT DISTINCT " + quoteId(dim->column) + " AS \"member\" FROM " + quoteId(dim->table);
    std::vector<std::string> sql;
    if (type == ProcessType::Incremental && dim->state != 0 && tableExists(*c, "olapdim_" + dim->name)) {
        sql.push_back("INSERT INTO " + table + " (\"member\") SELECT DISTINCT t." + quoteId(dim->column) + " FROM " +
                      quoteId(dim->table) + " t WHERE NOT EXISTS (SELECT 1 FROM " + table +
                      " d WHERE d.\"member\" = t." + quoteId(dim->column) + ")");
    } else {
        sql.push_back("DROP TABLE IF EXISTS " + table);
        sql.push_back("CREATE TABLE " + table + " AS " + members);
    }
    if (!runAll(*c, sql, error, "Elaborazione della dimensione non riuscita"))
        return false;
    long count = 0;
    if (auto rs = c->query("SELECT COUNT(*) FROM " + table); rs && !rs->eof())
        count = static_cast<long>(rs->value(std::size_t{0}).toInt().value_or(0));
    if (onProgress)
        onProgress(dim->name, count);
    dim->state = 1;
    dim->lastProcessed = m_clock.now();
    return record(error);
}

bool OlapServer::processCube(const std::string& database, const std::string& cube, ProcessType type, OlapError* error)
{
    OlapDatabaseDef* db = this->database(database);
    if (!db)
        return fail(error, {kErrOlapNotFound, "Database OLAP inesistente: " + database, kSource});
    CubeDef* def = db->cube(cube);
    if (!def)
        return fail(error, {kErrOlapNotFound, "Cubo inesistente: " + cube, kSource});
    if (def->isVirtual()) {
        if (!buildVirtualCube(*db, *def, error))
            return false;
    } else {
        db::Connection* c = target(*db, error);
        if (!c || !buildCube(*c, *def, type, error))
            return false;
    }
    def->state = 1;
    def->lastProcessed = m_clock.now();
    def->lastUpdated = def->lastProcessed;
    if (onProgress)
        onProgress(def->name, static_cast<long>(def->estimatedRows));
    return record(error);
}

bool OlapServer::buildCube(db::Connection& c, CubeDef& cube, ProcessType type, OlapError* error)
{
    if (cube.sourceTable.empty())
        return fail(error, {kErrOlapDefinition, "Il cubo " + cube.name + " non ha una tabella dei fatti", kSource});
    for (const auto& m : cube.measures)
        if (!validAggregate(m.aggregate) || (m.column.empty() && m.aggregate != "count"))
            return fail(error,
                        {kErrOlapDefinition, "Misura non valida nel cubo " + cube.name + ": " + m.name, kSource});

    const std::string aggName = cube.aggregateTable();
    const std::string agg = quoteId(aggName);
    const std::string fresh = quoteId(aggName + "__new");
    const bool haveTable = cube.state != 0 && tableExists(c, aggName);
    const std::string incCol = cube.incrementalColumn.empty() ? "" : quoteId(cube.incrementalColumn);

    // The new mark is read before the facts are aggregated, so a fact added in between is
    // left for the next run instead of being counted twice or lost.
    std::string newMark = cube.incrementalMark;
    auto readMark = [&](const std::string& above) -> bool {
        if (incCol.empty())
            return true;
        std::string sql = "SELECT MAX(" + incCol + ") FROM " + quoteId(cube.sourceTable);
        if (!above.empty())
            sql += " WHERE " + incCol + " > " + markLiteral(above);
        auto rs = c.query(sql);
        if (!rs)
            return false;
        const db::Value& v = rs->eof() ? db::Value() : rs->value(std::size_t{0});
        if (!v.isNull())
            newMark = v.toString();
        return true;
    };
    auto upTo = [&](const std::string& mark) {
        return mark.empty() ? std::string() : incCol + " <= " + markLiteral(mark);
    };

    std::vector<std::string> sql;
    if (type == ProcessType::Incremental && haveTable && !incCol.empty() && !cube.incrementalMark.empty()) {
        const std::string old = cube.incrementalMark;
        if (!readMark(old))
            return fail(error, fromDb(c, "Lettura dei fatti non riuscita"));
        if (newMark == old) {
            // nothing new: the aggregate stands as it is
        } else {
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
                aggregateSelect(cube, incCol + " > " + markLiteral(old) + " AND " + upTo(newMark));
            std::string merge = "SELECT " + keys + folded + "SUM(\"fact_count\") AS \"fact_count\" FROM (SELECT " +
                                keys + cols + "\"fact_count\" FROM " + agg + " UNION ALL " + added + ") u";
            if (!group.empty())
                merge += " GROUP BY " + group;
            sql = {"DROP TABLE IF EXISTS " + fresh, "CREATE TABLE " + fresh + " AS " + merge, "DROP TABLE " + agg,
                   "ALTER TABLE " + fresh + " RENAME TO " + agg};
        }
    } else {
        newMark.clear();
        if (!readMark(""))
            return fail(error, fromDb(c, "Lettura dei fatti non riuscita"));
        const std::string select = aggregateSelect(cube, upTo(newMark));
        if (type == ProcessType::RefreshData && haveTable)
            sql = {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + select};
        else
            sql = {"DROP TABLE IF EXISTS " + fresh, "CREATE TABLE " + fresh + " AS " + select,
                   "DROP TABLE IF EXISTS " + agg, "ALTER TABLE " + fresh + " RENAME TO " + agg};
    }
    if (!sql.empty() && !runAll(c, sql, error, "Elaborazione del cubo non riuscita"))
        return false;

    if (auto rs = c.query("SELECT COUNT(*) FROM " + agg); rs && !rs->eof())
        cube.estimatedRows = static_cast<double>(rs->value(std::size_t{0}).toInt().value_or(0));
    cube.estimatedSize =
        cube.estimatedRows * 8.0 * static_cast<double>(cube.dimensions.size() + cube.measures.size() + 1);
    cube.incrementalMark = newMark;
    return true;
}

bool OlapServer::buildVirtualCube(OlapDatabaseDef& db, CubeDef& cube, OlapError* error)
{
    double rows = 0, size = 0;
    for (const auto& name : cube.sourceCubes) {
        const CubeDef* src = db.cube(name);
        if (!src || src->isVirtual())
            return fail(error, {kErrOlapDefinition, "Cubo di origine inesistente: " + name, kSource});
        if (src->state == 0)
            return fail(error, {kErrOlapDefinition, "Il cubo di origine " + name + " non è elaborato", kSource});
        rows += src->estimatedRows;
        size += src->estimatedSize;
    }
    cube.estimatedRows = rows;
    cube.estimatedSize = size;
    return true;
}

} // namespace zs::olap
