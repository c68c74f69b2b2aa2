// The store cadenzo.xml: the exact bytes written, reading it back, and faulty files.

#include "SchedulerHarness.h"

#include "scheduler/OperationStore.h"
#include "scheduler/Operazione.h"

#include "fs/FileOps.h"
#include "testsupport/ReadOnlyFolder.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

using namespace zs::cadenzo;
using zs::time::DateTime;

namespace {

std::string expectedFile(const char* name)
{
    return zs::test::readFile(std::filesystem::path(CADENZO_TEST_DATA) / name);
}

std::shared_ptr<clsOperazione> makeOp(const std::string& azione, DateTime next, const std::string& escludi,
                                      const std::string& periodicita, bool abilitato)
{
    auto op = std::make_shared<clsOperazione>();
    op->setAzione(azione);
    op->setEscludi(escludi);
    op->setPeriodicita(periodicita);
    op->setAbilitato(abilitato);
    op->setProssimoAppuntamento(next);
    return op;
}

class StoreTest : public ::testing::Test {
  protected:
    zs::test::ScopedTestEnv env;
    test::Harness h{{2026, 3, 25, 10, 0, 0}};
    std::filesystem::path file() const { return env.home() / "cadenzo.xml"; }
    void SetUp() override
    {
        std::filesystem::create_directories(env.home());
        h.scheduler.SetPath(env.home().string());
    }
};

} // namespace

TEST_F(StoreTest, StartWithoutStoreWritesTheEmptyStore)
{
    ASSERT_TRUE(h.scheduler.Start(0));
    EXPECT_EQ(zs::test::readFile(file()), expectedFile("empty.xml"));
    EXPECT_TRUE(h.view.rows.empty());
}

TEST_F(StoreTest, TwoOperationsByteForByte)
{
    OperationList ops{makeOp("Estrazione ed Elaborazione.", {2026, 12, 8, 6, 30, 0}, "lunedì", "Ogni giorno", true),
                      makeOp("Elaborazione dati.", {2026, 4, 1, 23, 5, 0}, "niente", "Una volta sola", false)};
    std::string error;
    ASSERT_TRUE(saveStore(file(), ops, &error)) << error;
    EXPECT_EQ(zs::test::readFile(file()), expectedFile("two_operations.xml"));
}

TEST_F(StoreTest, AmpersandIsEscapedAndReadsBack)
{
    OperationList ops{makeOp("Carica & elabora", {2026, 12, 8, 6, 0, 0}, "niente", "Una volta a settimana", true)};
    std::string error;
    ASSERT_TRUE(saveStore(file(), ops, &error)) << error;
    EXPECT_EQ(zs::test::readFile(file()), expectedFile("ampersand.xml"));

    ASSERT_TRUE(h.scheduler.Start(0));
    ASSERT_EQ(h.state.colOperazioni.size(), 1u);
    EXPECT_EQ(h.state.colOperazioni[0]->azione(), "Carica & elabora");
    EXPECT_EQ(zs::test::readFile(file()), expectedFile("ampersand.xml"));
}

TEST_F(StoreTest, LoadReadsEveryFieldAndRewritesTheSameFile)
{
    zs::test::writeFile(file(), expectedFile("two_operations.xml"));
    ASSERT_TRUE(h.scheduler.Start(0));
    ASSERT_EQ(h.state.colOperazioni.size(), 2u);
    const clsOperazione& a = *h.state.colOperazioni[0];
    EXPECT_EQ(a.azione(), "Estrazione ed Elaborazione.");
    EXPECT_EQ(a.Escludi(), "lunedì");
    EXPECT_EQ(a.Periodicita(), "Ogni giorno");
    EXPECT_TRUE(a.Abilitato());
    EXPECT_EQ(a.ProssimoAppuntamento(), (DateTime{2026, 12, 8, 6, 30, 0}));
    const clsOperazione& b = *h.state.colOperazioni[1];
    EXPECT_EQ(b.Ora(), 23);
    EXPECT_EQ(b.Minuti(), 5);
    EXPECT_FALSE(b.Abilitato());
    EXPECT_EQ(zs::test::readFile(file()), expectedFile("two_operations.xml"));
    ASSERT_EQ(h.view.rows.size(), 2u);
    EXPECT_EQ(h.view.rows[0], (OperationRow{"Estrazione ed Elaborazione.", "08/12/2026 06:30", "Ogni giorno", "Vero"}));
    EXPECT_EQ(h.view.rows[1], (OperationRow{"Elaborazione dati.", "01/04/2026 23:05", "Una volta sola", "Falso"}));
}

