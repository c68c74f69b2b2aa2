#include "program/SettingsStore.h"

#include "fs/FileOps.h"
#include "fs/Paths.h"
#include "fs/ReadFile.h"
#include "program/PasswordCodec.h"
#include "program/SettingsLock.h"
#include "program/ShellServices.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"
#include "text/SystemReason.h"
#include "xml/XmlUtilities.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::program {

namespace {

/// A whole number as the settings hold it ("6", " 6 ", "6,0"); nothing when it is not one.
std::optional<long> toInteger(const std::string& text)
{
    const auto v = text::parseNumber(text);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > 2147483647.0)
        return std::nullopt;
    return static_cast<long>(std::nearbyint(*v)); // half to even, as the original's conversion
}

struct Path {
    std::string element;
    std::optional<std::string> attribute;
};

Path splitPath(const std::string& path)
{
    Path p;
    const auto dot = path.find('.');
    p.element = path.substr(0, dot);
    if (dot != std::string::npos) {
        const auto next = path.find('.', dot + 1);
        p.attribute = path.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1);
    }
    return p;
}

/// The part of a source line a message box shows: a generated or hostile file on one long line
/// (markup without a blank to wrap at) would make the box as wide as the screen. The parser's
/// excerpt has the fault in its middle, so the middle is kept.
std::string boxExcerpt(const std::string& line)
{
    constexpr std::size_t kShown = 80;
    if (line.size() <= kShown)
        return line;
    auto continuation = [&line](std::size_t i) { return (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80; };
    std::size_t from = (line.size() - kShown) / 2, to = from + kShown;
    while (from > 0 && continuation(from))
        --from;
    while (to < line.size() && continuation(to))
        ++to;
    return (from > 0 ? "…" : "") + line.substr(from, to - from) + (to < line.size() ? "…" : "");
}

std::string booleanForWrite(const std::string& value)
{
    if (value == "Vero" || value == "True")
        return "vero";
    if (value == "Falso" || value == "False")
        return "falso";
    return value;
}

/// The root's elements with their keys, in document order.
std::vector<std::pair<std::string, xml::Element>> keyedElements(const xml::Element& root)
{
    std::vector<std::pair<std::string, xml::Element>> out;
    std::map<std::string, int> seen;
    for (const xml::Element& e : root.children()) {
        std::string key = e.name();
        if (key == "cubo")
            key += '\x1f' + e.attribute("nome").value_or(std::string());
        if (const int n = seen[key]++; n > 0)
            key += '\x1e' + std::to_string(n);
        out.emplace_back(std::move(key), e);
    }
    return out;
}

SettingsStore::Snapshot snapshotOf(const xml::Element& e)
{
    return {e.attributes(), e.innerXml()};
}

SettingsStore::Snapshots snapshotsOf(const xml::Element& root)
{
    SettingsStore::Snapshots out;
    for (const auto& [key, e] : keyedElements(root))
        out.emplace(key, snapshotOf(e));
    return out;
}

const SettingsStore::Snapshot* find(const SettingsStore::Snapshots& in, const std::string& key)
{
    const auto it = in.find(key);
    return it == in.end() ? nullptr : &it->second;
}

std::optional<std::string> attributeOf(const SettingsStore::Snapshot* s, const std::string& name)
{
    if (s)
        for (const auto& [n, v] : s->attributes)
            if (n == name)
                return v;
    return std::nullopt;
}

void setAttributeOf(SettingsStore::Snapshot& s, const std::string& name, const std::optional<std::string>& value)
{
    auto it = std::find_if(s.attributes.begin(), s.attributes.end(), [&](const auto& a) { return a.first == name; });
    if (it != s.attributes.end() && value)
        it->second = *value;
    else if (it != s.attributes.end())
        s.attributes.erase(it);
    else if (value)
        s.attributes.emplace_back(name, *value);
}

/// The name a settings file that a save refused to read is kept under: the file's own, what
/// happened and when ("zentrikServer.xml.rifiutato-20260314-093005"), "-2" on for a second one in
/// the same second.
std::filesystem::path refusedName(const std::filesystem::path& file, int attempt)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    (void)::localtime_r(&now, &local);
    char stamp[32];
    (void)std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = file.filename().string() + ".rifiutato-" + stamp;
    if (attempt > 1)
        name += "-" + std::to_string(attempt);
    return file.parent_path() / name;
}

