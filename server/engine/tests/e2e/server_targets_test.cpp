// Program folders set up by the configuration wizard alone: for every kind of target it offers,
// the settings it writes give the driver a connection text that opens the database (a SQLite
// file, the FreeTDS driver for SQL Server, the Oracle driver), and a run over them reaches the
// target: the demo's data on SQLite, and a listener of the test's own that the FreeTDS driver
// opens its SQL Server session with. zs-extract's command line and the error lines of a broken
// OLAP catalog belong here too: what an operator meets first.

#include "ExtractDriver.h"
#include "db/ConnectionString.h"
#include "dialogs/core/WizardModel.h"
#include "engine/Connessioni.h"
#include "process/Process.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/Loopback.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "Qx7-Segreta!";

std::string readAll(const fs::path& folder)
{
    std::string all;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return all;
    for (const auto& e : fs::directory_iterator(folder))
        all += zs::test::readFile(e.path());
    return all;
}

/// The wizard's Finish over the folder's settings as the program holds them at start-up (read
/// first when the file exists), with the fields that `fill` sets.
void finishWizard(const fs::path& home, const std::function<void(dialogs::WizardFields&)>& fill)
{
    zs::test::RecordingMessages messages;
    program::ProgramSettings values;
    program::SecondaryOptionsFields fields;
    program::SettingsStore store(values, fields, messages, home);
    if (store.load())
        (void)store.LeggiImpostazioni(store.DocImpostazioni()->root());
    dialogs::WizardFields f = dialogs::LoadWizardFields(store);
    fill(f);
    std::string error;
    ASSERT_TRUE(dialogs::FinishWizard(store, values, f, nullptr, &error)) << error;
    EXPECT_TRUE(messages.shown.empty());
}

/// The settings values the program reads from the folder at its next start.
program::ProgramSettings readBack(const fs::path& home)
{
    zs::test::RecordingMessages messages;
    program::ProgramSettings values;
    program::SecondaryOptionsFields fields;
    program::SettingsStore store(values, fields, messages, home);
    EXPECT_TRUE(store.load());
    if (store.hasDocument()) {
        EXPECT_TRUE(store.LeggiImpostazioni(store.DocImpostazioni()->root()).empty());
    }
    return values;
}

/// What the driver is handed for the server side: the template filled and translated.
std::string serverDriverText(const program::ProgramSettings& s)
{
    std::string reason;
    const auto cs = Connessioni::buildServerConnectionString(s.ProviderServer, s.NomeServer, s.NomeDatabase,
                                                             s.UtenteServer, s.PasswordServer, reason);
    if (!cs)
        return "refused: " + reason;
    db::Error error;
    const auto target = db::resolveConnectionString(*cs, error);
    if (!target)
        return "unresolved: " + error.description;
    return target->kind == db::ConnectionTarget::Kind::Odbc ? target->odbcString : "sqlite:" + target->sqlitePath;
}

/// What the driver is handed for the Access side: the SQLite file.
std::string accessDriverText(const program::ProgramSettings& s)
{
    db::Error error;
    const auto target = db::resolveConnectionString(s.ProviderAccess + s.PercorsoAccess + ";", error);
    if (!target)
        return "unresolved: " + error.description;
    return target->kind == db::ConnectionTarget::Kind::Sqlite ? "sqlite:" + target->sqlitePath : target->odbcString;
}

