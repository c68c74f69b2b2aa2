#pragma once
// Linked tables of the SQLite ("Access") database: a virtual-table module that reads and
// appends to a table of another database. The database builder creates the links; the engine
// registers the module so every connection it opens can read them.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zs::dblink {

/// The module's name in CREATE VIRTUAL TABLE.
inline constexpr const char* kModuleName = "zslink";

/// Makes every SQLite connection opened from now on in this process know the module. Safe to
/// call more than once and from any thread.
void registerLinkModule();

/// The statement that creates the linked table `local` over `remote` in the database that
/// `source` reaches; every value quoted safely.
std::string createLinkSql(const std::string& local, const std::string& source, const std::string& remote);

/// What the linked tables of this process asked their sources so far, and the bytes their
/// lookup caches hold now: for diagnostics and tests.
struct LinkCounters {
    std::uint64_t sizeQueries = 0;  ///< a remote table's size asked (at most once a statement)
    std::uint64_t keyedQueries = 0; ///< lookups sent as keyed queries (one key, or a list of keys)
    std::uint64_t scanQueries = 0;  ///< queries read a batch at a time (scans, ranges)
    std::uint64_t cacheFills = 0;   ///< remote tables read into a lookup cache
    std::size_t cachedBytes = 0;
};
LinkCounters linkCounters();

/// The zs::db connection string of a link source: "ODBC;…" gives the ODBC string, a Jet
/// ";DATABASE=<path>" gives that SQLite file, anything else stands as it is.
std::string sourceConnectionString(const std::string& source);

} // namespace zs::dblink
