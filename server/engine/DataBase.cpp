#include "engine/DataBase.h"

#include "db/Catalog.h"
#include "db/Connection.h"
#include "dblink/LinkModule.h"
#include "engine/Connessioni.h"
#include "engine/EngineStrings.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

#include <charconv>
#include <optional>
#include <unordered_set>

namespace zs::engine {
namespace {

const char* const kCrLf = "\r\n";

/// The text of the settings root's child of this name, compared upper-cased as the settings
/// reader compares it (so `SERVERTYPE` and `ServerType` are the same setting; the last one
/// wins, as there); nothing when it is missing.
std::optional<std::string> settingsChild(const xml::Element& root, const std::string& name)
{
    std::optional<std::string> text;
    for (const xml::Element& e : root.children())
        if (upper(e.localName()) == upper(name))
            text = e.text();
    return text;
}

struct TableError {
    std::int32_t number = 0;
    std::string description;
};

TableError fromDb(const db::ErrorList& errors)
{
    if (errors.empty())
        return {db::kErrUnspecified, "Errore non specificato"};
    return {errors.front().number, errors.front().description};
}

/// Why the database of `connection` cannot be attached.
TableError attachError(const std::string& connection)
{
    db::Catalog catalog;
    return catalog.attach(connection) ? TableError{db::kErrUnspecified, "Errore non specificato"}
                                      : fromDb(catalog.errors());
}

/// Builds the definition of one table element; a description of the fault when it has one
/// the database would not get to see (a column without type, a size that is not a number).
std::optional<db::TableDef> tableDef(const xml::Element& element, bool onServer, TableError& error)
{
    db::TableDef def;
    def.name = element.localName();
    for (const xml::Element& child : element.children()) {
        if (upper(child.localName()) == "CHIAVE") {
            db::KeyDef key;
            key.name = def.name + "_PrimaryKey";
            key.columns = split(child.text(), ','); // taken as they stand, blanks included
            def.primaryKey = std::move(key);
            continue;
        }
        db::ColumnDef col;
        col.name = child.localName();
        const std::string text = child.text();
        if (text.empty()) {
            error = {db::kErrBadArgument, "Tipo mancante per la colonna " + col.name};
            return std::nullopt;
        }
        const std::vector<std::string> items = split(text, ',');
        const std::string type = upper(items[0]);
        if (type == "INTEGER")
            col.type = db::ColumnType::Integer;
        else if (type == "FLOAT")
            col.type = db::ColumnType::Double;
        else if (type == "CHAR")
            col.type = db::ColumnType::WChar;
        else if (type == "BOOLEAN")
            col.type = db::ColumnType::Boolean;
        else if (type == "DATE")
            col.type = onServer ? db::ColumnType::Timestamp : db::ColumnType::Date;
        if (items.size() > 1) {
            const std::string size = trim(items[1]);
            if (!size.empty()) {
                int value = 0;
                const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), value);
                if (ec != std::errc() || end != size.data() + size.size() || value < 0) {
                    error = {db::kErrBadArgument, "Dimensione non valida per la colonna " + col.name + ": " + size};
                    return std::nullopt;
                }
                col.size = value;
            }
        }
        col.nullable = true;
        for (std::size_t i = 2; i < items.size(); ++i) {
            const std::string flag = upper(items[i]);
            if (flag == "AUTOINCREMENT" && !onServer)
                col.autoIncrement = true;
            else if (flag == "NOTNULL" && (onServer || !col.autoIncrement))
                col.nullable = false;
        }
        def.columns.push_back(std::move(col));
    }
    if (def.primaryKey) {
        for (const std::string& k : def.primaryKey->columns) {
            bool found = false;
            for (const auto& c : def.columns)
                found = found || c.name == k;
            if (!found) {
                error = {db::kErrNotFound, "La colonna della chiave non esiste: '" + k + "'"};
                return std::nullopt;
            }
        }
    }
    return def;
}

} // namespace

