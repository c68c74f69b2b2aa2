#include "olap/OlapCatalog.h"
#include "fs/ReadFile.h"

#include "xml/XmlDocument.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>

namespace zs::olap {

namespace {

constexpr const char* kSource = "ZentrikServer";

std::string attr(const xml::Element& e, const char* name)
{
    return e.attribute(name).value_or("");
}

/// The attribute's leading number; 0 when it has none.
template <class T> T numberAttr(const xml::Element& e, const char* name)
{
    const std::string s = attr(e, name);
    T v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

int intAttr(const xml::Element& e, const char* name)
{
    return numberAttr<int>(e, name);
}

double doubleAttr(const xml::Element& e, const char* name)
{
    return numberAttr<double>(e, name);
}

std::optional<time::DateTime> dateAttr(const xml::Element& e, const char* name)
{
    const std::string s = attr(e, name);
    return s.empty() ? std::nullopt : time::parseIso(s);
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

template <class T> T* byName(std::vector<T>& items, const std::string& n)
{
    const auto it = std::find_if(items.begin(), items.end(), [&n](const T& item) { return item.name == n; });
    return it == items.end() ? nullptr : &*it;
}

} // namespace

namespace {

/// `name` as it stands when it fits PostgreSQL's 63 bytes; else shortened, with a hash of the
/// whole name at its end.
std::string boundedTableName(std::string name)
{
    constexpr std::size_t kMaxName = 63; // PostgreSQL's identifier length
    if (name.size() <= kMaxName)
        return name;
    std::uint32_t hash = 2166136261u; // FNV-1a over the whole name
    for (const unsigned char ch : name)
        hash = (hash ^ ch) * 16777619u;
    char tail[10];
    std::snprintf(tail, sizeof tail, "_%08x", hash);
    std::size_t keep = kMaxName - 9;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep; // never cut a UTF-8 character in two
    return name.substr(0, keep) + tail;
}

/// A virtual cube that declares no dimensions (or no measures) of its own has those of the
/// cubes it is built on: each name once, in the order the source cubes give them.
void completeVirtualCubes(OlapDatabaseDef& db)
{
    for (CubeDef& v : db.cubes) {
        if (!v.isVirtual())
            continue;
        const bool ownDimensions = !v.dimensions.empty();
        const bool ownMeasures = !v.measures.empty();
        for (const std::string& sourceName : v.sourceCubes) {
            const CubeDef* src = db.cube(sourceName);
            if (!src || src->isVirtual())
                continue;
            if (!ownDimensions)
                for (const CubeDimension& d : src->dimensions)
                    if (std::none_of(v.dimensions.begin(), v.dimensions.end(),
                                     [&d](const CubeDimension& x) { return x.name == d.name; }))
                        v.dimensions.push_back(d);
            if (!ownMeasures)
                for (const Measure& m : src->measures)
                    if (std::none_of(v.measures.begin(), v.measures.end(),
                                     [&m](const Measure& x) { return x.name == m.name; }))
                        v.measures.push_back(m);
        }
    }
}

} // namespace

namespace {

/// The body of a table name: the length of the server name, "_", the server name, "_", the
/// length of the database name, "_", the database name, "_", the object name.
std::string tableNameBody(const std::string& server, const std::string& database, const std::string& object)
{
    return std::to_string(server.size()) + "_" + server + "_" + std::to_string(database.size()) + "_" + database + "_" +
           object;
}

} // namespace

std::string olapTableName(const std::string& prefix, const std::string& server, const std::string& database,
                          const std::string& object)
{
    const std::string body = tableNameBody(server, database, object);
    // The case of every letter, four letters to a hex digit, the first letter the highest bit.
    std::string mask;
    unsigned digit = 0;
    int letters = 0;
    for (const char ch : body) {
        const bool isUpper = ch >= 'A' && ch <= 'Z';
        if (!isUpper && !(ch >= 'a' && ch <= 'z'))
            continue;
        digit = (digit << 1) | (isUpper ? 1u : 0u);
        if (++letters % 4 == 0) {
            mask += "0123456789abcdef"[digit];
            digit = 0;
        }
    }
    if (letters % 4 != 0)
        mask += "0123456789abcdef"[digit << (4 - letters % 4)];
    while (!mask.empty() && mask.back() == '0')
        mask.pop_back();
    // The mask holds no "_": two names equal but for letter case have equal bodies but for case
    // and so other masks. The "u" keeps every name apart from the names tables had before.
    return boundedTableName(prefix + "u" + mask + "_" + body);
}

std::string earlierOlapTableName(const std::string& prefix, const std::string& server, const std::string& database,
                                 const std::string& object)
{
    return boundedTableName(prefix + tableNameBody(server, database, object));
}

std::string olapTableName(const std::string& prefix, const std::string& database, const std::string& object)
{
    return boundedTableName(prefix + std::to_string(database.size()) + "_" + database + "_" + object);
}

std::vector<EarlierTableName> CubeDef::earlierAggregateTables(const std::string& server,
                                                              const std::string& database) const
{
    // Before names carried the case of their letters, before they carried the server, and
    // before they carried the database.
    return {{earlierOlapTableName("olap_", server, database, name), server, database},
            {olapTableName("olap_", database, name), std::nullopt, database},
            {"olap_" + name, std::nullopt, std::nullopt}};
}

CubeDef* OlapDatabaseDef::cube(const std::string& n)
{
    if (m_indexedCubes != cubes.size() || m_cubeIndex.empty()) {
        m_cubeIndex.clear();
        m_cubeIndex.reserve(cubes.size());
        for (std::size_t i = 0; i < cubes.size(); ++i)
            m_cubeIndex.emplace(cubes[i].name, i);
        m_indexedCubes = cubes.size();
    }
    const auto it = m_cubeIndex.find(n);
    if (it != m_cubeIndex.end() && it->second < cubes.size() && cubes[it->second].name == n)
        return &cubes[it->second];
    // The list changed in place since it was indexed: the index is only a shortcut.
    return byName(cubes, n);
}

DimensionDef* OlapDatabaseDef::dimension(const std::string& n)
{
    return byName(dimensions, n);
}

OlapDatabaseDef* OlapCatalog::database(const std::string& n)
{
    return byName(databases, n);
}

std::optional<std::filesystem::path> catalogPath(const std::filesystem::path& folder, const std::string& server)
{
    if (server.empty() || server.find_first_of("/\\") != std::string::npos || server.find("..") != std::string::npos)
        return std::nullopt;
    return folder / ("olap-" + server + ".xml");
}

namespace {
std::atomic<std::size_t> g_catalogReads{0};
}

std::size_t catalogReads()
{
    return g_catalogReads.load();
}

std::optional<OlapCatalog> loadCatalog(const std::filesystem::path& file, OlapError* error)
{
    ++g_catalogReads;
    xml::ParseError pe;
    auto doc = xml::Document::loadFile(file, &pe, fs::ReadLimit::kDocument);
    auto fail = [&](std::string text) -> std::optional<OlapCatalog> {
        if (error)
            *error = {kErrOlapCatalog, std::move(text), kSource};
        return std::nullopt;
    };
    if (!doc) {
        std::string where = file.string();
        if (pe.line > 0)
            where += ", linea " + std::to_string(pe.line);
        return fail("Catalogo OLAP illeggibile " + where + ": " + pe.reason);
    }
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
        completeVirtualCubes(db);
        catalog.databases.push_back(std::move(db));
    }
    return catalog;
}

} // namespace zs::olap
