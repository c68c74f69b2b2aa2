// The shell's small windows and services offscreen, on fake timers: the message boxes (their
// answers and the bound of a scheduled run), the pop-up notice's countdown, the splash
// sequence, the secondary options saving when they lose the focus, and remote assistance
// started from its button with the "vnchost" setting.

#include "ArgvRecording.h"
#include "dialogs/qt/DialogLayout.h"

#include "flatui/widgets/FlatWidgets.h"
#include "program/DesktopIntegration.h"
#include "program/testsupport/ShellDoubles.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/qt/frmSplash.h"
#include "shell/run/SupportOnline.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <sstream>
#include <unistd.h>

namespace zs::shell {

// The foundation's names used here.
using program::autostartEntryPath;
using program::MessageAnswer;
using program::MessageButtons;
using program::MessageIcon;
namespace {

namespace fs = std::filesystem;

/// A repeating timer the test ticks by hand: one tick is one interval of the fake clock.
struct FakeIntervalTimer : IntervalTimer {
    void start(int ms, std::function<void()> t) override { interval = ms, tick = std::move(t), on = true; }
    void stop() override { on = false; }
    bool active() const override { return on; }
    void advance(int ticks)
    {
        for (int i = 0; i < ticks && on; ++i)
            tick();
    }
    int interval = 0;
    std::function<void()> tick;
    bool on = false;
};

// --- Message boxes -----------------------------------------------------------------------

/// Presses `button` on the next message box once it is shown.
void pressWhenShown(QMessageBox::StandardButton button, int rounds = 200)
{
    QTimer::singleShot(0, [button, rounds] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (rounds > 0)
                pressWhenShown(button, rounds - 1);
            return;
        }
        QAbstractButton* b = box->button(button);
        if (!b) // Abort, Retry, Ignore are buttons of the box's own, in their own order
            b = box->findChild<QAbstractButton*>(QString("button%1").arg(static_cast<int>(button)));
        ASSERT_NE(b, nullptr);
        b->click();
    });
}

TEST(QtMessageService, AnAnsweredBoxGivesTheButtonPressed)
{
    struct Case {
        const char* name;
        MessageButtons buttons;
        QMessageBox::StandardButton press;
        MessageAnswer expected;
    } cases[] = {{"retry", MessageButtons::RetryCancel, QMessageBox::Retry, MessageAnswer::Retry},
                 {"cancel", MessageButtons::RetryCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
                 {"yes", MessageButtons::YesNo, QMessageBox::Yes, MessageAnswer::Yes},
                 {"no", MessageButtons::YesNo, QMessageBox::No, MessageAnswer::No},
                 {"abort", MessageButtons::AbortRetryIgnore, QMessageBox::Abort, MessageAnswer::Abort},
                 {"retry of three", MessageButtons::AbortRetryIgnore, QMessageBox::Retry, MessageAnswer::Retry},
                 {"ignore", MessageButtons::AbortRetryIgnore, QMessageBox::Ignore, MessageAnswer::Ignore}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtMessageService messages;
        int armed = 0;
        messages.setTimerStarter([&](int, std::function<void()>) { ++armed; });
        pressWhenShown(c.press);
        EXPECT_EQ(
            messages.ask("database is locked\r\nVuoi riprovare?", MessageIcon::Information, "Attenzione.", c.buttons),
            c.expected);
        EXPECT_EQ(armed, 0); // somebody is there: no bound
    }
}

TEST(QtMessageService, AbortRetryIgnoreStandInThatOrderAndEscapeAborts)
{
    QtMessageService messages;
    QStringList order;
    QTimer::singleShot(0, [&order] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        auto buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (auto* b : buttons)
            order << b->text();
        if (const char* dir = std::getenv("ZS_SCREENSHOT_DIR"))
            box->grab().save(QString(dir) + "/abort-retry-ignore.png");
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &esc);
    });
    EXPECT_EQ(messages.ask("Impossibile salvare il file", MessageIcon::Critical, "Attenzione.",
                           MessageButtons::AbortRetryIgnore),
              MessageAnswer::Abort);
    EXPECT_EQ(order, (QStringList{"Interrompi", "Riprova", "Ignora"}));
}

