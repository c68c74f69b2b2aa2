// The XML import on real databases: a two-level schema (orders and their lines, keyed by a
// relationship) on a SQLite file and on the test PostgreSQL, refused annotations, data files in
// other encodings, and an old-files folder on another file system (a tmpfs the test mounts).

#include "../StepsTestSupport.h"
#include "engine/ImportXml.h"
#include "pgtest/Backend.h"
#include "pgtest/PgServer.h"
#include "text/SystemReason.h"

#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace zs::engine {
namespace {
using test::scalar;
namespace stdfs = std::filesystem;

/// A file of tests/data: `name` is its case folder and the file's name.
std::string dataFile(const std::string& name)
{
    return zs::test::readFile(stdfs::path(ZS_ENGINE_TEST_DATA) / name);
}

// Lines come before the order's customer, and the order's key is an attribute: the lines get
// it from the relationship, not from anything they carry themselves.
std::string ordersSchema()
{
    return dataFile("two_level_schema/ordini.xsd");
}

std::string clientiSchema()
{
    return dataFile("clienti/clienti.xsd");
}

std::string orders(int from, int count, int lines)
{
    std::string xml = "<?xml version='1.0' encoding='UTF-8'?>\n<ORDINI>\n";
    for (int o = from; o < from + count; ++o) {
        xml += "<Ordine Numero='N" + std::to_string(o) + "'>";
        for (int l = 1; l <= lines; ++l)
            xml += "<Riga Articolo='A" + std::to_string(l) + "' Qta='" + std::to_string(o * 10 + l) + "'/>";
        xml += "<Cliente>Cliente " + std::to_string(o) + "</Cliente></Ordine>\n";
    }
    return xml + "</ORDINI>\n";
}

class XmlImportFixture : public test::StepsTest {
  protected:
    bool importFrom(db::Connection& c, const stdfs::path& in, const std::string& schema,
                    const std::string& oldpath = "")
    {
        ImportXml import(m_log, m_messages, m_clock, m_dir.path(), [&c] { return &c; });
        auto doc = xml::Document::loadString("<IMPORTXML><path>" + in.string() + "</path><oldpath>" + oldpath +
                                             "</oldpath><schema>" + schema + "</schema></IMPORTXML>");
        return import.ImportXmlStep(doc->root());
    }
    void writeSchema(const std::string& name, const std::string& text) { zs::test::writeFile(path(name), text); }
    /// A CLIENTI table in the SQLite file `database` (below the test's folder), `c` open on it,
    /// its schema c.xsd and an empty import folder in/.
    [[nodiscard]] bool openClienti(db::Connection& c, const std::string& database = "t.db")
    {
        test::sqliteRun(path(database), {"create table CLIENTI (codice text)"});
        if (!c.open(test::sqliteCs(path(database))))
            return false;
        writeSchema("c.xsd", clientiSchema());
        stdfs::create_directories(path("in"));
        return true;
    }
    /// Every line carries its order's key, the one its order element gave.
    void expectLinked(db::Connection& c, const std::string& orders, const std::string& lines)
    {
        EXPECT_EQ(scalar(c, "select count(*) from ORDINI"), orders);
        EXPECT_EQ(scalar(c, "select count(*) from RIGHE"), lines);
        EXPECT_EQ(scalar(c, "select count(*) from RIGHE where ordine is null"), "0");
        // Quantity o*10+l was written on a line of order No: the key must say the same o.
        EXPECT_EQ(scalar(c, "select count(*) from RIGHE r join ORDINI o on o.numero = r.ordine "
                            "where 'N' || cast((r.qta / 10) as varchar(20)) = o.numero"),
                  lines);
        EXPECT_EQ(scalar(c, "select cliente from ORDINI where numero = 'N2'"), "Cliente 2");
    }
    /// Imports two order files from in/ through the two-level schema; every line is keyed.
    void importTwoOrderFiles(db::Connection& c)
    {
        writeSchema("ordini.xsd", ordersSchema());
        stdfs::create_directories(path("in"));
        zs::test::writeFile(path("in/a.xml"), orders(1, 3, 2));
        // More rows than one batch holds, so batches of both tables are written in turns.
        zs::test::writeFile(path("in/b.xml"), orders(100, 1500, 3));
        EXPECT_TRUE(importFrom(c, path("in"), path("ordini.xsd").string())) << testing::PrintToString(lines());
        expectLinked(c, "1503", "4506");
    }
    /// A file whose order is already there fails on ORDINI, although its line's rows are
    /// written after the order's: the failure line names the table that refused the row.
    void expectConflictNamesItsTable(db::Connection& c)
    {
        zs::test::writeFile(path("in/d.xml"), orders(1, 1, 1));
        EXPECT_FALSE(importFrom(c, path("in"), path("ordini.xsd").string()));
        expectLinked(c, "1503", "4506");
        EXPECT_TRUE(stdfs::exists(path("in/d.xml")));
        bool named = false;
        for (const std::string& line : lines()) {
            if (line.find("Errore nell'importazione del file") == std::string::npos)
                continue;
            named = true;
            EXPECT_NE(line.find("Tabella ORDINI: "), std::string::npos) << line;
            EXPECT_EQ(line.find("Tabella RIGHE"), std::string::npos) << line;
        }
        EXPECT_TRUE(named) << testing::PrintToString(lines());
    }
};

/// The import on each backend, into a database of its own: a SQLite file, or a database of the
/// test PostgreSQL made for the test and dropped after it.
class XmlImportBackendTest : public XmlImportFixture, public ::testing::WithParamInterface<pgtest::Backend> {
  protected:
    bool onSqlite() const { return GetParam() == pgtest::Backend::Sqlite; }
    void TearDown() override
    {
        if (!m_pgDb.empty())
            pgtest::Server::shared().psql("drop database if exists " + m_pgDb);
        XmlImportFixture::TearDown();
    }
    /// A new PostgreSQL database named `prefix` and the process id, dropped after the test.
    [[nodiscard]] bool createPgDatabase(const std::string& prefix)
    {
        auto& pg = pgtest::Server::shared();
        m_pgDb = prefix + std::to_string(::getpid());
        return pg.psql("drop database if exists " + m_pgDb) && pg.psql("create database " + m_pgDb);
    }

