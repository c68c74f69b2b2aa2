// The wait bound is on silence, one wait at a time: a task that keeps sending report lines runs
// for as long as it needs, one that stays silent past the bound fails and its session is ended
// (the reopened session answers only its own calls), and a bound of 0 waits for as long as the
// daemon computes. While a terminal client started for a screen request runs, the wait for the
// task has no bound; a report line cut half-way costs one bound, not two; a changed bound applies
// from the next session on the same thread. The bound comes from kor8.ini, as a site sets it.
#include "BusHarness.h"

#include "DaemonAnswers.h"
#include "ProgramControls.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

namespace zs::k8bus::test {
namespace {

using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kLines = 10;        // one every 0.3 s: three seconds of output
constexpr int kLineEveryMs = 300; // well inside the 1 s bound
constexpr int kSilentMs = 3000;   // three times the bound
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlackMs = 3000; // the sanitizers' runtime stops the threads now and then
#else
constexpr int kSlackMs = 1000;
#endif

std::string lineText(int i)
{
    return "Riga " + std::to_string(i);
}

// The task LUNGO: asks for an output connection, sends a report line every 0.3 s for three
// seconds, ends its output, then its status and the output parameters.
void streamingTask(DaemonConnection& c)
{
    const int port = c.listenForOutput();
    c.send(Reply(4).info(1, 0, 4).array({std::to_string(port), "3"}));
    if (!c.acceptOutput())
        return;
    for (int i = 1; i <= kLines; ++i) {
        std::this_thread::sleep_for(milliseconds(kLineEveryMs));
        c.sendOutput(k8test::reportLine(0, 1, lineText(i)));
    }
    c.closeOutput();
    c.send(Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"WHO", "LUNGO"}, {"X", "10"}}));
}

class SilenceBound : public BusTest {
  protected:
    /// kor8.ini sets `K8WaitTimeout=value`; `fn` runs on a fresh thread that read it.
    void withProfileBound(const std::string& value, int expectedMs, const std::function<void()>& fn)
    {
        zs::test::writeFile(m_env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=" + value + "\n");
        std::thread([&] {
            ASSERT_TRUE(sockInit());
            ASSERT_EQ(sockGetTimeouts().bound, expectedMs);
            fn();
        }).join();
    }
};

TEST_F(SilenceBound, ReportLinesEveryThirdOfTheBoundKeepAThreeBoundTaskAlive)
{
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4) || !c.next())
            return;
        streamingTask(c);
        serveWell(c);
    });
    withProfileBound("1", 1000, [&] {
        ProgramControls controls(daemon.port(), false);
        ASSERT_EQ(controls.open(), 0);
        controls.recordPrintedLines();
        const auto start = Clock::now();
        const auto [ok, out] = controls.exec("LUNGO");
        EXPECT_GE(Clock::now() - start, milliseconds(kLines * kLineEveryMs - 100));
        EXPECT_TRUE(ok) << StatusTriple::read();
        EXPECT_EQ(out, "WHO=LUNGO,X=10");
        std::vector<PrintedLine> expected;
        for (int i = 1; i <= kLines; ++i)
            expected.push_back({3, 0, 1, lineText(i)});
        expected.push_back({-1, -1, 0, ""}); // the end of the output
        EXPECT_EQ(controls.printed, expected);
        // The session is in step: the next call on it gets its own answer.
        EXPECT_EQ(controls.exec("T2"), std::make_pair(true, controls.own("T2")));
        EXPECT_TRUE(controls.close());
    });
    EXPECT_EQ(daemon.connections(), 1);
}

TEST_F(SilenceBound, WithoutABoundASilentTaskSucceeds)
{
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4) || !c.next())
            return;
        c.waitForClose(kSilentMs);
        c.send(answerFor("T1"));
        serveWell(c);
    });
    withProfileBound("0", 0, [&] {
        ProgramControls controls(daemon.port(), false);
        ASSERT_EQ(controls.open(), 0);
        const auto start = Clock::now();
        EXPECT_EQ(controls.exec("T1"), std::make_pair(true, controls.own("T1")));
        EXPECT_GE(Clock::now() - start, milliseconds(kSilentMs - 100));
        EXPECT_EQ(controls.exec("T2"), std::make_pair(true, controls.own("T2")));
        EXPECT_TRUE(controls.close());
    });
    EXPECT_EQ(daemon.connections(), 1);
}

