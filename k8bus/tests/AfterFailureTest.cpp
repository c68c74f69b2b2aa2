// The calls after a failure: against hostile daemons, a call that fails never leaves reply bytes
// behind for a later call to take as its own. Each task's reply names the task it answers
// (WHO=<task>), so a reply handed to the wrong request shows. A session whose connection had
// to be ended refuses further requests at once, and opens again as new.
#include "BusHarness.h"

#include "Bus.h"
#include "DaemonAnswers.h"
#include "ProgramControls.h"

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
    const std::string lateReply = answerFor("T1").bytes();
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
