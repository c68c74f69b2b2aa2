// Server databases through unixODBC: SQL Server (FreeTDS), Oracle, PostgreSQL or any other
// driver. Wide-character calls throughout, so texts travel as UTF-16 and come back as UTF-8
// whatever the process locale.

#include "db/Backend_p.h"
#include "db/PgSession_p.h"
#include "db/SqlText.h"
#include "text/Ascii.h"
#include "text/ByteWords.h"
#include "text/Cp1252.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zs::db {

namespace {

using WString = std::basic_string<SQLWCHAR>;

WString toWide(std::string_view s)
{
    WString out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = text::nextCodePoint(s, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<SQLWCHAR>(cp));
        }
    }
    return out;
}

std::string toUtf8(const SQLWCHAR* w, std::size_t n)
{
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = w[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        }
        text::appendUtf8(out, cp);
    }
    return out;
}

std::string toUtf8(const WString& w)
{
    return toUtf8(w.data(), w.size());
}

/// Owns one ODBC handle.
class Handle {
  public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE h)
        : m_type(type)
        , m_h(h)
    {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept
        : m_type(o.m_type)
        , m_h(o.m_h)
    {
        o.m_h = SQL_NULL_HANDLE;
    }
    Handle& operator=(Handle&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_type = o.m_type;
            m_h = o.m_h;
            o.m_h = SQL_NULL_HANDLE;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    SQLHANDLE get() const { return m_h; }
    SQLSMALLINT type() const { return m_type; }
    void reset()
    {
        if (m_h != SQL_NULL_HANDLE)
            SQLFreeHandle(m_type, m_h);
        m_h = SQL_NULL_HANDLE;
    }

  private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_h = SQL_NULL_HANDLE;
};

Value::Type typeFromSql(SQLSMALLINT t, SQLSMALLINT scale)
{
    switch (t) {
    case SQL_BIT:
        return Value::Type::Boolean;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return Value::Type::Integer;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return scale == 0 ? Value::Type::Integer : Value::Type::Double;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return Value::Type::Double;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
        return Value::Type::DateTime;
    default:
        return Value::Type::Text;
    }
}

bool isAscii(std::string_view t)
{
    return std::all_of(t.begin(), t.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

SQL_TIMESTAMP_STRUCT toTimestamp(const time::DateTime& dt)
{
    SQL_TIMESTAMP_STRUCT ts = {};
    ts.year = static_cast<SQLSMALLINT>(dt.year);
    ts.month = static_cast<SQLUSMALLINT>(dt.month);
    ts.day = static_cast<SQLUSMALLINT>(dt.day);
    ts.hour = static_cast<SQLUSMALLINT>(dt.hour);
    ts.minute = static_cast<SQLUSMALLINT>(dt.minute);
    ts.second = static_cast<SQLUSMALLINT>(dt.second);
    return ts;
}

/// Writes `dt` as "YYYY-MM-DD HH:MM:SS" (19 characters) at `o`; returns the end.
char* putDateTime(char* o, const time::DateTime& dt)
{
    const auto put = [&o](int value, int width) {
        for (int k = width - 1; k >= 0; --k, value /= 10)
            o[k] = static_cast<char>('0' + value % 10);
        o += width;
    };
    put(dt.year, 4), *o++ = '-', put(dt.month, 2), *o++ = '-', put(dt.day, 2), *o++ = ' ';
    put(dt.hour, 2), *o++ = ':', put(dt.minute, 2), *o++ = ':', put(dt.second, 2);
    return o;
}

/// A text as a quoted element of a PostgreSQL array literal; `bits` gathers its bytes' bits, so
/// the caller learns whether the literal stays ASCII without reading it again. The run before
/// the first '"' or '\\' (most texts hold neither) is looked at eight bytes at a time.
void appendArrayText(std::string& a, std::string_view t, unsigned char& bits)
{
    a += '"';
    std::size_t i = 0;
    std::uint64_t words = 0;
    for (; i + 8 <= t.size(); i += 8) {
        const std::uint64_t w = text::loadWord(t.data() + i);
        if (text::wordHas(w, '"') || text::wordHas(w, '\\'))
            break;
        words |= w;
    }
    if (text::wordHasHigh(words))
        bits |= 0x80;
    std::size_t from = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        bits |= static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            a.append(t.data() + from, i - from);
            a += '\\';
            a += c;
            from = i + 1;
        }
    }
    a.append(t.data() + from, t.size() - from);
    a += '"';
}

/// `d` as a decimal text that reads back as exactly `d`. Most amounts have a few decimals: when
/// d is r / 10^k as the division rounds it (r a whole number below 2^53), a correctly rounded
/// reading of r·10^-k, such as the server's, gives d again, and r is printed with k decimals,
/// which is far cheaper than the shortest form; any other double is printed in that form.
char* putDouble(char* o, char* end, double d)
{
    static constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    if (d != 0 && std::fabs(d) < 1e15) {
        for (int k = 0; k < 7; ++k) {
            const double scaled = d * kPowers[k];
            if (std::fabs(scaled) >= 9007199254740992.0)
                break;
            const std::int64_t r = std::llround(scaled);
            if (static_cast<double>(r) / kPowers[k] != d)
                continue;
            if (r < 0)
                *o++ = '-';
            char digits[24];
            char* const last = std::to_chars(digits, digits + sizeof digits, r < 0 ? -r : r).ptr;
            std::ptrdiff_t n = last - digits;
            if (n <= k) {
                *o++ = '0';
                *o++ = '.';
                for (std::ptrdiff_t z = n; z < k; ++z)
                    *o++ = '0';
                return std::copy(digits, last, o);
            }
            o = std::copy(digits, last - k, o);
            if (k > 0) {
                *o++ = '.';
                o = std::copy(last - k, last, o);
            }
            return o;
        }
    }
    return std::to_chars(o, end, d).ptr;
}

/// One element of a PostgreSQL array literal.
void appendArrayElement(std::string& a, const Value& v, unsigned char& bits)
{
    char buf[40];
    switch (v.type()) {
    case Value::Type::Null:
        a += "NULL";
        return;
    case Value::Type::Integer:
        a.append(buf, std::to_chars(buf, buf + sizeof buf, *v.toInt()).ptr);
        return;
    case Value::Type::Double: {
        const double d = *v.toDouble();
        if (std::isnan(d))
            a += "\"NaN\"";
        else if (std::isinf(d))
            a += d > 0 ? "\"Infinity\"" : "\"-Infinity\"";
        else
            a.append(buf, putDouble(buf, buf + sizeof buf, d));
        return;
    }
    case Value::Type::Boolean:
        a += *v.toInt() != 0 ? 't' : 'f';
        return;
    case Value::Type::DateTime: {
        char* o = buf;
        *o++ = '"';
        o = putDateTime(o, *v.toDateTime());
        *o++ = '"';
        a.append(buf, o);
        return;
    }
    case Value::Type::Text:
        appendArrayText(a, *v.text(), bits);
        return;
    }
}

} // namespace

