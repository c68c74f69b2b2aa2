// The connection slot, the step log lines and the error text, over real SQLite files and a
// real PostgreSQL server.

#include "engine/Connessioni.h"
#include "engine/DescriviErrore.h"

#include "db/Connection.h"
#include "pgtest/PgServer.h"
#include "program/Crono.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace zs;
using engine::Connessioni;
using engine::RunTimeError;

namespace {

using zs::test::CountingYield;

class ConnessioniTest : public ::testing::Test {
  protected:
    ConnessioniTest()
    {
        m_slot.setSleeper([this](int ms) { m_sleeps.push_back(ms); });
        m_slot.setTreeView({[this](program::LogNodeId id, bool e) { m_expanded[id] = e; },
                            [this](program::LogNodeId id) { m_visible.push_back(id); }});
    }

    /// The lines of the run log, "E:" marking error lines, "  " marking level-1 lines.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (const auto& n : m_log.nodes())
            out.push_back(std::string(n.parent ? "  " : "") + (n.error ? "E:" : "") + n.text);
        return out;
    }
    std::string dayLog() const { return test::readFile(m_dayLog.currentFile()); }

    test::TempDir m_dir;
    time::FakeClock m_clock{{2005, 1, 1, 8, 0, 0}};
    program::DayLog m_dayLog{m_dir.path(), m_clock};
    program::ProgramLog m_log{m_dayLog};
    program::ProgramSettings m_settings;
    program::Crono m_crono{m_clock};
    CountingYield m_yield;
    Connessioni m_slot{m_log, m_settings, m_crono, m_yield};
    std::vector<int> m_sleeps;
    std::map<program::LogNodeId, bool> m_expanded;
    std::vector<program::LogNodeId> m_visible;
};

constexpr const char* kJet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";

