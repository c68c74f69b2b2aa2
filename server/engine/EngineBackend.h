#pragma once
// What the extraction run needs of the engine's connection slot, of the step log lines and of
// the error text: the run, the job executor and the special steps talk to the target database
// only through this port. The real implementation sits over the database layer; tests use a
// recording double that pins the statements byte for byte.

#include "engine/DescriviErrore.h"
#include "program/ProgramLog.h"
#include "time/DateTime.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace zs::db {
enum class Dialect;
}

namespace zs::engine {

/// A value read from or written to the database: null, integer, floating, text or date.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string, time::DateTime>;

/// How a statement is run: synchronously, or started and then polled.
enum class ExecuteMode { Sync, Async };

/// Why the last statement failed; the job executor retries only a lost connection.
/// Internal is a fault of the program itself (out of memory inside the database layer).
enum class FailureKind { None, ConnectionLost, Rejected, TimedOut, Cancelled, Internal };

/// Appends rows to one table, each row written at once (no batch, no transaction).
class RowSink {
  public:
    virtual ~RowSink() = default;
    /// False on a database error (the error is kept for DescriviErrore).
    [[nodiscard]] virtual bool addRow(std::span<const SqlValue> values) = 0;
};

class EngineBackend {
  public:
    virtual ~EngineBackend() = default;

    // The connection slot.
    /// Opens a new connection into the slot (server or Access as the server type says), after
    /// the settings' pause; a failure has logged itself.
    [[nodiscard]] virtual bool open() = 0;
    /// After a failed open(): true when no new try can change the refusal (what stands at the
    /// database file's name is no regular file, or no database), so none is made.
    virtual bool openRefusedForGood() const { return false; }
    /// Closes and releases the slot; never fails.
    virtual void close() = 0;

    // Statements on the connection in the slot.
    virtual void setCommandTimeout(int seconds) = 0;
    /// Runs (Sync) or starts (Async) a statement that returns no rows. False when it failed
    /// (or, Async, could not be started); lastFailure() says why.
    [[nodiscard]] virtual bool execute(const std::string& sql, ExecuteMode mode) = 0;
    /// True while an Async statement is still running.
    virtual bool isExecuting() = 0;
    /// Blocks until the running statement ends or `ms` milliseconds pass.
    virtual void waitForCompletion(int ms) = 0;
    /// Asks the server to stop the running statement.
    virtual void cancel() = 0;
    /// Once an Async statement has ended: false when it failed or was cancelled.
    [[nodiscard]] virtual bool finishStatement() = 0;
    virtual FailureKind lastFailure() const = 0;
    /// Runs a query and gives the first column of its first row (null when there is no row).
    [[nodiscard]] virtual bool queryValue(const std::string& sql, SqlValue& value) = 0;
    /// The kind of database the open connection reaches (Dialect::None when none is open): what
    /// it can do, transactions among it, is the database layer's answer for that kind.
    virtual db::Dialect dialect() const { return db::Dialect{}; }
    /// Ends a transaction that a failed statement may have left open, undoing it; nothing
    /// when none is open. Its own outcome is not reported.
    virtual void rollback() {}
    /// Opens a row writer on a table (by its source text, e.g. "[Time]") for these columns;
    /// nothing on a database error.
    virtual std::unique_ptr<RowSink> openRowSink(const std::string& source, std::span<const std::string> columns) = 0;

    // Log lines of a step.
    virtual program::LogNodeId InizioPasso(const std::string& text) = 0;
    virtual program::LogNodeId DettaglioPasso(const std::string& text) = 0;
    virtual void LogSuccesso(bool success) = 0;
    /// Writes `firstLine` as an error line followed by the details of the last failure.
    virtual void DescriviErrore(const std::string& firstLine) = 0;
    /// The same for a failure that is not the database's (a value that does not convert):
    /// `current` is reported when the connection holds no errors of its own.
    virtual void DescriviErrore(const std::string& firstLine, const RunTimeError& current) = 0;
};

} // namespace zs::engine
