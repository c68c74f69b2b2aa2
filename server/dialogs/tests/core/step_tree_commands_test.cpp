#include "dialogs/core/StepTreeCommands.h"

#include "DialogsTestSupport.h"

#include "engine/StepTree.h"
#include "xml/XmlDocument.h"

#include <functional>
#include <gtest/gtest.h>

using namespace zs;
using namespace zs::dialogs;

namespace {

engine::StepTree fixtureTree(xml::Document& doc)
{
    doc = *xml::Document::loadFile(dtest::kData / "loading.xml");
    engine::StepTree tree;
    engine::CaricaAlberoXML(tree, doc.root());
    return tree;
}

/// "1[111] 2[2] …": each step's mark with its jobs' marks.
std::string marks(const engine::StepTree& tree)
{
    std::string s;
    for (const auto& step : tree.steps()) {
        if (!s.empty())
            s += ' ';
        s += std::to_string(step.image) + '[';
        for (const auto& job : step.children)
            s += std::to_string(job.image);
        s += ']';
    }
    return s;
}

NodeRef step(std::size_t i)
{
    return {i, std::nullopt};
}
NodeRef job(std::size_t i, std::size_t j)
{
    return {i, j};
}

} // namespace

TEST(StepTreeCommands, FixtureStartsWithTheFileMarks)
{
    xml::Document doc;
    const auto tree = fixtureTree(doc);
    EXPECT_EQ(marks(tree), "1[111] 2[2] 1[11] 1[]");
}

