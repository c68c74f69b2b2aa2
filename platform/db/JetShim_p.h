#pragma once
// The Jet SQL that the engine itself writes for its "Access" database, recognised so that the
// SQLite backend can run it: "delete * from T" and the counter reset
// "ALTER TABLE T ALTER COLUMN C COUNTER (start, step)". Bracketed names run on SQLite as they are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zs::db {

struct CounterReset {
    std::string table;  ///< unbracketed
    std::string column; ///< unbracketed
    std::int64_t start = 1;
    std::int64_t step = 1;
};

/// The counter reset that `sql` asks for, if it is one.
std::optional<CounterReset> parseCounterReset(std::string_view sql);

/// `sql` with the Jet-only forms rewritten for SQLite ("delete * from" → "delete from").
std::string rewriteJetSql(std::string_view sql);

} // namespace zs::db
