// The checks of Connection written once for both backends: a SQLite file and the test
// PostgreSQL server reached through ODBC.

#include "db/Catalog.h"
#include "db/Connection.h"

#include "pgtest/Backend.h"
#include "pgtest/PgServer.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace zs::db;

namespace {

class ConnectionBackendTest : public ::testing::TestWithParam<zs::pgtest::Backend> {
  protected:
    void SetUp() override
    {
        if (GetParam() == zs::pgtest::Backend::Sqlite) {
            const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + m_path.string() + ";";
            Catalog catalog;
            ASSERT_TRUE(catalog.create(jet)) << catalog.errors().front().description;
            catalog.close();
            ASSERT_TRUE(m_db.open(jet)) << m_db.errors().front().description;
        } else {
            ZS_REQUIRE_PG();
            ASSERT_TRUE(m_db.open(zs::pgtest::Server::shared().odbcConnectionString()))
                << m_db.errors().front().description;
        }
    }

    zs::test::TempDir m_dir;
    std::filesystem::path m_path = m_dir / "vendite.mdb";
    Connection m_db;
};

INSTANTIATE_TEST_SUITE_P(Backends, ConnectionBackendTest, zs::pgtest::allBackends(), zs::pgtest::backendName);

/// executeSingle over a table of texts: one statement runs, a text holding a second one is
/// refused with nothing of it run, and the connection serves the next call.
TEST_P(ConnectionBackendTest, ExecuteSingleRunsExactlyOneStatement)
{
    ASSERT_TRUE(m_db.execute("DROP TABLE IF EXISTS uno"));
    ASSERT_TRUE(m_db.execute("DROP TABLE IF EXISTS canary"));
    ASSERT_TRUE(m_db.execute("CREATE TABLE uno (v TEXT)"));
    ASSERT_TRUE(m_db.execute("CREATE TABLE canary (x INTEGER)"));
    struct Case {
        const char* sql;
        bool runs;
    } cases[] = {
        {"INSERT INTO uno VALUES ('a')", true},
        {"INSERT INTO uno VALUES ('b;c') ", true},
        {"INSERT INTO uno VALUES ('d');", true},
        {"INSERT INTO uno VALUES ('e'); DROP TABLE canary", false},
        {"INSERT INTO uno VALUES ('f');\n-- resto", false},
        {"INSERT INTO uno VALUES ('g') /* ; */", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(m_db.executeSingle(c.sql), c.runs);
        if (!c.runs) {
            ASSERT_FALSE(m_db.errors().empty());
            EXPECT_EQ(m_db.errors().front().kind, ErrorClass::Rejected);
        }
        auto canary = m_db.query("SELECT COUNT(*) FROM canary");
        ASSERT_TRUE(canary.has_value()) << "the canary table is gone";
    }
    auto rs = m_db.query("SELECT v FROM uno ORDER BY v");
    ASSERT_TRUE(rs);
    std::string values;
    for (; !rs->eof(); rs->moveNext())
        values += rs->value(std::size_t{0}).toString() + ",";
    EXPECT_EQ(values, "a,b;c,d,g,");
}

} // namespace
