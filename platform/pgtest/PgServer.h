#pragma once
// A throw-away PostgreSQL 15 server for tests: initdb and pg_ctl as the `postgres` user (when
// the tests run as root), data and socket in a fresh temporary folder, listening on
// 127.0.0.1 on a free port, and a private ODBCSYSINI naming the PostgreSQL and SQLite ODBC
// drivers. Under CTest one server serves the whole run (started and stopped by the fixture
// tests that zs_pgtest_server runs) and each test process gets a database of its own; a test
// binary run by hand starts a server of its own. A helper process stops a server and removes
// its folder when its owner ends, even when it crashes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zs::pgtest {

/// Writes odbcinst.ini (drivers "PostgreSQL Unicode" and "SQLite3") and an empty odbc.ini into
/// a private folder and sets ODBCSYSINI to it. Once per process; returns the folder.
std::string usePrivateOdbcIni();

/// The environment variable naming the run's server file (set by CTest for the tests of any
/// binary that links zs::pgtest).
inline constexpr const char* kRunServerVariable = "ZS_PGTEST_SERVER";

class Server {
  public:
    /// The process's server, reached on the first call: the run's server when one was started
    /// for the run, else one of the process's own. Check ok() before use.
    static Server& shared();

    bool ok() const { return m_port != 0; }
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1"; }
    /// The superuser and its password.
    std::string user() const { return "postgres"; }
    std::string password() const { return "zs-Pg-secret"; }
    /// This process's own database, created empty on the first call and dropped at the end.
    const std::string& database() const { return m_database; }

    /// "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=…;Database=…;UID=…;PWD=…"; the
    /// process's own database when `database` is empty.
    std::string odbcConnectionString(const std::string& database = {}) const;
    /// Runs `sql` with psql as the superuser, in the process's own database when `database` is
    /// empty; false with the output in `output` on failure.
    bool psql(const std::string& sql, std::string* output = nullptr, const std::string& database = {}) const;

    /// Drops the process's database and, when the server is the process's own, stops it and
    /// removes its folder (also done at process exit).
    void stop();

  private:
    Server();
    ~Server();
    bool attach(const std::filesystem::path& serverFile);
    bool start();
    bool createDatabase();

    std::string m_dir;
    std::string m_error;
    std::string m_database;
    int m_port = 0;
    int m_reaperPipe = -1;
    int m_reaperPid = 0;
};

/// Starts a server for a whole test run and writes its port and folder to `serverFile`. The
/// server is stopped by stopRunServer or, failing that, as soon as process `owner` ends.
[[nodiscard]] bool startRunServer(const std::filesystem::path& serverFile, int owner, std::string& error);
/// Stops the server `serverFile` names, removes its folder and the file. True when none runs.
[[nodiscard]] bool stopRunServer(const std::filesystem::path& serverFile, std::string& error);

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
