#include "db/Backend_p.h"
#include "db/Connection.h"

#include <algorithm>

namespace zs::db {

std::optional<RowReader> Connection::openReader(std::string_view sql)
{
    m_errors.clear();
    if (m_openReader != 0) {
        fail(makeError(ErrorClass::Usage, "another row reader of this connection is still open"));
        return std::nullopt;
    }
    std::vector<ColumnInfo> columns;
    if (!runSync([text = std::string(sql), &columns](Backend* b, ErrorList& errors) {
            return b->openReader(text, columns, errors);
        }))
        return std::nullopt;
    m_openReader = ++m_readers;
    return RowReader(*this, m_openReader, std::move(columns));
}

RowReader::RowReader(Connection& connection, std::uint64_t number, std::vector<ColumnInfo> columns)
    : m_connection(&connection)
    , m_alive(connection.m_shared)
    , m_number(number)
    , m_columns(std::move(columns))
{}

RowReader::RowReader(RowReader&& other) noexcept
    : m_connection(other.m_connection)
    , m_alive(std::move(other.m_alive))
    , m_number(other.m_number)
    , m_columns(std::move(other.m_columns))
    , m_values(std::move(other.m_values))
    , m_rows(other.m_rows)
    , m_end(other.m_end)
{
    other.m_connection = nullptr;
    other.m_end = true;
}

RowReader& RowReader::operator=(RowReader&& other) noexcept
{
    if (this != &other) {
        close();
        m_connection = other.m_connection;
        m_alive = std::move(other.m_alive);
        m_number = other.m_number;
        m_columns = std::move(other.m_columns);
        m_values = std::move(other.m_values);
        m_rows = other.m_rows;
        m_end = other.m_end;
        other.m_connection = nullptr;
        other.m_end = true;
    }
    return *this;
}

bool RowReader::next(std::size_t maxRows)
{
    m_rows = 0;
    if (m_end)
        return true;
    if (!m_connection || m_alive.expired() || m_connection->m_openReader != m_number) {
        // The connection was closed or reopened meanwhile: the query is gone with it.
        m_end = true;
        if (m_connection && !m_alive.expired())
            m_connection->fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
        return false;
    }
    std::size_t rows = 0;
    bool end = false;
    const bool ok = m_connection->runSync([this, maxRows, &rows, &end](Backend* b, ErrorList& errors) {
        return b->readRows(std::max<std::size_t>(maxRows, 1), m_values, rows, end, errors);
    });
    if (!ok) {
        close();
        return false;
    }
    m_rows = rows;
    if (end) {
        m_end = true;
        m_connection->m_openReader = 0; // the backend closed it at its last row
    }
    return true;
}

const Value& RowReader::at(std::size_t row, std::size_t field) const
{
    static const Value null;
    const std::size_t n = m_columns.size();
    return row < m_rows && field < n ? m_values[row * n + field] : null;
}

void RowReader::close() noexcept
{
    m_end = true;
    m_rows = 0;
    if (!m_connection || m_alive.expired() || m_connection->m_openReader != m_number)
        return;
    m_connection->m_openReader = 0;
    // Not a statement: it needs no time-out, and must not wait for an asynchronous one.
    if (!m_connection->isExecuting()) {
        ErrorList kept = m_connection->m_errors;
        std::string keptTable = m_connection->m_failedInsertTable;
        (void)m_connection->runSync([](Backend* b, ErrorList&) {
            b->closeReader();
            return true;
        });
        m_connection->m_errors = std::move(kept);
        m_connection->m_failedInsertTable = std::move(keptTable);
    }
}

} // namespace zs::db
