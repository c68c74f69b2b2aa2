#include "dblink/LinkModule.h"
#include "db/SqlText.h"

#include "db/Connection.h"
#include "db/RecordSet.h"
#include "db/Value.h"
#include "text/Ascii.h"

#include <sqlite3.h>

#include <cctype>
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

struct LinkTable {
    sqlite3_vtab base{};
    std::unique_ptr<db::Connection> remote;
    std::string table;
    std::vector<std::string> columns;
};

struct LinkCursor {
    sqlite3_vtab_cursor base{};
    std::optional<db::RecordSet> rows;
    sqlite3_int64 rowid = 0;
};

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
    if (!table->remote->open(sourceConnectionString(unquote(argv[3])))) {
        setError(pzErr, "cannot open the link source: " + remoteError(*table->remote));
        return SQLITE_ERROR;
    }
    auto probe = table->remote->query("select * from " + remoteName(table->table) + " where 1=0");
    if (!probe || probe->fieldCount() == 0) {
        setError(pzErr, "cannot read the remote table " + table->table + ": " + remoteError(*table->remote));
        return SQLITE_ERROR;
    }
    std::string decl = "CREATE TABLE x(";
    for (std::size_t i = 0; i < probe->fieldCount(); ++i) {
        table->columns.push_back(probe->columns()[i].name);
        decl += (i ? "," : "") + quoteIdentifier(probe->columns()[i].name);
    }
    decl += ")";
    const int rc = sqlite3_declare_vtab(db, decl.c_str());
    if (rc != SQLITE_OK)
        return rc;
    *out = &table.release()->base;
    return SQLITE_OK;
}

int xBestIndex(sqlite3_vtab*, sqlite3_index_info* info)
{
    info->estimatedCost = 1e6; // every scan reads the whole remote table
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
    return SQLITE_OK;
}

int xFilter(sqlite3_vtab_cursor* c, int, const char*, int, sqlite3_value**)
{
    LinkCursor* cursor = cursorOf(c);
    LinkTable* table = tableOf(c->pVtab);
    cursor->rows = table->remote->query("select * from " + remoteName(table->table));
    cursor->rowid = 1;
    if (!cursor->rows) {
        sqlite3_free(table->base.zErrMsg);
        table->base.zErrMsg = sqlite3_mprintf("%s", remoteError(*table->remote).c_str());
        return SQLITE_ERROR;
    }
    return SQLITE_OK;
}

int xNext(sqlite3_vtab_cursor* c)
{
    LinkCursor* cursor = cursorOf(c);
    cursor->rows->moveNext();
    ++cursor->rowid;
    return SQLITE_OK;
}

int xEof(sqlite3_vtab_cursor* c)
{
    const LinkCursor* cursor = cursorOf(c);
    return !cursor->rows || cursor->rows->eof();
}

int xColumn(sqlite3_vtab_cursor* c, sqlite3_context* ctx, int i)
{
    const db::Value& v = cursorOf(c)->rows->value(static_cast<std::size_t>(i));
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
    default: {
        const std::string text = v.toString();
        sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    }
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* c, sqlite3_int64* rowid)
{
    *rowid = cursorOf(c)->rowid;
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