// The screen request's terminal dialogue: `prompts` lines over `dialogueMs`, each answered by the
// terminal stand-in; then the task's status with what the operator answered.
void screenTask(DaemonConnection& c, int prompts, int dialogueMs)
{
    const int port = c.listenForTerminal();
    c.send(Reply(3).info(1, 0, 4).array({std::to_string(port), "N"}));
    if (!c.acceptTerminal())
        return;
    int answered = 0;
    for (int i = 1; i <= prompts; ++i) {
        std::this_thread::sleep_for(milliseconds(dialogueMs / prompts));
        const std::string field = "Campo " + std::to_string(i);
        if (c.prompt(field) == "ok:" + field)
            ++answered;
    }
    c.closeTerminal();
    c.send(
        Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"WHO", "SCHERMO"}, {"RISPOSTE", std::to_string(answered)}}));
}

TEST_F(SilenceBound, TerminalDialogueLongerThanTheBoundRunsToItsEnd)
{
    const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", std::string(TERMINAL_STANDIN_PATH) + " %s %d");
    const zs::test::ScopedEnvVar display("DISPLAY", ":99"); // where the terminal client would show
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4) || !c.next())
            return;
        screenTask(c, 17, 5000); // two and a half bounds of silence on the bus
        serveWell(c);
    });
    withProfileBound("2", 2000, [&] {
        ProgramControls controls(daemon.port(), false);
        ASSERT_EQ(controls.open(), 0);
        const auto start = Clock::now();
        const auto [ok, out] = controls.exec("SCHERMO");
        EXPECT_GE(Clock::now() - start, milliseconds(4900));
        EXPECT_TRUE(ok) << StatusTriple::read();
        EXPECT_EQ(out, "WHO=SCHERMO,RISPOSTE=17");
        // The session is in step, and the next task has the bound again.
        EXPECT_EQ(controls.exec("T2"), std::make_pair(true, controls.own("T2")));
        EXPECT_TRUE(controls.close());
    });
    EXPECT_EQ(daemon.connections(), 1);
}

// Each failed call costs one bound, whatever went silent: the daemon, a terminal client that ended
// at once (the bound applies again from its end), or a report line that stopped half-way (its
// read ends at the bound and the call fails then, without a second wait on the bus). The
// session is ended then: closing it does not wait, and the reopened session answers only its
// own calls.
TEST_F(SilenceBound, OneBoundPerFailedCallTable)
{
    struct Case {
        const char* name;
        const char* bound; ///< K8WaitTimeout, in seconds
        std::string clientCmd;
        std::function<void(DaemonConnection&)> task; ///< the daemon's side of the execute request
        int minMs, maxMs;
        StatusTriple failure;
        std::vector<PrintedLine> printed;
    };
    const Case cases[] = {
        {"a daemon that never ends the task",
         "2",
         "",
         [](DaemonConnection& c) { c.waitForClose(8000); },
         1900,
         3500,
         {5, 5, 10060, 0}, // sockWait timeout
         {}},
        {"a task silent past the bound, whose answer comes late",
         "1",
         "",
         [](DaemonConnection& c) {
             c.waitForClose(kSilentMs); // computes silently; its answer comes late, unless the client left
             c.send(answerFor("T1"));
         },
         950,
         2500,
         {5, 5, 10060, 0},
         {}},
        {"a terminal client that ends at once",
         "2",
         std::string(TERMINAL_STANDIN_PATH) + " --quit %s %d",
         [](DaemonConnection& c) {
             const int port = c.listenForTerminal();
             c.send(Reply(3).info(1, 0, 4).array({std::to_string(port), "N"}));
             c.waitForClose(8000); // nobody at the terminal, and the daemon says nothing more
         },
         1950, // the client ends within moments of the screen request: one bound from then
         2000 + kSlackMs,
         {5, 5, 10060, 0},
         {}},
        {"a report line cut half-way",
         "2",
         "",
         [](DaemonConnection& c) {
             const int port = c.listenForOutput();
             c.send(Reply(4).info(1, 0, 4).array({std::to_string(port), "3"}));
             if (!c.acceptOutput())
                 return;
             c.sendOutput(k8test::reportLine(0, 1, "Riga intera"));
             c.sendOutput(k8test::reportLine(0, 1, "Riga tagliata a metà").substr(0, 12));
             c.waitForClose(10000);
         },
         1950,
         2000 + kSlackMs,  // 1.5 bounds (more under the sanitizers)
         {4, 4, 10060, 0}, // a reply stopped half-way
         {{3, 0, 1, "Riga intera"}, {-1, -1, 0, ""}}},
    };
    const zs::test::ScopedEnvVar display("DISPLAY", ":99"); // where a terminal client would show
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        profileResetForTests();
        std::optional<zs::test::ScopedEnvVar> clientCmd;
        if (!tc.clientCmd.empty())
            clientCmd.emplace("K8API_CLIENT_CMD", tc.clientCmd);
        DaemonDouble daemon([&](DaemonConnection& c, int index) {
            if (index > 0)
                return serveWell(c); // the session opened again
            if (!answerLogin(c, 4) || !c.next())
                return;
            tc.task(c);
            serveWell(c);
        });
        withProfileBound(tc.bound, std::atoi(tc.bound) * 1000, [&] {
            ProgramControls controls(daemon.port(), false);
            ASSERT_EQ(controls.open(), 0);
            controls.recordPrintedLines();
            const auto start = Clock::now();
            const auto failed = controls.exec("T1");
            const auto took = Clock::now() - start;
            EXPECT_GE(took, milliseconds(tc.minMs));
            EXPECT_LT(took, milliseconds(tc.maxMs));
            EXPECT_FALSE(failed.first);
            EXPECT_EQ(failed.second, "");
            EXPECT_EQ(StatusTriple::read(), tc.failure);
            EXPECT_EQ(controls.printed, tc.printed);
            const auto closing = Clock::now();
            EXPECT_FALSE(controls.close()); // its connections were ended: nothing to wait for
            EXPECT_LT(Clock::now() - closing, milliseconds(500));
            ASSERT_EQ(controls.open(), 0);
            for (const std::string task : {"T2", "T3"})
                EXPECT_EQ(controls.exec(task), std::make_pair(true, controls.own(task)));
            EXPECT_TRUE(controls.close());
        });
        EXPECT_EQ(daemon.connections(), 2);
    }
}

