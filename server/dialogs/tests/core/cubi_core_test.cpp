// The cube window's core on real files: an OLAP catalog over a SQLite target database, the
// program log and the settings store of the shell.
#include "dialogs/core/CubiCore.h"
#include "dialogs/core/SettingsWindows.h"

#include "db/Catalog.h"
#include "db/Connection.h"
#include "olap/OlapCatalog.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace zs;
using zs::dialogs::CubiCore;
using zs::dialogs::SettingsWindows;
using zs::program::InfoCubo;
using zs::program::RefreshChoice;

namespace {

using zs::test::RecordingMessages;

/// The run window's side: every progress report takes 1.234 seconds of the fake clock.
struct RunWindow : dialogs::CubiRunWindow {
    explicit RunWindow(time::FakeClock& c)
        : clock(c)
    {}
    time::FakeClock& clock;
    std::vector<std::string> objects;
    void setOggettoInElaborazione(const std::string& name) override { objects.push_back(name); }
    void reportProgress(const std::string&, long) override { clock.advanceMs(1234); }
    /// "object counter/estimate" per report; the default then passes it on to reportProgress.
    std::vector<std::string> rows;
    void reportProgressRows(const std::string& object, long counter, double estimated) override
    {
        rows.push_back(object + " " + std::to_string(counter) + "/" + std::to_string(static_cast<long>(estimated)));
        CubiRunWindow::reportProgressRows(object, counter, estimated);
    }
    std::vector<std::string> run; ///< "done/total" per report
    void reportRunProgress(int done, int total) override
    {
        run.push_back(std::to_string(done) + "/" + std::to_string(total));
    }
};

std::string jet(const std::filesystem::path& p)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + p.string() + ";";
}

std::filesystem::path dataDir()
{
    return ZS_DIALOGS_TEST_DATA;
}

class CubiCoreTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        db::Catalog catalog;
        ASSERT_TRUE(catalog.create(jet(m_target)));
        db::Connection c;
        ASSERT_TRUE(c.open(jet(m_target)));
        ASSERT_TRUE(c.execute("CREATE TABLE Fatti (id INTEGER, cliente TEXT, importo REAL)"));
        ASSERT_TRUE(c.execute("INSERT INTO Fatti VALUES (1, 'Rossi', 10), (2, 'Bianchi', 5), (3, 'Rossi', 1)"));
        ASSERT_TRUE(c.execute("CREATE TABLE Clienti (cliente TEXT)"));
        ASSERT_TRUE(c.execute("INSERT INTO Clienti VALUES ('Rossi'), ('Bianchi')"));
        writeCatalog(
            R"(<Cube name="Vendite" sourceTable="Fatti" incrementalColumn="id"><Dimension name="Cliente" column="cliente"/><Measure name="Importo" column="importo"/></Cube>
  <VirtualCube name="Tutto"><SourceCube name="Vendite"/></VirtualCube>
  <Cube name="Clienti" sourceTable="Fatti"><Measure name="Righe" aggregate="count"/></Cube>)");
        m_cubi.setProgramLog(&m_log);
        m_cubi.setRunWindow(&m_run);
        m_cubi.set_MacchinaOLAP("srv");
        m_cubi.set_DatabaseCubi("Zentrik");
    }

    void writeCatalog(const std::string& cubes)
    {
        test::writeFile(m_home / "olap-srv.xml",
                        "<OlapServer name=\"srv\"><Database name=\"Zentrik\" connection=\"" + jet(m_target) +
                            "\"><Dimension name=\"Cliente\" table=\"Clienti\" column=\"cliente\"/>" + cubes +
                            "</Database></OlapServer>");
    }

    /// The log as "level|text|image" lines.
    std::vector<std::string> logLines() const
    {
        std::vector<std::string> out;
        for (const auto& n : m_log.nodes())
            out.push_back(std::string(n.parent ? "  " : "") + n.text + (n.error ? " [E]" : "") + " #" +
                          std::to_string(static_cast<int>(n.image)));
        return out;
    }

    test::TempDir m_dir;
    std::filesystem::path m_home = m_dir.path();
    std::filesystem::path m_target = m_dir / "dati.mdb";
    time::FakeClock m_clock{{2026, 12, 7, 23, 45, 0}};
    RecordingMessages m_messages;
    program::DayLog m_dayLog{m_home, m_clock};
    program::ProgramLog m_log{m_dayLog};
    RunWindow m_run{m_clock};
    CubiCore m_cubi{m_home, m_clock, m_messages};
};

