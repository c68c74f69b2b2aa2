#include "engine/StepFields.h"

#include "engine/EngineStrings.h"
#include "xml/XmlDocument.h"

namespace zs::engine {

StepFields::StepFields(const xml::Element& step)
{
    for (const xml::Element& c : step.children())
        m_texts[lower(c.localName())] = c.text();
}

std::string StepFields::operator[](const std::string& lowerName) const
{
    const auto it = m_texts.find(lowerName);
    return it == m_texts.end() ? std::string() : it->second;
}

} // namespace zs::engine
