#include "program/Settings.h"

#include "fs/Paths.h"
#include "program/PasswordCodec.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace zs::program {

std::string standardServerProvider(ServerType serverType)
{
    if (serverType == ServerType::Oracle)
        return kStandardProviderOracle;
    if (serverType == ServerType::SqlServer || serverType == ServerType::Mixed)
        return kStandardProviderSqlServer;
    return {};
}

namespace {

/// A whole number as the settings hold it ("6", " 6 ", "6,0"); nothing when it is not one.
std::optional<long> toInteger(const std::string& text)
{
    const auto v = text::parseNumber(text);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > 2147483647.0)
        return std::nullopt;
    return static_cast<long>(std::nearbyint(*v)); // half to even, as the original's conversion
}

/// The element being read, with what the reading needs beside it.
struct Reading {
    Settings& s;
    const xml::Element& child;
    const std::string name; ///< upper-cased local name
    const std::string text;
    const std::filesystem::path& folder;

    void problem(std::string what) { s.problems.push_back(std::move(what)); }

    /// The setting's whole number; nothing, and a problem, when it is none or lies outside [lo, hi].
    std::optional<long> integer(long lo = LONG_MIN, long hi = LONG_MAX)
    {
        auto v = toInteger(text);
        if (v && *v >= lo && *v <= hi)
            return v;
        problem("Valore non valido per " + name + ": \"" + text + "\"");
        return std::nullopt;
    }

    /// A stored password's clear text. One written there by hand is no encoded form: said by its
    /// element and taken as written, never as an empty password.
    std::string password(const std::string& element, const std::string& stored)
    {
        if (auto clear = decodeStoredPassword(stored))
            return *clear;
        problem(passwordNotEncoded(element));
        return stored;
    }

    /// A file the setting names. A bare name lives in the program folder; anything with a folder
    /// part is taken as written. Both kinds are found on disk whatever their case, since the
    /// file holds them lower-cased.
    std::string path() const
    {
        if (text.empty())
            return {};
        const std::string l = text::lowerAscii(text);
        if (l.find('\\') == std::string::npos && l.find('/') == std::string::npos)
            return fs::resolveCaseInsensitive(folder / l).string();
        return fs::resolveUserPath(l).string();
    }
};

bool readDatabaseSetting(Reading& r)
{
    ProgramSettings& v = r.s.program;
    const bool access = v.TipoServer == ServerType::Access;
    const bool server = runsOnServer(v.TipoServer);
    const std::string& name = r.name;
    if (name == "SERVERTYPE") {
        v.TipoServer = parseServerType(r.text);
    } else if (name == "SERVERNAME" || name == "LOGIN" || name == "DATABASE" || name == "PROVIDER") {
        std::string& target = name == "SERVERNAME" ? v.NomeServer
                              : name == "LOGIN"    ? v.UtenteServer
                              : name == "DATABASE" ? v.NomeDatabase
                                                   : v.ProviderServer;
        target = !access ? text::lowerAscii(r.text) : std::string();
    } else if (name == "PASSWORD") {
        v.PasswordServer = !access ? r.password(r.child.name(), r.text) : std::string();
    } else if (name == "DATABASEACCESS") {
        v.PercorsoAccess = server ? std::string() : r.path();
    } else if (name == "PROVIDERACCESS") {
        v.ProviderAccess = server ? std::string() : text::lowerAscii(r.text);
    } else if (name == "TIMEOUT") {
        // Seconds a command may take; 0 waits without a limit, a negative value means nothing.
        if (auto t = r.integer(0))
            v.TimeoutComandi = static_cast<int>(*t);
    } else if (name == "LOADINGFILE") {
        v.FileCaricamento = r.path();
    } else if (name == "CREATIONFILE") {
        v.FileCreazione = r.path();
    } else {
        return false;
    }
    return true;
}

