#include "automation/PropertyBag.h"

namespace zs::automation {

Variant PropertyBag::read(std::string_view name, const Variant& def) const
{
    const auto it = m_values.find(name);
    return it == m_values.end() ? def : it->second;
}

void PropertyBag::write(std::string_view name, const Variant& value, const Variant& def)
{
    if (value.sameAs(def)) {
        const auto it = m_values.find(name);
        if (it != m_values.end())
            m_values.erase(it);
        return;
    }
    m_values.insert_or_assign(std::string(name), value);
}

std::vector<std::string> PropertyBag::names() const
{
    std::vector<std::string> out;
    out.reserve(m_values.size());
    for (const auto& [k, v] : m_values)
        out.push_back(k);
    return out;
}

} // namespace zs::automation
