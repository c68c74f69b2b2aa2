#include "engine/DescriviErrore.h"

#include "db/Connection.h"
#include "program/ProgramLog.h"

#include <cstdio>

namespace zs::engine {

namespace {
constexpr const char* kProgramSource = "ZentrikServer";
}

std::string errorDetailLine(std::int32_t number, std::string_view description, std::string_view source)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(static_cast<std::uint32_t>(number)));
    std::string line = " [";
    line += hex;
    line += "] ";
    line += description;
    // A description that ends its own sentence gets no second stop.
    if (!description.ends_with('.'))
        line += '.';
    // The source is a name the operator knows: the program's own stands for its parts.
    line += source.starts_with("zs::") ? std::string_view(kProgramSource) : source;
    return line;
}

void DescriviErrore(program::ProgramLog& log, std::string_view firstLine, const db::Connection* connection,
                    const RunTimeError& current)
{
    log.OutputResponse(firstLine, true, 1);
    if (!connection) {
        if (current.number > 0)
            log.OutputResponse(errorDetailLine(current.number, current.description, current.source), true, 1);
        return;
    }
    if (!connection->errors().empty()) {
        for (const auto& e : connection->errors())
            log.OutputResponse(errorDetailLine(e.number, e.description, e.source), true, 1);
        return;
    }
    if (current.number > 0)
        log.OutputResponse("Errore indefinito: " + std::to_string(current.number) + " - " + current.description, true,
                           1);
}

} // namespace zs::engine
