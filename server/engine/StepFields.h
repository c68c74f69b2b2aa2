#pragma once
// The parameters of one step of the loading XML: the texts of the step's child elements, by
// their local names in lower case. The IMPORTXML, EXECUTEDTS and IMPORTEMAIL steps read theirs
// through it.

#include <map>
#include <string>

namespace zs::xml {
class Element;
}

namespace zs::engine {

class StepFields {
  public:
    /// Reads every child element of `step`; of two with the same name the later one counts.
    explicit StepFields(const xml::Element& step);
    /// The text of the child named `lowerName` (any case in the file), "" when there is none.
    std::string operator[](const std::string& lowerName) const;

  private:
    std::map<std::string, std::string> m_texts;
};

} // namespace zs::engine
