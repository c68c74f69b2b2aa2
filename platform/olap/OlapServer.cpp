#include "olap/OlapServer.h"

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/SqlText.h"
#include "db/Transaction.h"
#include "text/Ascii.h"
#include "time/Clock.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace zs::olap {

namespace {

constexpr const char* kSource = "ZentrikServer";

std::string quoteId(const std::string& name)
{
    return db::quoteSql(name, '"', '"');
}

std::string quoteText(const std::string& text)
{
    return db::sqlLiteral(text);
}

bool plainName(const std::string& name)
{
    if (name.empty() || (name.front() >= '0' && name.front() <= '9'))
        return false;
    for (const char ch : name)
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'))
            return false;
    return true;
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

/// Why `cube` (not virtual) cannot be built as declared: no fact table, a measure that is not
/// one, a filter that is not one condition. Nothing when it can.
std::optional<OlapError> cubeDefinitionError(const CubeDef& cube)
{
    if (cube.sourceTable.empty())
        return OlapError{kErrOlapDefinition, "Il cubo " + cube.name + " non ha una tabella dei fatti", kSource};
    for (const auto& m : cube.measures)
        if (!validAggregate(m.aggregate) || (m.column.empty() && m.aggregate != "count"))
            return OlapError{kErrOlapDefinition, "Misura non valida nel cubo " + cube.name + ": " + m.name, kSource};
    if (const auto why = notOneCondition(cube.sourceTableFilter))
        return OlapError{kErrOlapDefinition,
                         "Filtro non valido nel cubo " + cube.name + ": " + *why +
                             ". Il filtro deve essere una sola "
                             "condizione SQL.",
                         kSource};
    return std::nullopt;
}

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

/// Whether the target holds a table or view that the quoted name `table` finds, asked of the
/// target for that one name: the cost stays the same however many tables the target holds. On
/// SQLite, which ignores the case of table names, a name differing only in case counts.
bool tableExists(db::Connection& c, const std::string& table)
{
    std::string sql;
    switch (c.dialect()) {
    case db::Dialect::Sqlite: {
        // Found in the schema the connection keeps, as a statement naming the table finds it
        // (sqlite_master itself has no index on the name). The PRAGMA itself, not the table
        // function of the same name: SQLite looks up every name of a statement in a table whose
        // chains grow with the number of tables, and the function adds three such look-ups.
        auto rs = c.query("PRAGMA table_info(" + quoteText(table) + ")");
        return rs && !rs->eof();
    }
    case db::Dialect::PostgreSql:
        sql = "SELECT CASE WHEN to_regclass(" + quoteText(quoteId(table)) + ") IS NULL THEN 0 ELSE 1 END";
        break;
    case db::Dialect::SqlServer:
        sql = "SELECT CASE WHEN OBJECT_ID(" + quoteText(db::quoteSql(table, '[', ']')) + ") IS NULL THEN 0 ELSE 1 END";
        break;
    default: {
        auto names = c.tableNames();
        return names && std::find(names->begin(), names->end(), table) != names->end();
    }
    }
    auto rs = c.query(sql);
    return rs && !rs->eof() && rs->value(std::size_t{0}).toInt().value_or(0) > 0;
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

/// Whether the target compares table names without regard to letter case.
bool caseBlindNames(db::Dialect dialect)
{
    return dialect == db::Dialect::Sqlite || dialect == db::Dialect::SqlServer;
}

constexpr const char* kStateTable = "olap_stato";

/// Whether `earlier`, a name an earlier version gave the aggregate of cube `cube`, may hold
/// another cube's rows: on a target that ignores the case of table names, olap_stato records
/// another cube whose key (the parts of the name) differs from this one only in letter case, so
/// both were written into that one table. True as well when the question cannot be answered.
bool earlierTableShared(db::Connection& c, const EarlierTableName& earlier, const std::string& cube)
{
    if (!caseBlindNames(c.dialect()) || !tableExists(c, kStateTable))
        return false;
    std::vector<std::pair<const char*, std::string>> key;
    if (earlier.server)
        key.emplace_back("server", *earlier.server);
    if (earlier.database)
        key.emplace_back("database", *earlier.database);
    key.emplace_back("nome", cube);
    std::string sameButCase, exact;
    for (const auto& [column, value] : key) {
        sameButCase += " AND lower(\"" + std::string(column) + "\") = lower(" + quoteText(value) + ")";
        exact += (exact.empty() ? "\"" : " AND \"") + std::string(column) + "\" = " + quoteText(value);
    }
    auto rs = c.query("SELECT COUNT(*) FROM \"" + std::string(kStateTable) + "\" WHERE \"oggetto\" = 'cubo'" +
                      sameButCase + " AND NOT (" + exact + ")");
    return !rs || rs->eof() || rs->value(std::size_t{0}).toInt().value_or(1) != 0;
}

/// The columns of `table` in order, as the target reports them; nothing when it cannot be read.
std::optional<std::vector<std::string>> tableColumns(db::Connection& c, const std::string& table)
{
    auto rs = c.query("SELECT * FROM " + quoteId(table) + " WHERE 1 = 0");
    if (!rs)
        return std::nullopt;
    std::vector<std::string> out;
    out.reserve(rs->columns().size());
    for (const auto& col : rs->columns())
        out.push_back(col.name);
    return out;
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

/// Whether `table` holds the columns of a cube's aggregate, `columns`.
bool holdsColumns(db::Connection& c, const std::string& table, const std::vector<std::string>& columns)
{
    return tableExists(c, table) && tableColumns(c, table) == columns;
}

/// The table holding the cube's previous aggregate with the cube's columns (a catalog that
/// changed the cube's dimensions or measures leaves one that does not: the cube is then built
/// whole); empty when there is none.
std::string priorAggregate(db::Connection& c, const std::string& server, const std::string& database,
                           const CubeDef& cube, ProcessType type)
{
    if (cube.state == kStateUnprocessed)
        return {};
    const std::string own = cube.aggregateTable(server, database);
    const std::vector<std::string> columns = aggregateColumns(cube);
    if (holdsColumns(c, own, columns))
        return own;
    if (type != ProcessType::Incremental || tableExists(c, own))
        return {};
    // A cube without a table of its own may still have its base under a name of an earlier
    // version. On a target that ignores case, a table another object's name reached as well is
    // not taken. A table of its own with other columns is rebuilt whole instead.
    for (const EarlierTableName& earlier : cube.earlierAggregateTables(server, database))
        if (holdsColumns(c, earlier.table, columns) && !earlierTableShared(c, earlier, cube.name))
            return earlier.table;
    return {};
}

/// A SQLite file named relative to the program folder, whatever the current folder is.
std::string anchoredConnection(const std::string& text, const std::filesystem::path& folder)
{
    db::Error resolveError;
    const auto target = db::resolveConnectionString(text, resolveError);
    std::string parseError;
    auto parsed = db::ConnectionString::parse(text, parseError);
    if (!target || target->kind != db::ConnectionTarget::Kind::Sqlite || !parsed)
        return text;
    const std::optional<std::string> source = parsed->get("Data Source");
    if (!source || source->empty() || (*source)[0] == '/' || (*source)[0] == '\\' ||
        source->find(':') != std::string::npos)
        return text;
    std::string relative = *source;
    for (char& ch : relative)
        if (ch == '\\')
            ch = '/';
    parsed->set("Data Source", (folder / relative).string());
    return parsed->toOdbc();
}

constexpr const char* kKindDimension = "dimensione";
constexpr const char* kKindCube = "cubo";
constexpr const char* kKeptNote = " I dati dell'elaborazione precedente restano in uso.";

std::string numberText(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string dateLiteral(const std::optional<time::DateTime>& d)
{
    return d ? quoteText(time::toIso(*d)) : "NULL";
}

std::optional<time::DateTime> dateValue(const std::string& text)
{
    return text.empty() ? std::nullopt : time::parseIso(text);
}

double doubleValue(const std::string& text)
{
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

constexpr const char* kStateColumns =
    "\"database\", \"oggetto\", \"nome\", \"stato\", \"ultima_elaborazione\", \"ultimo_aggiornamento\", "
    "\"righe_stimate\", \"dimensione_stimata\", \"segno_incrementale\", \"tabella\", \"server\"";

/// Whether olap_stato has the column "server" that keys its rows by OLAP server (tables that
/// earlier versions made have not).
bool stateTableHasServer(db::Connection& c)
{
    auto rs = c.query("SELECT * FROM \"" + std::string(kStateTable) + "\" WHERE 1 = 0");
    if (!rs)
        return false;
    for (const auto& col : rs->columns())
        if (text::lowerAscii(col.name) == "server")
            return true;
    return false;
}

/// The index that finds an object's row in olap_stato without reading the others (the rows of
/// 10,000 cubes are replaced one by one); empty where the target's SQL has no IF NOT EXISTS for it.
std::string stateIndexStatement(db::Dialect dialect)
{
    if (dialect != db::Dialect::Sqlite && dialect != db::Dialect::PostgreSql)
        return {};
    return "CREATE INDEX IF NOT EXISTS \"olap_stato_oggetto\" ON \"" + std::string(kStateTable) +
           "\" (\"server\", \"database\", \"oggetto\", \"nome\")";
}

/// The statements that make olap_stato hold rows keyed by server: the table when missing, the
/// column "server" when an earlier version made the table without it.
std::vector<std::string> stateTableStatements(db::Connection& c)
{
    std::vector<std::string> sql;
    if (!tableExists(c, kStateTable))
        sql.push_back("CREATE TABLE \"" + std::string(kStateTable) +
                      "\" (\"database\" TEXT, \"oggetto\" TEXT, \"nome\" TEXT, \"stato\" INTEGER, "
                      "\"ultima_elaborazione\" TEXT, \"ultimo_aggiornamento\" TEXT, \"righe_stimate\" DOUBLE "
                      "PRECISION, \"dimensione_stimata\" DOUBLE PRECISION, \"segno_incrementale\" TEXT, "
                      "\"tabella\" TEXT, \"server\" TEXT)");
    else if (!stateTableHasServer(c))
        sql.push_back("ALTER TABLE \"" + std::string(kStateTable) + "\" ADD COLUMN \"server\" TEXT");
    else
        return sql;
    if (const std::string index = stateIndexStatement(c.dialect()); !index.empty())
        sql.push_back(index);
    return sql;
}

/// The statements that record one object's state: its row of this server replaced in
/// olap_stato. Rows earlier versions wrote without a server stay as they were. `keyedTable`:
/// olap_stato is known to hold the column "server" already, so it is not asked again.
std::vector<std::string> stateStatements(db::Connection& c, const std::string& server, const std::string& database,
                                         const char* kind, const std::string& name, int state,
                                         const std::optional<time::DateTime>& lastProcessed,
                                         const std::optional<time::DateTime>& lastUpdated, double rows, double size,
                                         const std::string& mark, const std::string& table, bool keyedTable)
{
    std::vector<std::string> sql;
    if (!keyedTable)
        sql = stateTableStatements(c);
    const std::string key = " WHERE \"server\" = " + quoteText(server) + " AND \"database\" = " + quoteText(database) +
                            " AND \"oggetto\" = " + quoteText(kind) + " AND \"nome\" = " + quoteText(name);
    sql.push_back("DELETE FROM \"" + std::string(kStateTable) + "\"" + key);
    sql.push_back("INSERT INTO \"" + std::string(kStateTable) + "\" (" + kStateColumns + ") VALUES (" +
                  quoteText(database) + ", " + quoteText(kind) + ", " + quoteText(name) + ", " + std::to_string(state) +
                  ", " + dateLiteral(lastProcessed) + ", " + dateLiteral(lastUpdated) + ", " + numberText(rows) + ", " +
                  numberText(size) + ", " + quoteText(mark) + ", " + quoteText(table) + ", " + quoteText(server) + ")");
    return sql;
}

} // namespace

/// One object's rebuild as one transaction: statements run in order, and on the first failure
/// everything since begin() is rolled back, so the previous tables and state stand.
class OlapServer::Rebuild {
  public:
    Rebuild(db::Connection& c, const OlapServer& server)
        : m_c(c)
        , m_server(server)
        , m_tx(c)
    {}

    db::Connection& connection() { return m_c; }
    bool begin(const char* what) { return m_tx.begin() || failed(what); }
    /// Runs `sql`; false (and the error kept) when it fails.
    bool run(const std::string& sql, const char* what)
    {
        if (m_server.failStatement && m_server.failStatement(sql)) {
            m_error = {kErrOlapDefinition, std::string(what) + ": istruzione rifiutata", kSource};
            return false;
        }
        // Each statement of a rebuild runs as exactly one prepared statement: nothing a
        // catalog holds can add a second one.
        return m_c.executeSingle(sql) || failed(what);
    }
    bool runAll(const std::vector<std::string>& statements, const char* what)
    {
        for (const auto& s : statements)
            if (!run(s, what))
                return false;
        return true;
    }
    bool commit(const char* what) { return m_tx.commit() || failed(what); }
    /// Keeps a failure found before any statement ran (a badly declared object).
    bool error(OlapError e)
    {
        m_error = std::move(e);
        return false;
    }
    /// Keeps the database's error for a step that is not a statement (a query that read nothing).
    bool failed(const char* what)
    {
        m_error = fromDb(m_c, what);
        return false;
    }
    /// Rolls back and gives the failure, saying that the previous data stand.
    bool fail(OlapError* error)
    {
        m_tx.rollback();
        m_error.description += kKeptNote;
        return olap::fail(error, m_error);
    }

  private:
    db::Connection& m_c;
    const OlapServer& m_server;
    db::Transaction m_tx;
    OlapError m_error;
};

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
    m_server = server;
    return true;
}

void OlapServer::CloseServer()
{
    m_connections.clear();
    m_stateRead.clear();
    m_stateKeyed.clear();
    m_catalog.reset();
    m_file.clear();
    m_server.clear();
}

OlapDatabaseDef* OlapServer::database(const std::string& name)
{
    return m_catalog ? m_catalog->database(name) : nullptr;
}

OlapDatabaseDef* OlapServer::existingDatabase(const std::string& name, OlapError* error)
{
    OlapDatabaseDef* db = database(name);
    if (!db)
        fail(error, {kErrOlapNotFound, "Database OLAP inesistente: " + name, kSource});
    return db;
}

db::Connection* OlapServer::target(OlapDatabaseDef& db, OlapError* error)
{
    auto& slot = m_connections[db.name];
    if (slot && slot->isOpen())
        return slot.get();
    slot = std::make_unique<db::Connection>();
    m_stateKeyed.erase(db.name);
    slot->setCommandTimeout(m_commandTimeout);
    if (!slot->open(anchoredConnection(db.connectionString, m_folder))) {
        fail(error, fromDb(*slot, "Database di destinazione non raggiungibile"));
        slot.reset();
        return nullptr;
    }
    return slot.get();
}

bool OlapServer::loadState(const std::string& database, OlapError* error)
{
    OlapDatabaseDef* db = existingDatabase(database, error);
    if (!db)
        return false;
    db::Connection* c = target(*db, error);
    return c && readState(*db, *c);
}

bool OlapServer::readState(OlapDatabaseDef& db, db::Connection& c)
{
    if (m_stateRead[db.name])
        return true;
    m_stateRead[db.name] = true;
    if (!tableExists(c, kStateTable))
        return true; // nothing processed here yet: the catalog's state stands
    // This server's rows; rows written before they carried the server stand for any server
    // that has none of its own for the object, so they come first and its own rows override.
    const bool keyed = stateTableHasServer(c);
    if (const std::string index = stateIndexStatement(c.dialect()); keyed && !index.empty())
        (void)c.execute(index); // a table an earlier version made; without the index it still works
    std::string sql = "SELECT \"oggetto\", \"nome\", \"stato\", \"ultima_elaborazione\", \"ultimo_aggiornamento\", "
                      "\"righe_stimate\", \"dimensione_stimata\", \"segno_incrementale\" FROM \"" +
                      std::string(kStateTable) + "\" WHERE \"database\" = " + quoteText(db.name);
    if (keyed)
        sql += " AND (\"server\" IS NULL OR \"server\" = " + quoteText(m_server) +
               ") ORDER BY CASE WHEN \"server\" IS NULL THEN 0 ELSE 1 END";
    auto rs = c.query(sql);
    if (!rs)
        return false;
    for (; !rs->eof(); rs->moveNext()) {
        const std::string kind = rs->text("oggetto");
        const std::string name = rs->text("nome");
        const int state = static_cast<int>(doubleValue(rs->text("stato")));
        if (kind == kKindDimension) {
            if (DimensionDef* d = db.dimension(name)) {
                d->state = state;
                d->lastProcessed = dateValue(rs->text("ultima_elaborazione"));
            }
        } else if (kind == kKindCube) {
            if (CubeDef* cube = db.cube(name)) {
                cube->state = state;
                cube->lastProcessed = dateValue(rs->text("ultima_elaborazione"));
                cube->lastUpdated = dateValue(rs->text("ultimo_aggiornamento"));
                cube->estimatedRows = doubleValue(rs->text("righe_stimate"));
                cube->estimatedSize = doubleValue(rs->text("dimensione_stimata"));
                cube->incrementalMark = rs->text("segno_incrementale");
            }
        }
    }
    return true;
}

bool OlapServer::processDimension(const std::string& database, const std::string& dimension, ProcessType type,
                                  OlapError* error)
{
    OlapDatabaseDef* db = existingDatabase(database, error);
    if (!db)
        return false;
    DimensionDef* dim = db->dimension(dimension);
    if (!dim)
        return fail(error, {kErrOlapNotFound, "Dimensione inesistente: " + dimension, kSource});
    if (dim->table.empty() || dim->column.empty())
        return fail(error, {kErrOlapDefinition, "Dimensione senza tabella o colonna: " + dimension, kSource});
    db::Connection* c = target(*db, error);
    if (!c)
        return false;
    (void)readState(*db, *c);

    const char* what = "Elaborazione della dimensione non riuscita";
    const std::string tableName = dim->memberTable(m_server, db->name);
    const std::string table = quoteId(tableName);
    const std::string column = sourceId(c->dialect(), dim->column);
    const std::string source = sourceId(c->dialect(), dim->table);
    const bool haveTable = dim->state != kStateUnprocessed && tableExists(*c, tableName);
    std::vector<std::string> sql;
    if (type == ProcessType::Incremental && haveTable) {
        sql.push_back("INSERT INTO " + table + " (\"member\") SELECT DISTINCT t." + column + " FROM " + source +
                      " t WHERE NOT EXISTS (SELECT 1 FROM " + table + " d WHERE d.\"member\" = t." + column + ")");
    } else {
        sql.push_back("DROP TABLE IF EXISTS " + table);
        sql.push_back("CREATE TABLE " + table + " AS SELECT DISTINCT " + column + " AS \"member\" FROM " + source);
    }
    Rebuild r(*c, *this);
    if (!r.begin(what) || !r.runAll(sql, what))
        return r.fail(error);
    long count = 0;
    auto rs = c->query("SELECT COUNT(*) FROM " + table);
    if (!rs) {
        r.failed(what);
        return r.fail(error);
    }
    if (!rs->eof())
        count = static_cast<long>(rs->value(std::size_t{0}).toInt().value_or(0));
    const auto now = m_clock.now();
    if (!r.runAll(stateStatements(*c, m_server, db->name, kKindDimension, dim->name, kStateProcessed, now, now,
                                  static_cast<double>(count), 0, "", tableName, m_stateKeyed[db->name]),
                  what) ||
        !r.commit(what))
        return r.fail(error);
    m_stateKeyed[db->name] = true;
    if (onProgress)
        onProgress(dim->name, count);
    dim->state = kStateProcessed;
    dim->lastProcessed = now;
    return true;
}

bool OlapServer::processCube(const std::string& database, const std::string& cube, ProcessType type, OlapError* error)
{
    OlapDatabaseDef* db = existingDatabase(database, error);
    if (!db)
        return false;
    CubeDef* def = db->cube(cube);
    if (!def)
        return fail(error, {kErrOlapNotFound, "Cubo inesistente: " + cube, kSource});
    db::Connection* c = target(*db, error);
    if (!c)
        return false;
    (void)readState(*db, *c);

    // The rebuild works on a copy: the cube takes the new state only once it is committed.
    CubeDef next = *def;
    const char* what = "Elaborazione del cubo non riuscita";
    Rebuild r(*c, *this);
    if (next.isVirtual()) {
        if (!buildVirtualCube(*db, next, error))
            return false;
        if (!r.begin(what))
            return r.fail(error);
    } else if (!buildCube(r, *db, next, type)) {
        return r.fail(error);
    }
    next.state = kStateProcessed;
    next.lastProcessed = m_clock.now();
    next.lastUpdated = next.lastProcessed;
    if (!r.runAll(stateStatements(*c, m_server, db->name, kKindCube, next.name, next.state, next.lastProcessed,
                                  next.lastUpdated, next.estimatedRows, next.estimatedSize, next.incrementalMark,
                                  next.isVirtual() ? "" : next.aggregateTable(m_server, db->name),
                                  m_stateKeyed[db->name]),
                  what) ||
        !r.commit(what))
        return r.fail(error);
    m_stateKeyed[db->name] = true;
    *def = std::move(next);
    if (onProgress)
        onProgress(def->name, static_cast<long>(def->estimatedRows));
    return true;
}

bool OlapServer::buildCube(Rebuild& r, const OlapDatabaseDef& db, CubeDef& cube, ProcessType type)
{
    const char* what = "Elaborazione del cubo non riuscita";
    if (auto e = cubeDefinitionError(cube))
        return r.error(std::move(*e));

    db::Connection& c = r.connection();
    const db::Dialect dialect = c.dialect();
    const std::string aggName = cube.aggregateTable(m_server, db.name);
    const std::string agg = quoteId(aggName);
    const std::vector<std::string> columns = aggregateColumns(cube);
    const std::string prior = priorAggregate(c, m_server, db.name, cube, type);
    const std::string incCol = cube.incrementalColumn.empty() ? "" : sourceId(dialect, cube.incrementalColumn);
    if (!r.begin(what))
        return false;

    // The new mark is read before the facts are aggregated, so a fact added in between is
    // left for the next run instead of being counted twice or lost.
    std::string newMark = cube.incrementalMark;
    auto readMark = [&](const std::string& above) -> bool {
        if (incCol.empty())
            return true;
        std::string sql = "SELECT MAX(" + incCol + ") FROM " + sourceId(dialect, cube.sourceTable);
        if (!above.empty())
            sql += " WHERE " + incCol + " > " + markLiteral(above);
        auto rs = c.query(sql);
        if (!rs)
            return r.failed("Lettura dei fatti non riuscita");
        const db::Value& v = rs->eof() ? db::Value() : rs->value(std::size_t{0});
        if (!v.isNull())
            newMark = v.toString();
        return true;
    };
    auto upTo = [&](const std::string& mark) {
        return mark.empty() ? std::string() : incCol + " <= " + markLiteral(mark);
    };

    std::vector<std::string> sql;
    if (type == ProcessType::Incremental && !prior.empty() && !incCol.empty() && !cube.incrementalMark.empty()) {
        const std::string old = cube.incrementalMark;
        if (!readMark(old))
            return false;
        if (newMark != old) {
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
                aggregateSelect(dialect, cube, incCol + " > " + markLiteral(old) + " AND " + upTo(newMark));
            std::string merge = "SELECT " + keys + folded + "SUM(\"fact_count\") AS \"fact_count\" FROM (SELECT " +
                                keys + cols + "\"fact_count\" FROM " + quoteId(prior) + " UNION ALL " + added + ") u";
            if (!group.empty())
                merge += " GROUP BY " + group;
            if (prior != aggName) {
                // The base still has an earlier name: the merge becomes the cube's own table.
                sql = {"CREATE TABLE " + agg + " AS " + merge};
            } else if (const std::string temp = temporarySchema(dialect); !temp.empty()) {
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
                for (const auto& col : columns)
                    list += (list.empty() ? "" : ", ") + quoteId(col);
                sql = {"DROP TABLE IF EXISTS " + fresh, "CREATE TEMPORARY TABLE " + quoteId(tempName) + " AS " + merge,
                       "DELETE FROM " + agg, "INSERT INTO " + agg + " (" + list + ") SELECT " + list + " FROM " + fresh,
                       "DROP TABLE " + fresh};
            } else {
                const std::string fresh = quoteId(olapTableName("olapnew_", m_server, db.name, cube.name));
                sql = {"DROP TABLE IF EXISTS " + fresh, "CREATE TABLE " + fresh + " AS " + merge,
                       "DROP TABLE IF EXISTS " + agg, "ALTER TABLE " + fresh + " RENAME TO " + agg};
            }
        } else if (prior != aggName) {
            // Nothing new, but the aggregate still has its old name: it is copied under the new one.
            sql = {"CREATE TABLE " + agg + " AS SELECT * FROM " + quoteId(prior)};
        }
    } else {
        newMark.clear();
        if (!readMark(""))
            return false;
        const std::string select = aggregateSelect(dialect, cube, upTo(newMark));
        // On SQLite every CREATE and DROP reads the whole schema, which grows with every cube:
        // a full rebuild of an aggregate that already holds the cube's columns reloads its rows
        // instead, so processing many cubes again costs the same per cube.
        if ((type == ProcessType::RefreshData || (type == ProcessType::Full && dialect == db::Dialect::Sqlite)) &&
            prior == aggName)
            sql = {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + select};
        else
            sql = {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + select};
    }
    if (!r.runAll(sql, what))
        return false;
    // Whatever the target did with the name, the aggregate now holds this cube's columns or the
    // rebuild fails: another object's table is never reported as this cube's. With nothing run,
    // the aggregate is the cube's own table, whose columns were read above.
    if (!sql.empty() && tableColumns(c, aggName) != columns)
        return r.error({kErrOlapDefinition,
                        "La tabella " + aggName + " non contiene le colonne del cubo " + cube.name +
                            ": contiene i dati di un altro oggetto.",
                        kSource});

    auto rs = c.query("SELECT COUNT(*) FROM " + agg);
    if (!rs)
        return r.failed(what);
    cube.estimatedRows = rs->eof() ? 0.0 : static_cast<double>(rs->value(std::size_t{0}).toInt().value_or(0));
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
        if (src->state == kStateUnprocessed)
            return fail(error, {kErrOlapDefinition, "Il cubo di origine " + name + " non è elaborato", kSource});
        rows += src->estimatedRows;
        size += src->estimatedSize;
    }
    cube.estimatedRows = rows;
    cube.estimatedSize = size;
    return true;
}

} // namespace zs::olap
