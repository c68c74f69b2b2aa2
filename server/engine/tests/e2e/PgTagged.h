#pragma once
// One value read back from the test PostgreSQL through psql, for the end-to-end tests that
// check a server table after a run. Header only; test code only.

#include "pgtest/PgServer.h"

#include <string>

namespace zs::engine::test {

/// The first line of `sql`'s output that starts with `tag`, without the tag; empty when none.
inline std::string tagged(const std::string& sql, const std::string& tag)
{
    std::string out;
    if (!pgtest::Server::shared().psql(sql, &out))
        return {};
    const auto pos = out.find(tag);
    if (pos == std::string::npos)
        return {};
    const auto end = out.find_first_of("\r\n", pos);
    return out.substr(pos + tag.size(), end == std::string::npos ? std::string::npos : end - pos - tag.size());
}

} // namespace zs::engine::test
