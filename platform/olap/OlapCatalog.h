#pragma once
// The catalog of one OLAP server: the file `olap-<server>.xml` in the program folder that
// declares its databases, their shared dimensions, cubes and virtual cubes. The file is the
// operator's: the program only reads it. What processing leaves behind (state, times,
// estimated rows, incremental mark) lives in the target database beside the aggregates
// (OlapServer), so it changes in the same transaction as the tables it describes.

#include "time/DateTime.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zs::olap {

/// A failure of the OLAP layer: the number (HRESULT form), the description and the source.
struct OlapError {
    std::int32_t number = 0;
    std::string description;
    std::string source;
};

inline constexpr std::int32_t kErrOlapNotFound = static_cast<std::int32_t>(0x80040002); ///< no such object
inline constexpr std::int32_t kErrOlapCatalog =
    static_cast<std::int32_t>(0x80040003); ///< catalog unreadable or unsaved
inline constexpr std::int32_t kErrOlapDefinition = static_cast<std::int32_t>(0x80040004); ///< object badly declared
inline constexpr std::int32_t kErrOlapNotConnected = static_cast<std::int32_t>(0x80040005);

/// The processing state of an object: never processed, or processed.
inline constexpr int kStateUnprocessed = 0;
inline constexpr int kStateProcessed = 1;
/// subClassType of a virtual cube.
inline constexpr int kSubClassVirtual = 1;

/// The name of a table processing keeps for `object` of OLAP database `database` on OLAP
/// server `server`. Its body is the length of the server name, "_", the server name, "_", the
/// length of the database name, "_", the database name, "_", the object name: the lengths keep
/// two servers and two databases apart whatever their names hold. Between `prefix` and the body
/// stand "u", the case of the body's letters in hex digits (four letters a digit, upper case 1,
/// the first letter the highest bit, trailing zeros left out) and "_": cube "totale" of database
/// "vendite" is `olap_u_4_demo_7_vendite_totale` on server "demo" and
/// `olap_u8_4_Demo_7_vendite_totale` on server "Demo". Two names that differ only in letter case thus
/// never give two table names that do, and targets that ignore the case of table names (SQLite)
/// keep them apart as well. A name longer than the 63 bytes PostgreSQL keeps is shortened and
/// ends in a hash of the whole name.
std::string olapTableName(const std::string& prefix, const std::string& server, const std::string& database,
                          const std::string& object);
/// The name tables had before names carried the case of their letters: `prefix` and the body
/// as it stands, whatever its case. Read only (on SQLite, names differing only in case met there).
std::string earlierOlapTableName(const std::string& prefix, const std::string& server, const std::string& database,
                                 const std::string& object);
/// The name tables had before they carried the server: the database and the object only.
std::string olapTableName(const std::string& prefix, const std::string& database, const std::string& object);

/// A name an earlier version gave an object's table, still read (as the base of an incremental
/// run) when the object has no table under its own name, and what the name was made of beside
/// the object's name: the server and the database, each when the name carried it.
struct EarlierTableName {
    std::string table;
    std::optional<std::string> server;
    std::optional<std::string> database;
};

/// A shared dimension: the distinct members of one column of a table.
struct DimensionDef {
    std::string name;
    std::string table;  ///< source table (or view) in the target database
    std::string column; ///< the member column
    int state = kStateUnprocessed;
    std::optional<time::DateTime> lastProcessed;

    /// The member table processing builds in the target database.
    std::string memberTable(const std::string& server, const std::string& database) const
    {
        return olapTableName("olapdim_", server, database, name);
    }
};

/// A cube's use of a dimension: the dimension's name and the fact-table column holding it.
struct CubeDimension {
    std::string name;
    std::string column;
};

struct Measure {
    std::string name;
    std::string column;
    std::string aggregate = "sum"; ///< sum, count, min or max
};

/// A cube (subClassType 0) over a fact table, or a virtual cube (subClassType 1) over others.
struct CubeDef {
    std::string name;
    int subClassType = 0;
    std::string description;
    std::string defaultMeasure;
    std::vector<std::string> dataSources;
    std::string sourceTable; ///< fact table
    std::string sourceTableAlias;
    std::string sourceTableFilter; ///< a condition on the fact table, or empty
    int olapMode = 0;
    int processOptimizationMode = 0;
    /// A column that grows with every new fact: incremental processing adds the facts above
    /// the mark left by the last processing. Empty: incremental processing rebuilds.
    std::string incrementalColumn;
    std::vector<CubeDimension> dimensions;
    std::vector<Measure> measures;
    std::vector<std::string> sourceCubes; ///< virtual cubes only

    int state = kStateUnprocessed;
    std::optional<time::DateTime> lastProcessed;
    std::optional<time::DateTime> lastUpdated;
    double estimatedRows = 0;
    double estimatedSize = 0;
    std::string incrementalMark; ///< highest incrementalColumn value aggregated so far

    bool isVirtual() const { return subClassType == kSubClassVirtual; }
    /// The aggregate table processing builds in the target database.
    std::string aggregateTable(const std::string& server, const std::string& database) const
    {
        return olapTableName("olap_", server, database, name);
    }
    /// The names earlier versions gave the aggregate, newest first (see EarlierTableName).
    std::vector<EarlierTableName> earlierAggregateTables(const std::string& server, const std::string& database) const;
};

struct OlapDatabaseDef {
    std::string name;
    std::string connectionString; ///< the target database, as platform/db opens it
    std::vector<DimensionDef> dimensions;
    std::vector<CubeDef> cubes; ///< regular and virtual, in declaration order

    /// The cube of that exact name, or null: found through an index, so a lookup costs the same
    /// however many cubes the database holds.
    CubeDef* cube(const std::string& name);
    DimensionDef* dimension(const std::string& name);

  private:
    std::unordered_map<std::string, std::size_t> m_cubeIndex; ///< first cube of each name
    std::size_t m_indexedCubes = 0;                           ///< cubes.size() when it was built
};

struct OlapCatalog {
    std::string server;
    std::vector<OlapDatabaseDef> databases;

    /// The database of that exact name, or null.
    OlapDatabaseDef* database(const std::string& name);
};

/// The catalog file of `server` in `folder`: "olap-<server>.xml". Nothing for a name that
/// could leave the folder (empty, or holding a path separator or "..").
std::optional<std::filesystem::path> catalogPath(const std::filesystem::path& folder, const std::string& server);

/// Reads a catalog file. Nothing, with `error`, when it is missing or malformed. State
/// attributes that catalogs rewritten by earlier versions carry are read as the objects'
/// starting state.
std::optional<OlapCatalog> loadCatalog(const std::filesystem::path& file, OlapError* error = nullptr);

/// How many catalog files this process has read (loadCatalog calls): for the start-up check
/// and the benchmark.
std::size_t catalogReads();

} // namespace zs::olap