TEST(StoreAbilitato, Variants)
{
    struct Case {
        const char* text;
        bool enabled;
    };
    const Case cases[] = {
        {"1", true},      {"True", true},   {"true", true},  {"TRUE", true}, {"Vero", true}, {"vERo", true},
        {"01", true},     {"1.0", true},    {" 1", true},    {"1abc", true}, {"0", false},   {"", false},
        {"False", false}, {"Falso", false}, {"yes", false},  {"2", false},   {"-1", false},  {"1.5", false},
        {"0.1", false},   {" true", false}, {"abc1", false}, {"1e0", true},  {"10", false},  {"1 0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("abilitato=\"") + c.text + "\"");
        EXPECT_EQ(abilitatoMeansEnabled(c.text), c.enabled);
    }
}

TEST_F(StoreTest, AbilitatoVariantsThroughTheLoader)
{
    const char* texts[] = {"VERO", "1", "x"};
    std::string body = "<root>";
    for (const char* t : texts)
        body += std::string("<operazione><azione>A</azione><data>01/01/2030</data><ora>1</ora><minuti>2</minuti>"
                            "<escludi>niente</escludi><periodicita>Ogni giorno</periodicita><abilitato>") +
                t + "</abilitato></operazione>";
    body += "<altro/></root>";
    zs::test::writeFile(file(), body);
    ASSERT_TRUE(h.scheduler.Start(0));
    ASSERT_EQ(h.state.colOperazioni.size(), 3u);
    EXPECT_TRUE(h.state.colOperazioni[0]->Abilitato());
    EXPECT_TRUE(h.state.colOperazioni[1]->Abilitato());
    EXPECT_FALSE(h.state.colOperazioni[2]->Abilitato());
}