/// Before a save replaces a settings file it could not read: a regular file there is kept beside
/// it (a second name for it, so the replace leaves it whole) and `kept` says so; nothing at the
/// name, or something that is no file, has nothing to keep. False, with `error`, when the file
/// cannot be kept: the save must not write then.
bool keepUnreadable(const std::filesystem::path& file, const xml::ParseError& why, std::string& kept,
                    std::string* error)
{
    struct stat st {};
    if (why.code == xml::Document::kFileNotFound || ::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    int err = 0;
    for (int attempt = 1; attempt < 100; ++attempt) {
        const auto beside = refusedName(file, attempt);
        if (::link(file.c_str(), beside.c_str()) == 0) {
            std::string reason = why.reason;
            if (why.line > 0)
                reason = "linea " + std::to_string(why.line) + ": " + reason;
            kept = "Il file delle impostazioni " + file.string() + " non era leggibile (" + reason +
                   "): conservato come " + beside.string() + " prima di salvare";
            return true;
        }
        if ((err = errno) != EEXIST)
            break;
    }
    if (error)
        *error = "il file " + file.string() +
                 " non è leggibile e non è stato possibile conservarlo: " + text::systemReason(err);
    return false;
}

} // namespace

std::optional<xml::Document> CaricaXML(const std::filesystem::path& fileName, MessageService& messages,
                                       std::size_t maxBytes, bool* refused, xml::ParseError* failure)
{
    if (refused)
        *refused = false;
    std::error_code ec;
    // Nothing at the name (a dangling link included) is a missing file; anything else that is
    // there is read, or refused with a message: a FIFO or a device is never waited for.
    if (fileName.empty() || !std::filesystem::exists(fileName, ec))
        return std::nullopt;
    xml::ParseError err;
    auto doc = xml::Document::loadFile(fileName, &err, maxBytes);
    if (!doc) {
        if (refused)
            *refused = err.code == xml::Document::kRefused;
        if (failure)
            *failure = err;
        const std::string text =
            "Errore nel file " + fileName.string() + "\r\n" + "Codice errore :" + std::to_string(err.code) + "\r\n" +
            "linea : " + std::to_string(err.line) + "\r\n" + err.reason + "\r\n" + boxExcerpt(err.sourceLine);
        messages.show(text, MessageIcon::Critical, "Attenzione.");
        return std::nullopt;
    }
    return doc;
}

SettingsStore::SettingsStore(ProgramSettings& values, SecondaryOptionsFields& fields, MessageService& messages,
                             std::filesystem::path programFolder)
    : m_values(values)
    , m_fields(fields)
    , m_messages(messages)
    , m_programFolder(std::move(programFolder))
    , m_ops(&fs::systemFileOps())
{
    m_modules.createRoot("Estrattore");
}

void SettingsStore::say(const std::string& text)
{
    if (m_notices)
        m_notices(text);
    else
        m_messages.show(text, MessageIcon::Exclamation, "Attenzione.");
}

bool SettingsStore::load()
{
    m_values.FileImpostazioni = (m_programFolder / "zentrikServer.xml").string();
    m_values.TitoloApplicazione = "Zentrik Server";
    m_values.IndiceIcona = 1;
    xml::ParseError failure;
    m_doc = CaricaXML(fs::resolveCaseInsensitive(m_values.FileImpostazioni), m_messages, fs::ReadLimit::kSettings,
                      &m_refused, &failure);
    m_refusal = m_refused ? failure.reason : std::string();
    rebase();
    return m_doc.has_value();
}

void SettingsStore::setDocument(std::optional<xml::Document> doc)
{
    m_doc = std::move(doc);
    m_fileBase.clear();
    m_ownBase.clear();
}

void SettingsStore::rebase()
{
    m_fileBase.clear();
    m_ownBase.clear();
    if (!m_doc || m_doc->root().isNull())
        return;
    m_fileBase = snapshotsOf(m_doc->root());
    xml::Document own = m_doc->clone();
    collect(own, /*live=*/false);
    m_ownBase = snapshotsOf(own.root());
}

std::string standardServerProvider(ServerType serverType)
{
    if (serverType == ServerType::Oracle)
        return kStandardProviderOracle;
    if (serverType == ServerType::SqlServer || serverType == ServerType::Mixed)
        return kStandardProviderSqlServer;
    return {};
}

