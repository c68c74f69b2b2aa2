// The installed program: started for an ordinary user on a program folder of its own, its
// windows clicked with the real pointer of an X display.

#include "ProgramUseSupport.h"

#include "dialogs/core/WizardModel.h"
#include "dialogs/qt/WizardWindow.h"
#include "shell/qt/QtServices.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <optional>
#include <pwd.h>
#include <regex>
#include <sys/stat.h>

namespace zs::shell {
namespace {

// --- The installed program ---------------------------------------------------------------------

#if defined(ZS_BUILD_DIR) && defined(ZS_CMAKE_COMMAND)
/// Presses the mouse's first button at a point of an X display, as the operator does (the XTest
/// extension of the server, through the X library loaded when needed).
class XPointer {
  public:
    explicit XPointer(const std::string& display)
    {
        m_x11 = ::dlopen("libX11.so.6", RTLD_NOW);
        m_xtst = ::dlopen("libXtst.so.6", RTLD_NOW);
        if (!m_x11 || !m_xtst)
            return;
        open = reinterpret_cast<OpenFn>(::dlsym(m_x11, "XOpenDisplay"));
        flush = reinterpret_cast<DisplayFn>(::dlsym(m_x11, "XFlush"));
        closeDisplay = reinterpret_cast<DisplayFn>(::dlsym(m_x11, "XCloseDisplay"));
        motion = reinterpret_cast<MotionFn>(::dlsym(m_xtst, "XTestFakeMotionEvent"));
        button = reinterpret_cast<ButtonFn>(::dlsym(m_xtst, "XTestFakeButtonEvent"));
        if (open && flush && closeDisplay && motion && button)
            m_display = open(display.c_str());
    }
    ~XPointer()
    {
        if (m_display)
            closeDisplay(m_display);
        if (m_xtst)
            ::dlclose(m_xtst);
        if (m_x11)
            ::dlclose(m_x11);
    }
    bool ok() const { return m_display != nullptr; }
    void click(QPoint at)
    {
        motion(m_display, -1, at.x(), at.y(), 0);
        flush(m_display);
        QThread::msleep(100);
        button(m_display, 1, 1, 0);
        flush(m_display);
        QThread::msleep(50);
        button(m_display, 1, 0, 0);
        flush(m_display);
    }

  private:
    using OpenFn = void* (*)(const char*);
    using DisplayFn = int (*)(void*);
    using MotionFn = int (*)(void*, int, int, int, unsigned long);
    using ButtonFn = int (*)(void*, unsigned, int, unsigned long);
    void* m_x11 = nullptr;
    void* m_xtst = nullptr;
    void* m_display = nullptr;
    OpenFn open = nullptr;
    DisplayFn flush = nullptr;
    DisplayFn closeDisplay = nullptr;
    MotionFn motion = nullptr;
    ButtonFn button = nullptr;
};

/// The top-left corner of a window of the display, found by its title; none while it is not shown.
std::optional<QPoint> windowCorner(const std::string& display, const std::string& title)
{
    process::RunOptions q;
    q.captureOutput = true;
    const std::string out = process::run({"xwininfo", "-display", display, "-name", title}, q).output;
    std::smatch x, y;
    if (out.find("IsViewable") == std::string::npos ||
        !std::regex_search(out, x, std::regex(R"(Absolute upper-left X:\s+(-?\d+))")) ||
        !std::regex_search(out, y, std::regex(R"(Absolute upper-left Y:\s+(-?\d+))")))
        return std::nullopt;
    return QPoint(std::stoi(x[1].str()), std::stoi(y[1].str()));
}

TEST_F(ProgramInUse, TheInstalledProgramStartsForAnOrdinaryUserOnAFolderOfItsOwn)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: the prefix is root's and the program runs as another user";
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || !process::findProgram("setpriv") || !process::findProgram("xwininfo"))
        GTEST_SKIP() << "needs the user nobody, setpriv and xwininfo";
    ScopedXvfb x(env.root());
    if (x.display.empty())
        GTEST_SKIP() << "no X server could be started";

    // A prefix that only root may write, as /usr/local or /opt are.
    test::TempDir prefix;
    ASSERT_EQ(::chmod(prefix.path().c_str(), 0755), 0);
    process::RunOptions install;
    install.captureOutput = true;
    const auto installed =
        process::run({ZS_CMAKE_COMMAND, "--install", ZS_BUILD_DIR, "--prefix", prefix.path().string()}, install);
    ASSERT_EQ(installed.exitCode, 0) << installed.output;
    const fs::path program = prefix / "bin/ZentrikServer";
    ASSERT_TRUE(fs::exists(program));
    const std::string entry = test::readFile(prefix / "share/applications/zentrik-server.desktop");
    EXPECT_NE(entry.find("Exec=\"" + program.string() + "\"\n"), std::string::npos) << entry;

