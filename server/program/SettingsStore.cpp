#include "program/SettingsStore.h"

#include "fs/FileOps.h"
#include "fs/Paths.h"
#include "fs/ReadFile.h"
#include "program/PasswordCodec.h"
#include "program/Settings.h"
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

/// One element's fold: what the other writers changed in `d` since `fileBase` is taken into `m`,
/// attribute by attribute and for the content, where `m` still holds this writer's baseline
/// (`ownBases` at `key`); that baseline follows what is taken, nothing else. Whether any was.
bool foldElement(xml::Element m, const xml::Element& d, const SettingsStore::Snapshot& ds,
                 const SettingsStore::Snapshot* fileBase, SettingsStore::Snapshots& ownBases, const std::string& key)
{
    const SettingsStore::Snapshot* ownBase = find(ownBases, key);
    const SettingsStore::Snapshot ms = snapshotOf(m);
    auto own = [&]() -> SettingsStore::Snapshot& { return ownBases.try_emplace(key).first->second; };
    bool took = false;
    std::vector<std::string> names;
    for (const SettingsStore::Snapshot* s : {&ds, &ms, ownBase, fileBase})
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
    return took;
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
{}

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

Settings SettingsStore::current() const
{
    Settings s;
    s.program = m_values;
    s.options = m_fields;
    return s;
}

void SettingsStore::take(const Settings& s, bool startup)
{
    m_values = s.program;
    m_fields = s.options;
    if (m_exchange.show)
        m_exchange.show(s, startup);
}

std::vector<std::string> SettingsStore::LeggiImpostazioni(const xml::Element& root)
{
    Settings s = current();
    readSettings(s, root, m_programFolder);
    take(s, /*startup=*/true);
    // What a save would write now is what this store has not changed.
    if (m_doc && root == m_doc->root())
        rebase();
    return s.problems;
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
    Settings s = current();
    std::optional<CubeSettings> cubes;
    if (m_exchange.collect)
        cubes = m_exchange.collect(doc.root(), live);
    if (cubes)
        s.cubes = std::move(*cubes);
    writeSettings(doc.root(), s, live && cubes);
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
        const bool took = foldElement(it->second, d, ds, fileBase, m_ownBase, key);
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
    Settings s = current();
    readSettingElements(s, m_doc->root(), m_programFolder, wanted);
    take(s, wanted.count("STARTUP") > 0);

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

} // namespace zs::program
