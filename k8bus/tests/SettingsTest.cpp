// Profile lookups (registry stand-in, kor8.ini, environment) and the event-log datagram.
#include "BusHarness.h"

#include "Socket.h"
#include "testsupport/HostileXml.h"
#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>

namespace zs::k8bus::test {
namespace {

class Settings : public BusTest {
  protected:
    void SetUp() override
    {
        BusTest::SetUp();
        m_noClientCmd.emplace("K8API_CLIENT_CMD", std::nullopt);
    }
    void TearDown() override
    {
        m_noClientCmd.reset();
        BusTest::TearDown();
    }
    void registry(const std::string& text)
    {
        std::filesystem::create_directories(m_env.root() / "config" / "ZentrikServer");
        zs::test::writeFile(m_env.root() / "config" / "ZentrikServer" / "registry.ini", text);
    }
    void profile(const std::string& text) { zs::test::writeFile(m_env.root() / "kor8.ini", text); }
    std::optional<std::string> lookup(const char* name)
    {
        profileResetForTests();
        std::optional<std::string> v;
        std::thread([&] { v = getprofile(name); }).join();
        return v;
    }

    std::optional<zs::test::ScopedEnvVar> m_noClientCmd;
};

TEST_F(Settings, ClientCommandLookupTable)
{
    const std::string kor8 = "[Environment]\nK8API_CLIENT_CMD=from-ini %s\n";
    const std::string longValue(300, 'v');
    struct Case {
        const char* name;
        std::optional<std::string> registryText; // none: no registry file at all
        bool iniFile;
        const char* env;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"no key: environment first", std::nullopt, true, "from-env", "from-env"},
        {"no key: then kor8.ini", std::nullopt, true, nullptr, "from-ini %s"},
        {"no key and nothing anywhere", std::nullopt, false, nullptr, std::nullopt},
        {"key without values: both flags on", "[Software\\Brastel\\Korvi]\n", true, "from-env", "from-env"},
        {"UseGlobalIniFile No: the file is never read", "[Software\\Brastel\\Korvi]\nUseGlobalIniFile=No\n", true,
         nullptr, std::nullopt},
        {"UseEnvironment no: registry Environment key instead",
         "[Software\\Brastel\\Korvi]\nUseEnvironment=no\n[Software\\Brastel\\Korvi\\Environment]\n"
         "K8API_CLIENT_CMD=from-registry\n",
         true, "from-env", "from-registry"},
        {"UseEnvironment no: then the profile file", "[Software\\Brastel\\Korvi]\nUseEnvironment=no\n", true,
         "from-env", "from-ini %s"},
        {"a sub-key section alone makes the base key exist",
         "[Software\\Brastel\\Korvi\\Environment]\n"
         "K8API_CLIENT_CMD=from-registry\n",
         true, nullptr, "from-registry"},
        {"a sub-key section alone: UseEnvironment is on",
         "[Software\\Brastel\\Korvi\\Environment]\n"
         "K8API_CLIENT_CMD=from-registry\n",
         true, "from-env", "from-env"},
        {"registry value too long counts as missing",
         "[Software\\Brastel\\Korvi]\n[Software\\Brastel\\Korvi\\Environment]\nK8API_CLIENT_CMD=" + longValue + "\n",
         true, nullptr, "from-ini %s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_env.root() / "config" / "ZentrikServer" / "registry.ini");
        std::filesystem::remove(m_env.root() / "kor8.ini");
        if (c.registryText)
            registry(*c.registryText);
        if (c.iniFile)
            profile(kor8);
        const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD",
                                               c.env ? std::optional<std::string>(c.env) : std::nullopt);
        EXPECT_EQ(lookup("K8API_CLIENT_CMD"), c.expected);
    }
}

// The wait bound under the registry's "Kor8 Bus" key outranks kor8.ini's, whether or not the keys
// above it have sections of their own.
TEST_F(Settings, WaitBoundFromARegistrySubKeyAloneOutranksTheProfileFile)
{
    profile("[Kor8 Bus]\nK8WaitTimeout=7\n");
    struct Case {
        const char* name;
        std::optional<std::string> registryText;
        int boundMs;
    };
    const Case cases[] = {
        {"no registry", std::nullopt, 7000},
        {"sub-key section alone", "[Software\\Brastel\\Korvi\\Kor8 Bus]\nK8WaitTimeout=1\n", 1000},
        {"with the base key's section",
         "[Software\\Brastel\\Korvi]\n[Software\\Brastel\\Korvi\\Kor8 Bus]\nK8WaitTimeout=2\n", 2000},
        {"another sub-key only: kor8.ini", "[Software\\Brastel\\Korvi\\Environment]\nK8API_CLIENT_DIR=/opt\n", 7000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_env.root() / "config" / "ZentrikServer" / "registry.ini");
        if (c.registryText)
            registry(*c.registryText);
        profileResetForTests();
        int bound = -1;
        std::thread([&] {
            sockInit();
            bound = sockGetTimeouts().bound;
        }).join();
        EXPECT_EQ(bound, c.boundMs);
    }
    // Only the case without a registry file misses the key.
    const std::string trace = traceText();
    const auto first = trace.find("setRegKey: NOT FOUND -- global registry key");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(trace.find("setRegKey: NOT FOUND", first + 1), std::string::npos);
}

TEST_F(Settings, NonRegularProfileFilesAreNeverWaitedForNorReadWithoutEnd)
{
    // A FIFO at kor8.ini or at the per-user INI would hold a bus login for good; a link to
    // /dev/zero would fill the memory. Each is passed by at once, as a missing file.
    const std::filesystem::path registryFile = m_env.root() / "config" / "ZentrikServer" / "registry.ini";
    std::filesystem::create_directories(registryFile.parent_path());
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    for (const std::filesystem::path& file : {m_env.root() / "kor8.ini", registryFile})
        for (const std::string& kind : zs::test::hostileNonRegularKinds()) {
            SCOPED_TRACE(file.filename().string() + " " + kind);
            std::filesystem::remove_all(m_env.root() / "kor8.ini");
            std::filesystem::remove_all(registryFile);
            zs::test::plantNonRegular(kind, file);
            const std::string planted = zs::test::describeEntry(file);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(lookup("K8API_CLIENT_CMD"), std::nullopt);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
            EXPECT_EQ(zs::test::describeEntry(file), planted);
        }
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024LL, zs::test::kHostileMemoryBound);
    std::filesystem::remove_all(m_env.root() / "kor8.ini");
    std::filesystem::remove_all(registryFile);
}

