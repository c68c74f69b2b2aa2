// A BUSANDTASK step through the zs-extract driver, as cron runs it: no display, no terminal, the
// logins from zentrikServer.xml, the bus daemon double on 127.0.0.1 (named as the default port in
// K8BUS_DEFAULT_PORT). A task that asks for a screen fails with the bus library's code, and the
// step's next task starts at once on a session of its own.

#include "DaemonDouble.h"
#include "ExtractDriver.h"
#include "program/PasswordCodec.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;
using Clock = std::chrono::steady_clock;

struct BusFolder {
    BusFolder()
    {
        home = env.home();
        zs::test::writeFile(home / "vendite.mdb", "");
        writeAccessSettings(home, home / "vendite.mdb");
        const std::string settings = zs::test::readFile(home / "zentrikServer.xml");
        const std::string logins = "<BusAndTask computer=\"127.0.0.1\" systemUserID=\"sys\" systemPassword=\"" +
                                   program::CodificaPassword("spw") + "\" operatorUserID=\"oper\" operatorPassword=\"" +
                                   program::CodificaPassword("opw") + "\" coDiv=\"01\"/>";
        zs::test::writeFile(home / "zentrikServer.xml",
                            settings.substr(0, settings.rfind("</zentrikServer>")) + logins + "</zentrikServer>");
        zs::test::writeFile(home / "zentrikLoading.xml",
                            "<?xml version=\"1.0\"?><Estrattore><BUSANDTASK><esegui>si</esegui>"
                            "<operazione>Task del bus</operazione><query>LUNGO</query><query>A=1</query>"
                            "<query>A=2</query></BUSANDTASK></Estrattore>");
        // The bus trace and profile stay in the test's folder; the bound is 5 s.
        run = env.root() / "run";
        fs::create_directories(run);
        ::chmod(run.c_str(), 0700);
        zs::test::writeFile(env.root() / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=5\n");
    }
    /// zs-extract as cron starts it: a session of its own (no terminal), no display.
    process::RunResult extract(int port) const
    {
        process::RunOptions options;
        options.captureOutput = true;
        options.timeLimit = std::chrono::seconds(60);
        options.extraEnvironment = {"K8BUS_DEFAULT_PORT=" + std::to_string(port),
                                    "DISPLAY=", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=" + run.string(),
                                    "WINDIR=" + env.root().string()};
        return process::run({"/usr/bin/setsid", "-w", ZS_EXTRACT_PATH, home.string()}, options);
    }
    std::string dayLog() const
    {
        std::string all;
        for (const auto& e : fs::directory_iterator(home / "log"))
            if (e.path().extension() == ".log")
                all += zs::test::readFile(e.path());
        return all;
    }
    zs::test::ScopedTestEnv env;
    fs::path home, run;
};

std::string taskOf(const k8test::Request& r)
{
    return r.params.size() > 2 ? r.params[2] : std::string();
}

TEST(BusTaskExtraction, ABusAndTaskStepRunsHeadless)
{
    BusFolder f;
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (k8test::openAndAwaitExecute(c, 7))
            k8test::endTaskWell(c, 7);
    });
    const auto result = f.extract(daemon.port());
    EXPECT_EQ(result.exitCode, 0) << result.output;
    const std::string log = f.dayLog();
    EXPECT_NE(log.find("Task del bus"), std::string::npos) << log;
    EXPECT_NE(log.find("Estrazione terminata con successo."), std::string::npos) << log;
    EXPECT_EQ(log.find("Passo non disponibile"), std::string::npos) << log;
    EXPECT_EQ(log.find("ERRORE"), std::string::npos) << log;
    // Two sessions, each opened with the settings' logins, ran LUNGO and were ended.
    const auto got = daemon.received();
    ASSERT_EQ(got.size(), 6u);
    for (std::size_t i = 0; i < got.size(); i += 3) {
        EXPECT_EQ(got[i].type, 0);
        const auto user = k8test::openCredentialBlock(got[i].params.at(2));
        ASSERT_TRUE(user);
        EXPECT_EQ(*user, (std::vector<std::string>{"sys", "spw"}));
        EXPECT_EQ(got[i + 1].type, 1);
        EXPECT_EQ(taskOf(got[i + 1]), "LUNGO");
        const auto oper = k8test::openCredentialBlock(got[i + 1].params.at(1));
        ASSERT_TRUE(oper);
        EXPECT_EQ(*oper, (std::vector<std::string>{"oper", "01", "opw"}));
        EXPECT_EQ(got[i + 2].type, 2);
    }
}

TEST(BusTaskExtraction, ATaskAskingForAScreenFailsWithoutADisplayAndTheNextTaskStartsAtOnce)
{
    BusFolder f;
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!k8test::openAndAwaitExecute(c, 7))
            return;
        // The task waits for an operator at a terminal, and the kernel says nothing meanwhile.
        const int port = c.listenForTerminal();
        c.send(Reply(3).info(1, 0, 7).array({std::to_string(port), "N"}));
        c.waitForClose(20000);
    });
    const auto start = Clock::now();
    const auto result = f.extract(daemon.port());
    // Neither task waits for the 5 s bound: each fails at the screen request, its session ended.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    const std::string log = f.dayLog();
    EXPECT_NE(log.find("Errore durante la fase di Bus&Task"), std::string::npos) << log;
    EXPECT_NE(log.find("LastErr:  45 Stat:  45 Reason: 6 SubError: 0"), std::string::npos) << log;
    EXPECT_NE(log.find("Estrazione terminata con errori."), std::string::npos) << log;
    const std::string trace = zs::test::readFile(f.run / "k8bus.log");
    EXPECT_NE(trace.find("failed to start client program: no display and no terminal for command line 'telnet "
                         "127.0.0.1 "),
              std::string::npos)
        << trace;
    int executes = 0, ends = 0;
    for (const auto& r : daemon.received()) {
        executes += r.type == 1 ? 1 : 0;
        ends += r.type == 2 ? 1 : 0;
    }
    EXPECT_EQ(executes, 2); // both tasks, each on a session of its own
    EXPECT_EQ(ends, 0);     // nothing more on a session out of step
    EXPECT_EQ(daemon.connections(), 2);
}

} // namespace
} // namespace zs::engine::test
