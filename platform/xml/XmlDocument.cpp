#include "xml/XmlDocument.h"

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

std::string_view localPart(std::string_view qualified)
{
    const auto colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

void collectText(pugi::xml_node n, std::string& out)
{
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            out += c.value();
        else if (c.type() == pugi::node_element)
            collectText(c, out);
    }
}

class StringWriter : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    std::string out;
};

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_pi
                                 | pugi::parse_comments | pugi::parse_ws_pcdata_single;
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
        n.remove_child(n.first_child());
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
    if (!m_node)
        return {};
    for (auto c = node(m_node).first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return Element(raw(c));
    return {};
}

Element Element::nextSibling() const
{
    if (!m_node)
        return {};
    for (auto c = node(m_node).next_sibling(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return Element(raw(c));
    return {};
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

Element Element::insertChildBefore(std::string_view name, const Element& before)
{
    if (!m_node)
        return {};
    if (before.isNull())
        return appendChild(name);
    return Element(raw(node(m_node).insert_child_before(std::string(name).c_str(), node(before.m_node))));
}

void Element::removeChild(const Element& child)
{
    if (m_node && child.m_node && node(child.m_node).parent() == node(m_node))
        node(m_node).remove_child(node(child.m_node));
}

std::string Element::xml() const
{
    if (!m_node)
        return {};
    StringWriter w;
    node(m_node).print(w, "", kWriteFlags, pugi::encoding_utf8);
    return std::move(w.out);
}

struct Document::Impl {
    pugi::xml_document doc;
};

Document::Document() : m_impl(std::make_unique<Impl>()) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

namespace {

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
    std::string src(text.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start));
    if (!src.empty() && src.back() == '\r')
        src.pop_back();
    return src;
}

} // namespace

std::optional<Document> Document::loadString(std::string_view text, ParseError* error)
{
    Document d;
    const pugi::xml_parse_result r = d.m_impl->doc.load_buffer(text.data(), text.size(), kParseFlags);
    if (r)
        return d;
    if (error) {
        error->code = kSyntax * 1000 + static_cast<int>(r.status);
        error->reason = r.description();
        error->sourceLine = lineAt(text, r.offset, error->line, error->column);
    }
    return std::nullopt;
}

std::optional<Document> Document::loadFile(const std::filesystem::path& file, ParseError* error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        if (error) {
            *error = {};
            error->code = kFileNotFound;
            error->reason = "The system cannot locate the object specified.";
        }
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    if (!in.good() && !in.eof()) {
        if (error) {
            *error = {};
            error->code = kIoError;
            error->reason = "The file could not be read.";
        }
        return std::nullopt;
    }
    return loadString(ss.str(), error);
}

Element Document::root() const
{
    return Element(raw(m_impl->doc.document_element()));
}

Element Document::createRoot(std::string_view name)
{
    auto& doc = m_impl->doc;
    if (auto old = doc.document_element())
        doc.remove_child(old);
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

void Document::addProcessingInstruction(std::string_view target, std::string_view value)
{
    auto& doc = m_impl->doc;
    auto rootNode = doc.document_element();
    auto pi = rootNode ? doc.insert_child_before(pugi::node_pi, rootNode) : doc.append_child(pugi::node_pi);
    pi.set_name(std::string(target).c_str());
    pi.set_value(std::string(value).c_str());
}

std::string Document::xml() const
{
    StringWriter w;
    m_impl->doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(w.out);
}

} // namespace zs::xml
