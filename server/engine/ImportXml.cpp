#include "engine/ImportXml.h"

#include "db/Connection.h"
#include "db/SqlText.h"
#include "engine/EngineStrings.h"
#include "engine/StepFields.h"
#include "fs/AtomicFile.h"
#include "fs/Fd.h"
#include "fs/FileOps.h"
#include "fs/Paths.h"
#include "fs/ReadFile.h"
#include "program/ProgramLog.h"
#include "program/ShellServices.h"
#include "text/SystemReason.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include "engine/XmlPullReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::engine {
namespace {

namespace stdfs = std::filesystem;

const char* const kWhere = "[.modImportXml.ImportXmlBulkLoad]";
const char* const kLinkRefused = "il file è un collegamento simbolico: non viene importato (copiare o spostare nella "
                                 "cartella il file stesso)";

const char* const kSupportedOnElements[] = {"relation",   "field",       "mapped",  "relationship",
                                            "key-fields", "is-constant", "datatype"};
const char* const kSupportedOnAttributes[] = {"field", "mapped", "datatype"};

std::string localOf(const std::string& qualified)
{
    const auto colon = qualified.find(':');
    return colon == std::string::npos ? qualified : qualified.substr(colon + 1);
}

bool sameName(const std::string& a, const std::string& b)
{
    return text::equalsNoCase(a, b);
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::string w;
    for (char c : text + " ") {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!w.empty())
                out.push_back(std::move(w));
            w.clear();
        } else {
            w += c;
        }
    }
    return out;
}

/// The mapping annotations of a declaration: its prefixed attributes (namespace declarations
/// and xml: attributes aside), by local name. Refuses, by name, one the import does not know.
template <std::size_t N>
bool annotationsOf(const xml::Element& e, const char* const (&supported)[N], const std::string& what,
                   std::map<std::string, std::string>& out, std::string& reason)
{
    for (const auto& [key, value] : e.attributes()) {
        const auto colon = key.find(':');
        if (colon == std::string::npos || key.rfind("xmlns", 0) == 0 || key.rfind("xml:", 0) == 0)
            continue;
        const std::string name = key.substr(colon + 1);
        if (std::find(std::begin(supported), std::end(supported), name) == std::end(supported)) {
            reason = "Annotazione " + key + " non supportata (" + what + ")";
            return false;
        }
        out[name] = value;
    }
    return true;
}

bool isFalse(const std::map<std::string, std::string>& a, const char* name)
{
    const auto it = a.find(name);
    return it != a.end() && (lower(it->second) == "false" || it->second == "0");
}

bool isTrue(const std::map<std::string, std::string>& a, const char* name)
{
    const auto it = a.find(name);
    return it != a.end() && (lower(it->second) == "true" || it->second == "1");
}

struct Relationship {
    std::string parent, child;
    std::vector<std::string> parentKey, childKey;
};

