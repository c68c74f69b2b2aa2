#pragma once
// The error a dispatch member raises to its caller: the number and text the original
// automation runtime used, so hosts that test error numbers keep working.

#include <stdexcept>
#include <string>

namespace zs::automation {

/// Error numbers of the automation runtime that callers compare against.
namespace err {
inline constexpr int kOverflow = 6;
inline constexpr int kSubscriptOutOfRange = 9;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kInvalidUseOfNull = 94;
inline constexpr int kNotPermittedAtDesignTime = 387;
inline constexpr int kMemberNotFound = 438;
inline constexpr int kWrongArgumentCount = 450;
} // namespace err

/// Thrown inside a member; the dispatch call turns it into a failed result, so it never
/// crosses a library boundary.
class AutomationError : public std::runtime_error {
  public:
    explicit AutomationError(int number, const std::string& description = {}, std::string source = {});
    int number() const { return m_number; }
    const std::string& source() const { return m_source; }

    /// The runtime's own English text for a known number ("Overflow", "Type mismatch", ...).
    static std::string standardText(int number);

  private:
    int m_number;
    std::string m_source;
};

} // namespace zs::automation
