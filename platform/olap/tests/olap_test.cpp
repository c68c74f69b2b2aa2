#include "olap/OlapServer.h"

#include "db/Catalog.h"
#include "db/Connection.h"
#include "fs/FileOps.h"
#include "pgtest/Backend.h"
#include "pgtest/PgServer.h"
#include "testsupport/DbRows.h"
#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"
#include "text/Ascii.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>

using namespace zs;
using namespace zs::olap;

namespace {

std::string jet(const std::filesystem::path& p)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + p.string() + ";";
}

/// The aggregate table of a cube of the OLAP database "Zentrik" on `server`.
std::string agg(const std::string& cube, const std::string& server = "srv1")
{
    return olapTableName("olap_", server, "Zentrik", cube);
}

/// The catalog `name` of tests/data, its target `connection` in place of every @CONNECTION@.
std::string catalogText(const std::string& name, const std::string& connection)
{
    std::string text = test::readFile(std::filesystem::path(ZS_OLAP_TEST_DATA) / name);
    for (std::size_t at; (at = text.find("@CONNECTION@")) != std::string::npos;)
        text.replace(at, 12, connection);
    return text;
}

class OlapTest : public ::testing::Test {
  protected:
    void SetUp() override { setUpSqlite(); }

    /// Sales in a SQLite file (Vendite: id, cliente, zona, importo, pezzi) and the catalog
    /// olap-srv1.xml over them.
    void setUpSqlite()
    {
        db::Catalog catalog;
        ASSERT_TRUE(catalog.create(jet(m_dbFile)));
        ASSERT_TRUE(m_db.open(jet(m_dbFile)));
        ASSERT_TRUE(
            m_db.execute("CREATE TABLE Vendite (id INTEGER, cliente TEXT, zona TEXT, importo REAL, pezzi INTEGER)"));
        ASSERT_TRUE(m_db.execute("CREATE TABLE Clienti (cliente TEXT)"));
        ASSERT_TRUE(m_db.execute("INSERT INTO Clienti VALUES ('Rossi'), ('Bianchi'), ('Rossi')"));
        addFact(1, "Rossi", "Nord", 10.5, 1);
        addFact(2, "Bianchi", "Sud", 20, 2);
        addFact(3, "Rossi", "Sud", 4.5, 3);
        test::writeFile(m_dir / "olap-srv1.xml", catalogText("sqlite_sales/olap-srv1.xml", jet(m_dbFile)));
    }

    void addFact(int id, const char* cliente, const char* zona, double importo, int pezzi)
    {
        ASSERT_TRUE(m_db.execute("INSERT INTO Vendite VALUES (" + std::to_string(id) + ", '" + cliente + "', '" + zona +
                                 "', " + std::to_string(importo) + ", " + std::to_string(pezzi) + ")"));
    }

    std::map<std::string, std::pair<double, long>> sums(const std::string& table, const std::string& key)
    {
        std::map<std::string, std::pair<double, long>> out;
        auto rs = m_db.query("SELECT \"" + key + "\", \"Importo\", \"fact_count\" FROM \"" + table + "\"");
        EXPECT_TRUE(rs.has_value());
        for (; rs && !rs->eof(); rs->moveNext())
            out[rs->text(key)] = {*rs->value(std::size_t{1}).toDouble(),
                                  static_cast<long>(*rs->value(std::size_t{2}).toInt())};
        return out;
    }

    /// The same sales on the test PostgreSQL (vendite: id, cliente, importo), in the process's own
    /// database, and the catalog olap-pg.xml over them.
    void setUpPostgres()
    {
        ZS_REQUIRE_PG();
        auto& pg = pgtest::Server::shared();
        // The process's own database: the tests of this fixture run side by side.
        ASSERT_TRUE(m_db.open(pg.odbcConnectionString()));
        for (const char* sql : {"DROP TABLE IF EXISTS vendite", "DROP TABLE IF EXISTS olap_stato",
                                "CREATE TABLE vendite (id INTEGER, cliente TEXT, importo DOUBLE PRECISION)",
                                "INSERT INTO vendite VALUES (1, 'Rossi', 10.5), (2, 'Bianchi', 20), (3, 'Rossi', 4.5)"})
            ASSERT_TRUE(m_db.execute(sql)) << sql;
        (void)m_db.execute("DROP TABLE IF EXISTS \"" + agg("PerCliente", "pg") + "\"");
        test::writeFile(m_dir / "olap-pg.xml", catalogText("postgres_sales/olap-pg.xml", pg.odbcConnectionString()));
    }
    /// The aggregate of PerCliente on the PostgreSQL server "pg".
    std::map<std::string, double> pgRows()
    {
        std::map<std::string, double> out;
        auto rs = m_db.query("SELECT \"Cliente\", \"Importo\" FROM \"" + agg("PerCliente", "pg") + "\"");
        for (; rs && !rs->eof(); rs->moveNext())
            out[rs->text("Cliente")] = *rs->value(std::size_t{1}).toDouble();
        return out;
    }

    test::TempDir m_dir;
    std::filesystem::path m_dbFile = m_dir / "target.mdb";
    db::Connection m_db;
    time::FakeClock m_clock{{2026, 12, 7, 23, 45, 0}};
};

TEST_F(OlapTest, ConnectsOnlyToServersWithACatalog)
{
    OlapServer server(m_dir.path(), m_clock);
    OlapError e;
    EXPECT_FALSE(server.Connect("altro", &e));
    EXPECT_EQ(server.State(), 0);
    EXPECT_EQ(e.number, kErrOlapNotConnected);
    EXPECT_FALSE(server.Connect("../srv1", &e));
    ASSERT_TRUE(server.Connect("srv1"));
    EXPECT_EQ(server.State(), 1);
    ASSERT_NE(server.database("Zentrik"), nullptr);
    EXPECT_EQ(server.database("zentrik"), nullptr); // names compare exactly
    EXPECT_EQ(server.database("Zentrik")->cubes.size(), 4u);
}

TEST_F(OlapTest, HostileCatalogsGiveAClearErrorNeverACrash)
{
    const std::set<std::string> refused = {"deep", "deep_unclosed", "nul", "truncated", "empty", "not_xml"};
    const std::string body = "<Database name=\"Zentrik\" connection=\"" + jet(m_dbFile) +
                             "\"><Cube name=\"PerZona\" sourceTable=\"Vendite\"><Dimension name=\"Zona\" "
                             "column=\"zona\"/><Measure name=\"Importo\" column=\"importo\"/></Cube></Database>";
    for (const auto& [variant, bytes] : test::hostileXmlFiles("OlapServer", body)) {
        SCOPED_TRACE(variant);
        test::writeFile(m_dir / "olap-ostile.xml", bytes);
        OlapServer server(m_dir.path(), m_clock);
        OlapError e;
        const bool connected = server.Connect("ostile", &e);
        if (refused.count(variant)) {
            EXPECT_FALSE(connected);
            EXPECT_EQ(e.number, kErrOlapCatalog);
            EXPECT_EQ(e.description.rfind("Catalogo OLAP illeggibile", 0), 0u) << e.description;
            EXPECT_LT(e.description.size(), 2000u);
        } else {
            ASSERT_TRUE(connected) << e.description;
            ASSERT_NE(server.database("Zentrik"), nullptr);
            EXPECT_EQ(server.database("Zentrik")->cubes.size(), 1u);
        }
        EXPECT_TRUE(test::readFile(m_dir / "olap-ostile.xml") == bytes);
    }
}

