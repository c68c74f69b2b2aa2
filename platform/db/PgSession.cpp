// The libpq connection of a PostgreSQL target's bulk load: the connection's items taken from the
// ODBC string, statements and COPY … FROM STDIN in blocking mode, a cancel from any thread.

#include "db/PgSession_p.h"

#include "db/ConnectionString.h"
#include "text/Ascii.h"

#include <libpq-fe.h>

#include <atomic>
#include <mutex>

namespace zs::db {

std::vector<std::pair<std::string, std::string>> libpqParameters(const std::string& odbcString)
{
    std::string error;
    const auto cs = ConnectionString::parse(odbcString, error);
    if (!cs || !cs->get("Driver"))
        return {};
    const auto first = [&cs](std::initializer_list<const char*> keys) -> std::optional<std::string> {
        for (const char* k : keys)
            if (auto v = cs->get(k))
                return v;
        return std::nullopt;
    };
    const auto host = first({"Server", "Servername"});
    if (!host || host->empty())
        return {};
    std::vector<std::pair<std::string, std::string>> out{{"host", *host}};
    const auto add = [&](const char* name, std::initializer_list<const char*> keys) {
        if (auto v = first(keys); v && !v->empty())
            out.emplace_back(name, *v);
    };
    add("port", {"Port"});
    add("dbname", {"Database"});
    add("user", {"UID", "User", "Username"});
    add("password", {"PWD", "Password"});
    add("sslmode", {"SSLmode"});
    out.emplace_back("client_encoding", "UTF8");
    out.emplace_back("connect_timeout", "15"); // as the ODBC login's
    return out;
}

struct PgSession::Impl {
    PGconn* conn = nullptr;
    std::mutex cancelMutex; // guards cancelHandle against cancel() from another thread
    PGcancel* cancelHandle = nullptr;
    std::atomic<bool> busy{false};
    std::string source;

    /// The error of `res` (or of the connection when it has none) appended to `errors`.
    void fail(const PGresult* res, ErrorList& errors) const
    {
        Error e;
        const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
        const char* primary = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const char* severity = res ? PQresultErrorField(res, PG_DIAG_SEVERITY) : nullptr;
        e.sqlState = state ? state : PQstatus(conn) == CONNECTION_BAD ? "08006" : "";
        // The texts the ODBC driver gives for the same refusal.
        if (primary) {
            const char* detail = PQresultErrorField(res, PG_DIAG_MESSAGE_DETAIL);
            e.description = std::string(severity ? severity : "ERROR") + ": " + primary +
                            (detail ? std::string("\nDETAIL: ") + detail : std::string()) +
                            ";\nError while executing the query";
        } else {
            e.description = PQerrorMessage(conn);
            while (!e.description.empty() && (e.description.back() == '\n' || e.description.back() == ' '))
                e.description.pop_back();
            if (e.description.empty())
                e.description = "the statement could not be sent to the server";
        }
        e.source = source;
        e.kind = ErrorClass::Rejected;
        errors.push_back(std::move(e));
    }

    /// Reads every result of the statement sent; false with the first failure's error.
    bool finish(ErrorList& errors)
    {
        bool ok = true;
        while (PGresult* res = PQgetResult(conn)) {
            const ExecStatusType st = PQresultStatus(res);
            if (ok && st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_EMPTY_QUERY) {
                fail(res, errors);
                ok = false;
            }
            PQclear(res);
            if (st == PGRES_COPY_IN) // a COPY in a text of statements: nothing to send
                PQputCopyEnd(conn, "no rows here");
        }
        return ok;
    }

    struct Busy {
        std::atomic<bool>& b;
        explicit Busy(std::atomic<bool>& flag)
            : b(flag)
        {
            b = true;
        }
        ~Busy() { b = false; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
    };
};

PgSession::PgSession()
    : m_impl(std::make_unique<Impl>())
{}

PgSession::~PgSession()
{
    close();
}

bool PgSession::open(const std::vector<std::pair<std::string, std::string>>& parameters, const std::string& source,
                     ErrorList& errors)
{
    close();
    m_impl->source = source;
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [k, v] : parameters) {
        keys.push_back(k.c_str());
        values.push_back(v.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
        std::string why = conn ? PQerrorMessage(conn) : "out of memory";
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        if (conn)
            PQfinish(conn);
        errors.push_back(makeError(ErrorClass::Connect, why, source));
        return false;
    }
    m_impl->conn = conn;
    {
        std::lock_guard lock(m_impl->cancelMutex);
        m_impl->cancelHandle = PQgetCancel(conn);
    }
    // As on the ODBC connection: the server ends the work of a client that has gone. A server
    // older than 14 refuses the setting, which changes nothing else.
    ErrorList ignored;
    (void)execute("SET client_connection_check_interval = 1000", ignored);
    return true;
}

bool PgSession::isOpen() const
{
    return m_impl->conn != nullptr && PQstatus(m_impl->conn) == CONNECTION_OK;
}

void PgSession::close() noexcept
{
    {
        std::lock_guard lock(m_impl->cancelMutex);
        if (m_impl->cancelHandle)
            PQfreeCancel(m_impl->cancelHandle);
        m_impl->cancelHandle = nullptr;
    }
    if (m_impl->conn)
        PQfinish(m_impl->conn);
    m_impl->conn = nullptr;
}

bool PgSession::execute(const std::string& sql, ErrorList& errors)
{
    Impl::Busy busy(m_impl->busy);
    if (!PQsendQuery(m_impl->conn, sql.c_str())) {
        m_impl->fail(nullptr, errors);
        return false;
    }
    return m_impl->finish(errors);
}

bool PgSession::copyIn(const std::string& table, const std::vector<std::string>& quotedColumns, const std::string& rows,
                       ErrorList& errors)
{
    std::string sql = "COPY " + table + " (";
    for (std::size_t c = 0; c < quotedColumns.size(); ++c)
        sql += (c ? "," : "") + quotedColumns[c];
    sql += ") FROM STDIN";
    Impl::Busy busy(m_impl->busy);
    PGconn* conn = m_impl->conn;
    PGresult* res = PQexec(conn, sql.c_str());
    if (PQresultStatus(res) != PGRES_COPY_IN) {
        m_impl->fail(res, errors);
        PQclear(res);
        (void)m_impl->finish(errors);
        return false;
    }
    PQclear(res);
    // Blocking mode: each call returns once libpq has taken the data. A failed send (the link
    // broken) still ends with the server's result, read below.
    static constexpr std::size_t kChunk = 1 << 20;
    bool sent = true;
    for (std::size_t at = 0; sent && at < rows.size(); at += kChunk)
        sent = PQputCopyData(conn, rows.data() + at, static_cast<int>(std::min(kChunk, rows.size() - at))) == 1;
    if (PQputCopyEnd(conn, nullptr) != 1)
        sent = false;
    const bool ok = m_impl->finish(errors);
    if (ok && !sent) {
        m_impl->fail(nullptr, errors);
        return false;
    }
    return ok;
}

void PgSession::cancel() noexcept
{
    std::lock_guard lock(m_impl->cancelMutex);
    if (m_impl->cancelHandle && m_impl->busy) {
        char why[256];
        (void)PQcancel(m_impl->cancelHandle, why, sizeof why);
    }
}

} // namespace zs::db
