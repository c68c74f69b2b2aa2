#pragma once
// Quoting of texts and names put into SQL: the one place that doubles the closing quote, so a
// value read from a file or a database can never end a literal early.

#include <string>
#include <string_view>

namespace zs::db {

/// `text` between `open` and `close`, with every `close` inside doubled:
/// 'O''Hara', "a""b", [a]]b].
std::string quoteSql(std::string_view text, char open = '\'', char close = '\'');

/// A string literal: 'O''Hara'.
inline std::string sqlLiteral(std::string_view text)
{
    return quoteSql(text, '\'', '\'');
}

} // namespace zs::db