TEST_F(StoreTest, FaultyStoreIsNeverOverwritten)
{
    const std::string good = "<operazione><azione>Buona</azione><data>01/01/2030</data><ora>1</ora>"
                             "<minuti>2</minuti><escludi>niente</escludi><periodicita>Ogni giorno</periodicita>"
                             "<abilitato>1</abilitato></operazione>";
    struct Case {
        const char* name;
        std::string body;
        size_t readBefore;
    };
    const Case cases[] = {
        {"not XML", "<cadenzo><operazione>", 0},
        {"missing child", "<cadenzo>" + good + "<operazione><azione>X</azione></operazione>" + good + "</cadenzo>", 1},
        {"bad date",
         "<cadenzo>" + good +
             "<operazione><azione>X</azione><data>31/02/2030</data><ora>1</ora><minuti>2</minuti><escludi/>"
             "<periodicita/><abilitato/></operazione></cadenzo>",
         1},
        {"bad hour",
         "<cadenzo><operazione><azione>X</azione><data>01/01/2030</data><ora>sei</ora><minuti>2</minuti><escludi/>"
         "<periodicita/><abilitato/></operazione></cadenzo>",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::writeFile(file(), c.body);
        std::string errors;
        h.scheduler.setStoreErrorHandler([&](const std::string& e) { errors += e; });
        std::string error;
        EXPECT_FALSE(h.scheduler.Start(60, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(h.state.colOperazioni.size(), c.readBefore);
        EXPECT_FALSE(h.pollTimer.isEnabled());
        EXPECT_FALSE(h.startTimer.isEnabled());
        EXPECT_TRUE(h.scheduler.storeLocked());
        // An edit afterwards refreshes the list but still does not save over the file.
        h.scheduler.beginEdit();
        h.scheduler.endEdit();
        EXPECT_FALSE(errors.empty());
        EXPECT_EQ(zs::test::readFile(file()), c.body);
    }
}

TEST_F(StoreTest, AccentedWeekdaysSurviveSaveAndReload)
{
    const char* days[] = {"lunedì", "martedì", "mercoledì", "giovedì", "venerdì"};
    for (const char* d : days)
        h.state.colOperazioni.push_back(makeOp("A", {2030, 1, 1, 0, 0, 0}, d, "Ogni giorno", true));
    h.scheduler.AggiornaLista();
    ASSERT_TRUE(h.scheduler.Start(0));
    ASSERT_EQ(h.state.colOperazioni.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(h.state.colOperazioni[i]->Escludi(), days[i]);
}

TEST_F(StoreTest, UnwritableFolderKeepsTheChangeInMemoryAndReportsIt)
{
    h.scheduler.SetPath((env.home() / "missing").string());
    std::string reported;
    h.scheduler.setStoreErrorHandler([&](const std::string& e) { reported = e; });
    h.state.colOperazioni.push_back(makeOp("A", {2030, 1, 1, 0, 0, 0}, "niente", "Ogni giorno", true));
    h.scheduler.AggiornaLista();
    EXPECT_FALSE(reported.empty());
    EXPECT_EQ(h.state.colOperazioni.size(), 1u);
    EXPECT_EQ(h.view.rows.size(), 1u);
}

TEST_F(StoreTest, InterruptedSaveKeepsTheOldStore)
{
    const std::string old = expectedFile("two_operations.xml");
    OperationList ops{makeOp("Carica & elabora", {2026, 12, 8, 6, 0, 0}, "niente", "Una volta a settimana", true)};
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE("failing call " + std::to_string(failAt));
        zs::test::writeFile(file(), old);
        zs::fs::FailingFileOps fops(failAt, EIO);
        std::string error;
        const bool ok = saveStore(file(), ops, &error, fops);
        if (ok) {
            EXPECT_EQ(zs::test::readFile(file()), expectedFile("ampersand.xml"));
            break;
        }
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(zs::test::readFile(file()), old);
        ASSERT_LT(failAt, 50);
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(env.home()))
        ++entries;
    EXPECT_EQ(entries, 1u); // no temporary file left behind
}

// A store folder that is missing or read-only: Start says the store is not saved (and polls the
// operations in memory all the same), every edit says so again and the caption keeps showing
// it, until a save succeeds.
TEST_F(StoreTest, UnwritableStoreIsReportedFromStartToTheNextGoodSave)
{
    struct Case {
        const char* name;
        bool readOnly; // else missing
    };
    for (const Case c : {Case{"missing folder", false}, Case{"read-only folder", true}}) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path folder = env.home() / c.name;
        h.scheduler.SetPath(folder.string());
        h.state.colOperazioni.clear();
        std::vector<std::string> reported;
        h.scheduler.setStoreErrorHandler([&](const std::string& e) { reported.push_back(e); });
        {
            std::optional<zs::test::ReadOnlyFolder> ro;
            if (c.readOnly) {
                ro.emplace(folder, env.root());
                ASSERT_TRUE(ro->refusesWrites());
            }
            std::string error;
            EXPECT_FALSE(h.scheduler.Start(0, &error));
            EXPECT_NE(error.find("non salvate"), std::string::npos) << error;
            EXPECT_NE(error.find(folder.string()), std::string::npos) << error;
            EXPECT_TRUE(h.pollTimer.isEnabled());
            EXPECT_TRUE(h.scheduler.unsaved());
            EXPECT_EQ(h.scheduler.caption(), "Operazioni previste - modifiche NON salvate");
            EXPECT_EQ(h.view.captions.back(), h.scheduler.caption());
            ASSERT_EQ(reported.size(), 1u);

            h.scheduler.beginEdit();
            h.state.colOperazioni.push_back(makeOp("A", {2030, 1, 1, 0, 0, 0}, "niente", "Ogni giorno", true));
            h.scheduler.endEdit();
            ASSERT_EQ(reported.size(), 2u);
            EXPECT_NE(reported[1].find("non salvate"), std::string::npos);
            EXPECT_EQ(h.view.rows.size(), 1u);
            EXPECT_FALSE(std::filesystem::exists(folder / "cadenzo.xml"));
        }
        std::filesystem::create_directories(folder);
        h.scheduler.beginEdit();
        h.scheduler.endEdit();
        EXPECT_FALSE(h.scheduler.unsaved());
        EXPECT_EQ(h.scheduler.caption(), "Operazioni previste");
        EXPECT_EQ(reported.size(), 2u);
        EXPECT_NE(zs::test::readFile(folder / "cadenzo.xml").find("<azione>A</azione>"), std::string::npos);
    }
}

TEST_F(StoreTest, FailedLoadIsReportedAndEditsAreNotShownAsSaved)
{
    zs::test::writeFile(file(), "<cadenzo><operazione>");
    std::vector<std::string> reported;
    h.scheduler.setStoreErrorHandler([&](const std::string& e) { reported.push_back(e); });
    std::string error;
    EXPECT_FALSE(h.scheduler.Start(0, &error));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].rfind("Operazioni pianificate non caricate: ", 0), 0u) << reported[0];
    h.scheduler.beginEdit();
    h.state.colOperazioni.push_back(makeOp("A", {2030, 1, 1, 0, 0, 0}, "niente", "Ogni giorno", true));
    h.scheduler.endEdit();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_NE(reported[1].find("non salvate"), std::string::npos);
    EXPECT_NE(reported[1].find("non era leggibile"), std::string::npos);
    EXPECT_TRUE(h.scheduler.unsaved());
    EXPECT_EQ(h.scheduler.caption(), "Operazioni previste - modifiche NON salvate");
    EXPECT_EQ(zs::test::readFile(file()), "<cadenzo><operazione>");
}

