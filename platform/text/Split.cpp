#include "text/Split.h"

namespace zs::text {

namespace {

/// Calls `piece(stretch, last)` for each stretch of `text` between occurrences of the
/// non-empty `separator`, in order; the last stretch comes with `last` true.
template <class Piece> void forEachPiece(std::string_view text, std::string_view separator, Piece piece)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(separator, start);
        if (pos == std::string_view::npos) {
            piece(text.substr(start), true);
            return;
        }
        piece(text.substr(start, pos - start), false);
        start = pos + separator.size();
    }
}

} // namespace

std::vector<std::string> split(std::string_view text, char separator)
{
    return split(text, std::string_view(&separator, 1));
}

std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    if (separator.empty())
        return {std::string(text)};
    std::vector<std::string> items;
    forEachPiece(text, separator, [&items](std::string_view piece, bool) { items.emplace_back(piece); });
    return items;
}

std::string replaceAll(std::string_view text, std::string_view what, std::string_view with)
{
    if (what.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    forEachPiece(text, what, [&](std::string_view piece, bool last) {
        out.append(piece);
        if (!last)
            out.append(with);
    });
    return out;
}

} // namespace zs::text
