#include "fs/AtomicFile.h"
#include "fs/FileOps.h"
#include "fs/Paths.h"

#include "testsupport/TestEnv.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zs;

TEST(Paths, ProgramFolderFollowsZentrikHome)
{
    test::ScopedTestEnv env;
    EXPECT_EQ(fs::programFolder(), env.home());
}

TEST(Paths, ARelativeOrSlashEndedZentrikHomeNamesOneAbsoluteFolder)
{
    test::ScopedTestEnv env;
    std::filesystem::create_directories(env.root() / "d2");
    const auto cwd = std::filesystem::current_path();
    ASSERT_EQ(::chdir(env.root().c_str()), 0);
    const std::filesystem::path want = env.root() / "d2";
    for (const std::string& spelling :
         std::vector<std::string>{"d2", "d2/", "./d2//", want.string(), want.string() + "/", "x/../d2/."}) {
        test::ScopedEnvVar home{"ZENTRIK_HOME", spelling};
        EXPECT_EQ(fs::programFolder(), want) << spelling;
    }
    EXPECT_EQ(fs::absoluteFolder("/"), "/");
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
}

TEST(Paths, AnInstalledProgramKeepsItsFolderPerUser)
{
    test::ScopedTestEnv env;
    // The tests run from the build tree: without ZENTRIK_HOME, the executable's folder.
    {
        test::ScopedEnvVar home{"ZENTRIK_HOME", ""};
        const auto exe = std::filesystem::read_symlink("/proc/self/exe");
        ASSERT_TRUE(fs::isBuildFolder(exe.parent_path()));
        EXPECT_EQ(fs::defaultProgramFolder(), exe.parent_path());
        EXPECT_EQ(fs::programFolder(), exe.parent_path());
    }
    test::TempDir bin;
    EXPECT_FALSE(fs::isBuildFolder(bin.path()));
    {
        test::ScopedEnvVar data{"XDG_DATA_HOME", (env.root() / "data").string()};
        EXPECT_EQ(fs::perUserProgramFolder(), env.root() / "data/ZentrikServer");
    }
    {
        // A relative XDG_DATA_HOME is no value at all (the XDG rule): HOME's .local/share.
        test::ScopedEnvVar data{"XDG_DATA_HOME", "data"};
        test::ScopedEnvVar home{"HOME", (env.root() / "u").string()};
        EXPECT_EQ(fs::perUserProgramFolder(), env.root() / "u/.local/share/ZentrikServer");
    }
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

TEST(AtomicFile, ASaveKeepsTheFilesModeNeverLooserThanPrivate)
{
    test::TempDir dir;
    struct Case {
        const char* name;
        int before; // -1: no file yet
        bool privateMode;
        unsigned after;
    } cases[] = {{"new file", -1, false, 0644},           {"new private file", -1, true, 0600},
                 {"kept 0600", 0600, false, 0600},        {"kept 0640", 0640, false, 0640},
                 {"private 0600 kept", 0600, true, 0600}, {"private 0644 tightened", 0644, true, 0600},
                 {"private 0400 kept", 0400, true, 0400}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = dir / "f.xml";
        std::filesystem::remove(file);
        if (c.before >= 0) {
            test::writeFile(file, "old");
            ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(c.before)), 0);
        }
        std::string err;
        ASSERT_TRUE(fs::writeFileAtomic(file, "new", {.privateMode = c.privateMode}, &err)) << err;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.after);
    }
}

TEST(AtomicFile, StaleTemporariesOfDeadSavesGo)
{
    test::TempDir dir;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
    for (const std::string& name : std::vector<std::string>{".stat.xml.tmp-" + dead, ".cadenzo.xml.tmp-" + alive,
                                                            "stat.xml.tmp-" + dead, ".x.tmp-", ".x.tmp-12a"})
        test::writeFile(dir / name, "x");
    EXPECT_EQ(fs::removeStaleTemporaries(dir.path()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / (".stat.xml.tmp-" + dead)));
    for (const std::string& name :
         std::vector<std::string>{".cadenzo.xml.tmp-" + alive, "stat.xml.tmp-" + dead, ".x.tmp-", ".x.tmp-12a"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

TEST(AtomicFile, AnAppendThatDoesNotFitLeavesNoPartOfIt)
{
    // A file-size limit stands in for a full disk: the append fails part-way.
    test::TempDir dir;
    const auto file = dir / "day.log";
    test::writeFile(file, "riga intera\r\n");
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string err;
    const bool ok = fs::appendToFile(file, "una riga troppo lunga per il disco\r\n", &err);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, SIG_DFL);
    EXPECT_FALSE(ok);
    EXPECT_NE(err.find("day.log"), std::string::npos) << err;
    EXPECT_EQ(test::readFile(file), "riga intera\r\n");
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
