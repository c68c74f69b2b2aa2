#include "dblink/LinkModule.h"
#include "db/SqlText.h"

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RecordSet.h"
#include "db/Value.h"
#include "text/Ascii.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zs::dblink {
namespace {

std::string quoteLiteral(const std::string& text)
{
    return db::sqlLiteral(text);
}

std::string quoteIdentifier(const std::string& name)
{
    return db::quoteSql(name, '"', '"');
}

/// A module argument as SQLite hands it over (the literal as written): quotes removed.
std::string unquote(const char* arg)
{
    const std::string s(text::trim(arg ? arg : "", " \t\n\v\f\r"));
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
        const char q = s.front();
        std::string out;
        for (std::size_t i = 1; i + 1 < s.size(); ++i) {
            out += s[i];
            if (s[i] == q && i + 2 < s.size() && s[i + 1] == q)
                ++i;
        }
        return out;
    }
    return s;
}

/// The remote table's name in the remote SQL: plain names stay unquoted so a server that folds
/// them (PostgreSQL) finds the table as the builder created it.
std::string remoteName(const std::string& name)
{
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.')
            return quoteIdentifier(name);
    return name;
}

/// Counts the statements a local connection starts, so a linked table knows when the
/// statement that filled its cache is over: the remote rows are read afresh by every statement.
struct StatementClock {
    std::uint64_t statement = 0;
    int tables = 0;
};

std::mutex g_clocksMutex;
std::map<sqlite3*, std::unique_ptr<StatementClock>> g_clocks;

int onStatement(unsigned, void* clock, void*, void*)
{
    ++static_cast<StatementClock*>(clock)->statement;
    return 0;
}

StatementClock* attachClock(sqlite3* db)
{
    std::lock_guard lock(g_clocksMutex);
    auto& clock = g_clocks[db];
    if (!clock) {
        clock = std::make_unique<StatementClock>();
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &onStatement, clock.get());
    }
    ++clock->tables;
    return clock.get();
}

void detachClock(sqlite3* db)
{
    std::lock_guard lock(g_clocksMutex);
    const auto it = g_clocks.find(db);
    if (it != g_clocks.end() && --it->second->tables == 0) {
        sqlite3_trace_v2(db, 0, nullptr, nullptr);
        g_clocks.erase(it);
    }
}

/// Every row of the remote table, read once, with the rows of each key of some columns: a
/// statement that looks rows up again and again (a join, a correlated update) reads the
/// remote table once instead of once a lookup.
struct RowCache {
    std::shared_ptr<const db::RecordSet> rows;
    std::unordered_multimap<std::string, std::size_t> index;
};

struct LinkTable {
    sqlite3_vtab base{};
    std::unique_ptr<db::Connection> remote; // probes, counts, the cache and the appended rows
    // The connections that read rows a batch at a time, one for each cursor reading at once
    // (a self-join reads the table twice together); kept for the next statements.
    std::string readerSource;
    std::vector<std::unique_ptr<db::Connection>> idleReaders;
    std::string table;
    std::vector<std::string> columns;
    std::vector<db::Value::Type> types; // as the remote reports them
    sqlite3* db = nullptr;
    StatementClock* clock = nullptr;
    // Lookups by the same equality columns within one statement, counted until the cache pays.
    std::uint64_t statement = 0;
    std::string lookupPlan;
    int lookups = 0;
    std::shared_ptr<const RowCache> cache;

    ~LinkTable()
    {
        if (clock)
            detachClock(db);
    }
};

/// A cursor gives either the cached rows that match a lookup (`cache`), or the remote rows of
/// its query as they come, a batch at a time (`reader`): memory never grows with the table.
struct LinkCursor {
    sqlite3_vtab_cursor base{};
    std::shared_ptr<const RowCache> cache;
    std::vector<std::size_t> matches;           // rows of the cache to give
    std::unique_ptr<db::Connection> connection; // the reader's, back to the table's at xClose
    std::optional<db::RowReader> reader;
    std::size_t pos = 0;      // in `matches`, or in the reader's batch in hand
    std::int64_t rowBase = 0; // rows of the earlier batches, for the rowid
    bool done = true;
};

