#include "engine/XmlRowLoader.h"

#include "db/Connection.h"
#include "engine/ImportError.h"
#include "engine/XmlMapping.h"
#include "engine/XmlPullReader.h"
#include "text/Ascii.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace zs::engine {
namespace {

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
        while (t < m_writers.size() && !text::equalsNoCase(m_writers[t].table, node.table))
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

} // namespace

bool loadXmlRows(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& file, std::string& reason)
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
                         ? "XML non valido alla riga " + std::to_string(reader.errorLine()) + ", colonna " +
                               std::to_string(reader.errorColumn()) + ": " + reader.error()
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
