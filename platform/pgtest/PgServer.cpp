#include "pgtest/PgServer.h"

#include "process/Process.h"
#include "testsupport/Loopback.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zs::pgtest {

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";
const std::string kPassword = "zs-Pg-secret";
const std::string kUser = "postgres";

std::string odbcDriver(const char* name)
{
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/", "/usr/lib/odbc/"}) {
        const std::string p = std::string(dir) + name;
        if (std::filesystem::exists(p))
            return p;
    }
    return name;
}

bool asRoot()
{
    return ::geteuid() == 0;
}

/// argv run as the postgres user when we are root, as ourselves otherwise.
std::vector<std::string> asPostgres(std::vector<std::string> argv)
{
    if (asRoot())
        argv.insert(argv.begin(), {"runuser", "-u", "postgres", "--"});
    return argv;
}

void removeFolder(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::vector<std::string> stopArgv(const std::string& dir)
{
    return asPostgres({kBin + "pg_ctl", "-D", dir + "/data", "-m", "immediate", "-w", "stop"});
}

/// initdb and pg_ctl start in a fresh folder; fills `dir` and `port`.
bool startCluster(std::string& dir, int& port, std::string& error)
{
    if (!std::filesystem::exists(kBin + "initdb")) {
        error = "PostgreSQL 15 is not installed (" + kBin + "initdb missing)";
        return false;
    }
    // As root the folder goes under /tmp whatever $TMPDIR says: the postgres user must reach it.
    const std::filesystem::path base =
        asRoot() ? std::filesystem::path("/tmp") : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "zs-pg-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        error = "mkdtemp failed";
        return false;
    }
    dir = tmpl;
    const std::string pwfile = dir + "/pw";
    {
        std::ofstream(pwfile) << kPassword << "\n";
    }
    if (asRoot()) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw || ::chown(dir.c_str(), pw->pw_uid, pw->pw_gid) != 0 ||
            ::chown(pwfile.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            error = "no postgres user to own " + dir;
            removeFolder(dir);
            return false;
        }
    }
    process::RunOptions quiet;
    quiet.captureOutput = true;
    auto r = process::run(asPostgres({kBin + "initdb", "-D", dir + "/data", "-U", kUser, "--pwfile=" + pwfile,
                                      "--auth-host=scram-sha-256", "--auth-local=trust", "-E", "UTF8", "--locale=C",
                                      "--no-sync", "--no-instructions"}),
                          quiet);
    if (r.exitCode != 0) {
        error = "initdb failed: " + r.error + r.output;
        removeFolder(dir);
        return false;
    }
    port = zs::test::freePort();
    r = process::run(
        asPostgres({kBin + "pg_ctl", "-D", dir + "/data", "-l", dir + "/server.log", "-w", "-t", "30", "-o",
                    "-c listen_addresses=127.0.0.1 -p " + std::to_string(port) + " -k " + dir +
                        " -c fsync=off -c full_page_writes=off",
                    "start"}),
        quiet);
    if (r.exitCode != 0) {
        error = "pg_ctl start failed: " + r.error + r.output;
        removeFolder(dir);
        return false;
    }
    return true;
}

/// The reaper: a detached process that waits until `waitFd` turns readable (the write end of a
/// pipe closed, or a pidfd's process ended), then stops the server and removes its folder. It
/// ends by itself when the folder goes away first (the server was stopped in the normal way).
/// Returns the reaper's pid, or 0 when it could not be started.
pid_t spawnReaper(const std::string& dir, int waitFd)
{
    auto stop = stopArgv(dir);
    const auto found = process::findProgram(stop[0]);
    if (!found)
        return 0;
    stop[0] = *found;
    std::vector<std::string> rm = {"/bin/rm", "-rf", dir};
    std::vector<char*> stopP, rmP;
    for (auto& s : stop)
        stopP.push_back(s.data());
    stopP.push_back(nullptr);
    for (auto& s : rm)
        rmP.push_back(s.data());
    rmP.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid < 0 ? 0 : pid;
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != waitFd)
            ::close(fd);
    ::setsid();
    const std::string data = dir + "/data";
    for (;;) {
        pollfd p{waitFd, POLLIN, 0};
        const int n = ::poll(&p, 1, 1000);
        if (n > 0 || (n < 0 && errno != EINTR))
            break;
        if (::access(data.c_str(), F_OK) != 0)
            ::_exit(0);
    }
    const pid_t p = ::fork();
    if (p == 0) {
        ::execv(stopP[0], stopP.data());
        ::_exit(127);
    }
    int st = 0;
    ::waitpid(p, &st, 0);
    ::execv(rmP[0], rmP.data());
    ::_exit(127);
}

std::string uniqueDatabaseName()
{
    std::random_device random;
    std::ostringstream name;
    name << "zs_test_" << ::getpid() << "_" << std::hex << random();
    return name.str();
}

bool runPsql(int port, const std::string& sql, std::string* output, const std::string& database)
{
    process::RunOptions options;
    options.captureOutput = true;
    options.extraEnvironment = {"PGPASSWORD=" + kPassword};
    const auto r = process::run({kBin + "psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1",
                                 "-p", std::to_string(port), "-U", kUser, "-d", database, "-c", sql},
                                options);
    if (output)
        *output = r.output + r.error;
    return r.exitCode == 0;
}

} // namespace