// The program makes every bus call on one thread: a bound raised in kor8.ini after a time-out
// applies to the next session without a restart.
TEST_F(SilenceBound, RaisedBoundAppliesFromTheNextSessionOnTheSameThread)
{
    constexpr int kTaskMs = 2500;
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 4))
            return;
        const auto r = c.next();
        if (!r)
            return;
        c.waitForClose(kTaskMs); // computes silently; a client that leaves ends it
        c.send(answerFor(taskOf(*r)));
        serveWell(c);
    });
    withProfileBound("1", 1000, [&] {
        ProgramControls controls(daemon.port(), false);
        ASSERT_EQ(controls.open(), 0);
        const auto failed = controls.exec("T1");
        EXPECT_FALSE(failed.first);
        EXPECT_EQ(StatusTriple::read(), (StatusTriple{5, 5, 10060, 0}));
        EXPECT_FALSE(controls.close());

        zs::test::writeFile(m_env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=10\n");
        ASSERT_EQ(controls.open(), 0);
        EXPECT_EQ(sockGetTimeouts().bound, 10000);
        const auto start = Clock::now();
        EXPECT_EQ(controls.exec("T2"), std::make_pair(true, controls.own("T2")));
        EXPECT_GE(Clock::now() - start, milliseconds(kTaskMs - 100));
        EXPECT_TRUE(controls.close());
    });
    EXPECT_EQ(daemon.connections(), 2);
}

// What each K8WaitTimeout text gives, and the trace line of a text that sets no bound: once,
// however many threads read it.
TEST_F(SilenceBound, ProfileValueTable)
{
    struct Case {
        const char* value;
        int boundMs;
        bool refused;
    };
    const Case cases[] = {
        {"0", 0, false},
        {"1", 1000, false},
        {"+2", 2000, false},
        {"86400", 86400 * 1000, false},
        {"86401", kDefaultWaitBoundMs, true},
        {"-5", kDefaultWaitBoundMs, true},
        {"abc", kDefaultWaitBoundMs, true},
        {"10abc", kDefaultWaitBoundMs, true},
        {"1.5", kDefaultWaitBoundMs, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        profileResetForTests();
        for (int thread = 0; thread < 2; ++thread)
            withProfileBound(c.value, c.boundMs, [] {});
        const std::string said = std::string("sockInit: K8WaitTimeout '") + c.value +
                                 "' is not a number of seconds from 0 (no bound) to 86400; every wait keeps the "
                                 "default bound of 300 seconds\r\n";
        const std::string trace = traceText();
        const auto first = trace.find(said);
        EXPECT_EQ(first != std::string::npos, c.refused);
        if (first != std::string::npos) {
            EXPECT_EQ(trace.find(said, first + 1), std::string::npos) << "said once";
        }
    }
}

} // namespace
} // namespace zs::k8bus::test