TEST_F(Settings, EmptySectionNeverReadsTheProfileFile)
{
    profile("[]\nKey=value\n");
    std::thread([] {
        std::string out;
        EXPECT_EQ(GetKorviProfileString("", "Key", "dflt", out, 64), 0);
        EXPECT_EQ(out, "dflt");
    }).join();
    EXPECT_NE(traceText().find("GetKorviProfileString:  = 'dflt' -- not found"), std::string::npos);
}

// A private datagram socket stands in for /dev/log.
class EventLogSink {
  public:
    explicit EventLogSink(const std::filesystem::path& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        timeval tv{0, 200000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setEventLogSocketPath(path.string());
    }
    ~EventLogSink() { ::close(m_fd); }
    /// The next datagram, or nothing within 200 ms.
    std::optional<std::string> next()
    {
        char buf[4096];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0)
            return std::nullopt;
        return std::string(buf, static_cast<std::size_t>(n));
    }

  private:
    int m_fd = -1;
};

TEST_F(Settings, EventReportLevelTable)
{
    EventLogSink sink(m_env.root() / "log.sock");
    struct Case {
        const char* name;
        const char* level; // the setting, or none
        std::vector<int> written, skipped;
    };
    const Case cases[] = {
        {"no setting: errors and warnings", nullptr, {1, 2}, {3, 4}},
        {"0: nothing", "0", {}, {1, 2}},
        {"4 and text: up to 4", "4abc", {1, 4}, {5}},
        {"not a number: 2", "x9", {2}, {3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(m_env.root() / "config" / "ZentrikServer" / "registry.ini");
        if (c.level)
            registry(
                std::string("[Software\\Brastel\\Korvi]\n[Software\\Brastel\\Korvi\\Kor8 Bus]\nK8EventReportLevel=") +
                c.level + "\n");
        profileResetForTests();
        std::thread([&] {
            for (int l : c.written) {
                eventReport(l, 0xC0000001u, {"written " + std::to_string(l)});
                auto d = sink.next();
                ASSERT_TRUE(d) << "level " << l;
                EXPECT_NE(d->find("written " + std::to_string(l)), std::string::npos);
            }
            for (int l : c.skipped) {
                eventReport(l, 0xC0000001u, {"skipped"});
                EXPECT_FALSE(sink.next()) << "level " << l;
            }
        }).join();
    }
}

TEST_F(Settings, EventDatagramFormAndTextLimit)
{
    EventLogSink sink(m_env.root() / "log.sock");
    std::thread([&] {
        std::vector<std::string> texts;
        for (int i = 1; i <= 12; ++i)
            texts.push_back("t" + std::to_string(i));
        eventReport(1, 0xC0000001u, texts);
        auto d = sink.next();
        ASSERT_TRUE(d);
        EXPECT_EQ(d->rfind("<11>", 0), 0u) << *d; // facility user, severity error
        EXPECT_NE(d->find(" Kor32Srv[" + std::to_string(::getpid()) + "]: 0xC0000001: t1 | t2"), std::string::npos)
            << *d;
        EXPECT_NE(d->find("| t10"), std::string::npos);
        EXPECT_EQ(d->find("t11"), std::string::npos);

        // A socket error reaches the log through the socket layer's report.
        const int port = zs::test::freePort();
        sockSetTimeouts(shortTimeouts());
        EXPECT_EQ(sockOpen("127.0.0.1", port, false), -1);
        d = sink.next();
        ASSERT_TRUE(d);
        EXPECT_NE(d->find("doConnect: connect failed: Host '127.0.0.1', port " + std::to_string(port)),
                  std::string::npos);
    }).join();
}

} // namespace
} // namespace zs::k8bus::test
