#include "program/LogPruning.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

using zs::time::DateTime;

TEST(ClearLogs, KeepsTheMonthsAskedFor)
{
    struct Case {
        const char* name;
        DateTime today;
        int months;
        const char* file;
        bool kept;
    } cases[] = {
        {"one month: day before the limit goes", {2006, 6, 15}, 1, "060514.log", false},
        {"one month: the limit day stays", {2006, 6, 15}, 1, "060515.log", true},
        {"one month: today stays", {2006, 6, 15}, 1, "060615.log", true},
        {"month-end clamp: before the limit goes", {2006, 5, 31}, 2, "060330.log", false},
        {"month-end clamp: the limit stays", {2006, 5, 31}, 2, "060331.log", true},
        {"february clamp", {2006, 3, 31}, 1, "060227.log", false},
        {"february clamp limit day", {2006, 3, 31}, 1, "060228.log", true},
        {"capital extension", {2006, 6, 15}, 1, "060101.LOG", false},
        {"characters after the date are not read", {2006, 6, 15}, 1, "060101x.log", false},
        {"a name that is not a date", {2006, 6, 15}, 1, "old.log", true},
        {"not a log", {2006, 6, 15}, 1, "notes.txt", true},
        {"two-digit year means 20yy", {2031, 6, 15}, 1, "310101.log", false},
        {"months below one count as one", {2006, 6, 15}, 0, "060514.log", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::TempDir dir;
        const auto file = dir / c.file;
        zs::test::writeFile(file, "x");
        zs::program::ClearLogs(dir.path(), c.months, c.today);
        EXPECT_EQ(std::filesystem::exists(file), c.kept);
    }
}

TEST(ClearLogs, MissingFolderIsNotAnError)
{
    zs::test::TempDir dir;
    EXPECT_EQ(zs::program::ClearLogs(dir / "log", 1, {2006, 6, 15}), 0);
}
