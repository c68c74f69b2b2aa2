#pragma once
// The errors of a database operation, as the engine reads and logs them: each with the
// provider's number, description, source and SQLSTATE or native code, and one class that
// tells the engine what to do next (retry after a lost connection, give up on a rejected
// statement, report a time-out or a fault of the program itself).

#include <cstdint>
#include <string>
#include <vector>

namespace zs::db {

/// What kind of failure an operation met.
enum class ErrorClass {
    None,           ///< no failure
    Connect,        ///< the connection could not be opened (server unreachable, login refused, missing file)
    ConnectionLost, ///< the connection broke or the database was busy: worth a reconnection and a retry
    Rejected,       ///< the database refused the statement (syntax, missing table, constraint)
    Timeout,        ///< the command time-out ended the statement
    Cancelled,      ///< cancel() ended the statement
    BadArgument,    ///< a malformed connection string, an unknown provider or field, a wrong value
    Usage,          ///< the object was not in a state that allows the call (closed, busy)
    Internal,       ///< a fault inside this layer (out of memory, a statement too long to build): never retried
};

/// The numbers the engine compares and logs, in the provider's HRESULT form.
inline constexpr std::int32_t kErrUnspecified = static_cast<std::int32_t>(0x80004005); ///< connection lost, open failed
inline constexpr std::int32_t kErrRejected = static_cast<std::int32_t>(0x80040E14);    ///< statement rejected
inline constexpr std::int32_t kErrIntegrity = static_cast<std::int32_t>(0x80040E2F);   ///< constraint violated
inline constexpr std::int32_t kErrTimeout = static_cast<std::int32_t>(0x80040E31);     ///< time-out expired
inline constexpr std::int32_t kErrCancelled = static_cast<std::int32_t>(0x80040E4E);   ///< operation cancelled
inline constexpr std::int32_t kErrBadArgument = static_cast<std::int32_t>(0x800A0BB9); ///< wrong arguments
inline constexpr std::int32_t kErrNotFound = static_cast<std::int32_t>(0x800A0CC1);    ///< item not in the collection
inline constexpr std::int32_t kErrNoProvider = static_cast<std::int32_t>(0x800A0E7A);  ///< provider cannot be found
inline constexpr std::int32_t kErrClosed = static_cast<std::int32_t>(0x800A0E78);      ///< object is closed
inline constexpr std::int32_t kErrBusy = static_cast<std::int32_t>(0x800A0E7F);        ///< operation still executing

/// The number that goes with a class when the backend has none of its own.
std::int32_t defaultNumber(ErrorClass kind);

struct Error {
    std::int32_t number = 0;      ///< HRESULT form, see the constants above
    std::string description;      ///< the database's or driver's own text
    std::string source;           ///< "SQLite", "ODBC psqlodbcw.so", "ZentrikServer" …
    std::string sqlState;         ///< five characters from ODBC; empty for SQLite
    std::int32_t nativeError = 0; ///< SQLite's extended result code or the driver's native number
    ErrorClass kind = ErrorClass::None;
    /// No wait and no new try can change the outcome: what stands at the file's name is no
    /// regular file, or no database. Set by the open of a SQLite file.
    bool lasting = false;
};

using ErrorList = std::vector<Error>;

/// An error made by this layer itself (no database involved).
Error makeError(ErrorClass kind, std::string description, std::string source = "ZentrikServer");

} // namespace zs::db
