// The program's windows on the desktop an operator has: a real window manager that frames and
// places them and a panel that reserves the bottom strip and hosts the tray icon (the tests run
// under with-window-manager, inside xvfb-run). The operator's clicks are real pointer clicks on
// the X server (xdotool). Screenshots of the whole screen go to ZS_SCREENSHOT_DIR when it is set.

#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/LoginWindow.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "xml/XmlDocument.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

/// Serves the window events until `done` holds or `ms` have passed; whether it holds.
bool waitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

/// Lets the window manager and the program settle: events served for `ms`.
void settle(int ms = 300)
{
    waitFor([] { return false; }, ms);
}

/// The operator's pointer and keyboard, on the X server.
void xdotool(const QStringList& args)
{
    ASSERT_EQ(QProcess::execute("xdotool", args), 0) << args.join(' ').toStdString();
}

/// Device pixels of a point in Qt's logical pixels (QT_SCALE_FACTOR).
QPoint devicePoint(QPoint logical)
{
    return (QPointF(logical) * qApp->devicePixelRatio()).toPoint();
}

void clickAt(QPoint global, int button = 1)
{
    const QPoint p = devicePoint(global);
    // Not --sync: that waits for a motion, and none comes when the pointer is already there.
    xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
    settle(50);
    xdotool({"click", QString::number(button)});
}