TEST_F(CubiCoreTest, InizializzaListsTheCubesWithChoiceZeroAndNoDate)
{
    m_cubi.addCube("Vecchio", RefreshChoice::Incremental, "01/01/2020");
    m_cubi.Inizializza();
    EXPECT_EQ(m_cubi.cubes(), (std::vector<InfoCubo>{{"Vendite", RefreshChoice::Full, ""},
                                                     {"Tutto", RefreshChoice::Full, ""},
                                                     {"Clienti", RefreshChoice::Full, ""}}));
    EXPECT_EQ(m_cubi.NumeroCubi(), 3);
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(CubiCoreTest, InizializzaLeavesTheListWhenItCannotList)
{
    struct Case {
        const char* name;
        std::string server, database;
    } cases[] = {{"empty server", "", "Zentrik"},
                 {"unknown server, window hidden", "altro", "Zentrik"},
                 {"unknown database", "srv", "Nessuno"},
                 {"database differing in case", "srv", "zentrik"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CubiCore cubi(m_home, m_clock, m_messages);
        cubi.addCube("Vecchio", RefreshChoice::DataOnly, "x");
        cubi.set_MacchinaOLAP(c.server);
        cubi.set_DatabaseCubi(c.database);
        cubi.Inizializza();
        EXPECT_EQ(cubi.cubes(), (std::vector<InfoCubo>{{"Vecchio", RefreshChoice::DataOnly, "x"}}));
    }
    EXPECT_TRUE(m_messages.shown.empty());
}

TEST_F(CubiCoreTest, AddAndModifyMatchNamesExactly)
{
    m_cubi.addCube("Vendite", RefreshChoice::Full, "");
    m_cubi.addCube("vendite", RefreshChoice::DataOnly, "a");
    m_cubi.addCube("Vendite", RefreshChoice::Incremental, "b"); // overwrites, does not grow
    m_cubi.modifyCube("VENDITE", RefreshChoice::DataOnly, "c"); // not in the list: nothing
    m_cubi.modifyCube("vendite", RefreshChoice::Full, "d");
    EXPECT_EQ(m_cubi.cubes(), (std::vector<InfoCubo>{{"Vendite", RefreshChoice::Incremental, "b"},
                                                     {"vendite", RefreshChoice::Full, "d"}}));
}

TEST_F(CubiCoreTest, SettingsStoreRoundTripsTheCubesThroughTheWindow)
{
    test::writeFile(m_home / "zentrikServer.xml",
                    "<Impostazioni><ServerOLAP>srv</ServerOLAP><DatabaseOLAP>Zentrik</DatabaseOLAP>"
                    "<cubo nome=\"Vendite\" aggiornamento=\"incrementale\" data=\"07/12/2026 23:45:00\"/>"
                    "<cubo nome=\"Clienti\" aggiornamento=\"dati\" data=\"\"/>"
                    "<cubo nome=\"Sparito\" aggiornamento=\"dati\" data=\"\"/></Impostazioni>");
    program::ProgramSettings values;
    program::SecondaryOptionsFields fields;
    CubiCore cubi(m_home, m_clock, m_messages);
    program::SettingsStore store(values, fields, m_messages, m_home);
    SettingsWindows{&cubi}.connect(store);
    ASSERT_TRUE(store.load());
    store.LeggiImpostazioni(store.DocImpostazioni()->root());
    EXPECT_EQ(cubi.txtDsoServer(), "srv");
    EXPECT_EQ(cubi.txtDsoDb(), "Zentrik");
    EXPECT_EQ(cubi.cubes(), (std::vector<InfoCubo>{{"Vendite", RefreshChoice::Incremental, "07/12/2026 23:45:00"},
                                                   {"Tutto", RefreshChoice::Full, ""},
                                                   {"Clienti", RefreshChoice::DataOnly, ""}}));

    cubi.modifyCube("Tutto", RefreshChoice::DataOnly, "01/02/2026");
    ASSERT_TRUE(store.SalvaImpostazioni());
    auto saved = xml::Document::loadFile(m_home / "zentrikServer.xml");
    ASSERT_TRUE(saved);
    std::vector<std::string> stored;
    for (const auto& c : saved->root().children())
        if (c.name() == "cubo")
            stored.push_back(*c.attribute("nome") + "/" + *c.attribute("aggiornamento") + "/" + *c.attribute("data"));
    EXPECT_EQ(stored, (std::vector<std::string>{"Vendite/incrementale/07/12/2026 23:45:00", "Tutto/dati/01/02/2026",
                                                "Clienti/dati/"}));
    EXPECT_EQ(saved->root().child("ServerOLAP").text(), "srv");
}

TEST_F(CubiCoreTest, ProcessLogsDimensionsThenCubesThenVirtualCubes)
{
    m_cubi.Inizializza();
    ASSERT_TRUE(m_cubi.process());
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "Elaborazione della dimensione Cliente #2",
                              "  tempo impiegato  1,234 secondi. #1",
                              "Sto elaborando il cubo Vendite #2",
                              "  tempo impiegato  1,234 secondi. #1",
                              "Sto elaborando il cubo Clienti #2",
                              "  tempo impiegato  1,234 secondi. #1",
                              "Sto elaborando il cubo Tutto #2",
                              "  tempo impiegato  1,234 secondi. #1",
                          }));
    EXPECT_EQ(m_run.objects.front(), "Cliente");
    // The run's share moves with every object: the dimension, two cubes, the virtual cube.
    EXPECT_EQ(m_run.run, (std::vector<std::string>{"0/4", "1/4", "2/4", "3/4", "4/4", "4/4"}));
    for (const auto& c : m_cubi.cubes())
        EXPECT_FALSE(c.data.empty()) << c.nome;
    EXPECT_TRUE(std::filesystem::exists(m_home / "zentrikOlap.xml"));
    db::Connection c;
    ASSERT_TRUE(c.open(jet(m_target)));
    auto rs = c.query("SELECT \"Importo\" FROM \"" + olap::olapTableName("olap_", "srv", "Zentrik", "Vendite") +
                      "\" WHERE \"Cliente\" = 'Rossi'");
    ASSERT_TRUE(rs && !rs->eof());
    EXPECT_DOUBLE_EQ(*rs->value(std::size_t{0}).toDouble(), 11.0);
}

