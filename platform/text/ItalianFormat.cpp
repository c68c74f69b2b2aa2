#include "text/ItalianFormat.h"

#include "time/Clock.h"

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

std::optional<time::DateTime> parseDateTime(std::string_view text)
{
    time::DateTime dt;
    const std::string s(text);
    int n = std::sscanf(s.c_str(), "%2d/%2d/%4d %2d:%2d:%2d", &dt.day, &dt.month, &dt.year, &dt.hour, &dt.minute,
                        &dt.second);
    if (n == 3)
        dt.hour = dt.minute = dt.second = 0;
    else if (n == 5)
        dt.second = 0;
    else if (n != 6)
        return std::nullopt;
    if (!dt.isValid())
        return std::nullopt;
    return dt;
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