/// What an X tool prints.
QString output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(5000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

/// The frame's extents the window manager set on the window (device pixels); none while the
/// window is not framed.
std::optional<QMargins> frameExtents(const QWidget& w)
{
    const QString extents = output("xprop", {"-id", QString::number(w.winId()), "_NET_FRAME_EXTENTS"});
    if (!extents.contains('='))
        return std::nullopt;
    const QStringList e = extents.section('=', 1).split(',');
    if (e.size() != 4)
        return std::nullopt;
    // Told as left, right, top, bottom.
    return QMargins(e[0].trimmed().toInt(), e[2].trimmed().toInt(), e[1].trimmed().toInt(), e[3].trimmed().toInt());
}

/// The window's frame as the window manager drew it (device pixels), asked of the X server:
/// the client's place and the frame's extents. Empty while the window is not framed.
QRect xFrame(const QWidget& w)
{
    const QString info = output("xwininfo", {"-id", QString::number(w.winId())});
    const std::optional<QMargins> extents = frameExtents(w);
    if (!info.contains("IsViewable") || !extents || extents->top() <= 0)
        return {};
    auto number = [&](const char* label) {
        const int at = info.indexOf(label);
        return at < 0 ? 0 : info.mid(at + int(strlen(label))).section('\n', 0, 0).trimmed().toInt();
    };
    return QRect(number("Absolute upper-left X:"), number("Absolute upper-left Y:"), number("Width:"),
                 number("Height:"))
        .marginsAdded(*extents);
}

class WindowManager : public test::DemoProgramTest {
  protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(DemoProgramTest::SetUp());
        ASSERT_NE(QGuiApplication::platformName(), "offscreen") << "runs on an X server";
        shots = std::getenv("ZS_SCREENSHOT_DIR") ? fs::path(std::getenv("ZS_SCREENSHOT_DIR")) : env.root() / "shots";
        fs::create_directories(shots);
    }

    /// Sets the settings' tray start (MINIMIZED) before the program loads.
    void setTrayStart(bool on)
    {
        const fs::path file = home / "zentrikServer.xml";
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        const std::string from = on ? "<minimized>0</minimized>" : "<minimized>1</minimized>";
        const std::string to = on ? "<minimized>1</minimized>" : "<minimized>0</minimized>";
        if (const auto at = s.find(from); at != std::string::npos)
            s.replace(at, from.size(), to);
        std::ofstream(file, std::ios::trunc) << s;
    }

    void start()
    {
        ShellApplication::Options o;
        o.pause = [](int) { QCoreApplication::processEvents(); };
        create(o);
        ASSERT_TRUE(app->load());
        settle();
    }

    QSystemTrayIcon* tray() { return app->main().findChild<QSystemTrayIcon*>("trayIcon"); }

    /// "&Ripristina" chosen from the tray icon's own menu, opened by a right click on the icon.
    void ripristinaFromTheIconMenu()
    {
        ASSERT_NE(tray(), nullptr);
        ASSERT_TRUE(waitFor([&] { return tray()->geometry().isValid(); }));
        clickAt(tray()->geometry().center(), 3);
        QMenu* pop = tray()->contextMenu();
        ASSERT_NE(pop, nullptr);
        ASSERT_TRUE(waitFor([&] { return pop->isVisible(); })) << "the icon's menu did not open";
        QAction* ripristina = nullptr;
        for (QAction* a : pop->actions())
            if (a->text() == "&Ripristina")
                ripristina = a;
        ASSERT_NE(ripristina, nullptr);
        settle(200);
        clickAt(pop->mapToGlobal(pop->actionGeometry(ripristina).center()));
        ASSERT_TRUE(waitFor([&] { return !pop->isVisible() && app->main().isVisible(); }));
        settle();
    }

    /// The window is on screen (framed by the window manager: Qt learns the frame's size only
    /// at the first mapping) and the menu column is open.
    void waitShown()
    {
        const bool shown = waitFor([&] {
            return app->main().isVisible() && app->main().menuButton()->model().menuVisible() &&
                   app->main().windowHandle() && app->main().windowHandle()->isExposed();
        });
        if (!shown)
            screenshot("not-shown");
        ASSERT_TRUE(shown) << "visible " << app->main().isVisible() << ", state " << int(app->main().windowState())
                           << ", menu open " << app->main().menuButton()->model().menuVisible();
        settle(500);
    }

    /// Every child window where the arrangement puts it: the menu column on the left, the
    /// others to its right, all of the area's height; the area fills the window below the menu bar.
    void expectArranged(const std::string& when)
    {
        SCOPED_TRACE(when);
        mdiGlobal& main = app->main();
        const QSize vp = main.area().viewport()->size();
        EXPECT_GE(main.area().height(), main.height() - main.menuBar()->height() - 4)
            << "area " << main.area().height() << " in a window " << main.height();
        for (QMdiSubWindow* sub : main.area().subWindowList()) {
            SCOPED_TRACE(sub->objectName().toStdString());
            EXPECT_TRUE(sub->isVisible());
            if (sub->objectName() == "frmMenuSub")
                EXPECT_EQ(sub->geometry(), QRect(0, 0, 200, vp.height()));
            else
                EXPECT_EQ(sub->geometry(), QRect(200, 0, vp.width() - 200, vp.height()));
        }
    }

    /// A real click on each of the category menu's first four entries: each opens its window in
    /// front, at the arranged size, and the menu marks it.
    void clickEachMenuEntry(const std::string& shotPrefix)
    {
        QWidget* windows[] = {&app->runWindow(), &app->options(), &app->secondaryWindow(), &app->cubes()};
        auto* button = app->main().menuButton();
        for (int entry = 1; entry <= 4; ++entry) {
            SCOPED_TRACE("entry " + std::to_string(entry));
            QWidget* drop = button->dropDown();
            ASSERT_NE(drop, nullptr);
            ASSERT_TRUE(drop->isVisible());
            int first = -1, last = -1;
            for (int y = 0; y < drop->height(); ++y)
                if (button->model().itemAt(y * flatui::kTwipsPerPixel) == entry)
                    last = y, first = first < 0 ? y : first;
            ASSERT_GE(first, 0);
            clickAt(drop->mapToGlobal(QPoint(drop->width() / 2, (first + last) / 2)));
            QMdiSubWindow* sub = dialogs::subWindowOf(*windows[entry - 1]);
            ASSERT_NE(sub, nullptr);
            EXPECT_TRUE(waitFor([&] { return app->main().area().activeSubWindow() == sub; }))
                << windows[entry - 1]->objectName().toStdString() << " not in front";
            settle(200);
            expectArranged(windows[entry - 1]->objectName().toStdString());
            EXPECT_TRUE(windows[entry - 1]->isVisible());
            EXPECT_EQ(button->model().MenuSelected(), entry);
            screenshot(shotPrefix + "-entry" + std::to_string(entry));
        }
    }

    /// The category menu's entry (1 to 4) of the window on top of the area, menu column aside.
    int shownEntry()
    {
        QWidget* windows[] = {&app->runWindow(), &app->options(), &app->secondaryWindow(), &app->cubes()};
        const auto stack = app->main().area().subWindowList(QMdiArea::StackingOrder);
        for (auto it = stack.rbegin(); it != stack.rend(); ++it)
            for (int i = 0; i < 4; ++i)
                if ((*it)->isVisible() && *it == dialogs::subWindowOf(*windows[i]))
                    return i + 1;
        return 0;
    }

    /// The menu marks the window shown: on its face and, the list open, in the list.
    void expectMarksTheWindowShown(const std::string& when)
    {
        SCOPED_TRACE(when);
        const int shown = shownEntry();
        ASSERT_NE(shown, 0);
        auto& menu = app->main().menuButton()->model();
        EXPECT_TRUE(waitFor([&] { return menu.MenuSelected() == shown && menu.hotItem() == shown; }))
            << "shown " << shown << ", marked " << menu.MenuSelected() << ", lit " << menu.hotItem();
    }

    void screenshot(const std::string& name)
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        ASSERT_NE(screen, nullptr);
        EXPECT_TRUE(screen->grabWindow(0).save(QString::fromStdString((shots / (name + ".png")).string())));
    }

    fs::path shots;
};