TEST_F(CubiCoreTest, ProgressReportsCarryTheCubesEstimatedRows)
{
    m_cubi.Inizializza();
    ASSERT_TRUE(m_cubi.process());
    // Vendite aggregates two customers; the dimension has no estimate of its own.
    ASSERT_FALSE(m_run.rows.empty());
    EXPECT_EQ(m_run.rows.front(), "Cliente 2/0");
    EXPECT_NE(std::find(m_run.rows.begin(), m_run.rows.end(), "Vendite 2/2"), m_run.rows.end())
        << ::testing::PrintToString(m_run.rows);
}

TEST(CubeProgressPercent, BarValueFromCounterAndEstimate)
{
    struct Case {
        const char* name;
        long counter;
        double estimated;
        std::optional<int> expected;
    } cases[] = {
        {"first report moves nothing", 1, 100, std::nullopt},
        {"half done", 50, 100, 50},
        {"rounded down", 2, 3, 66},
        {"past the estimate stops at 100", 250, 100, 100},
        {"no estimate", 10, 0, std::nullopt},
        {"negative estimate", 10, -5, std::nullopt},
        {"estimate not a number", 10, std::nan(""), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dialogs::cubeProgressPercent(c.counter, c.estimated), c.expected);
    }
}

TEST_F(CubiCoreTest, AFailingCubeMakesTheResultFalseAndTheOthersStillRun)
{
    writeCatalog(R"(<Cube name="Rotto" sourceTable="Mancante"><Measure name="X" column="x"/></Cube>
  <Cube name="Vendite" sourceTable="Fatti"><Measure name="Importo" column="importo"/></Cube>)");
    m_cubi.Inizializza();
    m_cubi.modifyCube("Rotto", RefreshChoice::Full, "05/05/2025");
    EXPECT_FALSE(m_cubi.process());
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[2], "Sto elaborando il cubo Rotto #3");
    EXPECT_EQ(lines[3], "  Errore nel processamento del cubo Rotto no such table: Mancante I dati dell'elaborazione "
                        "precedente restano in uso. [E] #3");
    EXPECT_NE(lines[4].find("] no such table: Mancante I dati dell'elaborazione precedente restano in uso.SQLite"),
              std::string::npos)
        << lines[4];
    EXPECT_EQ(lines[lines.size() - 2], "Sto elaborando il cubo Vendite #2");
    // the failed cube has no processing to show; the good one has its date (the dimension
    // took 1.234 s of the clock)
    EXPECT_EQ(m_cubi.ElencoCubi(1).data, "");
    EXPECT_EQ(m_cubi.ElencoCubi(2).data, "07/12/2026 23:45:01");
}

