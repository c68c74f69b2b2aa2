#include "dialogs/core/JobViewerModel.h"
#include "dialogs/core/OpzioniLayout.h"
#include "dialogs/core/StatisticsChart.h"
#include "dialogs/core/WizardModel.h"

#include "DialogsTestSupport.h"

#include "engine/StepTree.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

using namespace zs;
using namespace zs::dialogs;

namespace {
engine::StepTree fixtureTree()
{
    auto doc = *xml::Document::loadFile(dtest::kData / "loading.xml");
    engine::StepTree tree;
    engine::CaricaAlberoXML(tree, doc.root());
    return tree;
}
int tenPerChar(const std::string& s)
{
    return static_cast<int>(s.size()) * 10;
}
} // namespace

TEST(StatisticsChart, RowsBarsColoursAndLabels)
{
    auto stat = *xml::Document::loadFile(dtest::kData / "stat.xml");
    const auto tree = fixtureTree();
    const auto rows = ChartRows(stat, tree, StatMeasure::LastTime);
    ASSERT_EQ(rows.size(), 3u); // Bus e Task has no statistics, "Vecchio passo" is no longer a step
    EXPECT_EQ(rows[0].name, "Clienti");
    EXPECT_EQ(rows[0].value, 120); // the later modulo wins

    const auto chart = LayoutChart(rows, StatMeasure::LastTime, 400, 200, tenPerChar);
    ASSERT_EQ(chart.bars.size(), 3u);
    const int left = 80 + 20; // widest name "Articoli" 80
    EXPECT_EQ(chart.bars[0].barLeft, left);
    EXPECT_EQ(chart.bars[0].barRight, left + (400 - 160));
    EXPECT_EQ(chart.bars[1].barRight, left + 120);
    EXPECT_EQ(chart.bars[2].barRight, left);
    EXPECT_EQ(chart.bars[0].colour, (program::Rgb{200, 0, 0}));
    EXPECT_EQ(chart.bars[2].colour, (program::Rgb{255, 200, 155}));
    EXPECT_EQ(chart.bars[1].colour, (program::Rgb{228, 100, 78})); // 227.5 and 77.5 round to even
    EXPECT_EQ(chart.bars[0].label, "2,0 min.");
    EXPECT_EQ(chart.bars[2].label, "0,0 min.");
    EXPECT_EQ(chart.bars[1].y, 25);
    EXPECT_EQ(chart.bars[0].labelX, 350);

    EXPECT_EQ(ChartRows(stat, tree, StatMeasure::Average)[1].value, 30.5);
    EXPECT_EQ(ValueLabel(ChartRows(stat, tree, StatMeasure::Times)[0].value, StatMeasure::Times), "7 volte");
}

TEST(StatisticsChart, ScrollRangeAndAllZeroValues)
{
    std::vector<ChartRow> rows(20, ChartRow{"x", 0});
    const auto chart = LayoutChart(rows, StatMeasure::Times, 300, 200, tenPerChar);
    EXPECT_EQ(chart.surfaceHeight, 320);
    EXPECT_TRUE(chart.scrollVisible);
    EXPECT_EQ(chart.scrollMax, 120);
    for (const auto& b : chart.bars)
        EXPECT_EQ(b.barRight, b.barLeft); // no division by a zero maximum
    EXPECT_FALSE(LayoutChart({}, StatMeasure::Times, 300, 200, tenPerChar).scrollVisible);
}

TEST(StatisticsChart, MissingFileAndNameInAnotherCase)
{
    dtest::ProgramFolder folder;
    EXPECT_FALSE(LoadStatistics(folder.home(), folder.messages));
    folder.write("STAT.XML", "<stat/>");
    EXPECT_TRUE(LoadStatistics(folder.home(), folder.messages));
    folder.write("STAT.XML", "<stat><broken");
    auto doc = LoadStatistics(folder.home(), folder.messages);
    ASSERT_TRUE(doc); // the file exists: an empty chart, and the loader said why
    EXPECT_TRUE(doc->root().isNull());
    EXPECT_EQ(folder.messages.shown.size(), 1u);
}

