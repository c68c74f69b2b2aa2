// The "Access" database of the program: a SQLite file, opened through libsqlite3, running the
// Jet SQL the engine writes with the help of the Jet shim.

#include "db/Backend_p.h"
#include "db/JetShim_p.h"
#include "db/SqlText.h"
#include "text/Ascii.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace zs::db {

namespace {

constexpr const char* kSource = "SQLite";

// Every file a connection opens (its database, an attached one, their journals) is opened
// through a VFS that is the system's own but for one check: a name holding anything but a
// regular file (a FIFO, a folder, a device, a link to one) is refused before it is opened, so
// an open can never wait on a FIFO's writer. The refusal's reason is kept for the error.
constexpr const char* kVfsName = "zs-regular-files";
sqlite3_vfs* g_systemVfs = nullptr;
sqlite3_vfs g_regularVfs{};
// The last refusal on this thread, for its error: the name as the VFS got it (links resolved)
// and what stands there (null: none).
thread_local std::string t_refusedName;
thread_local const char* t_refusedKind = nullptr;

std::string notADatabaseFile(const std::string& name, const char* kind)
{
    return "'" + name + "' is " + kind + ", not a database file";
}

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

int openRegularOnly(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    struct stat st {};
    if (name && ::stat(name, &st) == 0 && !S_ISREG(st.st_mode)) {
        t_refusedName = name;
        t_refusedKind = kindOf(st.st_mode);
        file->pMethods = nullptr;
        return SQLITE_CANTOPEN;
    }
    return g_systemVfs->xOpen(g_systemVfs, name, file, flags, outFlags);
}

/// The VFS's name, registered on first use; null when there is no system VFS to build on.
const char* regularFilesVfs()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        g_systemVfs = sqlite3_vfs_find(nullptr);
        if (!g_systemVfs)
            return;
        // The system VFS's own state (pAppData) and sizes go along: only the open differs.
        g_regularVfs = *g_systemVfs;
        g_regularVfs.pNext = nullptr;
        g_regularVfs.zName = kVfsName;
        g_regularVfs.xOpen = &openRegularOnly;
        ready = sqlite3_vfs_register(&g_regularVfs, 0) == SQLITE_OK;
    });
    return ready ? kVfsName : nullptr;
}

/// Only what can pass by itself is worth a reconnection and a retry: another connection's
/// lock, or an I/O error of a file on a share that comes back. A full disk, a file that cannot
/// be opened, a damaged or foreign file fail the same way on every try.
ErrorClass classify(int rc, bool opening)
{
    switch (rc & 0xff) {
    case SQLITE_INTERRUPT:
        return ErrorClass::Cancelled;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
        return opening ? ErrorClass::Connect : ErrorClass::ConnectionLost;
    default:
        return opening ? ErrorClass::Connect : ErrorClass::Rejected;
    }
}

/// Owns a prepared statement.
class Statement {
  public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt** out() { return &m_stmt; }
    sqlite3_stmt* get() const { return m_stmt; }
    void reset()
    {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }

  private:
    sqlite3_stmt* m_stmt = nullptr;
};

Value::Type typeFromDecl(const char* decl)
{
    if (!decl)
        return Value::Type::Text;
    const std::string d = text::lowerAscii(decl);
    if (d.find("bool") != std::string::npos || d.find("bit") != std::string::npos)
        return Value::Type::Boolean;
    if (d.find("date") != std::string::npos || d.find("time") != std::string::npos)
        return Value::Type::DateTime;
    if (d.find("int") != std::string::npos || d.find("counter") != std::string::npos)
        return Value::Type::Integer;
    if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
        d.find("doub") != std::string::npos || d.find("num") != std::string::npos ||
        d.find("dec") != std::string::npos || d.find("money") != std::string::npos)
        return Value::Type::Double;
    return Value::Type::Text;
}

class SqliteBackend final : public Backend {
  public:
    ~SqliteBackend() override { close(); }