TEST(StepTreeCommands, CommandsAsTable)
{
    struct Case {
        const char* name;
        std::function<void(engine::StepTree&)> act;
        const char* expected;
    };
    const Case cases[] = {
        {"click unticked step ticks it and its jobs", [](auto& t) { NodeClick(t, step(1)); }, "1[111] 1[1] 1[11] 1[]"},
        {"click ticked step twice",
         [](auto& t) {
             NodeClick(t, step(0));
             NodeClick(t, step(0));
         },
         "1[111] 2[2] 1[11] 1[]"},
        {"untick one job of three gives partly ticked", [](auto& t) { NodeClick(t, job(0, 1)); },
         "3[121] 2[2] 1[11] 1[]"},
        {"untick all three jobs gives unticked",
         [](auto& t) {
             NodeClick(t, job(0, 0));
             NodeClick(t, job(0, 1));
             NodeClick(t, job(0, 2));
         },
         "2[222] 2[2] 1[11] 1[]"},
        {"tick them all again gives ticked",
         [](auto& t) {
             for (int k = 0; k < 2; ++k)
                 for (std::size_t j = 0; j < 3; ++j)
                     NodeClick(t, job(0, j));
         },
         "1[111] 2[2] 1[11] 1[]"},
        {"click partly ticked step unticks everything",
         [](auto& t) {
             NodeClick(t, job(0, 0));
             NodeClick(t, step(0));
         },
         "2[222] 2[2] 1[11] 1[]"},
        {"select all", [](auto& t) { SelezionaTutti(t); }, "1[111] 1[1] 1[11] 1[]"},
        {"unselect all", [](auto& t) { DeselezionaTutti(t); }, "2[222] 2[2] 2[22] 2[]"},
        {"select after the first",
         [](auto& t) {
             DeselezionaTutti(t);
             ApplyRange(t, 0, RangeCommand::SelectAfter);
         },
         "2[222] 1[1] 1[11] 1[]"},
        {"select before the first changes nothing",
         [](auto& t) {
             DeselezionaTutti(t);
             ApplyRange(t, 0, RangeCommand::SelectBefore);
         },
         "2[222] 2[2] 2[22] 2[]"},
        {"unselect before the third", [](auto& t) { ApplyRange(t, 2, RangeCommand::UnselectBefore); },
         "2[222] 2[2] 1[11] 1[]"},
        {"unselect after the second", [](auto& t) { ApplyRange(t, 1, RangeCommand::UnselectAfter); },
         "1[111] 2[2] 2[22] 2[]"},
        {"select only keeps the other jobs' marks", [](auto& t) { ApplyRange(t, 1, RangeCommand::SelectOnly); },
         "2[111] 1[1] 2[11] 2[]"},
        {"range on a partly ticked step gives 1 or 2, never 3",
         [](auto& t) {
             NodeClick(t, job(0, 0));
             ApplyRange(t, 1, RangeCommand::SelectBefore);
         },
         "1[111] 2[2] 1[11] 1[]"},
        {"out of range does nothing",
         [](auto& t) {
             NodeClick(t, step(9));
             NodeClick(t, job(0, 7));
             ApplyRange(t, 9, RangeCommand::SelectOnly);
         },
         "1[111] 2[2] 1[11] 1[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        xml::Document doc;
        auto tree = fixtureTree(doc);
        c.act(tree);
        EXPECT_EQ(marks(tree), c.expected);
    }
}

TEST(StepTreeCommands, ColoursFollowTheMarks)
{
    xml::Document doc;
    auto tree = fixtureTree(doc);
    NodeClick(tree, job(0, 1));
    EXPECT_EQ(tree.steps()[0].colour, engine::kStepTicked); // partly ticked shows as ticked
    EXPECT_EQ(tree.steps()[0].children[1].colour, engine::kStepUnticked);
    EXPECT_EQ(tree.steps()[0].children[0].colour, engine::kStepTicked);

    // Select/unselect all recolour the steps only.
    DeselezionaTutti(tree);
    EXPECT_EQ(tree.steps()[0].colour, engine::kStepUnticked);
    EXPECT_EQ(tree.steps()[0].children[0].colour, engine::kStepTicked);
    EXPECT_EQ(tree.steps()[0].children[0].image, 2);
}

TEST(StepTreeCommands, PartlyTickedStepRunsAndOnlyItsTickedJobs)
{
    xml::Document doc;
    auto tree = fixtureTree(doc);
    NodeClick(tree, job(0, 1));
    EXPECT_TRUE(engine::PassoSelezionato(tree, "Clienti", 0));
    EXPECT_TRUE(engine::PassoSelezionato(tree, "Clienti", 1));
    EXPECT_FALSE(engine::PassoSelezionato(tree, "Clienti", 2));
    EXPECT_FALSE(engine::PassoSelezionato(tree, "Articoli", 0));
}

TEST(StepTreeCommands, ClickReportsWhetherTheByHandStateShows)
{
    xml::Document doc;
    auto tree = fixtureTree(doc);
    EXPECT_TRUE(NodeClick(tree, step(1)));
    EXPECT_TRUE(NodeClick(tree, job(0, 0)));  // step goes 1 -> 3
    EXPECT_FALSE(NodeClick(tree, job(0, 1))); // still 3
}

TEST(StepTreeCommands, SelectionCheckBoxes)
{
    SelectionBoxes b{false, false, true};
    b.selectAll = true;
    EXPECT_EQ(onSelectAllClicked(b), TreeAction::SelectAll);
    EXPECT_FALSE(b.unselectAll);
    EXPECT_FALSE(b.selectHandly);

    b.unselectAll = true;
    EXPECT_EQ(onUnselectAllClicked(b), TreeAction::UnselectAll);
    EXPECT_FALSE(b.selectAll);
    EXPECT_FALSE(b.selectHandly);

    b.unselectAll = false;
    EXPECT_EQ(onUnselectAllClicked(b), TreeAction::None);
    EXPECT_TRUE(b.selectHandly);

    b = {true, false, false};
    b.selectHandly = true;
    EXPECT_EQ(onSelectHandlyClicked(b), TreeAction::None);
    EXPECT_FALSE(b.selectAll);
}

TEST(StepTreeCommands, ReloadKeepsTheStepsTicks)
{
    xml::Document doc;
    auto tree = fixtureTree(doc);
    NodeClick(tree, step(0));   // Clienti unticked although the file says SI
    NodeClick(tree, step(1));   // Articoli ticked although the file says no
    NodeClick(tree, job(2, 0)); // Ordini partly ticked: counts as ticked
    const auto ticks = RememberTicks(tree);

    // The file now renames the last step: it keeps the file's mark.
    auto text = zs::test::readFile(dtest::kData / "loading.xml");
    text.replace(text.find("Bus e Task"), 10, "Bus e Task 2");
    auto changed = *xml::Document::loadString(text);
    engine::CaricaAlberoXML(tree, changed.root());
    RestoreTicks(tree, ticks);
    EXPECT_EQ(marks(tree), "2[222] 1[1] 1[11] 1[]");
}

TEST(StepTreeCommands, PropertiesFindTheStepIgnoringCase)
{
    xml::Document doc;
    fixtureTree(doc);
    EXPECT_EQ(FindStepElement(doc.root(), "ARTICOLI").name(), "ARTICOLI");
    EXPECT_TRUE(FindStepElement(doc.root(), "Nessuno").isNull());
}