TEST(WizardTargets, EveryKindTheWizardOffersGivesTheDriverAConnectionText)
{
    // The driver names as a site leaves them: the standard ones.
    const zs::test::ScopedEnvVar sqlServerDriver("ZS_ODBC_SQLSERVER_DRIVER", std::nullopt);
    const zs::test::ScopedEnvVar oracleDriver("ZS_ODBC_ORACLE_DRIVER", std::nullopt);
    struct Case {
        const char* name;
        dialogs::ServerKind kind;
        const char* server;
        const char* database;
        const char* serverText; // "" when the kind has no server side
        bool access;            // an Access (SQLite) side
    };
    const Case cases[] = {
        {"access", dialogs::ServerKind::Access, "", "", "", true},
        {"sql server", dialogs::ServerKind::SqlServer, "sqlsrv01,1433", "Vendite",
         "Driver={FreeTDS};Server=sqlsrv01;Port=1433;Database=vendite;UID=zentrik;PWD=Qx7-Segreta!;TDS_Version=7.4",
         false},
        {"mixed", dialogs::ServerKind::Mixed, "SqlSrv01,1433", "Vendite",
         "Driver={FreeTDS};Server=sqlsrv01;Port=1433;Database=vendite;UID=zentrik;PWD=Qx7-Segreta!;TDS_Version=7.4",
         true},
        {"oracle", dialogs::ServerKind::Oracle, "dbhost:1521", "ORCL",
         "Driver={Oracle};DBQ=dbhost:1521/orcl;UID=zentrik;PWD=Qx7-Segreta!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        const fs::path home = env.home();
        fs::create_directories(home);
        zs::test::writeFile(home / "target.db", "");
        finishWizard(home, [&](dialogs::WizardFields& f) {
            f.kind = c.kind;
            f.txtAccess = (home / "target.db").string();
            f.txtServerName = c.server;
            f.txtDb = c.database;
            f.txtLogin = "zentrik";
            f.txtPassword0 = f.txtPassword1 = kPassword;
        });
        // The wizard writes no provider template: the program supplies the standard one.
        const std::string file = zs::test::readFile(home / "zentrikServer.xml");
        EXPECT_EQ(file.find("Provider"), std::string::npos) << file;
        EXPECT_EQ(file.find(kPassword), std::string::npos) << file; // stored encoded
        const program::ProgramSettings s = readBack(home);
        if (*c.serverText)
            EXPECT_EQ(serverDriverText(s), c.serverText);
        else
            EXPECT_EQ(s.ProviderServer, "");
        if (c.access)
            EXPECT_EQ(accessDriverText(s), "sqlite:" + (home / "target.db").string());
        else
            EXPECT_EQ(s.ProviderAccess, "");
    }
}

TEST(WizardTargets, AProviderInTheFileWinsOverTheStandardOne)
{
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::create_directories(home);
    // A PostgreSQL target, reached with the server type SQL Server through its own driver.
    zs::test::writeFile(home / "zentrikServer.xml",
                        "<?xml version=\"1.0\"?><zentrikServer>"
                        "<Provider>Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=5432</Provider>"
                        "</zentrikServer>");
    finishWizard(home, [](dialogs::WizardFields& f) {
        f.kind = dialogs::ServerKind::SqlServer;
        f.txtServerName = "pghost";
        f.txtDb = "vendite";
        f.txtLogin = "zentrik";
        f.txtPassword0 = f.txtPassword1 = kPassword;
    });
    EXPECT_EQ(serverDriverText(readBack(home)),
              "driver={postgresql unicode};server=pghost;database=vendite;uid=zentrik;pwd=Qx7-Segreta!;port=5432");
}

TEST(WizardTargets, TheDemoRunsOnTheAccessFileTheWizardNames)
{
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    // A site's settings without a provider of the Access file: the wizard names only the file.
    {
        zs::test::RecordingMessages messages;
        program::ProgramSettings values;
        program::SecondaryOptionsFields fields;
        program::SettingsStore store(values, fields, messages, home);
        ASSERT_TRUE(store.load());
        xml::Element root = store.DocImpostazioni()->root();
        for (const char* name : {"PROVIDERACCESS", "DatabaseAccess"})
            root.removeChild(root.child(name));
        ASSERT_TRUE(store.SalvaImpostazioni());
    }
    ASSERT_EQ(zs::test::readFile(home / "zentrikServer.xml").find("PROVIDERACCESS"), std::string::npos);
    finishWizard(home, [&](dialogs::WizardFields& f) {
        f.kind = dialogs::ServerKind::Access;
        f.txtAccess = (home / "target.db").string();
    });
    const auto result = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(result.exitCode, 0) << result.output << result.error;
    EXPECT_NE(result.output.find("Estrazione terminata con successo."), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("ERRORE"), std::string::npos) << result.output;
}

/// A listener on 127.0.0.1 that takes each connection, keeps the first bytes the client sends
/// and hangs up: a server that is there but never answers the login.
class HangingUpListener {
  public:
    HangingUpListener()
        : m_thread([this] {
            zs::test::acceptEach(m_socket, m_stop, [this](int fd) {
                unsigned char buf[512];
                timeval tv{5, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                {
                    std::lock_guard lock(m_mutex);
                    m_first.emplace_back(buf, buf + (n > 0 ? n : 0));
                }
                ::close(fd);
            });
        })
    {}
    ~HangingUpListener()
    {
        m_stop = true;
        m_thread.join();
    }
    std::uint16_t port() const { return m_socket.port(); }
    std::vector<std::vector<unsigned char>> received()
    {
        std::lock_guard lock(m_mutex);
        return m_first;
    }

  private:
    zs::test::LoopbackSocket m_socket;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::vector<unsigned char>> m_first;
    std::thread m_thread;
};

bool freeTdsInstalled()
{
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc", "/usr/local/lib"})
        if (fs::exists(fs::path(dir) / "libtdsodbc.so"))
            return true;
    return false;
}

TEST(WizardTargets, ASqlServerTargetIsReachedThroughFreeTdsAndItsFailureSaidWithoutThePassword)
{
    if (!freeTdsInstalled())
        GTEST_SKIP() << "the FreeTDS ODBC driver (libtdsodbc.so, Debian package tdsodbc) is not installed: "
                        "scripts/install-deps installs and registers it";
    // The driver as the system registers it (scripts/install-deps), not a test's private list.
    const zs::test::ScopedEnvVar sysIni("ODBCSYSINI", std::nullopt);
    const zs::test::ScopedEnvVar userIni("ODBCINI", std::nullopt);
    const zs::test::ScopedEnvVar driver("ZS_ODBC_SQLSERVER_DRIVER", std::nullopt);
    process::RunOptions capture;
    capture.captureOutput = true;
    const auto registered = process::run({"odbcinst", "-q", "-d", "-n", "FreeTDS"}, capture);
    ASSERT_EQ(registered.exitCode, 0) << "libtdsodbc.so is installed but unixODBC knows no driver \"FreeTDS\" "
                                         "(scripts/install-deps registers it): "
                                      << registered.output;

    HangingUpListener server;
    ASSERT_NE(server.port(), 0);
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::create_directories(home);
    zs::test::writeFile(home / "zentrikServer.xml", "<?xml version=\"1.0\"?><zentrikServer>"
                                                    "<LOADINGFILE>zentrikLoading.xml</LOADINGFILE></zentrikServer>");
    zs::test::writeFile(home / "zentrikLoading.xml",
                        "<?xml version=\"1.0\"?><Estrattore><CLIENTI><esegui>si</esegui><operazione>Clienti"
                        "</operazione><query>select 1</query></CLIENTI></Estrattore>");
    finishWizard(home, [&](dialogs::WizardFields& f) {
        f.kind = dialogs::ServerKind::SqlServer;
        f.txtServerName = "127.0.0.1," + std::to_string(server.port());
        f.txtDb = "Vendite";
        f.txtLogin = "zentrik";
        f.txtPassword0 = f.txtPassword1 = kPassword;
    });

    const auto result = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    // Every attempt of the run opened a TDS session: its first packet is the pre-login (0x12).
    const auto received = server.received();
    ASSERT_FALSE(received.empty()) << "nothing reached the listener:\n" << result.output;
    for (const auto& first : received) {
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first.front(), 0x12);
    }
    // The Italian first line names the failure with the connection text, password hidden.
    EXPECT_NE(result.output.find("ERRORE  Impossibile aprire la connessione al database:provider=sqloledb;data "
                                 "source=127.0.0.1," +
                                 std::to_string(server.port()) +
                                 ";initial catalog=vendite;user id=zentrik;password=****"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("[FreeTDS]"), std::string::npos) << result.output; // the driver's own reason
    EXPECT_NE(result.output.find("ERRORE  Estrazione terminata con errori."), std::string::npos) << result.output;
    const std::string dayLog = readAll(home / "log");
    EXPECT_NE(dayLog.find("Impossibile aprire la connessione al database:"), std::string::npos) << dayLog;
    for (const std::string* text : {&result.output, &dayLog})
        EXPECT_EQ(text->find(kPassword), std::string::npos) << *text;
}

TEST(ExtractCommandLine, HelpPrintsTheUsageAndAnUnknownOptionIsRefusedWithIt)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const Case cases[] = {{{"--help"}, 0}, {{"-h"}, 0}, {{"--nonsense"}, 2}, {{"cartella", "--nonsense"}, 2},
                          {{"--runs"}, 2}, {{}, 2}};
    for (const Case& c : cases) {
        std::vector<std::string> argv{ZS_EXTRACT_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(argv.size() > 1 ? argv[1] : "(nothing)");
        process::RunOptions options;
        options.captureOutput = true;
        const auto result = process::run(argv, options);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(result.output.rfind("uso: zs-extract <cartella del programma>", 0), 0u) << result.output;
        EXPECT_NE(result.output.find("--help"), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("cartella inesistente"), std::string::npos) << result.output;
    }
}

TEST(ExtractErrorLines, ABrokenOlapCatalogIsSaidWithoutInternalNamesOrDoubledStops)
{
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    zs::test::writeFile(home / "olap-demo.xml", "<OlapServer name=\"demo\"><Database name=\"Vendite\" <Cube/>");
    const auto result = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    std::vector<std::string> errorLines;
    for (std::size_t at = 0; at < result.output.size();) {
        std::size_t end = result.output.find('\n', at);
        if (end == std::string::npos)
            end = result.output.size();
        const std::string line = result.output.substr(at, end - at);
        if (line.find("ERRORE") != std::string::npos)
            errorLines.push_back(line);
        at = end + 1;
    }
    ASSERT_FALSE(errorLines.empty()) << result.output;
    bool catalogNamed = false;
    for (const std::string& line : errorLines) {
        SCOPED_TRACE(line);
        catalogNamed = catalogNamed || line.find("olap-demo.xml") != std::string::npos;
        EXPECT_EQ(line.find("zs::"), std::string::npos);
        EXPECT_EQ(line.find(".."), std::string::npos);
    }
    EXPECT_TRUE(catalogNamed) << result.output;
    EXPECT_NE(result.output.find(".ZentrikServer"), std::string::npos) << result.output;
}

} // namespace
} // namespace zs::engine::test
