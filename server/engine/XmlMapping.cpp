#include "engine/XmlMapping.h"

#include "engine/EngineStrings.h"
#include "fs/ReadFile.h"
#include "xml/XmlDocument.h"

#include <algorithm>
#include <map>
#include <optional>

namespace zs::engine {
namespace {

namespace stdfs = std::filesystem;

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

} // namespace zs::engine
