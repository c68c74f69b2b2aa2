// The trace file: pieces with the thread prefix, CR LF handling, cutting at 254 bytes, dumps.
#include "BusHarness.h"

#include "Bus.h"
#include "DaemonAnswers.h"
#include "ProgramControls.h"
#include "testsupport/HostileXml.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace zs::k8bus::test {
namespace {

std::string prefixOf(unsigned long tid)
{
    char p[24];
    std::snprintf(p, sizeof p, "%lx: ", tid);
    return p;
}

// Runs fn on a fresh thread and gives back what that thread wrote after its logOpen lines.
std::string writtenBy(const std::function<void()>& fn, const std::string& log, std::string& prefix)
{
    (void)log;
    unsigned long tid = 0;
    std::thread([&] {
        tid = static_cast<unsigned long>(::syscall(SYS_gettid));
        fn();
    }).join();
    prefix = prefixOf(tid);
    return prefix;
}

// What fn, run on a fresh thread once that thread's trace is open, adds to the trace file.
std::string writtenAfterOpening(const std::filesystem::path& trace, const std::function<void()>& fn,
                                std::string& prefix)
{
    std::size_t before = 0;
    writtenBy(
        [&] {
            logWrite("\n"); // opens the file
            before = zs::test::readFile(trace).size();
            fn();
        },
        "", prefix);
    return zs::test::readFile(trace).substr(before);
}

TEST_F(BusTest, FirstLineOpensWithThreadAndTime)
{
    std::string prefix;
    writtenBy([] { logWrite("hello\n"); }, "", prefix);
    const std::string text = traceText();
    ASSERT_EQ(text.rfind(prefix + "\n", 0), 0u) << text;
    const std::string second = text.substr(prefix.size() + 1);
    EXPECT_EQ(second.rfind(prefix + "logOpen: threadId 0x", 0), 0u) << second;
    EXPECT_NE(second.find(" at 2"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - (prefix.size() + 7)), prefix + "hello\r\n");
}

TEST_F(BusTest, TraceLineTable)
{
    struct Case {
        const char* name;
        std::string input;
        std::vector<std::string> pieces; // each after the prefix
    };
    const std::string longText(600, 'x');
    const std::vector<Case> cases = {
        {"two lines in one piece", "one\ntwo\n", {"one\r\ntwo\r\n"}},
        {"CR LF kept", "done\r\n", {"done\r\n"}},
        {"empty line is a lone LF", "\n", {"\n"}},
        {"no final line feed", "tail", {"tail"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_env.root() / "k8bus.log");
        std::string prefix;
        const std::string written = writtenAfterOpening(
            m_env.root() / "k8bus.log", [&] { logWrite(c.input); }, prefix);
        std::string expected;
        for (const auto& p : c.pieces)
            expected += prefix + p;
        EXPECT_EQ(written, expected);
    }
    // 600 bytes from a thread: pieces of 254 bytes with CR LF, then the rest without a line end.
    std::filesystem::remove(m_env.root() / "k8bus.log");
    std::string prefix;
    const std::string written = writtenAfterOpening(
        m_env.root() / "k8bus.log", [&] { logWrite(longText); }, prefix);
    const std::size_t room = 254 - prefix.size();
    const std::string expected = prefix + std::string(room, 'x') + "\r\n" + prefix + std::string(room, 'x') + "\r\n" +
                                 prefix + std::string(600 - 2 * room, 'x');
    EXPECT_EQ(written, expected);
}

TEST_F(BusTest, DumpModes)
{
    std::string prefix;
    const std::string written = writtenAfterOpening(
        m_env.root() / "k8bus.log",
        [] {
            const unsigned char chars[] = {'A', 'B', ' ', '~'};
            logDump(chars, 4, 1);
            const unsigned char bin[] = {1, 2, 3};
            logDump(bin, 3, 0);
            logDump(nullptr, 0, 1);
        },
        prefix);
    EXPECT_EQ(written, prefix + " A B ~ ~~\r\n" + prefix + " 0102 03\r\n" + prefix + " Null ptr\r\n");
}

TEST_F(BusTest, UnwritableFolderTracesNothingAndFailsNothing)
{
    setTraceFolderOverride((m_env.root() / "missing" / "deeper").string());
    std::thread([] {
        EXPECT_FALSE(logWrite("lost\n"));
        EXPECT_FALSE(logIsOn());
    }).join();
}

TEST_F(BusTest, PlantedSymlinkIsNotFollowed)
{
    // Someone else's link at the trace file's name, pointing at a file of the user's.
    const auto victim = m_env.root() / "victim.txt";
    zs::test::writeFile(victim, "precious\n");
    std::filesystem::create_symlink(victim, m_env.root() / "k8bus.log");
    std::thread([] {
        EXPECT_FALSE(logWrite("must not land anywhere\n"));
        EXPECT_FALSE(logIsOn()); // tracing is off for this thread, nothing fails
    }).join();
    EXPECT_EQ(zs::test::readFile(victim), "precious\n");
    EXPECT_TRUE(std::filesystem::is_symlink(m_env.root() / "k8bus.log"));
}

// A FIFO, a link or a folder at the trace file's name: the first control call neither waits on
// it nor writes through it, the trace is off for the thread and the round trip goes on.
TEST_F(BusTest, NonRegularTraceFileIsPassedByAtOnce)
{
    const auto trace = m_env.root() / "k8bus.log";
    struct Case {
        const char* kind;
        const char* said;
    };
    const Case cases[] = {{"fifo", "a FIFO"}, {"dev_zero", "a symbolic link"}, {"directory", "a folder"}};
    for (const auto& c : cases) {
        const std::string kind = c.kind;
        SCOPED_TRACE(kind);
        zs::test::plantNonRegular(kind, trace);
        // What the library says goes to the standard error: kept in a file for the case.
        const auto errors = m_env.root() / ("stderr-" + kind);
        std::fflush(stderr);
        const int saved = ::dup(2);
        const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, 2);
        ::close(file);
        const std::string planted = zs::test::describeEntry(trace);
        k8test::DaemonDouble daemon([](k8test::DaemonConnection& conn, int) {
            if (answerLogin(conn, 4))
                serveWell(conn);
        });
        onFreshThread([&] {
            ProgramControls controls(daemon.port(), false);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(controls.open(), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            EXPECT_FALSE(logIsOn());
            EXPECT_EQ(controls.exec("T1"), std::make_pair(true, controls.own("T1")));
            EXPECT_TRUE(controls.close());
        });
        std::fflush(stderr);
        ::dup2(saved, 2);
        ::close(saved);
        EXPECT_EQ(zs::test::describeEntry(trace), planted);
        // Said once, however many threads (the caller's, its proxy thread) met it.
        const std::string said = "k8bus: " + trace.string() + " is " + c.said + "; the bus trace is off\n";
        EXPECT_EQ(zs::test::readFile(errors), said);
        std::filesystem::remove_all(trace);
    }
}

// Without a runtime folder of the user's, the trace goes to a folder of the user's own in the
// temporary folder, never to the temporary folder itself; a link planted at that folder's name
// turns the trace off.
TEST_F(BusTest, WithoutARuntimeFolderTheTraceGoesToAPrivateTemporaryFolder)
{
    setTraceFolderOverride({});
    const auto tmp = m_env.root() / "tmp";
    std::filesystem::create_directories(tmp);
    const zs::test::ScopedEnvVar runtime("XDG_RUNTIME_DIR", std::nullopt);
    const zs::test::ScopedEnvVar tmpdir("TMPDIR", tmp.string());
    const auto folder = tmp / ("k8bus-" + std::to_string(::geteuid()));

    EXPECT_EQ(traceFilePath(), (folder / "k8bus.log").string());
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::thread([] { EXPECT_TRUE(logWrite("nel posto giusto\n")); }).join();
    EXPECT_NE(zs::test::readFile(folder / "k8bus.log").find("nel posto giusto"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(tmp / "k8bus.log"));

    ::chmod(folder.c_str(), 0777); // opened to others: closed again
    EXPECT_EQ(traceFilePath(), (folder / "k8bus.log").string());
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::filesystem::remove_all(folder);
    const auto elsewhere = m_env.root() / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_symlink(elsewhere, folder);
    EXPECT_EQ(traceFilePath(), "");
    std::thread([] {
        EXPECT_FALSE(logWrite("da nessuna parte\n"));
        EXPECT_FALSE(logIsOn());
    }).join();
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    setTraceFolderOverride(m_env.root().string());
}

TEST_F(BusTest, TraceFileIsPrivateAndRollsOverAtItsLimit)
{
    const auto file = m_env.root() / "k8bus.log";
    const auto older = m_env.root() / "k8bus.log.1";
    // A file left readable by others from an earlier version is made private on open.
    zs::test::writeFile(file, "old\n");
    std::filesystem::permissions(file, std::filesystem::perms(0644));
    setTraceSizeLimit(4096);
    const std::string line(99, 'x');
    std::thread([&] {
        for (int i = 0; i < 200; ++i) // about 20 kB through a 4 kB limit
            ASSERT_TRUE(logWrite(line + "\n"));
    }).join();
    setTraceSizeLimit(0);
    auto mode = [](const std::filesystem::path& p) {
        return std::filesystem::status(p).permissions() & std::filesystem::perms::all;
    };
    ASSERT_TRUE(std::filesystem::exists(older));
    EXPECT_EQ(mode(file), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(mode(older), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Each file stays near the limit: it is looked at every limit/8 bytes and one piece may follow.
    EXPECT_LE(std::filesystem::file_size(file), 4096u + 4096u / 8 + 2 * 256);
    EXPECT_LE(std::filesystem::file_size(older), 4096u + 4096u / 8 + 2 * 256);
    // The new file starts with the thread's logOpen line again.
    EXPECT_NE(traceText().find("logOpen: threadId 0x"), std::string::npos);
    EXPECT_EQ(traceText().find("old\n"), std::string::npos);
}

} // namespace
} // namespace zs::k8bus::test

namespace zs::k8bus::test {
namespace {

using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;

// Within one call the trace gathers in memory: it reaches the file once a wait on a peer has
// lasted its first slice, before the host's yield hook runs, when the call ends, and at once
// when 64 KiB have gathered.
TEST_F(BusTest, CallTraceIsWrittenWholeWhenTheCallEnds)
{
    const auto trace = m_env.root() / "k8bus.log";
    std::string prefix;
    const std::string added = writtenAfterOpening(
        trace,
        [&] {
            {
                const CallOutput call;
                logWrite("first line\n");
                EXPECT_EQ(zs::test::readFile(trace).find("first line"), std::string::npos);
                flushCallOutput(); // as before the host's yield hook
                EXPECT_NE(zs::test::readFile(trace).find("first line"), std::string::npos);
                logWrite("second line\n");
                for (int i = 0; i < 400; ++i)
                    logWrite(std::string(200, 'z') + "\n"); // past 64 KiB: written without waiting
                EXPECT_GT(zs::test::readFile(trace).size(), 64u * 1024);
            }
            EXPECT_NE(zs::test::readFile(trace).find("second line"), std::string::npos);
        },
        prefix);
    // The pieces are the same as when written one by one.
    EXPECT_EQ(added.rfind(prefix + "first line\r\n" + prefix + "second line\r\n", 0), 0u);
    EXPECT_EQ(added.size(), 2 * prefix.size() + 25 + 400 * (prefix.size() + 202));
}

TEST_F(BusTest, TraceOfAWaitIsInTheFileWhileTheHostRuns)
{
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4) || !c.next())
            return;
        c.waitForClose(300);
        c.send(Reply(0).info(1, 0, 4).num(0).num(0).num(0));
        c.waitForClose(3000);
    });
    onFreshThread([&] {
        const int session = k8OpenKor8(k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p"), "", "o", "c", "p");
        ASSERT_EQ(session, 0);
        bool seen = false;
        const ScopedYieldHook hook([&] {
            seen = seen || traceText().find("k8ExecTask: TaskName 'LENTO'") != std::string::npos;
            return true;
        });
        int n = 0, room = 10, nSys = 0;
        char buf[16] = {};
        EXPECT_EQ(k8ExecTask(session, "LENTO", "D,", &n, 0, &room, buf, &nSys, 0, 0, ""), 1);
        EXPECT_TRUE(seen);
    });
}

// A host that registered the controls without a yield hook, its call hung on the execute
// reply: the call's lines are in k8bus.log while it hangs, and stay there when the process is
// killed.
TEST_F(BusTest, HungCallOfAHostWithoutYieldHookHasItsTraceOnDiskThroughKill)
{
    using Clock = std::chrono::steady_clock;
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4) || !c.next())
            return;
        c.waitForClose(20000); // the task never ends
    });
    // The child writes its trace into its private folder in this test's folder and reads no
    // kor8.ini: the default bound.
    const zs::test::ScopedEnvVar runtime("XDG_RUNTIME_DIR", std::nullopt);
    const zs::test::ScopedEnvVar tmp("TMPDIR", m_env.root().string());
    const auto childTrace = m_env.root() / ("k8bus-" + std::to_string(::geteuid())) / "k8bus.log";
    auto traceText = [&] { return zs::test::readFile(childTrace); };
    const std::string port = std::to_string(daemon.port());
    char* const argv[] = {const_cast<char*>(PLAIN_HOST_PATH), const_cast<char*>(port.c_str()),
                          const_cast<char*>("APPESO"), nullptr};
    pid_t child = -1;
    ASSERT_EQ(::posix_spawn(&child, PLAIN_HOST_PATH, nullptr, nullptr, argv, environ), 0);
    struct Reaper {
        pid_t pid;
        ~Reaper()
        {
            if (pid > 0) { // only the child, never a process group
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};

    // The daemon has the execute request: from here the call waits for its reply.
    const auto asked = Clock::now() + std::chrono::seconds(10);
    auto executing = [&] {
        for (const auto& r : daemon.received())
            if (r.type == 1)
                return true;
        return false;
    };
    while (!executing() && Clock::now() < asked)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(executing());
    const auto since = Clock::now();

    const std::string task = "k8ExecTask: TaskName 'APPESO'";
    const std::string waiting = "k8ExecTask: waiting for EXEC reply < sockWait\r\n";
    auto hasBoth = [&](const std::string& text) {
        const auto at = text.find(task);
        return at != std::string::npos && text.find(waiting, at) != std::string::npos;
    };
    std::string text = traceText();
    while (!hasBoth(text) && Clock::now() - since < std::chrono::seconds(1)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        text = traceText();
    }
    EXPECT_TRUE(hasBoth(text)) << text;
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the call still hangs";

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    reaper.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(hasBoth(traceText()));
}

} // namespace
} // namespace zs::k8bus::test