    std::string m_pgDb; ///< empty: none was made
};

INSTANTIATE_TEST_SUITE_P(Backends, XmlImportBackendTest, pgtest::allBackends(), pgtest::backendName);

TEST_P(XmlImportBackendTest, TwoLevelSchemaKeysEveryLineToItsOrder)
{
    ZS_REQUIRE_BACKEND(GetParam());
    db::Connection c;
    if (onSqlite()) {
        test::sqliteRun(path("t.db"), {"create table ORDINI (numero text primary key, cliente text)",
                                       "create table RIGHE (ordine text, articolo text, qta integer)"});
        ASSERT_TRUE(c.open(test::sqliteCs(path("t.db"))));
    } else {
        auto& pg = pgtest::Server::shared();
        ASSERT_TRUE(createPgDatabase("xmlimport_"));
        // The lines refer to their order: a line written before its order would be refused.
        ASSERT_TRUE(pg.psql("create table ordini (numero varchar(20) primary key, cliente varchar(40)); "
                            "create table righe (ordine varchar(20) not null references ordini(numero), "
                            "articolo varchar(20), qta integer)",
                            nullptr, m_pgDb));
        pgtest::usePrivateOdbcIni();
        ASSERT_TRUE(c.open(pg.odbcConnectionString(m_pgDb)));
    }
    importTwoOrderFiles(c);
    if (onSqlite()) {
        EXPECT_TRUE(stdfs::exists(path("in/old/a.xml")));
    }
    expectConflictNamesItsTable(c);
    if (onSqlite())
        return;
    ASSERT_TRUE(stdfs::remove(path("in/d.xml")));

    // A rejected file leaves none of its rows: a line of an order that is already there.
    zs::test::writeFile(path("in/c.xml"), orders(5000, 2, 1) + "");
    zs::test::writeFile(path("in/d.xml"), orders(1, 1, 1));
    EXPECT_FALSE(importFrom(c, path("in"), path("ordini.xsd").string()));
    expectLinked(c, "1505", "4508");
    EXPECT_TRUE(stdfs::exists(path("in/d.xml")));
    c.close();
}

TEST_F(XmlImportFixture, UnsupportedAnnotationsAndConstructsAreRefusedAndLoadNothing)
{
    test::sqliteRun(path("t.db"), {"create table ORDINI (numero text, cliente text)",
                                   "create table RIGHE (ordine text, articolo text, qta integer)"});
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("t.db"))));
    stdfs::create_directories(path("in"));
    zs::test::writeFile(path("in/a.xml"), orders(1, 2, 2));
    const std::string schema(ordersSchema());
    struct Case {
        const char* name;
        std::string schema;
        const char* reason;
    };
    const auto replaced = [&schema](const std::string& what, const std::string& with) {
        std::string s = schema;
        return s.replace(s.find(what), what.size(), with);
    };
    const Case cases[] = {
        {"unknown annotation", replaced("sql:key-fields='numero'", "sql:limit-field='numero'"),
         "Annotazione sql:limit-field non supportata (elemento Ordine)"},
        {"relationship chain", replaced("sql:relationship='OrdineRighe'", "sql:relationship='OrdineRighe Altro'"),
         "Catena di relazioni \"OrdineRighe Altro\" su Riga non supportata"},
        {"undeclared relationship", replaced("sql:relationship='OrdineRighe'", "sql:relationship='Manca'"),
         "Relazione Manca usata da Riga ma non dichiarata nello schema"},
        {"parent key not mapped", replaced("parent-key='numero'", "parent-key='codice'"),
         "La chiave codice di ORDINI (relazione OrdineRighe) non è mappata nello schema"},
        {"type extension",
         replaced("<xsd:attribute name='Qta' sql:field='qta'/>",
                  "<xsd:complexContent><xsd:extension base='Base'/></xsd:complexContent>"),
         "Costrutto xsd:complexContent non supportato nell'elemento Riga"},
        {"unknown appinfo", replaced("<sql:relationship ", "<sql:overflow/><sql:relationship "),
         "Annotazione sql:overflow non supportata"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        writeSchema("s.xsd", k.schema);
        m_log.InitializeResponse();
        EXPECT_FALSE(importFrom(c, path("in"), path("s.xsd").string()));
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), "E:Errore nell'importazione dei file xml-" + std::string(k.reason));
        EXPECT_EQ(scalar(c, "select count(*) from ORDINI") + scalar(c, "select count(*) from RIGHE"), "00");
        EXPECT_TRUE(stdfs::exists(path("in/a.xml")));
    }
}

