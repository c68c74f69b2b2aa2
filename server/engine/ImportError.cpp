#include "engine/ImportError.h"

#include "db/Connection.h"

namespace zs::engine {

std::string errorText(const db::Connection& c)
{
    return c.errors().empty() ? std::string("errore del database") : c.errors().front().description;
}

} // namespace zs::engine
