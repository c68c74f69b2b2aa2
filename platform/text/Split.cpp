#include "text/Split.h"

namespace zs::text {

std::vector<std::string> split(std::string_view text, char separator)
{
    return split(text, std::string_view(&separator, 1));
}

std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    if (separator.empty())
        return {std::string(text)};
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            items.emplace_back(text.substr(start));
            return items;
        }
        items.emplace_back(text.substr(start, pos - start));
        start = pos + separator.size();
    }
}

} // namespace zs::text