TEST_F(CubiCoreTest, AnUnknownDatabaseFailsWithoutTouchingCubesOrSettings)
{
    m_cubi.set_DatabaseCubi("Nessuno");
    EXPECT_FALSE(m_cubi.process());
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "Errore nella connessione al database Nessuno [E] #3",
                              "   [80040002] Database OLAP inesistente: Nessuno.ZentrikServer [E] #3",
                          }));
    EXPECT_FALSE(std::filesystem::exists(m_home / "zentrikOlap.xml"));
}

TEST_F(CubiCoreTest, RefreshChoicesSurviveARunAndDriveTheProcessing)
{
    m_cubi.Inizializza();
    ASSERT_TRUE(m_cubi.process());
    db::Connection c;
    ASSERT_TRUE(c.open(jet(m_target)));
    ASSERT_TRUE(c.execute("INSERT INTO Fatti VALUES (4, 'Verdi', 2)"));
    ASSERT_TRUE(c.execute("UPDATE Fatti SET importo = 100 WHERE id = 1"));
    m_cubi.modifyCube("Vendite", RefreshChoice::Incremental, "");
    ASSERT_TRUE(m_cubi.process());
    EXPECT_EQ(m_cubi.ElencoCubi(1).aggiornamento, RefreshChoice::Incremental);
    // incremental: the new fact is in, the edited old one is not
    auto rs =
        c.query("SELECT SUM(\"Importo\") FROM \"" + olap::olapTableName("olap_", "srv", "Zentrik", "Vendite") + "\"");
    ASSERT_TRUE(rs && !rs->eof());
    EXPECT_DOUBLE_EQ(*rs->value(std::size_t{0}).toDouble(), 18.0);
}

TEST_F(CubiCoreTest, SnapshotFileMatchesTheExpectedBytes)
{
    test::writeFile(m_home / "olap-srv.xml", test::readFile(dataDir() / "cubi_snapshot_catalog.xml"));
    m_cubi.Inizializza();
    ASSERT_TRUE(m_cubi.EsportaInfoCubi());
    EXPECT_EQ(test::readFile(m_home / "zentrikOlap.xml"), test::readFile(dataDir() / "cubi_snapshot_expected.xml"));
    EXPECT_EQ(m_cubi.cubes(), (std::vector<InfoCubo>{{"Vendite", RefreshChoice::Full, "07/12/2026 23:45:00"},
                                                     {"Nuovo", RefreshChoice::Full, ""},
                                                     {"Resi", RefreshChoice::Full, ""},
                                                     {"Insieme", RefreshChoice::Full, ""},
                                                     {"Tutto", RefreshChoice::Full, "02/01/2026 03:04:05"}}));
}

/// The text of every day log the program folder holds.
std::string dayLogs(const std::filesystem::path& home)
{
    std::string out;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(home / "log", ec))
        out += test::readFile(f.path());
    return out;
}