// A lookup is pushed down to the remote database as it comes; from this many lookups by the
// same columns within one statement the cursor reads the remote table once and looks up in
// memory instead, unless the table is too large to hold.
constexpr int kLookupsBeforeCache = 16;
constexpr long long kMaxCachedRows = 250000;
// Rows read from the remote database at a time, by the reader and by the driver below it.
constexpr std::size_t kBatchRows = 2000;

/// The connection string for the readers of a link source: a PostgreSQL driver is told to
/// read through a server cursor, a batch a round trip, instead of taking in the whole result
/// at the first fetch.
std::string readerSourceOf(const std::string& source, db::Dialect dialect)
{
    if (dialect != db::Dialect::PostgreSql)
        return source;
    db::Error resolveError;
    const auto target = db::resolveConnectionString(source, resolveError);
    if (!target || target->kind != db::ConnectionTarget::Kind::Odbc)
        return source;
    std::string parseError;
    auto items = db::ConnectionString::parse(target->odbcString, parseError);
    if (!items)
        return source;
    items->set("UseDeclareFetch", "1");
    if (!items->get("Fetch"))
        items->set("Fetch", std::to_string(kBatchRows));
    return items->toOdbc();
}

LinkTable* tableOf(sqlite3_vtab* v)
{
    return reinterpret_cast<LinkTable*>(v);
}
LinkCursor* cursorOf(sqlite3_vtab_cursor* c)
{
    return reinterpret_cast<LinkCursor*>(c);
}

void setError(char** pzErr, const std::string& text)
{
    *pzErr = sqlite3_mprintf("%s", text.c_str());
}

std::string remoteError(const db::Connection& c)
{
    return c.errors().empty() ? std::string("remote table error") : c.errors().front().description;
}

int xConnect(sqlite3* db, void*, int argc, const char* const* argv, sqlite3_vtab** out, char** pzErr)
{
    if (argc != 5) {
        setError(pzErr, "zslink needs two arguments: the source and the remote table");
        return SQLITE_ERROR;
    }
    auto table = std::make_unique<LinkTable>();
    table->table = unquote(argv[4]);
    table->remote = std::make_unique<db::Connection>();
    const std::string source = sourceConnectionString(unquote(argv[3]));
    if (!table->remote->open(source)) {
        setError(pzErr, "cannot open the link source: " + remoteError(*table->remote));
        return SQLITE_ERROR;
    }
    table->readerSource = readerSourceOf(source, table->remote->dialect());
    auto probe = table->remote->query("select * from " + remoteName(table->table) + " where 1=0");
    if (!probe || probe->fieldCount() == 0) {
        setError(pzErr, "cannot read the remote table " + table->table + ": " + remoteError(*table->remote));
        return SQLITE_ERROR;
    }
    std::string decl = "CREATE TABLE x(";
    for (std::size_t i = 0; i < probe->fieldCount(); ++i) {
        table->columns.push_back(probe->columns()[i].name);
        table->types.push_back(probe->columns()[i].type);
        // The remote column's kind as a declared type, so SQLite compares the link's values as
        // it compares those of the same table attached directly (numbers with numeric texts).
        const char* type = "";
        switch (probe->columns()[i].type) {
        case db::Value::Type::Integer:
        case db::Value::Type::Boolean:
            type = " INTEGER";
            break;
        case db::Value::Type::Double:
            type = " REAL";
            break;
        case db::Value::Type::Text:
            type = " TEXT";
            break;
        default:
            break;
        }
        decl += (i ? "," : "") + quoteIdentifier(probe->columns()[i].name) + type;
    }
    decl += ")";
    const int rc = sqlite3_declare_vtab(db, decl.c_str());
    if (rc != SQLITE_OK)
        return rc;
    table->db = db;
    table->clock = attachClock(db);
    *out = &table.release()->base;
    return SQLITE_OK;
}