std::optional<db::TableDef> DataBase::definizioneTabella(const xml::Element& table, bool onServer, std::string& error)
{
    TableError e;
    auto def = tableDef(table, onServer, e);
    if (!def)
        error = e.description;
    return def;
}

DataBase::DataBase(const program::ProgramSettings& settings, std::function<xml::Element()> settingsRoot,
                   std::function<void(const std::string&)> outputResponseDB, program::MessageService& messages)
    : m_settings(settings)
    , m_settingsRoot(std::move(settingsRoot))
    , m_output(std::move(outputResponseDB))
    , m_messages(messages)
{
    dblink::registerLinkModule();
}

struct DataBase::Session {
    db::Catalog catalog;
    std::unordered_set<std::string> tables; ///< as the database stores their names
};

DataBase::~DataBase() = default;

DataBase::Session* DataBase::session(const std::string& connection)
{
    auto& slot = m_sessions[connection];
    if (!slot) {
        auto s = std::make_unique<Session>();
        if (!s->catalog.attach(connection))
            return nullptr;
        auto names = s->catalog.tableNames();
        if (!names)
            return nullptr;
        s->tables = std::move(*names);
        slot = std::move(s);
    }
    return slot.get();
}

bool DataBase::CreaDatabase(const std::string& path)
{
    // The sessions last one build: the next build sees what others did to the database since.
    struct EndSessions {
        std::map<std::string, std::unique_ptr<Session>>& sessions;
        ~EndSessions() { sessions.clear(); }
    } endSessions{m_sessions};

    auto doc = program::CaricaXML(path, m_messages);
    if (!doc || !doc->root())
        return false;
    const xml::Element settingsRoot = m_settingsRoot ? m_settingsRoot() : xml::Element();
    const std::optional<std::string> serverType = settingsChild(settingsRoot, "ServerType");
    const program::ServerType kind = program::parseServerType(serverType.value_or(""));
    const bool access = kind == program::ServerType::Access || kind == program::ServerType::Mixed;
    const bool server = kind == program::ServerType::Mixed || program::runsOnServer(kind);
    // A build that could build nothing is no success: say why.
    if (!access && !server) {
        ScriviRispostaDB((serverType ? "Tipo di server sconosciuto nelle impostazioni: \"" + *serverType + "\""
                                     : std::string("Tipo di server mancante nelle impostazioni")) +
                         ": nessun database creato" + kCrLf);
        return false;
    }

    std::string accessConnection;
    if (access) {
        accessConnection = m_settings.ProviderAccess + m_settings.PercorsoAccess + ";";
        if (!ApriCatalogo(accessConnection))
            (void)CreaCatalogo(accessConnection);
    }
    std::string serverConnection;
    if (server) {
        // Without a Provider the standard template of the server type names the server; one
        // with too few items cannot: say so once and build nothing rather than guessing.
        auto provider = settingsChild(settingsRoot, "Provider");
        if (!provider || provider->empty())
            provider = program::standardServerProvider(kind);
        const std::string& database = m_settings.NomeDatabase;
        std::string reason;
        const auto cs = provider ? Connessioni::buildServerConnectionString(
                                       *provider, m_settings.NomeServer, database.substr(0, database.find('.')),
                                       m_settings.UtenteServer, m_settings.PasswordServer, reason)
                                 : std::nullopt;
        if (!cs) {
            ScriviRispostaDB("Impostazione Provider non valida" + (reason.empty() ? "" : ": " + reason) + kCrLf);
            return false;
        }
        serverConnection = *cs;
        if (!ApriCatalogo(serverConnection))
            (void)CreaCatalogo(serverConnection);
    }

    int failures = 0;
    for (const xml::Element& child : doc->root().children()) {
        const std::string section = upper(child.localName());
        if (section == "TABELLE") {
            if (access && !CreaTabelle(accessConnection, child, false))
                ++failures;
            if (server && !CreaTabelle(serverConnection, child, true))
                ++failures;
        } else if (section == "COLLEGAMENTI") {
            if (access && !CreaCollegamenti(accessConnection, child))
                ++failures;
        }
    }
    return failures == 0;
}

