#include "automation/Variant.h"

#include "automation/AutomationError.h"
#include "text/Ascii.h"
#include "text/ItalianFormat.h"

#include <cmath>
#include <limits>

namespace zs::automation {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// 1970-01-01 as a day serial.
constexpr std::int64_t kEpochSerial = 25569;

std::optional<double> numberFromString(const std::string& s)
{
    return text::parseNumber(s);
}

std::optional<time::DateTime> dateFromString(const std::string& s)
{
    if (auto d = text::parseDateTime(s))
        return d;
    if (auto d = time::parseIso(s))
        return d;
    return std::nullopt;
}

} // namespace

double roundHalfEven(double x)
{
    return std::nearbyint(x); // the default rounding mode is to nearest, ties to even
}

double toSerial(const time::DateTime& d)
{
    const double days = static_cast<double>(d.daysSinceEpoch() + kEpochSerial);
    const double frac = (d.hour * 3600 + d.minute * 60 + d.second) / kSecondsPerDay;
    // Before day 0 the fraction counts away from zero, as the original serials do.
    return days < 0 ? days - frac : days + frac;
}

time::DateTime fromSerial(double serial)
{
    const double whole = std::trunc(serial);
    const double frac = std::fabs(serial - whole);
    auto secs = static_cast<std::int64_t>(std::llround(frac * kSecondsPerDay));
    time::DateTime d = time::DateTime::fromDays(static_cast<std::int64_t>(whole) - kEpochSerial);
    return d.addSeconds(secs);
}

std::optional<bool> parseBoolText(std::string_view text)
{
    const std::string s = text::lowerAscii(text::trim(text));
    if (s == "true" || s == "vero")
        return true;
    if (s == "false" || s == "falso")
        return false;
    return std::nullopt;
}

double Variant::toDouble() const
{
    switch (type()) {
    case VarType::Empty:
        return 0.0;
    case VarType::Null:
        throw AutomationError(err::kInvalidUseOfNull);
    case VarType::Boolean:
        return std::get<bool>(m_v) ? -1.0 : 0.0;
    case VarType::Integer:
        return std::get<std::int16_t>(m_v);
    case VarType::Long:
        return std::get<std::int32_t>(m_v);
    case VarType::Double:
        return std::get<double>(m_v);
    case VarType::Date:
        return toSerial(std::get<time::DateTime>(m_v));
    case VarType::String: {
        const auto& s = std::get<std::string>(m_v);
        if (auto n = numberFromString(s))
            return *n;
        if (auto b = parseBoolText(s))
            return *b ? -1.0 : 0.0;
        throw AutomationError(err::kTypeMismatch);
    }
    case VarType::Object:
        break;
    }
    throw AutomationError(err::kTypeMismatch);
}

bool Variant::toBool() const
{
    switch (type()) {
    case VarType::Boolean:
        return std::get<bool>(m_v);
    case VarType::String: {
        const auto& s = std::get<std::string>(m_v);
        if (auto b = parseBoolText(s))
            return *b;
        if (auto n = numberFromString(s))
            return *n != 0.0;
        throw AutomationError(err::kTypeMismatch);
    }
    default:
        return toDouble() != 0.0;
    }
}

namespace {

/// `value` rounded half to even; an overflow error unless the result lies in [lo, hi].
template <class Int> Int roundedWithin(double value, double lo, double hi)
{
    const double r = roundHalfEven(value);
    if (!(r >= lo && r <= hi))
        throw AutomationError(err::kOverflow);
    return static_cast<Int>(r);
}

} // namespace

std::int16_t Variant::toInt16() const
{
    if (type() == VarType::Integer)
        return std::get<std::int16_t>(m_v);
    return roundedWithin<std::int16_t>(toDouble(), -32768.0, 32767.0);
}

std::int32_t Variant::toInt32() const
{
    if (type() == VarType::Long)
        return std::get<std::int32_t>(m_v);
    return roundedWithin<std::int32_t>(toDouble(), -2147483648.0, 2147483647.0);
}

std::int64_t Variant::toInt32OrUnsigned() const
{
    if (type() == VarType::Long)
        return std::get<std::int32_t>(m_v);
    return roundedWithin<std::int64_t>(toDouble(), -2147483648.0, 4294967295.0);
}

time::DateTime Variant::toDate() const
{
    switch (type()) {
    case VarType::Date:
        return std::get<time::DateTime>(m_v);
    case VarType::String: {
        const auto& s = std::get<std::string>(m_v);
        if (auto d = dateFromString(s))
            return *d;
        if (auto n = numberFromString(s))
            return fromSerial(*n);
        throw AutomationError(err::kTypeMismatch);
    }
    case VarType::Boolean:
    case VarType::Object:
        throw AutomationError(err::kTypeMismatch);
    default:
        return fromSerial(toDouble());
    }
}

std::string Variant::toString() const
{
    switch (type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        throw AutomationError(err::kInvalidUseOfNull);
    case VarType::Boolean:
        return std::get<bool>(m_v) ? "True" : "False";
    case VarType::Integer:
        return std::to_string(std::get<std::int16_t>(m_v));
    case VarType::Long:
        return std::to_string(std::get<std::int32_t>(m_v));
    case VarType::Double:
        return text::formatNumber(std::get<double>(m_v));
    case VarType::Date: {
        const auto& d = std::get<time::DateTime>(m_v);
        const bool hasTime = d.hour != 0 || d.minute != 0 || d.second != 0;
        if (d.date() == time::DateTime{})
            return text::formatTime(d);
        return hasTime ? text::formatDateTime(d) : text::formatDate(d);
    }
    case VarType::String:
        return std::get<std::string>(m_v);
    case VarType::Object:
        break;
    }
    throw AutomationError(err::kTypeMismatch);
}

bool Variant::sameAs(const Variant& other) const
{
    const auto numeric = [](VarType t) { return t == VarType::Integer || t == VarType::Long || t == VarType::Double; };
    if (numeric(type()) && numeric(other.type()))
        return toDouble() == other.toDouble();
    if (type() != other.type())
        return false;
    return m_v == other.m_v;
}

Variant logicalNot(const Variant& v)
{
    switch (v.type()) {
    case VarType::Null:
        return v;
    case VarType::Empty:
        return Variant(std::int16_t{-1});
    case VarType::Boolean:
        return Variant(!v.toBool());
    case VarType::Integer:
        return Variant(static_cast<std::int16_t>(~v.toInt16()));
    case VarType::String: {
        const auto& s = *v.asString();
        if (numberFromString(s))
            return Variant(static_cast<std::int32_t>(~v.toInt32()));
        if (auto b = parseBoolText(s))
            return Variant(!*b);
        throw AutomationError(err::kTypeMismatch);
    }
    case VarType::Object:
        throw AutomationError(err::kTypeMismatch);
    default:
        return Variant(static_cast<std::int32_t>(~v.toInt32()));
    }
}

} // namespace zs::automation