    bool open(const ConnectionTarget& target, bool create, ErrorList& errors) override
    {
        close();
        std::error_code ec;
        if (std::filesystem::is_directory(target.sqlitePath, ec)) {
            errors.push_back(makeError(ErrorClass::Connect, notADatabaseFile(target.sqlitePath, "a folder"), kSource));
            errors.back().lasting = true;
            return false;
        }
        if (!create && !std::filesystem::exists(target.sqlitePath, ec)) {
            errors.push_back(
                makeError(ErrorClass::Connect, "Could not find file '" + target.sqlitePath + "'.", kSource));
            return false;
        }
        sqlite3* db = nullptr;
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
        t_refusedKind = nullptr;
        const int rc = sqlite3_open_v2(target.sqlitePath.c_str(), &db, flags, regularFilesVfs());
        {
            std::lock_guard lock(m_mutex);
            m_db = db;
        }
        if (rc != SQLITE_OK && t_refusedKind) {
            // Named as the connection string names it.
            errors.push_back(
                makeError(ErrorClass::Connect, notADatabaseFile(target.sqlitePath, t_refusedKind), kSource));
            errors.back().lasting = true;
            t_refusedKind = nullptr;
            close();
            return false;
        }
        if (rc != SQLITE_OK) {
            addError(errors, rc, true);
            close();
            return false;
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 2000);
        sqlite3_progress_handler(m_db, 1000, &SqliteBackend::progress, this);
        // A file that is not a database fails here rather than at the first statement.
        if (!runSql("select count(*) from sqlite_master", errors, true)) {
            close();
            return false;
        }
        return true;
    }

    void close() noexcept override
    {
        closeReader();
        m_insert.reset();
        m_insertTable.clear();
        m_insertColumns.clear();
        std::lock_guard lock(m_mutex);
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = nullptr;
    }

    bool execute(const std::string& sql, ErrorList& errors) override
    {
        if (auto reset = parseCounterReset(sql))
            return resetCounter(*reset, errors);
        return runSql(rewriteJetSql(sql), errors, false);
    }