TEST(QtMessageService, InAScheduledRunABoxEndsAfterItsBoundWithTheAnswerThatStopsWaiting)
{
    QtMessageService messages;
    messages.setUnattended(true);
    std::vector<int> bounds;
    // The fake clock reaches the bound as soon as the box is up.
    messages.setTimerStarter([&](int ms, std::function<void()> fire) {
        bounds.push_back(ms);
        QTimer::singleShot(0, std::move(fire));
    });
    EXPECT_EQ(messages.ask("occupato\r\nVuoi riprovare?", MessageIcon::Information, "Attenzione.",
                           MessageButtons::RetryCancel),
              MessageAnswer::Cancel);
    EXPECT_EQ(messages.ask("Continuare?", MessageIcon::Question, "Attenzione.", MessageButtons::YesNo),
              MessageAnswer::No);
    messages.show("Avviso", MessageIcon::Information, "Attenzione.");
    EXPECT_EQ(bounds, (std::vector<int>{60000, 60000, 60000}));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(QtMessageService, TheAnswerHookAnswersAndTheRecordingHookStopsTheWaiting)
{
    QtMessageService messages;
    std::vector<std::string> seen;
    messages.setHook([&](const QtMessageService::Shown& s) { seen.push_back(s.title + "|" + s.text); });
    EXPECT_EQ(messages.ask("q", MessageIcon::Question, "T", MessageButtons::RetryCancel), MessageAnswer::Cancel);
    messages.setAnswerHook([](const QtMessageService::Shown&) { return MessageAnswer::Retry; });
    EXPECT_EQ(messages.ask("r", MessageIcon::Question, "T", MessageButtons::RetryCancel), MessageAnswer::Retry);
    EXPECT_EQ(seen, (std::vector<std::string>{"T|q"}));
}

// --- Pop-up notice -------------------------------------------------------------------------

struct Notice : ::testing::Test {
    Notice()
    {
        auto t = std::make_unique<FakeIntervalTimer>();
        timer = t.get();
        alert = std::make_unique<frmAlert>(std::move(t));
    }
    FakeIntervalTimer* timer;
    std::unique_ptr<frmAlert> alert;
};

TEST_F(Notice, TheMessageIsArialBoldOfEightAndAQuarterPointsInsideAThinBorder)
{
    alert->ShowMessage("Assistenza in corso");
    const auto* label = alert->findChild<QLabel*>("lblAlert");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->font().family(), "Arial");
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 8.25);
    EXPECT_TRUE(label->font().bold());
    // The client area keeps its 415 × 76 pixels inside a one-pixel frame that is drawn.
    EXPECT_EQ(alert->size(), QSize(417, 78));
    const QImage shot = alert->grab().toImage();
    if (const char* dir = std::getenv("ZS_SCREENSHOT_DIR"))
        shot.save(QString(dir) + "/frmAlert.png");
    const QColor back(224, 255, 239);
    for (const QPoint p : {QPoint(0, 0), QPoint(416, 40), QPoint(200, 77), QPoint(0, 40)})
        EXPECT_EQ(shot.pixelColor(p), QColor(0, 0, 0)) << p.x() << "," << p.y();
    EXPECT_EQ(shot.pixelColor(2, 2), back);
    EXPECT_EQ(shot.pixelColor(414, 75), back);
}

TEST_F(Notice, AMessageAloneStaysUntilDoubleClicked)
{
    alert->ShowMessage("Messaggio");
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), "Messaggio");
    EXPECT_FALSE(alert->counting());
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(alert.get(), &dbl);
    EXPECT_FALSE(alert->isVisible());
}