bool DataBase::ApriCatalogo(const std::string& connection)
{
    db::Catalog catalog;
    return catalog.attach(connection);
}

bool DataBase::CreaCatalogo(const std::string& connection)
{
    db::Catalog catalog;
    return catalog.create(connection);
}

bool DataBase::EsisteTabella(const std::string& connection, const std::string& name)
{
    // The catalog compares the exact name, after folding a plain name as a server that folds
    // names (PostgreSQL) stores it, so a table the builder created is found again.
    Session* s = session(connection);
    return s && s->tables.count(s->catalog.storedName(name)) > 0;
}

bool DataBase::CreaTabelle(const std::string& connection, const xml::Element& tabelle, bool onServer)
{
    bool ok = true;
    for (const xml::Element& table : tabelle.children()) {
        const std::string name = table.localName();
        ScriviRispostaDB("Creazione tabella " + name + (onServer ? " su SQLServer: " : ": "));
        if (EsisteTabella(connection, name)) {
            ScriviRispostaDB(std::string("già esistente") + kCrLf);
        } else if (CreaTabella(connection, table, onServer)) {
            ScriviRispostaDB(std::string("eseguita con successo") + kCrLf);
        } else {
            ScriviRispostaDB(std::string("non completata a causa di errori") + kCrLf);
            ok = false;
        }
    }
    return ok;
}

bool DataBase::CreaTabella(const std::string& connection, const xml::Element& table, bool onServer)
{
    TableError error;
    bool ok = false;
    // What failed, in Italian, before the database's own reason: a driver gives its reason in
    // its own language (often English), and the box must say what went wrong all the same.
    std::string what;
    if (auto def = tableDef(table, onServer, error)) {
        Session* s = session(connection);
        ok = s && s->catalog.createTable(*def);
        if (ok) {
            s->tables.insert(s->catalog.storedName(def->name));
        } else {
            error = s ? fromDb(s->catalog.errors()) : attachError(connection);
            what = s ? "Creazione della tabella " + table.localName() + " non riuscita: "
                     : "Impossibile aprire il database in cui creare la tabella " + table.localName() + ": ";
        }
    }
    if (!ok)
        m_messages.show(what + std::to_string(error.number) + ": " + error.description + kCrLf +
                            "Errore sulla tabella: " + table.localName(),
                        program::MessageIcon::Critical, "Errore Creazione tabelle");
    return ok;
}

bool DataBase::CreaCollegamenti(const std::string& connection, const xml::Element& collegamenti)
{
    bool ok = true;
    std::string source, remote;
    for (const xml::Element& child : collegamenti.children()) {
        const std::string kind = upper(child.localName());
        if (kind == "ORIGINE") {
            source = child.text();
        } else if (kind == "TABELLAORIGINE") {
            remote = child.text();
        } else if (kind == "TABELLADESTINAZIONE") {
            std::string local = child.text();
            if (local.empty())
                local = remote;
            ScriviRispostaDB("Collegamento tabella " + local + ": ");
            if (EsisteTabella(connection, local)) {
                ScriviRispostaDB(std::string("già esistente") + kCrLf);
            } else if (CreaTabellaCollegata(connection, local, source, remote)) {
                ScriviRispostaDB(std::string("eseguito con successo") + kCrLf);
            } else {
                ScriviRispostaDB(std::string("non completato a causa di errori") + kCrLf);
                ok = false;
            }
        }
    }
    return ok;
}

bool DataBase::CreaTabellaCollegata(const std::string& connection, const std::string& local, const std::string& source,
                                    const std::string& remote)
{
    Session* s = session(connection);
    if (!s || s->catalog.connection().dialect() != db::Dialect::Sqlite ||
        !s->catalog.connection().execute(dblink::createLinkSql(local, source, remote)))
        return false;
    s->tables.insert(s->catalog.storedName(local));
    return true;
}

} // namespace zs::engine
