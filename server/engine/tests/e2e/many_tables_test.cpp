// The database builder at the size of a large creation XML: 20,000 tables (ZS_CREATE_TABLES
// sets another count) built into a new SQLite file, against the same CREATE TABLE statements
// run by the sqlite3 shell into another new file, side by side in one run. A build must not
// cost more per table the more tables there are: at most twice the shell's time. The files lie
// on a memory file system when there is one, so both sides are timed on their SQL, not on the
// disk's syncs.

#include "engine/DataBase.h"

#include "db/Catalog.h"
#include "db/Connection.h"
#include "process/Process.h"
#include "program/ProgramSettings.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace zs::engine {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

double since(Steady::time_point start)
{
    return std::chrono::duration<double>(Steady::now() - start).count();
}

/// A folder of the test's own, on /dev/shm when it can be written.
struct MemoryFolder {
    MemoryFolder()
    {
        std::string pattern =
            (fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                             : fs::temp_directory_path().string()) +
            std::string("/zs-tables-XXXXXX");
        if (::mkdtemp(pattern.data()))
            path = pattern;
    }
    ~MemoryFolder()
    {
        std::error_code ec;
        if (!path.empty())
            fs::remove_all(path, ec);
    }
    fs::path path;
};

#if defined(__SANITIZE_ADDRESS__)
// The builder runs instrumented and the shell does not: only the build's result is compared.
constexpr bool kTimed = false;
constexpr int kDefaultTables = 2000;
#else
constexpr bool kTimed = true;
constexpr int kDefaultTables = 20000;
#endif

int tableCount()
{
    const char* n = std::getenv("ZS_CREATE_TABLES");
    return n && std::atoi(n) > 0 ? std::atoi(n) : kDefaultTables;
}

TEST(ManyTables, BuildKeepsThePaceOfTheDatabasesOwnShell)
{
    const auto sqlite3 = process::findProgram("sqlite3");
    if (!sqlite3)
        GTEST_SKIP() << "sqlite3 is not installed";
    zs::test::ScopedTestEnv env;
    MemoryFolder dir;
    ASSERT_FALSE(dir.path.empty());
    const int count = tableCount();

    std::string creation = "<DB><TABELLE>";
    for (int i = 0; i < count; ++i) {
        const std::string name = "T" + std::to_string(i);
        creation += "<" + name + "><ID>INTEGER,,AUTOINCREMENT,NOTNULL</ID><codice>CHAR,10,NOTNULL</codice>" +
                    "<nome>testo, 40</nome><importo>DOUBLE</importo></" + name + ">";
    }
    creation += "</TABELLE></DB>";
    zs::test::writeFile(dir.path / "creazione.xml", creation);

    // The shell's side: every statement the builder runs for these tables, in one script.
    {
        auto doc = xml::Document::loadString(creation);
        ASSERT_TRUE(doc);
        std::ofstream sql(dir.path / "creazione.sql");
        for (const xml::Element& table : doc->root().children().front().children()) {
            std::string error;
            const auto def = DataBase::definizioneTabella(table, false, error);
            ASSERT_TRUE(def) << error;
            for (const std::string& statement : db::Catalog::createTableSql(*def, db::Dialect::Sqlite))
                sql << statement << ";\n";
        }
    }

    program::ProgramSettings settings;
    settings.ProviderAccess = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
    settings.PercorsoAccess = (dir.path / "target.db").string();
    auto settingsDoc = xml::Document::loadString("<zentrikServer><ServerType>access</ServerType></zentrikServer>");
    std::size_t built = 0, existing = 0;
    zs::test::RecordingMessages messages;
    DataBase builder(
        settings, [&] { return settingsDoc->root(); },
        [&](const std::string& t) {
            built += t == "eseguita con successo\r\n";
            existing += t == "già esistente\r\n";
        },
        messages);

    auto start = Steady::now();
    ASSERT_TRUE(builder.CreaDatabase((dir.path / "creazione.xml").string()));
    const double ours = since(start);
    EXPECT_EQ(built, static_cast<std::size_t>(count));

    process::RunOptions capture;
    capture.captureOutput = true;
    start = Steady::now();
    const auto shell = process::run(
        {*sqlite3, (dir.path / "shell.db").string(), ".read " + (dir.path / "creazione.sql").string()}, capture);
    const double theirs = since(start);
    ASSERT_EQ(shell.exitCode, 0) << shell.output;

    const double ratio = ours / theirs;
    std::printf("Crea DB, %d tables: builder %.2f s, sqlite3 %.2f s, ratio %.2f (goal <= 2)\n", count, ours, theirs,
                ratio);
    if (kTimed) {
        EXPECT_LE(ratio, 2.0);
    }

    for (const char* file : {"target.db", "shell.db"}) {
        SCOPED_TRACE(file);
        db::Connection c;
        ASSERT_TRUE(c.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (dir.path / file).string()));
        auto rs = c.query("select count(*) from sqlite_master where type = 'table' and name like 'T%'");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->value(std::size_t{0}).toString(), std::to_string(count));
    }

    // A second build finds every table there and creates nothing, at the same pace.
    built = 0;
    start = Steady::now();
    ASSERT_TRUE(builder.CreaDatabase((dir.path / "creazione.xml").string()));
    EXPECT_EQ(existing, static_cast<std::size_t>(count));
    EXPECT_EQ(built, 0u);
    if (kTimed) {
        EXPECT_LT(since(start), ours);
    }
}

} // namespace
} // namespace zs::engine