TEST_F(Notice, TheCountdownHidesTheNoticeAtItsLimit)
{
    struct Case {
        const char* name;
        int seconds;
        int ticksStillShown;
    } cases[] = {{"300 seconds", 300, 299},
                 {"one second", 1, 0},
                 {"zero hides at the first tick", 0, 0},
                 {"negative hides at the first tick", -5, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alert->ShowMessage("x");
        alert->StartTimer(c.seconds);
        EXPECT_EQ(timer->interval, 1000);
        timer->advance(c.ticksStillShown);
        EXPECT_TRUE(alert->isVisible());
        timer->advance(1);
        EXPECT_FALSE(alert->isVisible());
        EXPECT_FALSE(alert->counting());
    }
}

TEST_F(Notice, ADoubleClickBeforeTheLimitStopsTheCountdown)
{
    alert->ShowMessage("x");
    alert->StartTimer(300);
    timer->advance(10);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(alert.get(), &dbl);
    EXPECT_FALSE(alert->isVisible());
    EXPECT_FALSE(alert->counting());
    // A new message after it starts no countdown of its own.
    alert->ShowMessage("y");
    timer->advance(1000);
    EXPECT_TRUE(alert->isVisible());
    alert->hide();
}

// --- The program on the demo folder --------------------------------------------------------

struct ShellOnDemo : test::DemoProgramTest {
    ShellApplication::Options options()
    {
        ShellApplication::Options o;
        o.pause = [this](int ms) {
            pauses.push_back(ms);
            if (ms >= 1000 && fs::exists(home / "calls.txt"))
                zs::test::awaitRecordedCalls(home / "calls.txt", pauses.size());
            QCoreApplication::processEvents();
        };
        o.timers = [this] {
            auto t = std::make_unique<FakeIntervalTimer>();
            alertTimer = t.get();
            return t;
        };
        return o;
    }

    std::vector<int> pauses;
    FakeIntervalTimer* alertTimer = nullptr;
};

// Maximized from the icon, minimized into the tray, then "Ripristina": the window has its
// normal size and every child window fills the area again, none keeps the maximized size.
TEST_F(ShellOnDemo, RipristinaAfterMaximizedArrangesTheWindowsAtTheNormalSize)
{
    create(options());
    ASSERT_TRUE(app->load());
    auto settle = [] {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    };
    settle();
    app->restoreFromTray(ShellApplication::TrayRestore::click);
    settle();
    ASSERT_TRUE(app->main().isMaximized());
    const QSize maximized = app->main().area().viewport()->size();
    app->main().showMinimized();
    app->main().hide(); // in the tray
    settle();
    app->restoreFromTray(ShellApplication::TrayRestore::ripristina);
    settle();
    EXPECT_FALSE(app->main().isMaximized());
    const QSize vp = app->main().area().viewport()->size();
    EXPECT_LT(vp.height(), maximized.height());
    for (QMdiSubWindow* sub : app->main().area().subWindowList()) {
        SCOPED_TRACE(sub->objectName().toStdString());
        EXPECT_TRUE(sub->isVisible());
        EXPECT_EQ(sub->geometry(), sub->objectName() == "frmMenuSub" ? QRect(0, 0, 200, vp.height())
                                                                     : QRect(200, 0, vp.width() - 200, vp.height()));
    }
    // The category menu marks the window in front, whichever way it came there.
    EXPECT_EQ(app->main().menuButton()->model().MenuSelected(), 1);
}

// The splash's phases on one clock: Timer1's first tick at 1 s, the fade of 1.5 s, then 2 s
// before the main window loads; the wait is a timer, so the window events go on during it.
TEST_F(ShellOnDemo, SplashTicksAtOneSecondFadesThenWaitsTwoSecondsBeforeTheMainWindow)
{
    std::int64_t now = 0; // ms on the test's clock
    std::vector<std::pair<std::int64_t, std::function<void()>>> due;
    std::vector<std::pair<std::string, std::int64_t>> phases;
    frmSplash* splashPtr = nullptr;
    frmSplash splash(
        {4, 7, 12}, [&](int ms, std::function<void()> fire) { due.emplace_back(now + ms, std::move(fire)); },
        [&](const QImage& picture, int ms) {
            phases.emplace_back("fade " + splashPtr->buildText(), now);
            EXPECT_FALSE(picture.isNull());
            EXPECT_FALSE(splashPtr->barVisible());
            now += ms; // the fade takes its time
            phases.emplace_back("faded", now);
        });
    splashPtr = &splash;
    std::vector<int> progress;
    bool loaded = false;
    splash.start([&] {
        phases.emplace_back("load", now);
        EXPECT_TRUE(splashPtr->barVisible());
        auto o = options();
        o.progress = [&](int percent) {
            progress.push_back(percent);
            splash.Progress(percent);
        };
        create(o);
        loaded = app->load();
        splash.close();
    });
    EXPECT_TRUE(splash.isVisible());
    // Centred on the screen by itself, with no window manager to place it.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect at = splash.geometry();
    EXPECT_LE(std::abs((at.left() - screen.left()) - (screen.right() - at.right())), 1) << at.x();
    EXPECT_LE(std::abs((at.top() - screen.top()) - (screen.bottom() - at.bottom())), 1) << at.y();
    EXPECT_GT(at.left(), screen.left());
    EXPECT_EQ(splash.buildText(), "");
    /// Fires the earliest pending one-shot, with the clock at its time.
    auto fireNext = [&] {
        ASSERT_EQ(due.size(), 1u);
        auto [at, fire] = std::move(due.front());
        due.clear();
        now = at;
        fire();
    };
    fireNext(); // Timer1's first tick: the build, the fade, then the wait is set
    EXPECT_EQ(splash.buildText(), "Build: 4.7.12");
    EXPECT_FALSE(splash.barVisible());
    EXPECT_EQ(app, nullptr); // back in the event loop: the main window waits for its two seconds
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due.front().first, 4500);
    fireNext();
    EXPECT_EQ(phases, (std::vector<std::pair<std::string, std::int64_t>>{
                          {"fade Build: 4.7.12", 1000}, {"faded", 2500}, {"load", 4500}}));
    ASSERT_NE(app, nullptr);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(progress, (std::vector<int>{0, 15, 30, 60, 75, 100}));
    EXPECT_EQ(splash.progress(), 100);
    EXPECT_EQ(app->loadOrder(),
              (std::vector<std::string>{"frmCubi", "frmMenu", "frmMain", "frmSchedulazione", "frmOpzioni"}));
    EXPECT_TRUE(app->main().isVisible());
    EXPECT_FALSE(splash.isVisible());
    EXPECT_TRUE(due.empty());
}

