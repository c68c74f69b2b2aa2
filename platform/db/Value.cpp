#include "db/Value.h"

#include "text/Ascii.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace zs::db {

namespace {

std::string two(int v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string shortestDouble(double d)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

/// The whole of `text` (spaces around it aside) as a number of type T; nothing when any of it
/// is not part of the number. A whole number may carry a '+'; a decimal one may not.
template <class T> std::optional<T> wholeNumber(std::string_view text)
{
    const std::string_view s = text::trim(text, " ");
    if (s.empty())
        return std::nullopt;
    const char* first = s.data();
    if (std::is_integral_v<T> && *first == '+')
        ++first;
    T v = 0;
    const auto r = std::from_chars(first, s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return std::nullopt;
    return v;
}

} // namespace

std::string Value::toString() const
{
    switch (type()) {
    case Type::Null:
        return {};
    case Type::Integer:
        return std::to_string(std::get<std::int64_t>(m_v));
    case Type::Double:
        return shortestDouble(std::get<double>(m_v));
    case Type::Text:
        return std::get<std::string>(m_v);
    case Type::DateTime: {
        const auto& d = std::get<time::DateTime>(m_v);
        return std::to_string(d.year) + "-" + two(d.month) + "-" + two(d.day) + " " + two(d.hour) + ":" +
               two(d.minute) + ":" + two(d.second);
    }
    case Type::Boolean:
        return std::get<bool>(m_v) ? "1" : "0";
    }
    return {};
}

std::optional<std::int64_t> Value::toInt() const
{
    switch (type()) {
    case Type::Integer:
        return std::get<std::int64_t>(m_v);
    case Type::Boolean:
        return std::get<bool>(m_v) ? 1 : 0;
    case Type::Double: {
        const double d = std::get<double>(m_v);
        if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18)
            return std::nullopt;
        return static_cast<std::int64_t>(std::llround(d));
    }
    case Type::Text:
        return wholeNumber<std::int64_t>(std::get<std::string>(m_v));
    default:
        return std::nullopt;
    }
}

std::optional<double> Value::toDouble() const
{
    switch (type()) {
    case Type::Double:
        return std::get<double>(m_v);
    case Type::Integer:
        return static_cast<double>(std::get<std::int64_t>(m_v));
    case Type::Boolean:
        return std::get<bool>(m_v) ? 1.0 : 0.0;
    case Type::Text:
        return wholeNumber<double>(std::get<std::string>(m_v));
    default:
        return std::nullopt;
    }
}

namespace {

/// "yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss" read digit by digit: bulk loads convert one a row.
std::optional<time::DateTime> plainIso(const std::string& s)
{
    if (s.size() != 10 && s.size() != 19)
        return std::nullopt;
    const auto num = [&s](std::size_t at, std::size_t len, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + len; ++i) {
            if (s[i] < '0' || s[i] > '9')
                return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    time::DateTime dt;
    if (s[4] != '-' || s[7] != '-' || !num(0, 4, dt.year) || !num(5, 2, dt.month) || !num(8, 2, dt.day))
        return std::nullopt;
    dt.hour = dt.minute = dt.second = 0;
    if (s.size() == 19 && ((s[10] != ' ' && s[10] != 'T') || s[13] != ':' || s[16] != ':' || !num(11, 2, dt.hour) ||
                           !num(14, 2, dt.minute) || !num(17, 2, dt.second)))
        return std::nullopt;
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

} // namespace

std::optional<time::DateTime> Value::toDateTime() const
{
    if (type() == Type::DateTime)
        return std::get<time::DateTime>(m_v);
    if (type() != Type::Text)
        return std::nullopt;
    if (auto dt = plainIso(std::get<std::string>(m_v)))
        return dt;
    std::string s = std::get<std::string>(m_v);
    // Fractions of a second ("…:05.000") are dropped.
    if (auto dot = s.find('.', 10); dot != std::string::npos && s.size() > 19)
        s.resize(dot);
    auto dt = time::parseIso(s);
    if (dt && dt->isValid())
        return dt;
    return std::nullopt;
}

} // namespace zs::db