std::string usePrivateOdbcIni()
{
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zs-odbc-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            return std::string();
        std::ofstream(tmpl + "/odbcinst.ini") << "[PostgreSQL Unicode]\nDriver=" << odbcDriver("psqlodbcw.so")
                                              << "\n\n[SQLite3]\nDriver=" << odbcDriver("libsqlite3odbc.so") << "\n";
        std::ofstream(tmpl + "/odbc.ini") << "";
        ::setenv("ODBCSYSINI", tmpl.c_str(), 1);
        ::setenv("ODBCINI", (tmpl + "/odbc.ini").c_str(), 1);
        std::atexit([] {
            if (const char* d = std::getenv("ODBCSYSINI")) {
                std::error_code ec;
                std::filesystem::remove_all(d, ec);
            }
        });
        return tmpl;
    }();
    return dir;
}

Server& Server::shared()
{
    static Server server;
    return server;
}

Server::Server()
{
    usePrivateOdbcIni();
    const char* runServer = std::getenv(kRunServerVariable);
    if (runServer && *runServer && attach(runServer))
        return;
    for (int attempt = 0; attempt < 3 && !start(); ++attempt) {
    }
    if (m_port != 0 && !createDatabase())
        stop();
}

Server::~Server()
{
    stop();
}

bool Server::attach(const std::filesystem::path& serverFile)
{
    std::ifstream in(serverFile);
    int port = 0;
    if (!(in >> port) || port <= 0) {
        m_error = "no test server in " + serverFile.string();
        return false;
    }
    m_port = port;
    if (!createDatabase()) {
        m_port = 0;
        return false;
    }
    return true;
}

bool Server::start()
{
    int port = 0;
    if (!startCluster(m_dir, port, m_error))
        return false;
    m_port = port;
    // The reaper waits for the write end of a pipe to close: our stop() or our death.
    int fds[2];
    if (::pipe(fds) != 0)
        return true;
    m_reaperPid = spawnReaper(m_dir, fds[0]);
    ::close(fds[0]);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    m_reaperPipe = fds[1];
    return true;
}

bool Server::createDatabase()
{
    const std::string name = uniqueDatabaseName();
    std::string output;
    if (!runPsql(m_port, "create database " + name, &output, "postgres")) {
        m_error = "create database failed: " + output;
        return false;
    }
    m_database = name;
    return true;
}

void Server::stop()
{
    if (m_port != 0 && !m_database.empty() && m_reaperPipe < 0)
        runPsql(m_port, "drop database if exists " + m_database + " with (force)", nullptr, "postgres");
    m_database.clear();
    if (m_reaperPipe >= 0) {
        ::close(m_reaperPipe);
        m_reaperPipe = -1;
        int st = 0;
        ::waitpid(m_reaperPid, &st, 0);
    }
    m_port = 0;
}

std::string Server::odbcConnectionString(const std::string& database) const
{
    return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(m_port) +
           ";Database=" + (database.empty() ? m_database : database) + ";UID=" + user() + ";PWD=" + password();
}

bool Server::psql(const std::string& sql, std::string* output, const std::string& database) const
{
    return runPsql(m_port, sql, output, database.empty() ? m_database : database);
}

void Environment::SetUp()
{
    Server::shared();
}

bool startRunServer(const std::filesystem::path& serverFile, int owner, std::string& error)
{
    std::string dir;
    int port = 0;
    if (!startCluster(dir, port, error))
        return false;
    const int ownerFd = static_cast<int>(::syscall(SYS_pidfd_open, owner, 0));
    if (ownerFd < 0 || spawnReaper(dir, ownerFd) == 0) {
        error = "no helper to stop the server when the run ends";
        process::run(stopArgv(dir));
        removeFolder(dir);
        return false;
    }
    ::close(ownerFd);
    std::error_code ec;
    std::filesystem::create_directories(serverFile.parent_path(), ec);
    const std::filesystem::path partial = serverFile.string() + ".new";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << port << "\n" << dir << "\n";
        if (!out.flush()) {
            error = "cannot write " + partial.string();
            return false;
        }
    }
    std::filesystem::rename(partial, serverFile, ec);
    if (ec) {
        error = "cannot write " + serverFile.string() + ": " + ec.message();
        return false;
    }
    return true;
}

bool stopRunServer(const std::filesystem::path& serverFile, std::string& error)
{
    std::ifstream in(serverFile);
    int port = 0;
    std::string dir;
    if (!(in >> port >> dir))
        return true;
    in.close();
    std::error_code ec;
    std::filesystem::remove(serverFile, ec);
    process::RunOptions quiet;
    quiet.captureOutput = true;
    const auto r = process::run(stopArgv(dir), quiet);
    removeFolder(dir);
    if (r.exitCode != 0) {
        error = "pg_ctl stop failed: " + r.error + r.output;
        return false;
    }
    return true;
}

} // namespace zs::pgtest
