#include "db/JetShim_p.h"

#include "db/Backend_p.h"

#include <regex>

namespace zs::db {

namespace {
// A name: bracketed, double-quoted, or a run of non-blank characters.
constexpr const char* kName = R"((\[[^\]]+\]|"[^"]+"|[^\s(),;]+))";
} // namespace

std::optional<CounterReset> parseCounterReset(std::string_view sql)
{
    static const std::regex pattern(std::string(R"(^\s*alter\s+table\s+)") + kName + R"(\s+alter\s+column\s+)" + kName +
                                        R"(\s+counter\s*\(\s*(-?\d+)\s*,\s*(-?\d+)\s*\)\s*;?\s*$)",
                                    std::regex::icase);
    std::cmatch m;
    if (!std::regex_match(sql.data(), sql.data() + sql.size(), m, pattern))
        return std::nullopt;
    CounterReset r;
    r.table = unbracket(m[1].str());
    r.column = unbracket(m[2].str());
    try {
        r.start = std::stoll(m[3].str());
        r.step = std::stoll(m[4].str());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return r;
}

std::string rewriteJetSql(std::string_view sql)
{
    static const std::regex deleteStar(R"(^(\s*delete)\s+\*\s+(from\b))", std::regex::icase);
    return std::regex_replace(std::string(sql), deleteStar, "$1 $2", std::regex_constants::format_first_only);
}

std::string unbracket(std::string_view name)
{
    if (name.size() >= 2 &&
        ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"')))
        return std::string(name.substr(1, name.size() - 2));
    return std::string(name);
}

bool holdsOneStatement(std::string_view sql)
{
    const std::size_t n = sql.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char ch = sql[i];
        if (ch == '\'' || ch == '"' || ch == '[' || ch == '`') {
            const char close = ch == '[' ? ']' : ch;
            const std::size_t end = sql.find(close, i + 1);
            if (end == std::string_view::npos)
                return true; // the database refuses the open text itself
            i = end;
        } else if (ch == '-' && i + 1 < n && sql[i + 1] == '-') {
            const std::size_t end = sql.find('\n', i);
            if (end == std::string_view::npos)
                return true;
            i = end;
        } else if (ch == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            if (end == std::string_view::npos)
                return true;
            i = end + 1;
        } else if (ch == ';') {
            return sql.find_first_not_of(" \t\r\n", i + 1) == std::string_view::npos;
        }
    }
    return true;
}

bool isPlainIdentifier(std::string_view name)
{
    if (name.empty() || (name.front() >= '0' && name.front() <= '9'))
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

} // namespace zs::db