/// The constraints a plan passes down, "column:operator" joined by ",", as idxStr carries them.
struct Constraint {
    int column = 0;
    unsigned char op = 0;
};

std::vector<Constraint> parsePlan(const char* plan)
{
    std::vector<Constraint> out;
    if (!plan)
        return out;
    std::string s(plan);
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t comma = s.find(',', pos);
        const std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const std::size_t colon = item.find(':');
        if (colon != std::string::npos)
            out.push_back({std::atoi(item.c_str()), static_cast<unsigned char>(std::atoi(item.c_str() + colon + 1))});
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return out;
}

int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info)
{
    const LinkTable* table = tableOf(v);
    std::string plan;
    int argv = 0;
    bool equality = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (!c.usable || c.iColumn < 0 || c.iColumn >= static_cast<int>(table->columns.size()))
            continue;
        const bool eq = c.op == SQLITE_INDEX_CONSTRAINT_EQ;
        if (!eq && c.op != SQLITE_INDEX_CONSTRAINT_GT && c.op != SQLITE_INDEX_CONSTRAINT_GE &&
            c.op != SQLITE_INDEX_CONSTRAINT_LT && c.op != SQLITE_INDEX_CONSTRAINT_LE)
            continue;
        // Another collation compares otherwise than the remote database and the cache would.
        const char* collation = sqlite3_vtab_collation(info, i);
        if (collation && sqlite3_stricmp(collation, "BINARY") != 0)
            continue;
        info->aConstraintUsage[i].argvIndex = ++argv;
        info->aConstraintUsage[i].omit = 0; // SQLite checks again: the remote may compare more loosely
        plan += (plan.empty() ? "" : ",") + std::to_string(c.iColumn) + ":" + std::to_string(c.op);
        equality = equality || eq;
    }
    if (argv == 0) {
        info->estimatedCost = 1e6; // a scan reads the whole remote table
        info->estimatedRows = 1000000;
        return SQLITE_OK;
    }
    info->idxNum = 1;
    info->idxStr = sqlite3_mprintf("%s", plan.c_str());
    info->needToFreeIdxStr = 1;
    info->estimatedCost = equality ? 20 : 1e4;
    info->estimatedRows = equality ? 10 : 10000;
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* v)
{
    std::unique_ptr<LinkTable> owned(tableOf(v));
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out)
{
    *out = &(new LinkCursor)->base; // owned by SQLite until xClose
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* c)
{
    std::unique_ptr<LinkCursor> owned(cursorOf(c));
    owned->reader.reset(); // ends the remote query before its connection is kept for the next
    if (owned->connection && owned->connection->isOpen())
        tableOf(c->pVtab)->idleReaders.push_back(std::move(owned->connection));
    return SQLITE_OK;
}

db::Value fromSqlite(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return db::Value(static_cast<std::int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        return db::Value(sqlite3_value_double(v));
    case SQLITE_NULL:
        return db::Value();
    default: {
        const unsigned char* text = sqlite3_value_text(v);
        return db::Value(std::string(text ? reinterpret_cast<const char*>(text) : ""));
    }
    }
}

/// The key a value is looked up by in the cache. Values SQLite may find equal after its type
/// conversions get the same key (numbers and numeric texts by their number), so the cache
/// gives every row SQLite would take, and SQLite's own check drops the rest.
std::string cacheKey(const db::Value& v)
{
    double number = 0;
    bool numeric = false;
    if (v.type() == db::Value::Type::Integer || v.type() == db::Value::Type::Double ||
        v.type() == db::Value::Type::Boolean) {
        number = v.toDouble().value_or(0);
        numeric = true;
    } else if (const std::string* t = v.text()) {
        char* end = nullptr;
        const char* begin = t->c_str();
        while (*begin == ' ')
            ++begin;
        if (*begin) {
            number = std::strtod(begin, &end);
            while (end && *end == ' ')
                ++end;
            numeric = end && *end == '\0';
        }
    }
    if (numeric) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "n%.17g", number == 0 ? 0.0 : number);
        return buf;
    }
    return "t" + v.toString();
}