TEST_F(XmlImportFixture, DeclaredEncodingsAreConvertedAndUnknownOnesRefused)
{
    test::sqliteRun(path("t.db"), {"create table CLIENTI (codice text, nome text)"});
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("t.db"))));
    writeSchema("c.xsd",
                "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
                "<xsd:element name='Cliente' sql:relation='CLIENTI'><xsd:complexType>"
                "<xsd:attribute name='Codice' sql:field='codice'/><xsd:attribute name='Nome' sql:field='nome'/>"
                "</xsd:complexType></xsd:element></xsd:schema>");
    const auto file = [](const std::string& encoding, const std::string& code, const std::string& name) {
        return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><R><Cliente Codice='" + code + "' Nome='" + name +
               "'/></R>";
    };
    struct Case {
        const char* file;
        std::string bytes;
        const char* code;
    };
    // UTF-16 little-endian with its byte-order mark.
    std::string utf16 = "\xFF\xFE";
    for (char16_t ch : std::u16string(u"<?xml version='1.0' encoding='UTF-16'?><R><Cliente Codice='U16' "
                                      u"Nome='caff\u00E8\u20AC'/></R>")) {
        utf16 += static_cast<char>(ch & 0xFF);
        utf16 += static_cast<char>(ch >> 8);
    }
    const Case good[] = {
        {"1252.xml", file("windows-1252", "W", "Citt\xE0 \x80 5"), "W"},
        {"latin9.xml", file("ISO-8859-15", "L9", "Citt\xE0 \xA4 5"), "L9"},
        {"utf16.xml", utf16, "U16"},
    };
    stdfs::create_directories(path("in"));
    for (const Case& k : good)
        zs::test::writeFile(path("in") / k.file, k.bytes);
    EXPECT_TRUE(importFrom(c, path("in"), path("c.xsd").string())) << testing::PrintToString(lines());
    EXPECT_EQ(scalar(c, "select nome from CLIENTI where codice = 'W'"), "Città € 5");
    EXPECT_EQ(scalar(c, "select nome from CLIENTI where codice = 'L9'"), "Città € 5");
    EXPECT_EQ(scalar(c, "select nome from CLIENTI where codice = 'U16'"), "caffè€");

    // An encoding the converter does not know, and bytes that are not text in the declared one.
    zs::test::writeFile(path("in/klingon.xml"), file("x-klingon", "K", "Qapla'"));
    zs::test::writeFile(path("in/rotto.xml"), file("UTF-8", "B", "Citt\xE0"));
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(importFrom(c, path("in"), path("c.xsd").string()));
    const auto l = lines();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[1], "  E:Errore nell'importazione del file " + path("in/klingon.xml").string() +
                        "-File non leggibile: codifica sconosciuta: x-klingon");
    EXPECT_EQ(l[2], "  E:Errore nell'importazione del file " + path("in/rotto.xml").string() +
                        "-XML non valido alla riga 1, colonna 72: il testo non è UTF-8 valido (byte 0xE0)");
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "3");
}