void buildArrayBatch(const Value* values, std::size_t columns, std::size_t rows, ArrayBatch& out)
{
    out.arrays.resize(columns);
    out.ascii.assign(columns, true);
    for (std::size_t c = 0; c < columns; ++c) {
        std::string& a = out.arrays[c];
        a.assign(1, '{');
        unsigned char bits = 0; // only texts can bring other than ASCII
        const Value* v = values + c;
        for (std::size_t r = 0; r < rows; ++r, v += columns) {
            if (r)
                a += ',';
            appendArrayElement(a, *v, bits);
        }
        a += '}';
        out.ascii[c] = (bits & 0x80) == 0;
    }
}

namespace {

/// A text as a field of COPY's text format.
void appendCopyText(std::string& out, std::string_view t)
{
    std::size_t from = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c != '\\' && c != '\t' && c != '\n' && c != '\r')
            continue;
        out.append(t.data() + from, i - from);
        out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        from = i + 1;
    }
    out.append(t.data() + from, t.size() - from);
}

} // namespace

void buildCopyRows(const Value* values, std::size_t columns, std::size_t rows, std::string& out)
{
    out.clear();
    char buf[40];
    const Value* v = values;
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c, ++v) {
            if (c)
                out += '\t';
            switch (v->type()) {
            case Value::Type::Null:
                out += "\\N";
                break;
            case Value::Type::Integer:
                out.append(buf, std::to_chars(buf, buf + sizeof buf, *v->toInt()).ptr);
                break;
            case Value::Type::Double: {
                const double d = *v->toDouble();
                if (std::isnan(d))
                    out += "NaN";
                else if (std::isinf(d))
                    out += d > 0 ? "Infinity" : "-Infinity";
                else
                    out.append(buf, putDouble(buf, buf + sizeof buf, d));
                break;
            }
            case Value::Type::Boolean:
                out += *v->toInt() != 0 ? 't' : 'f';
                break;
            case Value::Type::DateTime:
                out.append(buf, putDateTime(buf, *v->toDateTime()));
                break;
            case Value::Type::Text:
                appendCopyText(out, *v->text());
                break;
            }
        }
        out += '\n';
    }
}

namespace {

/// The query listing the tables and views of the schema that the connection's unqualified names
/// resolve to (PostgreSQL's current schema, the login's default schema on SQL Server, the
/// session's schema on Oracle); empty where the driver's own table list serves.
std::string currentSchemaTablesQuery(Dialect dialect)
{
    switch (dialect) {
    case Dialect::PostgreSql:
        return "SELECT c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
               "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'p', 'f')";
    case Dialect::SqlServer:
        return "SELECT name FROM sys.objects WHERE schema_id = SCHEMA_ID() AND type IN ('U', 'V')";
    case Dialect::Oracle:
        return "SELECT object_name FROM all_objects WHERE owner = SYS_CONTEXT('USERENV', 'CURRENT_SCHEMA') "
               "AND object_type IN ('TABLE', 'VIEW')";
    default:
        return {};
    }
}

class OdbcBackend final : public Backend {
  public:
    ~OdbcBackend() override { close(); }

