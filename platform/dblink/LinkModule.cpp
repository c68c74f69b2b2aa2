#include "dblink/LinkModule.h"
#include "db/SqlText.h"

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/RecordSet.h"
#include "db/Value.h"
#include "text/Ascii.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

// A statement that looks rows up by the same columns again and again (a join, a correlated
// update) first sends each lookup to the remote database as a keyed query (a list of keys, an
// `in (…)` of up to kKeysPerQuery keys, as one query). Once its lookups would cost more than
// reading the table (kRowsPerLookup rows a lookup) it reads the columns it uses once into a
// cache and looks up in memory; the caches of the process hold at most kCacheBytes together,
// and a table whose used columns do not fit goes on with keyed queries. The table's size is
// asked once per statement. With the rows in hand while a cache is read (kFillBatchBytes), the
// lookups add at most 64 MB to the process.
constexpr int kLookupsBeforeCache = 16;
constexpr long long kRowsPerLookup = 64;
constexpr std::size_t kCacheBytes = std::size_t{48} << 20;
constexpr std::size_t kFillBatchBytes = std::size_t{2} << 20;
constexpr std::size_t kKeysPerQuery = 500;
constexpr std::size_t kWindowRows = 500;
constexpr int kAscendingBeforeWindow = 8;
// Rows read from the remote database at a time, by the reader and by the driver below it; a
// keyed query of more rows than this goes on as a reader.
constexpr std::size_t kBatchRows = 2000;
// The cache's rows are written one after another into blocks of this size.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

std::atomic<std::size_t> g_cachedBytes{0};
std::atomic<std::uint64_t> g_sizeQueries{0}, g_keyedQueries{0}, g_scanQueries{0}, g_cacheFills{0};

/// Takes `bytes` of the process's cache budget; false (nothing taken) when they do not fit.
bool takeBudget(std::size_t bytes)
{
    std::size_t used = g_cachedBytes.load();
    do {
        if (used + bytes > kCacheBytes)
            return false;
    } while (!g_cachedBytes.compare_exchange_weak(used, used + bytes));
    return true;
}

// A cached row: its columns one after another, each a tag byte and its value (8 bytes for a
// number, a 4-byte length and the bytes for a text).
enum Tag : unsigned char { kNullTag, kIntegerTag, kRealTag, kTextTag };

void encodeValue(std::string& out, const db::Value& v)
{
    char bytes[8];
    switch (v.type()) {
    case db::Value::Type::Null:
        out += static_cast<char>(kNullTag);
        return;
    case db::Value::Type::Integer:
    case db::Value::Type::Boolean: {
        const std::int64_t i = v.toInt().value_or(0);
        std::memcpy(bytes, &i, 8);
        out += static_cast<char>(kIntegerTag);
        out.append(bytes, 8);
        return;
    }
    case db::Value::Type::Double: {
        const double d = v.toDouble().value_or(0);
        std::memcpy(bytes, &d, 8);
        out += static_cast<char>(kRealTag);
        out.append(bytes, 8);
        return;
    }
    default: {
        const std::string* text = v.text();
        const std::string other = text ? std::string() : v.toString();
        const std::string& t = text ? *text : other;
        const auto n = static_cast<std::uint32_t>(t.size());
        std::memcpy(bytes, &n, 4);
        out += static_cast<char>(kTextTag);
        out.append(bytes, 4);
        out += t;
    }
    }
}

const char* skipValue(const char* p)
{
    switch (static_cast<unsigned char>(*p)) {
    case kNullTag:
        return p + 1;
    case kIntegerTag:
    case kRealTag:
        return p + 9;
    default: {
        std::uint32_t n = 0;
        std::memcpy(&n, p + 1, 4);
        return p + 5 + n;
    }
    }
}

void resultEncoded(sqlite3_context* ctx, const char* p)
{
    switch (static_cast<unsigned char>(*p)) {
    case kNullTag:
        sqlite3_result_null(ctx);
        break;
    case kIntegerTag: {
        std::int64_t i = 0;
        std::memcpy(&i, p + 1, 8);
        sqlite3_result_int64(ctx, i);
        break;
    }
    case kRealTag: {
        double d = 0;
        std::memcpy(&d, p + 1, 8);
        sqlite3_result_double(ctx, d);
        break;
    }
    default: {
        std::uint32_t n = 0;
        std::memcpy(&n, p + 1, 4);
        sqlite3_result_text(ctx, p + 5, static_cast<int>(n), SQLITE_TRANSIENT);
    }
    }
}

/// The used columns of every row of the remote table, read once by a statement, with the hash
/// of each row's lookup key: a lookup gives the rows of its key's hash (SQLite's own check
/// drops a row of another key that shares it). Every byte it holds is taken from the process's
/// budget and given back with it.
class RowCache {
  public:
    RowCache() = default;
    RowCache(const RowCache&) = delete;
    RowCache& operator=(const RowCache&) = delete;
    ~RowCache() { g_cachedBytes -= m_taken; }

