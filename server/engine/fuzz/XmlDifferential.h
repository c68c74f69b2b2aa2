#pragma once
// The import's streaming XML reader held against pugixml, the parser of the program's document
// layer, on one input: whenever the reader takes a document, pugixml takes it too and finds the
// same elements, attributes and text. Used by the differential test and its libFuzzer entry.
//
// pugixml is lenient where XML is not, and the comparison only goes where both are defined:
// - a document the reader refuses is not compared. pugixml takes many that XML refuses (a '<'
//   or an unknown entity in a value, ']]>' in text, a malformed or misplaced declaration, names
//   no name may be, repeated attributes, '--' in a comment, several roots, text outside the
//   root, control characters, bytes that are not UTF-8), and the reader's own tests hold it to
//   XML there;
// - inputs in another encoding than UTF-8 (a byte-order mark of UTF-16 or UTF-32, or an
//   encoding named in the declaration) are passed by: pugixml knows only some encodings and
//   would read others' bytes as UTF-8;
// - what stands outside the root element (blanks, comments, instructions, the document type)
//   and comments and instructions inside it are not compared: neither hands them to its user.
//   Text is compared as the characters between two element boundaries, wherever comments,
//   instructions and CDATA sections cut it.

#include "engine/XmlPullReader.h"

#include <pugixml.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zs::fuzz {

namespace detail {

/// One element boundary or text run of the trace, as "<name\x01a\x02v>", "text" and "</name>"
/// (\x01 and \x02 are control characters that no document the reader takes holds).
inline void startElement(std::string& out, std::string& text, std::string_view name)
{
    out += text;
    text.clear();
    out += "<";
    out += name;
}
inline void attribute(std::string& out, std::string_view name, std::string_view value)
{
    out += "\x01";
    out += name;
    out += "\x02";
    out += value;
}
inline void endElement(std::string& out, std::string& text, std::string_view name)
{
    out += text;
    text.clear();
    out += "</";
    out += name;
    out += ">";
}

} // namespace detail

/// Whether the input is in an encoding the comparison passes by.
inline bool otherEncoding(std::string_view bytes)
{
    const auto starts = [&](std::string_view s) { return bytes.substr(0, s.size()) == s; };
    if (starts("\xFF\xFE") || starts("\xFE\xFF") || starts(std::string_view("\0\0", 2)) ||
        starts(std::string_view("<\0", 2)) || starts(std::string_view("\0<", 2)))
        return true;
    const std::size_t end = bytes.find("?>");
    return bytes.substr(0, end == std::string_view::npos ? 512 : end).find("encoding") != std::string_view::npos;
}

/// The reader's trace of `file`, read in pieces of `chunk` bytes; none when it refuses it.
inline std::optional<std::string> readerTrace(const std::filesystem::path& file, std::size_t chunk)
{
    engine::XmlPullReader r(chunk);
    if (!r.open(file))
        return std::nullopt;
    std::string out, text;
    for (;;) {
        switch (r.next()) {
        case engine::XmlPullReader::Event::StartElement:
            detail::startElement(out, text, r.name());
            for (const auto& a : r.attributes())
                detail::attribute(out, a.name, a.value);
            out += ">";
            break;
        case engine::XmlPullReader::Event::EndElement:
            detail::endElement(out, text, r.name());
            break;
        case engine::XmlPullReader::Event::Text:
            text += r.text();
            break;
        case engine::XmlPullReader::Event::EndOfDocument:
            return out;
        case engine::XmlPullReader::Event::Error:
            return std::nullopt;
        }
    }
}

/// pugixml's trace of the same bytes (line ends and blanks in values as XML reads them, all
/// text kept, blanks included); none when it refuses them.
inline std::optional<std::string> pugixmlTrace(std::string_view bytes)
{
    pugi::xml_document doc;
    const unsigned flags = pugi::parse_default | pugi::parse_ws_pcdata;
    if (!doc.load_buffer(bytes.data(), bytes.size(), flags, pugi::encoding_utf8))
        return std::nullopt;
    std::string out, text;
    // Walked by the tree's links, not by recursion: a fuzzed document may be deep.
    for (pugi::xml_node top = doc.first_child(); top; top = top.next_sibling()) {
        if (top.type() != pugi::node_element)
            continue;
        pugi::xml_node n = top;
        for (;;) {
            if (n.type() == pugi::node_element) {
                detail::startElement(out, text, n.name());
                for (const pugi::xml_attribute a : n.attributes())
                    detail::attribute(out, a.name(), a.value());
                out += ">";
                if (n.first_child()) {
                    n = n.first_child();
                    continue;
                }
                detail::endElement(out, text, n.name());
            } else if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
                text += n.value();
            }
            // Up to the next sibling, ending the elements left on the way.
            while (n != top && !n.next_sibling()) {
                n = n.parent();
                detail::endElement(out, text, n.name());
            }
            if (n == top)
                break;
            n = n.next_sibling();
        }
    }
    return out;
}

/// Empty when the two agree on `bytes` (written at `file`), else what differs.
inline std::string disagreement(std::string_view bytes, const std::filesystem::path& file, std::size_t chunk)
{
    if (otherEncoding(bytes))
        return {};
    const std::optional<std::string> ours = readerTrace(file, chunk);
    if (!ours)
        return {};
    const std::optional<std::string> theirs = pugixmlTrace(bytes);
    if (!theirs)
        return "the reader takes a document pugixml refuses";
    if (*ours != *theirs)
        return "the reader reads\n" + *ours + "\npugixml reads\n" + *theirs;
    return {};
}

} // namespace zs::fuzz
