#pragma once
// One OLAP server as the cube window uses it: connect by name (which loads the server's
// catalog from the program folder), find a database, list its dimensions and cubes, and
// process them. Processing rebuilds real aggregate tables in the database's target database
// through platform/db and records each object's state and times in the table `olap_stato`
// of that database, in the same transaction as the rebuild: an object is rebuilt and
// recorded whole or not at all. The catalog file is never written. Qt-free; one owning thread.

#include "olap/OlapCatalog.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zs::db {
class Connection;
}
namespace zs::time {
class Clock;
}

namespace zs::olap {

/// How an object is processed. Full rebuilds the aggregate table from scratch; RefreshData
/// keeps the table and reloads its rows; Incremental adds only the facts above the mark of
/// the last processing (a full rebuild when there is no mark yet). Default is Full.
enum class ProcessType { Default = 0, Full = 1, RefreshData = 2, Incremental = 3 };

class OlapServer {
  public:
    /// `folder` holds the catalog files; `clock` stamps the processing times.
    OlapServer(std::filesystem::path folder, const time::Clock& clock);
    ~OlapServer();
    OlapServer(const OlapServer&) = delete;
    OlapServer& operator=(const OlapServer&) = delete;

    /// Loads the catalog of `server`. False, with `error`, when the server has no readable
    /// catalog; State() is then 0.
    [[nodiscard]] bool Connect(const std::string& server, OlapError* error = nullptr);
    static constexpr int kStateConnected = 1;
    /// kStateConnected when connected, 0 otherwise.
    int State() const { return m_catalog ? kStateConnected : 0; }
    /// Closes the target connections and forgets the catalog.
    void CloseServer();
    /// Seconds each statement on a target database may run (0: no limit, the default); applies
    /// to the connections opened after the call.
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds < 0 ? 0 : seconds; }

    /// The database of that exact name, or null (also when not connected). Valid until
    /// CloseServer() or the next Connect().
    OlapDatabaseDef* database(const std::string& name);
    const OlapCatalog* catalog() const { return m_catalog ? &*m_catalog : nullptr; }

    /// Reads the processing state of `database`'s objects from its target database (once per
    /// connection; later calls return at once). False with `error` when the target cannot be
    /// reached: the objects then show the state the catalog gave them.
    [[nodiscard]] bool loadState(const std::string& database, OlapError* error = nullptr);

    /// Processes one shared dimension of `database`. False with `error` when it failed; the
    /// dimension then keeps its previous members, state and time.
    [[nodiscard]] bool processDimension(const std::string& database, const std::string& dimension, ProcessType type,
                                        OlapError* error = nullptr);
    /// Processes one cube (a virtual cube checks that its source cubes are processed). False
    /// with `error` when it failed; the cube then keeps its previous aggregate, state and time.
    [[nodiscard]] bool processCube(const std::string& database, const std::string& cube, ProcessType type,
                                   OlapError* error = nullptr);

    /// Called while an object is processed with its name and the rows handled so far.
    std::function<void(const std::string& object, long counter)> onProgress;
    /// Tests: called before each statement of a rebuild; true makes that statement fail as if
    /// the database had refused it.
    std::function<bool(const std::string& sql)> failStatement;

  private:
    /// database(name), or null with kErrOlapNotFound in `error`.
    OlapDatabaseDef* existingDatabase(const std::string& name, OlapError* error);
    db::Connection* target(OlapDatabaseDef& db, OlapError* error);
    bool readState(OlapDatabaseDef& db, db::Connection& c);
    bool buildVirtualCube(OlapDatabaseDef& db, CubeDef& cube, OlapError* error);

    std::filesystem::path m_folder;
    const time::Clock& m_clock;
    std::optional<OlapCatalog> m_catalog;
    std::filesystem::path m_file;
    std::string m_server;
    std::map<std::string, std::unique_ptr<db::Connection>> m_connections;
    std::map<std::string, bool> m_stateRead; ///< by database name
    int m_commandTimeout = 0;
    /// By database name: this connection committed a state row into an olap_stato keyed by server.
    std::map<std::string, bool> m_stateKeyed;
};

} // namespace zs::olap
