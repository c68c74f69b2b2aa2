#include "automation/AutomationError.h"

namespace zs::automation {

AutomationError::AutomationError(int number, const std::string& description, std::string source)
    : std::runtime_error(description.empty() ? standardText(number) : description)
    , m_number(number)
    , m_source(std::move(source))
{}

std::string AutomationError::standardText(int number)
{
    switch (number) {
    case err::kOverflow:
        return "Overflow";
    case err::kSubscriptOutOfRange:
        return "Subscript out of range";
    case err::kTypeMismatch:
        return "Type mismatch";
    case err::kInvalidUseOfNull:
        return "Invalid use of Null";
    case err::kNotPermittedAtDesignTime:
        return "'Set' not permitted";
    case err::kMemberNotFound:
        return "Object doesn't support this property or method";
    case err::kWrongArgumentCount:
        return "Wrong number of arguments or invalid property assignment";
    default:
        return "Application-defined or object-defined error";
    }
}

} // namespace zs::automation