std::filesystem::path SettingsStore::settingsPath(const std::string& text) const
{
    const std::string l = text::lowerAscii(text);
    // A bare name lives in the program folder; anything with a folder part is taken as written.
    // Both kinds are found on disk whatever their case, since the file holds them lower-cased.
    if (l.find('\\') == std::string::npos && l.find('/') == std::string::npos)
        return fs::resolveCaseInsensitive(m_programFolder / l);
    return fs::resolveUserPath(l);
}

namespace {

// A stored password's clear text. One written there by hand is no encoded form: said by its
// element and taken as written, never as an empty password.
std::string storedPassword(const std::string& element, const std::string& text, std::vector<std::string>& problems)
{
    if (auto clear = decodeStoredPassword(text))
        return *clear;
    problems.push_back(passwordNotEncoded(element));
    return text;
}

// The setting's whole number; nothing, and a problem, when it is none or lies outside [lo, hi].
std::optional<long> settingInteger(std::vector<std::string>& problems, const std::string& name, const std::string& text,
                                   long lo = LONG_MIN, long hi = LONG_MAX)
{
    auto v = toInteger(text);
    if (v && *v >= lo && *v <= hi)
        return v;
    problems.push_back("Valore non valido per " + name + ": \"" + text + "\"");
    return std::nullopt;
}

} // namespace

std::vector<std::string> SettingsStore::LeggiImpostazioni(const xml::Element& root)
{
    std::vector<std::string> problems;
    m_fields.chkStartup = 1;
    m_fields.chkMinimize = 1;
    m_fields.txtMese = "1";
    m_values.AvvioMinimizzato = true;
    m_values.TimeoutComandi = 3600;
    m_values.ProviderServer.clear();
    m_values.ProviderAccess.clear();

    for (const auto& child : root.children())
        readElement(child, problems);
    // A file without a provider template (the configuration wizard writes none) connects
    // through the standard one of its server type; a template in the file wins.
    const bool server = runsOnServer(m_values.TipoServer);
    if (m_values.ProviderServer.empty() && m_values.TipoServer != ServerType::Access)
        m_values.ProviderServer = text::lowerAscii(standardServerProvider(m_values.TipoServer));
    if (m_values.ProviderAccess.empty() && !server)
        m_values.ProviderAccess = text::lowerAscii(kStandardProviderAccess);
    if (m_windows.main)
        m_windows.main->ChangeStartup(m_fields.chkStartup == 1);
    // What a save would write now is what this store has not changed.
    if (m_doc && root == m_doc->root())
        rebase();
    return problems;
}

void SettingsStore::readElement(const xml::Element& child, std::vector<std::string>& problems)
{
    const std::string name = text::upperAscii(child.localName());
    const std::string text = child.text();
    if (name == "BUSANDTASK")
        readBusAndTask(child, problems);
    else if (!readDatabaseSetting(child, name, problems) && !readCubeSetting(child, name, problems))
        readOptionSetting(child, name, problems);
}

bool SettingsStore::readDatabaseSetting(const xml::Element& child, const std::string& name,
                                        std::vector<std::string>& problems)
{
    const std::string text = child.text();
    auto isServer = [&] { return runsOnServer(m_values.TipoServer); };
    const bool access = m_values.TipoServer == ServerType::Access;
    if (name == "SERVERTYPE") {
        m_values.TipoServer = parseServerType(text);
    } else if (name == "SERVERNAME" || name == "LOGIN" || name == "DATABASE" || name == "PROVIDER") {
        std::string& target = name == "SERVERNAME" ? m_values.NomeServer
                              : name == "LOGIN"    ? m_values.UtenteServer
                              : name == "DATABASE" ? m_values.NomeDatabase
                                                   : m_values.ProviderServer;
        target = !access ? text::lowerAscii(text) : std::string();
    } else if (name == "PASSWORD") {
        m_values.PasswordServer = !access ? storedPassword(child.name(), text, problems) : std::string();
    } else if (name == "DATABASEACCESS") {
        m_values.PercorsoAccess = isServer() ? std::string() : settingsPath(text).string();
        if (text.empty())
            m_values.PercorsoAccess.clear();
    } else if (name == "PROVIDERACCESS") {
        m_values.ProviderAccess = isServer() ? std::string() : text::lowerAscii(text);
    } else if (name == "TIMEOUT") {
        // Seconds a command may take; 0 waits without a limit, a negative value means nothing.
        if (auto v = settingInteger(problems, name, text, 0))
            m_values.TimeoutComandi = static_cast<int>(*v);
    } else if (name == "LOADINGFILE") {
        m_values.FileCaricamento = text.empty() ? std::string() : settingsPath(text).string();
    } else if (name == "CREATIONFILE") {
        m_values.FileCreazione = text.empty() ? std::string() : settingsPath(text).string();
    } else {
        return false;
    }
    return true;
}