/// The relationships an xsd:annotation declares in its appinfo; anything else there is refused.
bool readAppinfo(const xml::Element& annotation, std::map<std::string, Relationship>& out, std::string& reason)
{
    for (const xml::Element& c : annotation.children()) {
        if (c.localName() == "documentation")
            continue;
        if (c.localName() != "appinfo") {
            reason = "Costrutto " + c.name() + " non supportato nello schema";
            return false;
        }
        for (const xml::Element& r : c.children()) {
            if (r.localName() != "relationship") {
                reason = "Annotazione " + r.name() + " non supportata";
                return false;
            }
            Relationship rel;
            rel.parent = r.attribute("parent").value_or("");
            rel.child = r.attribute("child").value_or("");
            rel.parentKey = words(r.attribute("parent-key").value_or(""));
            rel.childKey = words(r.attribute("child-key").value_or(""));
            const std::string name = r.attribute("name").value_or("");
            if (name.empty() || rel.parent.empty() || rel.child.empty() || rel.parentKey.empty() ||
                rel.parentKey.size() != rel.childKey.size()) {
                reason = "Relazione " + name +
                         " incompleta: servono name, parent, parent-key, child e child-key con lo stesso numero di "
                         "colonne";
                return false;
            }
            out[name] = std::move(rel);
        }
    }
    return true;
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

/// Copies `from` into a new temporary file in `folder` (the old-files folder on another file
/// system, where a rename cannot go), with its mode and time, flushed to the disk; sets `tmp`.
/// Nothing is left behind on failure.
bool copyFlushed(const stdfs::path& from, const stdfs::path& folder, const stdfs::path& to, stdfs::path& tmp,
                 std::string& reason)
{
    fs::Fd in, out;
    std::string tmpName;
    const auto failed = [&](const std::string& what) {
        reason = what + ": " + text::systemReason(errno);
        if (out.valid()) {
            out.reset();
            ::unlink(tmpName.c_str());
        }
        return false;
    };
    in.reset(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return failed("lettura di " + from.string());
    struct stat st {};
    if (::fstat(in.get(), &st) != 0)
        return failed("lettura di " + from.string());
    out.reset(fs::createTemporary(folder, to.filename().string(), st.st_mode & 0777, tmpName, fs::systemFileOps()));
    if (!out.valid()) {
        reason = "creazione di " + to.string() + ": " + text::systemReason(errno);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failed("lettura di " + from.string());
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return failed("scrittura di " + to.string());
            done += put;
        }
    }
    // The copy keeps the file's time: it is how a later start knows it for the same file.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)::futimens(out.get(), times);
    if (::fsync(out.get()) != 0)
        return failed("scrittura di " + to.string());
    if (::close(out.release()) != 0) {
        reason = "scrittura di " + to.string() + ": " + text::systemReason(errno);
        ::unlink(tmpName.c_str());
        return false;
    }
    tmp = tmpName;
    return true;
}

/// Renames `from` to `to` unless something stands at `to` already.
bool renameNoReplace(const stdfs::path& from, const stdfs::path& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: the caller checked the name is free.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

/// A data file as the record of its import knows it.
struct FileIdentity {
    long long size = -1;
    long long modified = -1; ///< nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(const stdfs::path& file)
{
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<long long>(st.st_size),
                        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

/// One data file's rows on their way to the database: the rows of an element still open wait
/// for it (a child's key comes from its parent, and the parent's row is written first); a row
/// with no open row above it goes out at its end tag, so memory follows one top-level element,
/// not the file.
class RowLoader {
  public:
    RowLoader(db::Connection& c, const XmlMapping& mapping)
        : m_c(c)
        , m_mapping(mapping)
        , m_fieldIndex(mapping.nodes.size())
    {}

    struct PendingRow {
        std::size_t node = 0;
        std::vector<std::optional<std::string>> values;
        std::vector<std::unique_ptr<PendingRow>> children;
    };

    /// Writes `row` and then the rows nested in it.
    bool write(PendingRow& row, const PendingRow* parent, std::string& reason)
    {
        const XmlMapping::Node& node = m_mapping.nodes[row.node];
        for (const auto& [parentSlot, childSlot] : node.link) {
            const XmlMapping::Node& pn = m_mapping.nodes[parent ? parent->node : 0];
            if (!parent || !parent->values[parentSlot]) {
                reason = "Riga di " + node.table + " senza il valore della chiave " +
                         (parent ? pn.columns[parentSlot] : std::string()) + " della riga padre (relazione " +
                         node.relationship + ")";
                return false;
            }
            row.values[childSlot] = parent->values[parentSlot];
        }
        db::RowWriter* w = writerFor(row.node, reason);
        if (!w)
            return false;
        w->addNew();
        const std::vector<std::size_t>& index = m_fieldIndex[row.node];
        const bool keep = !row.children.empty();
        for (std::size_t s = 0; s < row.values.size(); ++s) {
            auto& v = row.values[s];
            if (!v)
                continue;
            const bool set = keep ? w->setAt(index[s], db::Value(*v)) : w->setAt(index[s], db::Value(std::move(*v)));
            if (!set) {
                reason = "Colonna " + node.table + "." + node.columns[s] + ": " + errorText(m_c);
                return false;
            }
        }
        // Rows go out in batches, a batch per table; all batches are written together, in the
        // order the tables were first used, so a parent's row always reaches the database before
        // its children's.
        if (w->wouldWrite() && !flush(reason, false))
            return false;
        if (!w->queue()) {
            reason = tableFailure(node.table);
            return false;
        }
        ++m_rows;
        for (auto& child : row.children)
            if (!write(*child, &row, reason))
                return false;
        return true;
    }

    /// Writes the batches; with `wait` false the last one may still be on its way (the
    /// connection's next call waits for it): reading the file goes on meanwhile.
    bool flush(std::string& reason, bool wait = true)
    {
        for (std::size_t i = 0; i < m_writers.size(); ++i)
            if (!m_writers[i].writer.flush(wait && i + 1 == m_writers.size())) {
                reason = tableFailure(m_writers[i].table);
                return false;
            }
        return true;
    }

    std::size_t rows() const { return m_rows; }

  private:
    /// The failure line of a write: rows of another table still on their way may be what the
    /// database refused, so the line names the table the connection says refused them.
    std::string tableFailure(const std::string& writing) const
    {
        const std::string& refused = m_c.failedInsertTable();
        return "Tabella " + (refused.empty() ? writing : refused) + ": " + errorText(m_c);
    }

    struct TableWriter {
        std::string table;
        db::RowWriter writer;
    };

    db::RowWriter* writerFor(std::size_t nodeIndex, std::string& reason)
    {
        const XmlMapping::Node& node = m_mapping.nodes[nodeIndex];
        std::size_t t = 0;
        while (t < m_writers.size() && !sameName(m_writers[t].table, node.table))
            ++t;
        if (t == m_writers.size()) {
            auto w = m_c.openRowWriter(node.table);
            if (!w) {
                reason = tableFailure(node.table);
                return nullptr;
            }
            m_writers.push_back({node.table, std::move(*w)});
        }
        db::RowWriter& w = m_writers[t].writer;
        std::vector<std::size_t>& index = m_fieldIndex[nodeIndex];
        if (index.empty() && !node.columns.empty()) {
            // Every mapped column must exist: a value is never dropped on the way in.
            for (const std::string& column : node.columns) {
                const auto i = w.fieldIndex(column);
                if (!i) {
                    reason = "Colonna " + node.table + "." + column + ": la tabella non ha questa colonna";
                    index.clear();
                    return nullptr;
                }
                index.push_back(*i);
            }
        }
        return &w;
    }

    db::Connection& m_c;
    const XmlMapping& m_mapping;
    std::vector<TableWriter> m_writers;
    std::vector<std::vector<std::size_t>> m_fieldIndex; // per node: slot -> writer field
    std::size_t m_rows = 0;
};

/// Where the import records the files whose rows it committed, until they have moved.
const char* const kLoadedTable = "ZENTRIK_IMPORTXML";

bool ensureLoadedTable(db::Connection& c, std::string& reason)
{
    const auto names = c.tableNames();
    if (names &&
        std::any_of(names->begin(), names->end(), [](const std::string& n) { return sameName(n, kLoadedTable); }))
        return true;
    std::string text = "varchar(4000)", number = "bigint";
    switch (c.dialect()) {
    case db::Dialect::Sqlite:
        text = "text";
        number = "integer";
        break;
    case db::Dialect::PostgreSql:
        text = "text";
        break;
    case db::Dialect::SqlServer:
        text = "nvarchar(4000)";
        break;
    case db::Dialect::Oracle:
        text = "varchar2(4000)";
        number = "number(19)";
        break;
    default:
        break;
    }
    if (c.execute("create table " + std::string(kLoadedTable) + " (CARTELLA " + text + " not null, NOMEFILE " + text +
                  " not null, DIMENSIONE " + number + " not null, MODIFICATO " + number + " not null)"))
        return true;
    reason = "Tabella " + std::string(kLoadedTable) + ": " + errorText(c);
    return false;
}

std::string recordSql(const std::string& folder, const std::string& name, const FileIdentity& id)
{
    return "insert into " + std::string(kLoadedTable) + " (CARTELLA, NOMEFILE, DIMENSIONE, MODIFICATO) values (" +
           db::sqlLiteral(folder) + ", " + db::sqlLiteral(name) + ", " + std::to_string(id.size) + ", " +
           std::to_string(id.modified) + ")";
}

bool sameFileSystem(const stdfs::path& file, const stdfs::path& folder)
{
    struct stat a {
    }, b{};
    return ::stat(file.c_str(), &a) == 0 && ::stat(folder.c_str(), &b) == 0 && a.st_dev == b.st_dev;
}

/// The queued data files of the import folder, in name order, without the ones already in.
/// Symbolic links are listed too, as they stand (not what they point to), so that each is
/// refused by name rather than skipped without a word.
std::vector<stdfs::path> queuedFiles(const stdfs::path& folder, const std::set<std::string>& alreadyIn)
{
    std::error_code ec;
    std::vector<stdfs::path> files;
    for (const auto& entry : stdfs::directory_iterator(folder, ec)) {
        const stdfs::file_type type = entry.symlink_status(ec).type();
        if ((type == stdfs::file_type::regular || type == stdfs::file_type::symlink) &&
            lower(entry.path().extension().string()) == ".xml" && !alreadyIn.count(entry.path().filename().string()))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

/// Follows a data file's open elements and fills the rows of the mapped ones; a row goes to the
/// loader when its element ends, unless a row above it is still open.
class ElementTracker {
  public:
    ElementTracker(const XmlMapping& mapping, RowLoader& loader)
        : m_mapping(mapping)
        , m_loader(loader)
    {}

    void text(const std::string& text)
    {
        if (inField())
            m_fieldText += text;
    }

    void start(const XmlPullReader& reader)
    {
        if (inField()) {
            ++m_fieldDepth; // markup inside a column's element: its text still counts
            return;
        }
        Open e = classify(reader.localName());
        if (e.kind == Kind::Node) {
            const XmlMapping::Node& node = m_mapping.nodes[e.node];
            if (!node.table.empty())
                e.row = newRow(e.node, reader);
        }
        if (e.kind == Kind::Field)
            m_fieldText.clear();
        m_open.push_back(std::move(e));
    }

    bool end(std::string& reason)
    {
        if (m_fieldDepth > 0) {
            --m_fieldDepth;
            return true;
        }
        Open e = std::move(m_open.back());
        m_open.pop_back();
        if (e.kind == Kind::Field && e.fieldRow) {
            e.fieldRow->values[e.slot] = std::move(m_fieldText);
            m_fieldText.clear();
        } else if (e.row) {
            if (Row* parent = rowAbove())
                parent->children.push_back(std::move(e.row));
            else if (!m_loader.write(*e.row, nullptr, reason))
                return false;
        }
        return true;
    }

  private:
    using Row = RowLoader::PendingRow;
    // What each open element is: outside every mapped element, a mapped element (a row or a
    // container), a column whose text is being read, or something the schema does not map.
    enum class Kind { Outside, Node, Field, Skip };
    struct Open {
        Kind kind = Kind::Outside;
        std::size_t node = 0;
        std::unique_ptr<Row> row; // for a row's element
        Row* fieldRow = nullptr;  // for a column's element
        std::size_t slot = 0;
    };

    bool inField() const { return !m_open.empty() && (m_open.back().kind == Kind::Field || m_fieldDepth > 0); }

    /// What an element starting here is, from the element it is in.
    Open classify(std::string_view name) const
    {
        Open e;
        const Open* top = m_open.empty() ? nullptr : &m_open.back();
        if (top && top->kind == Kind::Skip) {
            e.kind = Kind::Skip;
        } else if (top && top->kind == Kind::Node) {
            const XmlMapping::Node& parent = m_mapping.nodes[top->node];
            if (auto n = find(parent.children, name)) {
                e.kind = Kind::Node;
                e.node = *n;
            } else {
                e.kind = Kind::Skip;
                for (const auto& f : parent.fields)
                    if (!f.attribute && f.name == name) {
                        e.kind = Kind::Field;
                        e.fieldRow = top->row.get();
                        e.slot = f.slot;
                    }
            }
        } else if (auto n = find(m_mapping.roots, name)) {
            e.kind = Kind::Node;
            e.node = *n;
        }
        return e;
    }

    /// A row of `node`, with the values its start tag's attributes give.
    std::unique_ptr<Row> newRow(std::size_t node, const XmlPullReader& reader)
    {
        const XmlMapping::Node& n = m_mapping.nodes[node];
        auto row = std::make_unique<Row>();
        row->node = node;
        row->values.resize(n.columns.size());
        // Each attribute's local name is worked out once, not once a field.
        const auto attributes = reader.attributes();
        m_localNames.clear();
        for (const auto& a : attributes) {
            const auto colon = a.name.rfind(':');
            m_localNames.push_back(colon == std::string::npos ? std::string_view(a.name)
                                                              : std::string_view(a.name).substr(colon + 1));
        }
        for (const auto& f : n.fields)
            if (f.attribute)
                for (std::size_t k = 0; k < attributes.size(); ++k)
                    if (m_localNames[k] == f.name)
                        row->values[f.slot] = attributes[k].value;
        return row;
    }

    Row* rowAbove() const
    {
        for (auto it = m_open.rbegin(); it != m_open.rend(); ++it)
            if (it->row)
                return it->row.get();
        return nullptr;
    }

    std::optional<std::size_t> find(const std::vector<std::size_t>& among, std::string_view name) const
    {
        for (std::size_t n : among)
            if (m_mapping.nodes[n].name == name)
                return n;
        return std::nullopt;
    }

    const XmlMapping& m_mapping;
    RowLoader& m_loader;
    std::vector<Open> m_open;
    std::string m_fieldText;
    std::size_t m_fieldDepth = 0;               // elements nested inside the column's element
    std::vector<std::string_view> m_localNames; // of the start tag's attributes, kept for its storage
};

/// Reads a schema's declarations into a mapping's nodes, pass by pass: the top-level
/// declarations, the element declarations, then the tables and columns, then the relationships
/// between the rows. Each pass returns false with the reason when the schema cannot be mapped.
class SchemaReader {
  public:
    SchemaReader(XmlMapping& mapping, std::string& reason)
        : m_nodes(mapping.nodes)
        , m_roots(mapping.roots)
        , m_reason(reason)
    {}

    bool readTopLevel(const xml::Element& root)
    {
        for (const xml::Element& c : root.children()) {
            const std::string kind = c.localName();
            const std::string name = c.attribute("name").value_or("");
            if (kind == "element") {
                m_globalElements[name] = c;
                m_globals.push_back(c);
            } else if (kind == "complexType") {
                m_complexTypes[name] = c;
            } else if (kind == "annotation") {
                if (!readAppinfo(c, m_relationships, m_reason))
                    return false;
            } else if (kind != "simpleType" && kind != "attribute") {
                m_reason = "Costrutto " + c.name() + " non supportato nello schema";
                return false;
            }
        }
        return true;
    }

    /// The declarations are walked with a stack of their own: a deep or self-referring schema
    /// cannot exhaust the program's stack; it meets the bounds below instead.
    bool walkDeclarations()
    {
        for (auto it = m_globals.rbegin(); it != m_globals.rend(); ++it)
            m_work.push_back({*it, -1, 0});
        while (!m_work.empty()) {
            Work w = m_work.back();
            m_work.pop_back();
            if (!mapDeclaration(w))
                return false;
        }
        return true;
    }

    /// Tables, columns and the key fields of every node.
    bool assignTables()
    {
        for (std::size_t i = 0; i < m_nodes.size(); ++i) {
            XmlMapping::Node& n = m_nodes[i];
            const Pending& p = m_extra[i];
            if (p.constant && !n.fields.empty()) {
                m_reason = "L'elemento " + n.name + " con sql:is-constant non può avere campi";
                return false;
            }
            n.table = p.hasRelation ? p.relation : (!p.constant && !n.fields.empty() ? n.name : std::string());
            for (XmlMapping::Field& f : n.fields) {
                auto at = std::find_if(n.columns.begin(), n.columns.end(),
                                       [&](const std::string& c) { return sameName(c, f.column); });
                f.slot = static_cast<std::size_t>(at - n.columns.begin());
                if (at == n.columns.end())
                    n.columns.push_back(f.column);
            }
            for (const std::string& key : words(p.keyFields))
                if (std::none_of(n.columns.begin(), n.columns.end(),
                                 [&](const std::string& c) { return sameName(c, key); })) {
                    m_reason =
                        "Il campo chiave " + key + " di " + n.name + " (sql:key-fields) non è mappato nello schema";
                    return false;
                }
        }
        return true;
    }

    /// The relationships between the rows: which of the parent's columns fill which of the child's.
    bool linkRelationships()
    {
        for (std::size_t i = 0; i < m_nodes.size(); ++i)
            if (!m_extra[i].relationship.empty() && !linkToParent(i))
                return false;
        return true;
    }

  private:
    static constexpr std::size_t kMaxDepth = 64;
    static constexpr std::size_t kMaxNodes = 10000;
    struct Work {
        xml::Element decl;
        long parent; // node index, -1 for a global declaration
        std::size_t depth;
    };
    /// A node's annotations, until the tables are known.
    struct Pending {
        std::string relation, relationship, keyFields;
        bool hasRelation = false, constant = false;
        long parent = -1;
    };
    using Annotations = std::map<std::string, std::string>;

    bool mapDeclaration(const Work& w)
    {
        xml::Element decl = w.decl;
        if (auto ref = decl.attribute("ref")) {
            const auto g = m_globalElements.find(localOf(*ref));
            if (g == m_globalElements.end()) {
                m_reason = "Elemento " + *ref + " richiamato ma non dichiarato nello schema";
                return false;
            }
            decl = g->second;
        }
        const std::string name = decl.attribute("name").value_or("");
        Annotations ann;
        if (!annotationsOf(decl, kSupportedOnElements, "elemento " + name, ann, m_reason))
            return false;
        if (isFalse(ann, "mapped"))
            return true;
        const xml::Element type = complexTypeOf(decl);
        if (!type)
            return addColumn(w, name, ann);
        const std::optional<std::size_t> index = addNode(w, name, ann);
        if (!index)
            return false;
        // The element's own annotation (inline relationships) and its type's content.
        for (const xml::Element& c : decl.children())
            if (c.localName() == "annotation" && !readAppinfo(c, m_relationships, m_reason))
                return false;
        std::vector<xml::Element> nested;
        if (!readContent(type, name, *index, nested))
            return false;
        for (auto it = nested.rbegin(); it != nested.rend(); ++it)
            m_work.push_back({*it, static_cast<long>(*index), w.depth + 1});
        return true;
    }

    /// The element's complex type, inline or named; none for a simple element.
    xml::Element complexTypeOf(const xml::Element& decl) const
    {
        xml::Element type;
        for (const xml::Element& c : decl.children())
            if (c.localName() == "complexType")
                type = c;
        if (!type)
            if (auto t = decl.attribute("type")) {
                const auto ct = m_complexTypes.find(localOf(*t));
                if (ct != m_complexTypes.end())
                    type = ct->second;
            }
        return type;
    }

    /// A simple element: a column of the enclosing row.
    bool addColumn(const Work& w, const std::string& name, Annotations& ann)
    {
        if (w.parent < 0)
            return true;
        if (ann.count("relation") || ann.count("relationship") || ann.count("key-fields")) {
            m_reason = "Annotazione sql:relation, sql:relationship o sql:key-fields su un elemento semplice (" + name +
                       ") non supportata";
            return false;
        }
        m_nodes[static_cast<std::size_t>(w.parent)].fields.push_back(
            {name, ann.count("field") ? ann["field"] : name, false, 0});
        return true;
    }

    /// A complex element: a node of its own, below its parent's.
    std::optional<std::size_t> addNode(const Work& w, const std::string& name, Annotations& ann)
    {
        if (ann.count("field")) {
            m_reason = "Annotazione sql:field su un elemento complesso (" + name + ") non supportata";
            return std::nullopt;
        }
        if (w.depth >= kMaxDepth || m_nodes.size() >= kMaxNodes) {
            m_reason = "Schema troppo profondo o troppo grande (elementi che si richiamano a vicenda?)";
            return std::nullopt;
        }
        const std::size_t index = m_nodes.size();
        m_nodes.push_back({});
        m_nodes.back().name = name;
        Pending p;
        p.hasRelation = ann.count("relation") > 0;
        p.relation = p.hasRelation ? ann["relation"] : std::string();
        p.relationship = ann.count("relationship") ? ann["relationship"] : std::string();
        p.keyFields = ann.count("key-fields") ? ann["key-fields"] : std::string();
        p.constant = isTrue(ann, "is-constant");
        p.parent = w.parent;
        m_extra.push_back(p);
        if (w.parent < 0)
            m_roots.push_back(index);
        else
            m_nodes[static_cast<std::size_t>(w.parent)].children.push_back(index);
        return index;
    }

    /// The type's attributes become the node's fields; its nested elements go to `nested`.
    bool readContent(const xml::Element& type, const std::string& name, std::size_t index,
                     std::vector<xml::Element>& nested)
    {
        std::vector<xml::Element> content{type};
        while (!content.empty()) {
            const xml::Element node = content.back();
            content.pop_back();
            const std::vector<xml::Element> children = node.children();
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                const xml::Element& c = *it;
                const std::string kind = c.localName();
                if (kind == "sequence" || kind == "all" || kind == "choice") {
                    content.push_back(c);
                } else if (kind == "element") {
                    nested.push_back(c);
                } else if (kind == "attribute") {
                    if (!addAttribute(c, name, index))
                        return false;
                } else if (kind == "annotation") {
                    if (!readAppinfo(c, m_relationships, m_reason))
                        return false;
                } else if (kind != "any" && kind != "anyAttribute") {
                    m_reason = "Costrutto " + c.name() + " non supportato nell'elemento " + name;
                    return false;
                }
            }
        }
        return true;
    }

    bool addAttribute(const xml::Element& c, const std::string& name, std::size_t index)
    {
        const std::string attr = c.attribute("name").value_or("");
        Annotations a;
        if (!annotationsOf(c, kSupportedOnAttributes, "attributo " + attr + " di " + name, a, m_reason))
            return false;
        if (attr.empty()) {
            m_reason = "Attributo senza nome (o con ref) nell'elemento " + name + ": non supportato";
            return false;
        }
        if (!isFalse(a, "mapped"))
            m_nodes[index].fields.push_back({attr, a.count("field") ? a["field"] : attr, true, 0});
        return true;
    }

    bool linkToParent(std::size_t i)
    {
        const Pending& p = m_extra[i];
        XmlMapping::Node& n = m_nodes[i];
        const std::vector<std::string> names = words(p.relationship);
        if (names.size() != 1) {
            m_reason = "Catena di relazioni \"" + p.relationship + "\" su " + n.name + " non supportata";
            return false;
        }
        const auto rel = m_relationships.find(names[0]);
        if (rel == m_relationships.end()) {
            m_reason = "Relazione " + names[0] + " usata da " + n.name + " ma non dichiarata nello schema";
            return false;
        }
        if (p.parent < 0 || m_nodes[static_cast<std::size_t>(p.parent)].table.empty() || n.table.empty()) {
            m_reason = "La relazione " + names[0] + " di " + n.name + " deve unire una riga figlia alla riga padre";
            return false;
        }
        XmlMapping::Node& parent = m_nodes[static_cast<std::size_t>(p.parent)];
        if (!sameName(rel->second.parent, parent.table) || !sameName(rel->second.child, n.table)) {
            m_reason = "La relazione " + names[0] + " unisce " + rel->second.parent + " e " + rel->second.child +
                       ", non " + parent.table + " e " + n.table;
            return false;
        }
        n.relationship = names[0];
        return linkKeys(rel->second, parent, n);
    }

    bool linkKeys(const Relationship& rel, const XmlMapping::Node& parent, XmlMapping::Node& n)
    {
        for (std::size_t k = 0; k < rel.parentKey.size(); ++k) {
            const auto& pk = rel.parentKey[k];
            const auto at = std::find_if(parent.columns.begin(), parent.columns.end(),
                                         [&](const std::string& c) { return sameName(c, pk); });
            if (at == parent.columns.end()) {
                m_reason = "La chiave " + pk + " di " + parent.table + " (relazione " + n.relationship +
                           ") non è mappata nello schema";
                return false;
            }
            const auto& ck = rel.childKey[k];
            auto ct =
                std::find_if(n.columns.begin(), n.columns.end(), [&](const std::string& c) { return sameName(c, ck); });
            if (ct == n.columns.end()) {
                n.columns.push_back(ck);
                ct = n.columns.end() - 1;
            }
            n.link.emplace_back(static_cast<std::size_t>(at - parent.columns.begin()),
                                static_cast<std::size_t>(ct - n.columns.begin()));
        }
        return true;
    }

    std::vector<XmlMapping::Node>& m_nodes;
    std::vector<std::size_t>& m_roots;
    std::string& m_reason;
    std::map<std::string, xml::Element> m_globalElements, m_complexTypes;
    std::map<std::string, Relationship> m_relationships;
    std::vector<xml::Element> m_globals;
    std::vector<Pending> m_extra;
    std::vector<Work> m_work;
};

} // namespace

bool XmlMapping::load(const stdfs::path& schema, std::string& reason)
{
    nodes.clear();
    roots.clear();
    xml::ParseError error;
    auto doc = xml::Document::loadFile(schema, &error, fs::ReadLimit::kSchema);
    if (!doc || !doc->root()) {
        reason = "Schema " + schema.string() + " non leggibile" +
                 (error.code ? " (riga " + std::to_string(error.line) + ": " + error.reason + ")" : std::string());
        return false;
    }
    SchemaReader reader(*this, reason);
    if (!reader.readTopLevel(doc->root()) || !reader.walkDeclarations() || !reader.assignTables() ||
        !reader.linkRelationships())
        return false;
    if (std::none_of(nodes.begin(), nodes.end(), [](const Node& n) { return !n.table.empty(); })) {
        reason = "Lo schema " + schema.string() + " non associa alcun elemento a una tabella";
        return false;
    }
    return true;
}

ImportXml::ImportXml(program::ProgramLog& log, program::MessageService& messages, const time::Clock& clock,
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
    const StepFields f(step);
    return ImportXmlBulkLoad(f["path"], f["schema"], f["oldpath"]);
}

void ImportXml::handledError(const std::string& description)
{
    const std::string text = "Errore nell'importazione dei file xml\r\n" + description + "\r\n" + kWhere;
    m_log.WriteInLog(text, false, false);
    m_log.OutputResponse("Errore nell'importazione dei file xml-" + description, true, 1);
    m_messages.show(text, program::MessageIcon::Critical, "Errore.");
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

    // Which files went in is recorded in the target itself, in the transaction of their rows:
    // what a crash left half-way (rows committed, file not yet moved) is finished first.
    if (!ensureLoadedTable(*c, reason)) {
        handledError(reason);
        return false;
    }
    std::set<std::string> alreadyIn;
    bool ok = true;
    if (!reconcile(*c, folder, old, alreadyIn, ok, reason)) {
        handledError(reason);
        return false;
    }
    for (const stdfs::path& file : queuedFiles(folder, alreadyIn))
        if (!importFile(*c, mapping, folder, old, file))
            ok = false;
    return ok;
}

bool ImportXml::importFile(db::Connection& c, const XmlMapping& mapping, const stdfs::path& folder,
                           const stdfs::path& old, const stdfs::path& file)
{
    m_log.WriteInLog("importazione xml del file " + file.stem().string(), false, false);
    const std::string begin = beginSql(c.dialect());
    const std::string name = file.filename().string();
    std::string reason;
    // A link is refused before anything is read: its rows and its identity would be those of
    // two different files, and moving the link would leave its target behind to be linked
    // again. It stays in the folder, refused the same way by every run, until it is replaced
    // by the file itself.
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        rejectFile(c, file, std::string(), kLinkRefused);
        return false;
    }
    if (!loadAndRecord(c, mapping, folder, file, begin, reason)) {
        rejectFile(c, file, begin, reason);
        return false;
    }
    // The rows, the file's record and the file's move stand or fall together. What can fail
    // is tried before the commit (the old-files folder, a free name there, the copy to
    // another file system), so such a file stays with none of its rows. After the commit a
    // crash leaves the file queued with its record, and the next start moves it without
    // loading it again. A file is never overwritten in the old-files folder.
    stdfs::path copy;
    std::string why;
    if (!readyToMove(file, old, copy, why)) {
        if (!begin.empty())
            (void)c.execute("ROLLBACK");
        moveFailed(file, old, why);
        return false;
    }
    if (!begin.empty() && !c.execute("COMMIT")) {
        // The rows did not go in (a full disk, say): the import failed, not the move.
        why = "salvataggio delle righe non riuscito: " + errorText(c);
        (void)c.execute("ROLLBACK");
        if (!copy.empty())
            ::unlink(copy.c_str());
        rejectFile(c, file, std::string(), why);
        return false;
    }
    reached(CommitPoint::Committed);
    if (!completeMove(file, old, copy, why)) {
        // The rows are in and recorded: the next start finishes the move.
        moveFailed(file, old, why);
        return false;
    }
    reached(CommitPoint::Moved);
    // The record has done its work; one left by a crash here is dropped by the next start.
    (void)c.execute("delete from " + std::string(kLoadedTable) +
                    " where CARTELLA = " + db::sqlLiteral(folder.string()) + " and NOMEFILE = " + db::sqlLiteral(name));
    reached(CommitPoint::Done);
    return true;
}

bool ImportXml::loadAndRecord(db::Connection& c, const XmlMapping& mapping, const stdfs::path& folder,
                              const stdfs::path& file, const std::string& begin, std::string& reason)
{
    const std::optional<FileIdentity> identity = identityOf(file);
    if (!(begin.empty() || c.execute(begin) || ((reason = errorText(c)), false)) || !loadFile(c, mapping, file, reason))
        return false;
    reached(CommitPoint::RowsWritten);
    if (!identity || !c.execute(recordSql(folder.string(), file.filename().string(), *identity))) {
        reason = identity ? "registrazione del file importato: " + errorText(c) : "file non più leggibile";
        return false;
    }
    reached(CommitPoint::Recorded);
    return true;
}

void ImportXml::rejectFile(db::Connection& c, const stdfs::path& file, const std::string& begin,
                           const std::string& reason)
{
    (void)c.settleInsert(); // rows still on their way: their outcome no longer matters
    if (!begin.empty())
        (void)c.execute("ROLLBACK");
    m_log.WriteInLog("Errore nell'importazione del file " + file.string() + "\r\n" + reason + "\r\n" + kWhere, true,
                     false);
    const auto id = m_log.OutputResponse("Errore nell'importazione del file " + file.string() + "-" + reason, true, 1);
    m_log.setImage(id, static_cast<program::LogImage>(2));
    // The import's error log is opened as the day log is: a FIFO, folder or link at its name is
    // refused at once, and said once in the step's lines.
    std::string error;
    if (!fs::appendToFile(errorLogFile(), file.string() + ": " + reason + "\r\n", &error) && !m_errorLogReported) {
        m_errorLogReported = true;
        m_log.OutputResponse("Log degli errori di importazione non aggiornato: " + error, true, 1);
    }
}

bool ImportXml::readyToMove(const stdfs::path& file, const stdfs::path& old, stdfs::path& copy, std::string& why)
{
    const stdfs::path target = old / file.filename();
    std::error_code ec;
    if (!stdfs::is_directory(old, ec) && !stdfs::create_directory(old, ec) && !stdfs::is_directory(old))
        why = "impossibile creare la cartella " + old.string() + ": " + text::systemReason(ec);
    else if (stdfs::exists(stdfs::symlink_status(target, ec)))
        why = "esiste già un file con lo stesso nome in " + old.string();
    else if (!sameFileSystem(file, old) && copyFlushed(file, old, target, copy, why))
        reached(CommitPoint::Copied);
    return why.empty();
}

void ImportXml::moveFailed(const stdfs::path& file, const stdfs::path& old, const std::string& why)
{
    m_log.OutputResponse("Errore nello spostamento del file " + file.string() + " in " + old.string() + "-" + why, true,
                         1);
}

bool ImportXml::completeMove(const stdfs::path& file, const stdfs::path& old, const stdfs::path& copy, std::string& why)
{
    const stdfs::path target = old / file.filename();
    if (copy.empty()) {
        if (!renameNoReplace(file, target)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            return false;
        }
    } else {
        if (!renameNoReplace(copy, target)) {
            why = errno == EEXIST ? "esiste già un file con lo stesso nome in " + old.string()
                                  : text::systemReason(errno);
            ::unlink(copy.c_str());
            return false;
        }
        fs::syncFolder(old, fs::systemFileOps()); // the copy's name is on the disk before the original goes
        reached(CommitPoint::Placed);
        if (::unlink(file.c_str()) != 0) {
            why = "il file importato non può essere rimosso: " + text::systemReason(errno);
            return false;
        }
    }
    fs::syncFolder(old, fs::systemFileOps());
    fs::syncFolder(file.parent_path(), fs::systemFileOps());
    return true;
}

bool ImportXml::reconcile(db::Connection& c, const stdfs::path& folder, const stdfs::path& old,
                          std::set<std::string>& loaded, bool& ok, std::string& reason)
{
    std::error_code ec;
    if (stdfs::is_directory(old, ec))
        (void)fs::removeStaleTemporaries(old); // copies an interrupted move left there
    const std::string inFolder = " where CARTELLA = " + db::sqlLiteral(folder.string());
    auto rs = c.query("select NOMEFILE, DIMENSIONE, MODIFICATO from " + std::string(kLoadedTable) + inFolder);
    if (!rs) {
        // Without the records no file can be told loaded or not: none is loaded.
        reason = "Tabella " + std::string(kLoadedTable) + ": " + errorText(c);
        return false;
    }
    for (std::size_t r = 0; r < rs->rowCount(); ++r) {
        const std::string name = rs->at(r, 0).toString();
        const FileIdentity recorded{rs->at(r, 1).toInt().value_or(-1), rs->at(r, 2).toInt().value_or(-1)};
        const stdfs::path queued = folder / name;
        const std::string forget =
            "delete from " + std::string(kLoadedTable) + inFolder + " and NOMEFILE = " + db::sqlLiteral(name);
        if (name.empty() || name.find('/') != std::string::npos || identityOf(queued) != recorded) {
            // The file left the queue (a crash after its move), or another file has its name now.
            (void)c.execute(forget);
            continue;
        }
        // Its rows are in: it only has to move.
        loaded.insert(name);
        m_log.WriteInLog("importazione xml del file " + queued.stem().string() +
                             " già eseguita: il file viene spostato in " + old.string(),
                         false, false);
        std::string why;
        const stdfs::path target = old / name;
        bool moved = false;
        if (!stdfs::is_directory(old, ec) && !stdfs::create_directory(old, ec) && !stdfs::is_directory(old)) {
            why = "impossibile creare la cartella " + old.string() + ": " + text::systemReason(ec);
        } else if (const auto there = identityOf(target); there && *there == recorded) {
            // The move had placed it already; only the original was left.
            moved = ::unlink(queued.c_str()) == 0;
            if (!moved)
                why = "il file importato non può essere rimosso: " + text::systemReason(errno);
        } else if (stdfs::exists(stdfs::symlink_status(target, ec))) {
            why = "esiste già un file con lo stesso nome in " + old.string();
        } else {
            stdfs::path copy;
            moved = (sameFileSystem(queued, old) || copyFlushed(queued, old, target, copy, why)) &&
                    completeMove(queued, old, copy, why);
        }
        if (moved) {
            (void)c.execute(forget);
            continue;
        }
        ok = false;
        moveFailed(queued, old, why);
    }
    return true;
}

void ImportXml::reached(CommitPoint point)
{
    if (m_commitPoint)
        m_commitPoint(point);
}

bool ImportXml::loadFile(db::Connection& c, const XmlMapping& mapping, const stdfs::path& file, std::string& reason)
{
    XmlPullReader reader;
    if (!reader.open(file)) {
        reason = "File non leggibile: " + reader.error();
        return false;
    }
    RowLoader loader(c, mapping);
    ElementTracker elements(mapping, loader);
    for (;;) {
        const XmlPullReader::Event ev = reader.next();
        if (ev == XmlPullReader::Event::Error) {
            reason = reader.errorLine()
                         ? "XML non valido alla riga " + std::to_string(reader.errorLine()) + ": " + reader.error()
                         : reader.error();
            return false;
        }
        if (ev == XmlPullReader::Event::EndOfDocument)
            break;
        if (ev == XmlPullReader::Event::Text)
            elements.text(reader.text());
        else if (ev == XmlPullReader::Event::StartElement)
            elements.start(reader);
        else if (!elements.end(reason)) // EndElement
            return false;
    }
    if (!loader.flush(reason))
        return false;
    if (loader.rows() == 0) {
        reason = "Nessun elemento del file corrisponde allo schema";
        return false;
    }
    return true;
}

} // namespace zs::engine
