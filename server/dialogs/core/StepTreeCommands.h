#pragma once
// The selection commands of the options dialog's step tree: the click toggle of a step or a
// job, select/unselect all, the range commands of the pop-up menu, the three selection check
// boxes, and the reload that keeps the ticks. They work on the engine's StepTree, which the
// tree view mirrors.

#include "engine/StepTree.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace zs::xml {
class Element;
}

namespace zs::dialogs {

/// A node of the tree: a step, or job `job` (0-based) of a step.
struct NodeRef {
    std::size_t step = 0;
    std::optional<std::size_t> job;
};

/// Left click on a node. Returns true when the by-hand state must be shown (the check boxes).
/// An index out of range does nothing.
bool NodeClick(engine::StepTree& tree, const NodeRef& node);

void SelezionaTutti(engine::StepTree& tree);
void DeselezionaTutti(engine::StepTree& tree);

enum class RangeCommand { SelectOnly, UnselectBefore, SelectBefore, UnselectAfter, SelectAfter };

/// A command of the pop-up menu on the step `target`; out of range does nothing.
void ApplyRange(engine::StepTree& tree, std::size_t target, RangeCommand command);

/// The three selection check boxes: Seleziona tutto, Deseleziona tutto, Selezione manuale.
struct SelectionBoxes {
    bool selectAll = false;
    bool unselectAll = false;
    bool selectHandly = false;
};

/// What a click on a check box asks of the tree.
enum class TreeAction { None, SelectAll, UnselectAll };

/// Each takes the boxes with the clicked box already in its new state and sets the others.
TreeAction onSelectAllClicked(SelectionBoxes& boxes);
TreeAction onUnselectAllClicked(SelectionBoxes& boxes);
TreeAction onSelectHandlyClicked(SelectionBoxes& boxes);
/// The by-hand state after a click on the tree.
void showByHand(SelectionBoxes& boxes);

/// Step text -> 1 (ticked or partly ticked) or 2, for the reload that keeps the ticks.
std::map<std::string, int> RememberTicks(const engine::StepTree& tree);
/// Toggles each remembered step whose tick differs from the remembered one; new steps keep
/// the marks the file gave them.
void RestoreTicks(engine::StepTree& tree, const std::map<std::string, int>& ticks);

/// The step element the properties command opens: the first child of `root` whose
/// "operazione" child has the text of `stepText`, both lower-cased. Null when none; children
/// without "operazione" are passed over.
xml::Element FindStepElement(const xml::Element& root, const std::string& stepText);

} // namespace zs::dialogs
