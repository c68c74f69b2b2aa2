#include "engine/StepTree.h"

#include "engine/EngineStrings.h"
#include "xml/XmlDocument.h"

#include <limits>

namespace zs::engine {

const StepNode* StepTree::find(const std::string& label) const
{
    for (const StepNode& s : m_steps)
        if (s.text == label)
            return &s;
    return nullptr;
}

StepNode* StepTree::find(const std::string& label)
{
    return const_cast<StepNode*>(static_cast<const StepTree*>(this)->find(label));
}

void CaricaAlberoXML(StepTree& tree, const xml::Element& root)
{
    tree.clear();
    for (const xml::Element& stepElement : root.children()) {
        if (stepElement.name().empty())
            continue;
        StepNode step;
        for (const xml::Element& child : stepElement.children()) {
            const std::string name = upper(child.name());
            if (name == "ESEGUI") {
                const std::string v = upper(child.text());
                const bool on = v == "SI" || v == "YES";
                step.image = on ? 1 : 2;
                step.colour = on ? kStepTicked : kStepUnticked;
            } else if (name == "OPERAZIONE") {
                step.text = child.text();
            } else if (name == "QUERY") {
                // A job takes the mark its step has at this point of the element.
                StepNode job;
                job.text = child.text();
                job.image = step.image;
                job.colour = step.colour;
                step.children.push_back(std::move(job));
            }
        }
        tree.steps().push_back(std::move(step));
    }
}

bool PassoSelezionato(const StepTree& tree, const std::string& label, int job)
{
    const StepNode* step = tree.find(label);
    if (!step)
        return false;
    if (job < 1)
        return step->image == 1 || step->image == 3;
    const auto index = static_cast<std::size_t>(job - 1);
    if (index < step->children.size())
        return step->children[index].image == 1;
    // A job with no node (the tree is older than the loading XML) runs, as the job one past
    // the last node always has.
    return true;
}

std::int16_t StatoNodo(const StepTree& tree, std::int16_t& numeroPassi)
{
    int count = 0;
    for (const StepNode& s : tree.steps()) {
        count += s.image == 1;
        for (const StepNode& j : s.children)
            count += j.image == 1;
    }
    if (count >= std::numeric_limits<std::int16_t>::max())
        count = std::numeric_limits<std::int16_t>::max() - 1;
    numeroPassi = static_cast<std::int16_t>(count + 1);
    return static_cast<std::int16_t>(count);
}

} // namespace zs::engine