    /// Appends an encoded row; false when the budget is used up (the cache is then useless).
    bool add(const std::string& row, std::uint64_t keyHash)
    {
        if (m_blocks.empty() || m_blockUsed + row.size() > m_blockSize) {
            const std::size_t size = std::max(kBlockBytes, row.size());
            if (!take(size))
                return false;
            m_blocks.push_back(std::make_unique<char[]>(size));
            m_blockSize = size;
            m_blockUsed = 0;
        }
        if (m_rows.size() == m_rows.capacity()) {
            const std::size_t more = std::max<std::size_t>(4096, m_rows.capacity());
            if (!take(more * (sizeof(const char*) + sizeof(Entry))))
                return false;
            m_rows.reserve(m_rows.capacity() + more);
            m_index.reserve(m_rows.capacity());
        }
        char* at = m_blocks.back().get() + m_blockUsed;
        std::memcpy(at, row.data(), row.size());
        m_blockUsed += row.size();
        m_index.push_back({keyHash, static_cast<std::uint32_t>(m_rows.size())});
        m_rows.push_back(at);
        return true;
    }
    void finish() { std::sort(m_index.begin(), m_index.end()); }

    /// The rows whose key has this hash, in the remote table's order.
    void find(std::uint64_t keyHash, std::vector<std::uint32_t>& out) const
    {
        auto it = std::lower_bound(m_index.begin(), m_index.end(), Entry{keyHash, 0});
        for (; it != m_index.end() && it->hash == keyHash; ++it)
            out.push_back(it->row);
    }
    const char* row(std::uint32_t r) const { return m_rows[r]; }
    std::size_t bytes() const { return m_taken; }

  private:
    struct Entry {
        std::uint64_t hash;
        std::uint32_t row;
        bool operator<(const Entry& o) const { return hash != o.hash ? hash < o.hash : row < o.row; }
    };
    bool take(std::size_t bytes)
    {
        if (!takeBudget(bytes))
            return false;
        m_taken += bytes;
        return true;
    }
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_blockSize = 0, m_blockUsed = 0;
    std::vector<const char*> m_rows;
    std::vector<Entry> m_index;
    std::size_t m_taken = 0;
};

/// What one statement decided for its lookups by one plan into one table: how large the remote
/// table is (asked once), whether its cache is held or cannot be, and the keys looked up.
struct LookupState {
    std::string plan;
    long long lookups = 0;
    bool sized = false;
    long long remoteRows = -1; // -1: unknown
    bool refused = false;      // the used columns do not fit the budget: keyed queries to the end
    std::shared_ptr<const RowCache> cache;
    // Keys that come in ascending order (a join along the order of the other table's key) are
    // looked up a window at a time: the rows from one key on, kWindowRows of them, answer every
    // key below the window's last (or every key, when the window holds fewer rows).
    std::optional<db::RecordSet> window;
    std::int64_t windowFrom = 0;
    double windowTo = 0;
    bool windowOpen = false; // the window holds every row from windowFrom on
    int windowHits = 0;
    double windowSpan = static_cast<double>(kWindowRows); // the keys the last full window spanned
    std::optional<std::int64_t> lastKey;
    int ascending = 0;                                // keys looked up in ascending order, one after another
    std::int64_t recent[kAscendingBeforeWindow] = {}; // the last keys, by lookup number
};

struct LinkTable;
void dropLookups(LinkTable* table);

/// Counts the statements a local connection starts, so a linked table knows when the
/// statement whose lookups it decided is over: the remote rows are read afresh by every
/// statement, and a finished statement's caches are given back at the next one.
struct StatementClock {
    std::uint64_t statement = 0;
    std::vector<LinkTable*> tables;
};

std::mutex g_clocksMutex;
std::map<sqlite3*, std::unique_ptr<StatementClock>> g_clocks;

int onStatement(unsigned, void* c, void*, void*)
{
    auto* clock = static_cast<StatementClock*>(c);
    ++clock->statement;
    for (LinkTable* table : clock->tables)
        dropLookups(table);
    return 0;
}

StatementClock* attachClock(sqlite3* db, LinkTable* table)
{
    std::lock_guard lock(g_clocksMutex);
    auto& clock = g_clocks[db];
    if (!clock) {
        clock = std::make_unique<StatementClock>();
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &onStatement, clock.get());
    }
    clock->tables.push_back(table);
    return clock.get();
}

void detachClock(sqlite3* db, LinkTable* table)
{
    std::lock_guard lock(g_clocksMutex);
    const auto it = g_clocks.find(db);
    if (it == g_clocks.end())
        return;
    auto& tables = it->second->tables;
    tables.erase(std::remove(tables.begin(), tables.end(), table), tables.end());
    if (tables.empty()) {
        sqlite3_trace_v2(db, 0, nullptr, nullptr);
        g_clocks.erase(it);
    }
}

