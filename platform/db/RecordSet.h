#pragma once
// The rows a query returned, read forward or again from the first: fields by position or by
// name (without regard to case). Holds all rows in memory; the engine reads small results.

#include "db/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::db {

/// A column of a table or a result: its name and the kind of value it holds.
struct ColumnInfo {
    std::string name;
    Value::Type type = Value::Type::Text;
};

class RecordSet {
  public:
    RecordSet() = default;
    RecordSet(std::vector<ColumnInfo> columns, std::vector<std::vector<Value>> rows)
        : m_columns(std::move(columns))
        , m_rows(std::move(rows))
    {}

    std::size_t fieldCount() const { return m_columns.size(); }
    const std::vector<ColumnInfo>& columns() const { return m_columns; }
    std::size_t rowCount() const { return m_rows.size(); }

    /// True when the cursor is past the last row (at once for an empty result).
    bool eof() const { return m_pos >= m_rows.size(); }
    void moveNext()
    {
        if (m_pos < m_rows.size())
            ++m_pos;
    }

    /// Position of a field by name, compared without regard to case.
    std::optional<std::size_t> fieldIndex(std::string_view name) const;
    /// The current row's value; null at eof or for a position out of range.
    const Value& value(std::size_t field) const;
    /// The current row's value by field name; null for an unknown name (see fieldIndex).
    const Value& value(std::string_view field) const;
    /// The current row's value as text, a null read as "".
    std::string text(std::string_view field) const { return value(field).toString(); }
    /// Any row's value, without moving the cursor; null out of range.
    const Value& at(std::size_t row, std::size_t field) const
    {
        static const Value null;
        return row < m_rows.size() && field < m_rows[row].size() ? m_rows[row][field] : null;
    }

  private:
    std::vector<ColumnInfo> m_columns;
    std::vector<std::vector<Value>> m_rows;
    std::size_t m_pos = 0;
};

} // namespace zs::db
