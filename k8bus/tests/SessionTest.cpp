// Session tables per thread: the limits of 10 system and 20 kernel sessions, the host and port
// defaults, handles that mean nothing on another thread, and the per-thread slot table.
#include "BusHarness.h"

#include "Bus.h"
#include "threadglob/ThreadGlob.h"

#include "DaemonDouble.h"

namespace zs::k8bus::test {
namespace {

// Every suite runs in a private environment: no trace or setting of the real user is touched.
class ThreadGlob : public BusTest {};
class ErrorBook : public BusTest {};

using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;

void answerOpenAndEnd(DaemonConnection& c, int index)
{
    if (!answerLogin(c, 100 + index))
        return;
    if (c.next())
        c.send(Reply(1).info(1, 0, 100 + index).num(0));
}

TEST_F(BusTest, EleventhSystemLoginFails)
{
    onFreshThread([] {
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(k8SystemLogin("h", 1, "", "u", "p"), i);
        EXPECT_EQ(k8SystemLogin("h", 1, "", "u", "p"), -1);
        EXPECT_EQ(k8GetLastError(), 10);
        // A freed slot is taken again first.
        k8SystemClose(4);
        EXPECT_EQ(k8SystemLogin("h", 1, "", "u", "p"), 4);
    });
}

TEST_F(BusTest, LoginDefaults)
{
    onFreshThread([] {
        EXPECT_EQ(k8SystemLogin(".", 0, "", "u", "p"), 0);
        ASSERT_NE(findSystemSession(0), nullptr);
        EXPECT_EQ(*findSystemSession(0)->host, "localhost");
        EXPECT_EQ(findSystemSession(0)->port, 5432);
        EXPECT_EQ(k8SystemClose(0), 1);
        EXPECT_EQ(findSystemSession(0), nullptr);
        EXPECT_EQ(k8SystemClose(7), 1); // unknown handle: still 1
        // A code set before any login fails with -1 kept behind no earlier error.
        EXPECT_EQ(k8SetCodeSet(0, "IT"), 0);
        EXPECT_EQ(k8GetLastError(), -1);
    });
    // The default port can be named in the environment (the program's tests run their daemon
    // on a free port); a value that is no port leaves the well-known one.
    const std::pair<const char*, int> ports[] = {{"40123", 40123}, {"0", 5432}, {"70000", 5432}, {"12x", 5432}};
    for (const auto& [value, port] : ports) {
        SCOPED_TRACE(value);
        const zs::test::ScopedEnvVar env("K8BUS_DEFAULT_PORT", std::string(value));
        onFreshThread([port = port] {
            ASSERT_EQ(k8SystemLogin("127.0.0.1", 0, "", "u", "p"), 0);
            EXPECT_EQ(findSystemSession(0)->port, port);
            ASSERT_EQ(k8SystemLogin("127.0.0.1", 6000, "", "u", "p"), 1);
            EXPECT_EQ(findSystemSession(1)->port, 6000);
        });
    }
}

TEST_F(BusTest, TwentyFirstKernelSessionFails)
{
    // Answers each open and moves on to the next connection.
    DaemonDouble daemon([](DaemonConnection& c, int index) { (void)answerLogin(c, 100 + index); });
    onFreshThread([&] {
        const int sys = k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p");
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(k8OpenKor8(sys, "", "op", "cd", "pw"), i);
        EXPECT_EQ(k8OpenKor8(sys, "", "op", "cd", "pw"), -1);
        EXPECT_EQ(k8GetLastError(), 20);
        EXPECT_EQ(daemon.connections(), 20); // the refused one never connected
    });
}

TEST_F(BusTest, HandlesAreNothingOnAnotherThread)
{
    DaemonDouble daemon(answerOpenAndEnd);
    onFreshThread([&] {
        const int sys = k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p");
        const int session = k8OpenKor8(sys, "", "op", "cd", "pw");
        ASSERT_EQ(session, 0);
        std::thread([&] {
            int n = 0, room = 10, nSys = 0;
            char buf[16] = {};
            EXPECT_EQ(k8ExecTask(session, "T", "D,", &n, 0, &room, buf, &nSys, 0, 0, ""), 0);
            EXPECT_EQ(k8CloseKor8(session), 0);
            EXPECT_EQ(k8OpenKor8(sys, "", "op", "cd", "pw"), -1);
            EXPECT_EQ(findSystemSession(sys), nullptr);
        }).join();
        EXPECT_EQ(k8CloseKor8(session), 1); // still this thread's, and the daemon confirms
    });
}

TEST_F(ThreadGlob, SlotsOutsideTheTableAndSecondStores)
{
    std::thread([] {
        struct S : ThreadSlotState {
            int v = 0;
        };
        EXPECT_EQ(threadGetSlot(0), nullptr);
        EXPECT_EQ(threadGetSlot(11), nullptr);
        EXPECT_FALSE(threadSetSlot(0, std::make_unique<S>()));
        auto first = std::make_unique<S>();
        S* p = first.get();
        EXPECT_TRUE(threadSetSlot(9, std::move(first)));
        EXPECT_FALSE(threadSetSlot(9, std::make_unique<S>()));
        EXPECT_EQ(threadGetSlot(9), p);
        EXPECT_TRUE(threadSetSlot(9, nullptr));
        EXPECT_EQ(threadGetSlot(9), nullptr);
    }).join();
}

TEST_F(ErrorBook, LastErrorAndTriple)
{
    std::thread([] {
        EXPECT_EQ(k8GetLastError(), 98); // no state yet
        int s = 1, r = 1, e = 1;
        EXPECT_EQ(k8GetLastStatusCodes(&s, &r, &e), 98);
        EXPECT_EQ(s, 1); // left alone without state
        ASSERT_NE(initApi(), nullptr);
        logErrorStat(20, 0, 20, "no current session");
        EXPECT_EQ(StatusTriple::read(), (StatusTriple{20, 20, 97, 97}));
        logError(-1, "follow-up");
        EXPECT_EQ(k8GetLastError(), 20); // the earlier error stands
        logSockError(-1, "socket follow-up");
        EXPECT_EQ(k8GetLastError(), 20);
        logError(3, "plain");
        EXPECT_EQ(k8GetLastError(), 3);
    }).join();
}

} // namespace
} // namespace zs::k8bus::test