bool SettingsStore::readCubeSetting(const xml::Element& child, const std::string& name,
                                    std::vector<std::string>& problems)
{
    if (name == "SERVEROLAP") {
        if (m_windows.cubes)
            m_windows.cubes->set_MacchinaOLAP(child.text());
    } else if (name == "DATABASEOLAP") {
        if (m_windows.cubes) {
            m_windows.cubes->set_DatabaseCubi(child.text());
            m_windows.cubes->Inizializza();
        }
    } else if (name == "CUBO") {
        const auto nome = child.attribute("nome");
        const auto agg = child.attribute("aggiornamento");
        const auto data = child.attribute("data");
        if (!nome || !agg || !data)
            problems.push_back("Elemento CUBO incompleto: " + child.xml());
        else if (m_windows.cubes)
            m_windows.cubes->modifyCube(*nome, refreshChoiceFromText(*agg), *data);
    } else {
        return false;
    }
    return true;
}

void SettingsStore::readBusAndTask(const xml::Element& child, std::vector<std::string>& problems)
{
    const char* const attrs[] = {"computer",       "systemUserID",     "systemPassword",
                                 "operatorUserID", "operatorPassword", "coDiv"};
    bool complete = true;
    for (const char* a : attrs)
        complete = complete && child.hasAttribute(a);
    if (!complete) {
        problems.push_back("Elemento BUSANDTASK incompleto: " + child.xml());
        return;
    }
    if (auto* o = m_windows.options) {
        o->set_Computer(*child.attribute("computer"));
        o->set_SystemUserID(*child.attribute("systemUserID"));
        o->set_SystemPassword(
            storedPassword(child.name() + ".systemPassword", *child.attribute("systemPassword"), problems));
        o->set_OperatorUserID(*child.attribute("operatorUserID"));
        o->set_OperatorPassword(
            storedPassword(child.name() + ".operatorPassword", *child.attribute("operatorPassword"), problems));
        o->set_CoDiv(*child.attribute("coDiv"));
    }
}

void SettingsStore::readOptionSetting(const xml::Element& child, const std::string& name,
                                      std::vector<std::string>& problems)
{
    const std::string text = child.text();
    auto updateSmtpEnabled = [&] { m_fields.txtSmtpEnabled = m_fields.optErrors != NotifyWhen::Never; };
    if (name == "STARTUP") {
        if (auto v = settingInteger(problems, name, text))
            m_fields.chkStartup = static_cast<int>(*v);
    } else if (name == "MINIMIZED") {
        if (auto v = settingInteger(problems, name, text)) {
            m_fields.chkMinimize = static_cast<int>(*v);
            m_values.AvvioMinimizzato = m_fields.chkMinimize == 1;
        }
    } else if (name == "DELETELOGS") {
        if (auto v = settingInteger(problems, name, text))
            m_fields.txtMese = std::to_string(std::max(1L, *v));
    } else if (name == "SMTPSERVER") {
        m_fields.txtSmtp = text;
    } else if (name == "NOTIFICA") {
        // Within the range each number is the choice of that value.
        if (auto v = settingInteger(problems, name, text, 0, 2))
            m_fields.optErrors = static_cast<NotifyWhen>(*v);
        updateSmtpEnabled();
    } else if (name == "TIPONOTIFICA") {
        if (auto v = settingInteger(problems, name, text, 0, 1))
            m_fields.optErrorsType = static_cast<NotifyWhat>(*v);
        updateSmtpEnabled();
    } else if (name == "SMTPLOGIN") {
        if (auto v = settingInteger(problems, name, text))
            m_fields.chkAutentifica = static_cast<int>(*v);
        updateSmtpEnabled();
    } else if (name == "SMTPUSER") {
        m_fields.txtUsername = text;
        updateSmtpEnabled();
    } else if (name == "SMTPPWD") {
        m_fields.txtPwd = storedPassword(child.name(), text, problems);
        updateSmtpEnabled();
    } else if (name == "ICONSINDEX") {
        if (auto v = settingInteger(problems, name, text))
            m_values.IndiceIcona = static_cast<int>(*v);
    } else if (name == "APPNAME") {
        m_values.TitoloApplicazione = text;
    }
}

