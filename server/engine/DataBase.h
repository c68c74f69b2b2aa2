#pragma once
// The database builder: creates the target database's tables (columns, types, sizes,
// nullability, counters, named primary keys) and linked tables from the creation XML, in the
// Access (SQLite) database, on the server, or both as the settings' ServerType says. Every
// table and link gets one result line handed to the options dialog's result box. Used by the
// options dialog's build button.

#include "db/Catalog.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zs::xml {
class Element;
}
namespace zs::program {
class MessageService;
struct ProgramSettings;
} // namespace zs::program

namespace zs::engine {

class DataBase {
  public:
    /// `settingsRoot` gives the settings document's root (read afresh by every build);
    /// `outputResponseDB` appends a piece of text to the result box (no line break added).
    DataBase(const program::ProgramSettings& settings, std::function<xml::Element()> settingsRoot,
             std::function<void(const std::string&)> outputResponseDB, program::MessageService& messages);
    ~DataBase();

    /// Builds both sides as the settings say. True when no table and no link failed; false
    /// when the creation XML cannot be read or a side's connection text cannot be made.
    bool CreaDatabase(const std::string& path);
    /// True when the database of `connection` can be opened.
    bool ApriCatalogo(const std::string& connection);
    /// Creates the database of `connection` (a new SQLite file, or CREATE DATABASE on the server).
    bool CreaCatalogo(const std::string& connection);
    /// Whether the database holds a table of exactly `name`; false when it cannot be asked.
    bool EsisteTabella(const std::string& connection, const std::string& name);
    bool CreaTabelle(const std::string& connection, const xml::Element& tabelle, bool onServer);
    /// Creates one table; on failure shows the "Errore Creazione tabelle" box and returns false.
    bool CreaTabella(const std::string& connection, const xml::Element& table, bool onServer);
    bool CreaCollegamenti(const std::string& connection, const xml::Element& collegamenti);
    /// Creates a linked table `local` in the SQLite database of `connection`, reading and
    /// writing `remote` in the database that `source` reaches. False on any error, no message.
    bool CreaTabellaCollegata(const std::string& connection, const std::string& local, const std::string& source,
                              const std::string& remote);
    void ScriviRispostaDB(const std::string& text) { m_output(text); }

    /// The definition a table element gives on one side; nothing, with the reason in `error`,
    /// for a column without type or a size that is not a number or a key column that is missing.
    static std::optional<db::TableDef> definizioneTabella(const xml::Element& table, bool onServer, std::string& error);

  private:
    /// One attached catalog per connection for the length of a build, with its table names
    /// listed once: opening a database and listing its tables for every table of a large
    /// creation XML would cost more with every table built.
    struct Session;
    Session* session(const std::string& connection);

    const program::ProgramSettings& m_settings;
    std::function<xml::Element()> m_settingsRoot;
    std::function<void(const std::string&)> m_output;
    program::MessageService& m_messages;
    std::map<std::string, std::unique_ptr<Session>> m_sessions;
};

} // namespace zs::engine
