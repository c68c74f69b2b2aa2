// One program folder, two runners: a second zs-extract, the program and a scheduled run meet a
// folder another run holds, end or wait at once, and change nothing.

#include "ProgramUseSupport.h"

#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "program/RunLock.h"
#include "scheduler/Operazione.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/frmSchedulazione.h"
#include "text/ItalianFormat.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <fcntl.h>
#ifdef ZS_HAVE_XCB
#include <xcb/xcb.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

namespace zs::shell {
namespace {

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

/// The day-log line of a scheduled extraction that waits for `home`, which another run holds.
std::string scheduledWaitLine(const fs::path& home)
{
    return "Estrazione in attesa: un'altra elaborazione e' in corso sulla cartella del programma " + home.string() +
           ". Sara' avviata appena la cartella sara' libera.";
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
    const std::string waitLine = scheduledWaitLine(home);
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

// Stop, "Esci" and the window's close during the wait: the run is dropped at once, said once in
// the day log; the once-only operation is not spent, so the next start finds it due and runs it.
TEST_F(ProgramInUse, AScheduledRunWaitingForABusyFolderIsDroppedByStopOrTheCloseAndStaysDue)
{
    addSetting(home, "<pause>1500</pause>"); // every step waits 1.5 s first: the cron run lasts
    const time::DateTime tomorrow = time::systemClock().now().addDays(1);
    const std::string waitLine = scheduledWaitLine(home);
    const std::string stillBusy =
        ": la cartella del programma " + home.string() + " era ancora occupata da un'altra elaborazione.";
    struct Case {
        const char* how;
        std::string line;
        std::function<void(ShellApplication&)> act;
    };
    const Case cases[] = {
        {"Stop", "Estrazione pianificata annullata dall'utente" + stillBusy,
         [](ShellApplication& a) { a.runWindow().findChild<QToolButton*>("cmdStop")->click(); }},
        {"Esci", "Estrazione pianificata annullata alla chiusura del programma" + stillBusy,
         [](ShellApplication& a) { a.main().findChild<QAction*>("mEsci")->trigger(); }},
        {"the window's close", "Estrazione pianificata annullata alla chiusura del programma" + stillBusy,
         [](ShellApplication& a) { a.main().close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        test::writeFile(home / "cadenzo.xml", oneOperationStore(tomorrow, "Una volta sola"));
        create();
        ASSERT_TRUE(app->load());
        auto& scheduler = app->secondaryWindow().CadenzoControl().scheduler();
        ASSERT_EQ(scheduler.state().colOperazioni.size(), 1u);
        const time::DateTime due = time::systemClock().now().addSeconds(-60);
        scheduler.state().colOperazioni[0]->setProssimoAppuntamento(due);

        const std::string logBefore = dayLogText(home);
        process::ChildProcess cron;
        const fs::path cronOutput = env.root() / "cron.txt";
        ASSERT_NO_FATAL_FAILURE(startSlowRun(cron, home, cronOutput));

        // Once the run waits, Stop is the one control button it offers; then the operator acts.
        bool stopEnabled = false, pauseEnabled = true, playEnabled = true;
        QElapsedTimer sinceAct;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (sinceAct.isValid() || dayLogText(home).substr(logBefore.size()).find(waitLine) == std::string::npos)
                return;
            stopEnabled = app->runWindow().findChild<QToolButton*>("cmdStop")->isEnabled();
            pauseEnabled = app->runWindow().findChild<QToolButton*>("cmdPause")->isEnabled();
            playEnabled = app->runWindow().findChild<QToolButton*>("cmdPlay")->isEnabled();
            sinceAct.start();
            c.act(*app);
        });
        watch.start(20);
        app->secondaryWindow().CadenzoControl().pollNow();
        watch.stop();
        ASSERT_TRUE(sinceAct.isValid());
        EXPECT_LT(sinceAct.elapsed(), 2000); // the wait ended at its next turn, not with the cron run
        EXPECT_TRUE(cron.running());
        EXPECT_TRUE(stopEnabled);
        EXPECT_FALSE(pauseEnabled);
        EXPECT_FALSE(playEnabled);
        EXPECT_FALSE(app->runWindow().findChild<QToolButton*>("cmdStop")->isEnabled());

        std::string log = dayLogText(home).substr(logBefore.size());
        EXPECT_EQ(occurrences(log, c.line), 1u) << log;
        EXPECT_EQ(occurrences(log, "Inizio estrazione dati"), 1u) << log; // the cron run's alone
        // Not spent: the store holds it enabled, due when it fell due.
        std::string store = test::readFile(home / "cadenzo.xml");
        EXPECT_NE(store.find("<abilitato>1</abilitato>"), std::string::npos) << store;
        EXPECT_NE(store.find("<data>" + text::formatDate(due) + "</data>"), std::string::npos) << store;
        // This session does not raise it again.
        app->secondaryWindow().CadenzoControl().pollNow();
        log = dayLogText(home).substr(logBefore.size());
        EXPECT_EQ(occurrences(log, waitLine), 1u) << log;
        EXPECT_EQ(cron.waitFor(60000), std::optional<int>(0)) << test::readFile(cronOutput);
        app.reset();

        // The next start finds it due, as any missed one, and runs it; then it is spent.
        create();
        ASSERT_TRUE(app->load());
        auto& next = app->secondaryWindow().CadenzoControl().scheduler();
        ASSERT_EQ(next.state().colOperazioni.size(), 1u);
        EXPECT_TRUE(next.state().colOperazioni[0]->Abilitato());
        EXPECT_LE(next.state().colOperazioni[0]->ProssimoAppuntamento(), time::systemClock().now());
        app->secondaryWindow().CadenzoControl().pollNow();
        log = dayLogText(home).substr(logBefore.size());
        EXPECT_EQ(occurrences(log, "Inizio estrazione dati"), 2u) << log;
        EXPECT_NE(topLine("Elaborazione eseguita correttamente"), nullptr) << ::testing::PrintToString(lines());
        store = test::readFile(home / "cadenzo.xml");
        EXPECT_NE(store.find("<abilitato>0</abilitato>"), std::string::npos) << store;
        app.reset();
    }
}

#ifdef ZS_HAVE_XCB
/// Asks the window `window` of the X server on `display` to close, as a window manager's close
/// button does (WM_DELETE_WINDOW).
bool closeXWindow(const std::string& display, std::uint32_t window)
{
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return a;
    };
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = atom("WM_PROTOCOLS");
    ev.data.data32[0] = atom("WM_DELETE_WINDOW");
    ev.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    const bool ok = xcb_flush(c) > 0;
    xcb_disconnect(c);
    return ok;
}

// The program itself, on an X server: its scheduled run waits for the folder a cron run holds,
// and the operator closes the main window. The process ends at once, and the next start runs.
TEST_F(ProgramInUse, ClosingTheProgramWhileAScheduledRunWaitsEndsTheProcessAndTheNextStartRuns)
{
    ScopedXvfb x(env.root());
    if (x.display.empty() || !process::findProgram("xdotool"))
        GTEST_SKIP() << "no Xvfb or xdotool here";
    // Fell due yesterday: the program's first poll, after its scheduler's start delay (60 s),
    // raises it as a missed one; this process holds the folder as a zs-extract run does.
    const time::DateTime yesterday = time::systemClock().now().addDays(-1);
    test::writeFile(home / "cadenzo.xml", oneOperationStore(yesterday, "Una volta sola"));
    const std::string waitLine = scheduledWaitLine(home);
    std::optional<program::RunLock> other(std::in_place, home);
    ASSERT_TRUE(other->acquired());

    // The X platform plugin's D-Bus library keeps memory to the end of the process: a build with
    // the leak checker must not fail the program's exit status for it.
    const std::vector<std::string> environment = {"ZENTRIK_HOME=" + home.string(), "DISPLAY=" + x.display,
                                                  "QT_QPA_PLATFORM=xcb", "ASAN_OPTIONS=detect_leaks=0:halt_on_error=1"};
    process::ChildProcess server;
    process::ChildOptions o;
    o.outputFile = (env.root() / "server.txt").string();
    o.extraEnvironment = environment;
    ASSERT_TRUE(server.start({ZS_SERVER_PATH}, o));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 120000 && server.running() && dayLogText(home).find(waitLine) == std::string::npos)
        QThread::msleep(100);
    ASSERT_NE(dayLogText(home).find(waitLine), std::string::npos) << dayLogText(home);

