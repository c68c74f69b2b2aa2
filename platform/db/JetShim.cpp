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
