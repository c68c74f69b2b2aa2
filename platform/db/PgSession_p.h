#pragma once
// A second, libpq connection to the PostgreSQL server an ODBC connection reaches, for the bulk
// load through COPY. It carries whole transactions: the ODBC backend hands one over to it when
// its first rows arrive, and sends the rest of that transaction here.

#include "db/Connection.h"
#include "db/Value.h"

#include <memory>
#include <string>
#include <vector>

namespace zs::db {

/// The libpq connection parameters (host, port, dbname, user, password) of an ODBC string that
/// names its server by Driver= and Server=; empty when it names none (a DSN, say).
std::vector<std::pair<std::string, std::string>> libpqParameters(const std::string& odbcString);

class PgSession {
  public:
    PgSession();
    ~PgSession();
    PgSession(const PgSession&) = delete;
    PgSession& operator=(const PgSession&) = delete;

    /// Connects with `parameters`; errors are of class Connect.
    bool open(const std::vector<std::pair<std::string, std::string>>& parameters, const std::string& source,
              ErrorList& errors);
    bool isOpen() const;
    void close() noexcept;
    /// Runs `sql` (one or more statements) and waits for all its results.
    bool execute(const std::string& sql, ErrorList& errors);
    /// Sends `rows` (COPY text) to `table`'s `quotedColumns` through COPY … FROM STDIN.
    bool copyIn(const std::string& table, const std::vector<std::string>& quotedColumns, const std::string& rows,
                ErrorList& errors);
    /// Asks the server to stop the statement under way; any thread.
    void cancel() noexcept;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zs::db
