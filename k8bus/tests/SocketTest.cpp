// The socket layer on its own: the proxy thread, bounded receives, the listen table, and a
// sweep of mutated replies through the execute loop (none may crash or hang).
#include "BusHarness.h"

#include "Bus.h"

#include "Wire.h"
#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

namespace zs::k8bus::test {
namespace {

int listenOnLoopback(int& port)
{
    zs::test::LoopbackSocket socket;
    EXPECT_TRUE(socket.ok());
    port = socket.port();
    return socket.release();
}

TEST_F(BusTest, ReceiveThroughTheProxyEndsOnCloseAndOnTimeOut)
{
    int port = 0;
    const int lfd = listenOnLoopback(port);
    onFreshThread([&] {
        ASSERT_TRUE(sockInit());
        EXPECT_TRUE(sockProxyActive());
        const int s = sockOpen("127.0.0.1", port, false);
        ASSERT_GE(s, 0);
        const int peer = ::accept(lfd, nullptr, nullptr);
        ASSERT_GE(peer, 0);
        ASSERT_EQ(::send(peer, "abcd", 4, 0), 4);
        unsigned char buf[10] = {};
        // Four bytes, then nothing: the wait for the rest ends after nextRead (1 s here).
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(sockRecv(s, buf, 10), 4);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
        EXPECT_EQ(sockGetLastErrorNo(), 10060);
        ::close(peer);
        EXPECT_EQ(sockRecv(s, buf, 10), 0); // closed before sending
        EXPECT_TRUE(sockClose(s));
        EXPECT_FALSE(sockClose(-1));
    });
    ::close(lfd);
}

TEST_F(BusTest, ListenTableAcceptsAndFillsUp)
{
    int port = 0;
    const int lfd = listenOnLoopback(port);
    ASSERT_TRUE(sockListenRegister(port, lfd));
    onFreshThread([&] {
        std::thread client([&] {
            int c = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            EXPECT_EQ(::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            ::close(c);
        });
        const int s = sockOpen(nullptr, port, true);
        client.join();
        EXPECT_GE(s, 0);
        EXPECT_TRUE(sockClose(s));
        EXPECT_EQ(sockOpen(nullptr, port + 1 == 65536 ? 1 : port + 1, true), -1); // not listened on
        EXPECT_TRUE(sockClose(lfd));                                              // a listened socket stays open
        EXPECT_EQ(::fcntl(lfd, F_GETFD), FD_CLOEXEC);
    });
    // Fill the table with 1001 entries: the 1002nd port finds it full. The ports filled in and
    // the one refused are never the listened one (the system picks it, perhaps among them).
    std::vector<int> ports;
    for (int p = 40000; ports.size() < 1000; ++p) {
        if (p == port)
            continue;
        ASSERT_TRUE(sockListenRegister(p, 1000000 + p));
        ports.push_back(p);
    }
    const int refused = port == 39999 ? 39998 : 39999;
    EXPECT_FALSE(sockListenRegister(refused, 2000000));
    for (int p : ports)
        sockListenUnregister(p);
    sockListenUnregister(port);
    ::close(lfd);
    EXPECT_TRUE(sockListenRegister(refused, 2000000));
    sockListenUnregister(refused);
}

// Mutations of well-formed replies fed to the execute loop through a socket pair. The screen
// and output requests are kept out: they would start programs or connect elsewhere.
TEST_F(BusTest, MutatedRepliesNeverCrashOrHang)
{
    const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", "no-such-terminal-client");
    using k8test::Reply;
    const std::vector<std::string> seeds = {
        Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"A", "1"}, {"B()", k8test::arrayBytes({"x", "y"})}}).bytes(),
        Reply(0).info(1, 0, 4).num(5).num(6).num(7).list({{"S", "v"}}).bytes(),
        Reply(1).info(1, 0, 4).num(0).num(3).num(4).bytes(),
        Reply(0).info(1, 0, 4).num(0).bytes(),
    };
    std::mt19937 rng(20240517);
    const auto start = std::chrono::steady_clock::now();
    onFreshThread([&] {
        SockTimeouts t = shortTimeouts();
        t.nextRead = 200;
        t.bound = 200;
        sockSetTimeouts(t);
        const int sys = k8SystemLogin("127.0.0.1", 1, "", "u", "p");
        ApiGlobals* g = apiGlobals();
        ASSERT_NE(g, nullptr);
        for (int round = 0; round < 1500; ++round) {
            std::string reply = seeds[static_cast<std::size_t>(round) % seeds.size()];
            const int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = rng() % reply.size();
                switch (rng() % 3) {
                case 0:
                    reply[at] = static_cast<char>(rng());
                    break;
                case 1:
                    reply.erase(at, 1 + rng() % 3);
                    break;
                default:
                    reply.insert(at, 1, static_cast<char>(rng()));
                    break;
                }
                if (reply.empty())
                    reply = "\x00";
            }
            if (reply[0] == 3 || reply[0] == 4)
                reply[0] = 9;
            int fds[2];
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
            KernelSession& k = g->kernelSessions[0];
            k.systemIndex = sys;
            k.busSocket = fds[0];
            k.daemonSessionId = 4;
            ::send(fds[1], reply.data(), reply.size(), MSG_NOSIGNAL);
            ::shutdown(fds[1], SHUT_WR);
            int n = 0, room = 200, nSys = 0;
            char buf[256] = {};
            k8ExecTask(0, "T", round % 2 ? "D," : "L", &n, 0, &room, buf, &nSys, 0, 0, "");
            EXPECT_LE(room, 200);
            EXPECT_GE(n, 0);
            ::close(fds[1]);
            sockClose(k.busSocket); // through the layer: its read-ahead for the number goes too
            k.busSocket = -1;
            k.systemIndex = -1;
        }
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

} // namespace
} // namespace zs::k8bus::test