TEST_F(WindowManager, StartedInTheTrayRipristinaShowsTheArrangedWindows)
{
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) << "no tray host";
    setTrayStart(true);
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_FALSE(app->main().isVisible()); // in the tray

    ASSERT_NO_FATAL_FAILURE(ripristinaFromTheIconMenu());
    ASSERT_NO_FATAL_FAILURE(waitShown());
    EXPECT_FALSE(app->main().isMaximized());
    EXPECT_NE(app->main().frameGeometry(), app->main().geometry()); // framed
    EXPECT_TRUE(app->main().screen()->availableGeometry().contains(app->main().frameGeometry()));
    expectArranged("after Ripristina");
    expectMarksTheWindowShown("after Ripristina");
    screenshot("tray-ripristina-marked");
    clickEachMenuEntry("tray-ripristina");

    // The cube grid, in front after the fourth entry: End and Home, pressed on the keyboard,
    // reach the last and the first cube.
    auto* grid = app->cubes().flgCubi();
    ASSERT_NE(grid, nullptr);
    ASSERT_GE(grid->model().rows(), 3);
    clickAt(grid->mapToGlobal(QPoint(10, 30))); // on a name: no choice changes
    ASSERT_TRUE(waitFor([&] { return grid->hasFocus(); })) << "the grid has not the focus";
    auto& cells = grid->model();
    xdotool({"key", "End"});
    EXPECT_TRUE(waitFor([&] { return cells.cursorRow() == cells.rows(); })) << cells.cursorRow();
    screenshot("cube-grid-end");
    xdotool({"key", "Home"});
    const int firstRow = std::min(cells.fixedrows(), cells.rows()) + 1;
    const int firstCol = std::min(cells.fixedcols(), cells.cols()) + 1;
    EXPECT_TRUE(waitFor([&] { return cells.cursorRow() == firstRow; })) << cells.cursorRow();
    xdotool({"key", "ctrl+End"});
    EXPECT_TRUE(waitFor([&] { return cells.cursorRow() == cells.rows() && cells.cursorCol() == cells.cols(); }))
        << cells.cursorRow() << "." << cells.cursorCol();
    xdotool({"key", "ctrl+Home"});
    EXPECT_TRUE(waitFor([&] { return cells.cursorRow() == firstRow && cells.cursorCol() == firstCol; }))
        << cells.cursorRow() << "." << cells.cursorCol();

    // The wizard, opened from the menu and cancelled: the menu marks again the window shown.
    auto* button = app->main().menuButton();
    if (!button->model().menuVisible())
        clickAt(button->mapToGlobal(button->rect().center()));
    ASSERT_TRUE(waitFor([&] { return button->model().menuVisible(); }));
    QWidget* drop = button->dropDown();
    int first = -1, last = -1;
    for (int y = 0; y < drop->height(); ++y)
        if (button->model().itemAt(y * flatui::kTwipsPerPixel) == 5)
            last = y, first = first < 0 ? y : first;
    ASSERT_GE(first, 0);
    bool cancelled = false;
    std::function<void(int)> cancel = [&](int rounds) {
        QTimer::singleShot(50, [&, rounds] {
            auto* wizard = QApplication::activeModalWidget();
            if (!wizard || wizard != &app->wizard()) {
                if (rounds > 0)
                    cancel(rounds - 1);
                return;
            }
            screenshot("wizard-open");
            app->wizard().reject();
            cancelled = true;
        });
    };
    cancel(100);
    clickAt(drop->mapToGlobal(QPoint(drop->width() / 2, (first + last) / 2)));
    ASSERT_TRUE(waitFor([&] { return cancelled; })) << "the wizard did not open";
    // The pointer leaves the list, so no hover lights the wizard's entry again.
    const QPoint away = app->runWindow().mapToGlobal(app->runWindow().rect().center());
    const QPoint device = devicePoint(away);
    xdotool({"mousemove", QString::number(device.x()), QString::number(device.y())});
    settle();
    expectMarksTheWindowShown("after the wizard was cancelled");
    screenshot("wizard-cancelled-marked");

    // The Moduli menu opens its windows too.
    QAction* estrazione = app->main().findChild<QAction*>("mModuli1");
    ASSERT_NE(estrazione, nullptr);
    estrazione->trigger();
    EXPECT_TRUE(waitFor([&] {
        return app->main().area().activeSubWindow() == dialogs::subWindowOf(app->runWindow()) &&
               app->main().menuButton()->model().MenuSelected() == 1;
    })) << "marked "
        << app->main().menuButton()->model().MenuSelected();
}

