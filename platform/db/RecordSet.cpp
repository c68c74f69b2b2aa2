#include "db/RecordSet.h"

#include <strings.h>

namespace zs::db {

namespace {
const Value kNull;
}

std::optional<std::size_t> RecordSet::fieldIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const auto& n = m_columns[i].name;
        if (n.size() == name.size() && ::strncasecmp(n.data(), name.data(), n.size()) == 0)
            return i;
    }
    return std::nullopt;
}

const Value& RecordSet::value(std::size_t field) const
{
    if (eof() || field >= m_rows[m_pos].size())
        return kNull;
    return m_rows[m_pos][field];
}

const Value& RecordSet::value(std::string_view field) const
{
    const auto i = fieldIndex(field);
    return i ? value(*i) : kNull;
}

} // namespace zs::db
