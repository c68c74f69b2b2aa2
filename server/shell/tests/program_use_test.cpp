// The assembled program on a copy of the demo folder, as an operator meets it: how long a run
// took, a scheduled run falling due during a run started by hand, remote assistance with a
// server that cannot start and with a real x11vnc, a program folder that cannot be written,
// a full day-log disk, a desktop without a tray, and saves that keep the file's mode.

#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"

#include "db/Connection.h"
#include "dialogs/core/WizardModel.h"
#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "fs/AtomicFile.h"
#include "fs/OwnedFolder.h"
#include "olap/OlapCatalog.h"
#include "process/ChildProcess.h"
#include "process/Process.h"
#include "program/ProgramLog.h"
#include "scheduler/Operazione.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/run/RunNotification.h"
#include "shell/run/SupportOnline.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/DbRows.h"
#include "testsupport/HostileXml.h"
#include "testsupport/Loopback.h"
#include "testsupport/TestEnv.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef ZS_SERVER_PATH
#error "ZS_SERVER_PATH names the ZentrikServer program"
#endif
#ifndef ZS_EXTRACT_PATH
#error "ZS_EXTRACT_PATH names zs-extract"
#endif

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

/// Adds `xml` before the closing tag of the settings file.
void addSetting(const fs::path& folder, const std::string& xml)
{
    std::string text = test::readFile(folder / "zentrikServer.xml");
    text.insert(text.rfind("</"), xml + "\n");
    test::writeFile(folder / "zentrikServer.xml", text);
}

std::string dayLogText(ShellApplication& app)
{
    const auto file = app.log().dayLog().currentFile();
    return fs::exists(file) ? test::readFile(file) : std::string();
}

std::string dayLogText(const fs::path& folder)
{
    const auto file = program::DayLog(folder, time::systemClock()).currentFile();
    return fs::exists(file) ? test::readFile(file) : std::string();
}

/// A tmpfs of `size` mounted on `where` for the life of the object; root only.
struct ScopedTmpfs {
    ScopedTmpfs(const fs::path& where, const std::string& size)
        : path(where)
    {
        fs::create_directories(where);
        mounted = ::geteuid() == 0 &&
                  process::run({"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", where.string()}).exitCode == 0;
    }
    ~ScopedTmpfs()
    {
        if (mounted)
            (void)process::run({"umount", "-l", path.string()});
    }
    fs::path path;
    bool mounted = false;
};

struct ProgramInUse : test::DemoProgramTest {
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        auto& tree = app->runWindow().tvwLog();
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            out.push_back(tree.topLevelItem(i)->text(0).toStdString());
            for (int k = 0; k < tree.topLevelItem(i)->childCount(); ++k)
                out.push_back("  " + tree.topLevelItem(i)->child(k)->text(0).toStdString());
        }
        return out;
    }
    int countLines(const std::string& prefix)
    {
        int n = 0;
        for (const auto& l : lines())
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    QTreeWidgetItem* topLine(const std::string& prefix)
    {
        auto& tree = app->runWindow().tvwLog();
        // The last such line: a run that processes cubes writes the cubes' own time before the run's.
        for (int i = tree.topLevelItemCount() - 1; i >= 0; --i)
            if (tree.topLevelItem(i)->text(0).toStdString().rfind(prefix, 0) == 0)
                return tree.topLevelItem(i);
        return nullptr;
    }
    void clickRun() { app->runWindow().findChild<flatui::FlatButtonWidget*>("flbExecuteXML")->model().click(); }
};

// --- Run time ------------------------------------------------------------------------------

/// The seconds of a "Tempo impiegato: [m minuti e ]s secondi" line.
double secondsOf(const std::string& line)
{
    std::smatch m;
    if (!std::regex_match(line, m, std::regex(R"(Tempo impiegato: (?:(\d+) minuti e )?([\d,]+) secondi)")))
        return -1;
    std::string rest = m[2].str();
    std::replace(rest.begin(), rest.end(), ',', '.');
    return (m[1].matched ? 60.0 * std::stoi(m[1].str()) : 0.0) + std::stod(rest);
}

TEST_F(ProgramInUse, TheElapsedTimeIsTheWholeRun)
{
    // Every step waits 400 ms before it opens its connection, as a busy server's pause asks.
    addSetting(home, "<pause>400</pause>");
    create();
    ASSERT_TRUE(app->load());
    QElapsedTimer wall;
    wall.start();
    clickRun();
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    ASSERT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(lines());
    const auto* line = topLine("Tempo impiegato");
    ASSERT_NE(line, nullptr);
    const double reported = secondsOf(line->text(0).toStdString());
    EXPECT_GE(seconds, 1.2); // three steps
    EXPECT_NEAR(reported, seconds, 0.1 * seconds) << line->text(0).toStdString();
}

// --- A scheduled run during a run started by hand ------------------------------------------

TEST_F(ProgramInUse, AnAlarmDuringARunByHandWaitsForItsEndAndLeavesItsLogAlone)
{
    addSetting(home, "<pause>1</pause>"); // every step passes through the pause hook
    std::vector<std::string> beforeAlarm;
    int alarms = 0;
    ShellApplication::Options o;
    o.pause = [&](int) {
        // The scheduler falls due while the second step of the run by hand is on its way.
        if (++alarms == 2) {
            beforeAlarm = lines();
            automation::Variant args[] = {automation::Variant(std::string(AlarmHandler::kEstrazione))};
            app->secondaryWindow().CadenzoControl().events().raise(cadenzo::CadenzoControl::kAlarmEvent, args);
        }
        QCoreApplication::processEvents();
    };
    create(o);
    ASSERT_TRUE(app->load());
    clickRun();

    const std::vector<std::string> afterRun = lines();
    ASSERT_FALSE(beforeAlarm.empty());
    for (const auto& l : beforeAlarm)
        EXPECT_NE(std::find(afterRun.begin(), afterRun.end(), l), afterRun.end()) << "lost: " << l;
    EXPECT_EQ(countLines("Operazione pianificata \"Estrazione ed Elaborazione.\" in attesa"), 1)
        << ::testing::PrintToString(afterRun);
    EXPECT_EQ(countLines("Inizio estrazione dati"), 1);
    EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(afterRun);
    EXPECT_EQ(app->secondaryWindow().alarms().waiting(), AlarmHandler::kEstrazione);

    // Once the run by hand has ended, the scheduled run goes, once.
    for (int i = 0; i < 20 && !app->secondaryWindow().alarms().waiting().empty(); ++i)
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(app->secondaryWindow().alarms().waiting(), "");
    EXPECT_FALSE(app->runWindow().run().running());
    const std::string day = dayLogText(*app);
    std::size_t runs = 0;
    for (auto at = day.find("Inizio estrazione dati"); at != std::string::npos;
         at = day.find("Inizio estrazione dati", at + 1))
        ++runs;
    EXPECT_EQ(runs, 2u) << day;
    EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr);
}

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

/// An X server of its own on a free display number, for the VNC server to share.
struct ScopedXvfb {
    ScopedXvfb(const fs::path& dir)
    {
        if (!process::findProgram("Xvfb"))
            return;
        // -displayfd writes the display number it chose once the server is ready.
        process::ChildOptions o;
        o.outputFile = (dir / "xvfb.log").string();
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        // The descriptor number is inherited by the child: no CLOEXEC on the write end.
        if (!server.start(
                {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "640x480x24"}, o)) {
            ::close(fds[0]), ::close(fds[1]);
            return;
        }
        ::close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        char buf[16] = {};
        if (::poll(&p, 1, 20000) == 1 && ::read(fds[0], buf, sizeof buf - 1) > 0)
            display = ":" + std::string(buf).substr(0, std::string(buf).find('\n'));
        ::close(fds[0]);
    }
    process::ChildProcess server;
    std::string display;
};

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

// --- A program folder that cannot be written ---------------------------------------------------