/// The remote literal for a constraint's value; nothing when it cannot be compared there the
/// way SQLite compares it (then SQLite alone filters on it).
std::optional<std::string> remoteLiteral(const db::Value& v, db::Value::Type column)
{
    switch (column) {
    case db::Value::Type::Integer:
    case db::Value::Type::Double: {
        if (v.type() == db::Value::Type::Integer)
            return std::to_string(*v.toInt());
        if (v.type() == db::Value::Type::Double) {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", *v.toDouble());
            return std::string(buf);
        }
        return std::nullopt;
    }
    case db::Value::Type::Text:
        if (v.type() == db::Value::Type::Text)
            return quoteLiteral(*v.text());
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

const char* sqlOperator(unsigned char op)
{
    switch (op) {
    case SQLITE_INDEX_CONSTRAINT_EQ:
        return " = ";
    case SQLITE_INDEX_CONSTRAINT_GT:
        return " > ";
    case SQLITE_INDEX_CONSTRAINT_GE:
        return " >= ";
    case SQLITE_INDEX_CONSTRAINT_LT:
        return " < ";
    default:
        return " <= ";
    }
}

int failCursor(LinkTable* table, const db::Connection& connection)
{
    sqlite3_free(table->base.zErrMsg);
    table->base.zErrMsg = sqlite3_mprintf("%s", remoteError(connection).c_str());
    return SQLITE_ERROR;
}

int failCursor(LinkTable* table)
{
    return failCursor(table, *table->remote);
}

/// Starts reading the rows of `sql` on the cursor's own connection (an idle one of the table,
/// or a new one) and reads the first batch.
int startReading(LinkCursor* cursor, LinkTable* table, const std::string& sql)
{
    if (!cursor->connection) {
        if (!table->idleReaders.empty()) {
            cursor->connection = std::move(table->idleReaders.back());
            table->idleReaders.pop_back();
        } else {
            auto connection = std::make_unique<db::Connection>();
            if (!connection->open(table->readerSource))
                return failCursor(table, *connection);
            cursor->connection = std::move(connection);
        }
    }
    cursor->reader = cursor->connection->openReader(sql);
    if (!cursor->reader || !cursor->reader->next(kBatchRows)) {
        cursor->reader.reset();
        const int rc = failCursor(table, *cursor->connection);
        cursor->connection.reset(); // perhaps broken: the next cursor opens a new one
        return rc;
    }
    cursor->done = cursor->reader->rowCount() == 0;
    return SQLITE_OK;
}

int xFilter(sqlite3_vtab_cursor* c, int idxNum, const char* idxStr, int argc, sqlite3_value** argv)
{
    LinkCursor* cursor = cursorOf(c);
    LinkTable* table = tableOf(c->pVtab);
    cursor->pos = 0;
    cursor->rowBase = 0;
    cursor->done = true;
    cursor->cache.reset();
    cursor->reader.reset();
    cursor->matches.clear();
    const std::vector<Constraint> plan = idxNum == 1 ? parsePlan(idxStr) : std::vector<Constraint>{};
    std::vector<db::Value> values;
    for (int i = 0; i < argc && i < static_cast<int>(plan.size()); ++i) {
        values.push_back(fromSqlite(argv[i]));
        if (values.back().isNull()) // nothing compares true with null
            return SQLITE_OK;
    }
    const bool allEqual = !plan.empty() && std::all_of(plan.begin(), plan.end(), [](const Constraint& k) {
        return k.op == SQLITE_INDEX_CONSTRAINT_EQ;
    });

    if (allEqual) {
        const std::string planText = idxStr ? idxStr : "";
        if (table->lookupPlan != planText || table->statement != table->clock->statement) {
            table->lookupPlan = planText;
            table->statement = table->clock->statement;
            table->lookups = 0;
            table->cache.reset();
        }
        if (!table->cache && ++table->lookups >= kLookupsBeforeCache) {
            auto count = table->remote->query("select count(*) from " + remoteName(table->table));
            if (!count)
                return failCursor(table);
            if (count->value(std::size_t{0}).toInt().value_or(kMaxCachedRows + 1) <= kMaxCachedRows) {
                auto rows = table->remote->query("select * from " + remoteName(table->table));
                if (!rows)
                    return failCursor(table);
                auto cache = std::make_shared<RowCache>();
                cache->rows = std::make_shared<const db::RecordSet>(std::move(*rows));
                cache->index.reserve(cache->rows->rowCount());
                for (std::size_t r = 0; r < cache->rows->rowCount(); ++r) {
                    std::string key;
                    for (const Constraint& k : plan)
                        key += cacheKey(cache->rows->at(r, static_cast<std::size_t>(k.column))) + '\x1f';
                    cache->index.emplace(std::move(key), r);
                }
                table->cache = std::move(cache);
            }
        }
        if (table->cache) {
            std::string key;
            for (const db::Value& v : values)
                key += cacheKey(v) + '\x1f';
            cursor->cache = table->cache;
            const auto [from, to] = table->cache->index.equal_range(key);
            for (auto it = from; it != to; ++it)
                cursor->matches.push_back(it->second);
            std::sort(cursor->matches.begin(), cursor->matches.end());
            cursor->done = cursor->matches.empty();
            return SQLITE_OK;
        }
    }

    std::string where;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Constraint& k = plan[i];
        const auto type = table->types[static_cast<std::size_t>(k.column)];
        // Text ranges only where the remote orders text as SQLite does (byte by byte).
        std::string collate;
        if (k.op != SQLITE_INDEX_CONSTRAINT_EQ && type == db::Value::Type::Text) {
            if (table->remote->dialect() == db::Dialect::PostgreSql)
                collate = " COLLATE \"C\"";
            else if (table->remote->dialect() != db::Dialect::Sqlite)
                continue;
        }
        const auto literal = remoteLiteral(values[i], type);
        if (!literal)
            continue;
        where += (where.empty() ? " where " : " and ") +
                 remoteName(table->columns[static_cast<std::size_t>(k.column)]) + collate + sqlOperator(k.op) +
                 *literal;
    }
    return startReading(cursor, table, "select * from " + remoteName(table->table) + where);
}

int xNext(sqlite3_vtab_cursor* c)
{
    LinkCursor* cursor = cursorOf(c);
    if (cursor->done)
        return SQLITE_OK;
    ++cursor->pos;
    if (cursor->cache) {
        cursor->done = cursor->pos >= cursor->matches.size();
        return SQLITE_OK;
    }
    if (cursor->pos < cursor->reader->rowCount())
        return SQLITE_OK;
    // The batch is used up: the next one comes from the remote database. Between the two,
    // SQLite's own interrupt (a stop) ends the statement.
    cursor->rowBase += static_cast<std::int64_t>(cursor->reader->rowCount());
    cursor->pos = 0;
    if (cursor->reader->atEnd()) {
        cursor->done = true;
        return SQLITE_OK;
    }
    if (!cursor->reader->next(kBatchRows)) {
        cursor->done = true;
        cursor->reader.reset();
        const int rc = failCursor(tableOf(c->pVtab), *cursor->connection);
        cursor->connection.reset(); // perhaps broken: the next cursor opens a new one
        return rc;
    }
    cursor->done = cursor->reader->rowCount() == 0;
    return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* c)
{
    return cursorOf(c)->done ? 1 : 0;
}

int xColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int i)
{
    const LinkCursor* cursor = cursorOf(c);
    const db::Value& v = cursor->cache
                             ? cursor->cache->rows->at(cursor->matches[cursor->pos], static_cast<std::size_t>(i))
                             : cursor->reader->at(cursor->pos, static_cast<std::size_t>(i));
    switch (v.type()) {
    case db::Value::Type::Null:
        sqlite3_result_null(ctx);
        break;
    case db::Value::Type::Integer:
    case db::Value::Type::Boolean:
        sqlite3_result_int64(ctx, v.toInt().value_or(0));
        break;
    case db::Value::Type::Double:
        sqlite3_result_double(ctx, v.toDouble().value_or(0));
        break;
    case db::Value::Type::Text: {
        const std::string& text = *v.text();
        sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const std::string text = v.toString();
        sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    }
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* c, sqlite3_int64* rowid)
{
    const LinkCursor* cursor = cursorOf(c);
    const std::int64_t row = cursor->cache ? static_cast<std::int64_t>(cursor->matches[cursor->pos])
                                           : cursor->rowBase + static_cast<std::int64_t>(cursor->pos);
    *rowid = static_cast<sqlite3_int64>(row) + 1;
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* v, int argc, sqlite3_value** argv, sqlite3_int64*)
{
    LinkTable* table = tableOf(v);
    auto fail = [table](const std::string& text, int rc) {
        sqlite3_free(table->base.zErrMsg);
        table->base.zErrMsg = sqlite3_mprintf("%s", text.c_str());
        return rc;
    };
    if (argc == 1 || sqlite3_value_type(argv[0]) != SQLITE_NULL)
        return fail("linked table " + table->table + ": only rows can be added", SQLITE_READONLY);
    table->cache.reset(); // the remote table changes
    table->lookups = 0;
    auto writer = table->remote->openRowWriter(remoteName(table->table));
    if (!writer)
        return fail(remoteError(*table->remote), SQLITE_ERROR);
    writer->addNew();
    for (std::size_t i = 0; i < table->columns.size() && static_cast<int>(i) + 2 < argc; ++i) {
        const db::Value value = fromSqlite(argv[i + 2]);
        if (!value.isNull() && !writer->set(table->columns[i], value))
            return fail(remoteError(*table->remote), SQLITE_ERROR);
    }
    if (!writer->update())
        return fail(remoteError(*table->remote), SQLITE_ERROR);
    return SQLITE_OK;
}

sqlite3_module makeModule()
{
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = xConnect;
    m.xConnect = xConnect;
    m.xBestIndex = xBestIndex;
    m.xDisconnect = xDisconnect;
    m.xDestroy = xDisconnect;
    m.xOpen = xOpen;
    m.xClose = xClose;
    m.xFilter = xFilter;
    m.xNext = xNext;
    m.xEof = xEof;
    m.xColumn = xColumn;
    m.xRowid = xRowid;
    m.xUpdate = xUpdate;
    return m;
}

const sqlite3_module kModule = makeModule();

int initConnection(sqlite3* db, char**, const sqlite3_api_routines*)
{
    return sqlite3_create_module(db, kModuleName, &kModule, nullptr);
}

} // namespace

void registerLinkModule()
{
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_auto_extension(reinterpret_cast<void (*)(void)>(&initConnection)); });
}

std::string createLinkSql(const std::string& local, const std::string& source, const std::string& remote)
{
    return "CREATE VIRTUAL TABLE " + quoteIdentifier(local) + " USING " + kModuleName + "(" + quoteLiteral(source) +
           ", " + quoteLiteral(remote) + ")";
}

std::string sourceConnectionString(const std::string& source)
{
    const std::string low = text::lowerAscii(source);
    if (low.rfind("odbc;", 0) == 0)
        return source.substr(5);
    // A Jet link source: items separated by ";", the file in DATABASE=.
    std::size_t pos = 0;
    while (pos <= source.size()) {
        const std::size_t end = source.find(';', pos);
        const std::string item = source.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (text::lowerAscii(item).rfind("database=", 0) == 0 && low.find("driver=") == std::string::npos &&
            low.find("dsn=") == std::string::npos)
            return "Data Source=" + item.substr(9) + ";";
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return source;
}

} // namespace zs::dblink
