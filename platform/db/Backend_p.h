#pragma once
// The interface each database backend implements for Connection. Connection calls one member
// at a time: asynchronous statements on its worker thread, everything else on the caller's
// thread. interrupt() may be called from any thread and asks the statement under way (or the
// next one, until clearInterrupt()) to stop.

#include "db/Connection.h"
#include "db/ConnectionString.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zs::db {

/// A batch of rows for PostgreSQL: as COPY text (`copy`, built beside the caller's work while
/// the previous batch still runs) and, where COPY cannot serve, as one array literal a column
/// ("{1,2}", "{\"a\",NULL}"). Its strings keep their storage from batch to batch.
struct ArrayBatch {
    std::string copy;
    std::vector<std::string> arrays;
    std::vector<bool> ascii; ///< per column: the literal holds only ASCII characters
};

/// Replaces `out` by `rows` rows of `values` (a value per column, row after row) in COPY's text
/// format: fields split by tabs, rows ended by newlines, NULL as \N, backslash, tab, newline
/// and carriage return escaped, numbers in the C locale, date-times "YYYY-MM-DD HH:MM:SS".
void buildCopyRows(const Value* values, std::size_t columns, std::size_t rows, std::string& out);

/// Fills `out` with `rows` rows of `values` (one value a column, row after row).
void buildArrayBatch(const Value* values, std::size_t columns, std::size_t rows, ArrayBatch& out);

class Backend {
  public:
    virtual ~Backend() = default;

    /// Opens the target; `create` allows a SQLite file to be created (catalog creation only).
    virtual bool open(const ConnectionTarget& target, bool create, ErrorList& errors) = 0;
    virtual void close() noexcept = 0;
    virtual bool execute(const std::string& sql, ErrorList& errors) = 0;
    /// Runs `sql` as exactly one prepared statement; refused, with nothing run, when the text
    /// holds more than one.
    virtual bool executeSingle(const std::string& sql, ErrorList& errors) = 0;
    virtual bool query(const std::string& sql, RecordSet& out, ErrorList& errors) = 0;
    /// The columns of `table` (an identifier already quoted for the database).
    virtual bool describe(const std::string& table, std::vector<ColumnInfo>& out, ErrorList& errors) = 0;
    virtual bool insert(const std::string& table, const std::vector<std::string>& quotedColumns,
                        const std::vector<Value>& values, ErrorList& errors) = 0;
    /// Appends `rowCount` rows in one call: `values` holds them one after the other, a value per
    /// column; `types` are the columns' kinds (a null is bound as its column's kind).
    virtual bool insertRows(const std::string& table, const std::vector<std::string>& quotedColumns,
                            const std::vector<Value::Type>& types, const std::vector<Value>& values,
                            std::size_t rowCount, ErrorList& errors) = 0;
    /// Appends the `rows` rows of `values` (a value per column), of which `batch` holds the COPY
    /// text, in one statement. Only the PostgreSQL backend implements it.
    virtual bool insertArrays(const std::string&, const std::vector<std::string>&, const std::vector<Value::Type>&,
                              ArrayBatch&, const Value*, std::size_t, ErrorList& errors)
    {
        errors.push_back(makeError(ErrorClass::Internal,
                                   "errore interno del programma: righe in array non previste per questo database"));
        return false;
    }
    virtual bool tableNames(std::vector<std::string>& out, ErrorList& errors) = 0;

    /// Starts `sql` as the backend's one row reader, its columns in `columns`: its rows are
    /// then read by readRows a batch at a time, and none is held beyond the batch in hand.
    /// A reader still open is closed first.
    virtual bool openReader(const std::string& sql, std::vector<ColumnInfo>& columns, ErrorList& errors) = 0;
    /// Reads up to `maxRows` further rows of the reader into `values` (a value per column, row
    /// after row, overwriting the front of the vector, grown as needed); `rows` says how many,
    /// `end` whether the last row has been read.
    virtual bool readRows(std::size_t maxRows, std::vector<Value>& values, std::size_t& rows, bool& end,
                          ErrorList& errors) = 0;
    virtual void closeReader() noexcept = 0;
    virtual Dialect dialect() const = 0;
    /// `name` as a quoted identifier of this database.
    virtual std::string quoteIdentifier(std::string_view name) const = 0;

    virtual void interrupt() noexcept = 0;
    virtual void clearInterrupt() noexcept = 0;
};

std::unique_ptr<Backend> makeSqliteBackend();
std::unique_ptr<Backend> makeOdbcBackend();

/// "name" for a bracketed "[name]" or a double-quoted "\"name\""; the name itself otherwise.
std::string unbracket(std::string_view name);
/// "insert into T (a,b) values (?,?)" for already quoted names; "... default values" without columns.
std::string insertStatement(const std::string& quotedTable, const std::vector<std::string>& quotedColumns);
/// "insert into T (a,b) values (?,?),(?,?)…" with `rows` rows of marks.
std::string insertRowsStatement(const std::string& quotedTable, const std::vector<std::string>& quotedColumns,
                                std::size_t rows);
/// Whether `sql` ends after its first statement: no ';' outside texts, quoted names and comments
/// is followed by anything but blanks.
bool holdsOneStatement(std::string_view sql);
/// True for a name made only of ASCII letters, digits and '_' that does not start with a digit.
bool isPlainIdentifier(std::string_view name);

} // namespace zs::db
