#pragma once
// The database side of an imported file's transaction, in one place so that how the import
// opens and ends a transaction can change without touching the import: the statements as the
// target's dialect spells them, and the text a failed statement is reported with.

#include <string>

namespace zs::db {
class Connection;
enum class Dialect;
} // namespace zs::db

namespace zs::engine {

enum class TransactionStep { Begin, Commit, Rollback };

/// The statement of `step` on `dialect`; empty on a target where the import runs without a
/// transaction of its own.
std::string transactionSql(db::Dialect dialect, TransactionStep step);

/// The connection's first error, or a generic text when it gave none.
std::string errorText(const db::Connection& c);

} // namespace zs::engine
