#pragma once
// The program-wide settings values, one instance for the whole program, filled at start-up by
// the settings store's reader and read by the engine and the windows.

#include <string>

namespace zs::program {

struct ProgramSettings {
    std::string TipoServer; ///< "access", "sqlserver", "oracle" or "mixed" (lower case)
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