TEST_F(OlapTest, FullProcessingBuildsAggregateTablesAndRecordsState)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    OlapError e;
    ASSERT_TRUE(server.processDimension("Zentrik", "Cliente", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(server.processCube("Zentrik", "PerZona", ProcessType::Full, &e)) << e.description;

    const auto perCliente = sums(agg("PerCliente"), "Cliente");
    ASSERT_EQ(perCliente.size(), 2u);
    EXPECT_DOUBLE_EQ(perCliente.at("Rossi").first, 15.0);
    EXPECT_EQ(perCliente.at("Rossi").second, 2);
    EXPECT_DOUBLE_EQ(perCliente.at("Bianchi").first, 20.0);
    const auto perZona = sums(agg("PerZona"), "Zona"); // the filter drops the 4.5 fact
    EXPECT_DOUBLE_EQ(perZona.at("Nord").first, 10.5);
    EXPECT_DOUBLE_EQ(perZona.at("Sud").first, 20.0);
    auto members =
        m_db.query("SELECT COUNT(*) FROM \"" + olapTableName("olapdim_", "srv1", "Zentrik", "Cliente") + "\"");
    ASSERT_TRUE(members);
    EXPECT_EQ(members->value(std::size_t{0}).toInt(), 2);

    // The state and the time are kept beside the aggregates: a new connection reads them.
    OlapServer again(m_dir.path(), m_clock);
    ASSERT_TRUE(again.Connect("srv1"));
    ASSERT_TRUE(again.loadState("Zentrik"));
    OlapDatabaseDef* saved = again.database("Zentrik");
    const CubeDef* cube = saved->cube("PerCliente");
    EXPECT_EQ(cube->state, 1);
    ASSERT_TRUE(cube->lastProcessed);
    EXPECT_EQ(*cube->lastProcessed, (time::DateTime{2026, 12, 7, 23, 45, 0}));
    EXPECT_EQ(cube->estimatedRows, 2);
    EXPECT_EQ(cube->incrementalMark, "3");
    EXPECT_EQ(saved->cube("Rotto")->state, 0);
    EXPECT_EQ(saved->dimension("Cliente")->state, 1);
}

TEST_F(OlapTest, IncrementalProcessingAddsOnlyNewFacts)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full));
    addFact(4, "Bianchi", "Nord", 1, 1);
    addFact(5, "Verdi", "Nord", 7, 1);
    // An edited old fact is not picked up by an incremental run: only facts above the mark.
    ASSERT_TRUE(m_db.execute("UPDATE Vendite SET importo = 1000 WHERE id = 1"));
    m_clock.advanceSeconds(60);
    OlapError e;
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental, &e)) << e.description;
    auto s = sums(agg("PerCliente"), "Cliente");
    EXPECT_DOUBLE_EQ(s.at("Rossi").first, 15.0);
    EXPECT_DOUBLE_EQ(s.at("Bianchi").first, 21.0);
    EXPECT_EQ(s.at("Bianchi").second, 2);
    EXPECT_DOUBLE_EQ(s.at("Verdi").first, 7.0);
    EXPECT_EQ(server.database("Zentrik")->cube("PerCliente")->incrementalMark, "5");

    // Nothing new: the aggregate stays; a full run then takes the edit in.
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental));
    EXPECT_DOUBLE_EQ(sums(agg("PerCliente"), "Cliente").at("Bianchi").first, 21.0);
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::RefreshData));
    EXPECT_DOUBLE_EQ(sums(agg("PerCliente"), "Cliente").at("Rossi").first, 1004.5);
}

TEST_F(OlapTest, IncrementalOnANeverProcessedCubeBuildsItWhole)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental));
    EXPECT_DOUBLE_EQ(sums(agg("PerCliente"), "Cliente").at("Rossi").first, 15.0);
}

TEST_F(OlapTest, BrokenCubeFailsWithNumberDescriptionSourceAndLeavesOthersProcessed)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full));
    OlapError e;
    EXPECT_FALSE(server.processCube("Zentrik", "Rotto", ProcessType::Full, &e));
    EXPECT_NE(e.number, 0);
    EXPECT_NE(e.description.find("Mancante"), std::string::npos) << e.description;
    EXPECT_FALSE(e.source.empty());
    ASSERT_TRUE(server.processCube("Zentrik", "PerZona", ProcessType::Full));

    EXPECT_NE(e.description.find("I dati dell'elaborazione precedente restano in uso."), std::string::npos);
    OlapServer again(m_dir.path(), m_clock);
    ASSERT_TRUE(again.Connect("srv1"));
    ASSERT_TRUE(again.loadState("Zentrik"));
    EXPECT_EQ(again.database("Zentrik")->cube("Rotto")->state, 0);
    EXPECT_FALSE(again.database("Zentrik")->cube("Rotto")->lastProcessed);
    EXPECT_EQ(again.database("Zentrik")->cube("PerZona")->state, 1);
    EXPECT_DOUBLE_EQ(sums(agg("PerCliente"), "Cliente").at("Rossi").first, 15.0);

    OlapError missing;
    EXPECT_FALSE(server.processCube("Zentrik", "Nessuno", ProcessType::Full, &missing));
    EXPECT_EQ(missing.number, kErrOlapNotFound);
    EXPECT_EQ(missing.source, "ZentrikServer");
}

TEST_F(OlapTest, VirtualCubeNeedsProcessedSources)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    OlapError e;
    EXPECT_FALSE(server.processCube("Zentrik", "Tutto", ProcessType::Full, &e));
    EXPECT_EQ(e.number, kErrOlapDefinition);
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full));
    ASSERT_TRUE(server.processCube("Zentrik", "PerZona", ProcessType::Full));
    ASSERT_TRUE(server.processCube("Zentrik", "Tutto", ProcessType::Full, &e)) << e.description;
    EXPECT_EQ(server.database("Zentrik")->cube("Tutto")->estimatedRows, 4);
}

