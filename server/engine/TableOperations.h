#pragma once
// The table operations of a step and the job executor: emptying a table, resetting its
// counter, reading the incremental maximum and running one SQL text with retries after a lost
// connection, the command time-out and a stop by the operator. Jobs and deletes run
// asynchronously on every target and are polled while the run keeps yielding to the window
// system, so a stop interrupts them; a truncate runs so on SQL Server only.

#include "engine/EngineBackend.h"
#include "program/SettingsTypes.h"

#include <string>
#include <vector>

namespace zs::engine {

struct EngineContext;

// The statements, in the dialect of the server type (exposed so they can be checked as text).
std::vector<std::string> azzeraContatoreStatements(program::ServerType tipoServer, const std::string& table,
                                                   const std::string& column, int start);
std::string cancellaTabellaStatement(const std::string& table, const std::string& condition);
std::string svuotaTabellaStatement(const std::string& table);
/// What a rejected truncate falls back to.
std::string svuotaTabellaFallback(const std::string& table);
std::string leggiMaxStatement(const std::string& table, const std::string& column);

class TableOperations {
  public:
    explicit TableOperations(const EngineContext& context)
        : m_ctx(context)
    {}

    /// Resets the table's counter to `start`; false (logged) on a database error.
    bool AzzeraContatore(const std::string& table, const std::string& column, int start);
    /// "delete from <table> <condition>", with the job executor's retries and stop handling.
    bool CancellaTabella(const std::string& table, const std::string& condition);
    /// Truncates the table (SQL Server), falling back to a delete when the server refuses.
    bool SvuotaTabella(const std::string& table);
    /// The column's maximum (null for an empty table). On failure logs, sets `*ok` false and
    /// returns an empty text.
    SqlValue LeggiMaxIncrementale(const std::string& table, const std::string& column, bool* ok = nullptr);
    /// Runs one SQL text: up to three attempts when the connection is lost (a wait of up to
    /// 60 s and a reconnection after each), none after any other failure. On Oracle the text
    /// is trimmed and loses one trailing ";" per attempt, which the caller sees.
    bool EseguiJob(std::string& sql);

  private:
    enum class Kind { Job, Delete, Truncate };
    bool runLoop(std::string& sql, Kind kind, const std::string& table);
    /// Waits for a started statement to end while the run yields; a stop cancels it and waits
    /// for its end all the same, so that its outcome tells whether it did its work.
    void poll(bool async);
    void waitBeforeRetry();

    const EngineContext& m_ctx;
};

} // namespace zs::engine
