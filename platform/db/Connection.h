#pragma once
// A connection to one database, as the engine uses it: open from a connection string, run
// statements synchronously or asynchronously (polled, waited for with a bound, cancelled from
// the caller's thread), a command time-out, the errors of the last failure, record sets for
// reading and a row writer for appending. SQLite files and ODBC data sources behind one API.
//
// Asynchronous statements run on the connection's own worker thread; synchronous calls run on
// the caller's thread, under the same time-out and cancel. The public members are meant for
// one owning thread (the engine's), except cancel(), which any thread may call.

#include "db/Error.h"
#include "db/RecordSet.h"
#include "db/Value.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::db {

class Backend;
class RowReader;
class RowWriter;
struct ArrayBatch;
struct ConnectionShared;

/// Bits of Connection::state(), with the values the engine compares.
inline constexpr int kStateClosed = 0;
inline constexpr int kStateOpen = 1;
inline constexpr int kStateExecuting = 4;

/// Test support: a function every connection calls inside each of its jobs (a statement, a batch
/// of rows, an open), before the job's own work; one that throws stands for a fault inside this
/// layer, such as memory running out. Null (the default) for none.
void setJobFaultHook(void (*hook)());

/// Which database product sits behind an open connection.
enum class Dialect { None, Sqlite, PostgreSql, SqlServer, Oracle, OtherOdbc };

class Connection {
  public:
    Connection();
    /// Closes the connection (cancelling a statement still running) and stops its worker.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Opens `connectionString` (see ConnectionString.h for the accepted forms). The string is
    /// kept even when the open fails. False on failure, with the reasons in errors(); a missing
    /// SQLite file is never created.
    [[nodiscard]] bool open(const std::string& connectionString);
    /// Closes; never fails. A statement still running is cancelled first.
    void close() noexcept;

    /// The string given to open().
    const std::string& connectionString() const { return m_connectionString; }
    /// The connection string as the connection reports it: the one given, its passwords masked.
    std::string reportedConnectionString() const;

    /// kStateClosed, or kStateOpen with kStateExecuting added while a statement runs.
    int state() const;
    bool isOpen() const { return (state() & kStateOpen) != 0; }
    bool isExecuting() const { return (state() & kStateExecuting) != 0; }
    /// The product behind the open connection; None while closed.
    Dialect dialect() const;