    bool executeSingle(const std::string& sql, ErrorList& errors) override
    {
        Statement st;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), st.out(), &tail);
        if (rc != SQLITE_OK)
            return addError(errors, rc, false);
        const std::string_view rest(tail, static_cast<std::size_t>(sql.c_str() + sql.size() - tail));
        if (!st.get() || rest.find_first_not_of(" \t\r\n") != std::string_view::npos)
            return rejected(errors, "the text must hold exactly one statement");
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        }
        return rc == SQLITE_DONE || addError(errors, rc, false);
    }

    bool query(const std::string& sql, RecordSet& out, ErrorList& errors) override
    {
        Statement st;
        const std::string text = rewriteJetSql(sql);
        int rc = sqlite3_prepare_v2(m_db, text.c_str(), static_cast<int>(text.size()), st.out(), nullptr);
        if (rc != SQLITE_OK)
            return addError(errors, rc, false);
        const int n = sqlite3_column_count(st.get());
        std::vector<ColumnInfo> columns;
        columns.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            columns.push_back({sqlite3_column_name(st.get(), i), typeFromDecl(sqlite3_column_decltype(st.get(), i))});
        std::vector<std::vector<Value>> rows;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            std::vector<Value> row;
            row.reserve(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i)
                row.push_back(readValue(st.get(), i, columns[static_cast<std::size_t>(i)].type));
            rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE)
            return addError(errors, rc, false);
        out = RecordSet(std::move(columns), std::move(rows));
        return true;
    }

    bool describe(const std::string& table, std::vector<ColumnInfo>& out, ErrorList& errors) override
    {
        Statement st;
        const std::string sql = "select * from " + table + " where 0";
        const int rc = sqlite3_prepare_v2(m_db, sql.c_str(), -1, st.out(), nullptr);
        if (rc != SQLITE_OK)
            return addError(errors, rc, false);
        out.clear();
        for (int i = 0; i < sqlite3_column_count(st.get()); ++i)
            out.push_back({sqlite3_column_name(st.get(), i), typeFromDecl(sqlite3_column_decltype(st.get(), i))});
        return true;
    }

    bool insert(const std::string& table, const std::vector<std::string>& quotedColumns,
                const std::vector<Value>& values, ErrorList& errors) override
    {
        return prepareInsert(table, quotedColumns, errors) && insertOne(values.data(), values.size(), errors);
    }

    bool insertRows(const std::string& table, const std::vector<std::string>& quotedColumns,
                    const std::vector<Value::Type>&, const std::vector<Value>& values, std::size_t rowCount,
                    ErrorList& errors) override
    {
        if (!prepareInsert(table, quotedColumns, errors))
            return false;
        // Outside a transaction the batch gets its own: all of its rows or none, and one sync
        // of the file instead of one a row.
        const bool own = sqlite3_get_autocommit(m_db) != 0;
        if (own && !runSql("BEGIN", errors, false))
            return false;
        const std::size_t n = quotedColumns.size();
        for (std::size_t r = 0; r < rowCount; ++r)
            if (!insertOne(values.data() + r * n, n, errors)) {
                if (own) {
                    ErrorList ignored;
                    (void)runSql("ROLLBACK", ignored, false);
                }
                return false;
            }
        return !own || runSql("COMMIT", errors, false);
    }

    bool tableNames(std::vector<std::string>& out, ErrorList& errors) override
    {
        RecordSet rs;
        if (!query("select name from sqlite_master where type in ('table','view') and name not like 'sqlite\\_%' "
                   "escape '\\' "
                   "order by name",
                   rs, errors))
            return false;
        out.clear();
        for (; !rs.eof(); rs.moveNext())
            out.push_back(rs.value(std::size_t{0}).toString());
        return true;
    }

    Dialect dialect() const override { return Dialect::Sqlite; }

    std::string quoteIdentifier(std::string_view name) const override { return quoteSql(name, '"', '"'); }

    bool openReader(const std::string& sql, std::vector<ColumnInfo>& columns, ErrorList& errors) override
    {
        closeReader();
        const std::string text = rewriteJetSql(sql);
        const int rc = sqlite3_prepare_v2(m_db, text.c_str(), static_cast<int>(text.size()), m_reader.out(), nullptr);
        if (rc != SQLITE_OK) {
            m_reader.reset();
            return addError(errors, rc, false);
        }
        sqlite3_stmt* st = m_reader.get();
        columns.clear();
        for (int i = 0; i < sqlite3_column_count(st); ++i)
            columns.push_back({sqlite3_column_name(st, i), typeFromDecl(sqlite3_column_decltype(st, i))});
        m_readerTypes.clear();
        for (const ColumnInfo& c : columns)
            m_readerTypes.push_back(c.type);
        return true;
    }

    bool readRows(std::size_t maxRows, std::vector<Value>& values, std::size_t& rows, bool& end,
                  ErrorList& errors) override
    {
        rows = 0;
        end = true;
        sqlite3_stmt* st = m_reader.get();
        if (!st)
            return true;
        const std::size_t n = m_readerTypes.size();
        if (values.size() < maxRows * n)
            values.resize(maxRows * n);
        while (rows < maxRows) {
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_DONE) {
                m_reader.reset();
                return true;
            }
            if (rc != SQLITE_ROW) {
                addError(errors, rc, false);
                m_reader.reset();
                return false;
            }
            Value* row = values.data() + rows * n;
            for (std::size_t i = 0; i < n; ++i)
                row[i] = readValue(st, static_cast<int>(i), m_readerTypes[i]);
            ++rows;
        }
        end = false;
        return true;
    }

    void closeReader() noexcept override { m_reader.reset(); }

    void interrupt() noexcept override
    {
        m_abort.store(true);
        std::lock_guard lock(m_mutex);
        if (m_db)
            sqlite3_interrupt(m_db);
    }

    void clearInterrupt() noexcept override { m_abort.store(false); }

  private:
    static int progress(void* self) { return static_cast<SqliteBackend*>(self)->m_abort.load() ? 1 : 0; }

    /// The same statement serves every row of a writer: keep the last one prepared, and build
    /// its text only when the table or the columns change.
    bool prepareInsert(const std::string& table, const std::vector<std::string>& quotedColumns, ErrorList& errors)
    {
        if (m_insert.get() && table == m_insertTable && quotedColumns == m_insertColumns)
            return true;
        const std::string sql = insertStatement(table, quotedColumns);
        m_insert.reset();
        m_insertTable.clear();
        m_insertColumns.clear();
        const int rc = sqlite3_prepare_v2(m_db, sql.c_str(), -1, m_insert.out(), nullptr);
        if (rc != SQLITE_OK)
            return addError(errors, rc, false);
        m_insertTable = table;
        m_insertColumns = quotedColumns;
        return true;
    }

    bool insertOne(const Value* values, std::size_t count, ErrorList& errors)
    {
        sqlite3_stmt* st = m_insert.get();
        for (std::size_t i = 0; i < count; ++i)
            bindValue(st, static_cast<int>(i + 1), values[i]);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            return addError(errors, rc, false);
        return true;
    }

    bool addError(ErrorList& errors, int rc, bool opening)
    {
        Error e;
        e.kind = classify(rc, opening);
        e.number = (rc & 0xff) == SQLITE_CONSTRAINT ? kErrIntegrity : defaultNumber(e.kind);
        e.description = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        // A file the VFS refused (an attached one, a journal): SQLite's line names it as the
        // statement did, the refusal says what stands there.
        const bool refused = (rc & 0xff) == SQLITE_CANTOPEN && t_refusedKind;
        if (refused)
            e.description += ": " + notADatabaseFile(t_refusedName, t_refusedKind);
        t_refusedKind = nullptr;
        e.source = kSource;
        e.nativeError = rc;
        // What is no regular file or no database stays so: opening it again cannot succeed.
        e.lasting = opening && (refused || (rc & 0xff) == SQLITE_NOTADB);
        errors.push_back(std::move(e));
        return false;
    }

    bool runSql(const std::string& sql, ErrorList& errors, bool opening)
    {
        const char* tail = sql.c_str();
        const char* end = sql.c_str() + sql.size();
        while (tail < end) {
            Statement st;
            const char* next = nullptr;
            int rc = sqlite3_prepare_v2(m_db, tail, static_cast<int>(end - tail), st.out(), &next);
            if (rc != SQLITE_OK)
                return addError(errors, rc, opening);
            tail = next;
            if (!st.get())
                continue; // blanks or a comment
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            }
            if (rc != SQLITE_DONE)
                return addError(errors, rc, opening);
        }
        return true;
    }

    /// Sets the next value of a counter column: the AUTOINCREMENT key of a table, or a counter
    /// kept by the catalog's trigger; both draw from sqlite_sequence.
    bool resetCounter(const CounterReset& reset, ErrorList& errors)
    {
        RecordSet rs;
        const std::string findTable =
            "select name, sql from sqlite_master where type = 'table' and name = " + quoteLiteral(reset.table) +
            " collate nocase";
        if (!query(findTable, rs, errors))
            return false;
        if (rs.eof())
            return rejected(errors, "no such table: " + reset.table);
        const std::string table = rs.value(std::size_t{0}).toString();
        const std::string createSql = text::lowerAscii(rs.value(std::size_t{1}).toString());
        RecordSet cols;
        if (!query("select name, pk from pragma_table_info(" + quoteLiteral(table) + ")", cols, errors))
            return false;
        bool found = false;
        int keyColumns = 0;
        bool isKey = false;
        const std::string column = text::lowerAscii(reset.column);
        for (; !cols.eof(); cols.moveNext()) {
            const bool named = text::lowerAscii(cols.value(std::size_t{0}).toString()) == column;
            const bool key = cols.value(std::size_t{1}).toInt().value_or(0) > 0;
            found = found || named;
            keyColumns += key ? 1 : 0;
            isKey = isKey || (named && key);
        }
        if (!found)
            return rejected(errors, "no such column: " + reset.column);
        // The counter is either the table's AUTOINCREMENT key (its one key column) or the column
        // the catalog's trigger numbers; any other column of the table holds no counter, and
        // resetting the table's sequence for it would only hide a wrong name.
        bool counter = isKey && keyColumns == 1 && createSql.find("autoincrement") != std::string::npos;
        if (!counter) {
            RecordSet trig;
            if (!query("select sql from sqlite_master where type = 'trigger' and name = " +
                           quoteLiteral("zs_counter_" + table) + " collate nocase",
                       trig, errors))
                return false;
            counter = !trig.eof() && text::lowerAscii(trig.value(std::size_t{0}).toString())
                                             .find("when new." + text::lowerAscii(quoteIdentifier(reset.column)) +
                                                   " is null") != std::string::npos;
        }
        if (!counter)
            return rejected(errors, "the column " + reset.column + " of table " + table + " is not a counter");
        const std::string name = quoteLiteral(table);
        return runSql("delete from sqlite_sequence where name = " + name + ";" +
                          "insert into sqlite_sequence(name, seq) values (" + name + ", " +
                          std::to_string(reset.start - 1) + ");",
                      errors, false);
    }

    bool rejected(ErrorList& errors, std::string text)
    {
        errors.push_back(makeError(ErrorClass::Rejected, std::move(text), kSource));
        return false;
    }

    static std::string quoteLiteral(std::string_view s) { return sqlLiteral(s); }

    static Value readValue(sqlite3_stmt* st, int i, Value::Type declared)
    {
        switch (sqlite3_column_type(st, i)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER: {
            const auto v = static_cast<std::int64_t>(sqlite3_column_int64(st, i));
            if (declared == Value::Type::Boolean)
                return Value(v != 0);
            return Value(v);
        }
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(st, i));
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
            std::string text(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
            if (declared == Value::Type::DateTime) {
                Value v(text);
                if (auto dt = v.toDateTime())
                    return Value(*dt);
                return v;
            }
            return Value(std::move(text));
        }
        }
    }

    static void bindValue(sqlite3_stmt* st, int i, const Value& v)
    {
        switch (v.type()) {
        case Value::Type::Null:
            sqlite3_bind_null(st, i);
            break;
        case Value::Type::Integer:
            sqlite3_bind_int64(st, i, *v.toInt());
            break;
        case Value::Type::Boolean:
            sqlite3_bind_int(st, i, *v.toInt() != 0 ? 1 : 0);
            break;
        case Value::Type::Double:
            sqlite3_bind_double(st, i, *v.toDouble());
            break;
        case Value::Type::Text: {
            const std::string& s = *v.text();
            sqlite3_bind_text(st, i, s.c_str(), static_cast<int>(s.size()), SQLITE_STATIC); // bound until the step
            break;
        }
        case Value::Type::DateTime: {
            const std::string s = v.toString();
            sqlite3_bind_text(st, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }

    std::mutex m_mutex; // guards m_db against interrupt() while it opens or closes
    sqlite3* m_db = nullptr;
    std::atomic<bool> m_abort{false};
    Statement m_insert;
    Statement m_reader; // the row reader's statement, stepped a batch at a time
    std::vector<Value::Type> m_readerTypes;
    std::string m_insertTable; // what m_insert was prepared for
    std::vector<std::string> m_insertColumns;
};

} // namespace

std::unique_ptr<Backend> makeSqliteBackend()
{
    return std::make_unique<SqliteBackend>();
}

} // namespace zs::db
