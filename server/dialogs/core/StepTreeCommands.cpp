#include "dialogs/core/StepTreeCommands.h"

#include "engine/EngineStrings.h"
#include "xml/XmlDocument.h"

namespace zs::dialogs {

using engine::StepNode;
using engine::StepTree;

namespace {

void setMark(StepNode& node, int mark)
{
    node.image = mark;
    node.colour = mark == 2 ? engine::kStepUnticked : engine::kStepTicked;
}

void setStepAndJobs(StepNode& step, int mark)
{
    setMark(step, mark);
    for (StepNode& job : step.children)
        setMark(job, mark);
}

/// "Select all" and "unselect all" alike: ticked, it clears the other two boxes and acts;
/// unticked, the tree is chosen by hand.
TreeAction onWholeTreeClicked(bool ticked, bool& other, bool& byHand, TreeAction action)
{
    if (ticked) {
        other = false;
        byHand = false;
        return action;
    }
    byHand = true;
    return TreeAction::None;
}

} // namespace

bool NodeClick(StepTree& tree, const NodeRef& node)
{
    auto& steps = tree.steps();
    if (node.step >= steps.size())
        return false;
    StepNode& step = steps[node.step];
    if (!node.job) {
        setStepAndJobs(step, step.image == 2 ? 1 : 2);
        return true;
    }
    if (*node.job >= step.children.size())
        return false;
    StepNode& job = step.children[*node.job];
    setMark(job, 3 - job.image);
    std::size_t ticked = 0;
    for (const StepNode& j : step.children)
        ticked += j.image == 1;
    const int state = ticked == 0 ? 2 : ticked < step.children.size() ? 3 : 1;
    if (step.image == state)
        return false;
    setMark(step, state);
    return true;
}

static void markAll(StepTree& tree, int mark)
{
    // The jobs' colours are left as they are: only their marks change.
    for (StepNode& step : tree.steps()) {
        setMark(step, mark);
        for (StepNode& job : step.children)
            job.image = mark;
    }
}

void SelezionaTutti(StepTree& tree)
{
    markAll(tree, 1);
}
void DeselezionaTutti(StepTree& tree)
{
    markAll(tree, 2);
}

void ApplyRange(StepTree& tree, std::size_t target, RangeCommand command)
{
    auto& steps = tree.steps();
    if (target >= steps.size())
        return;
    switch (command) {
    case RangeCommand::SelectAfter:
    case RangeCommand::UnselectAfter:
        for (std::size_t i = target + 1; i < steps.size(); ++i)
            setStepAndJobs(steps[i], command == RangeCommand::SelectAfter ? 1 : 2);
        break;
    case RangeCommand::SelectBefore:
    case RangeCommand::UnselectBefore:
        for (std::size_t i = 0; i < target; ++i)
            setStepAndJobs(steps[i], command == RangeCommand::SelectBefore ? 1 : 2);
        break;
    case RangeCommand::SelectOnly:
        // The other steps show "not ticked" while their jobs keep their own marks.
        for (StepNode& step : steps)
            setMark(step, 2);
        setStepAndJobs(steps[target], 1);
        break;
    }
}

TreeAction onSelectAllClicked(SelectionBoxes& b)
{
    return onWholeTreeClicked(b.selectAll, b.unselectAll, b.selectHandly, TreeAction::SelectAll);
}

TreeAction onUnselectAllClicked(SelectionBoxes& b)
{
    return onWholeTreeClicked(b.unselectAll, b.selectAll, b.selectHandly, TreeAction::UnselectAll);
}

TreeAction onSelectHandlyClicked(SelectionBoxes& b)
{
    if (b.selectHandly) {
        b.selectAll = false;
        b.unselectAll = false;
    }
    return TreeAction::None;
}

void showByHand(SelectionBoxes& b)
{
    b.selectHandly = true;
    b.selectAll = false;
    b.unselectAll = false;
}

std::map<std::string, int> RememberTicks(const StepTree& tree)
{
    std::map<std::string, int> ticks;
    for (const StepNode& step : tree.steps())
        ticks.emplace(step.text, step.image == 1 || step.image == 3 ? 1 : 2);
    return ticks;
}

void RestoreTicks(StepTree& tree, const std::map<std::string, int>& ticks)
{
    auto& steps = tree.steps();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto it = ticks.find(steps[i].text);
        if (it == ticks.end())
            continue;
        const bool wasTicked = it->second != 2;
        const bool isTicked = steps[i].image != 2;
        if (wasTicked != isTicked)
            NodeClick(tree, NodeRef{i, std::nullopt});
    }
}

xml::Element FindStepElement(const xml::Element& root, const std::string& stepText)
{
    const std::string wanted = engine::lower(stepText);
    for (const xml::Element& step : root.children()) {
        const xml::Element op = step.child("operazione");
        if (!op.isNull() && engine::lower(op.text()) == wanted)
            return step;
    }
    return {};
}

} // namespace zs::dialogs