TEST_F(OlapTest, ProcessingNeverRewritesTheCatalog)
{
    // The operator's file, with a comment, an attribute the program does not know and its layout.
    std::string text = test::readFile(m_dir / "olap-srv1.xml");
    text.replace(text.find("<OlapServer"), 0, "<!-- scritto a mano -->\n");
    text.replace(text.find("<Dimension name=\"Cliente\" table"), 0,
                 "<Dimension name=\"Zona\" table=\"Vendite\"   column=\"zona\" colore=\"blu\"/>\n  ");
    test::writeFile(m_dir / "olap-srv1.xml", text);
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processDimension("Zentrik", "Zona", ProcessType::Full));
    ASSERT_TRUE(server.processDimension("Zentrik", "Cliente", ProcessType::Full));
    for (const char* cube : {"PerCliente", "PerZona", "Tutto"})
        ASSERT_TRUE(server.processCube("Zentrik", cube, ProcessType::Full)) << cube;
    EXPECT_FALSE(server.processCube("Zentrik", "Rotto", ProcessType::Full));
    EXPECT_EQ(test::readFile(m_dir / "olap-srv1.xml"), text);
}

/// Processes PerCliente fully, then adds a fact and rebuilds it as `type` with every
/// statement of the rebuild failing in turn: each failure must leave the first aggregate and
/// state, and the rebuild must go through once no statement fails.
void sweepFailures(OlapServer& server, const std::function<std::map<std::string, double>()>& rows,
                   const std::function<void()>& addFact, ProcessType type)
{
    OlapError e;
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e)) << e.description;
    const auto before = rows();
    const CubeDef first = *server.database("Zentrik")->cube("PerCliente");
    addFact();
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        int statement = 0;
        server.failStatement = [&](const std::string&) { return ++statement == failAt; };
        const bool ok = server.processCube("Zentrik", "PerCliente", type, &e);
        server.failStatement = nullptr;
        if (ok) {
            EXPECT_NE(rows(), before);
            EXPECT_GT(failAt, 2); // the rebuild and its state took more than one statement
            break;
        }
        EXPECT_NE(e.description.find("I dati dell'elaborazione precedente restano in uso."), std::string::npos);
        EXPECT_EQ(rows(), before);
        const CubeDef& now = *server.database("Zentrik")->cube("PerCliente");
        EXPECT_EQ(now.incrementalMark, first.incrementalMark);
        EXPECT_EQ(now.estimatedRows, first.estimatedRows);
        ASSERT_LT(failAt, 20);
    }
}

TEST_F(OlapTest, ADatabaseRefusingTheRebuildKeepsTheOldRows)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full));
    // The reload of the rows fails after they were deleted: the delete goes back too.
    ASSERT_TRUE(m_db.execute("CREATE TRIGGER no_insert BEFORE INSERT ON \"" + agg("PerCliente") +
                             "\" BEGIN SELECT RAISE(ABORT, 'righe rifiutate'); END"));
    OlapError e;
    EXPECT_FALSE(server.processCube("Zentrik", "PerCliente", ProcessType::RefreshData, &e));
    EXPECT_NE(e.description.find("righe rifiutate"), std::string::npos) << e.description;
    EXPECT_DOUBLE_EQ(sums(agg("PerCliente"), "Cliente").at("Rossi").first, 15.0);
}

TEST_F(OlapTest, TwoDatabasesWithACubeOfTheSameNameKeepSeparateAggregates)
{
    test::writeFile(m_dir / "olap-srv2.xml", catalogText("two_databases/olap-srv2.xml", jet(m_dbFile)));
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv2"));
    for (const char* db : {"Nord", "Sud"}) {
        ASSERT_TRUE(server.processDimension(db, "Cliente", ProcessType::Full)) << db;
        ASSERT_TRUE(server.processCube(db, "Vendite", ProcessType::Full)) << db;
    }
    const auto nord = sums(olapTableName("olap_", "srv2", "Nord", "Vendite"), "Cliente");
    const auto sud = sums(olapTableName("olap_", "srv2", "Sud", "Vendite"), "Cliente");
    ASSERT_EQ(nord.size(), 1u);
    EXPECT_DOUBLE_EQ(nord.at("Rossi").first, 10.5);
    ASSERT_EQ(sud.size(), 2u);
    EXPECT_DOUBLE_EQ(sud.at("Rossi").first, 4.5);
    EXPECT_DOUBLE_EQ(sud.at("Bianchi").first, 20.0);
    // Each database keeps its own state too.
    OlapServer again(m_dir.path(), m_clock);
    ASSERT_TRUE(again.Connect("srv2"));
    ASSERT_TRUE(again.loadState("Nord"));
    ASSERT_TRUE(again.loadState("Sud"));
    EXPECT_EQ(again.database("Nord")->cube("Vendite")->estimatedRows, 1);
    EXPECT_EQ(again.database("Sud")->cube("Vendite")->estimatedRows, 2);
}

TEST(OlapTableName, NamesCarryTheDatabaseAndStayApart)
{
    EXPECT_EQ(olapTableName("olap_", "Zentrik", "Vendite"), "olap_7_Zentrik_Vendite");
    // The length of the database name keeps names apart that underscores would mix up.
    EXPECT_NE(olapTableName("olap_", "a_b", "c"), olapTableName("olap_", "a", "b_c"));
    const std::string longName = olapTableName("olap_", std::string(40, 'd'), std::string(40, 'c'));
    EXPECT_EQ(longName.size(), 63u);
    EXPECT_NE(longName, olapTableName("olap_", std::string(40, 'd'), std::string(39, 'c') + "x"));
    const std::string accented =
        olapTableName("olap_", std::string(50, 'd'), "cubo\xc3\xa8\xc3\xa8\xc3\xa8\xc3\xa8\xc3\xa8\xc3\xa8\xc3\xa8");
    EXPECT_LE(accented.size(), 63u);
}

TEST_F(OlapTest, OldCatalogStateAndAggregateNamesAreStillRead)
{
    // A catalog an earlier version rewrote carries the state; its aggregate has the old name.
    std::string text = test::readFile(m_dir / "olap-srv1.xml");
    text.replace(text.find("incrementalColumn=\"id\">"), 0,
                 "state=\"1\" incrementalMark=\"3\" lastProcessed=\"2026-01-02T03:04:05\" ");
    test::writeFile(m_dir / "olap-srv1.xml", text);
    ASSERT_TRUE(
        m_db.execute("CREATE TABLE \"olap_PerCliente\" AS SELECT cliente AS \"Cliente\", SUM(importo) AS "
                     "\"Importo\", SUM(pezzi) AS \"Pezzi\", COUNT(*) AS \"fact_count\" FROM Vendite GROUP BY cliente"));
    addFact(4, "Verdi", "Nord", 7, 1);
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.loadState("Zentrik"));
    EXPECT_EQ(server.database("Zentrik")->cube("PerCliente")->state, 1);
    EXPECT_EQ(*server.database("Zentrik")->cube("PerCliente")->lastProcessed, (time::DateTime{2026, 1, 2, 3, 4, 5}));
    // Incremental processing folds the new fact into the old aggregate, under the new name.
    OlapError e;
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental, &e)) << e.description;
    const auto s = sums(agg("PerCliente"), "Cliente");
    EXPECT_DOUBLE_EQ(s.at("Rossi").first, 15.0);
    EXPECT_DOUBLE_EQ(s.at("Verdi").first, 7.0);
    EXPECT_EQ(sums("olap_PerCliente", "Cliente").count("Verdi"), 0u); // the old table is left as it was
}

