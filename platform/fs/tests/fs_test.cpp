#include "fs/AtomicFile.h"
#include "fs/FileOps.h"
#include "fs/Paths.h"

#include "testsupport/TestEnv.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs;

TEST(Paths, ProgramFolderFollowsZentrikHome)
{
    test::ScopedTestEnv env;
    EXPECT_EQ(fs::programFolder(), env.home());
}

TEST(Paths, BackslashesAndCaseAreResolved)
{
    test::TempDir dir;
    test::writeFile(dir / "Log/ZentrikServer.XML", "x");
    const auto found = fs::resolveUserPath("log\\zentrikserver.xml", dir.path());
    EXPECT_EQ(found, dir / "Log/ZentrikServer.XML");
    // nothing to match: the path as given
    EXPECT_EQ(fs::resolveUserPath("log\\none.xml", dir.path()), dir / "log/none.xml");
}

TEST(AtomicFile, WritesWithPrivateMode)
{
    test::TempDir dir;
    std::string err;
    ASSERT_TRUE(fs::writeFileAtomic(dir / "a.xml", "abc", {.privateMode = true}, &err)) << err;
    EXPECT_EQ(test::readFile(dir / "a.xml"), "abc");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "a.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFile, FaultSweepNeverLosesTheOldFile)
{
    test::TempDir dir;
    const auto file = dir / "settings.xml";
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        test::writeFile(file, "old");
        fs::FailingFileOps ops(failAt, EIO);
        std::string err;
        const bool ok = fs::writeFileAtomic(file, "new content", {}, &err, ops);
        const std::string now = test::readFile(file);
        size_t entries = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path()))
            ++entries;
        EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
        if (ok) {
            EXPECT_EQ(now, "new content");
            break;
        }
        EXPECT_EQ(now, "old");
        EXPECT_NE(err.find("settings.xml"), std::string::npos);
        ASSERT_LT(failAt, 20);
    }
}
