#include "db/RecordSet.h"

#include "text/Ascii.h"

namespace zs::db {

namespace {
const Value kNull;
}

std::optional<std::size_t> RecordSet::fieldIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (text::equalsNoCase(m_columns[i].name, name))
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
