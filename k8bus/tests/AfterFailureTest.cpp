// The calls after a failure: against hostile daemons, a call that fails never leaves reply bytes
// behind for a later call to take as its own. Each task's reply names the task it answers
// (WHO=<task>), so a reply handed to the wrong request shows. A session whose connection had
// to be ended refuses further requests at once, and opens again as new. A request of the daemon
// that the library refuses (a screen, an output port, a reply of no known type) ends the call
// before the task's status: the task runs on at the daemon, so the session is out of step too.
#include "BusHarness.h"

#include "Bus.h"
#include "DaemonAnswers.h"
#include "ProgramControls.h"

#include "testsupport/Loopback.h"

#include <chrono>

namespace zs::k8bus::test {
namespace {

using k8test::be16;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;

constexpr int kBoundMs = 2000;

struct Scenario {
    const char* name;
    bool keyed; ///< keyed parameters (list format "L") with a 64-byte buffer, else list mode
    /// The daemon's answer to the first execute request (for task T1).
    std::function<void(DaemonConnection&)> answer;
    StatusTriple failure;
    /// The failing call may have left bytes unread: the session's connection is ended.
    bool outOfStep;
};

TEST_F(BusTest, HostileDaemonThenTwoGoodCallsTable)
{
    // A display, for a terminal client that could start: this one is missing.
    const zs::test::ScopedEnvVar display("DISPLAY", ":99");
    const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", "no-such-terminal-client %s %d");
    const std::string lateReply = answerFor("T1").bytes();
    const std::string noListener = std::to_string(zs::test::freePort());
    // The request refused, then the task runs on and its status comes, unless the client left.
    auto refusedThenStatus = [&](Reply request) {
        return [&lateReply, request = std::move(request)](DaemonConnection& c) {
            c.send(request);
            c.waitForClose(300);
            c.send(lateReply);
        };
    };
    const Scenario scenarios[] = {
        {"late reply after a time-out",
         false,
         [&](DaemonConnection& c) {
             c.waitForClose(3500); // answers after the bound, unless the client left
             c.send(lateReply);
         },
         {5, 5, 10060, 0},
         true},
        {"late failure reply after a time-out",
         false,
         [](DaemonConnection& c) {
             c.waitForClose(3500);
             c.send(Reply(0).info(1, 0, 4).num(5).num(7).num(8));
         },
         {5, 5, 10060, 0},
         true},
        {"info block stating 1000 items and holding 3",
         false,
         [](DaemonConnection& c) {
             const std::string item = be16(1) + "1";
             c.send(Reply(0).param(be16(1000) + item + item + item).num(0).num(0).num(0).list({{"WHO", "T1"}}));
         },
         {40, 40, 0, 0},
         false},
        {"status \"-\"",
         false,
         [](DaemonConnection& c) {
             c.send(Reply(0).info(1, 0, 4).param("-").num(0).num(0).list({{"WHO", "T1"}}));
         },
         {50, 50, 0, 0},
         false},
        {"reply dripped a byte every 0.5 s",
         false,
         [&](DaemonConnection& c) { c.drip(lateReply, 500); },
         {4, 4, 10060, 0},
         true},
        {"return list longer than the caller's buffer, trace on",
         true,
         [](DaemonConnection& c) { c.send(answerFor(std::string(300, 'x'))); },
         {48, 48, 63, 307},
         false},
        {"screen request whose terminal client cannot start",
         false,
         refusedThenStatus(std::move(Reply(3).info(1, 0, 4).array({"2323", "N"}))),
         {45, 45, 2, 0},
         true},
        {"screen request with three parameters",
         false,
         refusedThenStatus(std::move(Reply(3).info(1, 0, 4).array({"2323", "N"}).num(1))),
         {40, 40, 0, 3},
         true},
        {"screen request in GUI mode",
         false,
         refusedThenStatus(std::move(Reply(3).info(1, 0, 4).array({"2323", "Y"}))),
         {101, 101, 0, 0},
         true},
        {"output request to a port nobody listens on",
         false,
         refusedThenStatus(std::move(Reply(4).info(1, 0, 4).array({noListener, "3"}))),
         {1, 1, 10061, 0},
         true},
        {"reply of unknown type",
         false,
         refusedThenStatus(std::move(Reply(7).info(1, 0, 4).num(0))),
         {41, 41, 0, 7},
         true},
    };
    for (const auto& sc : scenarios) {
        SCOPED_TRACE(sc.name);
        DaemonDouble daemon([&](DaemonConnection& c, int index) {
            if (index > 0)
                return serveWell(c); // the session opened again
            if (!answerLogin(c, 4) || !c.next())
                return;
            sc.answer(c);
            serveWell(c);
        });
        onFreshThread([&] {
            SockTimeouts t = shortTimeouts();
            t.nextRead = 30000; // only the element's bound ends a dripped reply
            t.bound = kBoundMs;
            sockSetTimeouts(t);
            ProgramControls controls(daemon.port(), sc.keyed);
            ASSERT_EQ(controls.open(), 0);
            auto start = Clock::now();
            const auto failed = controls.exec("T1");
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kBoundMs + 1500)) << "one bound per call";
            EXPECT_FALSE(failed.first);
            EXPECT_EQ(failed.second, "");
            EXPECT_EQ(StatusTriple::read(), sc.failure);
            if (sc.outOfStep) {
                // Nothing more is read on that connection: the next request fails at once as on
                // a session that is not open, and the session closes without waiting.
                start = Clock::now();
                const auto refused = controls.exec("T2");
                EXPECT_FALSE(refused.first);
                EXPECT_EQ(refused.second, "");
                EXPECT_EQ(k8GetLastError(), 3);
                EXPECT_FALSE(controls.close());
                EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
                ASSERT_EQ(controls.open(), 0);
            }
            for (const std::string task : {"T2", "T3"}) {
                const auto good = controls.exec(task);
                EXPECT_TRUE(good.first) << task;
                EXPECT_EQ(good.second, controls.own(task));
            }
            EXPECT_TRUE(controls.close());
        });
        // A session out of step was opened again on a connection of its own.
        EXPECT_EQ(daemon.connections(), sc.outOfStep ? 2 : 1);
    }
}

} // namespace
} // namespace zs::k8bus::test
