#pragma once
// Connection strings: parsing "key=value;…" (values may be quoted with {…}, "…" or '…'),
// deciding which backend opens a string, translating the OLE DB keywords of settings files
// written for Windows into ODBC keywords, and masking passwords for log lines.

#include "db/Error.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::db {

struct ConnectionItem {
    std::string key;   ///< as written, blanks around it removed
    std::string value; ///< unquoted
};

class ConnectionString {
  public:
    /// Parses `text`. Empty items (";;", a final ";") are skipped. On failure returns nothing
    /// and sets `error` to a text that never quotes a value (values may hold passwords).
    static std::optional<ConnectionString> parse(std::string_view text, std::string& error);

    const std::vector<ConnectionItem>& items() const { return m_items; }
    /// The value of the first item whose key matches `key` without regard to case.
    std::optional<std::string> get(std::string_view key) const;
    void set(std::string_view key, std::string value);
    void remove(std::string_view key);
    /// Joins the items in ODBC form, quoting with {…} the values that need it.
    std::string toOdbc() const;

  private:
    std::vector<ConnectionItem> m_items;
};

/// Which backend opens a connection string, and with what.
struct ConnectionTarget {
    enum class Kind { Sqlite, Odbc } kind = Kind::Odbc;
    std::string sqlitePath; ///< the database file, for Sqlite
    std::string odbcString; ///< the string for SQLDriverConnect, for Odbc
};

/// Resolves `text`:
/// - "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<path>" (or the ACE provider, or a
///   "Data Source" without a provider) names a SQLite file; `\` separators are accepted and
///   the path is matched on disk without regard to case;
/// - "Provider=SQLOLEDB" (SQLNCLI, MSOLEDBSQL) and "Provider=MSDAORA" (OraOLEDB.Oracle) are
///   translated to ODBC keywords for the SQL Server or Oracle driver (names from
///   $ZS_ODBC_SQLSERVER_DRIVER, default "FreeTDS", and $ZS_ODBC_ORACLE_DRIVER, default
///   "Oracle"); "Provider=MSDASQL" drops the provider;
/// - a string with Driver=, DSN= or FILEDSN= is used as it stands.
/// Anything else fails with a BadArgument error.
std::optional<ConnectionTarget> resolveConnectionString(std::string_view text, Error& error);

/// `odbcString` as it goes to SQLDriverConnect. A string naming the PostgreSQL driver by
/// Driver= that sets no Protocol of its own gets "Protocol=7.4-0": the driver then leaves a
/// failed statement to the server (which aborts the transaction it is in) instead of wrapping
/// every statement of a transaction in a savepoint of its own, one more round trip each. The
/// program rolls back a transaction whose statement failed as a whole, so the savepoints would
/// never be used. Anything else, and a string that does not parse, stays as it is.
std::string withDriverDefaults(std::string_view odbcString);

/// `text` with the value of every password item (PWD, Password, … Password) replaced by "****".
/// Works on malformed strings too.
std::string maskPasswords(std::string_view text);

/// `text` with every occurrence of `secret` replaced by "****" (nothing when `secret` is empty).
std::string maskSecret(std::string_view text, std::string_view secret);

} // namespace zs::db
