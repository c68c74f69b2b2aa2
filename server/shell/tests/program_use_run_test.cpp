// The assembled program on a copy of the demo folder, run by the operator: how long a run took,
// a scheduled run falling due during a run started by hand, and a desktop without a tray.

#include "ProgramUseSupport.h"

#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/frmSchedulazione.h"

#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <regex>

namespace zs::shell {
namespace {

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

} // namespace
} // namespace zs::shell
