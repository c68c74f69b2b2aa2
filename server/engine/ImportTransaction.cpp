#include "engine/ImportTransaction.h"

#include "db/Connection.h"

namespace zs::engine {

std::string transactionSql(db::Dialect dialect, TransactionStep step)
{
    switch (dialect) {
    case db::Dialect::Sqlite:
    case db::Dialect::PostgreSql:
    case db::Dialect::SqlServer:
        break;
    default:
        return {};
    }
    switch (step) {
    case TransactionStep::Begin:
        return dialect == db::Dialect::SqlServer ? "BEGIN TRANSACTION" : "BEGIN";
    case TransactionStep::Commit:
        return "COMMIT";
    case TransactionStep::Rollback:
        return "ROLLBACK";
    }
    return {};
}

std::string errorText(const db::Connection& c)
{
    return c.errors().empty() ? std::string("errore del database") : c.errors().front().description;
}

} // namespace zs::engine
