#pragma once
// The program's display formats, fixed to Italian whatever the machine's locale: decimal
// comma, dd/mm/yyyy, hh:mm:ss, Italian day and month names. Display only: SQL never uses these.

#include "time/DateTime.h"

#include <optional>
#include <string>
#include <string_view>

namespace zs::time {
class Clock;
}

namespace zs::text {

std::string formatDate(const time::DateTime& dt);     ///< "dd/mm/yyyy"
std::string formatTime(const time::DateTime& dt);     ///< "hh:mm:ss"
std::string formatDateTime(const time::DateTime& dt); ///< "dd/mm/yyyy hh:mm:ss"

/// Day names, 1 Sunday … 7 Saturday: "domenica", "lunedì", … "sabato".
std::string_view dayName(int weekday);
/// Month names, 1 … 12: "gennaio" … "dicembre".
std::string_view monthName(int month);

/// A number with a decimal comma and `decimals` digits after it (rounded half away from zero).
std::string formatNumber(double value, int decimals);
/// A number with as many decimals as needed (up to 15 significant digits), comma as separator.
std::string formatNumber(double value);
/// Reads a number written with a decimal comma (or a point); nothing when it is not a number.
std::optional<double> parseNumber(std::string_view text);
/// Reads "dd/mm/yyyy" optionally followed by " hh:mm:ss" (or " hh:mm").
std::optional<time::DateTime> parseDateTime(std::string_view text);

/// Today's date and the time now from the clock, formatted.
std::string today(const time::Clock& clock);
std::string timeNow(const time::Clock& clock);

} // namespace zs::text
