#include "olap/OlapCatalog.h"

#include "fs/AtomicFile.h"
#include "xml/XmlDocument.h"

#include <charconv>

namespace zs::olap {

namespace {

constexpr const char* kSource = "zs::olap";

std::string attr(const xml::Element& e, const char* name) { return e.attribute(name).value_or(""); }

int intAttr(const xml::Element& e, const char* name)
{
    const std::string s = attr(e, name);
    int v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

double doubleAttr(const xml::Element& e, const char* name)
{
    const std::string s = attr(e, name);
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

std::optional<time::DateTime> dateAttr(const xml::Element& e, const char* name)
{
    const std::string s = attr(e, name);
    return s.empty() ? std::nullopt : time::parseIso(s);
}

std::string numberText(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

void setDate(xml::Element& e, const char* name, const std::optional<time::DateTime>& d)
{
    if (d)
        e.setAttribute(name, time::toIso(*d));
}

void readState(const xml::Element& e, CubeDef& c)
{
    c.state = intAttr(e, "state");
    c.lastProcessed = dateAttr(e, "lastProcessed");
    c.lastUpdated = dateAttr(e, "lastUpdated");
    c.estimatedRows = doubleAttr(e, "estimatedRows");
    c.estimatedSize = doubleAttr(e, "estimatedSize");
    c.incrementalMark = attr(e, "incrementalMark");
}

void writeState(xml::Element& e, const CubeDef& c)
{
    e.setAttribute("state", std::to_string(c.state));
    setDate(e, "lastProcessed", c.lastProcessed);
    setDate(e, "lastUpdated", c.lastUpdated);
    e.setAttribute("estimatedRows", numberText(c.estimatedRows));
    e.setAttribute("estimatedSize", numberText(c.estimatedSize));
    if (!c.incrementalMark.empty())
        e.setAttribute("incrementalMark", c.incrementalMark);
}

} // namespace

CubeDef* OlapDatabaseDef::cube(const std::string& n)
{
    for (auto& c : cubes)
        if (c.name == n)
            return &c;
    return nullptr;
}

DimensionDef* OlapDatabaseDef::dimension(const std::string& n)
{
    for (auto& d : dimensions)
        if (d.name == n)
            return &d;
    return nullptr;
}

OlapDatabaseDef* OlapCatalog::database(const std::string& n)
{
    for (auto& d : databases)
        if (d.name == n)
            return &d;
    return nullptr;
}

std::optional<std::filesystem::path> catalogPath(const std::filesystem::path& folder, const std::string& server)
{
    if (server.empty() || server.find_first_of("/\\") != std::string::npos || server.find("..") != std::string::npos)
        return std::nullopt;
    return folder / ("olap-" + server + ".xml");
}

std::optional<OlapCatalog> loadCatalog(const std::filesystem::path& file, OlapError* error)
{
    xml::ParseError pe;
    auto doc = xml::Document::loadFile(file, &pe);
    auto fail = [&](std::string text) -> std::optional<OlapCatalog> {
        if (error)
            *error = {kErrOlapCatalog, std::move(text), kSource};
        return std::nullopt;
    };
    if (!doc)
        return fail("Catalogo OLAP illeggibile " + file.string() + ": " + pe.reason);
    const xml::Element root = doc->root();
    if (root.name() != "OlapServer")
        return fail("Catalogo OLAP senza elemento OlapServer: " + file.string());

    OlapCatalog catalog;
    catalog.server = attr(root, "name");
    for (const xml::Element& de : root.children()) {
        if (de.name() != "Database")
            continue;
        OlapDatabaseDef db;
        db.name = attr(de, "name");
        db.connectionString = attr(de, "connection");
        for (const xml::Element& e : de.children()) {
            if (e.name() == "Dimension") {
                DimensionDef d;
                d.name = attr(e, "name");
                d.table = attr(e, "table");
                d.column = attr(e, "column");
                d.state = intAttr(e, "state");
                d.lastProcessed = dateAttr(e, "lastProcessed");
                db.dimensions.push_back(std::move(d));
            } else if (e.name() == "Cube" || e.name() == "VirtualCube") {
                CubeDef c;
                c.name = attr(e, "name");
                c.subClassType = e.name() == "VirtualCube" ? 1 : 0;
                c.description = attr(e, "description");
                c.defaultMeasure = attr(e, "defaultMeasure");
                c.sourceTable = attr(e, "sourceTable");
                c.sourceTableAlias = attr(e, "sourceTableAlias");
                c.sourceTableFilter = attr(e, "sourceTableFilter");
                c.olapMode = intAttr(e, "olapMode");
                c.processOptimizationMode = intAttr(e, "processOptimizationMode");
                c.incrementalColumn = attr(e, "incrementalColumn");
                readState(e, c);
                for (const xml::Element& p : e.children()) {
                    if (p.name() == "DataSource")
                        c.dataSources.push_back(attr(p, "name"));
                    else if (p.name() == "Dimension")
                        c.dimensions.push_back({attr(p, "name"), attr(p, "column")});
                    else if (p.name() == "Measure")
                        c.measures.push_back({attr(p, "name"), attr(p, "column"),
                                              p.hasAttribute("aggregate") ? attr(p, "aggregate") : "sum"});
                    else if (p.name() == "SourceCube")
                        c.sourceCubes.push_back(attr(p, "name"));
                }
                db.cubes.push_back(std::move(c));
            }
        }
        catalog.databases.push_back(std::move(db));
    }
    return catalog;
}

std::string catalogXml(const OlapCatalog& catalog)
{
    xml::Document doc;
    doc.setDeclaration("UTF-8");
    xml::Element root = doc.createRoot("OlapServer");
    root.setAttribute("name", catalog.server);
    for (const auto& db : catalog.databases) {
        xml::Element de = root.appendChild("Database");
        de.setAttribute("name", db.name);
        de.setAttribute("connection", db.connectionString);
        for (const auto& d : db.dimensions) {
            xml::Element e = de.appendChild("Dimension");
            e.setAttribute("name", d.name);
            e.setAttribute("table", d.table);
            e.setAttribute("column", d.column);
            e.setAttribute("state", std::to_string(d.state));
            setDate(e, "lastProcessed", d.lastProcessed);
        }
        for (const auto& c : db.cubes) {
            xml::Element e = de.appendChild(c.isVirtual() ? "VirtualCube" : "Cube");
            e.setAttribute("name", c.name);
            e.setAttribute("description", c.description);
            e.setAttribute("defaultMeasure", c.defaultMeasure);
            if (!c.isVirtual()) {
                e.setAttribute("sourceTable", c.sourceTable);
                e.setAttribute("sourceTableAlias", c.sourceTableAlias);
                e.setAttribute("sourceTableFilter", c.sourceTableFilter);
                e.setAttribute("olapMode", std::to_string(c.olapMode));
                e.setAttribute("processOptimizationMode", std::to_string(c.processOptimizationMode));
                if (!c.incrementalColumn.empty())
                    e.setAttribute("incrementalColumn", c.incrementalColumn);
            }
            writeState(e, c);
            for (const auto& s : c.dataSources)
                e.appendChild("DataSource").setAttribute("name", s);
            for (const auto& s : c.sourceCubes)
                e.appendChild("SourceCube").setAttribute("name", s);
            for (const auto& d : c.dimensions) {
                xml::Element x = e.appendChild("Dimension");
                x.setAttribute("name", d.name);
                if (!d.column.empty())
                    x.setAttribute("column", d.column);
            }
            for (const auto& m : c.measures) {
                xml::Element x = e.appendChild("Measure");
                x.setAttribute("name", m.name);
                if (!m.column.empty())
                    x.setAttribute("column", m.column);
                x.setAttribute("aggregate", m.aggregate);
            }
        }
    }
    return doc.xml();
}

bool saveCatalog(const OlapCatalog& catalog, const std::filesystem::path& file, OlapError* error, fs::FileOps* ops)
{
    std::string why;
    const std::string text = catalogXml(catalog);
    const bool ok = ops ? fs::writeFileAtomic(file, text, {}, &why, *ops) : fs::writeFileAtomic(file, text, {}, &why);
    if (!ok && error)
        *error = {kErrOlapCatalog, "Salvataggio del catalogo OLAP non riuscito: " + why, kSource};
    return ok;
}

} // namespace zs::olap