    process::RunOptions find;
    find.captureOutput = true;
    find.extraEnvironment = {"DISPLAY=" + x.display};
    const auto found = process::run({"xdotool", "search", "--name", "Quorvane srl"}, find);
    ASSERT_EQ(found.exitCode, 0) << found.output;
    const auto window = static_cast<std::uint32_t>(std::stoul(found.output));
    // Without a window manager a busy X server now and then loses a close: it is asked again
    // until the program ends, as an operator clicks again.
    t.restart();
    std::optional<int> status;
    while (!status && t.elapsed() < 10000) {
        ASSERT_TRUE(closeXWindow(x.display, window));
        status = server.waitFor(500);
    }
    EXPECT_TRUE(status.has_value()) << "the program still runs after its window closed: "
                                    << process::run({"xdotool", "search", "--onlyvisible", "--name", "."}, find).output
                                    << test::readFile(o.outputFile);
    server.terminate(1000);

    const std::string log = dayLogText(home);
    EXPECT_EQ(occurrences(log, "Estrazione pianificata annullata alla chiusura del programma"), 1u) << log;
    EXPECT_EQ(occurrences(log, "Inizio estrazione dati"), 0u) << log;
    EXPECT_NE(test::readFile(home / "cadenzo.xml").find("<abilitato>1</abilitato>"), std::string::npos);

    // The folder free, a new start is no second copy: it runs and ends well.
    other.reset();
    process::RunOptions again;
    again.captureOutput = true;
    again.timeLimit = std::chrono::seconds(120);
    again.extraEnvironment = environment;
    const auto next = process::run({ZS_SERVER_PATH, "--run-once"}, again);
    EXPECT_EQ(next.exitCode, 0) << next.output;
    EXPECT_NE(next.output.find("succeeded"), std::string::npos) << next.output;
    EXPECT_EQ(next.output.find("Un'altra copia"), std::string::npos) << next.output;
    // Still due for the scheduler of that start: the run by hand does not spend it.
    EXPECT_NE(test::readFile(home / "cadenzo.xml").find("<abilitato>1</abilitato>"), std::string::npos);
}
#endif

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

} // namespace
} // namespace zs::shell
