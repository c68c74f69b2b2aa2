#include "olap/OlapServer.h"

#include "db/Catalog.h"
#include "db/Connection.h"
#include "fs/FileOps.h"
#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

using namespace zs;
using namespace zs::olap;

namespace {

std::string jet(const std::filesystem::path& p)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + p.string() + ";";
}

class OlapTest : public ::testing::Test {
  protected:
    void SetUp() override
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
        test::writeFile(m_dir / "olap-srv1.xml", R"(<?xml version="1.0"?>
<OlapServer name="srv1">
 <Database name="Zentrik" connection=")" + jet(m_dbFile) +
                                                     R"(">
  <Dimension name="Cliente" table="Clienti" column="cliente"/>
  <Cube name="PerCliente" defaultMeasure="Importo" description="Vendite per cliente" sourceTable="Vendite" incrementalColumn="id">
   <DataSource name="Zentrik"/>
   <Dimension name="Cliente" column="cliente"/>
   <Measure name="Importo" column="importo"/>
   <Measure name="Pezzi" column="pezzi" aggregate="sum"/>
  </Cube>
  <Cube name="Rotto" sourceTable="Mancante"><Measure name="X" column="x"/></Cube>
  <Cube name="PerZona" sourceTable="Vendite" sourceTableFilter="importo &gt; 5" incrementalColumn="id">
   <Dimension name="Zona" column="zona"/>
   <Measure name="Importo" column="importo"/>
  </Cube>
  <VirtualCube name="Tutto"><SourceCube name="PerCliente"/><SourceCube name="PerZona"/></VirtualCube>
 </Database>
</OlapServer>
)");
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

    const auto perCliente = sums("olap_PerCliente", "Cliente");
    ASSERT_EQ(perCliente.size(), 2u);
    EXPECT_DOUBLE_EQ(perCliente.at("Rossi").first, 15.0);
    EXPECT_EQ(perCliente.at("Rossi").second, 2);
    EXPECT_DOUBLE_EQ(perCliente.at("Bianchi").first, 20.0);
    const auto perZona = sums("olap_PerZona", "Zona"); // the filter drops the 4.5 fact
    EXPECT_DOUBLE_EQ(perZona.at("Nord").first, 10.5);
    EXPECT_DOUBLE_EQ(perZona.at("Sud").first, 20.0);
    auto members = m_db.query("SELECT COUNT(*) FROM \"olapdim_Cliente\"");
    ASSERT_TRUE(members);
    EXPECT_EQ(members->value(std::size_t{0}).toInt(), 2);

    // The catalog on disk carries the state and the time.
    auto saved = loadCatalog(server.catalogFile());
    ASSERT_TRUE(saved);
    const CubeDef* cube = saved->database("Zentrik")->cube("PerCliente");
    EXPECT_EQ(cube->state, 1);
    ASSERT_TRUE(cube->lastProcessed);
    EXPECT_EQ(*cube->lastProcessed, (time::DateTime{2026, 12, 7, 23, 45, 0}));
    EXPECT_EQ(cube->estimatedRows, 2);
    EXPECT_EQ(cube->incrementalMark, "3");
    EXPECT_EQ(saved->database("Zentrik")->cube("Rotto")->state, 0);
    EXPECT_EQ(saved->database("Zentrik")->dimension("Cliente")->state, 1);
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
    auto s = sums("olap_PerCliente", "Cliente");
    EXPECT_DOUBLE_EQ(s.at("Rossi").first, 15.0);
    EXPECT_DOUBLE_EQ(s.at("Bianchi").first, 21.0);
    EXPECT_EQ(s.at("Bianchi").second, 2);
    EXPECT_DOUBLE_EQ(s.at("Verdi").first, 7.0);
    EXPECT_EQ(server.database("Zentrik")->cube("PerCliente")->incrementalMark, "5");

    // Nothing new: the aggregate stays; a full run then takes the edit in.
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental));
    EXPECT_DOUBLE_EQ(sums("olap_PerCliente", "Cliente").at("Bianchi").first, 21.0);
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::RefreshData));
    EXPECT_DOUBLE_EQ(sums("olap_PerCliente", "Cliente").at("Rossi").first, 1004.5);
}

TEST_F(OlapTest, IncrementalOnANeverProcessedCubeBuildsItWhole)
{
    OlapServer server(m_dir.path(), m_clock);
    ASSERT_TRUE(server.Connect("srv1"));
    ASSERT_TRUE(server.processCube("Zentrik", "PerCliente", ProcessType::Incremental));
    EXPECT_DOUBLE_EQ(sums("olap_PerCliente", "Cliente").at("Rossi").first, 15.0);
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

    auto saved = loadCatalog(server.catalogFile());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->database("Zentrik")->cube("Rotto")->state, 0);
    EXPECT_FALSE(saved->database("Zentrik")->cube("Rotto")->lastProcessed);
    EXPECT_EQ(saved->database("Zentrik")->cube("PerZona")->state, 1);
    EXPECT_DOUBLE_EQ(sums("olap_PerCliente", "Cliente").at("Rossi").first, 15.0);

    OlapError missing;
    EXPECT_FALSE(server.processCube("Zentrik", "Nessuno", ProcessType::Full, &missing));
    EXPECT_EQ(missing.number, kErrOlapNotFound);
    EXPECT_EQ(missing.source, "zs::olap");
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

TEST_F(OlapTest, FailedCatalogSaveNeverLosesTheOldCatalog)
{
    const std::string before = test::readFile(m_dir / "olap-srv1.xml");
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        fs::FailingFileOps ops(failAt, EIO);
        OlapServer server(m_dir.path(), m_clock);
        ASSERT_TRUE(server.Connect("srv1"));
        server.setFileOps(&ops);
        OlapError e;
        const bool ok = server.processCube("Zentrik", "PerCliente", ProcessType::Full, &e);
        if (ok) {
            EXPECT_EQ(loadCatalog(m_dir / "olap-srv1.xml")->database("Zentrik")->cube("PerCliente")->state, 1);
            break;
        }
        EXPECT_EQ(e.number, kErrOlapCatalog);
        EXPECT_EQ(test::readFile(m_dir / "olap-srv1.xml"), before);
        ASSERT_LT(failAt, 20);
    }
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST_F(OlapTest, CatalogRoundTripKeepsDeclarationsAndState)
{
    auto first = loadCatalog(m_dir / "olap-srv1.xml");
    ASSERT_TRUE(first);
    first->databases[0].cubes[0].state = 1;
    first->databases[0].cubes[0].lastProcessed = time::DateTime{2026, 1, 2, 3, 4, 5};
    ASSERT_TRUE(saveCatalog(*first, m_dir / "copia.xml"));
    auto again = loadCatalog(m_dir / "copia.xml");
    ASSERT_TRUE(again);
    EXPECT_EQ(catalogXml(*again), catalogXml(*first));
    EXPECT_EQ(again->databases[0].cubes[3].sourceCubes.size(), 2u);
    EXPECT_TRUE(again->databases[0].cubes[3].isVirtual());
}

} // namespace
