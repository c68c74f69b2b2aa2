// The program's Bus & Task call against the bus daemon double on 127.0.0.1 (the call always asks
// for the daemon's default port, which the bus library takes from K8BUS_DEFAULT_PORT: each test's
// daemon listens on a free port): the program built as main() builds it on a copy of the demo
// folder keeps serving its window events while a task runs, Stop pressed meanwhile ends the step
// without starting the step's next task, a daemon that stops answering costs each item one
// bound, a task that keeps sending report output runs past the bound to its end, and so does a
// task whose terminal dialogue outlasts the bound. A task whose screen request the library
// refuses leaves its session out of step: the next item starts at once, without a bound's wait.

#include "DaemonDouble.h"

#include "dialogs/qt/OpzioniWindow.h"
#include "program/PasswordCodec.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace zs::shell {

// The foundation's names used here.
using program::CodificaPassword;
using program::LogImage;
namespace {

namespace fs = std::filesystem;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;

std::string replaced(std::string text, const std::string& what, const std::string& with)
{
    const auto at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

struct BusTaskProgram : test::DemoProgramTest {
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(DemoProgramTest::SetUp());
        // The bus trace and profile of this test stay in its own folder.
        const fs::path run = env.root() / "run";
        fs::create_directories(run);
        ::chmod(run.c_str(), 0700);
        runtimeDir = std::make_unique<test::ScopedEnvVar>("XDG_RUNTIME_DIR", run.string());
        windowsDir = std::make_unique<test::ScopedEnvVar>("WINDIR", env.root().string());

        // The logins of the Bus & Task page, and a loading XML whose one step runs the task LUNGO
        // twice, with A=1 and then A=2.
        const std::string settings = zs::test::readFile(home / "zentrikServer.xml");
        zs::test::writeFile(home / "zentrikServer.xml",
                            replaced(settings, "</zentrikServer>",
                                     "  <BusAndTask computer=\"127.0.0.1\" systemUserID=\"sys\" systemPassword=\"" +
                                         CodificaPassword("spw") + "\" operatorUserID=\"oper\" operatorPassword=\"" +
                                         CodificaPassword("opw") + "\" coDiv=\"01\"/>\n</zentrikServer>"));
        zs::test::writeFile(home / "zentrikLoading.xml",
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore>\n  <BUSANDTASK>\n"
                            "    <esegui>si</esegui>\n    <operazione>Task del bus</operazione>\n"
                            "    <query>LUNGO</query>\n    <query>A=1</query>\n    <query>A=2</query>\n"
                            "  </BUSANDTASK>\n</Estrattore>\n");
        create();
        ASSERT_TRUE(app->load());
    }
    /// The daemon the program's task call reaches: on a free port, named as the default one.
    std::unique_ptr<DaemonDouble> startDaemon(DaemonDouble::Script script)
    {
        busCallsInThisProcess = true;
        auto daemon = std::make_unique<DaemonDouble>(std::move(script));
        defaultPort = std::make_unique<test::ScopedEnvVar>("K8BUS_DEFAULT_PORT", std::to_string(daemon->port()));
        return daemon;
    }
    /// The first line of the log tree, at either level, that begins with `prefix`.
    QTreeWidgetItem* line(const std::string& prefix)
    {
        auto& tree = app->runWindow().tvwLog();
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            QTreeWidgetItem* top = tree.topLevelItem(i);
            if (top->text(0).toStdString().rfind(prefix, 0) == 0)
                return top;
            for (int k = 0; k < top->childCount(); ++k)
                if (top->child(k)->text(0).toStdString().rfind(prefix, 0) == 0)
                    return top->child(k);
        }
        return nullptr;
    }
    bool hasLine(const std::string& prefix) { return line(prefix) != nullptr; }
    /// The run ended correctly and its Bus & Task step is neither red nor marked failed; no box.
    void expectTheTaskStepGreen()
    {
        EXPECT_FALSE(hasLine("Errore durante la fase di Bus&Task"));
        EXPECT_TRUE(hasLine("Elaborazione eseguita correttamente"));
        QTreeWidgetItem* step = line("Task del bus");
        ASSERT_NE(step, nullptr);
        EXPECT_NE(step->foreground(0).color(), QColor(255, 0, 0));
        EXPECT_NE(step->data(0, LogTreeView::kImageRole).toInt(), static_cast<int>(LogImage::Error));
        EXPECT_TRUE(shown.empty()) << shown.front();
    }

    std::unique_ptr<test::ScopedEnvVar> runtimeDir, windowsDir, defaultPort;
    /// The bus library decides its profile's place once per process: the first test that makes
    /// bus calls decides it for the process.
    static inline bool busCallsInThisProcess = false;
};

