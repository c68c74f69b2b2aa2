#pragma once
// The reasons the system gives for a failed call (errno values), in Italian, for the lines and
// messages the operator reads: "Spazio esaurito sul dispositivo" where the C library would say
// "No space left on device". One table for the whole program.

#include <string>
#include <system_error>

namespace zs::text {

/// The Italian reason for `errnoValue`; "errore di sistema N" for one the table lacks.
std::string systemReason(int errnoValue);
/// The same for an error code of the system or generic category; any other category's own text.
std::string systemReason(const std::error_code& ec);

} // namespace zs::text