TEST_F(ProgramInUse, AnUnwritableProgramFolderIsNamedNotTakenForAnotherCopy)
{
    const fs::path folder = env.root() / "sola-lettura";
    fs::create_directories(folder);
    fs::copy(ZS_DEMO_DIR, folder, fs::copy_options::recursive);
    ScopedTmpfs readOnly(env.root() / "ro", "1m");
    fs::path programFolder = folder;
    if (::geteuid() == 0) {
        // root writes anywhere a mode allows nothing: a read-only mount stops it.
        if (!readOnly.mounted)
            GTEST_SKIP() << "no tmpfs can be mounted here";
        fs::copy(ZS_DEMO_DIR, readOnly.path, fs::copy_options::recursive);
        ASSERT_EQ(process::run({"mount", "-o", "remount,ro", readOnly.path.string()}).exitCode, 0);
        programFolder = readOnly.path;
    } else {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    process::ChildProcess server;
    process::ChildOptions o;
    o.outputFile = (env.root() / "server.txt").string();
    o.extraEnvironment = {"ZENTRIK_HOME=" + programFolder.string(), "QT_QPA_PLATFORM=offscreen"};
    ASSERT_TRUE(server.start({ZS_SERVER_PATH}, o));
    std::string out;
    QElapsedTimer t;
    t.start();
    while (out.find("ZentrikServer: ") == std::string::npos && server.running() && t.elapsed() < 30000) {
        QThread::msleep(20);
        out = fs::exists(o.outputFile) ? test::readFile(o.outputFile) : "";
    }
    server.terminate(1000); // the message box waits for the operator
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_NE(out.find("Impossibile usare la cartella del programma " + programFolder.string() + ": "),
              std::string::npos)
        << out;
    // The system's reason, in Italian as the rest of the line.
    EXPECT_NE(out.find("File system in sola lettura") == std::string::npos ? out.find("Permesso negato")
                                                                           : out.find("File system in sola lettura"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Un'altra copia"), std::string::npos) << out;
}

// --- A full day-log disk ---------------------------------------------------------------------

TEST_F(ProgramInUse, AFullDayLogDiskGivesOneRedLineAndNoHalfLine)
{
    ScopedTmpfs disk(home / "log", "8k");
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    create();
    // Today's day log leaves room for a line or two, then the disk is full.
    const std::string line = "10/12/2026 01:02:03   :riga di riempimento del log giornaliero\r\n";
    std::string filler;
    while (filler.size() + line.size() < 8192 - 150)
        filler += line;
    test::writeFile(app->log().dayLog().currentFile(), filler);
    ASSERT_TRUE(app->load());
    clickRun();
    clickRun(); // the next run's log reports it again, once

    EXPECT_EQ(countLines("Log giornaliero non aggiornato: "), 1) << ::testing::PrintToString(lines());
    auto* red = topLine("Log giornaliero non aggiornato: ");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->foreground(0).color(), QColor(255, 0, 0));
    EXPECT_NE(red->text(0).toStdString().find("Spazio esaurito sul dispositivo"), std::string::npos);
    const std::string day = dayLogText(*app);
    EXPECT_GT(day.size(), filler.size()); // the lines that fitted went in
    EXPECT_TRUE(day.ends_with("\r\n")) << day.substr(day.size() - 80);
    std::istringstream in(day);
    for (std::string line; std::getline(in, line);)
        EXPECT_TRUE(line.empty() || line.back() == '\r') << "partial line: " << line;
}

// --- Secondary options saved onto a full disk -----------------------------------------------

TEST_F(ProgramInUse, SecondaryOptionsSavedOntoAFullDiskSayItOnceAndKeepTheFile)
{
    // The program folder on a small disk of its own, the day log elsewhere.
    const fs::path folder = env.root() / "pieno";
    ScopedTmpfs disk(folder, "256k");
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    fs::copy(home, folder, fs::copy_options::recursive);
    const fs::path logs = env.root() / "log-altrove";
    fs::create_directories(logs);
    fs::create_directory_symlink(logs, folder / "log");
    home = folder;
    ASSERT_EQ(::chdir(home.c_str()), 0);
    create();
    ASSERT_TRUE(app->load());
    auto menu = [this](int entry) {
        automation::Variant args[] = {automation::Variant(entry)};
        app->main().menuButton()->model().events().raise(flatui::MenuButtonControl::Click, args);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    // Into "Opzioni secondarie" and out to the run window, as the operator does.
    auto leaveSecondaryOptions = [&] {
        menu(3);
        menu(1);
    };
    leaveSecondaryOptions();
    const std::string before = test::readFile(home / "zentrikServer.xml");
    shown.clear();

    // The disk fills up; the operator changes the SMTP server and goes to another window.
    {
        std::ofstream filler(home / "riempimento", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush())
            ;
    }
    app->secondaryWindow().findChild<QLineEdit*>("txtSmtp")->setText("smtp.pieno.example");
    leaveSecondaryOptions();
    ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.front().rfind("Impossibile salvare le impostazioni: ", 0), 0u) << shown.front();
    EXPECT_NE(shown.front().find("Spazio esaurito sul dispositivo"), std::string::npos) << shown.front();
    EXPECT_EQ(test::readFile(home / "zentrikServer.xml"), before);
    EXPECT_NE(dayLogText(*app).find("Spazio esaurito sul dispositivo"), std::string::npos); // the log lies elsewhere

    // Once there is room again, the next time the operator leaves the window the change is saved.
    fs::remove(home / "riempimento");
    shown.clear();
    leaveSecondaryOptions();
    EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
    EXPECT_NE(test::readFile(home / "zentrikServer.xml").find("smtp.pieno.example"), std::string::npos);
}

// --- A desktop without a tray -----------------------------------------------------------------

TEST_F(ProgramInUse, StartMinimizedWithoutATrayShowsTheWindowInTheTaskBar)
{
    std::string text = test::readFile(home / "zentrikServer.xml");
    text.replace(text.find("<minimized>0</minimized>"), 24, "<minimized>1</minimized>");
    test::writeFile(home / "zentrikServer.xml", text);
    create();
    ASSERT_TRUE(app->load());
    ASSERT_TRUE(app->settings().AvvioMinimizzato);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a tray";
    EXPECT_TRUE(app->main().isVisible());
    EXPECT_TRUE(app->main().windowState() & Qt::WindowMinimized);
    EXPECT_EQ(app->main().findChild<QSystemTrayIcon*>("trayIcon"), nullptr);
    EXPECT_EQ(countLines("Area di notifica non disponibile"), 1);
    EXPECT_NE(dayLogText(*app).find("Area di notifica non disponibile"), std::string::npos);

    // Minimized, the windows are not arranged: the menu's list is not drawn over them yet. The
    // window manager's restore opens it, drawn as after a start on screen.
    auto& menu = app->main().menuButton()->model();
    auto settleFor = [](const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
        return done();
    };
    QCoreApplication::processEvents();
    EXPECT_FALSE(menu.menuVisible());
    app->main().showNormal();
    ASSERT_TRUE(settleFor([&] { return menu.menuVisible(); }));
    const QImage restored = app->main().menuButton()->dropDown()->grab().toImage();

    text.replace(text.find("<minimized>1</minimized>"), 24, "<minimized>0</minimized>");
    test::writeFile(home / "zentrikServer.xml", text);
    create();
    ASSERT_TRUE(app->load());
    auto& normalMenu = app->main().menuButton()->model();
    ASSERT_TRUE(settleFor([&] { return normalMenu.menuVisible(); }));
    const QImage normal = app->main().menuButton()->dropDown()->grab().toImage();
    ASSERT_EQ(restored.size(), normal.size());
    EXPECT_TRUE(restored == normal) << "the list differs from the one of a start on screen";
}

// --- Saves keep the file's mode ----------------------------------------------------------------

TEST_F(ProgramInUse, SavesKeepTheModeAndStaleTemporariesGo)
{
    // A save killed mid-way left its temporary file; a running process's one stays.
    process::ChildProcess gone;
    ASSERT_TRUE(gone.start({"/bin/true"}));
    const pid_t dead = gone.pid();
    ASSERT_TRUE(gone.waitFor(10000));
    const fs::path stale = home / (".zentrikServer.xml.zstmp-" + std::to_string(dead) + "-00ff00ff00ff00ff");
    const fs::path live = home / zs::fs::temporaryName("stat.xml");
    test::writeFile(stale, "<zentrikServer>");
    test::writeFile(live, "<stat>");
    test::writeFile(home / ".nota.tmp-x", "not ours");
    // A name our saves no longer use is not ours to remove.
    test::writeFile(home / (".cadenzo.xml.tmp-" + std::to_string(dead)), "not ours");
    fs::permissions(home / "zentrikServer.xml", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    create();
    ASSERT_TRUE(app->load());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(home / ".nota.tmp-x"));
    EXPECT_TRUE(fs::exists(home / (".cadenzo.xml.tmp-" + std::to_string(dead))));
    fs::remove(live);

    clickRun(); // writes stat.xml
    ASSERT_TRUE(fs::exists(home / "stat.xml"));
    fs::permissions(home / "stat.xml", fs::perms::owner_read | fs::perms::owner_write);
    clickRun();
    app->ChiudiApplicazione();
    auto mode = [](const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; };
    EXPECT_EQ(mode(home / "stat.xml"), fs::perms::owner_read | fs::perms::owner_write);
    // The settings hold passwords: never looser than 0600.
    EXPECT_EQ(mode(home / "zentrikServer.xml"), fs::perms::owner_read | fs::perms::owner_write);
}

// --- zs-extract ----------------------------------------------------------------------------------

using zs::test::rowsOf;

/// Runs zs-extract on `folder` to its end, its output captured, for at most `limit`.
process::RunResult runExtract(const fs::path& folder, std::chrono::seconds limit = std::chrono::seconds(60),
                              std::vector<std::string> environment = {})
{
    process::RunOptions o;
    o.captureOutput = true;
    o.timeLimit = limit;
    o.extraEnvironment = std::move(environment);
    return process::run({ZS_EXTRACT_PATH, folder.string()}, o);
}

TEST_F(ProgramInUse, StartUpReadsALargeCatalogOnceAndKeepsTheStoredChoices)
{
    // 5,000 cubes in the catalog, each with a choice stored in the settings.
    std::string cubes, stored;
    for (int i = 1; i <= 5000; ++i) {
        const std::string name = "Cubo" + std::to_string(i);
        cubes += "<Cube name=\"" + name + "\" sourceTable=\"VENDITE\"><Measure name=\"N\" aggregate=\"count\"/></Cube>";
        stored += "<cubo nome=\"" + name + "\" aggiornamento=\"" + (i % 2 ? "dati" : "incrementale") + "\" data=\"\"/>";
    }
    test::writeFile(home / "olap-demo.xml", "<OlapServer name=\"demo\"><Database name=\"Vendite\" "
                                            "connection=\"Data Source=target.db;\">" +
                                                cubes + "</Database></OlapServer>");
    addSetting(home, stored);
    const std::size_t before = olap::catalogReads();
    QElapsedTimer started;
    started.start();
    create();
    ASSERT_TRUE(app->load());
    QCoreApplication::processEvents();
    EXPECT_LE(olap::catalogReads() - before, 1u);
    EXPECT_LT(started.elapsed(), 10000); // was 7.7 s with 2,500 cubes
    const auto list = app->cubes().cubes();
    ASSERT_EQ(list.size(), 5000u);
    EXPECT_EQ(list[0].aggiornamento, program::RefreshChoice::DataOnly);
    EXPECT_EQ(list[4999].aggiornamento, program::RefreshChoice::Incremental);
}

TEST_F(ProgramInUse, ZsExtractRunsTheWholeDemoCubesIncludedWithoutADisplay)
{
    const auto r = runExtract(home, std::chrono::seconds(60), {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Inizio elaborazione dati multidimensionali."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Sto elaborando il cubo VenditePerArticolo"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("ERRORE"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    std::string day;
    for (const auto& f : fs::directory_iterator(home / "log"))
        day += test::readFile(f.path());
    EXPECT_NE(day.find("Sto elaborando il cubo VenditePerCliente"), std::string::npos);

    // Every aggregate row equals the test's own SQL over the facts the run loaded.
    db::Connection c;
    ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
    EXPECT_EQ(rowsOf(c, "SELECT count(*) FROM VENDITE"), std::vector<std::string>{"6"});
    EXPECT_EQ(
        rowsOf(c, "SELECT \"Cliente\", \"Importo\", \"Quantita\", \"fact_count\" FROM "
                  "\"olap_u081024_4_demo_7_Vendite_VenditePerCliente\" ORDER BY 1"),
        rowsOf(c, "SELECT cliente, sum(importo), sum(quantita), count(*) FROM VENDITE GROUP BY cliente ORDER BY 1"));
    EXPECT_EQ(rowsOf(c, "SELECT \"Articolo\", \"Cliente\", \"Quantita\", \"Ordini\", \"fact_count\" FROM "
                        "\"olap_u081024_4_demo_7_Vendite_VenditePerArticolo\" ORDER BY 1, 2"),
              rowsOf(c, "SELECT articolo, cliente, sum(quantita), count(*), count(*) FROM VENDITE "
                        "GROUP BY articolo, cliente ORDER BY 1, 2"));
    EXPECT_EQ(rowsOf(c, "SELECT \"member\" FROM \"olapdim_u081_4_demo_7_Vendite_Cliente\" ORDER BY 1"),
              rowsOf(c, "SELECT DISTINCT nome FROM CLIENTI ORDER BY 1"));
    c.close();

    // The settings keep the cubes with their processing dates, and the snapshot is the one the
    // cube window writes from the same server.
    const std::string settings = test::readFile(home / "zentrikServer.xml");
    EXPECT_NE(settings.find("<cubo nome=\"VenditePerCliente\" aggiornamento=\"completo\" data=\""), std::string::npos)
        << settings;
    const std::string written = test::readFile(home / "zentrikOlap.xml");
    EXPECT_NE(written.find("<LastProcessed>"), std::string::npos) << written;
    fs::remove(home / "zentrikOlap.xml");
    create();
    ASSERT_TRUE(app->load());
    app->cubes().core().flbAggiornaClick();
    EXPECT_EQ(test::readFile(home / "zentrikOlap.xml"), written);
}

TEST_F(ProgramInUse, ZsExtractWorksInTheProgramFolderAndReportsItsDayLog)
{
    // Started from elsewhere with a relative folder: the loading XML's attached database is
    // still found beside the settings.
    ASSERT_EQ(::chdir(env.root().c_str()), 0);
    const fs::path relative = fs::relative(home, env.root());
    fs::remove_all(home / "log");
    test::writeFile(home / "log", "a file where the day logs' folder should be");
    const auto r = runExtract(relative);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    std::size_t reports = 0;
    for (auto at = r.output.find("log giornaliero non aggiornato"); at != std::string::npos;
         at = r.output.find("log giornaliero non aggiornato", at + 1))
        ++reports;
    EXPECT_EQ(reports, 1u) << r.output;
}

// The demo folder with one IMPORTEMAIL step mailing one sales manager through 127.0.0.1:port.
void orderMailFolder(const fs::path& home, std::uint16_t port)
{
    {
        db::Connection target;
        ASSERT_TRUE(target.open("Data Source=" + (home / "target.db").string() + ";"));
        for (const char* sql :
             {"create table ResponsabiliVenditeAgenti (email text, DescrResponsabile text, Responsabile text)",
              "drop table if exists clienti", "create table clienti (conto text, addetto text)",
              "create table veviraorder (OMPROGRESSIVO text, OMAGENTE text, OMORDINE text, OMCONTO text, OMRAG text, "
              "OMRIFERIMENTOCLIENTE text)",
              "insert into ResponsabiliVenditeAgenti values ('rossi@example.it', 'Rossi', '02')",
              "insert into clienti values ('C1   ', 'Rossi')",
              "insert into veviraorder values ('1', 'AG1 ', 'O001 ', 'C1   ', 'Ditta Uno  ', 'R1')"})
            ASSERT_TRUE(target.execute(sql)) << sql;
    }
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><IMPORTEMAIL><esegui>si</esegui>"
                    "<operazione>Ordini aperti</operazione><Oggetto>Ordini aperti</Oggetto><destinatari/>"
                    "</IMPORTEMAIL></Estrattore>\n");
    // The demo's own sender (MittenteOrdini) is kept as it stands.
    std::string text = test::readFile(home / "zentrikServer.xml");
    text.replace(text.find("<smtpserver></smtpserver>"), 25,
                 "<smtpserver>127.0.0.1:" + std::to_string(port) + "</smtpserver>");
    test::writeFile(home / "zentrikServer.xml", text);
}

TEST_F(ProgramInUse, ZsExtractReadsAHostAndAPortInTheSmtpSetting)
{
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(peer.message().find("Subject: Ordini aperti"), std::string::npos) << r.output;
    EXPECT_NE(peer.envelope().find("rossi@example.it"), std::string::npos) << peer.envelope();
    EXPECT_NE(peer.envelope().find("from=ordini@zentrik.it"), std::string::npos) << "the demo's own sender";
}

TEST_F(ProgramInUse, ZsExtractLogsAnOrderMailAsSentWhenTheServerResetsAtQuit)
{
    // The server takes the message and answers QUIT with a reset: the mail is sent, the step
    // and the run succeed, and no sending error reaches the day log.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::ResetAtQuit);
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(peer.accepted(), 1) << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Errore nell'invio email"), std::string::npos) << r.output;
    std::string dayLogs;
    for (const auto& e : fs::directory_iterator(home / "log"))
        dayLogs += test::readFile(e.path());
    EXPECT_NE(dayLogs.find("Email To: rossi@example.it"), std::string::npos);
    EXPECT_EQ(dayLogs.find("Errore nell'invio email"), std::string::npos) << dayLogs;
}

TEST_F(ProgramInUse, ZsExtractFailsTheRunWhenTheServerAnswersWithAnEmptyLine)
{
    // A server that answers HELO, or the end mark, with an empty line never took the mail:
    // the step's error line reaches the run log and the day log, and the run ends with errors.
    using Kind = mail::test::HostileSmtpPeer::Kind;
    const fs::path demo = home;
    for (const Kind kind : {Kind::EmptyHeloReply, Kind::EmptyEndMarkReply}) {
        SCOPED_TRACE(kind == Kind::EmptyHeloReply ? "empty line to HELO" : "empty line to the end mark");
        test::TempDir copy;
        fs::copy(demo, copy.path(), fs::copy_options::recursive);
        fs::remove_all(copy.path() / "log");
        mail::test::HostileSmtpPeer peer(kind);
        ASSERT_TRUE(peer.ok());
        orderMailFolder(copy.path(), peer.port());

        const auto r = runExtract(copy.path(), std::chrono::seconds(120));
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_EQ(peer.accepted(), 0);
        const std::string line = "Errore nell'invio email ai seguenti destinatari rossi@example.it-"
                                 "Invalid reply from the server (empty line)";
        EXPECT_NE(r.output.find(line), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Estrazione terminata con successo."), std::string::npos) << r.output;
        std::string dayLogs;
        for (const auto& e : fs::directory_iterator(copy.path() / "log"))
            dayLogs += test::readFile(e.path());
        EXPECT_NE(dayLogs.find("Email To: rossi@example.it"), std::string::npos);
        EXPECT_NE(dayLogs.find(line), std::string::npos) << dayLogs;
    }
}

/// Every line of a day log that is not blank, with where it fails to start with the stamp.
std::vector<std::string> unstampedLines(const std::string& dayLog)
{
    std::vector<std::string> out;
    const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d   :)");
    std::size_t at = 0;
    while (at < dayLog.size()) {
        const std::size_t end = dayLog.find("\r\n", at);
        const std::string line = dayLog.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && !std::regex_search(line, stamp))
            out.push_back(line);
        if (end == std::string::npos)
            break;
        at = end + 2;
    }
    return out;
}

/// The line of `text` (lines ended by LF, CR LF or CR) that holds `needle`; "" when none.
std::string lineWith(const std::string& text, const std::string& needle)
{
    const std::size_t at = text.find(needle);
    if (at == std::string::npos)
        return {};
    const std::size_t begin = text.find_last_of("\r\n", at);
    const std::size_t end = text.find_first_of("\r\n", at);
    const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

TEST_F(ProgramInUse, AMultiLineRefusalOfAnOrderMailIsOneStampedLineEverywhere)
{
    // The server refuses the recipient with a reply of three lines: the run log, the day log
    // and zs-extract's output each hold it as one line, every word of it, behind the stamp.
    mail::test::SmtpPeer peer({.auth = "",
                               .rejectRcpt = "550-5.1.1 <rossi@example.it>: Recipient address rejected\r\n"
                                             "550-5.1.1 User unknown in virtual mailbox table\r\n"
                                             "550 5.1.1 Please check the address"});
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());
    const std::string words[] = {"Errore nell'invio email ai seguenti destinatari rossi@example.it-",
                                 "550-5.1.1 <rossi@example.it>: Recipient address rejected",
                                 "550-5.1.1 User unknown in virtual mailbox table",
                                 "550 5.1.1 Please check the address"};
    auto expectOneLine = [&](const std::string& text, const std::string& where) {
        SCOPED_TRACE(where);
        const std::string line = lineWith(text, words[0]);
        ASSERT_FALSE(line.empty()) << text;
        for (const std::string& w : words)
            EXPECT_NE(line.find(w), std::string::npos) << w << "\nin: " << line;
    };

    const auto r = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    expectOneLine(r.output, "zs-extract's output");
    std::string dayLog = dayLogText(home);
    expectOneLine(dayLog, "the day log of zs-extract's run");
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;

    // The program's own run: its line in the run window is the same one line.
    fs::remove_all(home / "log");
    create();
    ASSERT_TRUE(app->load());
    clickRun();
    std::string tree;
    for (const auto& l : lines())
        tree += l + "\n";
    expectOneLine(tree, "the run window");
    dayLog = dayLogText(home);
    expectOneLine(dayLog, "the day log of the program's run");
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;
}

TEST_F(ProgramInUse, ControlBytesInAServersReplyReachNeitherTheDayLogNorTheTerminal)
{
    using Kind = mail::test::HostileSmtpPeer::Kind;
    mail::test::HostileSmtpPeer peer(Kind::ControlBytesRefusal);
    ASSERT_TRUE(peer.ok());
    orderMailFolder(home, peer.port());

    const auto r = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    const std::string dayLog = dayLogText(home);
    for (const auto& [where, text] : {std::pair{"zs-extract's output", r.output}, std::pair{"the day log", dayLog}}) {
        SCOPED_TRACE(where);
        for (const char c : {'\0', '\x1b', '\x07'})
            EXPECT_EQ(text.find(c), std::string::npos) << "byte " << int(c);
        // The reply is all there, its control bytes shown.
        EXPECT_NE(text.find("550 5.1.1 \\x1b[2J\\x1b]0;titolo\\x07utente\\x00 sconosciuto\\x1b[31m\\x07"),
                  std::string::npos)
            << text;
    }
    for (const char c : {'\0', '\x1b', '\x07'})
        EXPECT_EQ(r.error.find(c), std::string::npos) << "byte " << int(c) << " on zs-extract's error output";
    EXPECT_EQ(unstampedLines(dayLog), std::vector<std::string>{}) << dayLog;
}

// --- Logs, databases and lock files that are not regular files ------------------------------

/// The demo's loading XML with an XML import step before the cubes, whose one file is
/// malformed: the run writes a line to the import's error log.
void addRejectedImport(const fs::path& folder)
{
    fs::create_directories(folder / "in");
    test::writeFile(folder / "in/rotto.xml", "<ROOT><Cliente Codice='C9'>");
    test::writeFile(folder / "clienti.xsd",
                    "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
                    "<xsd:element name='Cliente' sql:relation='CLIENTI'><xsd:complexType>"
                    "<xsd:attribute name='Codice' sql:field='codice' type='xsd:string'/>"
                    "</xsd:complexType></xsd:element></xsd:schema>");
    std::string loading = test::readFile(folder / "zentrikLoading.xml");
    loading.insert(loading.find("  <ELABORACUBI>"),
                   "  <IMPORTXML><esegui>si</esegui><operazione>Importazione clienti</operazione><path>" +
                       (folder / "in").string() + "</path><schema>" + (folder / "clienti.xsd").string() +
                       "</schema></IMPORTXML>\n");
    test::writeFile(folder / "zentrikLoading.xml", loading);
}

/// What stands at a log's name instead of the file.
struct SpecialFile {
    const char* kind;
    const char* says;
};
const SpecialFile kSpecialFiles[] = {{"fifo", "è una pipe, non un file"},
                                     {"link", "è un collegamento, non un file"},
                                     {"folder", "è una cartella, non un file"}};

/// Puts `special` at `at`; a link points to `outside`, a file of someone else's.
void plant(const fs::path& at, const SpecialFile& special, const fs::path& outside)
{
    fs::create_directories(at.parent_path());
    const std::string kind = special.kind;
    if (kind == "link") {
        fs::create_symlink(outside, at);
        return;
    }
    const std::string planted = kind == "fifo" ? "fifo" : "directory";
    test::plantNonRegular(planted, at);
    ASSERT_EQ(test::describeEntry(at), planted);
}

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

/// Today's day log of `folder` and the import's error log beside it.
fs::path todaysLog(const fs::path& folder, bool importErrors)
{
    const fs::path day = program::DayLog(folder, time::systemClock()).currentFile();
    return importErrors ? day.parent_path() / (day.stem().string() + "x.log") : day;
}

TEST_F(ProgramInUse, ZsExtractEndsWithTheLogsErrorWhenALogIsNoFile)
{
    const fs::path outside = env.root() / "altrui.log";
    for (const bool importErrors : {false, true}) {
        for (const SpecialFile& special : kSpecialFiles) {
            SCOPED_TRACE(std::string(importErrors ? "x.log " : "day log ") + special.kind);
            test::writeFile(outside, "righe di un altro programma\n");
            const fs::path folder = env.root() / ("caso-" + std::string(special.kind) + (importErrors ? "x" : ""));
            fs::copy(ZS_DEMO_DIR, folder, fs::copy_options::recursive);
            addRejectedImport(folder);
            const fs::path log = todaysLog(folder, importErrors);
            ASSERT_NO_FATAL_FAILURE(plant(log, special, outside));

            QElapsedTimer t;
            t.start();
            const auto r = runExtract(folder, std::chrono::seconds(30));
            EXPECT_LT(t.elapsed(), 5000);
            EXPECT_FALSE(r.timedOut);
            // The import's rejected file fails the run; every other step ran.
            EXPECT_EQ(r.exitCode, 1) << r.output;
            EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;
            const std::string error = "Impossibile aprire il file " + log.string() + ": " + special.says;
            EXPECT_EQ(occurrences(r.output, error), 1u) << r.output;
            EXPECT_EQ(occurrences(r.output, importErrors ? "Log degli errori di importazione non aggiornato: "
                                                         : "log giornaliero non aggiornato: "),
                      1u)
                << r.output;
            EXPECT_EQ(test::readFile(outside), "righe di un altro programma\n");
            // The other log is written as ever.
            const std::string other = test::readFile(todaysLog(folder, !importErrors));
            EXPECT_NE(other.find(importErrors ? "Estrazione terminata con errori." : "rotto.xml: XML non valido"),
                      std::string::npos)
                << other;
        }
    }
}

TEST_F(ProgramInUse, TheWindowStaysLiveThroughARunWhoseLogIsNoFileAndSaysItOnce)
{
    addSetting(home, "<pause>200</pause>"); // the run lasts long enough for the clock to tick
    addRejectedImport(home);
    const fs::path outside = env.root() / "altrui.log";
    for (const bool importErrors : {false, true}) {
        for (const SpecialFile& special : kSpecialFiles) {
            SCOPED_TRACE(std::string(importErrors ? "x.log " : "day log ") + special.kind);
            test::writeFile(outside, "righe di un altro programma\n");
            const fs::path log = todaysLog(home, importErrors);
            fs::remove_all(home / "log");
            ASSERT_NO_FATAL_FAILURE(plant(log, special, outside));
            create();
            ASSERT_TRUE(app->load());
            int ticks = 0;
            QTimer clock;
            QObject::connect(&clock, &QTimer::timeout, [&ticks] { ++ticks; });
            clock.start(20);
            QElapsedTimer t;
            t.start();
            clickRun();
            const qint64 ms = t.elapsed();
            clock.stop();
            EXPECT_LT(ms, 15000);
            // The timer went on all through the run: the window never froze.
            EXPECT_GE(ticks, static_cast<int>(ms / 20 / 3)) << ticks << " ticks in " << ms << " ms";
            EXPECT_NE(topLine("Elaborazione eseguita con errori"), nullptr) << ::testing::PrintToString(lines());
            const std::string error = "Impossibile aprire il file " + log.string() + ": " + special.says;
            int said = 0;
            for (const auto& l : lines())
                said += l.find(error) != std::string::npos ? 1 : 0;
            EXPECT_EQ(said, 1) << ::testing::PrintToString(lines());
            EXPECT_EQ(countLines(importErrors ? "  Log degli errori di importazione non aggiornato: "
                                              : "Log giornaliero non aggiornato: "),
                      1)
                << ::testing::PrintToString(lines());
            EXPECT_EQ(test::readFile(outside), "righe di un altro programma\n");
            app.reset();
        }
    }
}

TEST_F(ProgramInUse, ZsExtractRefusesAFifoAtAnAttachedDatabaseNamingIt)
{
    // The demo's settings bound each statement to 60 s.
    fs::remove(home / "erp.db");
    ASSERT_EQ(::mkfifo((home / "erp.db").c_str(), 0600), 0);
    QElapsedTimer t;
    t.start();
    auto r = runExtract(home, std::chrono::seconds(60 + 30));
    EXPECT_LT(t.elapsed(), (60 + 10) * 1000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("'" + (home / "erp.db").string() + "' is a FIFO, not a database file"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Estrazione terminata con errori."), std::string::npos) << r.output;

    // With the database back, the next run loads it.
    fs::remove(home / "erp.db");
    fs::copy_file(fs::path(ZS_DEMO_DIR) / "erp.db", home / "erp.db");
    r = runExtract(home, std::chrono::seconds(60 + 30));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    db::Connection c;
    ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
    EXPECT_EQ(rowsOf(c, "SELECT count(*) FROM VENDITE"), std::vector<std::string>{"6"});
}

TEST_F(ProgramInUse, ZsExtractBoundsEachStatementByTheSettingsTimeout)
{
    std::string settings = test::readFile(home / "zentrikServer.xml");
    settings.replace(settings.find("<timeout>60</timeout>"), 21, "<timeout>2</timeout>");
    test::writeFile(home / "zentrikServer.xml", settings);
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><CONTA><esegui>si</esegui>"
                    "<operazione>Conteggio senza fine</operazione><query>create table if not exists CONTA as with "
                    "recursive c(x) as (select 1 union all select x + 1 from c) select count(*) as n from c</query>"
                    "</CONTA></Estrattore>\n");
    QElapsedTimer t;
    t.start();
    const auto r = runExtract(home);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(t.elapsed(), 20000) << r.output;
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Timeout expired"), std::string::npos) << r.output;
}

TEST_F(ProgramInUse, AStopDuringSincroniaLeavesTheTwinAsItWasAndSaysSoOnce)
{
    {
        db::Connection c;
        ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        // A source without end: however fast the machine, the stop lands while the twin is filled.
        ASSERT_TRUE(c.execute("CREATE VIEW GRANDE AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
                              "SELECT x AS id, 'riga ' || x AS testo FROM n"));
        ASSERT_TRUE(c.execute("CREATE TABLE SQLServer_GRANDE (id INTEGER, testo TEXT)"));
        ASSERT_TRUE(c.execute("INSERT INTO SQLServer_GRANDE VALUES (1, 'prima'), (2, 'prima'), (3, 'prima')"));
    }
    test::writeFile(home / "zentrikLoading.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><SINCRONIA><esegui>si</esegui>"
                    "<operazione>Sincronia grande</operazione><query>GRANDE</query></SINCRONIA></Estrattore>\n");
    const auto twinRows = [&] {
        db::Connection c;
        EXPECT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        return rowsOf(c, "SELECT count(*), min(testo) FROM SQLServer_GRANDE");
    };

    // The stop lands while the twin is being filled.
    process::ChildProcess run;
    const fs::path output = env.root() / "sincronia.txt";
    process::ChildOptions o;
    o.outputFile = output.string();
    ASSERT_TRUE(run.start({ZS_EXTRACT_PATH, home.string()}, o));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 30000 && run.running() && dayLogText(home).find("Sincronia grande") == std::string::npos)
        QThread::msleep(10);
    QThread::msleep(300);
    ASSERT_TRUE(run.running()) << test::readFile(output);
    ASSERT_EQ(::kill(run.pid(), SIGINT), 0);
    EXPECT_EQ(run.waitFor(60000), std::optional<int>(1));
    const std::string out = test::readFile(output);
    EXPECT_NE(out.find("Processo di estrazione interrotto dall'utente sul job: BEGIN; DELETE FROM SQLServer_GRANDE; "
                       "INSERT INTO SQLServer_GRANDE SELECT * FROM GRANDE; COMMIT"),
              std::string::npos)
        << out;
    EXPECT_EQ(occurrences(out, "ERRORE  Tabella SQLServer_GRANDE non sincronizzata: conserva le righe che aveva "
                               "prima.\n"),
              1u)
        << out;
    EXPECT_NE(out.find("Estrazione interrotta dall'utente."), std::string::npos) << out;
    // Every error line once.
    std::map<std::string, int> errorLines;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.find("ERRORE  ") != std::string::npos) {
            EXPECT_EQ(++errorLines[line], 1) << line << "\n" << out;
        }
    EXPECT_EQ(twinRows(), std::vector<std::string>{"3|prima"});

    // The next run, from a source that ends, fills the twin.
    {
        db::Connection c;
        ASSERT_TRUE(c.open("Data Source=" + (home / "target.db").string() + ";"));
        ASSERT_TRUE(c.execute("DROP VIEW GRANDE"));
        ASSERT_TRUE(c.execute("CREATE TABLE GRANDE AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                              "WHERE x < 3000000) SELECT x AS id, 'riga ' || x AS testo FROM n"));
    }
    const auto next = runExtract(home, std::chrono::seconds(120));
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_EQ(twinRows(), std::vector<std::string>{"3000000|riga 1"});
}

/// Starts zs-extract on `folder` with its output in `output`, and waits until its run is on
/// its way (its first step's line is in the day log).
void startSlowRun(process::ChildProcess& child, const fs::path& folder, const fs::path& output)
{
    const std::size_t before = occurrences(dayLogText(folder), "Anagrafica clienti");
    process::ChildOptions o;
    o.outputFile = output.string();
    ASSERT_TRUE(child.start({ZS_EXTRACT_PATH, folder.string()}, o));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && child.running() && occurrences(dayLogText(folder), "Anagrafica clienti") == before)
        QThread::msleep(20);
    ASSERT_TRUE(child.running()) << test::readFile(output);
}

TEST_F(ProgramInUse, ASecondZsExtractOnABusyFolderEndsAtOnceAndTheFirstCompletes)
{
    addSetting(home, "<pause>1500</pause>"); // every step waits 1.5 s first
    process::ChildProcess first;
    const fs::path firstOutput = env.root() / "primo.txt";
    ASSERT_NO_FATAL_FAILURE(startSlowRun(first, home, firstOutput));

    QElapsedTimer t;
    t.start();
    const auto second = runExtract(home, std::chrono::seconds(30));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_EQ(second.output, "zs-extract: Estrazione non avviata: un'altra elaborazione e' in corso sulla cartella "
                             "del programma " +
                                 home.string() + ".\n");
    EXPECT_TRUE(first.running());
    // A cron user finds the refusal in the day log too.
    EXPECT_EQ(occurrences(dayLogText(home), "   :ERRORE  Estrazione non avviata: un'altra elaborazione e' in corso "
                                            "sulla cartella del programma " +
                                                home.string() + ".\r\n"),
              1u)
        << dayLogText(home);

    EXPECT_EQ(first.waitFor(60000), std::optional<int>(0)) << test::readFile(firstOutput);
    EXPECT_NE(test::readFile(firstOutput).find("Estrazione terminata con successo."), std::string::npos);
    EXPECT_EQ(occurrences(dayLogText(home), "Anagrafica clienti"), 1u); // the second run wrote no step
    // The folder is free again.
    EXPECT_EQ(runExtract(home, std::chrono::seconds(30)).exitCode, 0);
}

TEST_F(ProgramInUse, TheProgramRunsNothingOnAFolderThatZsExtractHoldsAndHoldsNoLockWhileIdle)
{
    create();
    ASSERT_TRUE(app->load());
    // The program is up and idle: a cron run goes.
    const auto r = runExtract(home);
    EXPECT_EQ(r.exitCode, 0) << r.output;

    addSetting(home, "<pause>1500</pause>");
    process::ChildProcess cron;
    const fs::path cronOutput = env.root() / "cron.txt";
    ASSERT_NO_FATAL_FAILURE(startSlowRun(cron, home, cronOutput));
    app->log().InitializeResponse();
    clickRun();
    EXPECT_EQ(countLines("Estrazione non avviata: un'altra elaborazione e' in corso sulla cartella del programma " +
                         home.string() + "."),
              1)
        << ::testing::PrintToString(lines());
    EXPECT_EQ(countLines("Inizio estrazione dati"), 0) << ::testing::PrintToString(lines());
    EXPECT_FALSE(app->runWindow().run().running());
    EXPECT_EQ(cron.waitFor(60000), std::optional<int>(0)) << test::readFile(cronOutput);

    // The cron run over, the next run by hand goes.
    clickRun();
    EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(lines());
}

TEST_F(ProgramInUse, ZsExtractOnAFolderThatTheProgramRunsOnEndsAtOnceAndTheRunCompletes)
{
    create();
    ASSERT_TRUE(app->load());
    // Once the program's run is under way, a cron run is started on the same folder, once.
    std::optional<process::RunResult> cron;
    qint64 cronMs = 0;
    app->yield().setExtra([&] {
        if (cron || !app->runWindow().run().running())
            return;
        QElapsedTimer t;
        t.start();
        cron = runExtract(home, std::chrono::seconds(30));
        cronMs = t.elapsed();
    });
    clickRun();
    app->yield().setExtra({});
    ASSERT_TRUE(cron.has_value());
    EXPECT_LT(cronMs, 2000);
    EXPECT_EQ(cron->exitCode, 1) << cron->output;
    EXPECT_EQ(cron->output, "zs-extract: Estrazione non avviata: un'altra elaborazione e' in corso sulla cartella "
                            "del programma " +
                                home.string() + ".\n");
    EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(lines());
    EXPECT_EQ(occurrences(dayLogText(home), "Inizio estrazione dati"), 1u); // the cron run wrote nothing
    // The run over, the folder is free again.
    EXPECT_EQ(runExtract(home).exitCode, 0);
}

/// The scheduler store with one extraction operation on `date` at 06:30, `periodicita` and
/// enabled, as the control writes it.
std::string oneOperationStore(const time::DateTime& date, const std::string& periodicita)
{
    return "<cadenzo>\r\n\r\n<operazione>\r\n<azione>Estrazione ed Elaborazione.</azione>\r\n<data>" +
           text::formatDate(date) + "</data>\r\n<ora>6</ora>\r\n<minuti>30</minuti>\r\n<escludi>niente</escludi>\r\n" +
           "<periodicita>" + periodicita +
           "</periodicita>\r\n<abilitato>1</abilitato>\r\n</operazione>\r\n\r\n</cadenzo>";
}

TEST_F(ProgramInUse, AScheduledRunDueWhileZsExtractHoldsTheFolderWaitsAndRunsOnceItIsFree)
{
    addSetting(home, "<pause>1500</pause>"); // every step waits 1.5 s first: the cron run lasts
    const time::DateTime tomorrow = time::systemClock().now().addDays(1);
    const std::string waitLine = "Estrazione in attesa: un'altra elaborazione e' in corso sulla cartella del "
                                 "programma " +
                                 home.string() + ". Sara' avviata appena la cartella sara' libera.";
    struct Case {
        const char* periodicita;
        bool enabledAfter;
    };
    for (const Case& c : {Case{"Una volta sola", false}, Case{"Ogni giorno", true}}) {
        SCOPED_TRACE(c.periodicita);
        test::writeFile(home / "cadenzo.xml", oneOperationStore(tomorrow, c.periodicita));
        create();
        ASSERT_TRUE(app->load());
        auto& scheduler = app->secondaryWindow().CadenzoControl().scheduler();
        ASSERT_EQ(scheduler.state().colOperazioni.size(), 1u);
        // The operation falls due now.
        scheduler.state().colOperazioni[0]->setProssimoAppuntamento(time::systemClock().now().addSeconds(-60));

        const std::string logBefore = dayLogText(home);
        process::ChildProcess cron;
        const fs::path cronOutput = env.root() / "cron.txt";
        ASSERT_NO_FATAL_FAILURE(startSlowRun(cron, home, cronOutput));

        // While the alarm waits: the store still holds the operation as it was; when the cron
        // run ends, and when the scheduled one starts.
        std::optional<std::string> storeWhileWaiting, storeAtRunStart;
        QElapsedTimer clock;
        clock.start();
        qint64 cronEnded = -1, runStarted = -1;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const std::string log = dayLogText(home).substr(logBefore.size());
            if (!storeWhileWaiting && log.find(waitLine) != std::string::npos)
                storeWhileWaiting = test::readFile(home / "cadenzo.xml");
            if (cronEnded < 0 && !cron.running())
                cronEnded = clock.elapsed();
            if (runStarted < 0 && occurrences(log, "Inizio estrazione dati") == 2) {
                runStarted = clock.elapsed();
                storeAtRunStart = test::readFile(home / "cadenzo.xml");
            }
        });
        watch.start(20);
        app->secondaryWindow().CadenzoControl().pollNow(); // the alarm waits for the folder, then runs
        watch.stop();

        EXPECT_EQ(cron.waitFor(60000), std::optional<int>(0)) << test::readFile(cronOutput);
        const std::string log = dayLogText(home).substr(logBefore.size());
        EXPECT_EQ(occurrences(log, waitLine), 1u) << log;
        EXPECT_EQ(occurrences(log, "Estrazione non avviata"), 0u) << log;
        // One run by cron, then one scheduled run, after the cron run's end.
        EXPECT_EQ(occurrences(log, "Inizio estrazione dati"), 2u) << log;
        EXPECT_LT(log.find("Estrazione terminata con successo."), log.rfind("Inizio estrazione dati")) << log;
        EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(lines());
        ASSERT_GE(cronEnded, 0);
        ASSERT_GE(runStarted, 0);
        EXPECT_LT(runStarted - cronEnded, 5000);
        // Spent when its run started, not when it fell due.
        ASSERT_TRUE(storeWhileWaiting.has_value());
        EXPECT_NE(storeWhileWaiting->find("<abilitato>1</abilitato>"), std::string::npos) << *storeWhileWaiting;
        ASSERT_TRUE(storeAtRunStart.has_value());
        for (const std::string& store : {*storeAtRunStart, test::readFile(home / "cadenzo.xml")}) {
            EXPECT_NE(store.find(c.enabledAfter ? "<abilitato>1</abilitato>" : "<abilitato>0</abilitato>"),
                      std::string::npos)
                << store;
            if (c.enabledAfter) { // the next occurrence, tomorrow
                EXPECT_NE(store.find("<data>" + text::formatDate(tomorrow) + "</data>"), std::string::npos) << store;
            }
        }
        app.reset();
    }

    // A run by hand on a busy folder is refused as before.
    create();
    ASSERT_TRUE(app->load());
    const program::RunLock other(home);
    ASSERT_TRUE(other.acquired());
    app->log().InitializeResponse();
    clickRun();
    EXPECT_EQ(countLines("Estrazione non avviata: un'altra elaborazione e' in corso sulla cartella del programma " +
                         home.string() + "."),
              1)
        << ::testing::PrintToString(lines());
    EXPECT_EQ(countLines("Inizio estrazione dati"), 0);
}