struct LinkTable {
    sqlite3_vtab base{};
    std::unique_ptr<db::Connection> remote; // keyed queries, the size and the appended rows
    // The connections that read rows a batch at a time, one for each cursor reading at once
    // (a self-join reads the table twice together); kept for the next statements.
    std::string readerSource;
    std::vector<std::unique_ptr<db::Connection>> idleReaders;
    std::string table;
    std::vector<std::string> columns;
    std::vector<db::Value::Type> types; // as the remote reports them
    sqlite3* db = nullptr;
    StatementClock* clock = nullptr;
    // The lookups of the running statement, by plan.
    std::uint64_t statement = 0;
    std::map<std::string, std::shared_ptr<LookupState>> lookups;

    ~LinkTable()
    {
        if (clock)
            detachClock(db, this);
    }
};

void dropLookups(LinkTable* table)
{
    table->lookups.clear();
}

/// A cursor gives the cached rows that match its lookups (`cache`), or the rows of its remote
/// queries one after another: a keyed query's rows taken at once (`fetched`, at most
/// kBatchRows), or a query's rows as they come, a batch at a time (`reader`): memory never
/// grows with the table.
struct LinkCursor {
    sqlite3_vtab_cursor base{};
    std::shared_ptr<LookupState> lookup; // kept from one filter to the next by the same plan
    std::shared_ptr<const RowCache> cache;
    std::vector<std::uint32_t> matches; // rows of the cache to give
    std::vector<int> fieldOf;           // the table's column -> its place in the rows given; -1: not read
    std::vector<std::string> queries;   // the remote queries of this filter
    std::size_t nextQuery = 0;
    bool keyed = false; // the queries are keyed lookups
    std::optional<db::RecordSet> fetched;
    std::unique_ptr<db::Connection> connection; // the reader's, back to the table's at xClose
    std::optional<db::RowReader> reader;
    std::size_t pos = 0;      // in `matches`, or in the rows in hand
    std::int64_t rowBase = 0; // rows given before those in hand, for the rowid
    bool done = true;

    std::size_t rowsInHand() const { return fetched ? fetched->rowCount() : reader ? reader->rowCount() : 0; }

    /// Forgets the rows and queries of the last filter (the lookup state and connection stay).
    void clearFilter()
    {
        pos = 0;
        rowBase = 0;
        done = true;
        cache.reset();
        fetched.reset();
        reader.reset();
        matches.clear();
        queries.clear();
        nextQuery = 0;
    }

    /// Maps the table's columns to their places in the rows a filter reads.
    void mapFields(const std::vector<int>& columns, std::size_t tableColumns)
    {
        fieldOf.assign(tableColumns, -1);
        for (std::size_t f = 0; f < columns.size(); ++f)
            fieldOf[static_cast<std::size_t>(columns[f])] = static_cast<int>(f);
    }
};

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
    table->clock = attachClock(db, table.get());
    *out = &table.release()->base;
    return SQLITE_OK;
}

/// A plan as idxStr carries it: the columns the statement uses (SQLite's colUsed, in hex),
/// then the constraints passed down, "column:operator" joined by ","; ":in" marks an equality
/// whose whole `in (…)` list comes at once.
struct Constraint {
    int column = 0;
    unsigned char op = 0;
    bool inList = false;
};

struct Plan {
    std::uint64_t used = ~std::uint64_t{0};
    std::vector<Constraint> constraints;
};

Plan parsePlan(const char* text)
{
    Plan plan;
    if (!text)
        return plan;
    const std::string s(text);
    const std::size_t bar = s.find('|');
    if (bar == std::string::npos)
        return plan;
    plan.used = std::strtoull(s.substr(0, bar).c_str(), nullptr, 16);
    std::size_t pos = bar + 1;
    while (pos < s.size()) {
        const std::size_t comma = s.find(',', pos);
        const std::string item = s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const std::size_t colon = item.find(':');
        if (colon != std::string::npos)
            plan.constraints.push_back({std::atoi(item.c_str()),
                                        static_cast<unsigned char>(std::atoi(item.c_str() + colon + 1)),
                                        item.find(":in") != std::string::npos});
        if (comma == std::string::npos)
            break;
        pos = comma + 1;
    }
    return plan;
}

char hexDigit(unsigned v)
{
    return "0123456789abcdef"[v & 15];
}

std::string usedText(std::uint64_t used)
{
    std::string out;
    for (int shift = 60; shift >= 0; shift -= 4)
        out += hexDigit(static_cast<unsigned>(used >> shift));
    return out;
}

