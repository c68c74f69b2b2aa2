#include "process/CommandLine.h"
#include "process/Process.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using zs::process::run;
using zs::process::ShellAndWait;
using zs::process::splitWindowsCommandLine;

namespace {

struct SplitCase {
    const char* name;
    const char* line;
    std::vector<std::string> argv;
};

TEST(CommandLine, SplitsByWindowsRules)
{
    const SplitCase cases[] = {
        {"empty", "", {}},
        {"blanks only", "  \t ", {}},
        {"program alone", "arj", {"arj"}},
        {"blanks between", "  arj   a  x.arj\tfile ", {"arj", "a", "x.arj", "file"}},
        {"quoted program with blank", "\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}},
        {"backslashes literal in program", "c:\\a\\b.exe", {"c:\\a\\b.exe"}},
        {"quoted argument", "p \"a b\" c", {"p", "a b", "c"}},
        {"quotes inside a word", "p a\"b c\"d", {"p", "ab cd"}},
        {"escaped quote", "p a\\\"b", {"p", "a\"b"}},
        {"two backslashes before quote", "p \"a\\\\\" b", {"p", "a\\", "b"}},
        {"three backslashes before quote", "p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"backslashes not before quote", "p a\\\\b\\", {"p", "a\\\\b\\"}},
        {"doubled quote inside group", "p \"a\"\"b\"", {"p", "a\"b"}},
        {"empty quoted argument", "p \"\" x", {"p", "", "x"}},
        {"unclosed group runs to the end", "p \"a b", {"p", "a b"}},
        {"no shell meaning", "p $HOME;rm *|x", {"p", "$HOME;rm", "*|x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(splitWindowsCommandLine(c.line), c.argv);
    }
}

TEST(ShellAndWait, ReturnsTheExitCode)
{
    EXPECT_EQ(ShellAndWait("sh -c \"exit 3\""), 3);
    EXPECT_EQ(ShellAndWait("true"), 0);
    EXPECT_EQ(ShellAndWait("false"), 1);
}

TEST(ShellAndWait, MissingProgramGivesMinusOneAtOnce)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ShellAndWait("no-such-program-zs-4711 a b"), -1);
    EXPECT_EQ(ShellAndWait("/no/such/folder/prog.exe"), -1);
    EXPECT_EQ(ShellAndWait(""), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(ShellAndWait, ArgumentsReachTheProgramUnchangedAndNoShellRuns)
{
    zs::test::TempDir dir;
    const auto marker = dir / "marker";
    // Were a shell involved, ";" would start a second command creating the marker.
    const std::string line = "printf \"%s|\" \"a b\" \"x;touch " + marker.string() + "\"";
    zs::process::RunOptions options;
    options.captureOutput = true;
    const auto r = run(splitWindowsCommandLine(line), options);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "a b|x;touch " + marker.string() + "|");
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(ShellAndWait, ProgramGivenWithExeSuffixAndBackslashes)
{
    zs::test::TempDir dir;
    const auto script = dir / "Tool";
    zs::test::writeFile(script, "#!/bin/sh\nexit 7\n");
    ::chmod(script.c_str(), 0755);
    std::string windowsPath = (dir / "tool.exe").string();
    for (auto& c : windowsPath)
        if (c == '/')
            c = '\\';
    EXPECT_EQ(ShellAndWait("\"" + windowsPath + "\" x"), 7);
}

TEST(Run, EnvironmentAndWorkingFolder)
{
    zs::test::TempDir dir;
    zs::process::RunOptions options;
    options.captureOutput = true;
    options.extraEnvironment = {"ZS_X=42"};
    options.workingDirectory = dir.path().string();
    const auto r = run({"sh", "-c", "printf '%s %s' \"$ZS_X\" \"$(pwd)\""}, options);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "42 " + std::filesystem::canonical(dir.path()).string());
}

} // namespace

TEST(ShellAndWait, HungChildIsKilledAtTheTimeLimitWithItsOwnChildren)
{
    zs::test::TempDir dir;
    const auto marker = dir / "late";
    // The shell starts a grandchild that would write the marker after 3 s and then waits: the
    // 300 ms limit under test is short, the grandchild's time long enough for a busy machine.
    const std::string line = "sh -c \"(sleep 3; touch " + marker.string() + ") & sleep 30\"";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ShellAndWait(line, std::chrono::milliseconds(300)), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(2500)) << "the wait ends at the limit, not with the child";
    // A child that ends in time keeps its exit code under a limit.
    EXPECT_EQ(ShellAndWait("sh -c \"exit 4\"", std::chrono::seconds(20)), 4);

    zs::process::RunOptions options;
    options.captureOutput = true;
    options.timeLimit = std::chrono::milliseconds(300);
    const auto r = run({"sh", "-c", "echo vivo; exec sleep 30"}, options);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_EQ(r.output, "vivo\n");
    EXPECT_NE(r.error.find("limite di 300 ms raggiunto"), std::string::npos) << r.error;
    // The grandchild of the first run was killed with it: no marker appears.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500) - (std::chrono::steady_clock::now() - start));
    EXPECT_FALSE(std::filesystem::exists(marker));
}