    /// Seconds a statement may run before it is ended with a Timeout error; 0 means no limit.
    /// 30 by default. Applies to the statements started after the call.
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds < 0 ? 0 : seconds; }
    int commandTimeout() const { return m_commandTimeout; }
    /// Bounds the statements started from now on by `seconds` in all (0 lifts the bound): each
    /// one ends with a Timeout error when its command time-out or the rest of the bound runs
    /// out, whichever comes first, so several statements that wait in turn wait one bound.
    void setTimeBudget(int seconds);

    /// Runs `sql` and waits for its end; no records are returned. False on failure (errors()).
    [[nodiscard]] bool execute(std::string_view sql);

    /// Runs `sql` as exactly one prepared statement and waits for its end. A text holding more
    /// than one statement is refused (Rejected) and nothing of it runs.
    [[nodiscard]] bool executeSingle(std::string_view sql);

    /// Starts `sql` and returns at once. False (with errors()) when it cannot start: the
    /// connection is closed or another statement still runs. Poll isExecuting() or waitFor(),
    /// then collect the outcome with endExecute().
    [[nodiscard]] bool executeAsync(std::string_view sql);
    /// Waits up to `timeout` for the running statement to end; true when none runs any more.
    bool waitFor(std::chrono::milliseconds timeout);
    /// The outcome of the last asynchronous statement, once it has ended: true when it
    /// succeeded, false with errors() when it failed, was cancelled or timed out. Waits for
    /// the statement when it still runs.
    [[nodiscard]] bool endExecute();
    /// Cancels the running statement (from any thread) and waits up to `wait` for it to stop.
    /// True when no statement runs any more. A statement that ended this way fails with a
    /// Cancelled error.
    bool cancel(std::chrono::milliseconds wait = std::chrono::seconds(5));

    /// Runs a query and reads all its rows. Nothing on failure (errors()).
    [[nodiscard]] std::optional<RecordSet> query(std::string_view sql);

    /// A reader of the rows of `sql`, read a batch at a time (see RowReader). Nothing when the
    /// query fails (errors()) or another reader of this connection is still open.
    [[nodiscard]] std::optional<RowReader> openReader(std::string_view sql);

    /// A writer appending rows to `table` (a name, bracketed or not). Nothing when the table
    /// cannot be read (errors()).
    [[nodiscard]] std::optional<RowWriter> openRowWriter(std::string_view table);

    /// The names of the database's tables and views, as the database stores them: on a server,
    /// only those of the schema the connection's unqualified names go to (PostgreSQL's current
    /// schema, the login's default schema on SQL Server).
    [[nodiscard]] std::optional<std::vector<std::string>> tableNames();

    /// Waits for the rows a row writer's queue() or flush(false) left being written; false
    /// with their errors. Every other call waits for them first and fails with those errors.
    [[nodiscard]] bool settleInsert();

    /// The table whose queued rows (a row writer's queue() or flush(false)) the last failure
    /// refused: such a failure shows at a later call, perhaps another table's. Empty when the
    /// last failure was not one of those writes; meaningful only after a failure.
    const std::string& failedInsertTable() const { return m_failedInsertTable; }

    /// The errors of the last failed call; emptied when a call starts.
    const ErrorList& errors() const { return m_errors; }
    /// The class of the last failure (None when the last call succeeded).
    ErrorClass lastErrorClass() const { return m_errors.empty() ? ErrorClass::None : m_errors.front().kind; }
    void clearErrors() { m_errors.clear(); }

  private:
    friend class RowReader;
    friend class RowWriter;
    friend class Catalog;
    friend class Transaction;
    bool openImpl(const std::string& connectionString, bool create);
    bool fail(Error e);
    bool fail(ErrorList errors);
    bool requireIdle();
    bool runStatement(std::string_view sql, bool async);
    /// Runs one job on the caller's thread, under the time-out and open to cancel(): the checks
    /// every synchronous call shares (idle, open), then the job's own errors. False with
    /// errors() filled on failure.
    bool runSync(std::function<bool(Backend*, ErrorList&)> job);
    bool insertRow(const std::string& table, const std::vector<std::string>& columns, const std::vector<Value>& values);
    bool insertRows(std::string table, std::vector<std::string> columns, std::vector<Value::Type> types,
                    std::vector<Value> values, std::size_t rows);

    /// The emptied storage of a batch already written (none yet: an empty vector).
    std::vector<Value> takeSpareValues();

    /// The quoted names of `table` and `columns` for `b`, kept from the last call.
    void quoteNames(Backend& b, const std::string& table, const std::vector<std::string>& columns);

    /// The names of the last inserted row, quoted once for a whole run of rows.
    struct InsertNames {
        std::string table;
        std::vector<std::string> columns;
        std::string quotedTable;
        std::vector<std::string> quotedColumns;
    };

    std::shared_ptr<ConnectionShared> m_shared;
    InsertNames m_insertNames;
    // The array literals of the batch being built and of the one the worker may be writing.
    std::unique_ptr<ArrayBatch[]> m_arrayBatches;
    int m_nextArrayBatch = 0;
    /// The job on the worker whose outcome is still to be collected: an asynchronous statement's
    /// (endExecute()) or a batch of rows' (settleInsert()). Starting another job settles the last.
    enum class Pending { None, Statement, Rows };

    std::string m_connectionString;
    int m_commandTimeout = 30;
    ErrorList m_errors;
    Pending m_pending = Pending::None;
    std::uint64_t m_openReader = 0; // the number of this connection's open RowReader; 0: none
    std::uint64_t m_readers = 0;    // RowReaders opened so far
    std::string m_pendingInsertTable;
    std::string m_failedInsertTable;
};

/// Reads the rows of one query a batch at a time: only the batch in hand is held, by this
/// reader and by the driver below it (a PostgreSQL source is read through a server cursor when
/// its connection string asks for one, as the link sources do). Every batch is read under the
/// connection's time-out and open to cancel(), so a stop lands between two batches at the
/// latest. One reader at a time on a connection; it is closed at the end of its rows, by
/// close(), by its destruction or by the connection's. Reports its failures in its
/// connection's errors().
class RowReader {
  public:
    RowReader(RowReader&& other) noexcept;
    RowReader& operator=(RowReader&& other) noexcept;
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;
    ~RowReader() { close(); }