// The daemon's side of tasks that take `taskMs` each; `closedAfter` receives, per connection,
// how long after its execute request the client went away (when it did so before answering).
DaemonDouble::Script tasksTaking(int taskMs, std::vector<long>& closedAfter)
{
    return [taskMs, &closedAfter](DaemonConnection& c, int) {
        if (!k8test::openAndAwaitExecute(c, 7))
            return;
        const auto start = Clock::now();
        c.waitForClose(taskMs); // the task runs; a client that leaves ends it
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (waited < taskMs - 50) {
            closedAfter.push_back(static_cast<long>(waited));
            return;
        }
        k8test::endTaskWell(c, 7);
    };
}

TEST_F(BusTaskProgram, TimerKeepsTickingWhileATwoSecondTaskRuns)
{
    std::vector<long> closedAfter;
    const auto daemon = startDaemon(tasksTaking(2000, closedAfter));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    QElapsedTimer took;
    took.start();
    bool ok = false;
    app->options().BusAndTask("LUNGO", "A=1", ok);
    timer.stop();
    EXPECT_TRUE(ok);
    EXPECT_GE(took.elapsed(), 1900);
    // About forty ticks of 50 ms in two seconds; a blocked window gets none.
    EXPECT_GE(ticks, 20) << "in " << took.elapsed() << " ms";
    EXPECT_FALSE(hasLine("Errore durante la fase di Bus&Task"));
    const auto got = daemon->received();
    ASSERT_EQ(got.size(), 3u); // open, execute, end
    EXPECT_EQ(got[1].params[2], "LUNGO");
}