TEST_F(ProgramInUse, CreaDbAndElaboraOnABusyFolderSaySoAtOnceAndChangeNothing)
{
    create();
    ASSERT_TRUE(app->load());
    const std::string busy = "un'altra elaborazione e' in corso sulla cartella del programma " + home.string() + ".";
    const std::string target = test::readFile(home / "target.db");
    const bool hadSnapshot = fs::exists(home / "zentrikOlap.xml");
    const std::string snapshot = hadSnapshot ? test::readFile(home / "zentrikOlap.xml") : std::string();
    {
        const program::RunLock other(home); // as a zs-extract run holds the folder
        ASSERT_TRUE(other.acquired());

        // "Crea DB": confirmed, then refused at once; the builder never opens the database.
        auto* response = app->options().findChild<QPlainTextEdit*>("txtBuildDBResponse");
        ASSERT_NE(response, nullptr);
        shown.clear();
        dialogs::QtPrompts::nextYesNo() = {true};
        QElapsedTimer t;
        t.start();
        app->options().findChild<flatui::FlatButtonWidget*>("flbBuildDb")->model().click();
        EXPECT_LT(t.elapsed(), 2000);
        EXPECT_EQ(response->toPlainText().toStdString(), "Creazione database non avviata: " + busy + "\n");
        EXPECT_EQ(shown, std::vector<std::string>{"Creazione database non avviata: " + busy});

        // "Elabora": the busy line, no processing.
        app->log().InitializeResponse();
        t.restart();
        app->runWindow().findChild<flatui::FlatButtonWidget*>("flbElaboraCubi")->model().click();
        EXPECT_LT(t.elapsed(), 2000);
        EXPECT_EQ(lines(), std::vector<std::string>{"Elaborazione non avviata: " + busy});
    }
    EXPECT_EQ(test::readFile(home / "target.db"), target);
    EXPECT_EQ(fs::exists(home / "zentrikOlap.xml"), hadSnapshot);
    if (hadSnapshot) {
        EXPECT_EQ(test::readFile(home / "zentrikOlap.xml"), snapshot);
    }

    // The folder free, both go.
    dialogs::QtPrompts::nextYesNo() = {true};
    app->options().findChild<flatui::FlatButtonWidget*>("flbBuildDb")->model().click();
    EXPECT_EQ(app->options().findChild<QPlainTextEdit*>("txtBuildDBResponse")->toPlainText().toStdString().find(busy),
              std::string::npos);
    app->log().InitializeResponse();
    app->runWindow().findChild<flatui::FlatButtonWidget*>("flbElaboraCubi")->model().click();
    EXPECT_EQ(countLines("Inizio elaborazione dati multidimensionali."), 1) << ::testing::PrintToString(lines());
}