TEST_F(WindowManager, MaximizedMinimizedThenRipristinaShowsTheArrangedWindows)
{
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); })) << "no tray host";
    setTrayStart(true);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NE(tray(), nullptr);
    ASSERT_TRUE(waitFor([&] { return tray()->geometry().isValid(); }));

    // A left click on the icon: maximized, the run window in front.
    clickAt(tray()->geometry().center());
    ASSERT_TRUE(waitFor([&] { return app->main().isVisible() && app->main().isMaximized(); }));
    ASSERT_NO_FATAL_FAILURE(waitShown());
    expectArranged("maximized");
    const QSize maximized = app->main().size();

    // The window manager minimizes it: it goes to the tray.
    xdotool({"windowminimize", QString::number(app->main().winId())});
    ASSERT_TRUE(waitFor([&] { return !app->main().isVisible(); })) << "minimized, still on screen";
    settle();

    ASSERT_NO_FATAL_FAILURE(ripristinaFromTheIconMenu());
    ASSERT_NO_FATAL_FAILURE(waitShown());
    EXPECT_FALSE(app->main().isMaximized());
    EXPECT_LT(app->main().height(), maximized.height());
    EXPECT_TRUE(app->main().screen()->availableGeometry().contains(app->main().frameGeometry()));
    expectArranged("after maximize, minimize, Ripristina");
    // The run window's lower box and date line are inside the window.
    QWidget& run = app->runWindow();
    EXPECT_LE(run.height(), app->main().area().viewport()->height());
    clickEachMenuEntry("tray-max-min-ripristina");
}

TEST_F(WindowManager, TheWindowManagersRestoreShowsTheArrangedWindows)
{
    // Without the tray start the window stays in the window manager's hands when minimized.
    setTrayStart(false);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(waitShown());
    const QString id = QString::number(app->main().winId());
    xdotool({"windowsize", "--sync", id, "900", "600"});
    xdotool({"windowminimize", id});
    ASSERT_TRUE(waitFor([&] { return app->main().isMinimized(); }));
    settle();
    // Changed while minimized: the arrangement must follow when it comes back.
    app->main().resize(1000, 650);
    settle();
    xdotool({"windowactivate", "--sync", id});
    ASSERT_TRUE(waitFor([&] { return !app->main().isMinimized() && app->main().isVisible(); }));
    settle();
    expectArranged("after the window manager's restore");
    screenshot("wm-restore");
}

TEST_F(WindowManager, MainWindowFrameFitsTheAvailableAreaBesideThePanel)
{
    // Run at 125 % on a 1280 x 800 screen (QT_SCALE_FACTOR): 1000 x 680 and its frame do not fit.
    setTrayStart(false);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(waitShown());
    settle(500);
    mdiGlobal& main = app->main();
    const QRect avail = main.screen()->availableGeometry();
    EXPECT_LT(avail.height(), main.screen()->geometry().height()) << "no panel reserves its strip";
    const QRect frame = main.frameGeometry();
    EXPECT_TRUE(avail.contains(frame)) << "frame " << frame.width() << "x" << frame.height() << "+" << frame.x() << "+"
                                       << frame.y() << " in " << avail.width() << "x" << avail.height() << "+"
                                       << avail.x() << "+" << avail.y() << "; window " << main.width() << "x"
                                       << main.height() << "+" << main.x() << "+" << main.y();
    EXPECT_GT(frame.top(), main.screen()->geometry().top() - 1);
    screenshot("fit-scaled-main");

    // "Conferma" of the options, "Aggiorna" and "Salva" of the cube window: on screen, inside the
    // window and its area, not scrolled away.
    const std::pair<QWidget*, const char*> buttons[] = {
        {&app->options(), "flbConferma"}, {&app->cubes(), "flbAggiorna"}, {&app->cubes(), "flbSalva"}};
    for (const auto& [window, name] : buttons) {
        SCOPED_TRACE(name);
        app->main().area().setActiveSubWindow(dialogs::subWindowOf(*window));
        settle(100);
        auto* button = window->findChild<QWidget*>(name);
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isVisible());
        const QRect onScreen(button->mapToGlobal(QPoint(0, 0)), button->size());
        QWidget* vp = main.area().viewport();
        const QRect area(vp->mapToGlobal(QPoint(0, 0)), vp->size());
        EXPECT_TRUE(area.contains(onScreen));
        EXPECT_TRUE(avail.contains(onScreen));
        auto* scroll = qobject_cast<QScrollArea*>(window->parentWidget()->parentWidget());
        ASSERT_NE(scroll, nullptr);
        const QRect seen(scroll->viewport()->mapToGlobal(QPoint(0, 0)), scroll->viewport()->size());
        EXPECT_TRUE(seen.contains(onScreen));
        screenshot(std::string("fit-scaled-") + name);
    }
}

