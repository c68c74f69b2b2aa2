#include "fs/AtomicFile.h"
#include "fs/FileMoves.h"
#include "fs/FileOps.h"
#include "fs/OwnedFolder.h"
#include "fs/Paths.h"
#include "fs/ReadFile.h"

#include "testsupport/TestEnv.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zs;

namespace {
unsigned currentUmask()
{
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
}
} // namespace

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
    } cases[] = {{"new file", -1, false, 0666 & ~currentUmask()},
                 {"new private file", -1, true, 0600},
                 {"kept 0600", 0600, false, 0600},
                 {"kept 0640", 0640, false, 0640},
                 {"private 0600 kept", 0600, true, 0600},
                 {"private 0644 tightened", 0644, true, 0600},
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

TEST(AtomicFile, StaleTemporariesOfDeadSavesGoAndNothingElse)
{
    test::TempDir dir;
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
    const std::string random = "0123456789abcdef";
    const std::string ours = ".stat.xml.zstmp-" + dead + "-" + random;
    test::writeFile(dir / "outside", "outside");
    // Names our saves never used (the old ".name.tmp-PID" among them), a live save's temporary
    // and a link at one of our names all stay.
    for (const std::string& name :
         std::vector<std::string>{".stat.xml.tmp-" + dead, ".cadenzo.xml.zstmp-" + alive + "-" + random,
                                  "stat.xml.zstmp-" + dead + "-" + random, ".x.zstmp-" + dead + "-0123",
                                  ".x.zstmp-" + dead + "-0123456789ABCDEF", ".x.zstmp--" + random, ours})
        test::writeFile(dir / name, "x");
    const std::string link = ".link.zstmp-" + dead + "-" + random;
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / link).c_str()), 0);
    EXPECT_EQ(fs::removeStaleTemporaries(dir.path()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir / ours));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / link));
    EXPECT_EQ(test::readFile(dir / "outside"), "outside");
    size_t left = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path()))
        ++left;
    EXPECT_EQ(left, 8u);
    // A save's own temporary name is one the clean-up knows, and never the same twice.
    const std::string t1 = fs::temporaryName("stat.xml"), t2 = fs::temporaryName("stat.xml");
    EXPECT_NE(t1, t2);
    EXPECT_EQ(fs::temporaryOwner(t1), ::getpid());
}

TEST(AtomicFile, ASaveNeverFollowsAPlantedLink)
{
    // Links at every name a save could use: the file itself, the temporary name of earlier
    // versions, and a dangling one. None is written through; the file ends a regular file.
    test::TempDir dir;
    const auto folder = dir / "home";
    std::filesystem::create_directories(folder);
    const std::string pid = std::to_string(::getpid());
    struct Case {
        const char* name;
        std::vector<std::string> links; // names in the folder, each to its own outside file
        bool dangling;
    } cases[] = {{"link at the file", {"stat.xml"}, false},
                 {"link at the old temporary name", {".stat.xml.tmp-" + pid}, false},
                 {"both", {"stat.xml", ".stat.xml.tmp-" + pid}, false},
                 {"dangling link at the file", {"stat.xml"}, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (auto& e : std::filesystem::directory_iterator(folder))
            std::filesystem::remove(e.path());
        std::vector<std::filesystem::path> outside;
        for (const std::string& l : c.links) {
            outside.push_back(dir / ("outside-" + std::to_string(outside.size())));
            std::filesystem::remove(outside.back());
            if (!c.dangling) {
                test::writeFile(outside.back(), "outside");
                ASSERT_EQ(::chmod(outside.back().c_str(), 0666), 0);
            }
            ASSERT_EQ(::symlink(outside.back().c_str(), (folder / l).c_str()), 0);
        }
        std::string err;
        ASSERT_TRUE(fs::writeFileAtomic(folder / "stat.xml", "statistiche", {}, &err)) << err;
        struct stat st {};
        ASSERT_EQ(::lstat((folder / "stat.xml").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~currentUmask()); // not the link target's mode
        EXPECT_EQ(test::readFile(folder / "stat.xml"), "statistiche");
        for (const auto& o : outside) {
            if (c.dangling)
                EXPECT_FALSE(std::filesystem::exists(o));
            else
                EXPECT_EQ(test::readFile(o), "outside");
        }
    }
}

TEST(AtomicFile, NewFilesFollowTheUmask)
{
    test::TempDir dir;
    struct Case {
        mode_t umask;
        bool privateMode;
        unsigned mode;
    } cases[] = {{077, false, 0600}, {022, false, 0644}, {002, false, 0664}, {0, false, 0666},
                 {0, true, 0600},    {077, true, 0600},  {027, false, 0640}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.umask) + (c.privateMode ? " private" : ""));
        const auto file = dir / "stat.xml";
        std::filesystem::remove(file);
        const mode_t old = ::umask(c.umask);
        std::string err;
        const bool ok = fs::writeFileAtomic(file, "x", {.privateMode = c.privateMode}, &err);
        ::umask(old);
        ASSERT_TRUE(ok) << err;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.mode);
        // A later save under another umask keeps the mode the file has.
        const mode_t other = ::umask(0);
        EXPECT_TRUE(fs::writeFileAtomic(file, "y", {.privateMode = c.privateMode}, &err)) << err;
        ::umask(other);
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
}