    const std::vector<ColumnInfo>& columns() const { return m_columns; }
    /// Reads the next batch of up to `maxRows` rows in place of the last one. False on failure
    /// (the connection's errors()), with no rows in hand; after the last row, no rows and atEnd().
    [[nodiscard]] bool next(std::size_t maxRows);
    /// Rows of the batch in hand.
    std::size_t rowCount() const { return m_rows; }
    /// A value of the batch in hand; null out of range.
    const Value& at(std::size_t row, std::size_t field) const;
    /// True once every row has been read (or the reader is closed).
    bool atEnd() const { return m_end; }
    /// Ends the query before its last row; the connection's errors() stay as they are.
    void close() noexcept;

  private:
    friend class Connection;
    RowReader(Connection& connection, std::uint64_t number, std::vector<ColumnInfo> columns);

    Connection* m_connection = nullptr;
    std::weak_ptr<ConnectionShared> m_alive; // expires with the connection
    std::uint64_t m_number = 0;              // this reader among the connection's
    std::vector<ColumnInfo> m_columns;
    std::vector<Value> m_values; // the batch in hand, row after row
    std::size_t m_rows = 0;
    bool m_end = false;
};

/// Appends rows to one table: addNew(), set the fields, then update() writes the row at once,
/// or queue() keeps it for flush(), which writes the queued rows in one call (one statement
/// prepared once; several rows a round trip on ODBC). Field names are matched without regard
/// to case; values are converted to the field's type when set, as the database column would
/// store them. Reports its failures in its connection's errors(); once the connection is
/// destroyed every call fails.
class RowWriter {
  public:
    /// Starts a new, empty row (every field null).
    void addNew();
    /// Sets a field of the new row. False (with the connection's errors()) for an unknown
    /// field or a value that does not convert to the field's type.
    [[nodiscard]] bool set(std::string_view field, const Value& value);
    /// The value set for a field of the new row, as converted; null when unset or unknown.
    const Value& get(std::string_view field) const;
    /// Writes the new row at once. False on failure (the connection's errors()).
    [[nodiscard]] bool update();

    /// The position of a field among columns(), names matched without regard to case.
    std::optional<std::size_t> fieldIndex(std::string_view field) const { return indexOf(field); }
    /// set() by position.
    [[nodiscard]] bool setAt(std::size_t index, const Value& value);
    /// setAt() taking over the value's text when the field keeps it as it is.
    [[nodiscard]] bool setAt(std::size_t index, Value&& value);
    /// Keeps the new row for flush(). Rows that set other fields than the queued ones are
    /// written first, and a full batch is written: on the connection's worker, while the
    /// caller goes on; the next call on the connection waits for it. False when a write failed
    /// (the connection's errors()); the rows of a failed write are dropped.
    [[nodiscard]] bool queue();
    /// Writes the queued rows and, unless `wait` is false, waits until every batch the
    /// connection is writing is in. True when there was nothing to write.
    [[nodiscard]] bool flush(bool wait = true);
    std::size_t queued() const { return m_batchRows; }
    /// Whether queue() of the new row as it stands would first write the queued rows.
    bool wouldWrite() const { return m_batchRows > 0 && (m_set != m_batchSet || m_batchRows + 1 >= kBatchRows); }
    /// Rows a batch holds before queue() writes it.
    static constexpr std::size_t kBatchRows = 2000;

    const std::vector<ColumnInfo>& columns() const { return m_columns; }

  private:
    friend class Connection;
    RowWriter(Connection& connection, std::string table, std::vector<ColumnInfo> columns);
    std::optional<std::size_t> indexOf(std::string_view field) const;

    Connection* m_connection;
    std::weak_ptr<ConnectionShared> m_alive; // expires with the connection
    std::string m_table;
    std::vector<ColumnInfo> m_columns;
    std::vector<std::string> m_names;
    std::vector<Value> m_row;
    std::vector<bool> m_set;
    // The fields of the row being written, kept between rows so their storage is reused.
    std::vector<std::string> m_updateColumns;
    std::vector<Value> m_updateValues;
    // The queued rows: the fields they set, those fields' kinds, their values row after row.
    std::vector<bool> m_batchSet;
    std::vector<std::string> m_batchColumns;
    std::vector<Value::Type> m_batchTypes;
    std::vector<Value> m_batchValues;
    std::size_t m_batchRows = 0;
};

} // namespace zs::db