SettingValue SettingsStore::LeggiImpostazione(const std::string& path, std::string* error) const
{
    const Path p = splitPath(path);
    if (!m_doc)
        return std::string();
    const xml::Element e = m_doc->root().child(p.element);
    if (e.isNull())
        return std::string();
    std::string text;
    if (p.attribute) {
        auto a = e.attribute(*p.attribute);
        if (!a) {
            if (error)
                *error = "Attributo " + *p.attribute + " mancante nell'elemento " + p.element;
            return std::string();
        }
        text = *a;
    } else {
        text = e.text();
    }
    if (text == "vero")
        return true;
    if (text == "falso")
        return false;
    return text;
}

std::string SettingsStore::LeggiTesto(const std::string& path) const
{
    const SettingValue v = LeggiImpostazione(path);
    if (const bool* b = std::get_if<bool>(&v))
        return *b ? "vero" : "falso";
    return std::get<std::string>(v);
}

bool SettingsStore::ScriviImpostazione(const std::string& path, const std::string& value)
{
    if (!m_doc || m_doc->root().isNull())
        return false;
    const Path p = splitPath(path);
    const std::string v = booleanForWrite(value);
    xml::Element root = m_doc->root();
    xml::Element e = root.child(p.element);
    if (e.isNull())
        e = root.appendChild(p.element);
    if (p.attribute)
        e.setAttribute(*p.attribute, v);
    else
        e.setText(v);
    return true;
}

void SettingsStore::collect(xml::Document& doc, bool live)
{
    xml::Element root = doc.root();

    bool changed = false;
    auto syncOlap = [&](const char* name, const std::string& value) {
        xml::Element e = root.child(name);
        if (e.isNull())
            e = root.appendChild(name);
        changed = changed || e.text() != value;
        e.setText(value);
    };
    if (live && m_windows.cubes) {
        syncOlap("ServerOLAP", m_windows.cubes->txtDsoServer());
        syncOlap("DatabaseOLAP", m_windows.cubes->txtDsoDb());
        if (changed) {
            m_windows.cubes->Inizializza();
            m_windows.cubes->AggiornaTabellaCubi();
            if (m_windows.yield)
                m_windows.yield->yield();
        }
    }

    for (xml::Element c = root.child("cubo"); !c.isNull(); c = root.child("cubo"))
        root.removeChild(c);
    if (m_windows.cubes) {
        for (const InfoCubo& cube : m_windows.cubes->cubes()) {
            xml::Element c = root.appendChild("cubo");
            c.setAttribute("nome", cube.nome);
            c.setAttribute("aggiornamento", refreshChoiceText(cube.aggiornamento));
            c.setAttribute("data", cube.data);
        }
    }

    const std::pair<const char*, std::string> values[] = {
        {"startup", std::to_string(m_fields.chkStartup)},
        {"minimized", std::to_string(m_fields.chkMinimize)},
        {"deletelogs", m_fields.txtMese},
        {"smtpserver", m_fields.txtSmtp},
        {"notifica", notifyText(m_fields.optErrors)},
        {"tiponotifica", notifyText(m_fields.optErrorsType)},
        {"smtplogin", std::to_string(m_fields.chkAutentifica)},
        {"smtpuser", m_fields.txtUsername},
        // A password the encoding cannot hold is refused in its box; should one reach a save all
        // the same, the stored one stays rather than an altered one.
        {"smtppwd",
         PasswordCodificabile(m_fields.txtPwd) ? CodificaPassword(m_fields.txtPwd) : root.child("smtppwd").text()},
        {"timeout", std::to_string(m_values.TimeoutComandi)},
    };
    for (const auto& [name, value] : values) {
        xml::Element old = root.child(name);
        if (!old.isNull())
            root.removeChild(old);
        root.appendChild(name).setText(value);
    }
}