TEST_F(CubiCoreTest, ASnapshotOrSettingsThatCannotBeWrittenAskAndFailTheRunUnlessRetried)
{
    struct Case {
        const char* name;
        const char* file; ///< where a folder stands in the way
        program::MessageAnswer answer;
    } cases[] = {{"snapshot, retried", "zentrikOlap.xml", program::MessageAnswer::Retry},
                 {"snapshot, ignored", "zentrikOlap.xml", program::MessageAnswer::Ignore},
                 {"snapshot, aborted", "zentrikOlap.xml", program::MessageAnswer::Abort},
                 {"settings, retried", "zentrikServer.xml", program::MessageAnswer::Retry},
                 {"settings, ignored", "zentrikServer.xml", program::MessageAnswer::Ignore}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::filesystem::path home = dir.path();
        std::filesystem::copy_file(m_home / "olap-srv.xml", home / "olap-srv.xml");
        test::writeFile(home / "zentrikServer.xml", "<Impostazioni><ServerOLAP>srv</ServerOLAP>"
                                                    "<DatabaseOLAP>Zentrik</DatabaseOLAP></Impostazioni>");
        RecordingMessages messages;
        program::DayLog dayLog{home, m_clock};
        program::ProgramLog log{dayLog};
        program::ProgramSettings values;
        program::SecondaryOptionsFields fields;
        CubiCore cubi(home, m_clock, messages);
        program::SettingsStore store(values, fields, messages, home);
        SettingsWindows{&cubi}.connect(store);
        ASSERT_TRUE(store.load());
        store.LeggiImpostazioni(store.DocImpostazioni()->root());
        cubi.setProgramLog(&log);
        cubi.setSettingsStore(&store);
        const std::filesystem::path blocked = home / c.file;
        std::filesystem::remove(blocked);
        std::filesystem::create_directory(blocked);
        // Retry: the operator has taken the folder away before pressing it.
        messages.answer = [&](const RecordingMessages::Shown&) {
            if (c.answer == program::MessageAnswer::Retry)
                std::filesystem::remove(blocked);
            return c.answer;
        };
        const bool ok = cubi.process();

        ASSERT_EQ(messages.asked.size(), 1u);
        EXPECT_EQ(messages.asked[0].buttons, program::MessageButtons::AbortRetryIgnore);
        EXPECT_EQ(messages.asked[0].shown.icon, program::MessageIcon::Critical);
        EXPECT_EQ(messages.asked[0].shown.title, "Attenzione.");
        EXPECT_NE(messages.asked[0].shown.text.find(std::string("[0]\r\n") + c.file), std::string::npos)
            << messages.asked[0].shown.text;
        // The failed save is a top-level red line of its own: no cube's, nor the database's.
        const std::string failed = std::string(c.file) == "zentrikOlap.xml" ? "zentrikOlap.xml non scritto: "
                                                                            : "Impostazioni non memorizzate: ";
        std::vector<std::string> errors;
        for (const auto& n : log.nodes()) {
            EXPECT_EQ(n.text.find("Errore nel processamento del cubo"), std::string::npos) << n.text;
            if (n.error && !n.parent && n.text.rfind(failed, 0) == 0)
                errors.push_back(n.text);
            if (n.text.rfind("Sto elaborando il cubo", 0) == 0) {
                EXPECT_FALSE(n.colour == program::kLogRed) << n.text << ": the cube was processed";
            }
        }
        if (c.answer == program::MessageAnswer::Retry) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(errors.empty());
            EXPECT_TRUE(std::filesystem::is_regular_file(blocked));
            EXPECT_NE(test::readFile(blocked).find(std::string(c.file) == "zentrikOlap.xml" ? "<Olap>" : "<cubo"),
                      std::string::npos);
        } else {
            EXPECT_FALSE(ok);
            ASSERT_EQ(errors.size(), 1u);
            if (std::string(c.file) == "zentrikOlap.xml") {
                EXPECT_NE(errors[0].find(c.file), std::string::npos) << errors[0];
            }
            EXPECT_TRUE(std::filesystem::is_directory(blocked));
            // The day log (Windows-1252) holds the same line.
            const std::string day = dayLogs(home);
            const std::string ascii = errors[0].substr(0, failed.size());
            EXPECT_NE(day.find(":ERRORE  " + ascii), std::string::npos) << day;
        }
        // The other file was written all the same.
        const char* other = std::string(c.file) == "zentrikOlap.xml" ? "zentrikServer.xml" : "zentrikOlap.xml";
        EXPECT_TRUE(std::filesystem::is_regular_file(home / other));
    }
}