/// Records the order of the calls a save makes.
class RecordingFileOps : public fs::FailingFileOps {
  public:
    RecordingFileOps()
        : FailingFileOps(0, 0)
    {}
    int open(const char* path, int flags, mode_t mode) override
    {
        const int fd = FailingFileOps::open(path, flags, mode);
        (flags & O_DIRECTORY ? m_dirs : m_files).push_back(fd);
        log.push_back(flags & O_DIRECTORY ? "open folder" : "open file");
        return fd;
    }
    int fsync(int fd) override
    {
        log.push_back(std::find(m_dirs.begin(), m_dirs.end(), fd) != m_dirs.end() ? "fsync folder" : "fsync file");
        return FailingFileOps::fsync(fd);
    }
    int rename(const char* from, const char* to) override
    {
        log.push_back("rename");
        return FailingFileOps::rename(from, to);
    }
    std::vector<std::string> log;

  private:
    std::vector<int> m_dirs, m_files;
};

TEST(AtomicFile, ASaveSyncsTheDataBeforeTheRenameAndTheFolderAfterIt)
{
    test::TempDir dir;
    test::writeFile(dir / "stat.xml", "old");
    RecordingFileOps ops;
    std::string err;
    ASSERT_TRUE(fs::writeFileAtomic(dir / "stat.xml", "new", {}, &err, ops)) << err;
    const std::vector<std::string> expected = {"open file", "fsync file", "rename", "open folder", "fsync folder"};
    EXPECT_EQ(ops.log, expected);
    EXPECT_EQ(test::readFile(dir / "stat.xml"), "new");
}

TEST(ReadFile, NonRegularAndOversizedFilesAreRefusedAtOnce)
{
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directories(dir / "folder");
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero").c_str()), 0);
    test::writeFile(dir / "big", std::string(1025, 'x'));
    test::writeFile(dir / "fits", std::string(1024, 'x'));
    ASSERT_EQ(::symlink((dir / "fits").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "none").c_str(), (dir / "dangling").c_str()), 0);
    struct Case {
        const char* name;
        fs::ReadOutcome outcome;
        const char* says;
    } cases[] = {{"fifo", fs::ReadOutcome::Refused, "è una pipe"},
                 {"folder", fs::ReadOutcome::Refused, "è una cartella"},
                 {"zero", fs::ReadOutcome::Refused, "è un dispositivo"},
                 {"big", fs::ReadOutcome::Refused, "supera il limite"},
                 {"fits", fs::ReadOutcome::Read, ""},
                 {"link", fs::ReadOutcome::Read, ""},
                 {"none", fs::ReadOutcome::Missing, "File o directory inesistente"},
                 {"dangling", fs::ReadOutcome::Missing, "File o directory inesistente"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        std::string out, err;
        EXPECT_EQ(fs::readFileBounded(dir / c.name, 1024, out, &err), c.outcome);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        if (c.outcome == fs::ReadOutcome::Read)
            EXPECT_EQ(out.size(), 1024u);
        else
            EXPECT_TRUE(out.empty());
    }
    // Links may be refused where a reader asks so.
    std::string err;
    EXPECT_FALSE(fs::openForReading(dir / "link", err, nullptr, /*followLinks=*/false).valid());
    EXPECT_NE(err.find("collegamento"), std::string::npos) << err;
}

