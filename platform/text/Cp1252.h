#pragma once
// Windows-1252 at the program's edges (day logs, files written for Windows tools). Inside the
// program every string is UTF-8.

#include <string>
#include <string_view>

namespace zs::text {

/// UTF-8 to Windows-1252. Characters the code page lacks become '?'; malformed UTF-8 bytes
/// are taken one by one as Latin-1.
std::string toCp1252(std::string_view utf8);

/// Windows-1252 to UTF-8. The five unassigned bytes (81, 8D, 8F, 90, 9D) map to the C1
/// controls of the same value, so every byte round-trips.
std::string fromCp1252(std::string_view bytes);

/// A peer's text (a server's reply, a driver's message) as UTF-8: well-formed UTF-8 stays as it
/// is and every other byte is read as Windows-1252, an unassigned one (81, 8D, 8F, 90, 9D) as the
/// C1 control of its value. A text mixing the program's UTF-8 with a peer's code page reads
/// whole; a Windows-1252 text whose bytes happen to form UTF-8 (a capital "Ã" and a symbol
/// after it) reads as that UTF-8.
std::string fromPeerText(std::string_view bytes);

/// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t cp);

/// Decodes one code point from `s` at `i` and moves `i` past it; an invalid sequence yields
/// the byte's value and moves one byte.
char32_t nextCodePoint(std::string_view s, std::size_t& i);

/// ISO-8859-1 to UTF-8 and back ('?' for what Latin-1 lacks).
std::string fromLatin1(std::string_view bytes);
std::string toLatin1(std::string_view utf8);

} // namespace zs::text
