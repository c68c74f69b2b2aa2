#include "engine/ImportXml.h"

#include "db/Connection.h"
#include "engine/EngineStrings.h"
#include "fs/Paths.h"
#include "shell/ProgramLog.h"
#include "shell/ShellServices.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>

namespace zs::engine {
namespace {

namespace stdfs = std::filesystem;

const char* const kWhere = "[.modImportXml.ImportXmlBulkLoad]";

/// An annotation of the mapping-schema namespace, whatever its prefix ("sql:relation").
std::optional<std::string> annotation(const xml::Element& e, const std::string& name)
{
    for (const auto& [key, value] : e.attributes()) {
        const auto colon = key.find(':');
        if (colon != std::string::npos && key.substr(colon + 1) == name)
            return value;
    }
    return std::nullopt;
}

bool mapped(const xml::Element& e)
{
    return lower(annotation(e, "mapped").value_or("true")) != "false";
}

/// Pushes the element children of `e` so that they come off `pending` in document order.
void pushChildren(const xml::Element& e, std::vector<xml::Element>& pending)
{
    const std::vector<xml::Element> children = e.children();
    pending.insert(pending.end(), children.rbegin(), children.rend());
}

/// The attribute and element declarations of an element declaration's complex type, in document
/// order. Walks with its own stack: a schema's nesting never reaches the call stack.
void collectFields(const xml::Element& node, XmlMapping::Relation& relation, std::vector<xml::Element>& nested)
{
    std::vector<xml::Element> pending;
    pushChildren(node, pending);
    while (!pending.empty()) {
        const xml::Element c = pending.back();
        pending.pop_back();
        const std::string kind = c.localName();
        if (kind == "attribute" && mapped(c)) {
            const std::string name = c.attribute("name").value_or("");
            if (!name.empty())
                relation.fields.push_back({name, annotation(c, "field").value_or(name), true});
        } else if (kind == "element") {
            // A child element with a sql:relation of its own, or with a complex type, is a
            // nested row; a simple one is a column of this row.
            if (annotation(c, "relation") || c.child("xsd:complexType") || c.child("xs:complexType") ||
                std::any_of(c.children().begin(), c.children().end(),
                            [](const xml::Element& g) { return g.localName() == "complexType"; })) {
                nested.push_back(c);
            } else if (mapped(c)) {
                const std::string name = c.attribute("name").value_or("");
                if (!name.empty())
                    relation.fields.push_back({name, annotation(c, "field").value_or(name), false});
            }
        } else {
            pushChildren(c, pending); // complexType, sequence, all, choice
        }
    }
}

/// Maps the element declaration and every declaration nested in it, outer ones first.
void collectElement(const xml::Element& top, XmlMapping& mapping)
{
    std::vector<xml::Element> pending{top};
    while (!pending.empty()) {
        const xml::Element decl = pending.back();
        pending.pop_back();
        const std::string name = decl.attribute("name").value_or("");
        XmlMapping::Relation relation;
        std::vector<xml::Element> nested;
        collectFields(decl, relation, nested);
        if (!name.empty() && mapped(decl) && (annotation(decl, "relation") || !relation.fields.empty())) {
            relation.table = annotation(decl, "relation").value_or(name);
            mapping.relations[name] = std::move(relation);
        }
        pending.insert(pending.end(), nested.rbegin(), nested.rend());
    }
}

std::string beginSql(db::Dialect d)
{
    switch (d) {
    case db::Dialect::Sqlite:
    case db::Dialect::PostgreSql:
        return "BEGIN";
    case db::Dialect::SqlServer:
        return "BEGIN TRANSACTION";
    default:
        return {};
    }
}

std::string errorText(const db::Connection& c)
{
    return c.errors().empty() ? std::string("errore del database") : c.errors().front().description;
}

} // namespace

bool XmlMapping::load(const stdfs::path& schema, std::string& reason)
{
    relations.clear();
    xml::ParseError error;
    auto doc = xml::Document::loadFile(schema, &error);
    if (!doc || !doc->root()) {
        reason = "Schema " + schema.string() + " non leggibile" +
                 (error.code ? " (riga " + std::to_string(error.line) + ": " + error.reason + ")" : std::string());
        return false;
    }
    for (const xml::Element& e : doc->root().children())
        if (e.localName() == "element")
            collectElement(e, *this);
    if (relations.empty()) {
        reason = "Lo schema " + schema.string() + " non associa alcun elemento a una tabella";
        return false;
    }
    return true;
}

ImportXml::ImportXml(shell::ProgramLog& log, shell::MessageService& messages, const time::Clock& clock,
                     stdfs::path programFolder, std::function<db::Connection*()> connection)
    : m_log(log)
    , m_messages(messages)
    , m_clock(clock)
    , m_programFolder(std::move(programFolder))
    , m_connection(std::move(connection))
{}

stdfs::path ImportXml::errorLogFile() const
{
    const time::DateTime now = m_clock.now();
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02dx.log", now.year % 100, now.month, now.day);
    return m_programFolder / "log" / name;
}

bool ImportXml::ImportXmlStep(const xml::Element& step)
{
    std::string path, oldpath, schema;
    for (const xml::Element& c : step.children()) {
        const std::string name = lower(c.localName());
        if (name == "path")
            path = c.text();
        else if (name == "oldpath")
            oldpath = c.text();
        else if (name == "schema")
            schema = c.text();
    }
    return ImportXmlBulkLoad(path, schema, oldpath);
}

void ImportXml::handledError(const std::string& description)
{
    const std::string text = "Errore nell'importazione dei file xml\r\n" + description + "\r\n" + kWhere;
    m_log.WriteInLog(text, false, false);
    m_log.OutputResponse("Errore nell'importazione dei file xml-" + description, true, 1);
    m_messages.show(text, shell::MessageIcon::Critical, "Errore.");
}

bool ImportXml::ImportXmlBulkLoad(const std::string& path, const std::string& schema, std::string oldpath)
{
    db::Connection* c = m_connection ? m_connection() : nullptr;
    if (!c || !c->isOpen()) {
        handledError("Connessione al database non disponibile");
        return false;
    }
    const stdfs::path folder = zs::fs::resolveUserPath(path, m_programFolder);
    std::error_code ec;
    if (path.empty() || !stdfs::is_directory(folder, ec)) {
        handledError("Cartella di importazione inesistente: " + path);
        return false;
    }
    const stdfs::path old = oldpath.empty() ? folder / "old" : zs::fs::resolveUserPath(oldpath, m_programFolder);
    XmlMapping mapping;
    std::string reason;
    if (!mapping.load(zs::fs::resolveUserPath(schema, m_programFolder), reason)) {
        handledError(reason);
        return false;
    }

    std::vector<stdfs::path> files;
    for (const auto& entry : stdfs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && lower(entry.path().extension().string()) == ".xml")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    bool ok = true;
    for (const stdfs::path& file : files) {
        m_log.WriteInLog("importazione xml del file " + file.stem().string(), false, false);
        if (!loadFile(*c, mapping, file, reason)) {
            ok = false;
            m_log.WriteInLog("Errore nell'importazione del file " + file.string() + "\r\n" + reason + "\r\n" + kWhere,
                             true, false);
            const auto id =
                m_log.OutputResponse("Errore nell'importazione del file " + file.string() + "-" + reason, true, 1);
            m_log.setImage(id, static_cast<shell::LogImage>(2));
            stdfs::create_directories(errorLogFile().parent_path(), ec);
            std::ofstream(errorLogFile(), std::ios::app) << file.string() << ": " << reason << "\r\n";
            continue;
        }
        // A file moves only when nothing of its name is there yet: it is never overwritten, it
        // stays in the import folder and is imported again by the next run.
        if (!stdfs::is_directory(old, ec))
            stdfs::create_directory(old, ec);
        const stdfs::path target = old / file.filename();
        if (stdfs::exists(target, ec) || (stdfs::rename(file, target, ec), ec))
            m_log.WriteInLog("File " + file.string() + " non spostato in " + old.string(), false, false);
    }
    return ok;
}

bool ImportXml::loadFile(db::Connection& c, const XmlMapping& mapping, const stdfs::path& file, std::string& reason)
{
    xml::ParseError error;
    auto doc = xml::Document::loadFile(file, &error);
    if (!doc || !doc->root()) {
        reason = "XML non valido alla riga " + std::to_string(error.line) + ": " + error.reason;
        return false;
    }
    const std::string begin = beginSql(c.dialect());
    if (!begin.empty() && !c.execute(begin)) {
        reason = errorText(c);
        return false;
    }
    std::map<std::string, db::RowWriter> writers;
    std::size_t rows = 0;
    bool ok = true;
    std::vector<xml::Element> pending{doc->root()};
    while (ok && !pending.empty()) {
        const xml::Element e = pending.back();
        pending.pop_back();
        const std::vector<xml::Element> children = e.children();
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back(*it);
        const auto rel = mapping.relations.find(e.localName());
        if (rel == mapping.relations.end())
            continue;
        auto w = writers.find(rel->second.table);
        if (w == writers.end()) {
            auto writer = c.openRowWriter(rel->second.table);
            if (!writer) {
                reason = "Tabella " + rel->second.table + ": " + errorText(c);
                ok = false;
                break;
            }
            w = writers.emplace(rel->second.table, std::move(*writer)).first;
        }
        db::RowWriter& writer = w->second;
        writer.addNew();
        for (const XmlMapping::Field& f : rel->second.fields) {
            std::optional<std::string> value;
            if (f.attribute) {
                value = e.attribute(f.name);
            } else {
                for (const xml::Element& ch : children)
                    if (ch.localName() == f.name) {
                        value = ch.text();
                        break;
                    }
            }
            if (value && !writer.set(f.column, db::Value(std::move(*value)))) {
                reason = "Colonna " + rel->second.table + "." + f.column + ": " + errorText(c);
                ok = false;
                break;
            }
        }
        if (ok && !writer.update()) {
            reason = "Tabella " + rel->second.table + ": " + errorText(c);
            ok = false;
        }
        ++rows;
    }
    if (ok && rows == 0) {
        reason = "Nessun elemento del file corrisponde allo schema";
        ok = false;
    }
    if (!begin.empty()) {
        if (ok && !c.execute("COMMIT")) {
            reason = errorText(c);
            ok = false;
        }
        if (!ok)
            (void)c.execute("ROLLBACK");
    }
    return ok;
}

} // namespace zs::engine
