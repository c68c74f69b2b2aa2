#pragma once
// The configuration wizard without its window: the six pages, the page flow by the chosen
// target kind, the page texts and the recap, the fields read from the settings when it opens
// and what Finish writes back.

#include <optional>
#include <string>

namespace zs::program {
class CubeWindow;
class SettingsStore;
struct ProgramSettings;
} // namespace zs::program

namespace zs::dialogs {

/// optStep1 elements 0 to 3.
enum class ServerKind { Access = 0, Mixed = 1, SqlServer = 2, Oracle = 3 };

struct WizardFields {
    ServerKind kind = ServerKind::Access;
    std::string txtAccess;
    std::string txtServerName;
    std::string txtDb;
    std::string txtLogin;
    std::string txtPassword0;
    std::string txtPassword1;
    std::string txtserverolap;
    std::string txtdbolap;
    bool useBusAndTask = false; ///< optStep5 element 0 chosen
    std::string txtVevira;
    std::string txtsyslogin;
    std::string txtSysPwd;
    std::string txtOpLogin;
    std::string txtOpPwd;
    std::string txtCoDiv;
};

/// What the window shows after MostraPasso.
struct WizardPage {
    int page = 0;
    std::string lblStep1;
    std::string lblStep2;
    std::string lblCopyright;
    std::string lblServer;         ///< set on page 3 only (empty otherwise)
    bool passwordMismatch = false; ///< show the mismatch message
    bool focusFirstPassword = false;
    bool avantiVisible = true;
    bool indietroVisible = true;
    bool indietroEnabled = false;
    bool fineVisible = false;
    bool busFieldsVisible = false;
    std::string recap; ///< page 6 only
    std::string indietroToolTip;
    std::string avantiToolTip;
};

inline constexpr const char* kWizardCaption = "Configurazine guidata -  Zentrik Server";
inline constexpr const char* kTrademarkNote = "° Vevira e' un marchio registrato del rispettivo proprietario.";

class WizardFlow {
  public:
    int PassoCorrente() const { return m_current; }
    /// Shows page `n` (after the skip rule) for the fields as they are now.
    WizardPage MostraPasso(int n, const WizardFields& fields);

  private:
    int m_current = 0;
};

std::string WizardRecap(const WizardFields& fields);

/// The fields as the settings hold them (a missing element reads empty).
WizardFields LoadWizardFields(const program::SettingsStore& store);

/// The wizard's password boxes.
enum class WizardPasswordBox { Password0, Password1, SysPwd, OpPwd };
/// The page a password box stands on: 3 for the database's, 5 for Bus & Task's.
int WizardPasswordPage(WizardPasswordBox box);
/// The first password box on `page` (every page with 0) that is in use and holds a text the
/// stored encoding cannot hold; nothing when there is none. The database's boxes are in use
/// unless the target is Access, Bus & Task's when it is chosen.
std::optional<WizardPasswordBox> RefusedWizardPassword(const WizardFields& fields, int page = 0);

/// Writes the fields and saves the settings file. Without a settings document a new one is
/// made for the program folder's zentrikServer.xml. False, with `error`, when the file could
/// not be written, or, writing nothing, when a password cannot be stored as typed.
bool FinishWizard(program::SettingsStore& store, program::ProgramSettings& values, const WizardFields& fields,
                  program::CubeWindow* cubes, std::string* error);

} // namespace zs::dialogs