TEST_F(BusTaskProgram, StopDuringATaskEndsTheStep)
{
    std::vector<long> closedAfter; // written by the daemon's thread until the daemon is gone
    auto daemon = startDaemon(tasksTaking(8000, closedAfter));
    bool stopped = false;
    // The operator presses Stop once the task is under way (the daemon has its request).
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto got = daemon->received();
        if (stopped || got.size() < 2)
            return;
        auto* stop = app->runWindow().findChild<QToolButton*>("cmdStop");
        ASSERT_TRUE(stop->isEnabled());
        stop->click();
        stopped = true;
    });
    watch.start(20);
    QElapsedTimer took;
    took.start();
    app->runWindow().run().executeXmlClicked(false);
    watch.stop();
    EXPECT_TRUE(stopped);
    EXPECT_LT(took.elapsed(), 4000); // the task alone would take eight seconds
    EXPECT_TRUE(hasLine("Errore durante la fase di Bus&Task"));
    EXPECT_TRUE(hasLine("Elaborazione eseguita con errori: verificare i risultati"));
    EXPECT_FALSE(hasLine("Elaborazione eseguita correttamente"));
    // The daemon saw its client leave in the middle of the task, and the step's second task
    // (A=2) was never started.
    const auto got = daemon->received();
    EXPECT_EQ(daemon->connections(), 1);
    daemon.reset(); // its thread has finished with the connection
    ASSERT_EQ(closedAfter.size(), 1u);
    EXPECT_LT(closedAfter[0], 3000);
    int executes = 0;
    for (const auto& r : got)
        executes += r.type == 1 ? 1 : 0;
    EXPECT_EQ(executes, 1);
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_F(BusTaskProgram, DaemonThatStopsAnsweringCostsEachItemOneBound)
{
    // Every bus wait of the program's thread is bounded by the profile's 2 s. The profile's place
    // is fixed once per process, and a 2 s bound would cut the other tests' tasks short: this
    // test needs a process of its own, as CTest gives each test.
    if (busCallsInThisProcess || GTEST_FLAG_GET(shuffle) || GTEST_FLAG_GET(repeat) != 1)
        GTEST_SKIP() << "needs a process of its own (the bus profile's place is fixed once per process)";
    zs::test::writeFile(env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=2\n");
    auto daemon = startDaemon([](DaemonConnection& c, int) {
        if (!c.next())
            return;
        c.send(Reply(2).info(1, 0, 7));
        if (c.next())
            c.waitForClose(20000); // the task never ends; the client leaving ends the connection
    });
    QElapsedTimer took;
    took.start();
    app->runWindow().run().executeXmlClicked(false);
    const qint64 ms = took.elapsed();
    // Each of the two items waits the bound once for its task; ending the session out of step
    // with the daemon does not wait again.
    EXPECT_GE(ms, 2 * 2000 - 100);
    EXPECT_LT(ms, 2 * 2000 + 2500);
    QTreeWidgetItem* failure = line("Errore durante la fase di Bus&Task");
    ASSERT_NE(failure, nullptr);
    // The time-out as the operator reads it: the wait for the reply ran out (10060).
    EXPECT_NE(failure->text(0).toStdString().find("LastErr:  5 Stat:  5 Reason: 10060 SubError: 0"), std::string::npos)
        << failure->text(0).toStdString();
    EXPECT_TRUE(hasLine("Elaborazione eseguita con errori: verificare i risultati"));
    const auto got = daemon->received();
    daemon.reset();
    int executes = 0, ends = 0;
    for (const auto& r : got) {
        executes += r.type == 1 ? 1 : 0;
        ends += r.type == 2 ? 1 : 0;
    }
    EXPECT_EQ(executes, 2); // both items were tried, each on a session of its own
    EXPECT_EQ(ends, 0);     // nothing more was sent on a connection out of step
}

TEST_F(BusTaskProgram, AfterARefusedScreenRequestTheNextItemStartsWithoutWaitingABound)
{
    // The bound is 5 s here, and the profile's place is fixed once per process: this test needs
    // a process of its own, as CTest gives each test.
    if (busCallsInThisProcess || GTEST_FLAG_GET(shuffle) || GTEST_FLAG_GET(repeat) != 1)
        GTEST_SKIP() << "needs a process of its own (the bus profile's place is fixed once per process)";
    zs::test::writeFile(env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=5\n");
    // The first item's task asks for a screen in GUI mode, which has no client here, and then
    // runs on silently at the daemon; the second item's task answers at once.
    auto daemon = startDaemon([](DaemonConnection& c, int index) {
        if (!k8test::openAndAwaitExecute(c, 7))
            return;
        if (index > 0)
            return k8test::endTaskWell(c, 7);
        c.send(Reply(3).info(1, 0, 7).array({"2323", "Y"}));
        c.waitForClose(20000);
    });
    QElapsedTimer took;
    took.start();
    app->runWindow().run().executeXmlClicked(false);
    EXPECT_LT(took.elapsed(), 2500); // closing the first item's session would have waited 5 s
    QTreeWidgetItem* failure = line("Errore durante la fase di Bus&Task");
    ASSERT_NE(failure, nullptr);
    EXPECT_NE(failure->text(0).toStdString().find("LastErr:  101 Stat:  101 Reason: 0 SubError: 0"), std::string::npos)
        << failure->text(0).toStdString();
    EXPECT_TRUE(hasLine("Elaborazione eseguita con errori: verificare i risultati"));
    const auto got = daemon->received();
    const int connections = daemon->connections();
    daemon.reset();
    std::vector<int> types;
    for (const auto& r : got)
        types.push_back(r.type);
    // Item one: open and execute, then nothing on its session; item two: open, execute, end.
    EXPECT_EQ(types, (std::vector<int>{0, 1, 0, 1, 2}));
    EXPECT_EQ(connections, 2);
}

TEST_F(BusTaskProgram, ATaskStreamingReportOutputForThreeBoundsEndsGreen)
{
    // The bound is 1 s here, and the profile's place is fixed once per process: this test needs
    // a process of its own, as CTest gives each test.
    if (busCallsInThisProcess || GTEST_FLAG_GET(shuffle) || GTEST_FLAG_GET(repeat) != 1)
        GTEST_SKIP() << "needs a process of its own (the bus profile's place is fixed once per process)";
    zs::test::writeFile(env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=1\n");
    // Each session: its requests and what the daemon did, in order (read once the daemon is gone).
    std::vector<std::vector<std::string>> sessions;
    auto daemon = startDaemon([&sessions](DaemonConnection& c, int) {
        std::vector<std::string>& seen = sessions.emplace_back();
        auto request = [&] {
            const auto r = c.next();
            seen.push_back(!r ? "gone" : r->type == 0 ? "open" : r->type == 1 ? "execute" : r->type == 2 ? "end" : "?");
            return r.has_value();
        };
        if (!request())
            return;
        c.send(Reply(2).info(1, 0, 7));
        if (!request())
            return;
        // The task: report output for three seconds, a line every 0.3 s, then its status.
        const int port = c.listenForOutput();
        c.send(Reply(4).info(1, 0, 7).array({std::to_string(port), "3"}));
        if (!c.acceptOutput())
            return;
        for (int i = 1; i <= 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            c.sendOutput(k8test::reportLine(0, 1, "Riga " + std::to_string(i)));
        }
        c.closeOutput();
        c.send(Reply(0).info(1, 0, 7).num(0).num(0).num(0).list({{"ESITO", "ok"}}));
        seen.push_back("status");
        if (request())
            c.send(Reply(1).info(1, 0, 7).num(0));
        c.waitForClose(2000);
    });

    // The options dialog's task call.
    QElapsedTimer took;
    took.start();
    bool ok = false;
    app->options().BusAndTask("LUNGO", "A=1", ok);
    EXPECT_TRUE(ok);
    EXPECT_GE(took.elapsed(), 2900);
    // A run whose BUSANDTASK step runs the task twice (A=1, A=2).
    app->runWindow().run().executeXmlClicked(false);
    expectTheTaskStepGreen();

    daemon.reset(); // its thread has finished with the sessions
    // Three sessions, each ended by the client after its task's status.
    const std::vector<std::string> whole = {"open", "execute", "status", "end"};
    ASSERT_EQ(sessions.size(), 3u);
    for (const auto& seen : sessions)
        EXPECT_EQ(seen, whole);
}

TEST_F(BusTaskProgram, ATaskThatNeedsAScreenForLongerThanTheBoundEndsGreen)
{
    // The bound is 2 s here, and the profile's place is fixed once per process: this test needs a
    // process of its own, as CTest gives each test.
    if (busCallsInThisProcess || GTEST_FLAG_GET(shuffle) || GTEST_FLAG_GET(repeat) != 1)
        GTEST_SKIP() << "needs a process of its own (the bus profile's place is fixed once per process)";
    zs::test::writeFile(env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=2\n");
    const test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", std::string(ZS_TERMINAL_STANDIN) + " %s %d");
    const test::ScopedEnvVar display("DISPLAY", ":99"); // where the terminal client would show
    // Per session: how many of the 17 prompts of its 5 s terminal dialogue were answered.
    std::vector<int> answered;
    auto daemon = startDaemon([&answered](DaemonConnection& c, int) {
        if (!k8test::openAndAwaitExecute(c, 7))
            return;
        const int port = c.listenForTerminal();
        c.send(Reply(3).info(1, 0, 7).array({std::to_string(port), "N"}));
        if (!c.acceptTerminal())
            return;
        int& got = answered.emplace_back(0);
        for (int i = 1; i <= 17; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5000 / 17));
            const std::string field = "Campo " + std::to_string(i);
            got += c.prompt(field) == "ok:" + field ? 1 : 0;
        }
        c.closeTerminal();
        k8test::endTaskWell(c, 7);
    });
    QElapsedTimer took;
    took.start();
    app->runWindow().run().executeXmlClicked(false);
    EXPECT_GE(took.elapsed(), 2 * 5000 - 200);
    expectTheTaskStepGreen();
    daemon.reset();                                  // its thread has finished with the sessions
    EXPECT_EQ(answered, (std::vector<int>{17, 17})); // both items, A=1 and A=2
}

TEST_F(BusTaskProgram, AFailingTaskShowsItsStepAsFailed)
{
    // The daemon opens the session, then ends the task with kernel status 5, reason 12,
    // sub-error -1.
    const auto daemon = startDaemon([](DaemonConnection& c, int) {
        if (!c.next())
            return;
        c.send(Reply(2).info(1, 0, 7));
        if (!c.next())
            return;
        c.send(Reply(0).info(1, 0, 7).num(5).num(12).num(-1));
        if (c.next())
            c.send(Reply(1).info(1, 0, 7).num(0));
        c.waitForClose(2000);
    });
    app->runWindow().run().executeXmlClicked(false);

    QTreeWidgetItem* failure = line("Errore durante la fase di Bus&Task");
    ASSERT_NE(failure, nullptr);
    ASSERT_NE(failure->parent(), nullptr) << "the failure is a line of its step";
    EXPECT_NE(failure->text(0).toStdString().find("LastErr:"), std::string::npos);
    EXPECT_EQ(failure->foreground(0).color(), QColor(255, 0, 0));
    EXPECT_EQ(failure->data(0, LogTreeView::kImageRole).toInt(), static_cast<int>(LogImage::Error));
    // The step's own line is red with the error image, and so are the run's failure and end lines.
    QTreeWidgetItem* step = failure->parent();
    EXPECT_EQ(step->foreground(0).color(), QColor(255, 0, 0)) << step->text(0).toStdString();
    EXPECT_EQ(step->data(0, LogTreeView::kImageRole).toInt(), static_cast<int>(LogImage::Error));
    EXPECT_TRUE(hasLine("Elaborazione eseguita con errori: verificare i risultati"));
    EXPECT_FALSE(hasLine("Elaborazione eseguita correttamente"));
    // The day log has the failure as error lines.
    const std::string day = zs::test::readFile(app->log().dayLog().currentFile());
    EXPECT_NE(day.find(":ERRORE  Errore durante la fase di Bus&Task"), std::string::npos) << day;
    EXPECT_TRUE(shown.empty()) << shown.front();
}

} // namespace
} // namespace zs::shell
