#pragma once
// Small text helpers of the engine: ASCII case folding (names in the loading XML and the
// settings are compared this way), splitting and replacing as the original string functions do.

#include "text/Ascii.h"
#include "text/Split.h"

#include <string>
#include <string_view>
#include <vector>

namespace zs::engine {

// The engine's short names for the platform's ASCII helpers.
inline std::string upper(std::string_view text)
{
    return text::upperAscii(text);
}
inline std::string lower(std::string_view text)
{
    return text::lowerAscii(text);
}
/// Blanks (spaces only) trimmed from both ends.
inline std::string trim(std::string_view text)
{
    return std::string(text::trim(text, " "));
}
/// Splits at every occurrence of `sep`; an empty text gives one empty item.
inline std::vector<std::string> split(std::string_view text, char sep)
{
    return text::split(text, sep);
}
/// Replaces every occurrence of `what` (exact case) by `with`.
inline std::string replaceAll(std::string_view text, std::string_view what, std::string_view with)
{
    return text::replaceAll(text, what, with);
}
/// The text between single quotes with every quote inside doubled: a safe SQL literal.
std::string sqlQuote(std::string_view text);

} // namespace zs::engine
