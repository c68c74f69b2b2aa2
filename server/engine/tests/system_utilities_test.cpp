#include "engine/SystemUtilities.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace zs::engine;

namespace {

TEST(GetWindowsVersion, NamesEachVersion)
{
    struct Case {
        std::uint32_t platform, major, minor;
        const char* name;
    };
    const Case cases[] = {
        {1, 4, 0, "Windows 95"},     {1, 4, 10, "Windows 98"},  {1, 4, 90, ""},          {2, 3, 51, "Windows NT 3.51"},
        {2, 4, 0, "Windows NT 4.0"}, {2, 5, 0, "Windows 2000"}, {2, 5, 1, "Windows XP"}, {2, 5, 2, "Windows XP"},
        {2, 6, 0, "Windows XP"},     {2, 10, 0, "Windows XP"},  {2, 2, 0, ""},           {0, 5, 1, "Failed"},
        {3, 5, 1, "Failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.platform) + " " + std::to_string(c.major) + "." + std::to_string(c.minor));
        EXPECT_EQ(GetWindowsVersion(OsVersionInfo{c.major, c.minor, 0, c.platform, ""}), c.name);
    }
    EXPECT_EQ(GetWindowsVersion(std::nullopt), "Failed");
    EXPECT_EQ(GetWindowsVersion(), "Windows XP");
}

TEST(ShellAndWait, GivesTheExitCodeOrMinusOne)
{
    EXPECT_EQ(ShellAndWait("sh -c \"exit 3\""), 3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ShellAndWait("C:\\Programmi\\nessuno.exe -a"), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

} // namespace
