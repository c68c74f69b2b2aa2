#pragma once
// The backend parameter of the tests written once for both databases: a SQLite file or the
// test PostgreSQL server. A PostgreSQL case fails as ZS_REQUIRE_PG() fails when the server
// could not be started. Test code only.

#include "pgtest/PgServer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace zs::pgtest {

enum class Backend { Sqlite, Postgres };

/// Both backends, for INSTANTIATE_TEST_SUITE_P.
inline auto allBackends()
{
    return ::testing::Values(Backend::Sqlite, Backend::Postgres);
}

inline void PrintTo(Backend backend, std::ostream* os)
{
    *os << (backend == Backend::Sqlite ? "Sqlite" : "Postgres");
}

/// The case's name in the test's name: "Sqlite" or "Postgres".
inline std::string backendName(const ::testing::TestParamInfo<Backend>& info)
{
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

} // namespace zs::pgtest

/// Fails the current test when `backend` is PostgreSQL and its server could not be started.
#define ZS_REQUIRE_BACKEND(backend)                                                                                    \
    do {                                                                                                               \
        if ((backend) == ::zs::pgtest::Backend::Postgres)                                                              \
            ZS_REQUIRE_PG();                                                                                           \
    } while (0)
