#pragma once
// Splitting text at a separator and replacing a text, as the old string functions did: every
// occurrence splits (or is replaced), empty items stay, and an empty text gives one empty item.

#include <string>
#include <string_view>
#include <vector>

namespace zs::text {

std::vector<std::string> split(std::string_view text, char separator);
/// An empty `separator` gives the whole text as the one item.
std::vector<std::string> split(std::string_view text, std::string_view separator);
/// Replaces every occurrence of `what` (exact case) by `with`; an empty `what` changes nothing.
std::string replaceAll(std::string_view text, std::string_view what, std::string_view with);

} // namespace zs::text