/// A tmpfs of `size` mounted on a new folder, unmounted at the end.
class TmpfsMount {
  public:
    TmpfsMount(const stdfs::path& where, const std::string& size)
        : m_path(where)
    {
        stdfs::create_directories(where);
        if (::mount("tmpfs", where.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0)
            m_mounted = true;
        else
            m_error = std::strerror(errno);
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    const std::string& error() const { return m_error; }

  private:
    stdfs::path m_path;
    bool m_mounted = false;
    std::string m_error;
};

TEST_F(XmlImportFixture, OldFilesOnAnotherFileSystemMoveOnceOrFailTheStep)
{
    TmpfsMount big(path("archivio"), "4m");
    TmpfsMount small(path("piccolo"), "64k");
    if (!big.mounted() || !small.mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here (the test needs root): " << big.error();
    struct stat in {
    }, out{};
    stdfs::create_directories(path("in"));
    ASSERT_EQ(::stat(path("in").c_str(), &in), 0);
    ASSERT_EQ(::stat(path("archivio").c_str(), &out), 0);
    ASSERT_NE(in.st_dev, out.st_dev);

    test::sqliteRun(path("t.db"), {"create table ORDINI (numero text, cliente text)",
                                   "create table RIGHE (ordine text, articolo text, qta integer)"});
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("t.db"))));
    writeSchema("ordini.xsd", ordersSchema());
    const std::string content = orders(1, 800, 2); // larger than the small tmpfs
    ASSERT_GT(content.size(), 64u * 1024);
    zs::test::writeFile(path("in/a.xml"), content);
    EXPECT_TRUE(importFrom(c, path("in"), path("ordini.xsd").string(), path("archivio/old").string()))
        << testing::PrintToString(lines());
    EXPECT_FALSE(stdfs::exists(path("in/a.xml")));
    EXPECT_EQ(zs::test::readFile(path("archivio/old/a.xml")), content);
    EXPECT_EQ(scalar(c, "select count(*) from RIGHE"), "1600");
    // The next run finds nothing new.
    EXPECT_TRUE(importFrom(c, path("in"), path("ordini.xsd").string(), path("archivio/old").string()));
    EXPECT_EQ(scalar(c, "select count(*) from RIGHE"), "1600");

    // A move that cannot happen (no room there): the step fails with the reason, the file stays
    // with none of its rows in, and nothing half-written is left behind.
    zs::test::writeFile(path("in/b.xml"), orders(1000, 800, 2));
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(importFrom(c, path("in"), path("ordini.xsd").string(), path("piccolo").string()));
    EXPECT_TRUE(stdfs::exists(path("in/b.xml")));
    EXPECT_FALSE(stdfs::exists(path("piccolo/b.xml")));
    EXPECT_EQ(scalar(c, "select count(*) from RIGHE"), "1600");
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1].rfind("  E:Errore nello spostamento del file " + path("in/b.xml").string() + " in " +
                             path("piccolo").string() + "-scrittura di " + path("piccolo/b.xml").string() + ": ",
                         0),
              0u)
        << l[1];
    EXPECT_NE(l[1].find(zs::text::systemReason(ENOSPC)), std::string::npos) << l[1];
}

// --- Kill points ----------------------------------------------------------------------------

constexpr int kKillFiles = 3;
constexpr int kKillRows = 50;

