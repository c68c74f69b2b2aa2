#pragma once
// The settings as a plain value: what zentrikServer.xml holds for the program (the program-wide
// values, the secondary options, the cube list with its refresh choices, the Bus & Task log-in)
// and the problems found reading it. Read from a settings document and written into one by the
// functions below, which know no window; the settings store and the windows exchange it.

#include "program/ProgramSettings.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zs::xml {
class Element;
}

namespace zs::program {

/// The settings fields that the secondary-options window shows and the save-all collects.
struct SecondaryOptionsFields {
    int chkStartup = 1;
    int chkMinimize = 1;
    std::string txtMese = "1";
    std::string txtSmtp;
    bool txtSmtpEnabled = true;
    NotifyWhen optErrors = NotifyWhen::Never;
    NotifyWhat optErrorsType = NotifyWhat::ErrorsOnly;
    int chkAutentifica = 0;
    std::string txtUsername;
    std::string txtPwd; ///< clear text
};

/// One cube of the cube list: name, refresh choice and the date of the last processing as text.
struct InfoCubo {
    std::string nome;
    RefreshChoice aggiornamento = RefreshChoice::Full;
    std::string data;
    friend bool operator==(const InfoCubo&, const InfoCubo&) = default;
};

/// The cube window's settings. Read from a file: the OLAP server and database when it names them
/// (a database lists its cubes anew) and the choices of the `cubo` elements after that, in order.
/// Collected from the window: its fields and its whole cube list.
struct CubeSettings {
    std::optional<std::string> server;
    std::optional<std::string> database;
    std::vector<InfoCubo> cubes;
};

/// The Bus & Task log-in of the `BusAndTask` element, its passwords in clear.
struct BusAndTaskLogin {
    std::string computer;
    std::string systemUserID;
    std::string systemPassword;
    std::string operatorUserID;
    std::string operatorPassword;
    std::string coDiv;
    friend bool operator==(const BusAndTaskLogin&, const BusAndTaskLogin&) = default;
};

struct Settings {
    ProgramSettings program;
    SecondaryOptionsFields options;
    CubeSettings cubes;
    std::optional<BusAndTaskLogin> bus; ///< when the file holds a complete element
    /// What did not read: a value that does not convert keeps its default ("Valore non valido per
    /// TIMEOUT: …"), an incomplete element is skipped, a password written by hand is named.
    std::vector<std::string> problems;
};

/// The start-up reader: walks the root's children in document order (names compared
/// upper-cased, the last occurrence winning) onto `into`, after setting the defaults a file
/// without them gives; a missing provider template becomes the standard one of the server type.
/// Bare file names are taken in `programFolder`.
void readSettings(Settings& into, const xml::Element& root, const std::filesystem::path& programFolder);
/// Reads only the elements whose upper-cased names `names` holds onto `into`, each first set
/// back to what a file without it gives (another writer may have removed it).
void readSettingElements(Settings& into, const xml::Element& root, const std::filesystem::path& programFolder,
                         const std::set<std::string>& names);
/// The save-all's elements of `from` written into `root`: with `olap` the OLAP server and
/// database first, then every `cubo` replaced by the cube list, then the secondary options and
/// the time-out, each removed and appended anew so they stand last.
void writeSettings(xml::Element root, const Settings& from, bool olap);

} // namespace zs::program
