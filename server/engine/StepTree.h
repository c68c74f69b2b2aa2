#pragma once
// The step tree: one node per step of the loading XML with one child per job, each carrying a
// mark (1 ticked, 2 not ticked, 3 partly ticked, for steps) and a text colour. The options
// dialog shows and edits it; the run asks it which steps and jobs to run. Qt-free.

#include "program/ProgramLog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zs::xml {
class Element;
}

namespace zs::engine {

inline constexpr program::Rgb kStepNew{0, 0, 255};
inline constexpr program::Rgb kStepTicked{20, 60, 110};
inline constexpr program::Rgb kStepUnticked{104, 163, 204};

struct StepNode {
    std::string text;
    int image = 1; ///< 1 ticked, 2 not ticked, 3 partly ticked
    program::Rgb colour = kStepNew;
    bool expanded = false;
    std::vector<StepNode> children; ///< the jobs of a step; empty for a job
};

class StepTree {
  public:
    std::vector<StepNode>& steps() { return m_steps; }
    const std::vector<StepNode>& steps() const { return m_steps; }
    void clear() { m_steps.clear(); }
    /// The first step whose text is exactly `label`; null when none.
    const StepNode* find(const std::string& label) const;
    StepNode* find(const std::string& label);

  private:
    std::vector<StepNode> m_steps;
};

/// Rebuilds the tree from the loading XML: marks and colours from each step's ESEGUI.
void CaricaAlberoXML(StepTree& tree, const xml::Element& root);
/// Is the step (job 0) or its job `job` (from 1) ticked? A job with no node of its own runs.
bool PassoSelezionato(const StepTree& tree, const std::string& label, int job);
/// The number of ticked nodes (steps and jobs); sets `numeroPassi` to that count plus one.
std::int16_t StatoNodo(const StepTree& tree, std::int16_t& numeroPassi);

} // namespace zs::engine
