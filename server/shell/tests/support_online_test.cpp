// Remote assistance over a real program: a recording program stands in for the VNC server in
// the program folder and is started with an argv, never through a shell.

#include "ArgvRecording.h"

#include "process/Process.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "shell/run/SupportOnline.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace zs::shell {

// The foundation's names used here.
using program::MessageIcon;
namespace {

namespace fs = std::filesystem;

using zs::test::RecordingMessages;

struct RecordingNotice : AlertNotice {
    void setBackground(int r, int g, int b) override
    {
        calls.push_back("colour " + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b));
    }
    void ShowMessage(const std::string& text) override { calls.push_back("show " + text); }
    void StartTimer(int seconds) override { calls.push_back("timer " + std::to_string(seconds)); }
    void hide() override { calls.push_back("hide"); }
    std::vector<std::string> calls;
};

struct SupportOnlineTest : ::testing::Test {
    void SetUp() override
    {
        fs::create_directories(folder);
        fs::create_directories(emptyBin);
    }
    void installServer(const std::string& name) { test::installArgvRecorder(folder, name); }
    std::unique_ptr<SupportOnline> make()
    {
        return std::make_unique<SupportOnline>(
            folder, messages, notice,
            [this](int ms) {
                pauses.push_back(ms);
                if (ms >= 1000)
                    zs::test::awaitRecordedCalls(folder / "calls.txt", pauses.size());
            },
            [this](const std::string& why) { reported.push_back(why); }, SupportOnline::Hosts{});
    }
    std::vector<std::string> calls() { return test::recordedCalls(folder / "calls.txt"); }

    test::ScopedTestEnv env;
    fs::path folder = env.home();
    // PATH holds an empty folder only, so no x11vnc of the machine stands in for the missing one.
    fs::path emptyBin = env.root() / "emptybin";
    test::ScopedEnvVar path{"PATH", emptyBin.string()};
    RecordingMessages messages;
    RecordingNotice notice;
    std::vector<int> pauses;
    std::vector<std::string> reported;
};

TEST_F(SupportOnlineTest, StartKillsRunsAndConnectsToTheHostThenToTheFallback)
{
    struct Case {
        const char* name;
        const char* program;
        const char* vnchost;
        const char* connected;
    } cases[] = {{"empty vnchost", "winvnc.exe", "", SupportOnline::kDefaultHost},
                 {"vnchost names a host", "winvnc.exe", "help.customer.example", "help.customer.example"},
                 {"a blank is a host", "winvnc", " ", " "},
                 {"without .exe", "winvnc", "10.0.0.7", "10.0.0.7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(folder / "winvnc.exe"), fs::remove(folder / "winvnc"), fs::remove(folder / "calls.txt");
        notice.calls.clear(), pauses.clear();
        installServer(c.program);
        make()->StartSupportOnline(c.vnchost);
        const std::string p = c.program;
        EXPECT_EQ(calls(), (std::vector<std::string>{p + " <-kill>", p + " <-run> <-autoreconnect>",
                                                     p + " <-connect> <" + c.connected + ">",
                                                     p + " <-connect> <" + SupportOnline::kFallbackHost + ">"}));
        EXPECT_EQ(pauses, (std::vector<int>{1000, 1000, 0, 0}));
        EXPECT_EQ(notice.calls,
                  (std::vector<std::string>{"colour 255,200,200", std::string("show ") + SupportOnline::kStartText}));
        EXPECT_TRUE(messages.shown.empty());
    }
}

TEST_F(SupportOnlineTest, ASecondStartKillsTheRunningServerFirst)
{
    installServer("winvnc.exe");
    auto support = make();
    support->StartSupportOnline("");
    support->StartSupportOnline("");
    const auto c = calls();
    ASSERT_EQ(c.size(), 8u);
    EXPECT_EQ(c[4], "winvnc.exe <-kill>");
}

TEST_F(SupportOnlineTest, StopKillsTheServerAndShowsTheClosingNoticeWithItsCountdown)
{
    installServer("winvnc.exe");
    make()->StopSupportOnline();
    EXPECT_EQ(calls(), (std::vector<std::string>{"winvnc.exe <-kill>"}));
    EXPECT_EQ(notice.calls, (std::vector<std::string>{"hide", "colour 224,255,239",
                                                      std::string("show ") + SupportOnline::kStopText, "timer 300"}));
}

TEST_F(SupportOnlineTest, WithoutTheServerStartSaysSoAndStopSaysNothing)
{
    // A file of that name that cannot run is no server either.
    test::writeFile(folder / "winvnc.exe", "not a program");
    fs::permissions(folder / "winvnc.exe", fs::perms::owner_read | fs::perms::owner_write);
    auto support = make();
    EXPECT_FALSE(support->vncServer());
    support->StartSupportOnline("help.customer.example");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "Attenzione.");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(messages.shown[0].text,
              "Impossibile richiedere l'assistenza online perchè non è installato il componente necessario.");
    support->StopSupportOnline();
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(notice.calls.empty());
    EXPECT_TRUE(pauses.empty());
    EXPECT_TRUE(calls().empty());
}

TEST_F(SupportOnlineTest, AServerOfTheFolderThatCannotRunIsReportedNotReplacedByX11vnc)
{
    // The machine has an x11vnc, but the folder names its own server, which cannot run.
    test::installArgvRecorder(emptyBin, "x11vnc");
    for (const std::string name : {"winvnc.exe", "winvnc"}) {
        SCOPED_TRACE(name);
        messages.shown.clear();
        reported.clear();
        test::writeFile(folder / name, "not a program");
        fs::permissions(folder / name, fs::perms::owner_read | fs::perms::owner_write);
        auto support = make();
        EXPECT_FALSE(support->vncServer());
        support->StartSupportOnline("help.customer.example");
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].title, "Attenzione.");
        EXPECT_EQ(messages.shown[0].text, SupportOnline::kMissingText);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0],
                  "Assistenza online non avviata: " + name + " nella cartella del programma non e' eseguibile");
        EXPECT_TRUE(notice.calls.empty());
        EXPECT_TRUE(test::recordedCalls(emptyBin / "calls.txt").empty()) << "x11vnc was started";
        fs::remove(folder / name);
    }

    // Once the folder's server can run, it is the one started.
    installServer("winvnc.exe");
    messages.shown.clear();
    make()->StartSupportOnline("help.customer.example");
    EXPECT_TRUE(messages.shown.empty());
    ASSERT_FALSE(calls().empty());
    EXPECT_EQ(calls().front(), "winvnc.exe <-kill>");
    EXPECT_TRUE(test::recordedCalls(emptyBin / "calls.txt").empty());
}

} // namespace
} // namespace zs::shell
