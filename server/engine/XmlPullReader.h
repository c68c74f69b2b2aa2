#pragma once
// A streaming reader of XML data files: start tags with their attributes, text and end tags,
// one event at a time, reading the file in pieces, so the memory it needs does not grow with
// the file. The declared encoding is converted to UTF-8 by the system's converter (iconv); an
// encoding it does not know is refused by name, and bytes that are not valid in the encoding
// are an error, never passed on. Nesting is kept on an explicit stack (no recursion). Used by
// the XML import; documents that are read whole go through platform/xml.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zs::engine {

class XmlPullReader {
  public:
    enum class Event { StartElement, EndElement, Text, EndOfDocument, Error };
    struct Attribute {
        std::string name; ///< as written ("x:Codice")
        std::string value;
    };

    /// `chunkBytes` is how much of the file is read at a time.
    explicit XmlPullReader(std::size_t chunkBytes = 256 * 1024);
    ~XmlPullReader();
    XmlPullReader(const XmlPullReader&) = delete;
    XmlPullReader& operator=(const XmlPullReader&) = delete;

    /// Opens a file and works out its encoding (byte-order mark, then the declaration). False
    /// with error() when it cannot be read or its encoding is unknown.
    [[nodiscard]] bool open(const std::filesystem::path& file);

    /// The next event. After Error or EndOfDocument every call returns the same.
    Event next();

    /// The element's name as written, for StartElement and EndElement.
    const std::string& name() const { return m_name; }
    /// The name without its prefix.
    std::string_view localName() const;
    /// The start tag's attributes, entities resolved; valid until the next call of next().
    std::span<const Attribute> attributes() const { return {m_attributes.data(), m_attributeCount}; }
    /// A Text event's characters (entities resolved; CDATA sections as they stand). Every line
    /// end reads as a line feed.
    const std::string& text() const { return m_text; }
    /// Open elements, counting the one just started and no longer the one just ended.
    std::size_t depth() const { return m_open.size(); }

    /// What went wrong, for Error (and a failed open()).
    const std::string& error() const { return m_error; }
    /// The line of the fault, 1-based; 0 when it is not a fault of the text (open()).
    int errorLine() const { return m_errorLine; }
    /// The fault's column on its line, 1-based, in characters; 0 with errorLine() 0.
    int errorColumn() const { return m_errorColumn; }

    /// Longest single tag or text run accepted; a longer one is an error, not a memory blow-up.
    static constexpr std::size_t kMaxToken = 64 * 1024 * 1024;

  private:
    struct Decoder;

    // Reading: pieces of the file decoded into m_buf, line ends made line feeds, dropped once
    // consumed.
    bool fill();
    bool normalise(std::size_t from);
    void compact();
    std::size_t find(char c, std::size_t from);
    std::size_t find(std::string_view s, std::size_t from);
    bool startsWith(std::string_view s);
    /// Records the first fault, at the reading position or at `pos` in m_buf; always false.
    bool fail(const std::string& text);
    bool failAt(std::size_t pos, const std::string& text);
    std::size_t offsetOf(std::string_view inBuffer, std::size_t i) const;

    // Markup and text, from m_pos: an event, or none for what is passed by (comments,
    // processing instructions, the declarations, blanks outside the root).
    std::optional<Event> markup(bool atStart);
    std::optional<Event> textRun();
    std::optional<Event> processingInstruction(bool atStart);
    std::optional<Event> comment();
    std::optional<Event> cdata();
    std::optional<Event> doctype();
    std::size_t doctypeEnd();
    std::size_t declarationEnd(std::size_t i);
    int byteAt(std::size_t i);
    bool passQuoted(std::size_t& i);
    bool startsWithAt(std::size_t i, std::string_view s);
    Event startTag();
    std::size_t tagEnd();
    bool readAttributes(std::string_view tag, std::size_t i, const std::string& element);
    Event endTag();
    Event endOfInput();
    bool decodeEntities(std::string_view raw, std::string& out, bool attribute);
    bool decodeReference(std::string_view raw, std::size_t& i, std::string& out);

    std::unique_ptr<Decoder> m_decoder;
    std::size_t m_chunk;
    std::string m_buf; // decoded UTF-8 not yet consumed begins at m_pos
    std::size_t m_pos = 0;
    long long m_linesBefore = 0;  // line breaks in what compact() dropped
    long long m_columnBefore = 0; // characters of the last line in what compact() dropped
    bool m_crEnded = false;       // the last piece ended with a CR: a line feed next is its pair
    bool m_atStart = true;        // nothing read yet: where the XML declaration may stand
    bool m_doctypeSeen = false;
    bool m_reading = false; // open() succeeded: faults from now on have a line
    bool m_eof = false;
    bool m_failed = false;
    bool m_done = false;
    bool m_rootSeen = false;
    bool m_pendingEnd = false; // an empty element's end comes as its own event
    std::vector<std::string> m_open;
    std::string m_name;
    std::vector<Attribute> m_attributes; // the first m_attributeCount are the tag's
    std::size_t m_attributeCount = 0;
    std::string m_text;
    std::string m_error;
    int m_errorLine = 0;
    int m_errorColumn = 0;
    std::string m_encoding = "UTF-8";
};

} // namespace zs::engine