int xBestIndex(sqlite3_vtab* v, sqlite3_index_info* info)
{
    const LinkTable* table = tableOf(v);
    std::string constraints;
    int argv = 0;
    bool equality = false, inList = false;
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
        constraints += (constraints.empty() ? "" : ",") + std::to_string(c.iColumn) + ":" + std::to_string(c.op);
        // One `in (…)` list a filter comes whole, so its keys go to the remote database
        // together: only where the remote finds equal exactly what SQLite does (a row must not
        // come again for a second key in another query).
        const auto type = table->types[static_cast<std::size_t>(c.iColumn)];
        const bool exact = type == db::Value::Type::Integer || type == db::Value::Type::Double ||
                           (type == db::Value::Type::Text && (table->remote->dialect() == db::Dialect::Sqlite ||
                                                              table->remote->dialect() == db::Dialect::PostgreSql));
        if (eq && exact && !inList && sqlite3_vtab_in(info, i, -1)) {
            sqlite3_vtab_in(info, i, 1);
            constraints += ":in";
            inList = true;
        }
        equality = equality || eq;
    }
    info->idxStr = sqlite3_mprintf("%s|%s", usedText(info->colUsed).c_str(), constraints.c_str());
    info->needToFreeIdxStr = 1;
    if (argv == 0) {
        info->estimatedCost = 1e6; // a scan reads the whole remote table
        info->estimatedRows = 1000000;
        return SQLITE_OK;
    }
    info->idxNum = 1;
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

/// The cursor's reading connection: its own, an idle one of the table, or a new one.
db::Connection* readerConnection(LinkCursor* cursor, LinkTable* table)
{
    if (!cursor->connection) {
        if (!table->idleReaders.empty()) {
            cursor->connection = std::move(table->idleReaders.back());
            table->idleReaders.pop_back();
        } else {
            auto connection = std::make_unique<db::Connection>();
            if (!connection->open(table->readerSource)) {
                failCursor(table, *connection);
                return nullptr;
            }
            cursor->connection = std::move(connection);
        }
    }
    return cursor->connection.get();
}

/// Starts reading the rows of `sql` on the cursor's own connection and reads the first batch.
int startReading(LinkCursor* cursor, LinkTable* table, const std::string& sql)
{
    if (!readerConnection(cursor, table))
        return SQLITE_ERROR;
    cursor->reader = cursor->connection->openReader(sql);
    if (!cursor->reader || !cursor->reader->next(kBatchRows)) {
        cursor->reader.reset();
        const int rc = failCursor(table, *cursor->connection);
        cursor->connection.reset(); // perhaps broken: the next cursor opens a new one
        return rc;
    }
    return SQLITE_OK;
}

/// Where the remote database can be asked for a bounded number of rows.
const char* rowLimit(db::Dialect dialect)
{
    return dialect == db::Dialect::Sqlite || dialect == db::Dialect::PostgreSql ? " limit " : nullptr;
}

/// A keyed query: its rows taken at once on the table's connection, one round trip, when they
/// are at most a batch; otherwise (or where the remote cannot bound them) read as a scan is.
int startKeyed(LinkCursor* cursor, LinkTable* table, const std::string& sql)
{
    ++g_keyedQueries;
    if (const char* limit = rowLimit(table->remote->dialect())) {
        auto rows = table->remote->query(sql + limit + std::to_string(kBatchRows + 1));
        if (!rows)
            return failCursor(table);
        if (rows->rowCount() <= kBatchRows) {
            cursor->fetched = std::move(*rows);
            return SQLITE_OK;
        }
    }
    return startReading(cursor, table, sql);
}

/// Runs the cursor's next queries until one gives rows, or none is left (done).
int runQueries(LinkCursor* cursor, LinkTable* table)
{
    while (cursor->nextQuery < cursor->queries.size()) {
        const std::string& sql = cursor->queries[cursor->nextQuery++];
        cursor->fetched.reset();
        cursor->reader.reset();
        const int rc = cursor->keyed ? startKeyed(cursor, table, sql) : startReading(cursor, table, sql);
        if (rc != SQLITE_OK)
            return rc;
        cursor->pos = 0;
        if (cursor->rowsInHand() > 0) {
            cursor->done = false;
            return SQLITE_OK;
        }
    }
    cursor->fetched.reset();
    cursor->reader.reset();
    cursor->done = true;
    return SQLITE_OK;
}

/// The table's columns a statement reads: those SQLite marks used (the last bit stands for
/// every column from the 64th on) and those of its constraints, which SQLite checks again.
std::vector<int> usedColumns(const LinkTable* table, const Plan& plan)
{
    std::vector<bool> used(table->columns.size());
    for (std::size_t i = 0; i < used.size(); ++i)
        used[i] = (plan.used >> std::min<std::size_t>(i, 63) & 1) != 0;
    for (const Constraint& k : plan.constraints)
        used[static_cast<std::size_t>(k.column)] = true;
    std::vector<int> out;
    for (std::size_t i = 0; i < used.size(); ++i)
        if (used[i])
            out.push_back(static_cast<int>(i));
    return out;
}