std::vector<std::string> SettingsStore::fold(xml::Document& mine, const xml::Element& disk)
{
    std::vector<std::string> touched;
    xml::Element root = mine.root();
    std::map<std::string, xml::Element> ours;
    for (const auto& [key, e] : keyedElements(root))
        ours.emplace(key, e);
    const auto theirs = keyedElements(disk);

    for (std::size_t i = 0; i < theirs.size(); ++i) {
        const auto& [key, d] = theirs[i];
        const Snapshot ds = snapshotOf(d);
        const Snapshot* fileBase = find(m_fileBase, key);
        if (fileBase && *fileBase == ds)
            continue; // the other writers left it as it was
        const Snapshot* ownBase = find(m_ownBase, key);
        const auto it = ours.find(key);
        if (it == ours.end()) {
            if (ownBase)
                continue; // removed here: this store's change
            // Added by another writer: after the nearest element before it that is here too.
            xml::Element before = root.firstChild();
            for (std::size_t j = i; j-- > 0;)
                if (const auto prev = ours.find(theirs[j].first); prev != ours.end()) {
                    before = prev->second.nextSibling();
                    break;
                }
            ours.emplace(key, root.insertCopyBefore(d, before));
            m_ownBase[key] = ds;
            touched.push_back(d.name());
            continue;
        }
        xml::Element m = it->second;
        const Snapshot ms = snapshotOf(m);
        // This store's baseline follows what is taken, nothing else.
        auto own = [this, &k = key]() -> Snapshot& { return m_ownBase.try_emplace(k, Snapshot{}).first->second; };
        bool took = false;
        std::vector<std::string> names;
        for (const Snapshot* s : {&ds, &ms, ownBase, fileBase})
            if (s)
                for (const auto& a : s->attributes)
                    if (std::find(names.begin(), names.end(), a.first) == names.end())
                        names.push_back(a.first);
        for (const std::string& name : names) {
            const auto dv = attributeOf(&ds, name);
            if (attributeOf(&ms, name) != attributeOf(ownBase, name) || dv == attributeOf(fileBase, name))
                continue; // changed here, or not by the others
            if (dv)
                m.setAttribute(name, *dv);
            else
                m.removeAttribute(name);
            setAttributeOf(own(), name, dv);
            took = true;
        }
        const std::string base = ownBase ? ownBase->content : std::string();
        if (ms.content == base && ds.content != (fileBase ? fileBase->content : std::string())) {
            m.copyContentFrom(d);
            own().content = ds.content;
            took = true;
        }
        if (took)
            touched.push_back(d.name());
    }

    // Removed by another writer: gone here too unless changed here.
    std::set<std::string> present;
    for (const auto& [key, d] : theirs)
        present.insert(key);
    for (const auto& [key, base] : m_fileBase) {
        const auto it = ours.find(key);
        if (present.count(key) || it == ours.end())
            continue;
        const Snapshot* ownBase = find(m_ownBase, key);
        if (!ownBase || snapshotOf(it->second) != *ownBase)
            continue;
        touched.push_back(it->second.name());
        root.removeChild(it->second);
        m_ownBase.erase(key);
    }
    m_fileBase = snapshotsOf(disk);
    return touched;
}