/// One import of in/ into the target `cs` in a child process, killed (SIGKILL, as by kill -9 or the OOM
/// killer) when it reaches its `killAt`-th commit point; 0 runs it to its end. Returns how
/// many points it passed when it was not killed, -1 when it was.
int importInChild(const stdfs::path& dir, const std::string& cs, const std::string& oldpath, int killAt)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only what the child opens itself is used here: no connection of the parent crosses.
        program::DayLog dayLog{dir, time::systemClock()};
        program::ProgramLog log{dayLog};
        test::RecordingMessages messages;
        db::Connection c;
        if (!c.open(cs))
            ::_exit(3);
        ImportXml import(log, messages, time::systemClock(), dir, [&c] { return &c; });
        int passed = 0;
        import.setCommitPointHook([&](ImportXml::CommitPoint) {
            if (++passed == killAt)
                ::raise(SIGKILL);
    });
    auto doc = xml::Document::loadString("<IMPORTXML><path>" + (dir / "in").string() + "</path><oldpath>" + oldpath +
                                         "</oldpath><schema>" + (dir / "c.xsd").string() + "</schema></IMPORTXML>");
    const bool ok = import.ImportXmlStep(doc->root());
    ::_exit(ok ? std::min(passed, 100) : 101);
}
int status = 0;
if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
    return -2;
if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
    return -1;
return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
} // namespace

class ImportKillPoints : public XmlImportFixture {
  protected:
    static std::size_t fileSize(int f) { return data(f).size(); }
    static std::string data(int f)
    {
        std::string xml = "<ROOT>";
        for (int r = 1; r <= kKillRows; ++r)
            xml += "<Cliente Codice='F" + std::to_string(f) + "-" + std::to_string(r) + "'/>";
        return xml + "</ROOT>";
    }
    void prepare()
    {
        for (auto& e : stdfs::directory_iterator(m_dir.path()))
            if (e.path().filename() != "archivio")
                stdfs::remove_all(e.path());
            else
                for (auto& a : stdfs::directory_iterator(e.path())) // a mount point: emptied, not removed
                    stdfs::remove_all(a.path());
        if (m_pgDb.empty()) {
            test::sqliteRun(path("t.db"), {"create table CLIENTI (codice text not null)"});
            m_cs = test::sqliteCs(path("t.db"));
        } else {
            auto& pg = pgtest::Server::shared();
            ASSERT_TRUE(pg.psql("drop table if exists clienti; drop table if exists zentrik_importxml; "
                                "create table clienti (codice varchar(20) not null)",
                                nullptr, m_pgDb));
            m_cs = pg.odbcConnectionString(m_pgDb);
        }
        writeSchema("c.xsd", clientiSchema());
        stdfs::create_directories(path("in"));
        for (int f = 1; f <= kKillFiles; ++f)
            zs::test::writeFile(path("in/f" + std::to_string(f) + ".xml"), data(f));
    }
    /// After any crash: each file is queued with none of its rows, or out of the queue with
    /// all of them, once. A file still queued may carry its record only with all its rows (a
    /// commit the move did not follow yet).
    void expectWholeFiles(const stdfs::path& old, bool allDone)
    {
        db::Connection c;
        ASSERT_TRUE(c.open(m_cs));
        for (int f = 1; f <= kKillFiles; ++f) {
            const std::string name = "f" + std::to_string(f) + ".xml";
            SCOPED_TRACE(name);
            const std::string rows =
                scalar(c, "select count(*) from CLIENTI where codice like 'F" + std::to_string(f) + "-%'");
            const std::string distinct = scalar(c, "select count(distinct codice) from CLIENTI where codice like 'F" +
                                                       std::to_string(f) + "-%'");
            const bool queued = stdfs::exists(path("in") / name), moved = stdfs::exists(old / name);
            EXPECT_EQ(rows, distinct) << "rows loaded twice";
            const bool recorded =
                scalar(c, "select count(*) from ZENTRIK_IMPORTXML where NOMEFILE = '" + name + "'") == "1";
            if (recorded) {
                // Committed: the move is done, or left for the next start to finish.
                EXPECT_TRUE(queued || moved) << "the file was lost";
                EXPECT_EQ(rows, std::to_string(kKillRows));
            } else if (moved) {
                EXPECT_FALSE(queued) << "queued and moved at once";
                EXPECT_EQ(rows, std::to_string(kKillRows));
            } else {
                EXPECT_TRUE(queued) << "the file was lost";
                EXPECT_EQ(rows, "0");
            }
            if (allDone) {
                EXPECT_FALSE(queued);
                EXPECT_TRUE(moved);
                EXPECT_EQ(zs::test::readFile(old / name).size(), fileSize(f));
            }
        }
        if (allDone) {
            EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), std::to_string(kKillFiles * kKillRows));
            EXPECT_EQ(scalar(c, "select count(*) from ZENTRIK_IMPORTXML"), "0");
            for (auto& e : stdfs::directory_iterator(old))
                EXPECT_EQ(e.path().filename().string().rfind(".", 0), std::string::npos) << "left behind: " << e.path();
        }
    }
    /// Kills the import at every commit point in turn, then runs it again to its end.
    int sweep(const stdfs::path& old, int pointsPerFile)
    {
        int kills = 0;
        for (int killAt = 1;; ++killAt) {
            SCOPED_TRACE("killed at commit point " + std::to_string(killAt));
            prepare();
            const int first = importInChild(m_dir.path(), m_cs, old.string(), killAt);
            if (first >= 0) {
                EXPECT_EQ(first, kKillFiles * pointsPerFile) << "every point is passed once per file";
                expectWholeFiles(old, true);
                break;
            }
            EXPECT_EQ(first, -1);
            ++kills;
            expectWholeFiles(old, false);
            // The next run finishes what was left and loads the rest; nothing is loaded twice.
            EXPECT_GE(importInChild(m_dir.path(), m_cs, old.string(), 0), 0);
            expectWholeFiles(old, true);
            if (killAt > 50) {
                ADD_FAILURE() << "no end to the commit points";
                break;
            }
        }
        return kills;
    }

    std::string m_pgDb; ///< empty: a SQLite file
    std::string m_cs;
};