std::string selectOf(const LinkTable* table, const std::vector<int>& columns)
{
    std::string sql = "select ";
    for (std::size_t i = 0; i < columns.size(); ++i)
        sql += (i ? ", " : "") + remoteName(table->columns[static_cast<std::size_t>(columns[i])]);
    return sql + (columns.empty() ? "1" : "") + " from " + remoteName(table->table);
}

/// The remote table's rows, asked once per statement and plan: from what the remote database
/// keeps about the table where that is cheap, otherwise counted. -1 when it cannot be told.
long long remoteRows(LinkTable* table)
{
    ++g_sizeQueries;
    const auto asked = [&](const std::string& sql) -> long long {
        auto rs = table->remote->query(sql);
        if (!rs || rs->rowCount() == 0)
            return -1;
        return rs->value(std::size_t{0}).toInt().value_or(-1);
    };
    const std::string name = remoteName(table->table);
    long long rows = -1;
    // A SQLite table's largest rowid, an upper bound found in its b-tree at once; PostgreSQL's
    // estimate, kept up to date by its statistics (unknown, or nought, before the first).
    if (table->remote->dialect() == db::Dialect::Sqlite)
        rows = asked("select max(rowid) from " + name);
    else if (table->remote->dialect() == db::Dialect::PostgreSql)
        rows = asked("select reltuples::bigint from pg_class where oid = to_regclass(" + quoteLiteral(name) + ")");
    if (rows > 0)
        return rows;
    return asked("select count(*) from " + name);
}

std::uint64_t keyHash(const std::string& key)
{
    return std::hash<std::string>{}(key);
}

/// Reads the used columns of the remote table into a cache indexed by the plan's columns.
/// Nothing (and no error) when they do not fit the budget.
int fillCache(LinkCursor* cursor, LinkTable* table, const Plan& plan, const std::vector<int>& columns,
              std::shared_ptr<const RowCache>& out)
{
    db::Connection* connection = readerConnection(cursor, table);
    if (!connection)
        return SQLITE_ERROR;
    ++g_cacheFills;
    auto reader = connection->openReader(selectOf(table, columns));
    auto cache = std::make_shared<RowCache>();
    std::vector<std::size_t> keyFields;
    for (const Constraint& k : plan.constraints)
        keyFields.push_back(
            static_cast<std::size_t>(std::find(columns.begin(), columns.end(), k.column) - columns.begin()));
    std::string row, key;
    // Wide rows come fewer at a time: the batch in hand stays about kFillBatchBytes.
    std::size_t batch = 100, rowBytes = 0, rowsRead = 0;
    while (reader && !reader->atEnd()) {
        if (!reader->next(batch))
            break;
        for (std::size_t r = 0; r < reader->rowCount(); ++r, ++rowsRead) {
            row.clear();
            key.clear();
            for (std::size_t f = 0; f < columns.size(); ++f)
                encodeValue(row, reader->at(r, f));
            for (std::size_t f : keyFields)
                key += cacheKey(reader->at(r, f)) + '\x1f';
            if (!cache->add(row, keyHash(key)))
                return SQLITE_OK; // too large: the reader ends with it, the cache gives its bytes back
            rowBytes += row.size() + columns.size() * sizeof(db::Value);
        }
        batch = std::clamp<std::size_t>(
            kFillBatchBytes / std::max<std::size_t>(1, rowBytes / std::max<std::size_t>(1, rowsRead)), 16, kBatchRows);
    }
    if (!reader || !reader->atEnd()) {
        reader.reset();
        const int rc = failCursor(table, *connection);
        cursor->connection.reset();
        return rc;
    }
    cache->finish();
    out = std::move(cache);
    return SQLITE_OK;
}

/// The lookup state of a filter's plan: the cursor's own from its last filter by the same
/// plan, or the running statement's for the table.
std::shared_ptr<LookupState> lookupOf(LinkCursor* cursor, LinkTable* table, const std::string& plan)
{
    if (cursor->lookup && cursor->lookup->plan == plan)
        return cursor->lookup;
    if (table->statement != table->clock->statement) {
        table->lookups.clear();
        table->statement = table->clock->statement;
    }
    auto& state = table->lookups[plan];
    if (!state) {
        state = std::make_shared<LookupState>();
        state->plan = plan;
    }
    cursor->lookup = state;
    return state;
}