TEST_F(ShellOnDemo, ComingBackFromTheTrayOpensTheCategoryMenu)
{
    create(options());
    ASSERT_TRUE(app->load());
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    auto& menu = app->main().menuButton()->model();
    ASSERT_TRUE(menu.menuVisible()); // a normal start opens it
    for (const auto how : {ShellApplication::TrayRestore::click, ShellApplication::TrayRestore::ripristina}) {
        SCOPED_TRACE(how == ShellApplication::TrayRestore::click ? "click on the icon" : "Ripristina");
        // In the tray, as after a start there: hidden, the menu closed.
        menu.TurnOff();
        app->main().hide();
        ASSERT_FALSE(menu.menuVisible());
        app->restoreFromTray(how);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        EXPECT_TRUE(app->main().isVisible());
        EXPECT_EQ(app->main().isMaximized(), how == ShellApplication::TrayRestore::click);
        EXPECT_TRUE(menu.menuVisible());
        ASSERT_NE(app->main().menuButton()->dropDown(), nullptr);
        EXPECT_TRUE(app->main().menuButton()->dropDown()->isVisible());
    }
}

TEST_F(ShellOnDemo, SecondaryOptionsSaveTheirFieldsWhenTheyLoseTheFocus)
{
    create(options());
    ASSERT_TRUE(app->load());
    auto& window = app->secondaryWindow();
    auto& area = app->main().area();
    auto* own = dialogs::subWindowOf(window);
    auto* run = dialogs::subWindowOf(app->runWindow());
    ASSERT_TRUE(own && run);
    area.setActiveSubWindow(own);
    QCoreApplication::processEvents();

    window.findChild<QCheckBox*>("chkStartup")->setChecked(true);
    window.findChild<QLineEdit*>("txtMese")->setText("");
    window.findChild<QRadioButton*>("optErrors0")->setChecked(true);
    window.findChild<QRadioButton*>("optErrorsType0")->setChecked(true);
    window.findChild<QLineEdit*>("txtSmtp")->setText("smtp.cliente.example:2525");
    window.findChild<QCheckBox*>("chkAutentifica")->setChecked(true);
    window.findChild<QLineEdit*>("txtUsername")->setText("operatore");
    window.findChild<QLineEdit*>("txtPwd")->setText("segreta");
    const auto before = test::readFile(home / "zentrikServer.xml");

    area.setActiveSubWindow(run); // the secondary options lose the focus
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();

    EXPECT_EQ(window.findChild<QLineEdit*>("txtMese")->text(), "1");
    const std::string after = test::readFile(home / "zentrikServer.xml");
    ASSERT_NE(after, before);
    auto doc = xml::Document::loadFile(home / "zentrikServer.xml");
    ASSERT_TRUE(doc);
    auto value = [&](const char* name) {
        const xml::Element e = doc->root().child(name);
        return e ? e.text() : std::string("<missing>");
    };
    EXPECT_EQ(value("startup"), "1");
    EXPECT_EQ(value("deletelogs"), "1");
    EXPECT_EQ(value("notifica"), "0");
    EXPECT_EQ(value("tiponotifica"), "0");
    EXPECT_EQ(value("smtpserver"), "smtp.cliente.example:2525");
    EXPECT_EQ(value("smtplogin"), "1");
    EXPECT_EQ(value("smtpuser"), "operatore");
    EXPECT_NE(value("smtppwd"), "segreta"); // stored encoded
    EXPECT_EQ(after.find("segreta"), std::string::npos);
    EXPECT_TRUE(fs::exists(autostartEntryPath(home)));
    EXPECT_EQ(fs::status(home / "zentrikServer.xml").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ShellOnDemo, AssistanceButtonsStartTheServerWithTheVnchostSettingAndShowTheNotice)
{
    test::installArgvRecorder(home, "winvnc.exe");
    {
        std::string text = test::readFile(home / "zentrikServer.xml");
        const auto end = text.rfind("</");
        ASSERT_NE(end, std::string::npos);
        text.insert(end, "<vnchost>help.cliente.example</vnchost>\n");
        test::writeFile(home / "zentrikServer.xml", text);
    }
    create(options());
    ASSERT_TRUE(app->load());

    auto button = [&](const char* name) { return app->secondaryWindow().findChild<flatui::FlatButtonWidget*>(name); };
    pauses.clear();
    button("flbAssistenza")->model().click();
    EXPECT_EQ(pauses, (std::vector<int>{1000, 1000, 0, 0}));
    auto expected = std::vector<std::string>{
        "winvnc.exe <-kill>", "winvnc.exe <-run> <-autoreconnect>", "winvnc.exe <-connect> <help.cliente.example>",
        std::string("winvnc.exe <-connect> <") + SupportOnline::kFallbackHost + ">"};
    EXPECT_EQ(test::recordedCalls(home / "calls.txt"), expected);
    auto& alert = app->alert();
    EXPECT_TRUE(alert.isVisible());
    EXPECT_EQ(alert.text(), SupportOnline::kStartText);
    EXPECT_EQ(alert.background(), QColor(255, 200, 200));
    EXPECT_FALSE(alert.counting());

    button("flbStopAssistenza")->model().click();
    expected.push_back("winvnc.exe <-kill>");
    EXPECT_EQ(test::recordedCalls(home / "calls.txt"), expected);
    EXPECT_EQ(alert.text(), SupportOnline::kStopText);
    EXPECT_EQ(alert.background(), QColor(224, 255, 239));
    ASSERT_NE(alertTimer, nullptr);
    alertTimer->advance(299);
    EXPECT_TRUE(alert.isVisible());
    alertTimer->advance(1);
    EXPECT_FALSE(alert.isVisible());
    EXPECT_TRUE(shown.empty()) << shown.front();
}

TEST_F(ShellOnDemo, AssistanceWithoutTheServerSaysSo)
{
    {
        const test::ScopedEnvVar path("PATH", (env.root() / "emptybin").string()); // no x11vnc of the machine either
        create(options());
        ASSERT_TRUE(app->load());
        app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbAssistenza")->model().click();
        app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbStopAssistenza")->model().click();
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"Impossibile richiedere l'assistenza online perchè non è installato "
                                               "il componente necessario."}));
    EXPECT_FALSE(app->alert().isVisible());
    EXPECT_TRUE(pauses.empty());
}

} // namespace
} // namespace zs::shell