TEST(ServerConnectionString, FillsTheTemplateItems)
{
    struct Case {
        const char* name;
        const char* tmpl;
        const char* expected; // "" for a refused template
    };
    const Case cases[] = {
        {"sql server, five items", "Provider=SQLOLEDB.1;Data Source=;Initial Catalog=;User ID=;Password=",
         "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=dw;User ID=sa;Password=pw"},
        {"a sixth item passes unchanged",
         "Provider=SQLOLEDB.1;Data Source=;Initial Catalog=;User ID=;Password=;Persist Security Info=False",
         "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=dw;User ID=sa;Password=pw;Persist Security Info=False"},
        {"oracle", "Provider=MSDAORA.1;Data Source=;Extended Properties=;User ID=;Password=",
         "Provider=MSDAORA.1;Data Source=srv;Extended Properties=dw;User ID=sa;Password=pw"},
        {"odbc keywords",
         "Driver={FreeTDS};Server=;Database=;UID=;PWD=", "Driver={FreeTDS};Server=srv;Database=dw;UID=sa;PWD=pw"},
        {"four items are too few", "Provider=SQLOLEDB.1;Data Source=;User ID=;Password=", ""},
        {"empty template", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reason;
        const auto cs = Connessioni::buildServerConnectionString(c.tmpl, "srv", "dw", "sa", "pw", reason);
        if (*c.expected) {
            ASSERT_TRUE(cs) << reason;
            EXPECT_EQ(*cs, c.expected);
        } else {
            EXPECT_FALSE(cs);
            EXPECT_NE(reason.find("almeno cinque"), std::string::npos) << reason;
        }
    }
    std::string reason;
    EXPECT_FALSE(Connessioni::buildServerConnectionString("Driver={X};Server=;Database=;UID=;PWD=", "srv", "dw", "sa",
                                                          "se;greta", reason));
    EXPECT_NE(reason.find("la password contiene"), std::string::npos);
    EXPECT_EQ(reason.find("greta"), std::string::npos);
}

TEST(TimeText, SplitsMinutesAndWritesTheShortestSeconds)
{
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {{59.6, "59,6"},        {61.25, "1 minuti e 1,25"}, {0.0004, "0"},      {0, "0"},  {-3, "0"},
                          {120, "2 minuti e 0"}, {119.9996, "2 minuti e 0"}, {3.14159, "3,142"}, {42, "42"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(Connessioni::testoTempo(c.seconds), c.text);
    }
}

TEST(PauseSetting, ReadsTheLeadingNumber)
{
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {{"1500", 1500}, {"250ms", 250}, {" 1 000 ", 1000}, {"", 0},
                          {"abc", 0},     {"2.5", 2.5},   {"-7", -7},        {"1e3", 1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Connessioni::leadingNumber(c.text), c.value);
    }
}

TEST_F(ConnessioniTest, PauseIsSleptBeforeEachAttemptOnlyWhenSet)
{
    test::writeFile(m_dir / "dw.mdb", "");
    std::optional<std::string> pause;
    m_slot.setPauseReader([&] { return pause; });
    (void)m_slot.ApriConnessione(kJet, (m_dir / "missing.mdb").string());
    pause = "1500";
    (void)m_slot.ApriConnessione(kJet, (m_dir / "missing.mdb").string());
    pause = "abc";
    (void)m_slot.ApriConnessione(kJet, (m_dir / "missing.mdb").string());
    pause = "250";
    (void)m_slot.ApriConnessioneServer("too;few", "s", "d", "u", "p");
    EXPECT_EQ(m_sleeps, (std::vector<int>{1500, 250}));
}

TEST_F(ConnessioniTest, AccessConnectionOpensLogsAndCloses)
{
    test::writeFile(m_dir / "dw.mdb", ""); // SQLite takes an empty file as an empty database
    ASSERT_TRUE(m_slot.ApriConnessione(kJet, (m_dir / "dw.mdb").string()));
    ASSERT_NE(m_slot.Connessione(), nullptr);
    EXPECT_TRUE(m_slot.Connessione()->isOpen());
    EXPECT_TRUE(m_slot.Connessione()->execute("create table T (x integer)"));
    EXPECT_NE(dayLog().find("   :Apertura connessione:" + std::string(kJet) + (m_dir / "dw.mdb").string() + ";\r\n"),
              std::string::npos)
        << dayLog();
    EXPECT_TRUE(m_log.nodes().empty()); // the day log only
    m_slot.ChiudiConnessione();
    EXPECT_EQ(m_slot.Connessione(), nullptr);
    m_slot.ChiudiConnessione(); // twice is harmless
}

TEST_F(ConnessioniTest, MissingAccessFileIsReportedWithTheDatabaseErrorAndNotCreated)
{
    const auto path = m_dir / "assente.mdb";
    EXPECT_FALSE(m_slot.ApriConnessione(kJet, path.string()));
    EXPECT_FALSE(std::filesystem::exists(path));
    // The failed connection stays in the slot until the next close.
    ASSERT_NE(m_slot.Connessione(), nullptr);
    EXPECT_FALSE(m_slot.Connessione()->isOpen());
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "E:Impossibile aprire la connessione:" + std::string(kJet) + path.string() + ";");
    EXPECT_EQ(l[1], "  E: [80004005] Could not find file '" + path.string() + "'.SQLite");
    m_slot.ChiudiConnessione();
    EXPECT_EQ(m_slot.Connessione(), nullptr);
}

TEST_F(ConnessioniTest, StepLinesTimeTheStepAndMarkSuccess)
{
    const auto step = m_slot.InizioPasso("CLIENTI");
    EXPECT_TRUE(m_expanded[step]);
    const auto detail = m_slot.DettaglioPasso("delete from CLIENTI ");
    EXPECT_EQ(m_log.node(detail)->parent, step);
    m_clock.advanceMs(59600);
    m_slot.LogSuccesso(true);
    EXPECT_EQ(m_yield.count, 3);
    const auto& last = m_log.nodes().back();
    EXPECT_EQ(last.text, "eseguito con successo in 59,6 secondi.");
    EXPECT_EQ(last.parent, step);
    EXPECT_EQ(last.image, program::LogImage::Start);
    EXPECT_FALSE(m_expanded[step]);
    EXPECT_EQ(m_visible, std::vector<program::LogNodeId>{step});

    m_slot.InizioPasso("ORDINI");
    m_clock.advanceMs(61250);
    m_slot.LogSuccesso(true);
    EXPECT_EQ(m_log.nodes().back().text, "eseguito con successo in 1 minuti e 1,25 secondi.");

    const auto failed = m_slot.InizioPasso("ARTICOLI");
    m_slot.DescriviErrore("Errore in fase di eliminazione record dalla tabella ARTICOLI");
    const std::size_t before = m_log.nodes().size();
    m_clock.advanceMs(10);
    m_slot.LogSuccesso(false);
    EXPECT_EQ(m_log.nodes().size(), before);
    EXPECT_TRUE(m_log.node(failed)->expanded);
    EXPECT_EQ(m_log.node(failed)->image, program::LogImage::Error);
}

TEST_F(ConnessioniTest, StepTimeSurvivesTheTickWrap)
{
    time::FakeClock late{{2005, 1, 1, 0, 0, 0}};
    late.advanceMs(0xFFFFFFFFll - 500);
    program::Crono crono(late);
    Connessioni slot(m_log, m_settings, crono, m_yield);
    slot.InizioPasso("TIME");
    late.advanceMs(1500);
    slot.LogSuccesso(true);
    EXPECT_EQ(m_log.nodes().back().text, "eseguito con successo in 1,5 secondi.");
}

// The error-text cases as one table: each builds the state and the expected lines.
TEST_F(ConnessioniTest, ErrorTextCases)
{
    test::writeFile(m_dir / "e.mdb", "");
    db::Connection withErrors;
    ASSERT_TRUE(withErrors.open(std::string(kJet) + (m_dir / "e.mdb").string()));
    ASSERT_TRUE(withErrors.executeAsync("with recursive c(x) as (select 1 union all select x + 1 from c "
                                        "where x < 10000000000) select count(*) from c"));
    withErrors.cancel();
    ASSERT_FALSE(withErrors.endExecute());
    ASSERT_EQ(withErrors.errors().size(), 2u); // the cancel and the database's own error
    db::Connection clean;
    ASSERT_TRUE(clean.open(std::string(kJet) + (m_dir / "e.mdb").string()));

    struct Case {
        const char* name;
        std::string first;
        const db::Connection* connection;
        RunTimeError current;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"no connection, no error", "Errore X", nullptr, {}, {"  E:Errore X"}},
        {"no connection, error 9",
         "Errore X",
         nullptr,
         {9, "Subscript out of range", "ZentrikServer"},
         {"  E:Errore X", "  E: [9] Subscript out of range.ZentrikServer"}},
        {"no connection, negative error",
         "Errore X",
         nullptr,
         {-2147467259, "Unspecified error", "ADO"},
         {"  E:Errore X"}},
        {"two database errors win over the run-time error",
         "Errore Y",
         &withErrors,
         {13, "Type mismatch", "Z"},
         {"  E:Errore Y", "  E: [80040E4E] Operation cancelled.SQLite", "  E: [80040E4E] interrupted.SQLite"}},
        {"connection without errors, error 9",
         "Errore Z",
         &clean,
         {9, "Subscript out of range", "ZentrikServer"},
         {"  E:Errore Z", "  E:Errore indefinito: 9 - Subscript out of range"}},
        {"connection without errors, no error", "Errore Z", &clean, {}, {"  E:Errore Z"}},
        {"empty first line", "", nullptr, {}, {"  E:"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_log.InitializeResponse();
        m_log.OutputResponse("PASSO", false, 0);
        engine::DescriviErrore(m_log, c.first, c.connection, c.current);
        auto got = lines();
        got.erase(got.begin());
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(m_log.nodes().front().colour, program::kLogRed); // the step line turns red
    }
}

TEST(ErrorDetailLine, WritesTheNumberInHexadecimal)
{
    EXPECT_EQ(engine::errorDetailLine(-1, "d", "s"), " [FFFFFFFF] d.s");
    EXPECT_EQ(engine::errorDetailLine(static_cast<std::int32_t>(0x80040E14), "Sintassi", "Provider"),
              " [80040E14] Sintassi.Provider");
    EXPECT_EQ(engine::errorDetailLine(255, "", ""), " [FF] .");
    EXPECT_EQ(engine::errorDetailLine(0, "x", "y"), " [0] x.y");
}

TEST(ErrorDetailLine, NeverDoublesTheStopNorShowsAnInternalName)
{
    EXPECT_EQ(engine::errorDetailLine(5, "\xc3\x88 una directory.", "zs::dialogs"),
              " [5] \xc3\x88 una directory.ZentrikServer");
    EXPECT_EQ(engine::errorDetailLine(5, "Could not find file 'x'.", ""), " [5] Could not find file 'x'.");
    EXPECT_EQ(engine::errorDetailLine(5, "Error parsing start element tag", "zs::olap"),
              " [5] Error parsing start element tag.ZentrikServer");
}

class ConnessioniPgTest : public ConnessioniTest {
  protected:
    void SetUp() override { ZS_REQUIRE_PG(); }
    std::string tmpl() const
    {
        return "Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=" +
               std::to_string(pgtest::Server::shared().port());
    }
};

TEST_F(ConnessioniPgTest, ServerConnectionOpensIntoBothSlotsAndHidesThePassword)
{
    const auto& pg = pgtest::Server::shared();
    m_settings.TipoServer = program::ServerType::SqlServer;
    ASSERT_TRUE(m_slot.ApriConnessioneServer(tmpl(), "127.0.0.1", "postgres", pg.user(), pg.password()));
    ASSERT_NE(m_slot.ConnessioneServer(), nullptr);
    EXPECT_EQ(m_slot.Connessione(), m_slot.ConnessioneServer());
    EXPECT_EQ(m_slot.Connessione()->connectionString(),
              "Driver={PostgreSQL Unicode};Server=127.0.0.1;Database=postgres;UID=postgres;PWD=" + pg.password() +
                  ";Port=" + std::to_string(pg.port()));
    EXPECT_NE(dayLog().find(":Apertura connessione:Driver={PostgreSQL Unicode};Server=127.0.0.1;Database=postgres;"
                            "UID=postgres;PWD=****;Port=" +
                            std::to_string(pg.port()) + "\r\n"),
              std::string::npos)
        << dayLog();
    EXPECT_EQ(dayLog().find(pg.password()), std::string::npos);
    m_slot.ChiudiConnessioni();
    EXPECT_EQ(m_slot.ConnessioneServer(), nullptr);
    EXPECT_EQ(m_slot.Connessione(), nullptr);

    // With the Access server type the engine's connection stays apart.
    m_settings.TipoServer = program::ServerType::Access;
    ASSERT_TRUE(m_slot.ApriConnessioneServer(tmpl(), "127.0.0.1", "postgres", pg.user(), pg.password()));
    EXPECT_EQ(m_slot.Connessione(), nullptr);
    m_slot.ChiudiConnessioni();
    EXPECT_EQ(m_slot.ConnessioneServer(), nullptr);
}

TEST_F(ConnessioniPgTest, RefusedServerConnectionsSayWhyAndNeverShowThePassword)
{
    m_settings.TipoServer = program::ServerType::SqlServer;
    struct Case {
        const char* name;
        std::string tmpl;
        std::string password;
        const char* detail;
    };
    const Case cases[] = {
        {"wrong password", tmpl(), "Sbagliata-77", "password authentication failed"},
        {"unreachable server", "Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=1", "Sbagliata-77",
         "refused"},
        {"password holding ;", tmpl(), "Sbag;liata-77", "la password contiene"},
        {"template of four items", "Driver={PostgreSQL Unicode};Server=;Database=;UID=", "Sbagliata-77",
         "almeno cinque"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_log.InitializeResponse();
        EXPECT_FALSE(m_slot.ApriConnessioneServer(c.tmpl, "127.0.0.1", "postgres", "postgres", c.password));
        const auto l = lines();
        ASSERT_GE(l.size(), 2u);
        EXPECT_EQ(l[0].rfind("E:Impossibile aprire la connessione al database:", 0), 0u) << l[0];
        std::string all;
        for (const auto& x : l)
            all += x + "\n";
        EXPECT_NE(all.find(c.detail), std::string::npos) << all;
        EXPECT_EQ(all.find("liata-77"), std::string::npos) << all;
        EXPECT_EQ(m_slot.Connessione(), nullptr);
    }
    EXPECT_EQ(dayLog().find("liata-77"), std::string::npos) << dayLog();
    m_slot.ChiudiConnessioni();
}

} // namespace
