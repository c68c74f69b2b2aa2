#pragma once
// How the import reports a statement the target refused: the database's own first word on it.

#include <string>

namespace zs::db {
class Connection;
} // namespace zs::db

namespace zs::engine {

/// The connection's first error, or a generic text when it gave none.
std::string errorText(const db::Connection& c);

} // namespace zs::engine
