// Remote assistance from the assembled program: a server that cannot start, and a real x11vnc
// that connects back to the support's viewers and listens on no port of its own.

#include "ProgramUseSupport.h"

#include "shell/qt/frmSchedulazione.h"
#include "shell/run/SupportOnline.h"
#include "testsupport/Loopback.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <thread>

namespace zs::shell {
namespace {

// --- Remote assistance -----------------------------------------------------------------------

TEST_F(ProgramInUse, AnAssistanceServerThatCannotStartGivesTheErrorAndNoNotice)
{
    struct Case {
        const char* name;
        const char* winvnc; // the program folder's server; none: x11vnc without a display
        bool script;
    } cases[] = {{"not a program",
                  "\x7f"
                  "ELF but not really",
                  false},
                 {"ends with an error when started", "#!/bin/sh\n[ \"$1\" = -run ] && exit 1\nexit 0\n", true},
                 {"x11vnc without a display", nullptr, false}};
    create();
    ASSERT_TRUE(app->load());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        shown.clear();
        fs::remove(home / "winvnc.exe");
        std::optional<test::ScopedEnvVar> noDisplay;
        if (c.winvnc) {
            test::writeFile(home / "winvnc.exe", c.winvnc);
            fs::permissions(home / "winvnc.exe", fs::perms::owner_all);
        } else {
            if (!process::findProgram("x11vnc"))
                continue;
            noDisplay.emplace("DISPLAY", std::nullopt);
        }
        app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbAssistenza")->model().click();
        noDisplay.reset();
        EXPECT_EQ(shown, std::vector<std::string>{SupportOnline::kMissingText});
        EXPECT_FALSE(app->alert().isVisible());
        EXPECT_EQ(app->support().serverPid(), 0);
        EXPECT_NE(dayLogText(*app).find("Assistenza online non avviata: "), std::string::npos);
    }
}

/// Listens on 127.0.0.1 for one VNC viewer connection and keeps the server's greeting.
struct ViewerStub {
    ViewerStub()
    {
        if (!listener.ok())
            return;
        port = listener.port();
        reader = std::thread([this] {
            pollfd p{listener.fd(), POLLIN, 0};
            if (::poll(&p, 1, 60000) != 1)
                return;
            const int c = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            char buf[12];
            std::size_t got = 0;
            pollfd q{c, POLLIN, 0};
            while (got < sizeof buf && ::poll(&q, 1, 20000) == 1) {
                const ssize_t n = ::read(c, buf + got, sizeof buf - got);
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            std::lock_guard lock(m);
            greeting.assign(buf, got);
            ::close(c);
        });
    }
    ~ViewerStub()
    {
        if (reader.joinable())
            reader.join();
    }
    std::string received()
    {
        std::lock_guard lock(m);
        return greeting;
    }
    test::LoopbackSocket listener;
    int port = 0;
    std::thread reader;
    std::mutex m;
    std::string greeting;
};

/// The inodes of the listening TCP sockets of the system (IPv4 and IPv6).
std::set<std::string> listeningInodes()
{
    std::set<std::string> out;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // header
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string sl, local, remote, state, queues, timer, retr, uid, timeout, inode;
            f >> sl >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >> inode;
            if (state == "0A")
                out.insert(inode);
        }
    }
    return out;
}

/// The socket inodes a process holds.
std::set<std::string> socketsOf(pid_t pid)
{
    std::set<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(e.path(), ec).string();
        if (target.rfind("socket:[", 0) == 0)
            out.insert(target.substr(8, target.size() - 9));
    }
    return out;
}

TEST_F(ProgramInUse, AssistanceWithX11vncConnectsBackAndListensOnNoPort)
{
    if (!process::findProgram("x11vnc"))
        GTEST_SKIP() << "x11vnc is not installed";
    ScopedXvfb x(env.root());
    if (x.display.empty())
        GTEST_SKIP() << "no X server could be started";
    const test::ScopedEnvVar display("DISPLAY", x.display);

    ViewerStub support, fallback;
    ASSERT_GT(support.port, 0);
    ASSERT_GT(fallback.port, 0);
    addSetting(home, "<vnchost>127.0.0.1:" + std::to_string(support.port) + "</vnchost>");
    ShellApplication::Options o;
    o.supportHosts.fallback = "127.0.0.1:" + std::to_string(fallback.port);
    create(o); // real waits: the real server takes real time
    ASSERT_TRUE(app->load());
    ASSERT_FALSE(fs::exists(home / "winvnc.exe"));

    app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbAssistenza")->model().click();
    EXPECT_TRUE(shown.empty()) << shown.front() << "\n" << dayLogText(*app);
    EXPECT_TRUE(app->alert().isVisible());
    const pid_t pid = app->support().serverPid();
    ASSERT_GT(pid, 0);
    QElapsedTimer t;
    t.start();
    while ((support.received().empty() || fallback.received().empty()) && t.elapsed() < 30000)
        QThread::msleep(20);
    EXPECT_EQ(support.received().substr(0, 4), "RFB ");
    EXPECT_EQ(fallback.received().substr(0, 4), "RFB ");

    // No port of its own: none of the server's sockets listens.
    const auto listening = listeningInodes();
    const auto own = socketsOf(pid);
    for (const auto& inode : own)
        EXPECT_EQ(listening.count(inode), 0u) << "x11vnc listens on socket inode " << inode;

    app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbStopAssistenza")->model().click();
    EXPECT_EQ(app->support().serverPid(), 0);
    EXPECT_NE(::kill(pid, 0), 0); // ended and reaped
    EXPECT_EQ(app->alert().text(), SupportOnline::kStopText);

    // Started again, it ends with the program.
    app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbAssistenza")->model().click();
    const pid_t again = app->support().serverPid();
    EXPECT_GT(again, 0);
    app->ChiudiApplicazione();
    EXPECT_NE(::kill(again, 0), 0);
}

} // namespace
} // namespace zs::shell
