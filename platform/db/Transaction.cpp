#include "db/Transaction.h"

#include <utility>

namespace zs::db {

bool hasTransactions(Dialect dialect)
{
    return !beginStatement(dialect).empty();
}

std::string beginStatement(Dialect dialect)
{
    switch (dialect) {
    case Dialect::Sqlite:
    case Dialect::PostgreSql:
        return "BEGIN";
    case Dialect::SqlServer:
        return "BEGIN TRANSACTION";
    default:
        return {};
    }
}

std::string lockTableStatement(Dialect dialect, const std::string& table)
{
    switch (dialect) {
    case Dialect::PostgreSql:
        return "LOCK TABLE " + table + " IN EXCLUSIVE MODE";
    case Dialect::SqlServer:
        // A read that takes the table's exclusive lock and holds it to the transaction's end.
        return "SELECT TOP 1 1 FROM " + table + " WITH (TABLOCKX, HOLDLOCK)";
    default:
        return {};
    }
}

std::string transactionText(Dialect dialect, const std::vector<std::string>& statements)
{
    std::string begin = beginStatement(dialect);
    if (begin.empty())
        return {};
    // Without XACT_ABORT a failed statement of a SQL Server batch lets the batch go on to its
    // COMMIT, and a cancel leaves the transaction open.
    std::string text = dialect == Dialect::SqlServer ? "SET XACT_ABORT ON; " + begin : std::move(begin);
    for (const std::string& s : statements)
        text += "; " + s;
    return text + "; COMMIT";
}

bool Transaction::begin()
{
    if (m_active)
        return true;
    const std::string sql = beginStatement(m_c.dialect());
    if (sql.empty()) {
        m_c.m_errors.clear();
        if (!m_c.isOpen())
            return m_c.fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
        return m_c.fail(makeError(ErrorClass::Rejected, "this database takes no transaction statements"));
    }
    m_active = m_c.execute(sql);
    return m_active;
}

bool Transaction::commit()
{
    if (!m_active)
        return true;
    if (!m_c.execute("COMMIT"))
        return false;
    m_active = false;
    return true;
}

void Transaction::rollback() noexcept
{
    if (!m_active)
        return;
    m_active = false;
    // What the failure that led here said stays the connection's errors.
    ErrorList errors = std::move(m_c.m_errors);
    std::string failedTable = std::move(m_c.m_failedInsertTable);
    if (m_c.isExecuting())
        (void)m_c.cancel();
    (void)m_c.settleInsert();
    (void)m_c.execute("ROLLBACK");
    m_c.m_errors = std::move(errors);
    m_c.m_failedInsertTable = std::move(failedTable);
}

} // namespace zs::db
