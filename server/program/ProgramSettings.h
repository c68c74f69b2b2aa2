#pragma once
// The program-wide settings values, one instance for the whole program, filled at start-up by
// the settings store's reader and read by the engine and the windows.

#include "program/SettingsTypes.h"

#include <string>

namespace zs::program {

/// The provider templates used when the settings hold none for the server type: a provider
/// item, then the keys that the server, the database, the user and the password are appended
/// to. The connection layer maps the SQL Server and Oracle providers to their ODBC drivers and
/// the Jet provider to a SQLite file.
inline constexpr const char* kStandardProviderSqlServer =
    "Provider=SQLOLEDB;Data Source=;Initial Catalog=;User ID=;Password=";
inline constexpr const char* kStandardProviderOracle = "Provider=MSDAORA;Data Source=;Database=;User ID=;Password=";
inline constexpr const char* kStandardProviderAccess = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";

/// The standard server template for a server type: Oracle's for Oracle, SQL Server's for SQL
/// Server and the mixed type, nothing for any other type.
std::string standardServerProvider(ServerType serverType);

struct ProgramSettings {
    ServerType TipoServer = ServerType::Unknown;
    std::string NomeServer;
    std::string UtenteServer;
    std::string PasswordServer; ///< decoded
    std::string NomeDatabase;
    std::string ProviderServer; ///< connection-string template of the server database
    std::string PercorsoAccess;
    std::string ProviderAccess;  ///< connection-string template of the Access (SQLite) database
    int TimeoutComandi = 3600;   ///< command time-out in seconds
    std::string FileCaricamento; ///< loading XML
    std::string FileCreazione;   ///< creation XML
    int IndiceIcona = 1;
    std::string TitoloApplicazione = "Zentrik Server";
    bool AvvioMinimizzato = true;
    std::string FileImpostazioni; ///< the settings file itself
};

} // namespace zs::program
