#pragma once
// The host's store of a control's design-time properties. A control reads each property with
// its default (a missing entry gives the default) and writes it with the same default (a value
// equal to its default is left out), so stored forms hold only what differs.

#include "automation/Variant.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zs::automation {

class PropertyBag {
  public:
    /// The stored value, or `def` when the name is absent. Names are case-sensitive.
    Variant read(std::string_view name, const Variant& def) const;
    /// Stores `value`, or removes the entry when `value` equals `def`.
    void write(std::string_view name, const Variant& value, const Variant& def);

    bool contains(std::string_view name) const { return m_values.find(name) != m_values.end(); }
    /// Stores without comparing to a default (for hosts loading a stored form).
    void set(std::string_view name, Variant value) { m_values.insert_or_assign(std::string(name), std::move(value)); }
    std::vector<std::string> names() const;
    std::size_t size() const { return m_values.size(); }

  private:
    std::map<std::string, Variant, std::less<>> m_values;
};

} // namespace zs::automation