bool readCubeSetting(Reading& r)
{
    CubeSettings& c = r.s.cubes;
    if (r.name == "SERVEROLAP") {
        c.server = r.text;
    } else if (r.name == "DATABASEOLAP") {
        // The database's cubes are listed anew: a choice read before it is gone.
        c.database = r.text;
        c.cubes.clear();
    } else if (r.name == "CUBO") {
        const auto nome = r.child.attribute("nome");
        const auto agg = r.child.attribute("aggiornamento");
        const auto data = r.child.attribute("data");
        if (!nome || !agg || !data)
            r.problem("Elemento CUBO incompleto: " + r.child.xml());
        else
            c.cubes.push_back({*nome, refreshChoiceFromText(*agg), *data});
    } else {
        return false;
    }
    return true;
}

void readBusAndTask(Reading& r)
{
    const xml::Element& e = r.child;
    for (const char* a : {"computer", "systemUserID", "systemPassword", "operatorUserID", "operatorPassword", "coDiv"})
        if (!e.hasAttribute(a)) {
            r.problem("Elemento BUSANDTASK incompleto: " + e.xml());
            return;
        }
    BusAndTaskLogin login;
    login.computer = *e.attribute("computer");
    login.systemUserID = *e.attribute("systemUserID");
    login.systemPassword = r.password(e.name() + ".systemPassword", *e.attribute("systemPassword"));
    login.operatorUserID = *e.attribute("operatorUserID");
    login.operatorPassword = r.password(e.name() + ".operatorPassword", *e.attribute("operatorPassword"));
    login.coDiv = *e.attribute("coDiv");
    r.s.bus = std::move(login);
}

void readOptionSetting(Reading& r)
{
    SecondaryOptionsFields& f = r.s.options;
    const std::string& name = r.name;
    if (name == "STARTUP") {
        if (auto v = r.integer())
            f.chkStartup = static_cast<int>(*v);
    } else if (name == "MINIMIZED") {
        if (auto v = r.integer()) {
            f.chkMinimize = static_cast<int>(*v);
            r.s.program.AvvioMinimizzato = f.chkMinimize == 1;
        }
    } else if (name == "DELETELOGS") {
        if (auto v = r.integer())
            f.txtMese = std::to_string(std::max(1L, *v));
    } else if (name == "SMTPSERVER") {
        f.txtSmtp = r.text;
    } else if (name == "NOTIFICA") {
        // Within the range each number is the choice of that value.
        if (auto v = r.integer(0, 2))
            f.optErrors = static_cast<NotifyWhen>(*v);
    } else if (name == "TIPONOTIFICA") {
        if (auto v = r.integer(0, 1))
            f.optErrorsType = static_cast<NotifyWhat>(*v);
    } else if (name == "SMTPLOGIN") {
        if (auto v = r.integer())
            f.chkAutentifica = static_cast<int>(*v);
    } else if (name == "SMTPUSER") {
        f.txtUsername = r.text;
    } else if (name == "SMTPPWD") {
        f.txtPwd = r.password(r.child.name(), r.text);
    } else if (name == "ICONSINDEX") {
        if (auto v = r.integer())
            r.s.program.IndiceIcona = static_cast<int>(*v);
    } else if (name == "APPNAME") {
        r.s.program.TitoloApplicazione = r.text;
    }
    if (name == "NOTIFICA" || name == "TIPONOTIFICA" || name == "SMTPLOGIN" || name == "SMTPUSER" || name == "SMTPPWD")
        f.txtSmtpEnabled = f.optErrors != NotifyWhen::Never;
}

void readElement(Settings& s, const xml::Element& child, const std::filesystem::path& folder)
{
    Reading r{s, child, text::upperAscii(child.localName()), child.text(), folder};
    if (r.name == "BUSANDTASK")
        readBusAndTask(r);
    else if (!readDatabaseSetting(r) && !readCubeSetting(r))
        readOptionSetting(r);
}