TEST(OlapTableName, NamesCarryTheServerAndTheDatabaseAndStayApart)
{
    EXPECT_EQ(olapTableName("olap_", "demo", "Vendite", "VenditePerCliente"),
              "olap_u081024_4_demo_7_Vendite_VenditePerCliente");
    EXPECT_EQ(olapTableName("olap_", "demo", "vendite", "totale"), "olap_u_4_demo_7_vendite_totale");
    EXPECT_EQ(olapTableName("olap_", "Demo", "vendite", "totale"), "olap_u8_4_Demo_7_vendite_totale");
    EXPECT_EQ(earlierOlapTableName("olap_", "demo", "Vendite", "VenditePerCliente"),
              "olap_4_demo_7_Vendite_VenditePerCliente");
    EXPECT_NE(olapTableName("olap_", "a_b", "c", "d"), olapTableName("olap_", "a", "b_c", "d"));
    EXPECT_NE(olapTableName("olap_", "demo", "Vendite", "X"), olapTableName("olap_", "Vendite", "X"));
    EXPECT_EQ(olapTableName("olap_", std::string(30, 's'), std::string(30, 'd'), "cubo").size(), 63u);
}

TEST(OlapTableName, EarlierAggregateNamesComeNewestFirstWithWhatTheyCarry)
{
    CubeDef cube;
    cube.name = "Totale";
    const std::vector<EarlierTableName> names = cube.earlierAggregateTables("demo", "Vendite");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].table, "olap_4_demo_7_Vendite_Totale");
    EXPECT_EQ(names[0].server, std::optional<std::string>("demo"));
    EXPECT_EQ(names[0].database, std::optional<std::string>("Vendite"));
    EXPECT_EQ(names[1].table, "olap_7_Vendite_Totale");
    EXPECT_EQ(names[1].server, std::nullopt);
    EXPECT_EQ(names[1].database, std::optional<std::string>("Vendite"));
    EXPECT_EQ(names[2].table, "olap_Totale");
    EXPECT_EQ(names[2].server, std::nullopt);
    EXPECT_EQ(names[2].database, std::nullopt);
}

TEST_F(OlapTest, TwoServersSharingDatabaseAndCubeNamesKeepTheirAggregatesAndStateApart)
{
    // A second catalog whose database, cube and dimension carry the same names, with a filter
    // that matches nothing, on the same target.
    test::writeFile(m_dir / "olap-srv9.xml", catalogText("two_servers/olap-srv9.xml", jet(m_dbFile)));
    OlapServer first(m_dir.path(), m_clock);
    ASSERT_TRUE(first.Connect("srv1"));
    ASSERT_TRUE(first.processDimension("Zentrik", "Cliente", ProcessType::Full));
    ASSERT_TRUE(first.processCube("Zentrik", "PerCliente", ProcessType::Full));
    OlapServer second(m_dir.path(), m_clock);
    ASSERT_TRUE(second.Connect("srv9"));
    ASSERT_TRUE(second.processDimension("Zentrik", "Cliente", ProcessType::Full));
    ASSERT_TRUE(second.processCube("Zentrik", "PerCliente", ProcessType::Full));

    EXPECT_EQ(sums(agg("PerCliente"), "Cliente").size(), 2u);
    EXPECT_TRUE(sums(agg("PerCliente", "srv9"), "Cliente").empty());
    auto count = [&](const std::string& sql) {
        auto rs = m_db.query(sql);
        return rs && !rs->eof() ? rs->value(std::size_t{0}).toString() : std::string("?");
    };
    EXPECT_EQ(count("SELECT COUNT(*) FROM \"" + olapTableName("olapdim_", "srv1", "Zentrik", "Cliente") + "\""),
              "2"); // Rossi, Bianchi
    EXPECT_EQ(count("SELECT COUNT(*) FROM \"" + olapTableName("olapdim_", "srv9", "Zentrik", "Cliente") + "\""),
              "2"); // Nord, Sud
    EXPECT_EQ(count("SELECT COUNT(*) FROM olap_stato WHERE oggetto = 'cubo' AND nome = 'PerCliente'"), "2");
    // Each server reads back its own state.
    for (const auto& [name, rows] : {std::pair<std::string, double>{"srv1", 2}, {"srv9", 0}}) {
        OlapServer again(m_dir.path(), m_clock);
        ASSERT_TRUE(again.Connect(name));
        ASSERT_TRUE(again.loadState("Zentrik"));
        EXPECT_EQ(again.database("Zentrik")->cube("PerCliente")->estimatedRows, rows) << name;
        EXPECT_EQ(again.database("Zentrik")->cube("PerCliente")->state, kStateProcessed) << name;
    }
    // Processing one again leaves the other's as it was.
    ASSERT_TRUE(second.processCube("Zentrik", "PerCliente", ProcessType::Full));
    EXPECT_EQ(sums(agg("PerCliente"), "Cliente").size(), 2u);
}