/// The kill points on each backend. PostgreSQL rolls back what a killed client left open.
class ImportKillPointsBackendTest : public ImportKillPoints, public ::testing::WithParamInterface<pgtest::Backend> {
  protected:
    void TearDown() override
    {
        if (!m_pgDb.empty())
            pgtest::Server::shared().psql("drop database if exists " + m_pgDb);
        ImportKillPoints::TearDown();
    }
};

INSTANTIATE_TEST_SUITE_P(Backends, ImportKillPointsBackendTest, pgtest::allBackends(), pgtest::backendName);

TEST_P(ImportKillPointsBackendTest, AKillAtAnyCommitPointLosesNoFileAndLoadsNoneTwice)
{
    ZS_REQUIRE_BACKEND(GetParam());
    if (GetParam() == pgtest::Backend::Postgres) {
        auto& pg = pgtest::Server::shared();
        m_pgDb = "importkill_" + std::to_string(::getpid());
        ASSERT_TRUE(pg.psql("drop database if exists " + m_pgDb));
        ASSERT_TRUE(pg.psql("create database " + m_pgDb));
        pgtest::usePrivateOdbcIni();
    }
    // rows written, recorded, committed, moved, record dropped: five points per file.
    EXPECT_EQ(sweep(path("in/old"), 5), kKillFiles * 5);
}

TEST_F(ImportKillPoints, AKillAtAnyPointOfAMoveToAnotherFileSystemLosesNoFile)
{
    TmpfsMount other(path("archivio"), "4m");
    if (!other.mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here (the test needs root): " << other.error();
    // Also copied (before the commit) and placed (the copy under its name, before the original goes).
    EXPECT_EQ(sweep(path("archivio"), 7), kKillFiles * 7);
}

// --- Links, control characters, a full disk ---------------------------------------------

static std::string clienti(const std::vector<std::string>& codes)
{
    std::string xml = "<?xml version='1.0'?>\n<R>\n";
    for (const std::string& code : codes)
        xml += "<Cliente Codice='" + code + "'/>\n";
    return xml + "</R>\n";
}

TEST_F(XmlImportFixture, ALinkInTheImportFolderIsRefusedUnreadOnEveryRun)
{
    db::Connection c;
    ASSERT_TRUE(openClienti(c));
    stdfs::create_directories(path("altrove"));
    const std::string target = clienti({"L1", "L2"});
    zs::test::writeFile(path("altrove/dati.xml"), target);
    stdfs::create_symlink(path("altrove/dati.xml"), path("in/b.xml"));
    zs::test::writeFile(path("in/a.xml"), clienti({"A1"}));
    const std::string refused = "  E:Errore nell'importazione del file " + path("in/b.xml").string() +
                                "-il file è un collegamento simbolico: non viene importato (copiare o spostare "
                                "nella cartella il file stesso)";
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        m_log.InitializeResponse();
        m_log.OutputResponse("Importazione", false, 0);
        EXPECT_FALSE(importFrom(c, path("in"), path("c.xsd").string()));
        EXPECT_EQ(lines(), (std::vector<std::string>{"Importazione", refused})) << testing::PrintToString(lines());
        // The regular file went in once and moved; nothing of the link's target was read.
        EXPECT_EQ(scalar(c, "select count(*) from CLIENTI where codice = 'A1'"), "1");
        EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "1");
        EXPECT_TRUE(stdfs::exists(path("in/old/a.xml")));
        EXPECT_TRUE(stdfs::is_symlink(path("in/b.xml")));
        EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(path("in/old/b.xml"))));
        EXPECT_EQ(zs::test::readFile(path("altrove/dati.xml")), target);
    }
    // Replaced by the file itself, it goes in like any other.
    stdfs::remove(path("in/b.xml"));
    stdfs::copy_file(path("altrove/dati.xml"), path("in/b.xml"));
    EXPECT_TRUE(importFrom(c, path("in"), path("c.xsd").string())) << testing::PrintToString(lines());
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "3");
}

