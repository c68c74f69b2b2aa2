// Waits against the daemon double: the profile's bound (its one-bound failures are in
// SilenceTest.cpp), the host's yield hook
// (window events go on, a stop abandons the wait), replies with bad numbers drained so the next
// call on the session starts in step, and what a failed call leaves in the output list.
#include "BusHarness.h"

#include "Bus.h"
#include "Controls.h"

#include "DaemonDouble.h"

#include "automation/ClassRegistry.h"
#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace zs::k8bus::test {
namespace {

using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;

Reply kernelOk(long session)
{
    return std::move(Reply(0).info(1, 0, session).num(0).num(0).num(0));
}

struct ExecResult {
    int result = -1;
    int count = 0;
    std::string text;
};

// One ExecTask on an open session in "D," format with 200 bytes of room.
ExecResult exec(int session, int room = 200)
{
    ExecResult r;
    int nSys = 0;
    char buffer[512] = {};
    r.result = k8ExecTask(session, "T", "D,", &r.count, 0, &room, buffer, &nSys, 0, 0, "");
    r.text.assign(buffer, static_cast<std::size_t>(std::max(room, 0)));
    return r;
}

TEST_F(BusTest, WithoutAProfileValueEveryWaitHasTheDefaultBound)
{
    std::thread([] {
        ASSERT_TRUE(sockInit());
        EXPECT_EQ(sockGetTimeouts().bound, kDefaultWaitBoundMs);
        EXPECT_EQ(kDefaultWaitBoundMs, 300000);
    }).join();
    zs::test::writeFile(m_env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=not a number\n");
    profileResetForTests();
    std::thread([] {
        ASSERT_TRUE(sockInit());
        EXPECT_EQ(sockGetTimeouts().bound, kDefaultWaitBoundMs);
    }).join();
    // A header without its closing bracket starts no section: the well-formed one counts.
    zs::test::writeFile(m_env.root() / "kor8.ini", "[Kor8 Bus\nK8WaitTimeout=1\n[Kor8 Bus]\nK8WaitTimeout=7\n");
    profileResetForTests();
    std::thread([] {
        ASSERT_TRUE(sockInit());
        EXPECT_EQ(sockGetTimeouts().bound, 7000);
    }).join();
}

TEST_F(BusTest, BadNumberInAStatusReplyIsDrainedAndTheNextCallSucceeds)
{
    struct Case {
        const char* name;
        Reply bad;
        StatusTriple expected;
    };
    const std::vector<std::pair<std::string, std::string>> list = {{"A", "1"}, {"B", "2"}};
    const Case cases[] = {
        {"status not a number",
         std::move(Reply(0).info(1, 0, 4).param("1x").num(0).num(0).list(list).num(9)),
         {50, 50, 0, 0}},
        {"empty fail reason", std::move(Reply(0).info(1, 0, 4).num(3).param("").num(0).list(list)), {50, 50, 0, 0}},
        {"sub-error of 25 digits",
         std::move(Reply(0).info(1, 0, 4).num(0).num(0).param(std::string(25, '7')).list(list)),
         {50, 50, 0, 0}},
        {"daemon fail reason not a number",
         std::move(Reply(1).info(1, 0, 4).num(0).num(12).param("--").num(8)),
         {50, 50, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DaemonDouble daemon([&](DaemonConnection& d, int) {
            if (!answerLogin(d, 4))
                return;
            if (!d.next())
                return;
            d.send(c.bad);
            if (!d.next())
                return;
            d.send(kernelOk(4).list({{"X", "10"}}));
            d.waitForClose(3000);
        });
        onFreshThread([&] {
            const int session = k8OpenKor8(k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p"), "", "o", "c", "p");
            ASSERT_EQ(session, 0);
            EXPECT_EQ(exec(session).result, 0);
            EXPECT_EQ(StatusTriple::read(), c.expected);
            // The same session, at once: no leftover parameter is taken for the next reply.
            const auto start = Clock::now();
            const ExecResult next = exec(session);
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
            EXPECT_EQ(next.result, 1);
            EXPECT_EQ(next.text, "X=10");
            EXPECT_EQ(next.count, 1);
        });
    }
}

// A task that takes `ms` before its kernel status.
DaemonDouble::Script slowTask(int ms)
{
    return [ms](DaemonConnection& d, int) {
        if (!answerLogin(d, 4))
            return;
        if (!d.next())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms)); // the task's own run time
        d.send(kernelOk(4).list({{"X", "1"}}));
        if (d.next())
            d.send(Reply(1).info(1, 0, 4).num(0));
        d.waitForClose(3000);
    };
}

TEST_F(BusTest, YieldHookRunsWhileATaskRuns)
{
    DaemonDouble daemon(slowTask(600));
    onFreshThread([&] {
        const int session = k8OpenKor8(k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p"), "", "o", "c", "p");
        ASSERT_EQ(session, 0);
        int calls = 0;
        ExecResult r;
        {
            const ScopedYieldHook hook([&] {
                ++calls;
                return true;
            });
            r = exec(session);
        }
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.text, "X=1");
        EXPECT_GE(calls, 20); // every 10 ms while the task ran
        const int before = calls;
        EXPECT_EQ(k8CloseKor8(session), 1);
        EXPECT_EQ(calls, before); // the hook is gone with its scope
    });
}

TEST_F(BusTest, YieldHookThatSaysStopAbandonsTheWait)
{
    // A long bound, and none at all: only the hook may end these waits early.
    for (const int bound : {20000, 0}) {
        SCOPED_TRACE(bound);
        DaemonDouble daemon(slowTask(5000));
        onFreshThread([&] {
            SockTimeouts t = shortTimeouts();
            t.bound = bound;
            sockSetTimeouts(t);
            const int session = k8OpenKor8(k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p"), "", "o", "c", "p");
            ASSERT_EQ(session, 0);
            int calls = 0;
            const ScopedYieldHook hook([&] { return ++calls < 5; });
            const auto start = Clock::now();
            EXPECT_EQ(exec(session).result, 0);
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
            EXPECT_EQ(calls, 5);
            EXPECT_EQ(StatusTriple::read(), (StatusTriple{5, 5, kSockInterrupted, 0}));
            // The session's connection is out of step and was ended: closing it does not wait.
            const auto closing = Clock::now();
            EXPECT_EQ(k8CloseKor8(session), 0);
            EXPECT_LT(Clock::now() - closing, std::chrono::milliseconds(500));
            EXPECT_EQ(findKernelSession(session), nullptr);
        });
    }
}

TEST_F(BusTest, SendToAPeerThatNeverReadsIsBounded)
{
    const zs::test::LoopbackSocket peer; // accepts, never reads
    ASSERT_TRUE(peer.ok());
    onFreshThread([&] {
        SockTimeouts t = shortTimeouts();
        t.bound = 700;
        sockSetTimeouts(t);
        const int s = sockOpen("127.0.0.1", peer.port(), false);
        ASSERT_GE(s, 0);
        const std::vector<unsigned char> lots(32 << 20, 'x'); // far more than both socket buffers hold
        const auto start = Clock::now();
        EXPECT_EQ(sockSend(s, lots.data(), static_cast<int>(lots.size())), -1);
        // The socket's buffers fill at once, then one bound of waiting for room; the margin
        // holds for a sanitizer build on a loaded machine (the send's last slice and the close).
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(t.bound + 1500));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(t.bound - 50));
        EXPECT_EQ(sockGetLastErrorNo(), 10060);
        sockClose(s);
    });
}

// A peer that reads, however slowly, makes room: each wait for room has the bound, and the whole
// send may take many bounds.
TEST_F(BusTest, SendToAPeerThatReadsSlowlyGoesOnPastTheBound)
{
    zs::test::LoopbackSocket listener;
    ASSERT_TRUE(listener.ok());
    const int small = 16 * 1024; // small buffers on both sides: the send waits for the reader
    ::setsockopt(listener.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    constexpr std::size_t kBytes = 512 * 1024;
    std::size_t received = 0;
    std::thread reader([&] {
        const int peer = ::accept(listener.fd(), nullptr, nullptr);
        if (peer < 0)
            return;
        std::vector<char> buf(32 * 1024);
        const auto giveUp = Clock::now() + std::chrono::seconds(20);
        while (received < kBytes && Clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // a fifth of the bound
            const ssize_t n = ::recv(peer, buf.data(), buf.size(), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
                break;
            received += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        ::close(peer);
    });
    onFreshThread([&] {
        SockTimeouts t = shortTimeouts();
        t.bound = 500;
        sockSetTimeouts(t);
        const int s = sockOpen("127.0.0.1", listener.port(), false);
        ASSERT_GE(s, 0);
        ASSERT_TRUE(sockSetOption(s, 1, 3, &small, sizeof small, "SO_SNDBUF"));
        const std::vector<unsigned char> bytes(kBytes, 'x');
        const auto start = Clock::now();
        EXPECT_EQ(sockSend(s, bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(kBytes));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * t.bound));
        sockClose(s);
    });
    reader.join();
    EXPECT_EQ(received, kBytes);
}

TEST_F(BusTest, OversizedArrayReplyLeavesTheListAtItsLastCompletePair)
{
    DaemonDouble daemon([](DaemonConnection& d, int) {
        if (!answerLogin(d, 4))
            return;
        if (!d.next())
            return;
        d.send(kernelOk(4).list({{"A", "1"}, {"B()", k8test::arrayBytes({std::string(40, 'p'), "q"})}, {"C", "3"}}));
        d.waitForClose(3000);
    });
    onFreshThread([&] {
        const int session = k8OpenKor8(k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p"), "", "o", "c", "p");
        const ExecResult r = exec(session, 30);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.text, "A=1");
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(k8GetLastError(), 48);
    });
}

// The Session control after a failed ExecTask: the output list and count hold nothing of an
// earlier call (list mode and keyed mode).
TEST_F(BusTest, FailedExecTaskLeavesNoEarlierOutput)
{
    DaemonDouble daemon([](DaemonConnection& d, int) {
        if (!answerLogin(d, 4))
            return;
        if (!d.next())
            return;
        d.send(kernelOk(4).list({{"X", "10"}, {"Y", "venti"}}));
        if (!d.next())
            return;
        d.send(Reply(1).info(1, 0, 4).num(0).num(12).num(5)); // refused
        if (!d.next())
            return;
        d.send(kernelOk(4).list({{"Z", std::string(300, 'z')}})); // larger than a 64-byte buffer
        d.waitForClose(3000);
    });
    onFreshThread([&] {
        automation::ClassRegistry registry;
        registerClasses(registry);
        auto system = registry.create(kSystemProgId);
        auto session = registry.create(kSessionProgId);
        using automation::InvokeKind;
        using automation::Variant;
        auto call = [](automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {}) {
            return o.dispatchTable().invoke(o, id, kind, args).value;
        };
        call(*system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
        call(*system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(daemon.port()))});
        call(*system, 11, InvokeKind::Method);
        call(*session, 15, InvokeKind::Put, {call(*system, 1, InvokeKind::Get)});
        ASSERT_EQ(call(*session, 21, InvokeKind::Method).toInt32(), 0);
        call(*session, 3, InvokeKind::Put, {Variant("A=1,B=2")});
        call(*session, 16, InvokeKind::Put, {Variant("T")});
        EXPECT_TRUE(call(*session, 22, InvokeKind::Method).toBool());
        EXPECT_EQ(call(*session, 8, InvokeKind::Get).toString(), "X=10,Y=venti");
        EXPECT_FALSE(call(*session, 22, InvokeKind::Method).toBool());
        EXPECT_EQ(call(*session, 8, InvokeKind::Get).toString(), "");
        EXPECT_EQ(call(*session, 9, InvokeKind::Get).toInt32(), 0);
        // Keyed mode with a buffer too small for the reply: nothing comes out, nothing stale either.
        call(*session, 4, InvokeKind::Put, {Variant(static_cast<std::int32_t>(64))});
        call(*session, 23, InvokeKind::Put, {Variant("K"), Variant("v")});
        EXPECT_FALSE(call(*session, 22, InvokeKind::Method).toBool());
        EXPECT_EQ(call(*session, 8, InvokeKind::Get).toString(), "");
        EXPECT_EQ(call(*session, 9, InvokeKind::Get).toInt32(), 0);
        EXPECT_EQ(call(*session, 26, InvokeKind::Get, {Variant("Z")}).toString(), "");
        // A call on a session that is not open: nothing of the buffer comes out.
        call(*session, 20, InvokeKind::Method);
        call(*session, 3, InvokeKind::Put, {Variant("A=1")});
        EXPECT_FALSE(call(*session, 22, InvokeKind::Method).toBool());
        EXPECT_EQ(call(*session, 8, InvokeKind::Get).toString(), "");
        EXPECT_EQ(call(*session, 9, InvokeKind::Get).toInt32(), 0);
        call(*system, 10, InvokeKind::Method);
    });
}

} // namespace
} // namespace zs::k8bus::test