/// A setting that a file without its element gives.
void setDefault(Settings& s, const std::string& name)
{
    const SecondaryOptionsFields defaults;
    SecondaryOptionsFields& f = s.options;
    if (name == "STARTUP")
        f.chkStartup = defaults.chkStartup;
    else if (name == "MINIMIZED")
        f.chkMinimize = defaults.chkMinimize, s.program.AvvioMinimizzato = true;
    else if (name == "DELETELOGS")
        f.txtMese = defaults.txtMese;
    else if (name == "SMTPSERVER")
        f.txtSmtp = defaults.txtSmtp;
    else if (name == "NOTIFICA")
        f.optErrors = defaults.optErrors;
    else if (name == "TIPONOTIFICA")
        f.optErrorsType = defaults.optErrorsType;
    else if (name == "SMTPLOGIN")
        f.chkAutentifica = defaults.chkAutentifica;
    else if (name == "SMTPUSER")
        f.txtUsername = defaults.txtUsername;
    else if (name == "SMTPPWD")
        f.txtPwd = defaults.txtPwd;
    else if (name == "TIMEOUT")
        s.program.TimeoutComandi = 3600;
}

} // namespace

void readSettings(Settings& into, const xml::Element& root, const std::filesystem::path& programFolder)
{
    SecondaryOptionsFields& f = into.options;
    ProgramSettings& v = into.program;
    f.chkStartup = 1;
    f.chkMinimize = 1;
    f.txtMese = "1";
    v.AvvioMinimizzato = true;
    v.TimeoutComandi = 3600;
    v.ProviderServer.clear();
    v.ProviderAccess.clear();
    for (const auto& child : root.children())
        readElement(into, child, programFolder);
    // A file without a provider template (the configuration wizard writes none) connects
    // through the standard one of its server type; a template in the file wins.
    if (v.ProviderServer.empty() && v.TipoServer != ServerType::Access)
        v.ProviderServer = text::lowerAscii(standardServerProvider(v.TipoServer));
    if (v.ProviderAccess.empty() && !runsOnServer(v.TipoServer))
        v.ProviderAccess = text::lowerAscii(kStandardProviderAccess);
}

void readSettingElements(Settings& into, const xml::Element& root, const std::filesystem::path& programFolder,
                         const std::set<std::string>& names)
{
    for (const std::string& n : names)
        setDefault(into, n);
    for (const xml::Element& child : root.children())
        if (names.count(text::upperAscii(child.localName())))
            readElement(into, child, programFolder);
    into.options.txtSmtpEnabled = into.options.optErrors != NotifyWhen::Never;
}

void writeSettings(xml::Element root, const Settings& from, bool olap)
{
    if (olap) {
        for (const auto& [name, value] :
             {std::pair{"ServerOLAP", &from.cubes.server}, std::pair{"DatabaseOLAP", &from.cubes.database}}) {
            xml::Element e = root.child(name);
            if (e.isNull())
                e = root.appendChild(name);
            e.setText(value->value_or(std::string()));
        }
    }
    for (xml::Element c = root.child("cubo"); !c.isNull(); c = root.child("cubo"))
        root.removeChild(c);
    for (const InfoCubo& cube : from.cubes.cubes) {
        xml::Element c = root.appendChild("cubo");
        c.setAttribute("nome", cube.nome);
        c.setAttribute("aggiornamento", refreshChoiceText(cube.aggiornamento));
        c.setAttribute("data", cube.data);
    }
    const SecondaryOptionsFields& f = from.options;
    const std::pair<const char*, std::string> values[] = {
        {"startup", std::to_string(f.chkStartup)},
        {"minimized", std::to_string(f.chkMinimize)},
        {"deletelogs", f.txtMese},
        {"smtpserver", f.txtSmtp},
        {"notifica", notifyText(f.optErrors)},
        {"tiponotifica", notifyText(f.optErrorsType)},
        {"smtplogin", std::to_string(f.chkAutentifica)},
        {"smtpuser", f.txtUsername},
        // A password the encoding cannot hold is refused in its box; should one reach a save all
        // the same, the stored one stays rather than an altered one.
        {"smtppwd", PasswordCodificabile(f.txtPwd) ? CodificaPassword(f.txtPwd) : root.child("smtppwd").text()},
        {"timeout", std::to_string(from.program.TimeoutComandi)},
    };
    for (const auto& [name, value] : values) {
        xml::Element old = root.child(name);
        if (!old.isNull())
            root.removeChild(old);
        root.appendChild(name).setText(value);
    }
}

} // namespace zs::program
