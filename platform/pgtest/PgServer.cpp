#include "pgtest/PgServer.h"

#include "process/Process.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zs::pgtest {

namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin/";

std::string odbcDriver(const char* name)
{
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc/", "/usr/lib/aarch64-linux-gnu/odbc/", "/usr/lib/odbc/"}) {
        const std::string p = std::string(dir) + name;
        if (std::filesystem::exists(p))
            return p;
    }
    return name;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
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
    for (int attempt = 0; attempt < 3 && !start(); ++attempt) {
    }
}

Server::~Server()
{
    stop();
}

bool Server::start()
{
    if (!std::filesystem::exists(kBin + "initdb")) {
        m_error = "PostgreSQL 15 is not installed (" + kBin + "initdb missing)";
        return false;
    }
    // As root the folder goes under /tmp whatever $TMPDIR says: the postgres user must reach it.
    const std::filesystem::path base =
        asRoot() ? std::filesystem::path("/tmp") : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "zs-pg-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        m_error = "mkdtemp failed";
        return false;
    }
    m_dir = tmpl;
    if (asRoot()) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw || ::chown(m_dir.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            m_error = "no postgres user to own " + m_dir;
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
            return false;
        }
    }
    const std::string pwfile = m_dir + "/pw";
    {
        std::ofstream(pwfile) << password() << "\n";
    }
    if (asRoot()) {
        const passwd* pw = ::getpwnam("postgres");
        if (::chown(pwfile.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            m_error = "chown of the password file failed";
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
            return false;
        }
    }
    process::RunOptions quiet;
    quiet.captureOutput = true;
    auto r = process::run(asPostgres({kBin + "initdb", "-D", m_dir + "/data", "-U", user(), "--pwfile=" + pwfile,
                                      "--auth-host=scram-sha-256", "--auth-local=trust", "-E", "UTF8", "--locale=C",
                                      "--no-sync", "--no-instructions"}),
                          quiet);
    if (r.exitCode != 0) {
        m_error = "initdb failed: " + r.error + r.output;
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        return false;
    }
    const int port = freePort();
    r = process::run(
        asPostgres({kBin + "pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/server.log", "-w", "-t", "30", "-o",
                    "-c listen_addresses=127.0.0.1 -p " + std::to_string(port) + " -k " + m_dir +
                        " -c fsync=off -c full_page_writes=off",
                    "start"}),
        quiet);
    if (r.exitCode != 0) {
        m_error = "pg_ctl start failed: " + r.error + r.output;
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        return false;
    }
    m_port = port;

    // The reaper: waits for the write end of a pipe to close (our stop() or our death), then
    // stops the server and removes its folder.
    auto stopArgv = asPostgres({kBin + "pg_ctl", "-D", m_dir + "/data", "-m", "immediate", "-w", "stop"});
    std::vector<std::string> rmArgv = {"/bin/rm", "-rf", m_dir};
    stopArgv[0] = *process::findProgram(stopArgv[0]);
    std::vector<char*> stopP, rmP;
    for (auto& s : stopArgv)
        stopP.push_back(s.data());
    stopP.push_back(nullptr);
    for (auto& s : rmArgv)
        rmP.push_back(s.data());
    rmP.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0)
        return true;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != fds[0])
                ::close(fd);
        ::setsid();
        char c;
        while (::read(fds[0], &c, 1) != 0) {
        }
        pid_t p = ::fork();
        if (p == 0) {
            ::execv(stopP[0], stopP.data());
            ::_exit(127);
        }
        int st = 0;
        ::waitpid(p, &st, 0);
        ::execv(rmP[0], rmP.data());
        ::_exit(127);
    }
    ::close(fds[0]);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    m_reaperPipe = fds[1];
    m_reaperPid = pid;
    return true;
}

void Server::stop()
{
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
    return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(m_port) + ";Database=" + database +
           ";UID=" + user() + ";PWD=" + password();
}

bool Server::psql(const std::string& sql, std::string* output, const std::string& database) const
{
    process::RunOptions options;
    options.captureOutput = true;
    options.extraEnvironment = {"PGPASSWORD=" + password()};
    const auto r = process::run({kBin + "psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1",
                                 "-p", std::to_string(m_port), "-U", user(), "-d", database, "-c", sql},
                                options);
    if (output)
        *output = r.output;
    return r.exitCode == 0;
}

void Environment::SetUp()
{
    Server::shared();
}

} // namespace zs::pgtest