    // A user with a fresh home and no ZENTRIK_HOME starts it as the menu entry does.
    const fs::path userHome = env.root() / "nobody-home";
    fs::create_directories(userHome);
    ASSERT_EQ(::chown(userHome.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(env.root().c_str(), 0755), 0);
    process::ChildProcess server;
    process::ChildOptions o;
    o.outputFile = (env.root() / "installed.txt").string();
    o.removeEnvironment = {"ZENTRIK_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
    // The X platform plugin's D-Bus library keeps memory to the end of the process: a build
    // with the leak checker must not fail the program's exit status for it.
    o.extraEnvironment = {"HOME=" + userHome.string(), "DISPLAY=" + x.display, "QT_QPA_PLATFORM=xcb",
                          "ASAN_OPTIONS=detect_leaks=0:halt_on_error=1"};
    o.workingDirectory = "/";
    ASSERT_TRUE(server.start({"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                              "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", program.string()},
                             o));
    // The configuration wizard appears: no folder error, no end.
    std::optional<QPoint> wizard;
    QElapsedTimer t;
    t.start();
    while (!wizard && server.running() && t.elapsed() < 30000) {
        wizard = windowCorner(x.display, dialogs::kWizardCaption);
        if (!wizard)
            QThread::msleep(50);
    }
    std::string out = fs::exists(o.outputFile) ? test::readFile(o.outputFile) : "";
    ASSERT_TRUE(wizard) << out;
    EXPECT_TRUE(server.running()) << out;
    EXPECT_EQ(out.find("Impossibile usare la cartella"), std::string::npos) << out;
    // Its folder is the user's own, made at the first start.
    const fs::path folder = userHome / ".local/share/ZentrikServer";
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0) << out;
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_TRUE(fs::exists(folder / ".zentrikServer.lock"));
    EXPECT_FALSE(fs::exists(prefix / "bin/.zentrikServer.lock"));

    // The operator goes through the wizard with its proposals and presses Fine. Where its
    // buttons are is taken from the same wizard built here on a folder without settings,
    // walked the same way (which also shows that the walk writes settings).
    std::vector<QPoint> clicks;
    const fs::path mine = env.root() / "walk";
    fs::create_directories(mine);
    {
        ShellApplication::Options here;
        here.programFolder = mine;
        here.executable = mine / "ZentrikServer";
        auto walk = std::make_unique<ShellApplication>(here);
        walk->messages().setHook([this](const QtMessageService::Shown& m) { shown.push_back(m.text); });
        QTimer::singleShot(0, [&] {
            auto& w = walk->wizard();
            for (int step = 0; step < 10; ++step) {
                auto* fine = w.findChild<flatui::FlatButtonWidget*>("flbfine");
                auto* next = fine->isVisible() ? fine : w.findChild<flatui::FlatButtonWidget*>("flbAvanti");
                clicks.push_back(next->mapTo(&w, next->rect().center()));
                next->model().click();
                QCoreApplication::processEvents();
                if (next == fine)
                    break;
            }
        });
        EXPECT_FALSE(walk->load()); // the wizard ends the program
        EXPECT_TRUE(walk->wizard().saved()) << ::testing::PrintToString(shown);
    }
    ASSERT_TRUE(fs::exists(mine / "zentrikServer.xml"));
    ASSERT_FALSE(clicks.empty());

    XPointer pointer(x.display);
    ASSERT_TRUE(pointer.ok());
    for (const QPoint& at : clicks) {
        pointer.click(*wizard + at);
        QThread::msleep(400); // the next page is drawn
    }
    const auto ended = server.waitFor(20000);
    out = fs::exists(o.outputFile) ? test::readFile(o.outputFile) : "";
    EXPECT_EQ(ended, std::optional<int>(0)) << out; // the wizard wrote the settings, the program ends
    // The settings are in the user's folder, the user's own.
    ASSERT_EQ(::stat((folder / "zentrikServer.xml").c_str(), &st), 0) << out;
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_FALSE(fs::exists(prefix / "bin/zentrikServer.xml"));
    server.terminate(1000);
}
#endif

} // namespace
} // namespace zs::shell
