#include "text/Ascii.h"

namespace zs::text {

std::string lowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = upperAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

std::string_view trimLeft(std::string_view s, std::string_view chars)
{
    const auto b = s.find_first_not_of(chars);
    return b == std::string_view::npos ? std::string_view() : s.substr(b);
}

std::string_view trimRight(std::string_view s, std::string_view chars)
{
    const auto e = s.find_last_not_of(chars);
    return e == std::string_view::npos ? std::string_view() : s.substr(0, e + 1);
}

std::string_view trim(std::string_view s, std::string_view chars)
{
    return trimRight(trimLeft(s, chars), chars);
}

} // namespace zs::text
