#include "text/ItalianFormat.h"

#include "time/Clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zs::text {

std::string formatDate(const time::DateTime& dt)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", dt.day, dt.month, dt.year);
    return buf;
}

std::string formatTime(const time::DateTime& dt)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", dt.hour, dt.minute, dt.second);
    return buf;
}

std::string formatDateTime(const time::DateTime& dt)
{
    return formatDate(dt) + " " + formatTime(dt);
}

std::string_view dayName(int weekday)
{
    static const char* const kNames[] = {"domenica", "lunedì", "martedì", "mercoledì", "giovedì", "venerdì", "sabato"};
    return weekday >= 1 && weekday <= 7 ? kNames[weekday - 1] : "";
}

std::string_view monthName(int month)
{
    static const char* const kNames[] = {"gennaio", "febbraio", "marzo",     "aprile",  "maggio",   "giugno",
                                         "luglio",  "agosto",   "settembre", "ottobre", "novembre", "dicembre"};
    return month >= 1 && month <= 12 ? kNames[month - 1] : "";
}

std::string formatNumber(double value, int decimals)
{
    if (decimals < 0)
        decimals = 0;
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
    std::string s(buf);
    if (s == "-0" || s.rfind("-0.", 0) == 0) {
        bool allZero = s.find_first_not_of("-0.") == std::string::npos;
        if (allZero)
            s.erase(0, 1);
    }
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

std::string formatNumber(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s(buf);
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

std::optional<double> parseNumber(std::string_view text)
{
    std::string s(text);
    while (!s.empty() && s.front() == ' ')
        s.erase(0, 1);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    if (s.empty())
        return std::nullopt;
    for (char& c : s)
        if (c == ',')
            c = '.';
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size())
        return std::nullopt;
    return v;
}

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// Reads 1 to `maxDigits` digits at `i`, moving past them.
std::optional<int> digitsAt(std::string_view s, std::size_t& i, std::size_t minDigits, std::size_t maxDigits)
{
    std::size_t n = 0;
    int v = 0;
    while (i + n < s.size() && isDigit(s[i + n]) && n < maxDigits)
        v = v * 10 + (s[i + n++] - '0');
    if (n < minDigits || (i + n < s.size() && isDigit(s[i + n])))
        return std::nullopt;
    i += n;
    return v;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::optional<time::DateTime> parseDateAndTime(std::string_view text, bool allowTime)
{
    const std::string_view s = trimBlanks(text);
    std::size_t i = 0;
    time::DateTime dt;
    auto day = digitsAt(s, i, 1, 2);
    if (!day || i >= s.size())
        return std::nullopt;
    const char sep = s[i];
    if (sep != '/' && sep != '-' && sep != '.')
        return std::nullopt;
    ++i;
    auto month = digitsAt(s, i, 1, 2);
    if (!month || i >= s.size() || s[i] != sep)
        return std::nullopt;
    ++i;
    const std::size_t yearStart = i;
    if (!digitsAt(s, i, 2, 4))
        return std::nullopt;
    auto year = parseYear(s.substr(yearStart, i - yearStart));
    if (!year)
        return std::nullopt;
    dt.year = *year;
    dt.month = *month;
    dt.day = *day;
    dt.hour = dt.minute = dt.second = 0;
    if (i < s.size()) {
        if (!allowTime || !isBlank(s[i]))
            return std::nullopt;
        while (i < s.size() && isBlank(s[i]))
            ++i;
        auto hour = digitsAt(s, i, 1, 2);
        if (!hour || i >= s.size() || s[i] != ':')
            return std::nullopt;
        ++i;
        auto minute = digitsAt(s, i, 1, 2);
        if (!minute)
            return std::nullopt;
        dt.hour = *hour;
        dt.minute = *minute;
        if (i < s.size()) {
            if (s[i] != ':')
                return std::nullopt;
            ++i;
            auto second = digitsAt(s, i, 1, 2);
            if (!second || i != s.size())
                return std::nullopt;
            dt.second = *second;
        }
    }
    if (!dt.isValid())
        return std::nullopt;
    return dt;
}

} // namespace

std::optional<int> parseYear(std::string_view digits)
{
    if ((digits.size() != 2 && digits.size() != 4) || !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    int v = 0;
    for (char c : digits)
        v = v * 10 + (c - '0');
    // Two digits name a year of this century, as the day-log names do.
    return digits.size() == 2 ? 2000 + v : v;
}

std::optional<time::DateTime> parseDateTime(std::string_view text)
{
    return parseDateAndTime(text, true);
}

std::optional<time::DateTime> parseDate(std::string_view text)
{
    return parseDateAndTime(text, false);
}

std::string today(const time::Clock& clock)
{
    return formatDate(clock.now());
}

std::string timeNow(const time::Clock& clock)
{
    return formatTime(clock.now());
}

} // namespace zs::text