// --- Copies of the settings ---------------------------------------------------------------------

/// The files made under `folder` since `before` that hold the settings (their text, or their
/// name as an archive stores it) and that others may read; the day logs aside.
std::vector<std::string> readableCopies(const fs::path& folder, const std::set<fs::path>& before)
{
    std::vector<std::string> leaks;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (before.count(it->path()) || it->path().parent_path() == folder / "log" ||
            ::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0)
            continue;
        const std::string bytes = test::readFile(it->path());
        if (bytes.find("<smtpserver>") != std::string::npos || bytes.find("zentrikServer.xml") != std::string::npos)
            leaks.push_back(it->path().string());
    }
    return leaks;
}

TEST_F(ProgramInUse, ANotificationWaitingOnASilentServerKeepsItsArchivePrivateAndAKilledOneLeavesNothing)
{
    if (!findArchiver(home))
        GTEST_SKIP() << "no archiver on this machine";
    test::LoopbackSocket silent; // accepted by the kernel, never greeted
    ASSERT_TRUE(silent.ok());
    std::string settings = test::readFile(home / "zentrikServer.xml");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"<notifica>2</notifica>", "<notifica>0</notifica>"},
             {"<tiponotifica>0</tiponotifica>", "<tiponotifica>1</tiponotifica>"},
             {"<smtpserver></smtpserver>",
              "<smtpserver>127.0.0.1:" + std::to_string(silent.port()) + "</smtpserver>"}}) {
        ASSERT_NE(settings.find(from), std::string::npos) << from;
        settings.replace(settings.find(from), from.size(), to);
    }
    test::writeFile(home / "zentrikServer.xml", settings);
    ::umask(022); // the archiver's own files would be 0644

    // Twice: the program's start and zs-extract's each clear what the killed send left.
    for (const bool programStart : {true, false}) {
        SCOPED_TRACE(programStart ? "the program's start" : "zs-extract's start");
        std::set<fs::path> before;
        for (const auto& e : fs::recursive_directory_iterator(home))
            before.insert(e.path());
        process::ChildProcess server;
        process::ChildOptions o;
        o.outputFile = (env.root() / "server.txt").string();
        o.extraEnvironment = {"ZENTRIK_HOME=" + home.string(), "QT_QPA_PLATFORM=offscreen"};
        ASSERT_TRUE(server.start({ZS_SERVER_PATH, "--run-once"}, o));
        // The run is over and its notification waits on the server.
        QElapsedTimer t;
        t.start();
        std::vector<fs::path> archives;
        while (t.elapsed() < 60000 && server.running() &&
               occurrences(dayLogText(home), "Invio notifica email in corso..") < (programStart ? 1u : 2u))
            QThread::msleep(50);
        ASSERT_TRUE(server.running()) << test::readFile(o.outputFile);
        for (const auto& e : fs::recursive_directory_iterator(home))
            if (e.path().extension() == ".arj")
                archives.push_back(e.path());
        ASSERT_EQ(archives.size(), 1u);
        EXPECT_GT(fs::file_size(archives[0]), 0u);
        struct stat st {};
        ASSERT_EQ(::stat(archives[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(archives[0].parent_path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(readableCopies(home, before), std::vector<std::string>{});

        ASSERT_EQ(::kill(server.pid(), SIGKILL), 0);
        ASSERT_TRUE(server.waitFor(10000).has_value());
        ASSERT_TRUE(fs::exists(archives[0])); // what the killed send left

        if (programStart) {
            create();
            ASSERT_TRUE(app->load());
            app.reset();
        } else {
            // A folder the program still uses (its maker runs) stays.
            const auto live = zs::fs::makeOwnedFolder(home, RunNotification::kArchiveFolderPrefix);
            ASSERT_TRUE(live.has_value());
            const auto r = runExtract(home);
            EXPECT_EQ(r.exitCode, 0) << r.output;
            EXPECT_TRUE(fs::exists(*live));
            fs::remove_all(*live);
        }
        EXPECT_FALSE(fs::exists(archives[0].parent_path()));
        for (const auto& e : fs::recursive_directory_iterator(home))
            EXPECT_NE(e.path().extension(), ".arj") << e.path();
    }
}

// --- The program folder however it is named ------------------------------------------------

TEST_F(ProgramInUse, ARelativeOrSlashEndedZentrikHomeIsTheSameFolderWithOneAutostartEntry)
{
    const fs::path d2 = env.root() / "d2";
    fs::copy(home, d2, fs::copy_options::recursive);
    std::string settings = test::readFile(d2 / "zentrikServer.xml");
    settings.replace(settings.find("<startup>0</startup>"), 20, "<startup>1</startup>");
    test::writeFile(d2 / "zentrikServer.xml", settings);
    const fs::path autostart = fs::path(std::getenv("XDG_CONFIG_HOME")) / "autostart";

    for (const std::string& spelling : std::vector<std::string>{"d2", d2.string(), "d2/", "./d2//"}) {
        SCOPED_TRACE(spelling);
        // The program, started from the folder above: it runs the extraction and ends.
        process::RunOptions o;
        o.captureOutput = true;
        o.workingDirectory = env.root().string();
        o.extraEnvironment = {"ZENTRIK_HOME=" + spelling, "QT_QPA_PLATFORM=offscreen"};
        o.timeLimit = std::chrono::seconds(60);
        const auto server = process::run({ZS_SERVER_PATH, "--run-once"}, o);
        EXPECT_EQ(server.exitCode, 0) << server.output;
        EXPECT_EQ(server.output.find("Impossibile usare la cartella"), std::string::npos) << server.output;
        EXPECT_NE(server.output.find("run: "), std::string::npos) << server.output;

        // One entry for the one folder, named after it.
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(autostart)) {
            const std::string text = test::readFile(e.path());
            const auto at = text.find("\nName=");
            names.push_back(text.substr(at + 6, text.find('\n', at + 1) - at - 6));
            EXPECT_NE(text.find("\nPath=" + d2.string() + "\n"), std::string::npos) << text;
        }
        EXPECT_EQ(names, std::vector<std::string>{"Zentrik Server (d2)"});

        // zs-extract takes the folder the same way.
        o.extraEnvironment = {};
        const auto extract = process::run({ZS_EXTRACT_PATH, spelling}, o);
        EXPECT_EQ(extract.exitCode, 0) << extract.output;
    }
    // Everything went to the one folder: its day log holds every run (the program's four and
    // zs-extract's four, each opening with its start line), nothing was made inside it under
    // its own name.
    EXPECT_FALSE(fs::exists(d2 / "d2"));
    std::size_t runs = 0;
    for (const auto& e : fs::directory_iterator(d2 / "log")) {
        const std::string text = test::readFile(e.path());
        for (auto at = text.find("Inizio estrazione dati"); at != std::string::npos;
             at = text.find("Inizio estrazione dati", at + 1))
            ++runs;
    }
    EXPECT_EQ(runs, 8u);
}

TEST_F(ProgramInUse, ACopyOnAnotherFolderCarriesTheFolderNameInItsCaption)
{
    struct Case {
        fs::path defaultFolder;
        std::string caption;
    };
    for (const Case& c : std::vector<Case>{
             {{}, "Zentrik Server -  Quorvane srl"},
             {home.string() + "/", "Zentrik Server -  Quorvane srl"},
             {env.root() / "ZentrikServer", "Zentrik Server -  Quorvane srl (" + home.filename().string() + ")"}}) {
        SCOPED_TRACE(c.defaultFolder.string());
        ShellApplication::Options o;
        o.defaultFolder = c.defaultFolder;
        create(o);
        ASSERT_TRUE(app->load());
        EXPECT_EQ(app->main().windowTitle().toStdString(), c.caption);
        app.reset();
    }
}

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