    bool open(const ConnectionTarget& target, bool, ErrorList& errors) override
    {
        close();
        SQLHANDLE env = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
            errors.push_back(makeError(ErrorClass::Connect, "the ODBC driver manager could not be started", "ODBC"));
            return false;
        }
        m_env = Handle(SQL_HANDLE_ENV, env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLHANDLE dbc = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
            collect(m_env, ErrorClass::Connect, errors);
            return false;
        }
        m_dbc = Handle(SQL_HANDLE_DBC, dbc);
        // A server that does not answer must not hold the engine for ever.
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
        WString in = toWide(withDriverDefaults(target.odbcString));
        SQLWCHAR out[2048];
        SQLSMALLINT outLen = 0;
        const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, in.data(), static_cast<SQLSMALLINT>(in.size()), out,
                                               static_cast<SQLSMALLINT>(std::size(out)), &outLen, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            collect(m_dbc, ErrorClass::Connect, errors);
            if (errors.empty())
                errors.push_back(makeError(ErrorClass::Connect, "the ODBC connection could not be opened", "ODBC"));
            m_dbc.reset();
            m_env.reset();
            return false;
        }
        m_connected = true;
        m_odbcString = target.odbcString;
        const std::string dbms = infoText(SQL_DBMS_NAME);
        m_source = "ODBC " + infoText(SQL_DRIVER_NAME);
        m_quote = infoText(SQL_IDENTIFIER_QUOTE_CHAR);
        if (m_quote.empty() || m_quote == " ")
            m_quote = "\"";
        const std::string d = text::lowerAscii(dbms);
        if (d.find("postgres") != std::string::npos)
            m_dialect = Dialect::PostgreSql;
        else if (d.find("sql server") != std::string::npos)
            m_dialect = Dialect::SqlServer;
        else if (d.find("oracle") != std::string::npos)
            m_dialect = Dialect::Oracle;
        else if (d.find("sqlite") != std::string::npos)
            m_dialect = Dialect::Sqlite;
        else
            m_dialect = Dialect::OtherOdbc;
        if (m_dialect == Dialect::PostgreSql) {
            // The server ends the work of a client that has gone (killed, its host lost) instead
            // of running it on to its commit behind the next run's back. A server older than 14
            // knows no such setting: its refusal changes nothing else.
            ErrorList ignored;
            (void)execute("SET client_connection_check_interval = 1000", ignored);
        }
        return true;
    }

    void close() noexcept override
    {
        closeReader();
        {
            std::lock_guard lock(m_stmtMutex);
            m_stmt.reset();
        }
        m_bulkFull = {};
        m_bulkTail = {};
        m_pg.close();
        m_tx = Tx::None;
        if (m_connected)
            SQLDisconnect(m_dbc.get());
        m_connected = false;
        m_dbc.reset();
        m_env.reset();
    }

    bool execute(const std::string& sql, ErrorList& errors) override
    {
        const std::string_view word = text::trim(sql);
        const bool ends = text::equalsNoCase(word, "COMMIT") || text::equalsNoCase(word, "ROLLBACK");
        if (m_tx == Tx::Copy) {
            const bool ok = onSession(m_pg.execute(sql, errors), errors);
            if (ends)
                m_tx = Tx::None;
            return ok;
        }
        m_tx = text::equalsNoCase(word, "BEGIN") ? Tx::Fresh : ends ? Tx::None : used(m_tx);
        if (!newStatement(errors) || !execDirect(sql, errors))
            return false;
        // Later results of a batch may hold the error of a later statement.
        for (SQLRETURN rc = SQLMoreResults(stmt()); rc != SQL_NO_DATA; rc = SQLMoreResults(stmt())) {
            if (!SQL_SUCCEEDED(rc))
                return failStatement(errors);
        }
        endStatement();
        return true;
    }

    bool executeSingle(const std::string& sql, ErrorList& errors) override
    {
        if (!odbcInReach(errors))
            return false;
        // The driver may split a text into statements itself: refused before it sees one that
        // holds more than one; then prepared and executed as one statement.
        if (!holdsOneStatement(sql)) {
            errors.push_back(makeError(ErrorClass::Rejected, "the text must hold exactly one statement", "ODBC"));
            return false;
        }
        Prepared p;
        return prepareText(p, sql, errors) && run(p, errors);
    }

    bool query(const std::string& sql, RecordSet& out, ErrorList& errors) override
    {
        if (!odbcInReach(errors))
            return false;
        if (!newStatement(errors) || !execDirect(sql, errors))
            return false;
        std::vector<ColumnInfo> columns;
        if (!describeResult(columns, errors))
            return false;
        std::vector<std::vector<Value>> rows;
        for (SQLRETURN rc = SQLFetch(stmt()); rc != SQL_NO_DATA; rc = SQLFetch(stmt())) {
            if (!SQL_SUCCEEDED(rc))
                return failStatement(errors);
            std::vector<Value> row;
            row.reserve(columns.size());
            for (std::size_t i = 0; i < columns.size(); ++i) {
                Value v;
                if (!readValue(static_cast<SQLUSMALLINT>(i + 1), columns[i].type, v))
                    return failStatement(errors);
                row.push_back(std::move(v));
            }
            rows.push_back(std::move(row));
        }
        endStatement();
        out = RecordSet(std::move(columns), std::move(rows));
        return true;
    }

    bool describe(const std::string& table, std::vector<ColumnInfo>& out, ErrorList& errors) override
    {
        if (!newStatement(errors) || !execDirect("select * from " + table + " where 1=0", errors))
            return false;
        if (!describeResult(out, errors))
            return false;
        endStatement();
        return true;
    }

    bool insert(const std::string& table, const std::vector<std::string>& quotedColumns,
                const std::vector<Value>& values, ErrorList& errors) override
    {
        if (!odbcInReach(errors))
            return false;
        if (!newStatement(errors))
            return false;
        const std::string sql = insertStatement(table, quotedColumns);

        std::vector<Param> params(values.size()); // bound buffers must outlive SQLExecute
        for (std::size_t k = 0; k < values.size(); ++k)
            if (!bindNative(stmt(), static_cast<SQLUSMALLINT>(k + 1), values[k], values[k].type(), params[k]))
                return failStatement(errors);
        if (!execDirect(sql, errors))
            return false;
        endStatement();
        return true;
    }

    bool insertRows(const std::string& table, const std::vector<std::string>& quotedColumns,
                    const std::vector<Value::Type>& types, const std::vector<Value>& values, std::size_t rowCount,
                    ErrorList& errors) override
    {
        const std::size_t n = quotedColumns.size();
        if (n == 0 || rowCount == 0) {
            for (std::size_t r = 0; r < rowCount; ++r)
                if (!insert(table, quotedColumns, {}, errors))
                    return false;
            return true;
        }
        if (m_dialect == Dialect::PostgreSql) {
            buildCopyRows(values.data(), n, rowCount, m_arrayBatch.copy);
            return insertArrays(table, quotedColumns, types, m_arrayBatch, values.data(), rowCount, errors);
        }
        // Several rows a statement, prepared once and executed again for every full group:
        // one round trip carries many rows. Oracle and unknown drivers get one row a statement
        // (their INSERT takes one VALUES list), still prepared once. The group stays under the
        // 2100 parameters SQL Server accepts in one statement.
        const bool multiRow =
            m_dialect == Dialect::PostgreSql || m_dialect == Dialect::SqlServer || m_dialect == Dialect::Sqlite;
        const std::size_t perStatement = multiRow ? std::max<std::size_t>(1, std::min<std::size_t>(500, 2000 / n)) : 1;
        std::size_t done = 0;
        while (done < rowCount) {
            const std::size_t rows = std::min(perStatement, rowCount - done);
            Prepared& p = rows == perStatement ? m_bulkFull : m_bulkTail;
            if (!prepareBulk(p, table, quotedColumns, rows, errors))
                return false;
            if (!executeBulk(p, types, values.data() + done * n, rows * n, errors))
                return false;
            done += rows;
        }
        return true;
    }

    bool tableNames(std::vector<std::string>& out, ErrorList& errors) override
    {
        if (!odbcInReach(errors))
            return false;
        if (!newStatement(errors))
            return false;
        // Only the tables that the connection's unqualified names reach count: a table of the
        // same name in another schema is not the one the statements would read or write.
        const std::string own = currentSchemaTablesQuery(m_dialect);
        SQLRETURN rc = SQL_SUCCESS;
        if (!own.empty()) {
            if (!execDirect(own, errors))
                return false;
        } else {
            rc = SQLTablesW(stmt(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
            if (!SQL_SUCCEEDED(rc))
                return failStatement(errors);
        }
        const SQLUSMALLINT nameColumn = own.empty() ? 3 : 1;
        out.clear();
        while ((rc = SQLFetch(stmt())) != SQL_NO_DATA) {
            if (!SQL_SUCCEEDED(rc))
                return failStatement(errors);
            Value v;
            if (!readValue(nameColumn, Value::Type::Text, v))
                return failStatement(errors);
            out.push_back(v.toString());
        }
        endStatement();
        return true;
    }

    Dialect dialect() const override { return m_dialect; }

    std::string quoteIdentifier(std::string_view name) const override
    {
        const char q = m_quote.front();
        return quoteSql(name, q, q);
    }

    bool openReader(const std::string& sql, std::vector<ColumnInfo>& columns, ErrorList& errors) override
    {
        if (!odbcInReach(errors))
            return false;
        closeReader();
        if (!newStatement(errors) || !execDirect(sql, errors) || !describeResult(columns, errors))
            return false;
        m_readerTypes.clear();
        for (const ColumnInfo& c : columns)
            m_readerTypes.push_back(c.type);
        std::lock_guard lock(m_stmtMutex);
        m_reader = std::move(m_stmt);
        return true;
    }

    bool readRows(std::size_t maxRows, std::vector<Value>& values, std::size_t& rows, bool& end,
                  ErrorList& errors) override
    {
        rows = 0;
        end = true;
        const SQLHSTMT h = m_reader.get();
        if (h == SQL_NULL_HANDLE)
            return true;
        const std::size_t n = m_readerTypes.size();
        if (values.size() < maxRows * n)
            values.resize(maxRows * n);
        {
            std::lock_guard lock(m_stmtMutex);
            m_running = h; // open to interrupt() while a batch is read
        }
        bool ok = true;
        while (rows < maxRows) {
            const SQLRETURN rc = SQLFetch(h);
            if (rc == SQL_NO_DATA)
                break;
            Value* row = values.data() + rows * n;
            for (std::size_t i = 0; ok && SQL_SUCCEEDED(rc) && i < n; ++i)
                ok = readValue(h, static_cast<SQLUSMALLINT>(i + 1), m_readerTypes[i], row[i]);
            if (!SQL_SUCCEEDED(rc) || !ok) {
                ok = false;
                break;
            }
            ++rows;
        }
        {
            std::lock_guard lock(m_stmtMutex);
            m_running = SQL_NULL_HANDLE;
        }
        if (!ok) {
            collectOr(m_reader, ErrorClass::Rejected, "the rows could not be read", errors);
            closeReader();
            return false;
        }
        end = rows < maxRows;
        if (end)
            closeReader();
        return true;
    }

    void closeReader() noexcept override
    {
        std::lock_guard lock(m_stmtMutex);
        m_reader.reset();
    }

    void interrupt() noexcept override
    {
        std::lock_guard lock(m_stmtMutex);
        if (m_stmt.get() != SQL_NULL_HANDLE)
            SQLCancel(m_stmt.get());
        if (m_running != SQL_NULL_HANDLE)
            SQLCancel(m_running);
        m_pg.cancel();
    }

    void clearInterrupt() noexcept override {}

  private:
    /// A prepared multi-row insert, kept while the same table, columns and row count follow.
    struct Prepared {
        Handle stmt;
        std::string table;
        std::vector<std::string> columns;
        std::vector<Value::Type> types;
        std::size_t rows = 0;
    };
    /// The buffers of one bound parameter; they must outlive SQLExecute.
    struct Param {
        SQLBIGINT i = 0;
        double d = 0;
        unsigned char b = 0;
        SQL_TIMESTAMP_STRUCT ts{};
        WString w;
        char digits[40] = {}; // a number or a date-time as ASCII text
        SQLLEN ind = 0;
    };

    /// PostgreSQL takes a whole batch in one statement with one parameter a column: each an
    /// array of the column's values, spread into rows by unnest() on the server. One round
    /// trip and one statement a batch, whatever its size.
    bool insertArrays(const std::string& table, const std::vector<std::string>& quotedColumns,
                      const std::vector<Value::Type>& types, ArrayBatch& batch, const Value* values, std::size_t rows,
                      ErrorList& errors) override
    {
        if (m_dialect != Dialect::PostgreSql)
            return Backend::insertArrays(table, quotedColumns, types, batch, values, rows, errors);
        if (m_tx == Tx::Fresh)
            takeOverTransaction(errors);
        if (m_tx == Tx::Copy)
            return onSession(m_pg.copyIn(table, quotedColumns, batch.copy, errors), errors);
        if (!errors.empty())
            return false;
        m_tx = used(m_tx);
        const std::size_t n = quotedColumns.size();
        buildArrayBatch(values, n, rows, batch);
        const auto arrayType = [](Value::Type t) {
            switch (t) {
            case Value::Type::Integer:
                return "bigint[]";
            case Value::Type::Double:
                return "float8[]";
            case Value::Type::DateTime:
                return "timestamp[]";
            case Value::Type::Boolean:
                return "boolean[]";
            default:
                return "text[]";
            }
        };
        Prepared& p = m_bulkFull;
        if (p.stmt.get() == SQL_NULL_HANDLE || p.rows != 0 || p.table != table || p.columns != quotedColumns ||
            p.types != types) {
            // The arrays are of the columns' own types, so the server reads every element as the
            // column takes it (a boolean reported as text, a numeric never through a double).
            std::vector<std::string> declared(n);
            RecordSet rs;
            ErrorList ignored;
            if (query("select a.attname, format_type(a.atttypid, a.atttypmod) from pg_attribute a where "
                      "a.attrelid = to_regclass(" +
                          sqlLiteral(table) + ") and a.attnum > 0 and not a.attisdropped",
                      rs, ignored)) {
                for (; !rs.eof(); rs.moveNext()) {
                    const std::string name = rs.value(std::size_t{0}).toString();
                    for (std::size_t c = 0; c < n; ++c)
                        if (storedName(quotedColumns[c]) == name)
                            declared[c] = rs.value(std::size_t{1}).toString() + "[]";
                }
            }
            std::string sql = "insert into " + table + " (";
            std::string unnest;
            for (std::size_t c = 0; c < n; ++c) {
                sql += (c ? "," : "") + quotedColumns[c];
                unnest += std::string(c ? "," : "") + "?::" + (declared[c].empty() ? arrayType(types[c]) : declared[c]);
            }
            sql += ") select * from unnest(" + unnest + ")";
            if (!prepareText(p, sql, errors))
                return false;
            p.table = table;
            p.columns = quotedColumns;
            p.types = types;
            p.rows = 0;
        }
        m_params.resize(n);
        const SQLHSTMT h = p.stmt.get();
        for (std::size_t c = 0; c < n; ++c) {
            Param& q = m_params[c];
            const std::string& a = batch.arrays[c];
            SQLRETURN rc;
            if (batch.ascii[c]) {
                q.ind = static_cast<SQLLEN>(a.size());
                rc = SQLBindParameter(h, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR,
                                      a.size(), 0, const_cast<char*>(a.data()), q.ind, &q.ind);
            } else {
                q.w = toWide(a);
                q.ind = static_cast<SQLLEN>(q.w.size() * sizeof(SQLWCHAR));
                rc = SQLBindParameter(h, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, SQL_C_WCHAR,
                                      SQL_WLONGVARCHAR, q.w.size(), 0, q.w.data(), q.ind, &q.ind);
            }
            if (!SQL_SUCCEEDED(rc)) {
                return failPrepared(p, "a value could not be bound", errors);
            }
        }
        return run(p, errors);
    }

    /// Where this connection's transaction stands: none, begun with nothing run in it yet, in
    /// use, or handed over to the libpq session (its rows go through COPY).
    enum class Tx { None, Fresh, Used, Copy };
    static Tx used(Tx t) { return t == Tx::None ? Tx::None : Tx::Used; }

    /// A transaction in which nothing but its BEGIN has run moves to the libpq session, where
    /// its rows, its later statements and its end go. Where that session cannot be had (a DSN,
    /// a server it cannot reach), the transaction stays here and the rows go as arrays; an
    /// error is left only when the ODBC transaction is no longer there to go on with.
    void takeOverTransaction(ErrorList& errors)
    {
        m_tx = Tx::Used;
        if (!m_pg.isOpen()) {
            const auto parameters = libpqParameters(m_odbcString);
            ErrorList ignored;
            if (parameters.empty() || !m_pg.open(parameters, m_source, ignored))
                return;
        }
        if (!execute("ROLLBACK", errors))
            return;
        m_tx = Tx::Copy;
        if (!onSession(m_pg.execute("BEGIN", errors), errors))
            m_tx = Tx::None;
    }

    /// `ok`, having classified the session's errors as the driver's are.
    bool onSession(bool ok, ErrorList& errors)
    {
        const bool dead = !m_pg.isOpen();
        for (Error& e : errors) {
            e.kind = classify(e.sqlState, ErrorClass::Rejected, dead);
            e.number =
                e.kind == ErrorClass::Rejected && e.sqlState.starts_with("23") ? kErrIntegrity : defaultNumber(e.kind);
        }
        return ok;
    }

    /// False, with an error, while the transaction is in the libpq session: only statements
    /// and rows may follow there.
    bool odbcInReach(ErrorList& errors)
    {
        if (m_tx != Tx::Copy) {
            m_tx = used(m_tx);
            return true;
        }
        errors.push_back(
            makeError(ErrorClass::Internal,
                      "errore interno del programma: lettura non prevista durante il caricamento delle righe"));
        return false;
    }

    /// The name PostgreSQL stores for a name as written in SQL: quoted as it stands, plain folded.
    static std::string storedName(const std::string& written)
    {
        if (written.size() >= 2 && written.front() == '"' && written.back() == '"') {
            std::string out;
            for (std::size_t i = 1; i + 1 < written.size(); ++i) {
                out += written[i];
                if (written[i] == '"' && i + 2 < written.size() && written[i + 1] == '"')
                    ++i;
            }
            return out;
        }
        return text::lowerAscii(written);
    }

    bool prepareText(Prepared& p, const std::string& sql, ErrorList& errors)
    {
        p.stmt.reset();
        if (!allocStatement(p.stmt, errors))
            return false;
        WString text = toWide(sql);
        if (!SQL_SUCCEEDED(SQLPrepareW(p.stmt.get(), text.data(), static_cast<SQLINTEGER>(text.size()))))
            return failPrepared(p, "the statement failed", errors);
        return true;
    }

    /// Collects the diagnostics of the prepared statement `p` (or `what` when it gives none) and drops it.
    bool failPrepared(Prepared& p, const char* what, ErrorList& errors)
    {
        collectOr(p.stmt, ErrorClass::Rejected, what, errors);
        p.stmt.reset();
        return false;
    }

    /// Executes a prepared statement whose parameters are bound, open to interrupt().
    bool run(Prepared& p, ErrorList& errors)
    {
        const SQLHSTMT h = p.stmt.get();
        {
            std::lock_guard lock(m_stmtMutex);
            m_running = h;
        }
        const SQLRETURN rc = SQLExecute(h);
        {
            std::lock_guard lock(m_stmtMutex);
            m_running = SQL_NULL_HANDLE;
        }
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            return failPrepared(p, "the statement failed", errors);
        }
        SQLFreeStmt(h, SQL_CLOSE);
        return true;
    }

    bool prepareBulk(Prepared& p, const std::string& table, const std::vector<std::string>& columns, std::size_t rows,
                     ErrorList& errors)
    {
        if (p.stmt.get() != SQL_NULL_HANDLE && p.rows == rows && p.table == table && p.columns == columns)
            return true;
        if (!prepareText(p, insertRowsStatement(table, columns, rows), errors))
            return false;
        p.table = table;
        p.columns = columns;
        p.rows = rows;
        return true;
    }

    bool executeBulk(Prepared& p, const std::vector<Value::Type>& types, const Value* values, std::size_t count,
                     ErrorList& errors)
    {
        const SQLHSTMT h = p.stmt.get();
        m_params.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            const Value::Type type = types.empty() ? values[k].type() : types[k % types.size()];
            if (!bindParam(h, static_cast<SQLUSMALLINT>(k + 1), values[k], type, m_params[k])) {
                return failPrepared(p, "a value could not be bound", errors);
            }
        }
        return run(p, errors);
    }

    /// Binds `v` as parameter `n` of `h`, as the kind `type` (a null is bound as that kind).
    /// Numbers, date-times and plain ASCII texts travel as ASCII characters, which every driver
    /// takes whatever the locale: no text round trip through the driver's own formatting (a
    /// double keeps all its digits), no UTF-16 for texts that need none.
    static bool bindParam(SQLHSTMT h, SQLUSMALLINT n, const Value& v, Value::Type type, Param& p)
    {
        const bool null = v.isNull();
        p.ind = null ? SQL_NULL_DATA : 0;
        const auto asDigits = [&](SQLSMALLINT sqlType, SQLULEN size, char* end) {
            p.ind = static_cast<SQLLEN>(end - p.digits);
            return SQL_SUCCEEDED(SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_CHAR, sqlType, size, 0, p.digits,
                                                  sizeof p.digits, &p.ind));
        };
        if (!null) {
            switch (v.type()) {
            case Value::Type::Integer:
                return asDigits(SQL_BIGINT, 20, std::to_chars(p.digits, p.digits + sizeof p.digits, *v.toInt()).ptr);
            case Value::Type::Double: {
                const double d = *v.toDouble();
                if (!std::isfinite(d))
                    break;
                return asDigits(SQL_DOUBLE, 15, std::to_chars(p.digits, p.digits + sizeof p.digits, d).ptr);
            }
            case Value::Type::DateTime: {
                const auto dt = *v.toDateTime();
                if (dt.year < 0 || dt.year > 9999)
                    break;
                return asDigits(SQL_TYPE_TIMESTAMP, 19, putDateTime(p.digits, dt));
            }
            case Value::Type::Text: {
                const std::string& t = *v.text();
                if (!isAscii(t))
                    break;
                p.ind = static_cast<SQLLEN>(t.size());
                // The driver only reads the text during SQLExecute, while the value lives.
                return SQL_SUCCEEDED(SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR,
                                                      std::max<SQLULEN>(1, t.size()), 0, const_cast<char*>(t.data()),
                                                      p.ind, &p.ind));
            }
            default:
                break;
            }
        }
        return bindNative(h, n, v, type, p);
    }

    /// Binds `v` as parameter `n` of `h` in its own C type (a null as the kind `type`).
    static bool bindNative(SQLHSTMT h, SQLUSMALLINT n, const Value& v, Value::Type type, Param& p)
    {
        const bool null = v.isNull();
        p.ind = null ? SQL_NULL_DATA : 0;
        switch (null ? type : v.type()) {
        case Value::Type::Null:
            p.ind = SQL_NULL_DATA;
            return SQL_SUCCEEDED(
                SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0, &p.ind));
        case Value::Type::Integer:
            p.i = null ? 0 : *v.toInt();
            return SQL_SUCCEEDED(
                SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &p.i, 0, &p.ind));
        case Value::Type::Boolean:
            p.b = !null && *v.toInt() != 0 ? 1 : 0;
            return SQL_SUCCEEDED(SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 1, 0, &p.b, 0, &p.ind));
        case Value::Type::Double:
            p.d = null ? 0 : *v.toDouble();
            return SQL_SUCCEEDED(
                SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &p.d, 0, &p.ind));
        case Value::Type::DateTime: {
            p.ts = null ? SQL_TIMESTAMP_STRUCT{} : toTimestamp(*v.toDateTime());
            return SQL_SUCCEEDED(SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19,
                                                  0, &p.ts, sizeof p.ts, &p.ind));
        }
        case Value::Type::Text:
            if (null) {
                p.w.clear();
                return SQL_SUCCEEDED(
                    SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0, &p.ind));
            }
            p.w = toWide(*v.text());
            p.ind = static_cast<SQLLEN>(p.w.size() * sizeof(SQLWCHAR));
            return SQL_SUCCEEDED(SQLBindParameter(h, n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                                  std::max<SQLULEN>(1, p.w.size()), 0, p.w.data(), p.ind, &p.ind));
        }
        return false;
    }

    SQLHSTMT stmt() const { return m_stmt.get(); }

    /// Runs `sql` on the current statement; false, with the statement's errors, when refused.
    bool execDirect(const std::string& sql, ErrorList& errors)
    {
        WString text = toWide(sql);
        const SQLRETURN rc = SQLExecDirectW(stmt(), text.data(), static_cast<SQLINTEGER>(text.size()));
        return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA || failStatement(errors);
    }

    bool newStatement(ErrorList& errors)
    {
        Handle h;
        if (!allocStatement(h, errors))
            return false;
        std::lock_guard lock(m_stmtMutex);
        m_stmt = std::move(h);
        return true;
    }

    /// A new statement handle on the connection, in `out`; false, with the reason, when none can be had.
    bool allocStatement(Handle& out, ErrorList& errors)
    {
        SQLHANDLE h = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc.get(), &h))) {
            collectOr(m_dbc, ErrorClass::ConnectionLost, "no statement could be started", errors);
            return false;
        }
        out = Handle(SQL_HANDLE_STMT, h);
        return true;
    }

    void endStatement()
    {
        std::lock_guard lock(m_stmtMutex);
        m_stmt.reset();
    }

    bool failStatement(ErrorList& errors)
    {
        collectOr(m_stmt, ErrorClass::Rejected, "the statement failed", errors);
        endStatement();
        return false;
    }

    bool connectionDead() const
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        if (!SQL_SUCCEEDED(SQLGetConnectAttr(m_dbc.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)))
            return false;
        return dead == SQL_CD_TRUE;
    }

    /// The diagnostics of `h`, or one error of class `kind` saying `what` when it gives none.
    void collectOr(const Handle& h, ErrorClass kind, const char* what, ErrorList& errors)
    {
        collect(h, kind, errors);
        if (errors.empty())
            errors.push_back(makeError(kind, what, m_source));
    }

    /// Appends the diagnostics of `h`, each classified by its SQLSTATE.
    void collect(const Handle& h, ErrorClass fallback, ErrorList& errors)
    {
        const bool dead = fallback != ErrorClass::Connect && m_connected && connectionDead();
        for (SQLSMALLINT i = 1;; ++i) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLWCHAR message[1024];
            SQLSMALLINT len = 0;
            const SQLRETURN rc = SQLGetDiagRecW(h.type(), h.get(), i, state, &native, message,
                                                static_cast<SQLSMALLINT>(std::size(message)), &len);
            if (!SQL_SUCCEEDED(rc))
                break;
            Error e;
            e.sqlState = toUtf8(state, 5);
            e.nativeError = native;
            e.description =
                toUtf8(message, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(len, 0)),
                                                      std::size(message) - 1));
            while (!e.description.empty() && (e.description.back() == '\n' || e.description.back() == ';'))
                e.description.pop_back();
            e.source = m_source.empty() ? "ODBC" : m_source;
            e.kind = classify(e.sqlState, fallback, dead);
            e.number =
                e.kind == ErrorClass::Rejected && e.sqlState.starts_with("23") ? kErrIntegrity : defaultNumber(e.kind);
            errors.push_back(std::move(e));
        }
    }

    static ErrorClass classify(const std::string& state, ErrorClass fallback, bool dead)
    {
        if (fallback == ErrorClass::Connect) {
            // The driver manager's own refusals: no such driver or data source, a driver
            // library that cannot be loaded ("01000"), a bad attribute.
            if (state.starts_with("IM") || state == "01S00" || state == "01000")
                return ErrorClass::BadArgument;
            return ErrorClass::Connect;
        }
        if (dead || state.starts_with("08") || state.starts_with("57P") || state == "40001" || state == "40P01")
            return ErrorClass::ConnectionLost;
        if (state == "HYT00" || state == "HYT01" || state == "57014")
            return ErrorClass::Timeout;
        if (state == "HY008")
            return ErrorClass::Cancelled;
        return fallback;
    }

    std::string infoText(SQLUSMALLINT what)
    {
        SQLWCHAR buf[256] = {};
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetInfoW(m_dbc.get(), what, buf, sizeof buf, &len)))
            return {};
        return toUtf8(buf, std::min<std::size_t>(static_cast<std::size_t>(len) / sizeof(SQLWCHAR), std::size(buf) - 1));
    }

    bool describeResult(std::vector<ColumnInfo>& columns, ErrorList& errors)
    {
        SQLSMALLINT n = 0;
        if (!SQL_SUCCEEDED(SQLNumResultCols(stmt(), &n)))
            return failStatement(errors);
        columns.clear();
        for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLen = 0, type = 0, scale = 0, nullable = 0;
            SQLULEN size = 0;
            if (!SQL_SUCCEEDED(SQLDescribeColW(stmt(), i, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLen,
                                               &type, &size, &scale, &nullable)))
                return failStatement(errors);
            columns.push_back(
                {toUtf8(name, std::min<std::size_t>(static_cast<std::size_t>(nameLen), std::size(name) - 1)),
                 typeFromSql(type, scale)});
        }
        return true;
    }

    bool readValue(SQLUSMALLINT col, Value::Type type, Value& out) { return readValue(stmt(), col, type, out); }

    bool readValue(SQLHSTMT stmt, SQLUSMALLINT col, Value::Type type, Value& out)
    {
        SQLLEN ind = 0;
        switch (type) {
        case Value::Type::Integer:
        case Value::Type::Boolean: {
            SQLBIGINT v = 0;
            if (!SQL_SUCCEEDED(SQLGetData(stmt, col, SQL_C_SBIGINT, &v, sizeof v, &ind)))
                return false;
            out = ind == SQL_NULL_DATA           ? Value()
                  : type == Value::Type::Boolean ? Value(v != 0)
                                                 : Value(static_cast<std::int64_t>(v));
            return true;
        }
        case Value::Type::Double: {
            double v = 0;
            if (!SQL_SUCCEEDED(SQLGetData(stmt, col, SQL_C_DOUBLE, &v, sizeof v, &ind)))
                return false;
            out = ind == SQL_NULL_DATA ? Value() : Value(v);
            return true;
        }
        case Value::Type::DateTime: {
            SQL_TIMESTAMP_STRUCT ts{};
            if (!SQL_SUCCEEDED(SQLGetData(stmt, col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind)))
                return false;
            out = ind == SQL_NULL_DATA
                      ? Value()
                      : Value(time::DateTime{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second});
            return true;
        }
        default: {
            WString text;
            SQLWCHAR buf[1024];
            while (true) {
                const SQLRETURN rc = SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
                if (rc == SQL_NO_DATA)
                    break;
                if (!SQL_SUCCEEDED(rc))
                    return false;
                if (ind == SQL_NULL_DATA) {
                    out = Value();
                    return true;
                }
                const std::size_t capacity = std::size(buf) - 1;
                const std::size_t got =
                    (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) / sizeof(SQLWCHAR) > capacity)
                        ? capacity
                        : static_cast<std::size_t>(ind) / sizeof(SQLWCHAR);
                text.append(buf, got);
                if (rc == SQL_SUCCESS)
                    break;
            }
            out = Value(toUtf8(text));
            return true;
        }
        }
    }

    Handle m_env;
    Handle m_dbc;
    bool m_connected = false;
    std::mutex m_stmtMutex; // guards m_stmt against interrupt() from another thread
    Handle m_stmt;
    Handle m_reader; // the row reader's statement, fetched a batch at a time
    std::vector<Value::Type> m_readerTypes;
    SQLHSTMT m_running = SQL_NULL_HANDLE; // the prepared insert under way, for interrupt()
    Prepared m_bulkFull;                  // a full group of rows
    Prepared m_bulkTail;                  // the last, shorter group
    std::vector<Param> m_params;
    ArrayBatch m_arrayBatch; // the rows insertRows() writes as arrays
    PgSession m_pg;          // opened at the first transaction whose rows go through COPY
    std::string m_odbcString;
    Tx m_tx = Tx::None;
    Dialect m_dialect = Dialect::OtherOdbc;
    std::string m_source;
    std::string m_quote = "\"";
};

} // namespace

std::unique_ptr<Backend> makeOdbcBackend()
{
    return std::make_unique<OdbcBackend>();
}

} // namespace zs::db
