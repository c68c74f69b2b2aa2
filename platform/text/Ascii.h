#pragma once
// ASCII case and blank helpers for names, keywords and settings values: only A-Z and a-z
// change case, whatever the process locale, so UTF-8 bytes pass through untouched. Used by
// every module that compares names without regard to case or trims what it reads.

#include <string>
#include <string_view>

namespace zs::text {

/// The blanks most readers trim: space and tab.
inline constexpr std::string_view kBlanks = " \t";

constexpr char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string lowerAscii(std::string_view s);
std::string upperAscii(std::string_view s);
/// Same length and the same letters without regard to ASCII case.
bool equalsNoCase(std::string_view a, std::string_view b);

/// `s` without the leading and trailing characters found in `chars`.
std::string_view trim(std::string_view s, std::string_view chars = kBlanks);
std::string_view trimLeft(std::string_view s, std::string_view chars = kBlanks);
std::string_view trimRight(std::string_view s, std::string_view chars = kBlanks);

} // namespace zs::text
