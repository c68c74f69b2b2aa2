#pragma once
// Shared fixture of the special-step tests: a private folder, a fake clock, the day log and
// run log over it, recorded message boxes, and helpers over real SQLite files.

#include "db/Connection.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace zs::engine::test {

using zs::test::CountingYield;
using zs::test::RecordingMessages;

inline std::string sqliteCs(const std::filesystem::path& file)
{
    return "Data Source=" + file.string() + ";";
}

/// Runs statements on a SQLite file, creating it when it is missing.
inline void sqliteRun(const std::filesystem::path& file, const std::vector<std::string>& statements)
{
    if (!std::filesystem::exists(file))
        zs::test::writeFile(file, "");
    db::Connection c;
    ASSERT_TRUE(c.open(sqliteCs(file)));
    for (const auto& s : statements)
        ASSERT_TRUE(c.execute(s)) << s << ": " << (c.errors().empty() ? "" : c.errors().front().description);
}

/// Runs one statement on an open connection; a failure fails the test with the database's text.
inline void exec(db::Connection& c, const std::string& sql)
{
    ASSERT_TRUE(c.execute(sql)) << sql << ": " << (c.errors().empty() ? "" : c.errors().front().description);
}

/// The first value of a query's first row as text; "<error>" when it fails.
inline std::string scalar(db::Connection& c, const std::string& sql)
{
    auto rs = c.query(sql);
    if (!rs)
        return "<error: " + (c.errors().empty() ? std::string() : c.errors().front().description) + ">";
    return rs->eof() ? "<none>" : rs->value(std::size_t{0}).toString();
}

class StepsTest : public ::testing::Test {
  protected:
    /// The run log's lines; "E:" marks errors, "  " level-1 lines.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (const auto& n : m_log.nodes())
            out.push_back(std::string(n.parent ? "  " : "") + (n.error ? "E:" : "") + n.text);
        return out;
    }
    std::string dayLog() const
    {
        std::error_code ec;
        return std::filesystem::exists(m_dayLog.currentFile(), ec) ? zs::test::readFile(m_dayLog.currentFile()) : "";
    }
    std::filesystem::path path(const std::string& name) const { return m_dir.path() / name; }

    zs::test::TempDir m_dir;
    time::FakeClock m_clock{{2006, 12, 8, 8, 0, 0}};
    program::DayLog m_dayLog{m_dir.path(), m_clock};
    program::ProgramLog m_log{m_dayLog};
    program::ProgramSettings m_settings;
    RecordingMessages m_messages;
    CountingYield m_yield;
};

} // namespace zs::engine::test