void SettingsStore::refreshFields(const std::vector<std::string>& names)
{
    if (names.empty() || !m_doc)
        return;
    ++m_generation;
    std::set<std::string> wanted;
    for (const std::string& n : names) {
        const auto colon = n.find(':');
        wanted.insert(text::upperAscii(colon == std::string::npos ? n : n.substr(colon + 1)));
    }
    // A new OLAP server or database lists its cubes again: every cube's choice and date follows.
    if (wanted.count("SERVEROLAP") || wanted.count("DATABASEOLAP"))
        wanted.insert({"SERVEROLAP", "DATABASEOLAP", "CUBO"});
    // A field whose element is gone takes the value a file without it gives.
    const SecondaryOptionsFields defaults;
    for (const std::string& n : wanted) {
        if (n == "STARTUP")
            m_fields.chkStartup = defaults.chkStartup;
        else if (n == "MINIMIZED")
            m_fields.chkMinimize = defaults.chkMinimize, m_values.AvvioMinimizzato = true;
        else if (n == "DELETELOGS")
            m_fields.txtMese = defaults.txtMese;
        else if (n == "SMTPSERVER")
            m_fields.txtSmtp = defaults.txtSmtp;
        else if (n == "NOTIFICA")
            m_fields.optErrors = defaults.optErrors;
        else if (n == "TIPONOTIFICA")
            m_fields.optErrorsType = defaults.optErrorsType;
        else if (n == "SMTPLOGIN")
            m_fields.chkAutentifica = defaults.chkAutentifica;
        else if (n == "SMTPUSER")
            m_fields.txtUsername = defaults.txtUsername;
        else if (n == "SMTPPWD")
            m_fields.txtPwd = defaults.txtPwd;
        else if (n == "TIMEOUT")
            m_values.TimeoutComandi = 3600;
    }
    std::vector<std::string> problems;
    for (const xml::Element& child : m_doc->root().children())
        if (wanted.count(text::upperAscii(child.localName())))
            readElement(child, problems);
    m_fields.txtSmtpEnabled = m_fields.optErrors != NotifyWhen::Never;
    if (wanted.count("STARTUP") && m_windows.main)
        m_windows.main->ChangeStartup(m_fields.chkStartup == 1);

    // A value another writer wrote in a form of its own ("07") is this store's now as the
    // fields give it back ("7"): not a change of this store's.
    xml::Document own = m_doc->clone();
    collect(own, /*live=*/false);
    const Snapshots fresh = snapshotsOf(own.root());
    for (const auto& [key, e] : keyedElements(m_doc->root()))
        if (wanted.count(text::upperAscii(e.localName())))
            if (const Snapshot* f = find(fresh, key))
                m_ownBase[key] = *f;
}

bool SettingsStore::SalvaImpostazioni(std::string* error)
{
    if (!m_doc || m_doc->root().isNull()) {
        if (error)
            *error = "Nessun documento di impostazioni caricato";
        return false;
    }
    m_saving = true;
    collect(*m_doc, /*live=*/true);
    std::vector<std::string> taken;
    bool ok = false;
    {
        const SettingsLock lock(m_values.FileImpostazioni);
        // Another writer could interleave with this save: said once, until a save has the lock again.
        if (!lock.held() && !m_savedUnlocked)
            say(lock.refusal());
        m_savedUnlocked = !lock.held();
        // The file as it stands now. One that cannot be read (a hand edit left ill-formed) is the
        // operator's work: it is kept beside before this save's document replaces it.
        xml::ParseError unread;
        const auto disk = xml::Document::loadFile(m_values.FileImpostazioni, &unread, fs::ReadLimit::kSettings);
        if (disk && !disk->root().isNull())
            taken = fold(*m_doc, disk->root());
        std::string kept;
        ok = disk || keepUnreadable(m_values.FileImpostazioni, unread, kept, error);
        ok = ok && xml::FormatXml(*m_doc, m_values.FileImpostazioni, error, /*privateFile=*/true, *m_ops);
        if (!kept.empty())
            say(kept);
        if (ok) {
            m_fileBase = snapshotsOf(m_doc->root());
            m_ownBase = m_fileBase;
        }
    }
    refreshFields(taken);
    m_saving = false;
    if (m_windows.yield)
        m_windows.yield->yield();
    return ok;
}

bool SettingsStore::Ricarica()
{
    if (m_saving || !m_doc || m_doc->root().isNull() || m_values.FileImpostazioni.empty())
        return false;
    const auto disk = xml::Document::loadFile(m_values.FileImpostazioni, nullptr, fs::ReadLimit::kSettings);
    if (!disk || disk->root().isNull() || snapshotsOf(disk->root()) == m_fileBase)
        return false;
    xml::Document mine = m_doc->clone();
    collect(mine, /*live=*/false);
    const std::vector<std::string> taken = fold(mine, disk->root());
    if (taken.empty())
        return false;
    m_doc = std::move(mine);
    refreshFields(taken);
    return true;
}

void SettingsStore::CreaDocumentoXML(const std::filesystem::path& fileName)
{
    auto doc = CaricaXML(fileName, m_messages);
    if (doc) {
        m_modules = std::move(*doc);
        return;
    }
    m_modules = xml::Document();
    m_modules.createRoot("Estrattore");
}

} // namespace zs::program