TEST(AtomicFile, AnAppendWritesOnlyARegularFileAndNeverWaits)
{
    test::TempDir dir, outside;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "readfifo").c_str(), 0600), 0);
    // A FIFO with a reader opens at once for writing: the check after the open refuses it.
    const int reader = ::open((dir / "readfifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::filesystem::create_directories(dir / "folder");
    test::writeFile(outside / "target.log", "del proprietario\n");
    ASSERT_EQ(::symlink((outside / "target.log").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "new.log").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir / "null").c_str()), 0);
    test::writeFile(dir / "day.log", "prima\r\n");
    struct Case {
        const char* name;
        bool written;
        const char* says;
    } cases[] = {{"fifo", false, "è una pipe, non un file"},
                 {"readfifo", false, "è una pipe, non un file"},
                 {"folder", false, "è una cartella, non un file"},
                 {"link", false, "è un collegamento, non un file"},
                 {"dangling", false, "è un collegamento"},
                 {"null", false, "è un collegamento"},
                 {"day.log", true, ""},
                 {"new.log", true, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        std::string err;
        EXPECT_EQ(fs::appendToFile(dir / c.name, "riga\r\n", &err), c.written);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        if (!c.written) {
            EXPECT_NE(err.find((dir / c.name).string()), std::string::npos) << err;
        }
    }
    ::close(reader);
    EXPECT_EQ(test::readFile(outside / "target.log"), "del proprietario\n");
    EXPECT_FALSE(std::filesystem::exists(outside / "new.log"));
    EXPECT_EQ(test::readFile(dir / "day.log"), "prima\r\nriga\r\n");
    EXPECT_EQ(test::readFile(dir / "new.log"), "riga\r\n");
    // A lock file is opened the same way.
    std::string err;
    EXPECT_FALSE(fs::openForWriting(dir / "link", O_RDWR, 0600, err).valid());
    EXPECT_TRUE(fs::openForWriting(dir / "lock", O_RDWR, 0600, err).valid()) << err;
    // A caller that words the failure itself learns what stands at the name, or the system's error.
    const struct {
        std::filesystem::path file;
        int errorNumber;
        const char* reason;
    } failures[] = {{dir / "fifo", 0, "è una pipe, non un file"}, // opens read-write, refused after
                    {dir / "folder", 0, "è una cartella, non un file"},
                    {dir / "link", 0, "è un collegamento, non un file"},
                    {dir / "none" / "lock", ENOENT, "File o directory inesistente"}};
    for (const auto& f : failures) {
        SCOPED_TRACE(f.file);
        fs::OpenFailure failure;
        EXPECT_FALSE(fs::openForWriting(f.file, O_RDWR, 0600, err, &failure).valid());
        EXPECT_EQ(failure.errorNumber, f.errorNumber);
        EXPECT_EQ(failure.reason, f.reason);
        EXPECT_EQ(err, "Impossibile aprire il file " + f.file.string() + ": " + f.reason);
    }
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

/// A file system whose rename cannot be told not to replace (renameat2 refuses its flag).
class NoFlagFileOps : public fs::FailingFileOps {
  public:
    NoFlagFileOps()
        : FailingFileOps(0, 0)
    {}
    int renameat2(const char*, const char*, unsigned) override
    {
        errno = EINVAL;
        return -1;
    }
};

TEST(FileMoves, ARenameNeverReplacesAFileWithOrWithoutTheFileSystemsFlag)
{
    test::TempDir dir;
    NoFlagFileOps noFlag;
    for (fs::FileOps* ops : {&fs::systemFileOps(), static_cast<fs::FileOps*>(&noFlag)}) {
        SCOPED_TRACE(ops == &noFlag ? "without the flag" : "with the flag");
        test::writeFile(dir / "a", "new");
        test::writeFile(dir / "b", "there");
        errno = 0;
        EXPECT_FALSE(fs::renameNoReplace(dir / "a", dir / "b", *ops));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(test::readFile(dir / "b"), "there");
        EXPECT_EQ(test::readFile(dir / "a"), "new");
        std::filesystem::remove(dir / "b");
        EXPECT_TRUE(fs::renameNoReplace(dir / "a", dir / "b", *ops));
        EXPECT_EQ(test::readFile(dir / "b"), "new");
        EXPECT_FALSE(std::filesystem::exists(dir / "a"));
        std::filesystem::remove(dir / "b");
    }
}

TEST(FileMoves, ACopyKeepsTheFilesIdentityAndAFailedOneLeavesNothing)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "old");
    test::writeFile(dir / "a.xml", std::string(3u << 20, 'x')); // more than one read
    const auto identity = fs::identityOf(dir / "a.xml", fs::systemFileOps());
    ASSERT_TRUE(identity.has_value());
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        fs::FailingFileOps ops(failAt, EIO);
        std::filesystem::path tmp;
        std::string reason;
        const bool ok = fs::copyFlushed(dir / "a.xml", dir / "old", dir / "old/a.xml", tmp, reason, ops);
        std::vector<std::filesystem::path> left;
        for (const auto& e : std::filesystem::directory_iterator(dir / "old"))
            left.push_back(e.path());
        if (ok && ops.calls() < failAt) {
            ASSERT_EQ(left, std::vector<std::filesystem::path>{tmp});
            EXPECT_EQ(fs::identityOf(tmp, fs::systemFileOps()), identity);
            break;
        }
        if (ok) { // a failed time setting is let be: the copy is whole, only its time differs
            EXPECT_EQ(std::filesystem::file_size(tmp), 3u << 20);
        } else {
            EXPECT_TRUE(left.empty()) << "left behind: " << left.front();
            EXPECT_NE(reason.find("a.xml: "), std::string::npos) << reason;
        }
        for (const auto& p : left)
            std::filesystem::remove(p);
        ASSERT_LT(failAt, 30);
    }
    EXPECT_FALSE(fs::identityOf(dir / "old", fs::systemFileOps()).has_value()); // a folder has none
}

