// A program kept under control: started with an argv, its exit seen, ended on request and when
// its holder goes, and a start the system refuses reported as such.

#include "process/ChildProcess.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace zs::process {
namespace {

bool alive(pid_t pid)
{
    return pid > 0 && ::kill(pid, 0) == 0;
}

TEST(ChildProcess, StartsWithAnArgvAndReportsTheExit)
{
    test::TempDir dir;
    ChildProcess child;
    std::string error;
    ChildOptions options;
    options.outputFile = (dir / "out.txt").string();
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "echo \"$0 $1\"; exit 3", "a b", "$HOME"}, options, &error)) << error;
    EXPECT_EQ(child.waitFor(10000), 3);
    EXPECT_FALSE(child.running());
    EXPECT_EQ(test::readFile(dir / "out.txt"), "a b $HOME\n");
}

TEST(ChildProcess, AProgramThatCannotRunIsAnError)
{
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string program;
        std::string reason;
    } cases[] = {{"missing", (dir / "manca").string(), "programma non trovato"},
                 {"not a program", (dir / "garbage").string(),
                  "impossibile avviare " + (dir / "garbage").string() + ": Errore di formato di exec"}};
    test::writeFile(dir / "garbage", "\x01\x02 not a program");
    std::filesystem::permissions(dir / "garbage", std::filesystem::perms::owner_all);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child;
        std::string error;
        EXPECT_FALSE(child.start({c.program}, {}, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(child.running());
        EXPECT_EQ(child.pid(), 0);
    }
}

TEST(ChildProcess, EndedOnRequestAndWhenItsHolderGoes)
{
    pid_t pid = 0;
    {
        ChildProcess child;
        ASSERT_TRUE(child.start({"/bin/sleep", "60"}));
        pid = child.pid();
        EXPECT_TRUE(child.running());
        EXPECT_FALSE(child.waitFor(20));
    }
    EXPECT_FALSE(alive(pid)); // reaped, not a zombie

    ChildProcess stubborn;
    ASSERT_TRUE(stubborn.start({"/bin/sh", "-c", "trap '' TERM; sleep 60"}));
    stubborn.waitFor(200); // the trap is in place
    stubborn.terminate(100);
    EXPECT_FALSE(stubborn.running());
    EXPECT_EQ(stubborn.exitCode(), 128 + SIGKILL);
}

TEST(ChildProcess, EnvironmentIsAddedAndRemoved)
{
    test::TempDir dir;
    const test::ScopedEnvVar gone("ZS_CHILD_GONE", "x");
    ChildProcess child;
    ChildOptions options;
    options.outputFile = (dir / "env.txt").string();
    options.extraEnvironment = {"ZS_CHILD_NEW=nuovo"};
    options.removeEnvironment = {"ZS_CHILD_GONE"};
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "echo \"${ZS_CHILD_GONE-none} $ZS_CHILD_NEW\""}, options));
    EXPECT_EQ(child.waitFor(10000), 0);
    EXPECT_EQ(test::readFile(dir / "env.txt"), "none nuovo\n");
}

} // namespace
} // namespace zs::process
