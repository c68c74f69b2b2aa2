#include "xml/XmlDocument.h"

#include "fs/ReadFile.h"

#include <pugixml.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

namespace zs::xml {

namespace {

pugi::xml_node node(void* p)
{
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(p));
}

void* raw(pugi::xml_node n)
{
    return n.internal_object();
}

/// The first element among `n` and the siblings after it, or a null node.
pugi::xml_node elementFrom(pugi::xml_node n)
{
    while (n && n.type() != pugi::node_element)
        n = n.next_sibling();
    return n;
}

std::string_view localPart(std::string_view qualified)
{
    const auto colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

/// The node after `n` in document order within the subtree of `top`, or a null node at its end.
/// Walks with parent links, so no depth of nesting uses the stack.
pugi::xml_node nextInSubtree(pugi::xml_node n, pugi::xml_node top, int& depth)
{
    if (n.first_child()) {
        ++depth;
        return n.first_child();
    }
    while (n != top) {
        if (n.next_sibling())
            return n.next_sibling();
        n = n.parent();
        --depth;
    }
    return {};
}

void collectText(pugi::xml_node top, std::string& out)
{
    int depth = 0;
    for (pugi::xml_node c = nextInSubtree(top, top, depth); c; c = nextInSubtree(c, top, depth))
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            out += c.value();
}

/// Removes `child` with its whole subtree from `parent`, leaves first: the library's own
/// removal recurses once per level of the removed subtree.
void removeSubtree(pugi::xml_node parent, pugi::xml_node child)
{
    pugi::xml_node n = child;
    while (true) {
        while (n.first_child())
            n = n.first_child();
        if (n == child)
            break;
        pugi::xml_node up = n.parent();
        up.remove_child(n);
        n = up;
    }
    parent.remove_child(child);
}

class StringWriter : public pugi::xml_writer {
  public:
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    std::string out;
};

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_pi | pugi::parse_comments |
                                 pugi::parse_ws_pcdata_single;
constexpr unsigned kWriteFlags = pugi::format_raw | pugi::format_no_declaration;

} // namespace

std::string Element::name() const
{
    return m_node ? node(m_node).name() : std::string();
}

std::string Element::localName() const
{
    return std::string(localPart(m_node ? node(m_node).name() : ""));
}

std::string Element::text() const
{
    std::string out;
    if (m_node)
        collectText(node(m_node), out);
    return out;
}

void Element::setText(std::string_view text)
{
    if (!m_node)
        return;
    auto n = node(m_node);
    while (n.first_child())
        removeSubtree(n, n.first_child());
    n.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
}

bool Element::hasAttribute(std::string_view name) const
{
    return m_node && node(m_node).attribute(std::string(name).c_str());
}

std::optional<std::string> Element::attribute(std::string_view name) const
{
    if (!m_node)
        return std::nullopt;
    auto a = node(m_node).attribute(std::string(name).c_str());
    if (!a)
        return std::nullopt;
    return std::string(a.value());
}

void Element::setAttribute(std::string_view name, std::string_view value)
{
    if (!m_node)
        return;
    auto n = node(m_node);
    const std::string key(name);
    auto a = n.attribute(key.c_str());
    if (!a)
        a = n.append_attribute(key.c_str());
    a.set_value(std::string(value).c_str());
}

void Element::removeAttribute(std::string_view name)
{
    if (m_node)
        node(m_node).remove_attribute(std::string(name).c_str());
}

std::vector<std::pair<std::string, std::string>> Element::attributes() const
{
    std::vector<std::pair<std::string, std::string>> out;
    if (m_node)
        for (auto a : node(m_node).attributes())
            out.emplace_back(a.name(), a.value());
    return out;
}

std::vector<Element> Element::children() const
{
    std::vector<Element> out;
    if (m_node)
        for (auto c : node(m_node).children())
            if (c.type() == pugi::node_element)
                out.push_back(Element(raw(c)));
    return out;
}

Element Element::child(std::string_view name) const
{
    if (!m_node)
        return {};
    for (auto c : node(m_node).children())
        if (c.type() == pugi::node_element && name == c.name())
            return Element(raw(c));
    return {};
}

Element Element::firstChild() const
{
    return m_node ? Element(raw(elementFrom(node(m_node).first_child()))) : Element();
}

Element Element::nextSibling() const
{
    return m_node ? Element(raw(elementFrom(node(m_node).next_sibling()))) : Element();
}

Element Element::parent() const
{
    if (!m_node)
        return {};
    auto p = node(m_node).parent();
    return p && p.type() == pugi::node_element ? Element(raw(p)) : Element();
}

Element Element::appendChild(std::string_view name)
{
    if (!m_node)
        return {};
    return Element(raw(node(m_node).append_child(std::string(name).c_str())));
}

void Element::removeChild(const Element& child)
{
    if (m_node && child.m_node && node(child.m_node).parent() == node(m_node))
        removeSubtree(node(m_node), node(child.m_node));
}

std::string Element::xml() const
{
    if (!m_node)
        return {};
    StringWriter w;
    node(m_node).print(w, "", kWriteFlags, pugi::encoding_utf8);
    return std::move(w.out);
}

std::string Element::innerXml() const
{
    if (!m_node)
        return {};
    StringWriter w;
    for (auto c : node(m_node).children())
        c.print(w, "", kWriteFlags, pugi::encoding_utf8);
    return std::move(w.out);
}

Element Element::insertCopyBefore(const Element& source, const Element& before)
{
    if (!m_node || !source.m_node)
        return {};
    auto n = node(m_node);
    if (before.isNull())
        return Element(raw(n.append_copy(node(source.m_node))));
    return Element(raw(n.insert_copy_before(node(source.m_node), node(before.m_node))));
}

void Element::copyContentFrom(const Element& source)
{
    if (!m_node || !source.m_node || m_node == source.m_node)
        return;
    auto n = node(m_node);
    while (auto c = n.first_child())
        removeSubtree(n, c);
    for (auto c : node(source.m_node).children())
        n.append_copy(c);
}

struct Document::Impl {
    pugi::xml_document doc;
};

Document Document::clone() const
{
    Document copy;
    copy.m_impl->doc.reset(m_impl->doc);
    return copy;
}

Document::Document()
    : m_impl(std::make_unique<Impl>())
{}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

namespace {

constexpr std::size_t kMaxSourceLine = 200;

std::string lineAt(std::string_view text, std::ptrdiff_t offset, int& line, int& column)
{
    line = 1;
    std::size_t start = 0;
    const auto end = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, offset));
    for (std::size_t i = 0; i < end && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            start = i + 1;
        }
    }
    column = static_cast<int>(end - start) + 1;
    auto stop = text.find('\n', start);
    std::string_view src = text.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
    if (!src.empty() && src.back() == '\r')
        src.remove_suffix(1);
    // A file on one long line (generated, or hostile) gives only the part around the fault: the
    // line goes into messages shown to the operator.
    if (src.size() > kMaxSourceLine) {
        const std::size_t from = std::min(end - start > kMaxSourceLine / 2 ? end - start - kMaxSourceLine / 2 : 0,
                                          src.size() - kMaxSourceLine);
        src = src.substr(from, kMaxSourceLine);
        auto continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
        while (!src.empty() && continuation(src.front()))
            src.remove_prefix(1);
        std::size_t lead = src.size();
        while (lead > 0 && continuation(src[lead - 1]))
            --lead;
        if (lead > 0) {
            const auto c = static_cast<unsigned char>(src[lead - 1]);
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (src.size() - (lead - 1) < length)
                src = src.substr(0, lead - 1); // a sequence the excerpt would cut
        }
    }
    return std::string(src);
}