// Which `data` texts the store reads, and what it makes of them. A text it cannot read fails
// the load as any bad value does: the file stays as it is, nothing is polled.
TEST_F(StoreTest, DateTextsTheStoreReadsAndRefuses)
{
    struct Case {
        const char* data;
        std::optional<DateTime> read;
    };
    const DateTime dec8{2027, 12, 8, 0, 0, 0};
    const Case cases[] = {
        {"08/12/2027", dec8},
        {"08/12/27", dec8}, // two digits: this century, never the year 27
        {"8/12/27", dec8},
        {"08-12-2027", dec8},
        {"8.12.2027", dec8},
        {" 08/12/2027\r\n", dec8},
        {"08/12/2027 06:30:00", dec8}, // only the date part is used
        {"08/12/2027xyz", std::nullopt},
        {"8 dicembre 2027", std::nullopt}, // the long form is the dialog's, not the store's
        {"08/12/027", std::nullopt},
        {"08/12-2027", std::nullopt},
        {"31/02/2027", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const std::string body = std::string("<cadenzo><operazione><azione>X</azione><data>") + c.data +
                                 "</data><ora>6</ora><minuti>30</minuti><escludi>niente</escludi>"
                                 "<periodicita>Ogni giorno</periodicita><abilitato>1</abilitato></operazione>"
                                 "</cadenzo>";
        zs::test::writeFile(file(), body);
        std::string error;
        const bool started = h.scheduler.Start(0, &error);
        if (!c.read) {
            EXPECT_FALSE(started);
            EXPECT_NE(error.find("data non valida"), std::string::npos) << error;
            EXPECT_TRUE(h.state.colOperazioni.empty());
            EXPECT_FALSE(h.pollTimer.isEnabled());
            EXPECT_EQ(zs::test::readFile(file()), body);
            continue;
        }
        ASSERT_TRUE(started) << error;
        ASSERT_EQ(h.state.colOperazioni.size(), 1u);
        EXPECT_EQ(h.state.colOperazioni[0]->Data(), *c.read);
        EXPECT_EQ(h.state.colOperazioni[0]->ProssimoAppuntamento(), (DateTime{2027, 12, 8, 6, 30, 0}));
        EXPECT_NE(zs::test::readFile(file()).find("<data>08/12/2027</data>"), std::string::npos);
    }
}
