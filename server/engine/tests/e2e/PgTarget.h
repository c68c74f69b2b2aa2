#pragma once
// The test PostgreSQL as a program folder's target, for the end-to-end tests that run the
// zs-extract driver on the server: the folder's settings naming it, and one value read back
// through psql. Header only; test code only.

#include "pgtest/PgServer.h"
#include "program/PasswordCodec.h"
#include "testsupport/TestEnv.h"

#include <filesystem>
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

/// Writes the program folder's settings: the test server's database as a server target reached
/// through psqlODBC, zentrikLoading.xml as the loading file, `timeoutSeconds` as the time-out.
inline void writePgSettings(const std::filesystem::path& home, int timeoutSeconds)
{
    const auto& pg = pgtest::Server::shared();
    zs::test::writeFile(home / "zentrikServer.xml",
                        "<?xml version=\"1.0\"?><zentrikServer><SERVERTYPE>sqlserver</SERVERTYPE>"
                        "<SERVERNAME>" +
                            pg.host() + "</SERVERNAME><DATABASE>" + pg.database() + "</DATABASE><LOGIN>" + pg.user() +
                            "</LOGIN><PASSWORD>" + program::CodificaPassword(pg.password()) +
                            "</PASSWORD><PROVIDER>Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=" +
                            std::to_string(pg.port()) +
                            "</PROVIDER><LOADINGFILE>zentrikLoading.xml</LOADINGFILE><TIMEOUT>" +
                            std::to_string(timeoutSeconds) + "</TIMEOUT></zentrikServer>");
}

} // namespace zs::engine::test
