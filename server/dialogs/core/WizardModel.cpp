#include "dialogs/core/WizardModel.h"

#include "program/PasswordCodec.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "xml/XmlDocument.h"

namespace zs::dialogs {

WizardPage WizardFlow::MostraPasso(int n, const WizardFields& f)
{
    WizardPage p;
    if (n == 3 && f.txtPassword0 != f.txtPassword1)
        p.passwordMismatch = true;
    if (f.kind == ServerKind::Access && n == 3)
        n = m_current == 4 ? 2 : 4;
    else if ((f.kind == ServerKind::SqlServer || f.kind == ServerKind::Oracle) && n == 2)
        n = m_current == 3 ? 1 : 3;
    p.focusFirstPassword = p.passwordMismatch && n == 3;
    m_current = n;
    p.page = n;
    p.lblStep1 = "Passo " + std::to_string(n) + " - ";
    switch (n) {
    case 1:
        p.lblStep1 += "Scelta del supporto di estrazione";
        p.lblStep2 = "La scelta del supporto deve essere determinata in base alle licenze in possesso e alla "
                     "performance richiesta";
        break;
    case 2:
        p.lblStep1 += "Scelta del database Ms Access";
        p.lblStep2 = "Specificare il percorso completo del database Ms Access";
        break;
    case 3:
        if (f.kind == ServerKind::Oracle) {
            p.lblStep1 += "Configurazione accesso al database Oracle";
            p.lblStep2 = "Specificare il server Oracle, il database e le impostazioni di accesso";
            p.lblServer = "Server Oracle";
        } else {
            p.lblStep1 += "Configurazione accesso al database Ms SqlServer";
            p.lblStep2 = "Specificare il server Ms SqlServer, il database e le impostazioni di accesso";
            p.lblServer = "Server SqlServer";
        }
        break;
    case 4:
        p.lblStep1 += "Configurazione accesso al database Olap";
        p.lblStep2 = "Specificare il server Olap, il database e le impostazioni di accesso";
        break;
    case 5:
        // A doubled ampersand in a caption shows as one.
        p.lblStep1 += "Impostazioni Bus&&Task";
        p.lblStep2 = "Specificare se utilizzare o meno il Bus&&Task per recuperare informazioni specifiche (solo "
                     "Gestionale Vevira°)";
        p.lblCopyright = kTrademarkNote;
        break;
    case 6:
        p.lblStep1 += "Completamento configurazione guidata";
        p.lblStep2 = "Premere su Fine per completare l'operazione";
        p.recap = WizardRecap(f);
        p.fineVisible = true;
        p.avantiVisible = false;
        p.indietroVisible = false;
        break;
    default:
        break;
    }
    p.busFieldsVisible = f.useBusAndTask;
    p.indietroEnabled = n > 1;
    p.indietroToolTip = "Passo " + std::to_string(n - 1);
    p.avantiToolTip = "Passo " + std::to_string(n + 1);
    return p;
}

std::string WizardRecap(const WizardFields& f)
{
    const std::string crlf = "\r\n";
    std::string r = "E' stata scelta la seguente configurazione" + crlf + crlf;
    r += "Supporto di estrazione : ";
    switch (f.kind) {
    case ServerKind::Access:
        r += "solo Ms Access";
        break;
    case ServerKind::Mixed:
        r += "Misto (Access e SqlServer)";
        break;
    case ServerKind::Oracle:
        r += "Oracle";
        break;
    case ServerKind::SqlServer:
        r += "solo Ms SqlServer";
        break;
    }
    r += crlf + crlf;
    if (f.kind != ServerKind::SqlServer)
        r += "Database MsAccess : " + f.txtAccess + crlf + crlf;
    if (f.kind != ServerKind::Access) {
        r += (f.kind == ServerKind::Oracle ? "Server Oracle : " : "Server MsSqlServer : ") + f.txtServerName + crlf;
        r += "Database : " + f.txtDb + crlf;
        r += "Login : " + f.txtLogin + crlf + crlf;
    }
    r += "Server Olap : " + f.txtserverolap + crlf;
    r += "Database Olap : " + f.txtdbolap + crlf + crlf;
    if (!f.useBusAndTask) {
        r += "Bus&Task non utilizzato" + crlf;
    } else {
        r += "Bus&Task utilizzato" + crlf;
        r += "Vevira : " + f.txtVevira + crlf;
        r += "Utente di sistema : " + f.txtsyslogin + crlf;
        r += "Utente operatore : " + f.txtOpLogin + crlf;
        r += "Co/Div : " + f.txtCoDiv + crlf;
    }
    return r;
}

WizardFields LoadWizardFields(const program::SettingsStore& store)
{
    WizardFields f;
    auto get = [&](const char* path) { return store.LeggiTesto(path); };
    // The wizard offers the four known types; a file with any other shows the first.
    switch (program::parseServerType(get("ServerType"))) {
    case program::ServerType::Oracle:
        f.kind = ServerKind::Oracle;
        break;
    case program::ServerType::SqlServer:
        f.kind = ServerKind::SqlServer;
        break;
    case program::ServerType::Mixed:
        f.kind = ServerKind::Mixed;
        break;
    case program::ServerType::Access:
    case program::ServerType::Unknown:
        break;
    }
    f.txtAccess = get("DatabaseAccess");
    f.txtServerName = get("ServerName");
    f.txtDb = get("Database");
    f.txtLogin = get("Login");
    f.txtPassword0 = program::storedPasswordText(get("Password"));
    f.txtPassword1 = f.txtPassword0;
    f.txtserverolap = get("ServerOLAP");
    f.txtdbolap = get("DatabaseOLAP");
    f.txtVevira = get("BusAndTask.computer");
    f.useBusAndTask = !f.txtVevira.empty();
    f.txtsyslogin = get("BusAndTask.systemUserID");
    f.txtSysPwd = program::storedPasswordText(get("BusAndTask.systemPassword"));
    f.txtOpLogin = get("BusAndTask.operatorUserID");
    f.txtOpPwd = program::storedPasswordText(get("BusAndTask.operatorPassword"));
    f.txtCoDiv = get("BusAndTask.coDiv");
    return f;
}

int WizardPasswordPage(WizardPasswordBox box)
{
    return box == WizardPasswordBox::Password0 || box == WizardPasswordBox::Password1 ? 3 : 5;
}

std::optional<WizardPasswordBox> RefusedWizardPassword(const WizardFields& f, int page)
{
    const std::pair<WizardPasswordBox, const std::string*> boxes[] = {
        {WizardPasswordBox::Password0, &f.txtPassword0},
        {WizardPasswordBox::Password1, &f.txtPassword1},
        {WizardPasswordBox::SysPwd, &f.txtSysPwd},
        {WizardPasswordBox::OpPwd, &f.txtOpPwd},
    };
    for (const auto& [box, text] : boxes) {
        const int on = WizardPasswordPage(box);
        const bool used = on == 3 ? f.kind != ServerKind::Access : f.useBusAndTask;
        if (used && (page == 0 || page == on) && !program::PasswordCodificabile(*text))
            return box;
    }
    return std::nullopt;
}

bool FinishWizard(program::SettingsStore& store, program::ProgramSettings& values, const WizardFields& f,
                  program::CubeWindow* cubes, std::string* error)
{
    if (RefusedWizardPassword(f)) {
        if (error)
            *error = program::kPasswordNonCodificabile;
        return false;
    }
    if (!store.hasDocument() || store.DocImpostazioni()->root().isNull()) {
        // Opened because there was no settings file: start one for the program folder.
        xml::Document doc;
        doc.setDeclaration("UTF-8");
        doc.createRoot("zentrikServer");
        store.setDocument(std::move(doc));
    }
    if (values.FileImpostazioni.empty())
        values.FileImpostazioni = (store.programFolder() / "zentrikServer.xml").string();

    auto put = [&](const char* path, const std::string& value) { (void)store.ScriviImpostazione(path, value); };
    const char* kinds[] = {"ACCESS", "MIXED", "SQLSERVER", "ORACLE"};
    put("ServerType", kinds[static_cast<int>(f.kind)]);
    const bool access = f.kind == ServerKind::Access;
    put("ServerName", access ? "" : f.txtServerName);
    put("Database", access ? "" : f.txtDb);
    put("Login", access ? "" : f.txtLogin);
    put("Password", access ? "" : program::CodificaPassword(f.txtPassword0));
    put("DatabaseAccess", f.kind == ServerKind::SqlServer ? "" : f.txtAccess);
    if (cubes)
        cubes->set_MacchinaOLAP(f.txtserverolap);
    put("ServerOLAP", f.txtserverolap);
    if (cubes)
        cubes->set_DatabaseCubi(f.txtdbolap);
    put("DatabaseOLAP", f.txtdbolap);
    if (!f.useBusAndTask) {
        for (const char* p : {"BusAndTask.computer", "BusAndTask.systemUserID", "BusAndTask.systemPassword",
                              "BusAndTask.operatorUserID", "BusAndTask.operatorPassword"})
            put(p, "");
        put("BusAndTask.coDiv", "2");
    } else {
        put("BusAndTask.computer", f.txtVevira);
        put("BusAndTask.systemUserID", f.txtsyslogin);
        put("BusAndTask.systemPassword", program::CodificaPassword(f.txtSysPwd));
        put("BusAndTask.operatorUserID", f.txtOpLogin);
        put("BusAndTask.operatorPassword", program::CodificaPassword(f.txtOpPwd));
        put("BusAndTask.coDiv", f.txtCoDiv);
    }
    return store.SalvaImpostazioni(error);
}

} // namespace zs::dialogs
