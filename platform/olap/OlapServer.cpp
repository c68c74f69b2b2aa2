#include "olap/OlapServer.h"

#include "olap/CubePlan_p.h"

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

constexpr const char* kSource = kOlapSource;

std::string quoteText(const std::string& text)
{
    return db::sqlLiteral(text);
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

/// One object's rebuild as one transaction: statements run in order, and on the first failure
/// everything since begin() is rolled back, so the previous tables and state stand. The
/// connection's command time-out bounds the whole rebuild, not each of its statements: a table
/// another session holds is waited for once. The rollback is not bounded by it.
class Rebuild {
  public:
    /// `failStatement`: OlapServer::failStatement, which must outlive the rebuild.
    Rebuild(db::Connection& c, const std::function<bool(const std::string&)>& failStatement)
        : m_c(c)
        , m_failStatement(failStatement)
        , m_tx(c)
    {
        m_c.setTimeBudget(m_c.commandTimeout());
    }
    ~Rebuild() { m_c.setTimeBudget(0); }
    Rebuild(const Rebuild&) = delete;
    Rebuild& operator=(const Rebuild&) = delete;

    db::Connection& connection() { return m_c; }
    bool begin(const char* what) { return m_tx.begin() || failed(what); }
    /// Runs `sql`; false (and the error kept) when it fails.
    bool run(const std::string& sql, const char* what)
    {
        if (m_failStatement && m_failStatement(sql)) {
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
        m_c.setTimeBudget(0);
        m_tx.rollback();
        m_error.description += kKeptNote;
        return olap::fail(error, m_error);
    }

  private:
    db::Connection& m_c;
    const std::function<bool(const std::string&)>& m_failStatement;
    db::Transaction m_tx;
    OlapError m_error;
};

constexpr const char* kCubeFailed = "Elaborazione del cubo non riuscita";

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

/// Reads the mark the rebuild aggregates the facts up to into `plan.newMark`: the cube's own
/// mark or none, raised to the highest fact above it. Read before the facts are aggregated, so
/// a fact added in between is left for the next run instead of being counted twice or lost.
bool readNewMark(Rebuild& r, const CubeDef& cube, CubeRebuild& plan)
{
    plan.newMark = mergesNewFacts(cube, plan) ? cube.incrementalMark : std::string();
    const std::string sql = markQuery(plan.dialect, cube, plan.newMark);
    if (sql.empty())
        return true;
    auto rs = r.connection().query(sql);
    if (!rs)
        return r.failed("Lettura dei fatti non riuscita");
    const db::Value& v = rs->eof() ? db::Value() : rs->value(std::size_t{0});
    if (!v.isNull())
        plan.newMark = v.toString();
    return true;
}

/// Checks the rebuilt aggregate `table` and takes its size into the cube. Whatever the target
/// did with the name, the aggregate now holds this cube's columns or the rebuild fails: another
/// object's table is never reported as this cube's. With nothing `rebuilt`, the aggregate is
/// the cube's own table, whose columns priorAggregate read.
bool takeAggregate(Rebuild& r, CubeDef& cube, const std::string& table, bool rebuilt)
{
    db::Connection& c = r.connection();
    if (rebuilt && tableColumns(c, table) != aggregateColumns(cube))
        return r.error({kErrOlapDefinition,
                        "La tabella " + table + " non contiene le colonne del cubo " + cube.name +
                            ": contiene i dati di un altro oggetto.",
                        kSource});
    auto rs = c.query("SELECT COUNT(*) FROM " + quoteId(table));
    if (!rs)
        return r.failed(kCubeFailed);
    cube.estimatedRows = rs->eof() ? 0.0 : static_cast<double>(rs->value(std::size_t{0}).toInt().value_or(0));
    cube.estimatedSize =
        cube.estimatedRows * 8.0 * static_cast<double>(cube.dimensions.size() + cube.measures.size() + 1);
    return true;
}

/// Rebuilds the aggregate of `cube` (not virtual) inside `r`, begun here; the cube takes the
/// new mark and size. False with the failure kept in `r`.
bool buildCube(Rebuild& r, const std::string& server, const OlapDatabaseDef& db, CubeDef& cube, ProcessType type)
{
    if (auto e = cubeDefinitionError(cube))
        return r.error(std::move(*e));
    db::Connection& c = r.connection();
    CubeRebuild plan{c.dialect(), type, server, db.name, priorAggregate(c, server, db.name, cube, type), {}};
    if (!r.begin(kCubeFailed) || !readNewMark(r, cube, plan))
        return false;
    const std::vector<std::string> sql = rebuildStatements(cube, plan);
    if (!r.runAll(sql, kCubeFailed) || !takeAggregate(r, cube, cube.aggregateTable(server, db.name), !sql.empty()))
        return false;
    cube.incrementalMark = plan.newMark;
    return true;
}

} // namespace

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
    Rebuild r(*c, failStatement);
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
    Rebuild r(*c, failStatement);
    if (next.isVirtual()) {
        if (!buildVirtualCube(*db, next, error))
            return false;
        if (!r.begin(what))
            return r.fail(error);
    } else if (!buildCube(r, m_server, *db, next, type)) {
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
