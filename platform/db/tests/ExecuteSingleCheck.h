#pragma once
// The one check both database backends' tests make of Connection::executeSingle. Test code only.

#include "db/Connection.h"

#include <gtest/gtest.h>

#include <string>

namespace zs::db::test {

/// executeSingle over a table of texts: one statement runs, a text holding a second one is
/// refused with nothing of it run, and the connection serves the next call.
inline void checkExecuteSingle(zs::db::Connection& db)
{
    ASSERT_TRUE(db.execute("DROP TABLE IF EXISTS uno"));
    ASSERT_TRUE(db.execute("DROP TABLE IF EXISTS canary"));
    ASSERT_TRUE(db.execute("CREATE TABLE uno (v TEXT)"));
    ASSERT_TRUE(db.execute("CREATE TABLE canary (x INTEGER)"));
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
        EXPECT_EQ(db.executeSingle(c.sql), c.runs);
        if (!c.runs) {
            ASSERT_FALSE(db.errors().empty());
            EXPECT_EQ(db.errors().front().kind, zs::db::ErrorClass::Rejected);
        }
        auto canary = db.query("SELECT COUNT(*) FROM canary");
        ASSERT_TRUE(canary.has_value()) << "the canary table is gone";
    }
    auto rs = db.query("SELECT v FROM uno ORDER BY v");
    ASSERT_TRUE(rs);
    std::string values;
    for (; !rs->eof(); rs->moveNext())
        values += rs->value(std::size_t{0}).toString() + ",";
    EXPECT_EQ(values, "a,b;c,d,g,");
}

} // namespace zs::db::test
