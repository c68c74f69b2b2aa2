#pragma once
// The encodings the mail client puts on the wire or reads from it: base64 in 76-character
// lines, base64 decoding of log-in prompts, uuencoded lines, and RFC 2047 header words in
// ISO-8859-1. Byte functions work on single-byte (ISO-8859-1) strings; "Text" functions take
// the program's UTF-8 and convert at the edge.

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
/// One uuencoded line (no line end) of up to 63 bytes; "" for a longer input.
std::string UuencodeLine(std::string_view bytes);
/// `utf8` as a header text: with any character above 126 in ISO-8859-1, "=?ISO-8859-1?B?...?="
/// words of 42 characters each, folded with CR LF and a tab; otherwise the text itself,
/// between double quotes when `quote` is true.
std::string EncodeHeaderText(std::string_view utf8, bool quote);

} // namespace zs::mail