TEST_F(OlapTest, StateRowsAndAggregatesWrittenBeforeTheyCarriedTheServerAreStillRead)
{
    // What an earlier version left: olap_stato without the server column, and the aggregate
    // under the name that carried only the database.
    ASSERT_TRUE(m_db.execute("CREATE TABLE olap_stato (\"database\" TEXT, oggetto TEXT, nome TEXT, stato INTEGER, "
                             "ultima_elaborazione TEXT, ultimo_aggiornamento TEXT, righe_stimate DOUBLE PRECISION, "
                             "dimensione_stimata DOUBLE PRECISION, segno_incrementale TEXT, tabella TEXT)"));
    ASSERT_TRUE(m_db.execute("INSERT INTO olap_stato VALUES ('Zentrik', 'cubo', 'PerCliente', 1, "
                             "'2026-01-02T03:04:05', '2026-01-02T03:04:05', 2, 48, '3', 'olap_7_Zentrik_PerCliente')"));
    ASSERT_TRUE(
        m_db.execute("CREATE TABLE \"olap_7_Zentrik_PerCliente\" AS SELECT cliente AS \"Cliente\", SUM(importo) AS "
                     "\"Importo\", SUM(pezzi) AS \"Pezzi\", COUNT(*) AS \"fact_count\" FROM Vendite GROUP BY cliente"));
    addFact(4, "Verdi", "Nord", 7, 1);
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.loadState("Zentrik"));
    const CubeDef& cube = *server.database("Zentrik")->cube("PerCliente");
    EXPECT_EQ(cube.state, kStateProcessed);
    EXPECT_EQ(cube.incrementalMark, "3");
    EXPECT_EQ(*cube.lastProcessed, (time::DateTime{2026, 1, 2, 3, 4, 5}));
    OlapError e;
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental, &e)) << e.description;
    const auto s = sums(agg("PerCliente"), "Cliente");
    EXPECT_DOUBLE_EQ(s.at("Rossi").first, 15.0);
    EXPECT_DOUBLE_EQ(s.at("Verdi").first, 7.0);
    EXPECT_EQ(sums("olap_7_Zentrik_PerCliente", "Cliente").count("Verdi"), 0u); // left as it was
    // The old row stays for whoever else read it; this server now has a row of its own.
    auto rs = m_db.query("SELECT coalesce(server, '-') || ':' || segno_incrementale FROM olap_stato "
                         "WHERE nome = 'PerCliente' ORDER BY 1");
    ASSERT_TRUE(rs);
    std::vector<std::string> rows;
    for (; !rs->eof(); rs->moveNext())
        rows.push_back(rs->value(std::size_t{0}).toString());
    EXPECT_EQ(rows, (std::vector<std::string>{"-:3", "srv1:4"}));
}

/// XML attribute text.
std::string xmlAttr(const std::string& text)
{
    std::string out;
    for (const char ch : text)
        out += ch == '&' ? "&amp;" : ch == '<' ? "&lt;" : ch == '"' ? "&quot;" : std::string(1, ch);
    return out;
}

