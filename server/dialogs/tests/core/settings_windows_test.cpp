// The settings shown in the windows and collected from them: a value read from the file goes to
// the cube window, the options dialog and the main window; a save takes the cube window's fields
// and list, listing the cubes anew when its OLAP server or database changed.

#include "dialogs/core/SettingsWindows.h"

#include "DialogsTestSupport.h"
#include "program/PasswordCodec.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "xml/XmlDocument.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace zs;
using namespace zs::program;
using zs::dialogs::SettingsWindows;

namespace {

/// A cube window whose OLAP database lists the cubes Ordini and Fatture.
struct FakeCubes : CubeWindow {
    void Form_ShowMe() override {}
    bool process() override { return true; }
    void set_MacchinaOLAP(const std::string& n) override { server = n; }
    void set_DatabaseCubi(const std::string& n) override { db = n; }
    void Inizializza() override
    {
        ++initialised;
        list = {{"Ordini", RefreshChoice::Full, ""}, {"Fatture", RefreshChoice::Full, ""}};
    }
    void modifyCube(const std::string& nome, RefreshChoice agg, const std::string& data) override
    {
        for (auto& c : list)
            if (c.nome == nome) {
                c.aggiornamento = agg;
                c.data = data;
                return;
            }
    }
    void AggiornaTabellaCubi() override { ++refreshed; }
    std::string txtDsoServer() const override { return server; }
    std::string txtDsoDb() const override { return db; }
    std::vector<InfoCubo> cubes() const override { return list; }
    std::string server, db;
    std::vector<InfoCubo> list;
    int initialised = 0, refreshed = 0;
};

struct FakeOptions : OptionsDialog {
    void Form_ShowMe() override {}
    void RicaricaModuli(bool) override {}
    zs::engine::StepTree& tvXML() override { std::abort(); }
    void BusAndTask(const std::string&, const std::string&, bool& ok) override { ok = false; }
    void OutputResponseDB(const std::string&) override {}
    void set_Computer(const std::string& t) override { calls.push_back("computer=" + t); }
    void set_SystemUserID(const std::string& t) override { calls.push_back("sysuser=" + t); }
    void set_SystemPassword(const std::string& t) override { calls.push_back("syspwd=" + t); }
    void set_OperatorUserID(const std::string& t) override { calls.push_back("opuser=" + t); }
    void set_OperatorPassword(const std::string& t) override { calls.push_back("oppwd=" + t); }
    void set_CoDiv(const std::string& t) override { calls.push_back("codiv=" + t); }
    std::vector<std::string> calls;
};

struct FakeMain : MainWindow {
    void ChangeStartup(bool e) override { startup.push_back(e); }
    std::vector<bool> startup;
};

struct SettingsWindowsTest : ::testing::Test {
    dialogs::dtest::ProgramFolder folder;
    FakeCubes cubes;
    FakeOptions options;
    FakeMain main;
    zs::test::CountingYield yield;

    void SetUp() override { SettingsWindows{&cubes, &options, &main, &yield}.connect(folder.store); }
    void load(const std::string& xml)
    {
        folder.write("zentrikServer.xml", xml);
        ASSERT_TRUE(folder.store.load());
        EXPECT_TRUE(folder.store.LeggiImpostazioni(folder.store.DocImpostazioni()->root()).empty());
    }
    std::optional<xml::Document> saved() const
    {
        return xml::Document::loadString(folder.read("zentrikServer.xml").substr(3));
    }
};

} // namespace

TEST_F(SettingsWindowsTest, AReadValueGoesIntoTheWindows)
{
    load("<r><ServerOLAP>olapsrv</ServerOLAP><DatabaseOLAP>Vendite</DatabaseOLAP>"
         "<CUBO nome='Ordini' aggiornamento='dati' data='01/02/2006'/><cubo nome='Altro' aggiornamento='dati' data=''/>"
         "<cubo nome='Fatture' aggiornamento='qualsiasi' data=''/>"
         "<BusAndTask computer='k8host' systemUserID='sys' systemPassword='" +
         CodificaPassword("A") + "' operatorUserID='op' operatorPassword='" + CodificaPassword("pwd") +
         "' coDiv='01'/><Startup>0</Startup></r>");
    EXPECT_EQ(cubes.server, "olapsrv");
    EXPECT_EQ(cubes.db, "Vendite");
    EXPECT_EQ(cubes.initialised, 1);
    // A cube the database does not list is left out.
    EXPECT_EQ(cubes.list, (std::vector<InfoCubo>{{"Ordini", RefreshChoice::DataOnly, "01/02/2006"},
                                                 {"Fatture", RefreshChoice::Incremental, ""}}));
    EXPECT_EQ(options.calls, (std::vector<std::string>{"computer=k8host", "sysuser=sys", "syspwd=A", "opuser=op",
                                                       "oppwd=pwd", "codiv=01"}));
    EXPECT_EQ(main.startup, std::vector<bool>{false});
}

TEST_F(SettingsWindowsTest, ASaveCollectsTheCubeWindowAndListsTheCubesAnewForAnotherDatabase)
{
    load("<r><cubo nome='Vecchio' aggiornamento='dati' data=''/></r>");
    cubes.server = "olap";
    cubes.db = "Vendite";
    for (int i = 0; i < 2; ++i) {
        std::string error;
        ASSERT_TRUE(folder.store.SalvaImpostazioni(&error)) << error;
    }
    // The OLAP fields changed once: one listing, shown; each save lets the window events run.
    EXPECT_EQ(cubes.initialised, 1);
    EXPECT_EQ(cubes.refreshed, 1);
    EXPECT_EQ(yield.count, 2);
    const auto doc = saved();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().child("ServerOLAP").text(), "olap");
    EXPECT_EQ(doc->root().child("DatabaseOLAP").text(), "Vendite");
    EXPECT_EQ(doc->root().child("cubo").xml(), "<cubo nome=\"Ordini\" aggiornamento=\"completo\" data=\"\"/>");

    // The choice changed in the window is what the next save writes.
    cubes.list[1].aggiornamento = RefreshChoice::DataOnly;
    ASSERT_TRUE(folder.store.SalvaImpostazioni());
    EXPECT_EQ(cubes.initialised, 1);
    EXPECT_NE(folder.read("zentrikServer.xml").find("<cubo nome=\"Fatture\" aggiornamento=\"dati\" data=\"\"/>"),
              std::string::npos);
}

TEST_F(SettingsWindowsTest, ACubeDateAnotherWriterSavedReachesTheWindow)
{
    load("<r><ServerOLAP>olap</ServerOLAP><DatabaseOLAP>Vendite</DatabaseOLAP>"
         "<cubo nome='Ordini' aggiornamento='dati' data='01/01/2026'/></r>");
    folder.write("zentrikServer.xml", "<r><ServerOLAP>olap</ServerOLAP><DatabaseOLAP>Vendite</DatabaseOLAP>"
                                      "<cubo nome='Ordini' aggiornamento='dati' data='02/02/2026'/></r>");
    ASSERT_TRUE(folder.store.Ricarica());
    EXPECT_EQ(cubes.list.at(0).data, "02/02/2026");
    EXPECT_EQ(cubes.list.at(0).aggiornamento, RefreshChoice::DataOnly);
}