TEST(ProportionalLayout, LettersAsTable)
{
    const std::string win = windowLayoutTag(600, 400);
    EXPECT_EQ(win, " 0.0.600.400");
    struct Case {
        const char* name;
        std::string tag;
        Geometry expected;
    };
    const Geometry design{100, 50, 200, 80};
    const Case cases[] = {
        {"rb keeps the distances to the right and bottom", controlLayoutTag("rb", design), {400, 250, 3, 4}},
        {"LTW moves and widens but keeps its height", controlLayoutTag("LTW", design), {150, 75, 300, 4}},
        {"WHL", controlLayoutTag("WHL", design), {150, 2, 300, 120}},
        {"A scales everything", controlLayoutTag("A", design), {150, 75, 300, 120}},
        {"wh grows", controlLayoutTag("wh", design), {1, 2, 500, 280}},
        {"unknown letters do nothing", controlLayoutTag("xZ", design), {1, 2, 3, 4}},
        {"second geometry ignored", controlLayoutTag(controlLayoutTag("L", design), {0, 0, 0, 0}), {150, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto g = applyLayout(c.tag, win, 900, 600, {1, 2, 3, 4});
        ASSERT_TRUE(g);
        EXPECT_EQ(*g, c.expected);
    }
    EXPECT_FALSE(applyLayout("", win, 900, 600, {})); // empty tag takes no part
    // malformed tags never move the control
    const Geometry here{1, 2, 3, 4};
    EXPECT_EQ(applyLayout("LT", win, 900, 600, here), here);     // no geometry recorded
    EXPECT_EQ(applyLayout("LT@1.2", win, 900, 600, here), here); // too few numbers
    EXPECT_EQ(applyLayout("LT@1.2.3.4", " 0.0.0.0", 900, 600, here), here);
    // a window shrunk below its design size never gives a negative size
    EXPECT_EQ(applyLayout(controlLayoutTag("wh", design), win, 100, 50, here), (Geometry{1, 2, 3, 4}));
}

TEST(ProportionalLayout, SettingsFileNameInTheProgramFolder)
{
    EXPECT_EQ(settingsFileName("/opt/Zentrik/Carico.xml", "/opt/zentrik"), "Carico.xml");
    EXPECT_EQ(settingsFileName("/opt/zentrik/sub/Carico.xml", "/opt/zentrik/"), "/opt/zentrik/sub/Carico.xml");
    EXPECT_EQ(settingsFileName("/srv/x.xml", "/opt/zentrik"), "/srv/x.xml");
}

TEST(JobViewer, ReadsTheStepElement)
{
    auto doc = *xml::Document::loadFile(dtest::kData / "loading.xml");
    const auto clienti = ReadJobView(doc.root().child("CLIENTI"));
    EXPECT_EQ(clienti.txtDescrizione, "Clienti");
    EXPECT_TRUE(clienti.chkSvuota); // "Si" in any case
    EXPECT_EQ(clienti.txtNome, "CLIENTI");
    EXPECT_EQ(clienti.jobEntries, (std::vector<std::string>{"job1", "job2", "job3"}));
    EXPECT_EQ(clienti.selectedJob, 0);
    EXPECT_FALSE(clienti.chkIncrementale);
    EXPECT_FALSE(clienti.incrementalEnabled);

    const auto articoli = ReadJobView(doc.root().child("ARTICOLI"));
    EXPECT_FALSE(articoli.chkSvuota); // "YES" is not the flag
    EXPECT_EQ(articoli.txtNome, "");
    EXPECT_FALSE(articoli.txtNomeEnabled);
    EXPECT_TRUE(articoli.chkIncrementale);
    EXPECT_EQ(articoli.txtSvuota, "datamod");
    EXPECT_EQ(articoli.txtRiempi, "articoli.datamod");
    EXPECT_TRUE(articoli.chkAutoUpdate);
    EXPECT_EQ(articoli.txtValore, "2024");
    EXPECT_EQ(articoli.datatypeIndex, 0);

    const auto ordini = ReadJobView(doc.root().child("ORDINI"));
    EXPECT_FALSE(ordini.chkIncrementale); // present but not active: group empty and disabled
    EXPECT_EQ(ordini.txtSvuota, "");
    EXPECT_FALSE(ordini.datatypeEnabled);

    const auto bus = ReadJobView(doc.root().child("BUSANDTASK"));
    EXPECT_TRUE(bus.jobEntries.empty());
    EXPECT_EQ(bus.selectedJob, -1);
    EXPECT_EQ(bus.txtJob, "");
}

TEST(WizardFlow, ForwardAndBackByKind)
{
    struct Case {
        ServerKind kind;
        std::vector<int> forward;
        std::vector<int> back;
    };
    const Case cases[] = {
        {ServerKind::Access, {1, 2, 4, 5, 6}, {5, 4, 2, 1}},
        {ServerKind::Mixed, {1, 2, 3, 4, 5, 6}, {5, 4, 3, 2, 1}},
        {ServerKind::SqlServer, {1, 3, 4, 5, 6}, {5, 4, 3, 1}},
        {ServerKind::Oracle, {1, 3, 4, 5, 6}, {5, 4, 3, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        WizardFields f;
        f.kind = c.kind;
        WizardFlow flow;
        std::vector<int> seen{flow.MostraPasso(1, f).page};
        while (flow.PassoCorrente() < 6)
            seen.push_back(flow.MostraPasso(flow.PassoCorrente() + 1, f).page);
        EXPECT_EQ(seen, c.forward);
        seen.clear();
        while (flow.PassoCorrente() > 1)
            seen.push_back(flow.MostraPasso(flow.PassoCorrente() - 1, f).page);
        EXPECT_EQ(seen, c.back);
    }
}

TEST(WizardFlow, RecapNeverShowsPasswords)
{
    WizardFields f;
    f.kind = ServerKind::Oracle;
    f.txtAccess = "a.mdb";
    f.txtPassword0 = "secret";
    f.useBusAndTask = true;
    f.txtSysPwd = "secret2";
    const std::string r = WizardRecap(f);
    EXPECT_NE(r.find("Database MsAccess : a.mdb\r\n"), std::string::npos);
    EXPECT_NE(r.find("Server Oracle : "), std::string::npos);
    EXPECT_EQ(r.find("secret"), std::string::npos);
    f.useBusAndTask = false;
    EXPECT_NE(WizardRecap(f).find("Bus&Task non utilizzato\r\n"), std::string::npos);
}