/// A cube over `table` (id, cliente, importo: 10.5 Rossi, 20 Bianchi, 4.5 Rossi) of the target
/// `connection`, processed with each filter of a table: the conditions aggregate, everything
/// that is not one condition fails the cube with its error, and the canary table stands.
void checkFilters(const std::filesystem::path& dir, db::Connection& target, const std::string& connection,
                  const std::string& table, const time::Clock& clock)
{
    ASSERT_TRUE(target.execute("DROP TABLE IF EXISTS canary"));
    ASSERT_TRUE(target.execute("CREATE TABLE canary (x INTEGER)"));
    ASSERT_TRUE(target.execute("INSERT INTO canary VALUES (42)"));
    struct Case {
        const char* name;
        std::string filter;
        int rows; ///< aggregate rows; -1: the cube fails
    } cases[] = {
        {"a condition", "importo > 5", 2},
        {"a second statement", "1=1) GROUP BY 1; DROP TABLE canary; --", -1},
        {"a condition then a statement", "importo > 0; DROP TABLE canary", -1},
        {"a comment hiding the rest", "1=1) --", -1},
        {"a block comment", "importo > 5 /* resto", -1},
        {"an unbalanced parenthesis", "(importo > 5", -1},
        {"a parenthesis closing what it did not open", "importo > 5) OR (1=1", -1},
        {"an escaped quote", "cliente = E'\\'' OR 1=1; DROP TABLE canary; --'", -1},
        {"a text holding ; -- ( and /*", "cliente <> 'x;y--(/*'", 2},
        {"a condition with a subquery", "cliente IN (SELECT cliente FROM " + table + " WHERE importo > 15)", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(dir / "olap-filtro.xml",
                        "<OlapServer name=\"filtro\"><Database name=\"F\" connection=\"" + xmlAttr(connection) +
                            "\"><Cube name=\"PerCliente\" sourceTable=\"" + table + "\" sourceTableFilter=\"" +
                            xmlAttr(c.filter) +
                            "\"><Dimension name=\"Cliente\" column=\"cliente\"/><Measure name=\"Importo\" "
                            "column=\"importo\"/></Cube></Database></OlapServer>");
        OlapServer server(dir, clock);
        ASSERT_TRUE(server.Connect("filtro"));
        OlapError e;
        const bool ok = server.processCube("F", "PerCliente", ProcessType::Full, &e);
        if (c.rows < 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(e.number, kErrOlapDefinition);
            EXPECT_EQ(e.description.rfind("Filtro non valido nel cubo PerCliente: ", 0), 0u) << e.description;
        } else {
            EXPECT_TRUE(ok) << e.description;
            auto rs =
                target.query("SELECT COUNT(*) FROM \"" + olapTableName("olap_", "filtro", "F", "PerCliente") + "\"");
            ASSERT_TRUE(rs && !rs->eof());
            EXPECT_EQ(rs->value(std::size_t{0}).toString(), std::to_string(c.rows));
        }
        auto canary = target.query("SELECT x FROM canary");
        ASSERT_TRUE(canary && !canary->eof()) << "the canary table is gone";
        EXPECT_EQ(canary->value(std::size_t{0}).toString(), "42");
    }
}

/// Names that differ only in letter case, on the target `connection` (`target` opened on it):
/// servers "demo" and "Demo" with a database "Vendite", cubes "Totale" and "TOTALE" and
/// dimensions "Cliente" and "CLIENTE" of one database, each processed after the other. Every
/// aggregate must hold its own rows, as our own SQL computes them, and olap_stato must agree.
void checkNamesDifferingInCase(const std::filesystem::path& dir, db::Connection& target, const std::string& connection,
                               const time::Clock& clock)
{
    auto rowsOf = [&](const std::string& sql) { return zs::test::rowsOf(target, sql); };
    for (const char* sql :
         {"DROP TABLE IF EXISTS fatti", "CREATE TABLE fatti (id INTEGER, cliente TEXT, zona TEXT, importo INTEGER)",
          "INSERT INTO fatti VALUES (1, 'Rossi', 'Nord', 10), (2, 'Bianchi', 'Sud', 20), (3, 'Rossi', 'Sud', 4), "
          "(4, 'Verdi', 'Nord', 7)"})
        ASSERT_TRUE(target.execute(sql)) << sql;
    const std::string open = "\"><Database name=\"Vendite\" connection=\"" + xmlAttr(connection) + "\">";
    test::writeFile(dir / "olap-demo.xml", "<OlapServer name=\"demo" + open +
                                               R"(<Dimension name="Cliente" table="fatti" column="cliente"/>
<Dimension name="CLIENTE" table="fatti" column="zona"/>
<Cube name="Totale" sourceTable="fatti" incrementalColumn="id"><Dimension name="Cliente" column="cliente"/><Measure name="Importo" column="importo"/></Cube>
<Cube name="TOTALE" sourceTable="fatti"><Dimension name="Zona" column="zona"/><Measure name="Fatti" aggregate="count"/><Measure name="Massimo" column="importo" aggregate="max"/></Cube>
</Database></OlapServer>)");
    // The same database and cube on a server whose name differs only in case: a filter matching nothing.
    test::writeFile(
        dir / "olap-Demo.xml",
        "<OlapServer name=\"Demo" + open +
            R"(<Cube name="Totale" sourceTable="fatti" sourceTableFilter="importo &lt; 0"><Dimension name="Cliente" column="cliente"/><Measure name="Importo" column="importo"/></Cube>
</Database></OlapServer>)");
    OlapServer demo(dir, clock), Demo(dir, clock);
    ASSERT_TRUE(demo.Connect("demo"));
    ASSERT_TRUE(Demo.Connect("Demo"));
    OlapError e;
    ASSERT_TRUE(demo.processDimension("Vendite", "Cliente", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(demo.processDimension("Vendite", "CLIENTE", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(demo.processCube("Vendite", "Totale", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(demo.processCube("Vendite", "TOTALE", ProcessType::Full, &e)) << e.description;
    ASSERT_TRUE(Demo.processCube("Vendite", "Totale", ProcessType::Full, &e)) << e.description;
    // A new fact folded into demo's Totale: it must not land in another table.
    ASSERT_TRUE(target.execute("INSERT INTO fatti VALUES (5, 'Bianchi', 'Nord', 1)"));
    ASSERT_TRUE(demo.processCube("Vendite", "Totale", ProcessType::Incremental, &e)) << e.description;

    auto table = [](const std::string& server, const std::string& object, const char* prefix = "olap_") {
        return "\"" + olapTableName(prefix, server, "Vendite", object) + "\"";
    };
    EXPECT_EQ(rowsOf("SELECT \"Cliente\", \"Importo\", \"fact_count\" FROM " + table("demo", "Totale") + " ORDER BY 1"),
              rowsOf("SELECT cliente, SUM(importo), COUNT(*) FROM fatti GROUP BY cliente ORDER BY 1"));
    EXPECT_EQ(rowsOf("SELECT \"Zona\", \"Fatti\", \"Massimo\", \"fact_count\" FROM " + table("demo", "TOTALE") +
                     " ORDER BY 1"),
              (std::vector<std::string>{"Nord|2|10|2", "Sud|2|20|2"})); // processed before fact 5
    EXPECT_TRUE(rowsOf("SELECT * FROM " + table("Demo", "Totale")).empty());
    EXPECT_EQ(rowsOf("SELECT \"member\" FROM " + table("demo", "Cliente", "olapdim_") + " ORDER BY 1"),
              (std::vector<std::string>{"Bianchi", "Rossi", "Verdi"}));
    EXPECT_EQ(rowsOf("SELECT \"member\" FROM " + table("demo", "CLIENTE", "olapdim_") + " ORDER BY 1"),
              (std::vector<std::string>{"Nord", "Sud"}));

    // olap_stato names each object's own table, and the rows it counts are the rows that table holds.
    const auto state = rowsOf("SELECT \"server\", \"oggetto\", \"nome\", \"tabella\", \"righe_stimate\" FROM "
                              "olap_stato ORDER BY 1, 2, 3");
    ASSERT_EQ(state.size(), 5u);
    std::set<std::string> tables;
    for (const std::string& row : state) {
        SCOPED_TRACE(row);
        std::vector<std::string> f;
        for (std::size_t at = 0, next; at <= row.size(); at = next + 1) {
            next = std::min(row.find('|', at), row.size());
            f.push_back(row.substr(at, next - at));
        }
        ASSERT_EQ(f.size(), 5u);
        const bool cube = f[1] == "cubo";
        EXPECT_EQ(f[3], olapTableName(cube ? "olap_" : "olapdim_", f[0], "Vendite", f[2]));
        tables.insert(text::lowerAscii(f[3]));
        if (cube) {
            EXPECT_EQ(rowsOf("SELECT COUNT(*) FROM \"" + f[3] + "\""), std::vector<std::string>{f[4]});
        }
    }
    EXPECT_EQ(tables.size(), 5u); // apart even where the case of table names is ignored
    // Each server reads back its own state.
    OlapServer again(dir, clock);
    ASSERT_TRUE(again.Connect("Demo"));
    ASSERT_TRUE(again.loadState("Vendite"));
    EXPECT_EQ(again.database("Vendite")->cube("Totale")->estimatedRows, 0);
    EXPECT_EQ(again.database("Vendite")->cube("Totale")->state, kStateProcessed);
}

/// What the naming before the case of letters counted left: demo's Totale processed, its state
/// row naming that table, then a new fact. An incremental run must start from that table.
void checkEarlierNamingIsFound(const std::filesystem::path& dir, db::Connection& target, const std::string& connection,
                               const time::Clock& clock)
{
    auto rowsOf = [&](const std::string& sql) { return zs::test::rowsOf(target, sql); };
    const std::string earlier = earlierOlapTableName("olap_", "demo", "Vendite", "Totale");
    for (const std::string& sql :
         {std::string("DROP TABLE IF EXISTS fatti"), std::string("DROP TABLE IF EXISTS olap_stato"),
          "DROP TABLE IF EXISTS \"" + earlier + "\"",
          "DROP TABLE IF EXISTS \"" + olapTableName("olap_", "demo", "Vendite", "Totale") + "\"",
          std::string("CREATE TABLE fatti (id INTEGER, cliente TEXT, importo INTEGER)"),
          std::string("INSERT INTO fatti VALUES (1, 'Rossi', 10), (2, 'Bianchi', 20)"),
          // Rows the earlier run left, unlike what the facts give now: the run must take them.
          "CREATE TABLE \"" + earlier + "\" AS SELECT cliente AS \"Cliente\", SUM(importo) + 100 AS \"Importo\", " +
              "COUNT(*) AS \"fact_count\" FROM fatti GROUP BY cliente",
          std::string("CREATE TABLE olap_stato (\"database\" TEXT, \"oggetto\" TEXT, \"nome\" TEXT, \"stato\" "
                      "INTEGER, \"ultima_elaborazione\" TEXT, \"ultimo_aggiornamento\" TEXT, \"righe_stimate\" "
                      "DOUBLE PRECISION, \"dimensione_stimata\" DOUBLE PRECISION, \"segno_incrementale\" TEXT, "
                      "\"tabella\" TEXT, \"server\" TEXT)"),
          "INSERT INTO olap_stato VALUES ('Vendite', 'cubo', 'Totale', 1, '2026-01-02T03:04:05', "
          "'2026-01-02T03:04:05', 2, 48, '2', '" +
              earlier + "', 'demo')",
          std::string("INSERT INTO fatti VALUES (3, 'Rossi', 4)")})
        ASSERT_TRUE(target.execute(sql)) << sql;
    test::writeFile(
        dir / "olap-demo.xml",
        "<OlapServer name=\"demo\"><Database name=\"Vendite\" connection=\"" + xmlAttr(connection) +
            R"("><Cube name="Totale" sourceTable="fatti" incrementalColumn="id"><Dimension name="Cliente" column="cliente"/><Measure name="Importo" column="importo"/></Cube>
</Database></OlapServer>)");
    OlapServer demo(dir, clock);
    ASSERT_TRUE(demo.Connect("demo"));
    OlapError e;
    ASSERT_TRUE(demo.processCube("Vendite", "Totale", ProcessType::Incremental, &e)) << e.description;
    EXPECT_EQ(rowsOf("SELECT \"Cliente\", \"Importo\", \"fact_count\" FROM \"" +
                     olapTableName("olap_", "demo", "Vendite", "Totale") + "\" ORDER BY 1"),
              (std::vector<std::string>{"Bianchi|120|1", "Rossi|114|2"}));
    EXPECT_EQ(rowsOf("SELECT \"Importo\" FROM \"" + earlier + "\" ORDER BY 1"),
              (std::vector<std::string>{"110", "120"})); // left as it was
}

TEST_F(OlapTest, AnEarlierTableTwoNamesDifferingInCaseSharedIsNotTakenAsEitherOnes)
{
    // The earlier naming on SQLite: servers "demo" and "Demo" both wrote into one table, Demo last.
    checkEarlierNamingIsFound(m_dir.path(), m_db, jet(m_dbFile), m_clock);
    const std::string shared = earlierOlapTableName("olap_", "Demo", "Vendite", "Totale");
    for (const std::string& sql :
         {std::string("DROP TABLE IF EXISTS \"") + olapTableName("olap_", "demo", "Vendite", "Totale") + "\"",
          std::string("DELETE FROM \"") + shared + "\"",
          std::string("INSERT INTO olap_stato VALUES ('Vendite', 'cubo', 'Totale', 1, '2026-01-02T03:04:05', "
                      "'2026-01-02T03:04:05', 0, 0, '', '") +
              shared + "', 'Demo')"})
        ASSERT_TRUE(m_db.execute(sql)) << sql;
    OlapServer demo(m_dir.path(), m_clock);
    ASSERT_TRUE(demo.Connect("demo"));
    OlapError e;
    ASSERT_TRUE(demo.processCube("Vendite", "Totale", ProcessType::Incremental, &e)) << e.description;
    // Not the emptied shared table: every fact, counted from the facts themselves.
    EXPECT_EQ(test::rowsOf(m_db, "SELECT \"Cliente\", \"Importo\", \"fact_count\" FROM \"" +
                                     olapTableName("olap_", "demo", "Vendite", "Totale") + "\" ORDER BY 1"),
              test::rowsOf(m_db, "SELECT cliente, SUM(importo), COUNT(*) FROM fatti GROUP BY cliente ORDER BY 1"));
}

TEST_F(OlapTest, AnAggregateWhoseColumnsAreNotTheCubesIsRebuiltWhole)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full));
    // Another object's columns under the cube's name: never folded into, never kept.
    for (const ProcessType type : {ProcessType::RefreshData, ProcessType::Incremental}) {
        SCOPED_TRACE(static_cast<int>(type));
        if (type == ProcessType::Incremental) {
            // Nor is a stale aggregate under an earlier name taken as the base, though it holds
            // the cube's columns: the cube has a table of its own.
            const std::string earlier = earlierOlapTableName("olap_", "srv1", "Zentrik", "PerCliente");
            ASSERT_TRUE(
                m_db.execute("CREATE TABLE \"" + earlier + "\" AS SELECT * FROM \"" + agg("PerCliente") + "\""));
            ASSERT_TRUE(m_db.execute("INSERT INTO \"" + earlier + "\" VALUES ('Vecchio', 99, 9, 9)"));
        }
        ASSERT_TRUE(m_db.execute("DROP TABLE \"" + agg("PerCliente") + "\""));
        ASSERT_TRUE(m_db.execute("CREATE TABLE \"" + agg("PerCliente") +
                                 "\" (\"Zona\" TEXT, \"Importo\" REAL, \"Pezzi\" REAL, \"fact_count\" INTEGER)"));
        ASSERT_TRUE(m_db.execute("INSERT INTO \"" + agg("PerCliente") + "\" VALUES ('Nord', 1, 1, 1)"));
        OlapError e;
        ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", type, &e)) << e.description;
        // All of its columns, in order: the cube's own.
        EXPECT_EQ(test::rowsOf(m_db, "SELECT * FROM \"" + agg("PerCliente") + "\" ORDER BY 1"),
                  (std::vector<std::string>{"Bianchi|20|2|1", "Rossi|15|4|2"}));
    }
}

/// The cases only the test PostgreSQL shows: names resolved as the server resolves unquoted ones.
class OlapPgTest : public OlapTest {
  protected:
    void SetUp() override { setUpPostgres(); }
    std::map<std::string, double> rows() { return pgRows(); }
};

/// The tests written once for both backends, each on its own sales: a SQLite file or the test
/// PostgreSQL.
class OlapBackendTest : public OlapTest, public ::testing::WithParamInterface<pgtest::Backend> {
  protected:
    void SetUp() override
    {
        if (GetParam() == pgtest::Backend::Sqlite)
            setUpSqlite();
        else
            setUpPostgres();
    }
    bool onSqlite() const { return GetParam() == pgtest::Backend::Sqlite; }
    std::string connection() const
    {
        return onSqlite() ? jet(m_dbFile) : pgtest::Server::shared().odbcConnectionString();
    }
    std::string salesTable() const { return onSqlite() ? "Vendite" : "vendite"; }
};

INSTANTIATE_TEST_SUITE_P(Backends, OlapBackendTest, pgtest::allBackends(), pgtest::backendName);

TEST_P(OlapBackendTest, ACubeFilterRunsAsOneConditionOrFailsTheCube)
{
    checkFilters(m_dir.path(), m_db, connection(), salesTable(), m_clock);
}

TEST_P(OlapBackendTest, NamesDifferingOnlyInCaseKeepTheirOwnAggregatesAndState)
{
    if (!onSqlite())
        (void)m_db.execute("DROP TABLE IF EXISTS olap_stato");
    checkNamesDifferingInCase(m_dir.path(), m_db, connection(), m_clock);
}

TEST_P(OlapBackendTest, AnAggregateOfTheNamingBeforeLetterCaseCountedIsStillFound)
{
    checkEarlierNamingIsFound(m_dir.path(), m_db, connection(), m_clock);
}

TEST_P(OlapBackendTest, ARebuildFailingHalfWayLeavesThePreviousAggregate)
{
    const std::string serverName = onSqlite() ? "srv1" : "pg";
    int id = 10;
    for (const ProcessType type : {ProcessType::Full, ProcessType::RefreshData, ProcessType::Incremental}) {
        SCOPED_TRACE(static_cast<int>(type));
        OlapServer server(m_dir.path(), m_clock);
        ASSERT_TRUE(server.Connect(serverName));
        sweepFailures(
            server,
            [&] {
                if (!onSqlite())
                    return pgRows();
                std::map<std::string, double> out;
                for (const auto& [k, v] : sums(agg("PerCliente"), "Cliente"))
                    out[k] = v.first;
                return out;
            },
            [&] {
                if (onSqlite())
                    addFact(++id, "Rossi", "Nord", 100, 1);
                else
                    ASSERT_TRUE(m_db.execute("INSERT INTO vendite VALUES (" + std::to_string(++id) + ", 'Verdi', 1)"));
            },
            type);
        if (onSqlite()) {
            // What was kept is what the next connection reads.
            OlapServer again(m_dir.path(), m_clock);
            ASSERT_TRUE(again.Connect(serverName));
            ASSERT_TRUE(again.loadState("Zentrik"));
            EXPECT_EQ(again.database("Zentrik")->cube("PerCliente")->incrementalMark,
                      server.database("Zentrik")->cube("PerCliente")->incrementalMark);
        }
    }
    if (onSqlite())
        return;
    // A real refusal half-way on PostgreSQL: the aggregate cannot be dropped while a view uses it.
    ASSERT_TRUE(m_db.execute("CREATE VIEW vista AS SELECT * FROM \"" + agg("PerCliente", "pg") + "\""));
    const auto before = pgRows();
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("pg"));
    OlapError e;
    EXPECT_FALSE(server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e));
    EXPECT_NE(e.description.find("I dati dell'elaborazione precedente restano in uso."), std::string::npos);
    EXPECT_EQ(pgRows(), before);
    ASSERT_TRUE(m_db.execute("DROP VIEW vista"));
}

TEST_F(OlapPgTest, CatalogNamesResolveAsTheServerResolvesUnquotedNames)
{
    // Tables made by unquoted SQL, as "Crea DB" makes them: stored in lower case. A name that
    // is not plain is kept exactly.
    for (const char* sql : {"DROP TABLE IF EXISTS clienti", "DROP TABLE IF EXISTS \"Zone Vendita\"",
                            "CREATE TABLE CLIENTI (NOME TEXT)", "INSERT INTO CLIENTI VALUES ('Rossi'), ('Bianchi')",
                            "CREATE TABLE \"Zone Vendita\" (\"Nome Zona\" TEXT, importo DOUBLE PRECISION)",
                            "INSERT INTO \"Zone Vendita\" VALUES ('Nord', 1), ('Nord', 2), ('Sud', 4)"})
        ASSERT_TRUE(m_db.execute(sql)) << sql;
    test::writeFile(m_dir / "olap-nomi.xml",
                    catalogText("unquoted_names/olap-nomi.xml", pgtest::Server::shared().odbcConnectionString()));
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("nomi"));
    OlapError e;
    ASSERT_TRUE(server.processDimension("Zentrik", "Cliente", ProcessType::Full, &e)) << e.description;
    for (const ProcessType type : {ProcessType::Full, ProcessType::RefreshData, ProcessType::Incremental}) {
        ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", type, &e)) << e.description;
        ASSERT_TRUE(m_db.execute("INSERT INTO vendite VALUES (" + std::to_string(20 + static_cast<int>(type)) +
                                 ", 'Verdi', 3)"));
    }
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental, &e)) << e.description;
    ASSERT_TRUE(server.processCube("Zentrik", "PerZona", ProcessType::Full, &e)) << e.description;

    auto rowsOf = [&](const std::string& sql) { return zs::test::rowsOf(m_db, sql); };
    EXPECT_EQ(
        rowsOf("SELECT \"Cliente\", \"Importo\", \"Righe\" FROM \"" +
               olapTableName("olap_", "nomi", "Zentrik", "PerCliente") + "\" ORDER BY 1"),
        rowsOf("SELECT cliente, sum(importo), count(*) FROM vendite WHERE importo > 1 GROUP BY cliente ORDER BY 1"));
    EXPECT_EQ(rowsOf("SELECT \"Zona\", \"Importo\" FROM \"" + olapTableName("olap_", "nomi", "Zentrik", "PerZona") +
                     "\" ORDER BY 1"),
              (std::vector<std::string>{"Nord|3", "Sud|4"}));
    EXPECT_EQ(
        rowsOf("SELECT \"member\" FROM \"" + olapTableName("olapdim_", "nomi", "Zentrik", "Cliente") + "\" ORDER BY 1"),
        (std::vector<std::string>{"Bianchi", "Rossi"}));
}

