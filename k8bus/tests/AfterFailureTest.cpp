// The calls after a failure: against hostile daemons, a call that fails never leaves reply bytes
// behind for a later call to take as its own. Each task's reply names the task it answers
// (WHO=<task>), so a reply handed to the wrong request shows. A session whose connection had
// to be ended refuses further requests at once, and opens again as new.
#include "BusHarness.h"

#include "Bus.h"
#include "Controls.h"

#include "DaemonDouble.h"

#include "automation/ClassRegistry.h"

#include <chrono>

namespace zs::k8bus::test {
namespace {

using automation::InvokeKind;
using automation::Variant;
using k8test::be16;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;

constexpr int kBoundMs = 2000;

// The task name of an execute request (its third parameter).
std::string taskOf(const k8test::Request& r)
{
    return r.params.size() > 2 ? r.params[2] : std::string();
}

Reply answerFor(const std::string& task)
{
    return std::move(Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"WHO", task}}));
}

// Answers every request on the connection well (execute: WHO=<task>) until the client leaves.
void serveWell(DaemonConnection& c)
{
    while (auto r = c.next(8000)) {
        if (r->type == 0)
            c.send(Reply(2).info(1, 0, 4));
        else if (r->type == 1)
            c.send(answerFor(taskOf(*r)));
        else
            c.send(Reply(1).info(1, 0, 4).num(0));
    }
}

struct Scenario {
    const char* name;
    bool keyed; ///< keyed parameters (list format "L") with a 64-byte buffer, else list mode
    /// The daemon's answer to the first execute request (for task T1).
    std::function<void(DaemonConnection&)> answer;
    StatusTriple failure;
    /// The failing call may have left bytes unread: the session's connection is ended.
    bool outOfStep;
};

// The controls as the program drives them, on one thread.
class ProgramControls {
  public:
    ProgramControls(int port, bool keyed)
        : m_keyed(keyed)
    {
        registerClasses(m_registry);
        m_system = m_registry.create(kSystemProgId);
        m_session = m_registry.create(kSessionProgId);
        call(*m_system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
        call(*m_system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(port))});
        call(*m_system, 11, InvokeKind::Method);
        call(*m_session, 15, InvokeKind::Put, {call(*m_system, 1, InvokeKind::Get)});
        if (keyed) {
            call(*m_session, 4, InvokeKind::Put, {Variant(std::int32_t{64})});
            call(*m_session, 23, InvokeKind::Put, {Variant("K"), Variant("v")});
        } else {
            call(*m_session, 3, InvokeKind::Put, {Variant("A=1")});
        }
    }
    ~ProgramControls()
    {
        call(*m_session, 20, InvokeKind::Method);
        call(*m_system, 10, InvokeKind::Method);
    }
    int open() { return call(*m_session, 21, InvokeKind::Method).toInt32(); }
    bool close() { return call(*m_session, 20, InvokeKind::Method).toBool(); }
    /// Runs `task`; its result and the output it handed back.
    std::pair<bool, std::string> exec(const std::string& task)
    {
        call(*m_session, 16, InvokeKind::Put, {Variant(task)});
        const bool ok = call(*m_session, 22, InvokeKind::Method).toBool();
        const std::string out = m_keyed ? call(*m_session, 26, InvokeKind::Get, {Variant("WHO")}).toString()
                                        : call(*m_session, 8, InvokeKind::Get).toString();
        return {ok, out};
    }
    std::string own(const std::string& task) const { return m_keyed ? task : "WHO=" + task; }

  private:
    static Variant call(automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
    {
        return o.dispatchTable().invoke(o, id, kind, args).value;
    }
    bool m_keyed;
    automation::ClassRegistry m_registry;
    std::unique_ptr<automation::Dispatchable> m_system, m_session;
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
            t.nextRead = 30000; // only the call's deadline ends a dripped reply
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
