#pragma once
// The error text: how the engine turns a failure into run-log lines. The caller's own first
// line, then the database's errors when the connection holds any, otherwise the current
// run-time error. Used by the connection slot, the table operations, the job executor, the
// calendar table, the synchronisation and the run windows.

#include <cstdint>
#include <string>
#include <string_view>

namespace zs::db {
class Connection;
}
namespace zs::program {
class ProgramLog;
}

namespace zs::engine {

/// A failure that is not the database's: its number, description and source.
struct RunTimeError {
    std::int32_t number = 0; ///< 0 for none
    std::string description;
    std::string source;
};

/// " [" + number in upper-case hexadecimal (a negative number as its 32-bit two's complement)
/// + "] " + description + "." + source; a description ending in "." gets no second one, and
/// a source inside the program ("zs::…") reads "ZentrikServer".
std::string errorDetailLine(std::int32_t number, std::string_view description, std::string_view source);

/// Writes `firstLine` as an error line one level down, then: one line per error of
/// `connection` when it holds any; otherwise, when `connection` exists, "Errore indefinito: "
/// with the current error when its number is above 0; without a connection, the current
/// error's detail line when its number is above 0.
void DescriviErrore(program::ProgramLog& log, std::string_view firstLine, const db::Connection* connection,
                    const RunTimeError& current);

} // namespace zs::engine
