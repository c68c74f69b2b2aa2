#pragma once
// The program's one XML document model: elements with attributes and text, children in
// document order, local names without prefix, load with a detailed parse error, and raw
// serialisation. Backed by pugixml, which never shows through this header.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::xml {

class Document;

/// A non-owning handle to an element of a Document. A default-constructed (null) element
/// answers every query with an empty value; valid only while its document lives.
class Element {
  public:
    Element() = default;

    bool isNull() const { return m_node == nullptr; }
    explicit operator bool() const { return m_node != nullptr; }
    bool operator==(const Element& other) const { return m_node == other.m_node; }

    /// Qualified name as written ("x:ROOT").
    std::string name() const;
    /// Name without its prefix ("ROOT" for "x:ROOT").
    std::string localName() const;

    /// Concatenated text of the element and its descendants, as a DOM's `text` gives it.
    std::string text() const;
    /// Replaces all children with one text node.
    void setText(std::string_view text);

    bool hasAttribute(std::string_view name) const;
    /// The attribute's value, or nothing when the element has no such attribute.
    std::optional<std::string> attribute(std::string_view name) const;
    void setAttribute(std::string_view name, std::string_view value);
    void removeAttribute(std::string_view name);
    std::vector<std::pair<std::string, std::string>> attributes() const;

    /// Element children in document order (text, comments and the like are skipped).
    std::vector<Element> children() const;
    /// First element child with exactly this name, or a null element.
    Element child(std::string_view name) const;
    Element firstChild() const;
    Element nextSibling() const;
    Element parent() const;

    Element appendChild(std::string_view name);
    /// Removes a child element; does nothing when `child` is not a child of this element.
    void removeChild(const Element& child);

    /// The element and its subtree serialised without any added white space.
    std::string xml() const;
    /// The element's content (every child node: text, elements, comments) serialised as xml().
    std::string innerXml() const;

    /// Inserts a deep copy of `source` (of any document) before `before`, or as the last child
    /// when `before` is null; the copy, or a null element when this or `source` is null.
    Element insertCopyBefore(const Element& source, const Element& before);
    /// Replaces this element's content with a deep copy of `source`'s content; attributes stay.
    void copyContentFrom(const Element& source);

  private:
    friend class Document;
    explicit Element(void* node)
        : m_node(node)
    {}
    void* m_node = nullptr; // pugi::xml_node_struct*
};

/// What went wrong when a file or text did not parse.
struct ParseError {
    int code = 0;           ///< non-zero for every failure
    int line = 0;           ///< 1-based line of the fault, 0 when unknown
    int column = 0;         ///< 1-based column
    std::string reason;     ///< readable description
    std::string sourceLine; ///< the text of the line in question
};

/// An owning XML document.
class Document {
  public:
    Document();
    ~Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;

    /// Parses a file. On failure returns nothing and fills `error` (when given); a missing
    /// file is a failure with its own code, and so is anything that is not a regular file or
    /// holds more than `maxBytes` (kRefused: never read, never waited for). A text holding a
    /// NUL byte, or elements nested deeper than kMaxDepth, fails as well.
    static std::optional<Document> loadFile(const std::filesystem::path& file, ParseError* error = nullptr,
                                            std::size_t maxBytes = kDefaultMaxBytes);
    static std::optional<Document> loadString(std::string_view text, ParseError* error = nullptr);

    /// The root element, or a null element for an empty document.
    Element root() const;
    /// Creates (or replaces) the root element.
    Element createRoot(std::string_view name);
    /// Adds an `<?xml version="1.0" encoding=...?>` declaration in front of the root.
    void setDeclaration(std::string_view encoding = "UTF-8");

    /// A deep copy of the whole document (declaration and other top-level nodes included).
    Document clone() const;

    /// The whole document serialised raw (no indentation, no added line breaks).
    std::string xml() const;

    enum ErrorCode { kFileNotFound = 1, kIoError = 2, kSyntax = 3, kTooDeep = 4, kRefused = 5 };
    /// Bound of loadFile when the caller names none.
    static constexpr std::size_t kDefaultMaxBytes = 64u << 20;
    /// Deepest nesting of elements a load accepts (the root is level 1). Real files stay far
    /// below it; deeper ones are refused so that no reader walking the tree runs out of stack.
    static constexpr int kMaxDepth = 1000;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zs::xml