/// After a filter's lookups: whether the statement now reads the table into a cache. The
/// table's size is asked once; the cache is read once the lookups would cost more than it.
int decideCache(LinkCursor* cursor, LinkTable* table, LookupState& state, const Plan& plan,
                const std::vector<int>& columns)
{
    if (state.cache || state.refused || state.lookups < kLookupsBeforeCache)
        return SQLITE_OK;
    if (!state.sized) {
        state.sized = true;
        state.remoteRows = remoteRows(table);
    }
    if (state.remoteRows < 0 || state.remoteRows > state.lookups * kRowsPerLookup)
        return SQLITE_OK;
    const int rc = fillCache(cursor, table, plan, columns, state.cache);
    state.refused = !state.cache;
    return rc;
}

/// Whether a lookup may be answered from a window: one integer key on an integer column (held
/// exactly by a double, as a window's bounds are), on a remote that orders the rows and bounds
/// their number.
bool windowable(const LinkTable* table, const Plan& plan, const std::vector<db::Value>& values)
{
    constexpr std::int64_t kExact = std::int64_t{1} << 53;
    return plan.constraints.size() == 1 && !plan.constraints[0].inList && values.size() == 1 &&
           values[0].type() == db::Value::Type::Integer && *values[0].toInt()<kExact&& * values[0].toInt()> - kExact &&
           table->types[static_cast<std::size_t>(plan.constraints[0].column)] == db::Value::Type::Integer &&
           rowLimit(table->remote->dialect()) != nullptr;
}

/// The rows of a window whose key equals `key`; false when the window does not tell (no
/// window, or the key outside it).
bool fromWindow(LinkCursor* cursor, LookupState& state, std::int64_t key, std::size_t field)
{
    const auto exact = static_cast<double>(key);
    if (!state.window || key < state.windowFrom || (!state.windowOpen && exact >= state.windowTo))
        return false;
    std::vector<std::vector<db::Value>> rows;
    for (std::size_t r = 0; r < state.window->rowCount(); ++r) {
        const db::Value& v = state.window->at(r, field);
        if ((v.type() == db::Value::Type::Integer && v.toInt() == key) ||
            (v.type() == db::Value::Type::Double && v.toDouble() == exact)) {
            std::vector<db::Value> row;
            for (std::size_t f = 0; f < state.window->fieldCount(); ++f)
                row.push_back(state.window->at(r, f));
            rows.push_back(std::move(row));
        }
    }
    ++state.windowHits;
    cursor->fetched.emplace(state.window->columns(), std::move(rows));
    cursor->done = cursor->fetched->rowCount() == 0;
    return true;
}

/// A lookup by one integer key: from the window in hand, from a new window when the keys have
/// been coming in ascending order, or as a keyed query.
int lookUpInWindow(LinkCursor* cursor, LinkTable* table, LookupState& state, std::int64_t key,
                   const std::vector<int>& columns)
{
    const Plan plan = parsePlan(state.plan.c_str());
    const int column = plan.constraints[0].column;
    const auto field = static_cast<std::size_t>(cursor->fieldOf[static_cast<std::size_t>(column)]);
    state.ascending = state.lastKey && key > *state.lastKey ? state.ascending + 1 : 0;
    state.lastKey = key;
    auto& earlier = state.recent[state.lookups % kAscendingBeforeWindow]; // the key that many lookups ago
    const std::int64_t spanned = key - earlier;
    earlier = key;
    if (fromWindow(cursor, state, key, field))
        return SQLITE_OK;
    // A window that answered only the lookup that read it: the keys are too far apart.
    if (state.window && state.windowHits <= 1)
        state.ascending = 0;
    state.window.reset();
    const std::string name = remoteName(table->columns[static_cast<std::size_t>(column)]);
    const std::string literal = std::to_string(key);
    // A window once the last keys ascend close enough together that one would have held them.
    if (state.ascending >= kAscendingBeforeWindow && static_cast<double>(spanned) <= state.windowSpan) {
        ++g_keyedQueries;
        auto rows = table->remote->query(selectOf(table, columns) + " where " + name + " >= " + literal + " order by " +
                                         name + rowLimit(table->remote->dialect()) + std::to_string(kWindowRows));
        if (!rows)
            return failCursor(table);
        state.windowFrom = key;
        state.windowOpen = rows->rowCount() < kWindowRows;
        const db::Value last = rows->rowCount() ? rows->at(rows->rowCount() - 1, field) : db::Value();
        const bool numeric = last.type() == db::Value::Type::Integer || last.type() == db::Value::Type::Double;
        // Past the numbers a SQLite column orders its texts: every number from the key on is in.
        state.windowOpen = state.windowOpen || !numeric;
        state.windowTo = numeric ? last.toDouble().value_or(0) : 0;
        if (!state.windowOpen)
            state.windowSpan = state.windowTo - static_cast<double>(key);
        state.windowHits = 0;
        state.window = std::move(*rows);
        if (fromWindow(cursor, state, key, field))
            return SQLITE_OK;
        state.window.reset(); // every row of the window has the one key: no use
    }
    cursor->queries.push_back(selectOf(table, columns) + " where " + name + " = " + literal);
    return runQueries(cursor, table);
}