TEST(OwnedFolder, IsPrivateFromItsCreationWhateverTheUmask)
{
    test::TempDir dir;
    const mode_t old = ::umask(0);
    const auto folder = fs::makeOwnedFolder(dir.path(), ".prova-");
    ::umask(old);
    ASSERT_TRUE(folder.has_value());
    struct stat st {};
    ASSERT_EQ(::stat(folder->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(folder->filename().string().size(), std::string(".prova-").size() + 6);
    EXPECT_TRUE(std::filesystem::is_regular_file(*folder / fs::kOwnerMarker));
    // The maker still runs: its folder stays.
    EXPECT_EQ(fs::removeDeadOwnedFolders(dir.path(), ".prova-"), 0);
    EXPECT_TRUE(std::filesystem::exists(*folder));
}

TEST(OwnedFolder, OnlyFoldersOfThisUserWhoseMakerEndedGo)
{
    test::TempDir dir;
    // A maker that has ended, with a file inside.
    const pid_t child = ::fork();
    if (child == 0) {
        const auto made = fs::makeOwnedFolder(dir.path(), ".prova-");
        if (made)
            test::writeFile(*made / "copia.arj", "x");
        ::_exit(made ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    // A marker naming this very process but another start: its pid was reused.
    const auto reused = fs::makeOwnedFolder(dir.path(), ".prova-");
    ASSERT_TRUE(reused.has_value());
    std::string marker = test::readFile(*reused / fs::kOwnerMarker);
    marker.replace(marker.find(' '), marker.find(' ', marker.find(' ') + 1) - marker.find(' '), " 1");
    test::writeFile(*reused / fs::kOwnerMarker, marker);
    // What stays: a live maker's folder, a folder with no marker (its maker is still writing it,
    // or it is not ours), a link at such a name, another prefix, a marker we never write.
    const auto live = fs::makeOwnedFolder(dir.path(), ".prova-");
    ASSERT_TRUE(live.has_value());
    std::filesystem::create_directory(dir / ".prova-nomark");
    test::writeFile(dir / "fuori" / "dentro", "x");
    ASSERT_EQ(::symlink((dir / "fuori").c_str(), (dir / ".prova-linked").c_str()), 0);
    std::filesystem::create_directory(dir / ".altro-abcdef");
    test::writeFile(dir / ".altro-abcdef" / fs::kOwnerMarker, "1 1 -\n");
    std::filesystem::create_directory(dir / ".prova-strano");
    test::writeFile(dir / ".prova-strano" / fs::kOwnerMarker, "non un marcatore\n");

    EXPECT_EQ(fs::removeDeadOwnedFolders(dir.path(), ".prova-"), 2);
    EXPECT_FALSE(std::filesystem::exists(*reused));
    EXPECT_TRUE(std::filesystem::exists(*live));
    for (const char* name : {".prova-nomark", ".altro-abcdef", ".prova-strano"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / ".prova-linked"));
    EXPECT_EQ(test::readFile(dir / "fuori" / "dentro"), "x");
    std::size_t left = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path()))
        ++left;
    EXPECT_EQ(left, 6u); // live, nomark, fuori, the link, altro, strano: nothing of the ended makers
}
