// The calendar rows, the run statistics of stat.xml and the step tree's marks.

#include "EngineTestSupport.h"
#include "StatFile.h"

#include "engine/CalendarTable.h"
#include "engine/RunStatistics.h"
#include "engine/StepTree.h"
#include "program/testsupport/ShellDoubles.h"

#include <gtest/gtest.h>

namespace zs::engine::test {
namespace {

using time::DateTime;

TEST(CalendarTable, FirstOfJanuary2005)
{
    std::array<SqlValue, 9> row;
    calendarRow({2005, 1, 1, 0, 0, 0}, row);
    EXPECT_EQ(std::get<DateTime>(row[0]), (DateTime{2005, 1, 1, 0, 0, 0}));
    EXPECT_EQ(std::get<std::string>(row[1]), "Sabato");
    EXPECT_EQ(std::get<std::string>(row[2]), "Gennaio");
    EXPECT_EQ(std::get<std::int64_t>(row[3]), 2005);
    EXPECT_EQ(std::get<std::string>(row[4]), "01");
    EXPECT_EQ(std::get<std::string>(row[5]), "53");
    EXPECT_EQ(std::get<std::string>(row[6]), "01");
    EXPECT_EQ(std::get<std::int64_t>(row[7]), 1);
    EXPECT_EQ(std::get<std::string>(row[8]), "00074876");
}

TEST(CalendarTable, WeeksDayNumbersAndQuarters)
{
    struct Case {
        DateTime day;
        int week;
        long vevira;
        int quarter;
    };
    const Case cases[] = {
        {{2005, 1, 2}, 53, 74877, 1},  {{2005, 1, 3}, 1, 74878, 1},   {{2006, 12, 31}, 52, 75605, 4},
        {{2008, 12, 29}, 1, 76334, 4}, {{1800, 1, 1}, 1, 1, 1},       {{2004, 3, 31}, 14, 74600, 1},
        {{2004, 4, 1}, 14, 74601, 2},  {{2004, 9, 30}, 40, 74783, 3}, {{2004, 10, 1}, 40, 74784, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toIso(c.day));
        std::array<SqlValue, 9> row;
        calendarRow(c.day, row);
        EXPECT_EQ(isoWeek(c.day), c.week);
        EXPECT_EQ(dataVevira(c.day), c.vevira);
        EXPECT_EQ(std::get<std::int64_t>(row[7]), c.quarter);
    }
}

TEST(CalendarTable, YearsListWritesEveryDayAndStopsAtABadItem)
{
    struct Case {
        const char* years;
        bool ok;
        std::size_t rows;
        std::int32_t error; ///< the run-time error reported with the failure line
    };
    const Case cases[] = {{"2004", true, 366, 0},         {"2005,2006", true, 730, 0}, {" 2005 , 2006", true, 730, 0},
                          {"2005,,2006", false, 365, 13}, {"duemila", false, 0, 13},   {"2005,20x6", false, 365, 13},
                          {"99999999999", false, 0, 6}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.years);
        EngineFixture f;
        EXPECT_EQ(CalendarTable(f.ctx).CreaTabellaTime(c.years), c.ok);
        EXPECT_EQ(f.db.rows.size(), c.rows);
        if (!c.ok) {
            EXPECT_EQ(f.db.errors, (std::vector<std::string>{"Errore in fase di esecuzione query sulla tabella TIME"}));
            ASSERT_EQ(f.db.runTimeErrors.size(), 1u);
            EXPECT_EQ(f.db.runTimeErrors[0].number, c.error);
        }
    }
    EngineFixture f("oracle");
    f.db.failRowAfter = 10;
    EXPECT_FALSE(CalendarTable(f.ctx).CreaTabellaTime("2005"));
    EXPECT_EQ(f.db.rows.size(), 10u);
    EXPECT_EQ(f.db.calls.front(), "rows:Time");
}

TEST(RunStatistics, TimesMeanAndLastTime)
{
    xml::Document doc;
    doc.createRoot("stat");
    AggiornaStatistiche(doc, "Clienti", 12.4);
    EXPECT_EQ(
        doc.root().xml(),
        "<stat><modulo><operazione>Clienti</operazione><lasttime>12</lasttime><times>1</times><avarage>12</avarage>"
        "</modulo></stat>");
    AggiornaStatistiche(doc, "CLIENTI", 15);
    EXPECT_EQ(statEntry(doc, "Clienti", "lasttime"), "15");
    EXPECT_EQ(statEntry(doc, "Clienti", "times"), "2");
    EXPECT_EQ(statEntry(doc, "Clienti", "avarage"), "13,5");
    AggiornaStatistiche(doc, "Ordini", 2.5); // halves to the even neighbour
    EXPECT_EQ(statEntry(doc, "Ordini", "lasttime"), "2");
    EXPECT_EQ(doc.root().children().size(), 2u);
}

TEST(RunStatistics, ModuloMissingChildrenIsRepaired)
{
    auto doc = xml::Document::loadString("<stat><modulo><operazione>A</operazione><times>x</times></modulo></stat>");
    ASSERT_TRUE(doc);
    AggiornaStatistiche(*doc, "a", 3);
    EXPECT_EQ(statEntry(*doc, "A", "times"), "1");
    EXPECT_EQ(statEntry(*doc, "A", "avarage"), "3");
    EXPECT_EQ(statEntry(*doc, "A", "lasttime"), "3");
}

TEST(RunStatistics, UnreadableFileIsNeverOverwritten)
{
    zs::test::TempDir dir;
    const auto file = dir / "stat.xml";
    zs::test::writeFile(file, "<stat><modulo>");
    zs::test::RecordingMessages messages;
    RunStatistics stats(file, messages);
    EXPECT_FALSE(stats.usable());
    stats.AggiornaStatistiche("A", 1);
    std::string error;
    EXPECT_FALSE(stats.save(&error));
    EXPECT_EQ(zs::test::readFile(file), "<stat><modulo>");
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST(RunStatistics, SavedFileReadsBack)
{
    zs::test::TempDir dir;
    zs::test::RecordingMessages messages;
    {
        RunStatistics stats(dir / "stat.xml", messages);
        stats.AggiornaStatistiche("A", 4);
        ASSERT_TRUE(stats.save());
    }
    RunStatistics again(dir / "stat.xml", messages);
    again.AggiornaStatistiche("A", 6);
    EXPECT_EQ(statEntry(again.DocStatistiche(), "A", "avarage"), "5");
    EXPECT_EQ(zs::test::readFile(dir / "stat.xml").substr(0, 3), "\xEF\xBB\xBF");
}

TEST(StepTree, MarksAndColoursFromTheLoadingXml)
{
    auto doc =
        xml::Document::loadString("<Estrattore>"
                                  "<CLIENTI><esegui>si</esegui><operazione>Clienti</operazione>"
                                  "<query>q1</query><query>q2</query></CLIENTI>"
                                  "<ORDINI><query>early</query><operazione>Ordini</operazione><esegui>NO</esegui>"
                                  "<query>late</query></ORDINI>"
                                  "<ZONE><operazione>Zone</operazione></ZONE>"
                                  "</Estrattore>");
    ASSERT_TRUE(doc);
    StepTree tree;
    CaricaAlberoXML(tree, doc->root());
    ASSERT_EQ(tree.steps().size(), 3u);
    const auto& s = tree.steps();
    EXPECT_EQ(s[0].image, 1);
    EXPECT_EQ(s[0].colour, kStepTicked);
    EXPECT_EQ(s[0].children.size(), 2u);
    EXPECT_EQ(s[1].image, 2);
    EXPECT_EQ(s[1].colour, kStepUnticked);
    EXPECT_EQ(s[1].children[0].image, 1); // a job before ESEGUI keeps the first mark
    EXPECT_EQ(s[1].children[1].image, 2);
    EXPECT_EQ(s[2].image, 1); // no ESEGUI: ticked, blue
    EXPECT_EQ(s[2].colour, kStepNew);

    std::int16_t passi = 0;
    EXPECT_EQ(StatoNodo(tree, passi), 5);
    EXPECT_EQ(passi, 6);
}

TEST(StepTree, SelectionQuestions)
{
    StepTree tree;
    tree.steps().push_back({"A", 3, kStepTicked, false, {{"a1", 1, {}, false, {}}, {"a2", 2, {}, false, {}}}});
    tree.steps().push_back({"A", 2, kStepUnticked, false, {}});
    tree.steps().push_back({"B", 2, kStepUnticked, false, {{"b1", 1, {}, false, {}}}});
    struct Case {
        const char* label;
        int job;
        bool expected;
    };
    const Case cases[] = {{"A", 0, true},  {"A", 1, true}, {"A", 2, false}, {"A", 3, true}, {"a", 0, false},
                          {"B", 0, false}, {"B", 1, true}, {"C", 0, false}, {"C", 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + std::to_string(c.job));
        EXPECT_EQ(PassoSelezionato(tree, c.label, c.job), c.expected);
    }
    for (auto& st : tree.steps()) {
        st.image = 2;
        for (auto& j : st.children)
            j.image = 2;
    }
    std::int16_t passi = 0;
    EXPECT_EQ(StatoNodo(tree, passi), 0);
    EXPECT_EQ(passi, 1);
}

} // namespace
} // namespace zs::engine::test
