#pragma once
// A throw-away PostgreSQL 15 server for tests: initdb and pg_ctl as the `postgres` user (when
// the tests run as root), data and socket in a fresh temporary folder, listening on
// 127.0.0.1 on a free port, and a private ODBCSYSINI naming the PostgreSQL and SQLite ODBC
// drivers. A helper process stops the server and removes the folder when the test process
// ends, even when it crashes.

#include <gtest/gtest.h>

#include <string>

namespace zs::pgtest {

/// Writes odbcinst.ini (drivers "PostgreSQL Unicode" and "SQLite3") and an empty odbc.ini into
/// a private folder and sets ODBCSYSINI to it. Once per process; returns the folder.
std::string usePrivateOdbcIni();

class Server {
  public:
    /// The process's server, started on the first call. Check ok() before use.
    static Server& shared();

    bool ok() const { return m_port != 0; }
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1"; }
    /// The superuser and its password.
    std::string user() const { return "postgres"; }
    std::string password() const { return "zs-Pg-secret"; }

    /// "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=…;Database=…;UID=…;PWD=…".
    std::string odbcConnectionString(const std::string& database = "postgres") const;
    /// Runs `sql` with psql as the superuser; false with the output in `output` on failure.
    bool psql(const std::string& sql, std::string* output = nullptr, const std::string& database = "postgres") const;

    /// Stops the server and removes its folder (also done at process exit).
    void stop();

  private:
    Server();
    ~Server();
    bool start();

    std::string m_dir;
    std::string m_error;
    int m_port = 0;
    int m_reaperPipe = -1;
    int m_reaperPid = 0;
};

/// Starts the shared server before the tests and stops it after them.
class Environment : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override { Server::shared().stop(); }
};

} // namespace zs::pgtest

/// Fails the current test when the PostgreSQL server could not be started.
#define ZS_REQUIRE_PG()                                                                                                \
    do {                                                                                                               \
        if (!::zs::pgtest::Server::shared().ok())                                                                      \
            FAIL() << "PostgreSQL test server: " << ::zs::pgtest::Server::shared().error();                            \
    } while (0)
