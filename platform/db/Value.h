#pragma once
// A field value read from or written to a database: null, integer, double, text, date-time or
// boolean. Reading a null as text gives the empty text, as the engine expects of its fields.

#include "time/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace zs::db {

class Value {
  public:
    enum class Type { Null, Integer, Double, Text, DateTime, Boolean };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(int v)
        : m_v(static_cast<std::int64_t>(v))
    {}
    Value(std::int64_t v)
        : m_v(v)
    {}
    Value(double v)
        : m_v(v)
    {}
    Value(bool v)
        : m_v(v)
    {}
    Value(std::string v)
        : m_v(std::move(v))
    {}
    Value(const char* v)
        : m_v(std::string(v))
    {}
    Value(const time::DateTime& v)
        : m_v(v)
    {}

    Type type() const { return static_cast<Type>(m_v.index()); }
    bool isNull() const { return type() == Type::Null; }

    /// Text form: "" for null; integers in decimal; doubles in the shortest form with a point;
    /// date-times "yyyy-mm-dd hh:mm:ss"; booleans "1" or "0". Never a display format.
    std::string toString() const;
    /// Integer form; nothing for null or a text that is not a whole number.
    std::optional<std::int64_t> toInt() const;
    std::optional<double> toDouble() const;
    /// Date-time form of a date-time value or of a text in "yyyy-mm-dd[ hh:mm:ss]".
    std::optional<time::DateTime> toDateTime() const;

    const std::string* text() const { return std::get_if<std::string>(&m_v); }

    friend bool operator==(const Value&, const Value&) = default;

  private:
    std::variant<std::monostate, std::int64_t, double, std::string, time::DateTime, bool> m_v;
};

} // namespace zs::db
