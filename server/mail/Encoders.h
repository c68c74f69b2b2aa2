#pragma once
// The encodings the mail client puts on the wire or reads from it: base64 in 76-character
// lines, base64 decoding of log-in prompts, uuencoded lines, RFC 2047 header words in
// ISO-8859-1, RFC 2231 parameters, and the transparency of the data section (every line end
// CR LF, leading dots doubled). Byte functions work on single-byte (ISO-8859-1) strings;
// "Text" functions take the program's UTF-8 and convert at the edge.

#include <cstddef>
#include <string>
#include <string_view>

namespace zs::mail {

/// Appends the base64 of `bytes` to `out`: 76-character lines, each followed by CR LF.
/// Empty input appends nothing.
void appendBase64Lines(std::string_view bytes, std::string& out);
/// The same as a new string.
std::string EncodeBase64Bytes(std::string_view bytes);
/// Base64 of the ISO-8859-1 form of `utf8`, ending with CR LF; "" for "".
std::string EncodeBase64Text(std::string_view utf8);
/// Decodes base64 (letter case significant). Stops at the first character outside the
/// alphabet; a group cut short by "=" or by the end of the text gives only its whole bytes.
/// The result is the decoded bytes read as ISO-8859-1, returned as UTF-8.
std::string DecodeBase64String(std::string_view base64);
/// Base64 of `bytes` on one line, without line end (answers to log-in prompts, whatever their length).
std::string EncodeBase64Line(std::string_view bytes);
/// One uuencoded line (no line end) of up to 63 bytes, in the standard form: the length
/// character, then four characters for every three bytes, a short last group filled with
/// zero bits ("`"). "" for a longer input; the zero-length line that closes the data is "`".
std::string UuencodeLine(std::string_view bytes);
/// `bytes` quoted-printable (RFC 2045 6.7): CR LF stays a line break; "=", control bytes but tab
/// (a lone CR or LF included) and bytes above 126 become "=XX", as do a blank or tab that would
/// end a line; lines longer than 76 characters are cut by soft breaks ("=" CR LF).
std::string EncodeQuotedPrintable(std::string_view bytes);
/// `utf8` as a header text. Printable ASCII stays as it is: between double quotes, with '"'
/// and '\\' escaped, when `quote` is true (display names), else bare. Other text (any other
/// character, "=?", over 900 characters) becomes "=?ISO-8859-1?B?...?=" words of at most 42
/// characters, folded with CR LF and a tab so that no line passes 76 characters when the first
/// one starts at `column`: the whole text when `quote` is false; when true (a display name),
/// only the words that need it, neighbours together, the others as atoms or quoted strings.
std::string EncodeHeaderText(std::string_view utf8, bool quote, std::size_t column = 0);
/// An unstructured header value (the subject) that follows `column` characters ("Subject: "):
/// printable ASCII folded before blanks so lines keep within 78 characters where the words
/// allow; encoded words as above when the text is not printable ASCII or holds a word too
/// long for a line of 998.
std::string EncodeUnstructuredText(std::string_view utf8, std::size_t column);
/// A MIME parameter (`name`="value") for a file name. Printable ASCII of up to 60 characters
/// without '"' or '\' goes between double quotes; anything else in the RFC 2231 form, UTF-8
/// and percent-encoded, in continuations of at most 60 characters joined by ";", CR LF and a tab.
std::string EncodeFileNameParameter(std::string_view name, std::string_view utf8);

/// The one road for every byte between DATA and the end mark (RFC 5321 4.5.2): each line end
/// (CR LF, lone CR, lone LF) becomes CR LF, and a line that begins with "." gets a second one,
/// across any cut between calls. Nothing a text carries can then end the data early.
class DataStuffer {
  public:
    /// Appends the wire form of `bytes` to `out`.
    void append(std::string_view bytes, std::string& out);
    /// Appends the end mark, after a CR LF when the data did not end on a line end; then
    /// starts over for the next message.
    void finish(std::string& out);

  private:
    bool m_lineStart = true;
    bool m_afterCR = false;
};

} // namespace zs::mail