/// The values a filter compares with: one a constraint (an empty one in the place of an
/// `in (…)` list), and the list's values, each once, as SQLite compares them.
struct FilterValues {
    std::vector<db::Value> values;
    std::vector<db::Value> inValues;
    std::size_t inAt = 0; // the list's constraint; none when not below values.size()
    bool none = false;    // a null value or an empty list: no row compares true

    bool hasList() const { return inAt < values.size(); }
    std::size_t keyCount() const { return hasList() ? inValues.size() : 1; }
};

/// Reads the constraints' values from the filter's arguments; stops at the first that no row
/// can match.
int readFilterValues(const Plan& plan, int argc, sqlite3_value** argv, FilterValues& out)
{
    out.inAt = plan.constraints.size();
    for (int i = 0; i < argc && i < static_cast<int>(plan.constraints.size()); ++i) {
        if (plan.constraints[static_cast<std::size_t>(i)].inList) {
            out.inAt = static_cast<std::size_t>(i);
            sqlite3_value* v = nullptr;
            int rc = sqlite3_vtab_in_first(argv[i], &v);
            for (; rc == SQLITE_OK && v; rc = sqlite3_vtab_in_next(argv[i], &v)) {
                db::Value value = fromSqlite(v);
                if (!value.isNull())
                    out.inValues.push_back(std::move(value));
            }
            if (rc != SQLITE_OK && rc != SQLITE_DONE)
                return rc;
            out.values.emplace_back();
            if (out.inValues.empty()) {
                out.none = true;
                return SQLITE_OK;
            }
            continue;
        }
        out.values.push_back(fromSqlite(argv[i]));
        if (out.values.back().isNull()) { // nothing compares true with null
            out.none = true;
            return SQLITE_OK;
        }
    }
    return SQLITE_OK;
}

/// Whether every constraint of the plan is an equality (there is at least one): a lookup.
bool equalitiesOnly(const Plan& plan)
{
    return !plan.constraints.empty() &&
           std::all_of(plan.constraints.begin(), plan.constraints.end(),
                       [](const Constraint& k) { return k.op == SQLITE_INDEX_CONSTRAINT_EQ; });
}

/// A lookup answered from the statement's cache: the rows of each key, each row once.
int lookUpInCache(LinkCursor* cursor, const std::shared_ptr<const RowCache>& cache, const FilterValues& in)
{
    cursor->cache = cache;
    const std::size_t keys = in.keyCount();
    for (std::size_t k = 0; k < keys; ++k) {
        std::string key;
        for (std::size_t i = 0; i < in.values.size(); ++i)
            key += cacheKey(i == in.inAt ? in.inValues[k] : in.values[i]) + '\x1f';
        cache->find(keyHash(key), cursor->matches);
    }
    if (keys > 1) { // keys of one hash, or equal by the cache's key: each row once
        std::sort(cursor->matches.begin(), cursor->matches.end());
        cursor->matches.erase(std::unique(cursor->matches.begin(), cursor->matches.end()), cursor->matches.end());
    }
    cursor->done = cursor->matches.empty();
    return SQLITE_OK;
}

/// The remote `where` of the constraints but an `in (…)` list: those the remote compares as
/// SQLite does (SQLite checks every row again), empty when none.
std::string whereOf(const LinkTable* table, const Plan& plan, const FilterValues& in)
{
    std::string where;
    for (std::size_t i = 0; i < in.values.size(); ++i) {
        if (i == in.inAt)
            continue;
        const Constraint& k = plan.constraints[i];
        const auto type = table->types[static_cast<std::size_t>(k.column)];
        // Text ranges only where the remote orders text as SQLite does (byte by byte).
        std::string collate;
        if (k.op != SQLITE_INDEX_CONSTRAINT_EQ && type == db::Value::Type::Text) {
            if (table->remote->dialect() == db::Dialect::PostgreSql)
                collate = " COLLATE \"C\"";
            else if (table->remote->dialect() != db::Dialect::Sqlite)
                continue;
        }
        const auto literal = remoteLiteral(in.values[i], type);
        if (!literal)
            continue;
        where += (where.empty() ? " where " : " and ") +
                 remoteName(table->columns[static_cast<std::size_t>(k.column)]) + collate + sqlOperator(k.op) +
                 *literal;
    }
    return where;
}