TEST_F(XmlImportFixture, AControlCharacterRefusesTheFileWithItsLineAndKeepsItQueued)
{
    db::Connection c;
    ASSERT_TRUE(openClienti(c));
    const std::string content = clienti({"C1", "C2", std::string("C\x01") + "3", "C4"});
    zs::test::writeFile(path("in/c.xml"), content);
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(importFrom(c, path("in"), path("c.xsd").string()));
    EXPECT_EQ(lines(), (std::vector<std::string>{"Importazione",
                                                 "  E:Errore nell'importazione del file " + path("in/c.xml").string() +
                                                     "-XML non valido alla riga 5, colonna 19: carattere di "
                                                     "controllo (byte 1) non ammesso"}));
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "0");
    EXPECT_EQ(zs::test::readFile(path("in/c.xml")), content);
    EXPECT_FALSE(stdfs::exists(path("in/old/c.xml")));
    // Once mended, the next run takes it.
    zs::test::writeFile(path("in/c.xml"), clienti({"C1", "C2", "C3", "C4"}));
    EXPECT_TRUE(importFrom(c, path("in"), path("c.xsd").string())) << testing::PrintToString(lines());
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "4");
}

TEST_F(XmlImportFixture, AFullDiskFailsTheImportWithItsReasonNotTheMove)
{
    TmpfsMount disk(path("disco"), "1m");
    if (!disk.mounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here (the test needs root): " << disk.error();
    db::Connection c;
    ASSERT_TRUE(openClienti(c, "disco/t.db"));
    // What is left of the disk holds the database but not the file's rows.
    const std::string filler(900 * 1024, 'x');
    zs::test::writeFile(path("disco/riempitivo"), filler);
    std::vector<std::string> codes;
    for (int i = 0; i < 20000; ++i)
        codes.push_back("CODICE-CLIENTE-" + std::to_string(i));
    zs::test::writeFile(path("in/grande.xml"), clienti(codes));
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(importFrom(c, path("in"), path("c.xsd").string()));
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u) << testing::PrintToString(l);
    EXPECT_EQ(l[1].rfind("  E:Errore nell'importazione del file " + path("in/grande.xml").string() + "-", 0), 0u)
        << l[1];
    // The rows fit in the database's cache: what the disk refuses is their save at the commit,
    // and the line names it with the database's own reason.
    EXPECT_TRUE(l[1].ends_with("-salvataggio delle righe non riuscito: database or disk is full")) << l[1];
    EXPECT_EQ(dayLog().find("Errore nello spostamento"), std::string::npos) << dayLog();
    EXPECT_TRUE(stdfs::exists(path("in/grande.xml")));
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "0");

    // With room again, the next run loads it whole.
    stdfs::remove(path("disco/riempitivo"));
    EXPECT_TRUE(importFrom(c, path("in"), path("c.xsd").string())) << testing::PrintToString(lines());
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "20000");
    EXPECT_FALSE(stdfs::exists(path("in/grande.xml")));
}

} // namespace zs::engine
} // namespace zs::engine
