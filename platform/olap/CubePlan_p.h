#pragma once
// The SQL of a cube's rebuild as pure functions of the cube, the target's dialect and what the
// target was found to hold: the checks of a cube's declaration, the query of its incremental
// mark and the statements that rebuild its aggregate. OlapServer runs them; tests read them.

#include "db/Connection.h"
#include "olap/OlapCatalog.h"
#include "olap/OlapServer.h"

#include <optional>
#include <string>
#include <vector>

namespace zs::olap {

/// The source the OLAP layer's own errors carry.
inline constexpr const char* kOlapSource = "ZentrikServer";

/// `name` as a double-quoted SQL name.
std::string quoteId(const std::string& name);

/// A table or column the catalog names in the target database, quoted as the target resolves
/// it where it stands unquoted (see the definition).
std::string sourceId(db::Dialect dialect, const std::string& name);

/// Why `filter` is not one SQL condition, or nothing when it is.
std::optional<std::string> notOneCondition(const std::string& filter);

/// Why `cube` (not virtual) cannot be built as declared: no fact table, a measure that is not
/// one, a filter that is not one condition. Nothing when it can.
std::optional<OlapError> cubeDefinitionError(const CubeDef& cube);

/// The columns of a cube's aggregate: its dimensions, its measures and "fact_count".
std::vector<std::string> aggregateColumns(const CubeDef& cube);

/// The query of the highest value of the cube's incremental column, above `above` when that is
/// not empty; empty when the cube has no incremental column.
std::string markQuery(db::Dialect dialect, const CubeDef& cube, const std::string& above);

/// What a cube's rebuild is planned from, beside the cube itself.
struct CubeRebuild {
    db::Dialect dialect = db::Dialect::None;
    ProcessType type = ProcessType::Full;
    std::string server;
    std::string database;
    /// The table holding the cube's previous aggregate with the cube's columns: its own, or one
    /// under a name of an earlier version; empty when there is none.
    std::string prior;
    /// The mark the facts are aggregated up to, read before the rebuild (markQuery); empty when
    /// the cube has no incremental column or no facts.
    std::string newMark;
};

/// Whether the rebuild folds the facts above the cube's mark into `rebuild.prior`, instead of
/// aggregating all the facts again: an incremental run with a base, a column and a mark.
bool mergesNewFacts(const CubeDef& cube, const CubeRebuild& rebuild);

/// The statements that rebuild the cube's aggregate, in order; none when nothing is to change.
std::vector<std::string> rebuildStatements(const CubeDef& cube, const CubeRebuild& rebuild);

} // namespace zs::olap
