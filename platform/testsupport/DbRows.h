#pragma once
// A query's rows as texts, for tests that compare what a database holds. Header only, for test
// binaries that link the database layer; test code only.

#include "db/Connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zs::test {

/// The rows of `sql` on `c`, each as its fields' texts joined by "|"; a test failure when the
/// query does not run.
inline std::vector<std::string> rowsOf(db::Connection& c, const std::string& sql)
{
    std::vector<std::string> out;
    auto rs = c.query(sql);
    EXPECT_TRUE(rs.has_value()) << sql;
    for (; rs && !rs->eof(); rs->moveNext()) {
        std::string row;
        for (std::size_t i = 0; i < rs->fieldCount(); ++i)
            row += (i ? "|" : "") + rs->value(i).toString();
        out.push_back(row);
    }
    return out;
}

} // namespace zs::test
