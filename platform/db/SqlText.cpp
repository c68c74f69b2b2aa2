#include "db/SqlText.h"

namespace zs::db {

std::string quoteSql(std::string_view text, char open, char close)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += open;
    for (const char c : text) {
        out += c;
        if (c == close)
            out += close;
    }
    out += close;
    return out;
}

} // namespace zs::db