TEST_F(CubiCoreTest, SnapshotWithTheServerDownWarnsAndKeepsTheOldFile)
{
    test::writeFile(m_home / "zentrikOlap.xml", "vecchio");
    m_cubi.set_MacchinaOLAP("spento");
    EXPECT_FALSE(m_cubi.EsportaInfoCubi());
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text,
              "Impossibile connettersi al server olap spento. Controllare le opzioni di configurazione.");
    EXPECT_EQ(m_messages.shown[0].title, "Attenzione.");
    EXPECT_EQ(test::readFile(m_home / "zentrikOlap.xml"), "vecchio");
}

TEST_F(CubiCoreTest, AMalformedCatalogShowsAndLogsItsFileLineAndReason)
{
    const std::filesystem::path file = m_home / "olap-srv.xml";
    test::writeFile(file,
                    "<OlapServer name=\"srv\">\n <Database name=\"Zentrik\">\n  <Cube name=\"V\"\n</OlapServer>\n");
    test::writeFile(m_home / "zentrikOlap.xml", "vecchio");
    EXPECT_FALSE(m_cubi.EsportaInfoCubi());
    ASSERT_EQ(m_messages.shown.size(), 1u);
    const std::string& text = m_messages.shown[0].text;
    EXPECT_EQ(text.rfind("Impossibile connettersi al server olap srv. Controllare le opzioni di configurazione.\r\n"
                         "Catalogo OLAP illeggibile " +
                             file.string() + ", linea 4: ",
                         0),
              0u)
        << text;
    EXPECT_GT(text.size(), text.find(", linea 4: ") + 11) << "a reason follows the line";
    EXPECT_EQ(test::readFile(m_home / "zentrikOlap.xml"), "vecchio");

    // The processing run logs the same file, line and reason under its connection error.
    EXPECT_FALSE(m_cubi.process());
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "Errore nella connessione al database Zentrik [E] #3");
    EXPECT_NE(lines[1].find("Catalogo OLAP illeggibile " + file.string() + ", linea 4: "), std::string::npos)
        << lines[1];

    // Mended, the catalog serves again.
    writeCatalog(R"(<Cube name="Vendite" sourceTable="Fatti"><Measure name="Importo" column="importo"/></Cube>)");
    EXPECT_TRUE(m_cubi.process());
}

TEST_F(CubiCoreTest, SaveButtonReportsOnlyASaveThatHappened)
{
    program::ProgramSettings values;
    program::SecondaryOptionsFields fields;
    program::SettingsStore store(values, fields, m_messages, m_home);
    SettingsWindows{&m_cubi}.connect(store);
    m_cubi.setSettingsStore(&store);
    EXPECT_FALSE(m_cubi.flbSalvaClick()); // no settings document loaded
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].icon, program::MessageIcon::Critical);

    test::writeFile(m_home / "zentrikServer.xml", "<Impostazioni/>");
    ASSERT_TRUE(store.load());
    m_cubi.Inizializza();
    EXPECT_TRUE(m_cubi.flbSalvaClick());
    ASSERT_EQ(m_messages.shown.size(), 2u);
    EXPECT_EQ(m_messages.shown[1].title, "Memorizzazione impostazioni.");
    EXPECT_EQ(m_messages.shown[1].text,
              "Impostazioni memorizzate. Alcuni informazioni potrebbero risultare non aggiornate "
              "ma cambieranno alla prossima estrazione dei dati.");
    EXPECT_NE(test::readFile(m_home / "zentrikServer.xml").find("<DatabaseOLAP>Zentrik</DatabaseOLAP>"),
              std::string::npos);
}

TEST_F(CubiCoreTest, SetSettingsGeneralWritesElementsAndAttributes)
{
    auto doc = xml::Document::loadString("<r><a>1</a></r>");
    ASSERT_TRUE(doc);
    CubiCore::SetSettingsGeneral(doc->root(), "a", "True");
    CubiCore::SetSettingsGeneral(doc->root(), "b.x", "Falso");
    CubiCore::SetSettingsGeneral(doc->root(), "b.y", "testo");
    EXPECT_EQ(doc->root().xml(), "<r><a>vero</a><b x=\"falso\" y=\"testo\"/></r>");
}

} // namespace