/// The columns of a title bar that hold anything but its background: per row, the most
/// frequent colour is the background. Columns past the frame (the black desktop, where a
/// scaled frame's edge is rounded) are left out.
int inkColumns(const QImage& bar)
{
    std::vector<bool> ink(static_cast<std::size_t>(bar.width()), false);
    const auto desktop = [&](int x) {
        const QRgb p = bar.pixel(x, bar.height() / 2);
        return qRed(p) + qGreen(p) + qBlue(p) < 30;
    };
    for (int y = 0; y < bar.height(); ++y) {
        std::map<QRgb, int> seen;
        for (int x = 0; x < bar.width(); ++x)
            ++seen[bar.pixel(x, y)];
        QRgb bg = 0;
        int most = -1;
        for (const auto& [rgb, n] : seen)
            if (n > most)
                bg = rgb, most = n;
        for (int x = 0; x < bar.width(); ++x) {
            if (desktop(x))
                continue;
            const QRgb p = bar.pixel(x, y);
            if (std::abs(qRed(p) - qRed(bg)) + std::abs(qGreen(p) - qGreen(bg)) + std::abs(qBlue(p) - qBlue(bg)) > 60)
                ink[static_cast<std::size_t>(x)] = true;
        }
    }
    return static_cast<int>(std::count(ink.begin(), ink.end(), true));
}

TEST_F(WindowManager, PasswordPromptShowsItsWholeTitleAsTheWindowManagerDrawsIt)
{
    setTrayStart(false);
    ASSERT_NO_FATAL_FAILURE(start());
    dialogs::frmLogin login(&app->main());
    struct Title {
        const char* caption;
        const char* shot; ///< names the screenshots
    };
    const Title titles[] = {{"Cambio password di sistema per accesso Bus&Task", "sistema"},
                            {"Cambio password dell'operatore per accesso Bus&Task", "operatore"}};
    for (const Title& title : titles) {
        SCOPED_TRACE(title.caption);
        // The title bar as the window manager draws it at the prompt's own width, then at a width
        // where nothing can be cut: the same ink, so nothing was left out.
        std::vector<int> inks;
        std::vector<int> widths;
        for (const int extra : {0, 500}) {
            QTimer::singleShot(0, [&, extra] {
                // Whatever happens here, the prompt is answered and ShowMe returns.
                QAbstractButton* cancel = login.findChild<QAbstractButton*>("cmdCancel");
                QRect frame;
                const bool framed = waitFor([&] { return login.isVisible() && !(frame = xFrame(login)).isEmpty(); });
                EXPECT_TRUE(framed) << "the prompt was not framed";
                if (framed && extra) {
                    const int before = frame.width();
                    login.resize(login.width() + extra, login.height());
                    EXPECT_TRUE(waitFor([&] { return (frame = xFrame(login)).width() > before + extra / 2; }))
                        << before << " -> " << frame.width();
                }
                if (framed) {
                    settle(400);
                    frame = xFrame(login);
                    const double dpr = qApp->devicePixelRatio();
                    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
                        0, int(frame.x() / dpr), int(frame.y() / dpr), int(frame.width() / dpr),
                        int(frameExtents(login).value_or(QMargins()).top() / dpr));
                    shot.save(QString::fromStdString(
                        (shots / (std::string("frmLogin-title-") + title.shot + (extra ? "-wide" : "") + ".png"))
                            .string()));
                    inks.push_back(inkColumns(shot.toImage()));
                    widths.push_back(frame.width());
                }
                cancel->click();
            });
            EXPECT_EQ(login.ShowMe(title.caption), "");
        }
        ASSERT_EQ(inks.size(), 2u);
        EXPECT_GE(inks[0], inks[1] - 2) << "title cut at a frame " << widths[0] << " px wide";
    }
}

} // namespace
} // namespace zs::shell

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
