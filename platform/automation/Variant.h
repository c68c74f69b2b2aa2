#pragma once
// The value type of every dispatch call, property bag entry and event argument, with the
// original runtime's conversions: "True"/"False" and "Vero"/"Falso" read as Booleans,
// numbers round half to even into integers with an overflow error, dates are day serials
// from 30/12/1899, and `Not` is logical on Booleans and bitwise on numbers.

#include "time/DateTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zs::automation {

/// Base of objects a variant can carry (fonts, pictures, image lists, other controls).
class AutomationObject {
  public:
    virtual ~AutomationObject() = default;
};

enum class VarType { Empty, Null, Boolean, Integer, Long, Double, Date, String, Object };

class Variant {
  public:
    struct NullTag {};
    using ObjectRef = std::shared_ptr<AutomationObject>; // shared: the host and the control both hold it

    Variant() = default;
    Variant(NullTag)
        : m_v(NullTag{})
    {}
    Variant(bool b)
        : m_v(b)
    {}
    Variant(std::int16_t i)
        : m_v(i)
    {}
    Variant(std::int32_t i)
        : m_v(i)
    {}
    Variant(double d)
        : m_v(d)
    {}
    Variant(const time::DateTime& d)
        : m_v(d)
    {}
    Variant(std::string s)
        : m_v(std::move(s))
    {}
    Variant(const char* s)
        : m_v(std::string(s))
    {}
    Variant(std::string_view s)
        : m_v(std::string(s))
    {}
    Variant(ObjectRef o)
        : m_v(std::move(o))
    {}

    static Variant null() { return Variant(NullTag{}); }

    VarType type() const { return static_cast<VarType>(m_v.index()); }
    bool isEmpty() const { return type() == VarType::Empty; }
    bool isNull() const { return type() == VarType::Null; }

    /// Conversions raise AutomationError: 13 when the value has no such form, 6 when it does
    /// not fit, 94 for Null.
    bool toBool() const;
    std::int16_t toInt16() const;
    std::int32_t toInt32() const;
    double toDouble() const;
    time::DateTime toDate() const;
    /// Empty gives "", Booleans "True"/"False", numbers with a decimal comma, dates as
    /// dd/mm/yyyy (with hh:mm:ss when there is a time; the time alone on day 0).
    std::string toString() const;
    /// Colours are 32-bit values; a Double or Long is taken bit for bit from its 32-bit form.
    std::uint32_t toColor() const { return static_cast<std::uint32_t>(toInt32OrUnsigned()); }

    /// Accessors without conversion; nullptr when the variant holds another type.
    const std::string* asString() const { return std::get_if<std::string>(&m_v); }
    template <class T> std::shared_ptr<T> objectAs() const
    {
        if (const auto* o = std::get_if<ObjectRef>(&m_v))
            return std::dynamic_pointer_cast<T>(*o);
        return nullptr;
    }

    /// Same type family and equal value (numbers compare by value across Integer, Long and
    /// Double; objects by identity). Used to leave defaults out of a property bag.
    bool sameAs(const Variant& other) const;
    friend bool operator==(const Variant& a, const Variant& b) { return a.sameAs(b); }

  private:
    std::int64_t toInt32OrUnsigned() const;

    std::variant<std::monostate, NullTag, bool, std::int16_t, std::int32_t, double, time::DateTime, std::string,
                 ObjectRef>
        m_v;
};

/// Colours travel as Long values; 0x800000nn system colours keep their bits.
inline Variant colorVariant(std::uint32_t c)
{
    return Variant(static_cast<std::int32_t>(c));
}

/// The runtime's `Not`: logical on Booleans, bitwise on integers (Not 0 = -1), Null stays Null,
/// Empty gives -1, a number in a string is negated as a Long, "True"/"Vero" texts as Booleans.
Variant logicalNot(const Variant& v);

/// Half-to-even rounding, the runtime's rule for every conversion to a whole number.
double roundHalfEven(double x);

/// Day serial of a date (days since 30/12/1899, time as a fraction) and back.
double toSerial(const time::DateTime& d);
time::DateTime fromSerial(double serial);

/// "True", "Vero", "False", "Falso" in any case, with surrounding spaces; nothing otherwise.
std::optional<bool> parseBoolText(std::string_view text);

} // namespace zs::automation