// Another session holds the cube's aggregate: the rebuild's statements that wait for it wait one
// command time-out in all, and the previous aggregate stands.
TEST_F(OlapPgTest, ARebuildIntoAHeldTableFailsWithinOneTimeOut)
{
    using namespace std::chrono_literals;
    auto& pg = pgtest::Server::shared();
    OlapError e;
    {
        OlapServer server(m_dir.path(), m_clock);
        ASSERT_TRUE(server.Connect("pg"));
        ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e)) << e.description;
    }
    const std::string table = agg("PerCliente", "pg");
    std::thread holder(
        [&] { pg.psql("begin; lock table \"" + table + "\" in access exclusive mode; select pg_sleep(12); commit"); });
    const std::string granted = "select 'held=' || count(*) from pg_locks where relation = '\"" + table +
                                "\"'::regclass and mode = 'AccessExclusiveLock' and granted";
    std::string out;
    for (int i = 0; i < 200 && out.find("held=1") == std::string::npos; ++i) {
        std::this_thread::sleep_for(50ms);
        out.clear();
        pg.psql(granted, &out);
    }
    ASSERT_NE(out.find("held=1"), std::string::npos) << out;
    OlapServer server(m_dir.path(), m_clock);
    server.setCommandTimeout(3);
    ASSERT_TRUE(server.Connect("pg"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    holder.join();
    EXPECT_GE(took, 2.5);
    EXPECT_LT(took, 4.5) << e.description;
    EXPECT_NE(e.description.find("I dati dell'elaborazione precedente restano in uso."), std::string::npos)
        << e.description;
    EXPECT_EQ(pgRows(), (std::map<std::string, double>{{"Bianchi", 20}, {"Rossi", 15}}));
}

} // namespace
