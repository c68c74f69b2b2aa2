#pragma once
// The STAGE and SINCRONIA steps: copying ERP tables through a SQL Server linked server into
// local "STA_" staging tables, and copying tables into their "SQLServer_" twins. Both build
// their statements here and run them through the job executor.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zs::engine {

struct EngineContext;

/// The staging statement for "table;linkedserver[;appended text[;column list]]"; nothing when
/// the text lacks the linked server.
std::optional<std::string> stageStatement(const std::string& jobText);
/// The delete and insert statements for each table of "CLIENTI,TIME".
std::vector<std::pair<std::string, std::string>> syncStatements(const std::string& tables);

class Staging {
  public:
    explicit Staging(const EngineContext& context)
        : m_ctx(context)
    {}

    /// Runs the staging statement through the job executor; a text without a linked server is
    /// logged and fails.
    bool CaricaStage(const std::string& jobText);
    /// For each table: empties its twin, then fills it. False when any statement failed; the
    /// insert is never run after a failed delete, and a stop ends the loop.
    bool Sincronizza(const std::string& tables);

  private:
    const EngineContext& m_ctx;
};

} // namespace zs::engine