/// Queues the filter's remote queries: the `in (…)` list's keys kKeysPerQuery at a time, or
/// one query for all when there is no list or a key the remote cannot compare as SQLite does
/// (the list is then left to SQLite's own check).
void queueQueries(LinkCursor* cursor, const LinkTable* table, const Plan& plan, const FilterValues& in,
                  const std::string& select)
{
    const std::string where = whereOf(table, plan, in);
    if (in.hasList()) {
        const Constraint& k = plan.constraints[in.inAt];
        const auto type = table->types[static_cast<std::size_t>(k.column)];
        std::vector<std::string> literals;
        for (const db::Value& v : in.inValues) {
            auto literal = remoteLiteral(v, type);
            if (!literal) {
                literals.clear();
                break;
            }
            literals.push_back(std::move(*literal));
        }
        const std::string column = remoteName(table->columns[static_cast<std::size_t>(k.column)]);
        for (std::size_t from = 0; from < literals.size(); from += kKeysPerQuery) {
            const std::size_t to = std::min(literals.size(), from + kKeysPerQuery);
            std::string term = column + (to - from == 1 ? " = " : " in (");
            for (std::size_t i = from; i < to; ++i)
                term += (i > from ? ", " : "") + literals[i];
            term += to - from == 1 ? "" : ")";
            cursor->queries.push_back(select + where + (where.empty() ? " where " : " and ") + term);
        }
    }
    if (cursor->queries.empty())
        cursor->queries.push_back(select + where);
}

int xFilter(sqlite3_vtab_cursor* c, int idxNum, const char* idxStr, int argc, sqlite3_value** argv)
{
    LinkCursor* cursor = cursorOf(c);
    LinkTable* table = tableOf(c->pVtab);
    cursor->clearFilter();
    Plan plan = parsePlan(idxStr);
    if (idxNum != 1)
        plan.constraints.clear();
    const std::vector<int> columns = usedColumns(table, plan);
    cursor->mapFields(columns, table->columns.size());
    FilterValues in;
    if (const int rc = readFilterValues(plan, argc, argv, in); rc != SQLITE_OK || in.none)
        return rc;

    if (equalitiesOnly(plan)) {
        const auto lookup = lookupOf(cursor, table, idxStr ? idxStr : "");
        lookup->lookups += static_cast<long long>(in.keyCount());
        if (const int rc = decideCache(cursor, table, *lookup, plan, columns); rc != SQLITE_OK)
            return rc;
        if (lookup->cache)
            return lookUpInCache(cursor, lookup->cache, in);
        cursor->keyed = true;
        if (windowable(table, plan, in.values))
            return lookUpInWindow(cursor, table, *lookup, *in.values[0].toInt(), columns);
    } else {
        cursor->keyed = false;
    }
    queueQueries(cursor, table, plan, in, selectOf(table, columns));
    if (!cursor->keyed)
        ++g_scanQueries;
    return runQueries(cursor, table);
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
    if (cursor->pos < cursor->rowsInHand())
        return SQLITE_OK;
    // The rows in hand are used up: the next batch, or the next query, comes from the remote
    // database. Between the two, SQLite's own interrupt (a stop) ends the statement.
    cursor->rowBase += static_cast<std::int64_t>(cursor->rowsInHand());
    cursor->pos = 0;
    if (cursor->reader && !cursor->reader->atEnd()) {
        if (!cursor->reader->next(kBatchRows)) {
            cursor->done = true;
            cursor->reader.reset();
            const int rc = failCursor(tableOf(c->pVtab), *cursor->connection);
            cursor->connection.reset(); // perhaps broken: the next cursor opens a new one
            return rc;
        }
        if (cursor->reader->rowCount() > 0)
            return SQLITE_OK;
    }
    return runQueries(cursor, tableOf(c->pVtab));
}

int xEof(sqlite3_vtab_cursor* c)
{
    return cursorOf(c)->done ? 1 : 0;
}

void resultValue(sqlite3_context* ctx, const db::Value& v)
{
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
}

int xColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int i)
{
    const LinkCursor* cursor = cursorOf(c);
    const int field = i >= 0 && static_cast<std::size_t>(i) < cursor->fieldOf.size()
                          ? cursor->fieldOf[static_cast<std::size_t>(i)]
                          : -1;
    if (field < 0) { // a column the statement said it does not read
        sqlite3_result_null(ctx);
        return SQLITE_OK;
    }
    if (cursor->cache) {
        const char* p = cursor->cache->row(cursor->matches[cursor->pos]);
        for (int f = 0; f < field; ++f)
            p = skipValue(p);
        resultEncoded(ctx, p);
        return SQLITE_OK;
    }
    const auto f = static_cast<std::size_t>(field);
    resultValue(ctx, cursor->fetched ? cursor->fetched->at(cursor->pos, f) : cursor->reader->at(cursor->pos, f));
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
    dropLookups(table); // the remote table changes
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

LinkCounters linkCounters()
{
    LinkCounters c;
    c.sizeQueries = g_sizeQueries.load();
    c.keyedQueries = g_keyedQueries.load();
    c.scanQueries = g_scanQueries.load();
    c.cacheFills = g_cacheFills.load();
    c.cachedBytes = g_cachedBytes.load();
    return c;
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