/// The first element nested deeper than kMaxDepth, or a null node.
pugi::xml_node tooDeep(const pugi::xml_document& doc)
{
    int depth = 0;
    for (pugi::xml_node n = nextInSubtree(doc, doc, depth); n; n = nextInSubtree(n, doc, depth))
        if (depth > Document::kMaxDepth && n.type() == pugi::node_element)
            return n;
    return {};
}

} // namespace

std::optional<Document> Document::loadString(std::string_view text, ParseError* error)
{
    Document d;
    const pugi::xml_parse_result r = d.m_impl->doc.load_buffer(text.data(), text.size(), kParseFlags);
    auto fail = [&](int code, std::string reason, std::ptrdiff_t offset) -> std::optional<Document> {
        if (error) {
            *error = {};
            error->code = code;
            error->reason = std::move(reason);
            error->sourceLine = lineAt(text, offset, error->line, error->column);
        }
        return std::nullopt;
    };
    if (!r)
        return fail(kSyntax * 1000 + static_cast<int>(r.status), r.description(), r.offset);
    // The parser stops at a NUL byte as at the end of the text; no XML text holds one, so the
    // rest is not silently dropped. (UTF-16 and UTF-32 texts have NUL bytes of their own.)
    if (r.encoding == pugi::encoding_utf8 || r.encoding == pugi::encoding_latin1) {
        const auto nul = text.find('\0');
        if (nul != std::string_view::npos)
            return fail(kSyntax * 1000 + static_cast<int>(pugi::status_bad_pcdata), "Invalid character (NUL byte)",
                        static_cast<std::ptrdiff_t>(nul));
    }
    if (const pugi::xml_node deep = tooDeep(d.m_impl->doc)) {
        const bool sameOffsets = r.encoding == pugi::encoding_utf8;
        return fail(kTooDeep, "Elements nested deeper than " + std::to_string(kMaxDepth) + " levels",
                    sameOffsets ? deep.offset_debug() - 1 : 0); // the name's offset, after its '<'
    }
    return d;
}

std::optional<Document> Document::loadFile(const std::filesystem::path& file, ParseError* error, std::size_t maxBytes)
{
    std::string text, why;
    switch (fs::readFileBounded(file, maxBytes, text, &why)) {
    case fs::ReadOutcome::Read:
        return loadString(text, error);
    case fs::ReadOutcome::Missing:
        if (error) {
            *error = {};
            error->code = kFileNotFound;
            error->reason = "The system cannot locate the object specified.";
        }
        return std::nullopt;
    case fs::ReadOutcome::Refused:
        break;
    }
    // A FIFO, a folder or a device at the name, or a file over the bound: never read.
    if (error) {
        *error = {};
        error->code = kRefused;
        error->reason = why;
    }
    return std::nullopt;
}

Element Document::root() const
{
    return Element(raw(m_impl->doc.document_element()));
}

Element Document::createRoot(std::string_view name)
{
    auto& doc = m_impl->doc;
    if (auto old = doc.document_element())
        removeSubtree(doc, old);
    return Element(raw(doc.append_child(std::string(name).c_str())));
}

void Document::setDeclaration(std::string_view encoding)
{
    auto& doc = m_impl->doc;
    for (auto c = doc.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_declaration) {
            doc.remove_child(c);
            break;
        }
    auto decl = doc.prepend_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    if (!encoding.empty())
        decl.append_attribute("encoding") = std::string(encoding).c_str();
}

std::string Document::xml() const
{
    StringWriter w;
    m_impl->doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(w.out);
}

} // namespace zs::xml
