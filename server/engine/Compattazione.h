#pragma once
// Compaction of the Access (SQLite) database, the COMPATTA step: the file is rebuilt in place
// by VACUUM, which SQLite makes atomic, so a failure at any point leaves the database as it was
// (never deleted and renamed over). Used by EngineSteps.

#include <functional>
#include <string>

namespace zs::program {
class ProgramLog;
class YieldHook;
struct ProgramSettings;
} // namespace zs::program

namespace zs::engine {

class Compattazione {
  public:
    /// `askRetry` shows "…Vuoi riprovare?" (Retry/Cancel) and says whether to retry; without it
    /// a database held by another user is not waited for.
    Compattazione(program::ProgramLog& log, const program::ProgramSettings& settings, program::YieldHook& yield,
                  std::function<bool(const std::string& text, const std::string& title)> askRetry = {});

    /// Compacts the database file. True when it was compacted; a failure is logged under the
    /// current step line and leaves the file untouched.
    bool CompattaDatabase(const std::string& path);

    /// The old temporary name of a compaction: every ".mdb" replaced by ".temp".
    static std::string percorsoTemporaneo(const std::string& path);

  private:
    void fail(const std::string& text);

    program::ProgramLog& m_log;
    const program::ProgramSettings& m_settings;
    program::YieldHook& m_yield;
    std::function<bool(const std::string&, const std::string&)> m_askRetry;
};

} // namespace zs::engine
