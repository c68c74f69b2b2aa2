// The configuration windows inside the program as main() assembles it, on a copy of demo/: the
// wizard opened from the category menu, the first start without settings, the options
// dialog's save when the operator switches window inside the main window, and the demo's
// cubes processed by the scheduled extraction and by the run window.

#include "../qt/InputEvents.h"
#include "ProgramTestSupport.h"
#include "db/Connection.h"
#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "olap/OlapCatalog.h"
#include "process/Process.h"
#include "program/DesktopIntegration.h"
#include "program/PasswordCodec.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <unistd.h>

namespace zs::dialogs {
namespace {

namespace fs = std::filesystem;
using shell::ShellApplication;

/// Every setting of the database, OLAP and Bus & Task groups, by the wizard's paths.
const char* const kWizardPaths[] = {"ServerType",
                                    "ServerName",
                                    "Database",
                                    "Login",
                                    "Password",
                                    "DatabaseAccess",
                                    "ServerOLAP",
                                    "DatabaseOLAP",
                                    "BusAndTask.computer",
                                    "BusAndTask.systemUserID",
                                    "BusAndTask.systemPassword",
                                    "BusAndTask.operatorUserID",
                                    "BusAndTask.operatorPassword",
                                    "BusAndTask.coDiv"};

using zs::test::settingIn;

std::map<std::string, std::string> wizardSettings(const fs::path& file)
{
    std::map<std::string, std::string> out;
    for (const char* p : kWizardPaths)
        out[p] = settingIn(file, p);
    return out;
}

using zs::test::child;
using zs::test::click;

/// Runs `drive` with the wizard once it is the active modal window; gives up after a number of
/// event rounds, so nothing is left behind for a later test.
void whenWizardShown(std::function<void(frmWizard&)> drive, int rounds = 200)
{
    QTimer::singleShot(0, [drive = std::move(drive), rounds]() mutable {
        auto* wizard = qobject_cast<frmWizard*>(QApplication::activeModalWidget());
        // The keys go where the focus is: drive the wizard once it is shown and has the keyboard,
        // as the operator sees it (the offscreen platform gives it a few events later).
        const QWidget* focus = QApplication::focusWidget();
        const bool ready = wizard && wizard->isActiveWindow() && focus && focus->window() == wizard;
        if (!ready && rounds > 0) {
            whenWizardShown(std::move(drive), rounds - 1);
            return;
        }
        if (!wizard) {
            if (rounds > 0)
                whenWizardShown(std::move(drive), rounds - 1);
            return;
        }
        drive(*wizard);
    });
}

struct ProgramDialogs : zs::test::ProgramFolderTest {
    void create(bool recordMessages = true)
    {
        ShellApplication::Options options;
        options.pause = [](int) {};
        ProgramFolderTest::create(options, recordMessages);
    }
    void menu(int entry)
    {
        automation::Variant args[] = {automation::Variant(entry)};
        app->main().menuButton()->model().events().raise(flatui::MenuButtonControl::Click, args);
        QApplication::processEvents();
    }
    /// The program's first start as main() runs it, with real message boxes, inside the event
    /// loop: its exit status (97 when it went on to run, 98 when it was still running after a
    /// minute).
    int firstStart()
    {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(98); });
        guard.start(60000);
        QTimer::singleShot(0, [this] {
            create(false);
            QApplication::exit(app->load() ? 97 : app->exitStatus());
        });
        const int status = QApplication::exec();
        guard.stop();
        return status;
    }
    fs::path settingsFile() const { return home / "zentrikServer.xml"; }
    /// Empties the program folder, copies the demo into it again and loads a new program on it:
    /// each pass of a test that compares two runs starts from the same files.
    void loadOnAFreshDemo()
    {
        for (const auto& entry : fs::directory_iterator(home))
            fs::remove_all(entry.path());
        copyDemo();
        create();
        ASSERT_TRUE(app->load());
    }
    std::vector<std::string> logLines(bool errorsOnly = false)
    {
        std::vector<std::string> out;
        auto& tree = app->runWindow().tvwLog();
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            auto* item = tree.topLevelItem(i);
            out.push_back(item->text(0).toStdString());
            for (int k = 0; k < item->childCount(); ++k)
                out.push_back("  " + item->child(k)->text(0).toStdString());
        }
        (void)errorsOnly;
        return out;
    }
};

TEST_F(ProgramDialogs, WizardFromTheMenuShowsTheSettingsAndFineKeepsThem)
{
    struct Case {
        const char* name;
        std::string busAndTask; // a BusAndTask element added to the demo's settings, or none
        bool useBusAndTask;
    };
    const Case cases[] = {
        {"the demo as shipped", "", false},
        {"with Bus & Task logins",
         "<BusAndTask computer=\"vevira1\" systemUserID=\"sys\" systemPassword=\"" +
             program::CodificaPassword("Segreto1") + "\" operatorUserID=\"op\" operatorPassword=\"" +
             program::CodificaPassword("op&2") + "\" coDiv=\"01\"/>",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        copyDemo();
        if (!c.busAndTask.empty()) {
            std::string text = zs::test::readFile(settingsFile());
            text.replace(text.find("</zentrikServer>"), 0, "  " + c.busAndTask + "\n");
            zs::test::writeFile(settingsFile(), text);
        }
        const auto before = wizardSettings(settingsFile());
        create();
        ASSERT_TRUE(app->load());

        // First opening: the operator goes to page 4 and cancels there.
        int opened = 0;
        whenWizardShown([&](frmWizard& w) {
            ++opened;
            click(&w, "flbAvanti");
            click(&w, "flbAvanti");
            EXPECT_EQ(w.PassoCorrente(), 4);
            QtPrompts::nextYesNo().push_back(true);
            click(&w, "flbCancella");
        });
        menu(5);
        ASSERT_EQ(opened, 1);

        // Second opening: page 1, the settings in the fields, centred on the screen; four times
        // Avanti, then Fine.
        whenWizardShown([&](frmWizard& w) {
            ++opened;
            EXPECT_EQ(w.PassoCorrente(), 1);
            EXPECT_EQ(child<QLabel>(&w, "lblStep1")->text(), "Passo 1 - Scelta del supporto di estrazione");
            EXPECT_TRUE(child<QRadioButton>(&w, "optStep1_0")->isChecked());
            EXPECT_EQ(child<QLineEdit>(&w, "txtAccess")->text(), "target.db");
            EXPECT_EQ(child<QLineEdit>(&w, "txtserverolap")->text(), "demo");
            EXPECT_EQ(child<QLineEdit>(&w, "txtdbolap")->text(), "Vendite");
            EXPECT_EQ(child<QRadioButton>(&w, "optStep5_0")->isChecked(), c.useBusAndTask);
            const QRect screen = w.screen()->geometry();
            EXPECT_LE(std::abs(w.geometry().center().x() - screen.center().x()), 2);
            EXPECT_LE(std::abs(w.geometry().center().y() - screen.center().y()), 2);
            for (int i = 0; i < 4; ++i) {
                click(&w, "flbAvanti");
                if (w.PassoCorrente() == 5) { // a doubled ampersand shows as one
                    EXPECT_EQ(child<QLabel>(&w, "lblStep1")->text(), "Passo 5 - Impostazioni Bus&Task");
                }
            }
            EXPECT_EQ(w.PassoCorrente(), 6);
            click(&w, "flbfine");
        });
        menu(5);
        ASSERT_EQ(opened, 2);
        EXPECT_TRUE(QtPrompts::nextYesNo().empty());
        EXPECT_TRUE(shown.empty()) << shown.front();

        const auto after = wizardSettings(settingsFile());
        for (const auto& [path, value] : before) {
            SCOPED_TRACE(path);
            if (!value.empty()) {
                EXPECT_EQ(after.at(path), value);
            }
        }
        EXPECT_EQ(after.at("ServerOLAP"), "demo");
        EXPECT_EQ(after.at("DatabaseAccess"), "target.db");
        app.reset();
    }
}

/// Closes the wizard a failed drive left open, so the test goes on to its checks.
void closeIfOpen(frmWizard& w)
{
    if (w.isVisible()) {
        ADD_FAILURE() << "the wizard is still open on page " << w.PassoCorrente();
        w.reject();
    }
}

/// The answer to the wizard's cancel question as the box shows it, checked on the way: its text,
/// title, information icon and Qt's Italian buttons. Saved as a PNG under ZS_SCREENSHOT_DIR.
void answerCancelQuestion(QMessageBox::StandardButton answer, bool* asked)
{
    QTimer::singleShot(0, [answer, asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "no question box";
        *asked = true;
        EXPECT_EQ(box->text(), "Vuoi interrompere la configurazione guidata?");
        EXPECT_EQ(box->windowTitle(), "Attenzione.");
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        ASSERT_NE(box->button(QMessageBox::Yes), nullptr);
        ASSERT_NE(box->button(QMessageBox::No), nullptr);
        EXPECT_EQ(box->button(QMessageBox::Yes)->text().remove('&'), QString::fromUtf8("Sì"));
        EXPECT_EQ(box->button(QMessageBox::No)->text().remove('&'), "No");
        if (const char* dir = std::getenv("ZS_SCREENSHOT_DIR"))
            box->grab().save(QString(dir) + "/wizard-cancel-question.png");
        QWidget* asking = box->parentWidget() ? box->parentWidget()->window() : nullptr;
        box->button(answer)->click();
        // A window manager gives the keyboard back to the window that asked; the offscreen
        // platform leaves that to the program.
        if (asking && asking->isVisible())
            asking->activateWindow();
    });
}

TEST_F(ProgramDialogs, EscapeInTheWizardAsksBeforeItCloses)
{
    copyDemo();
    const auto before = wizardSettings(settingsFile());
    create();
    ASSERT_TRUE(app->load());
    bool opened = false;
    whenWizardShown([&](frmWizard& w) {
        opened = true;
        // From a field and from a flat button alike; No keeps the page and the fields.
        input::pressKey(Qt::Key_Down); // a field changed before the question
        const bool accessAndSql = child<QRadioButton>(&w, "optStep1_1")->isChecked();
        EXPECT_TRUE(accessAndSql);
        bool asked = false;
        answerCancelQuestion(QMessageBox::No, &asked);
        input::pressKey(Qt::Key_Escape);
        EXPECT_TRUE(asked);
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.PassoCorrente(), 1);
        EXPECT_EQ(child<QRadioButton>(&w, "optStep1_1")->isChecked(), accessAndSql);

        ASSERT_TRUE(input::tabTo("flbAvanti"));
        asked = false;
        answerCancelQuestion(QMessageBox::Yes, &asked);
        input::pressKey(Qt::Key_Escape);
        EXPECT_TRUE(asked);
        closeIfOpen(w);
    });
    menu(5);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(app->wizard().saved());
    EXPECT_EQ(wizardSettings(settingsFile()), before);
}

/// Fills every page of the wizard for Access and SQL Server with Bus & Task, from the keyboard
/// alone: Tab, arrows, typed text, Space and Enter, each where the focus is.
void fillWizardByKeys(frmWizard& w)
{
    using input::focusName;
    using input::pressKey;
    using input::retype;
    using input::typeKeys;
    EXPECT_EQ(focusName(), "optStep1_0");
    pressKey(Qt::Key_Down);
    EXPECT_TRUE(child<QRadioButton>(&w, "optStep1_1")->isChecked());
    pressKey(Qt::Key_Return); // Enter in a field goes on as Avanti does
    ASSERT_EQ(w.PassoCorrente(), 2);
    EXPECT_EQ(focusName(), "txtAccess");
    retype("vendite.db");
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(focusName(), "cmdStep2");
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(focusName(), "flbAvanti");
    pressKey(Qt::Key_Space);
    ASSERT_EQ(w.PassoCorrente(), 3);
    EXPECT_EQ(focusName(), "txtServerName");
    for (const char* field : {"sql01", "dw", "sa", "Chiave7", "Chiave7"}) {
        typeKeys(field);
        pressKey(Qt::Key_Tab);
    }
    EXPECT_EQ(focusName(), "flbAvanti"); // the page's last field is followed by Avanti
    pressKey(Qt::Key_Return);            // Enter on the button presses it
    ASSERT_EQ(w.PassoCorrente(), 4);
    EXPECT_EQ(focusName(), "txtserverolap");
    retype("olap01");
    pressKey(Qt::Key_Tab);
    retype("Cubi");
    pressKey(Qt::Key_Tab);
    pressKey(Qt::Key_Space);
    ASSERT_EQ(w.PassoCorrente(), 5);
    EXPECT_EQ(focusName(), "optStep5_1"); // the demo uses no Bus & Task
    pressKey(Qt::Key_Up);
    EXPECT_TRUE(child<QRadioButton>(&w, "optStep5_0")->isChecked());
    EXPECT_TRUE(child<QLineEdit>(&w, "txtVevira")->isVisible());
    ASSERT_TRUE(input::tabTo("txtVevira"));
    for (const char* field : {"vevira1", "sys", "Segreto1", "op", "op2", "01"}) {
        retype(field);
        pressKey(Qt::Key_Tab);
    }
    pressKey(Qt::Key_Return);
    ASSERT_EQ(w.PassoCorrente(), 6);
    EXPECT_EQ(focusName(), "txtRecap");
    EXPECT_TRUE(child<QPlainTextEdit>(&w, "txtRecap")->toPlainText().contains("Vevira : vevira1"));
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(focusName(), "flbfine");
    pressKey(Qt::Key_Space);
}

/// The same settings with the mouse: clicks on the options and buttons, text put in the boxes.
void fillWizardByMouse(frmWizard& w)
{
    auto mouse = [&w](const char* name) { input::mouseClick(*child<QWidget>(&w, name)); };
    // An option takes the click on its mark.
    auto option = [&w](const char* name) {
        QWidget* o = child<QWidget>(&w, name);
        input::mouseClick(*o, QPointF(6, o->height() / 2.0));
    };
    auto set = [&w](const char* name, const char* text) { child<QLineEdit>(&w, name)->setText(text); };
    option("optStep1_1");
    mouse("flbAvanti");
    set("txtAccess", "vendite.db");
    mouse("flbAvanti");
    set("txtServerName", "sql01");
    set("txtDb", "dw");
    set("txtLogin", "sa");
    set("txtPassword_0", "Chiave7");
    set("txtPassword_1", "Chiave7");
    mouse("flbAvanti");
    set("txtserverolap", "olap01");
    set("txtdbolap", "Cubi");
    mouse("flbAvanti");
    option("optStep5_0");
    set("txtVevira", "vevira1");
    set("txtsyslogin", "sys");
    set("txtSysPwd", "Segreto1");
    set("txtOpLogin", "op");
    set("txtOpPwd", "op2");
    set("txtCoDiv", "01");
    mouse("flbAvanti");
    ASSERT_EQ(w.PassoCorrente(), 6);
    mouse("flbfine");
}

TEST_F(ProgramDialogs, TheWizardFromTheKeyboardAloneWritesWhatTheMouseWrites)
{
    std::map<bool, std::string> written;
    for (const bool keyboard : {true, false}) {
        SCOPED_TRACE(keyboard ? "keyboard" : "mouse");
        ASSERT_NO_FATAL_FAILURE(loadOnAFreshDemo());
        bool opened = false;
        whenWizardShown([&](frmWizard& w) {
            opened = true;
            keyboard ? fillWizardByKeys(w) : fillWizardByMouse(w);
            closeIfOpen(w);
        });
        menu(5);
        ASSERT_TRUE(opened);
        EXPECT_TRUE(app->wizard().saved());
        EXPECT_TRUE(shown.empty()) << shown.front();
        written[keyboard] = zs::test::readFile(settingsFile());
        EXPECT_EQ(settingIn(settingsFile(), "ServerType"), "MIXED");
        EXPECT_EQ(settingIn(settingsFile(), "ServerName"), "sql01");
        EXPECT_EQ(settingIn(settingsFile(), "ServerOLAP"), "olap01");
        EXPECT_EQ(settingIn(settingsFile(), "BusAndTask.computer"), "vevira1");
        EXPECT_EQ(settingIn(settingsFile(), "BusAndTask.operatorPassword"), program::CodificaPassword("op2"));
        app.reset();
    }
    EXPECT_EQ(written[true], written[false]);
}

TEST_F(ProgramDialogs, TheCubeWindowsSalvaFromTheKeyboardWritesWhatTheMouseWrites)
{
    std::map<bool, std::string> written;
    for (const bool keyboard : {true, false}) {
        SCOPED_TRACE(keyboard ? "keyboard" : "mouse");
        ASSERT_NO_FATAL_FAILURE(loadOnAFreshDemo());
        menu(4);
        ASSERT_EQ(app->main().area().activeSubWindow(), dialogs::subWindowOf(app->cubes()));
        EXPECT_EQ(input::focusName(), "txtDsoServer"); // the window opens on its first field
        input::pressKey(Qt::Key_Tab);
        ASSERT_EQ(input::focusName(), "txtDsoDb");
        input::retype("Vendite2");
        shown.clear();
        if (keyboard) {
            for (const char* next : {"flgCubi", "flbAggiorna", "flbSalva"}) {
                input::pressKey(Qt::Key_Tab);
                EXPECT_EQ(input::focusName(), next);
            }
            input::pressKey(Qt::Key_Space);
        } else {
            input::mouseClick(*child<QWidget>(&app->cubes(), "flbSalva"));
        }
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown.front().rfind("Impostazioni memorizzate.", 0), 0u) << shown.front();
        EXPECT_EQ(settingIn(settingsFile(), "DatabaseOLAP"), "Vendite2");
        written[keyboard] = zs::test::readFile(settingsFile());
        app.reset();
    }
    EXPECT_EQ(written[true], written[false]);
}

TEST_F(ProgramDialogs, TheCubeWindowsChoicesFromTheKeyboardAloneAreSavedAsTheMouseSavesThem)
{
    // The demo's two cubes start on "Completa"; the first becomes "Incrementale" (grid cell
    // 2.2), the second "Aggiornamento Dati" (3.3).
    std::map<bool, std::string> written;
    std::vector<std::string> names;
    for (const bool keyboard : {true, false}) {
        SCOPED_TRACE(keyboard ? "keyboard" : "mouse");
        ASSERT_NO_FATAL_FAILURE(loadOnAFreshDemo());
        menu(4);
        ASSERT_EQ(app->cubes().core().NumeroCubi(), 2);
        auto& grid = *app->cubes().flgCubi();
        shown.clear();
        if (keyboard) {
            EXPECT_EQ(input::focusName(), "txtDsoServer");
            for (const char* next : {"txtDsoDb", "flgCubi"}) {
                input::pressKey(Qt::Key_Tab);
                EXPECT_EQ(input::focusName(), next);
            }
            for (const int key : {Qt::Key_Right, Qt::Key_Space, Qt::Key_Down, Qt::Key_Right, Qt::Key_Space})
                input::pressKey(key);
            if (const char* dir = std::getenv("ZS_SCREENSHOT_DIR"))
                app->cubes().grab().save(QString(dir) + "/cube-grid-keyboard.png");
            for (const char* next : {"flbAggiorna", "flbSalva"}) {
                input::pressKey(Qt::Key_Tab);
                EXPECT_EQ(input::focusName(), next);
            }
            input::pressKey(Qt::Key_Space);
        } else {
            const auto& g = grid.model();
            const auto centre = [&](int riga, int colonna) {
                double x = 2, y = 2;
                for (int c = 1; c < colonna; ++c)
                    x += g.getColWidth(c);
                for (int r = 1; r < riga; ++r)
                    y += g.getRowHeight(r);
                return QPointF(x + g.getColWidth(colonna) / 2.0, y + g.getRowHeight(riga) / 2.0);
            };
            input::mouseClick(grid, centre(2, 2));
            input::mouseClick(grid, centre(3, 3));
            input::mouseClick(*child<QWidget>(&app->cubes(), "flbSalva"));
        }
        const auto cubes = app->cubes().cubes();
        ASSERT_EQ(cubes.size(), 2u);
        EXPECT_EQ(cubes[0].aggiornamento, program::RefreshChoice::Incremental);
        EXPECT_EQ(cubes[1].aggiornamento, program::RefreshChoice::DataOnly);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown.front().rfind("Impostazioni memorizzate.", 0), 0u) << shown.front();
        written[keyboard] = zs::test::readFile(settingsFile());
        names = {cubes[0].nome, cubes[1].nome};
        app.reset();
    }
    EXPECT_NE(written[true].find("nome=\"" + names[0] + "\" aggiornamento=\"incrementale\""), std::string::npos);
    EXPECT_NE(written[true].find("nome=\"" + names[1] + "\" aggiornamento=\"dati\""), std::string::npos);
    EXPECT_EQ(written[true], written[false]);
}

TEST_F(ProgramDialogs, FirstStartSurvivesTheMismatchMessageAndEndsWithStatusZero)
{
    // No settings file: the wizard opens from the options dialog's load, inside the event loop
    // as main() runs it, with real message boxes.
    bool openAfterMessage = false;
    bool messageShown = false;
    whenWizardShown([&](frmWizard& w) {
        child<QRadioButton>(&w, "optStep1_1")->click(); // Access and SQL Server: page 3 comes next
        click(&w, "flbAvanti");
        child<QLineEdit>(&w, "txtPassword_0")->setText("uno");
        child<QLineEdit>(&w, "txtPassword_1")->setText("due");
        child<QLineEdit>(&w, "txtAccess")->setText("target.db");
        // The mismatch message is a real box: answer it when it shows.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            messageShown = box->text() == "La seconda password non corrisponde con la prima. Ritentare";
            box->button(QMessageBox::Ok)->click();
        });
        click(&w, "flbAvanti");
        // Once the box has gone, the program still runs and the wizard is still open.
        QTimer::singleShot(0, [&w, &openAfterMessage] {
            openAfterMessage = w.isVisible() && QApplication::activeModalWidget() == &w;
            child<QLineEdit>(&w, "txtserverolap")->setText("demo");
            for (int i = 0; i < 3; ++i)
                click(&w, "flbAvanti");
            EXPECT_EQ(w.PassoCorrente(), 6);
            click(&w, "flbfine");
        });
    });
    const int status = firstStart();

    EXPECT_TRUE(messageShown);
    EXPECT_TRUE(openAfterMessage);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(settingIn(settingsFile(), "ServerType"), "MIXED");
    EXPECT_EQ(settingIn(settingsFile(), "ServerOLAP"), "demo");
    EXPECT_EQ(settingIn(settingsFile(), "Password"), program::CodificaPassword("uno"));
}

TEST_F(ProgramDialogs, AfterTheFirstWizardTheProgramStartsMinimisedWithAutostartAndZsExtractNamesTheLoadingFile)
{
    // The first start: no settings file, the wizard alone writes them (Access only, one file).
    whenWizardShown([](frmWizard& w) {
        click(&w, "flbAvanti");
        child<QLineEdit>(&w, "txtAccess")->setText("target.db");
        click(&w, "flbfine");
    });
    const int status = firstStart();
    ASSERT_EQ(status, 0);
    app.reset();
    EXPECT_EQ(settingIn(settingsFile(), "ServerType"), "ACCESS");
    EXPECT_EQ(settingIn(settingsFile(), "startup"), "1");
    EXPECT_EQ(settingIn(settingsFile(), "minimized"), "1");
    EXPECT_EQ(settingIn(settingsFile(), "LOADINGFILE"), "");

    // The restart: minimised (to the tray, or to the task bar without one), and started with the
    // session from now on.
    create();
    ASSERT_TRUE(app->load());
    EXPECT_TRUE(app->settings().AvvioMinimizzato);
    EXPECT_TRUE(!app->main().isVisible() || (app->main().windowState() & Qt::WindowMinimized));
    EXPECT_TRUE(fs::exists(program::autostartEntryPath(home)));
    app.reset();

    // zs-extract on that folder with a loading XML beside the settings: the line names the
    // setting that is missing and what to write there.
    zs::test::writeFile(home / "zentrikLoading.xml", "<?xml version=\"1.0\"?><Estrattore/>");
    process::RunOptions options;
    options.captureOutput = true;
    options.timeLimit = std::chrono::seconds(60);
    const auto result = process::run({ZS_EXTRACT_PATH, home.string()}, options);
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_NE(result.output.find("nell'elemento LOADINGFILE; aggiungerlo, per esempio "
                                 "<LOADINGFILE>zentrikLoading.xml</LOADINGFILE>"),
              std::string::npos)
        << result.output;
}

TEST_F(ProgramDialogs, WithoutSettingsACancelledWizardEndsWithStatusOne)
{
    struct Case {
        const char* name;
        const char* file; // the settings file's text, or none
        bool escape;      // the operator presses Escape instead of Annulla
    };
    const Case cases[] = {{"no settings file", nullptr, false},
                          {"a settings file that does not parse", "<zentrikServer>", false},
                          {"no settings file, Escape", nullptr, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.file)
            zs::test::writeFile(settingsFile(), c.file);
        else
            fs::remove(settingsFile());
        create();
        whenWizardShown([&c](frmWizard& w) {
            QtPrompts::nextYesNo().push_back(true);
            if (c.escape)
                input::pressKey(Qt::Key_Escape);
            else
                click(&w, "flbCancella");
        });
        EXPECT_FALSE(app->load());
        EXPECT_EQ(app->exitStatus(), 1);
        EXPECT_EQ(fs::exists(settingsFile()), c.file != nullptr);
        app.reset();
    }
}

TEST_F(ProgramDialogs, SwitchingFromTheOptionsToTheCubeWindowSavesTheSettings)
{
    copyDemo();
    create();
    ASSERT_TRUE(app->load());
    app->main().activateWindow();
    QApplication::processEvents();
    ASSERT_TRUE(app->main().isActiveWindow());

    // Between the run window and the cube window the options dialog is not involved.
    menu(1);
    fs::remove(settingsFile());
    menu(4);
    EXPECT_FALSE(fs::exists(settingsFile()));

    menu(2);
    ASSERT_EQ(app->main().area().activeSubWindow(), subWindowOf(app->options()));
    app->cubes().set_DatabaseCubi("Vendite"); // what the save collects from the cube window
    menu(4);
    ASSERT_EQ(app->main().area().activeSubWindow(), subWindowOf(app->cubes()));
    ASSERT_TRUE(fs::exists(settingsFile()));
    EXPECT_EQ(settingIn(settingsFile(), "ServerOLAP"), "demo");
    EXPECT_EQ(settingIn(settingsFile(), "DatabaseOLAP"), "Vendite");
    EXPECT_TRUE(shown.empty()) << shown.front();
}

/// The demo's aggregates as the test's own SQL computes them from the target's facts.
std::map<std::string, std::string> rows(db::Connection& c, const std::string& sql)
{
    std::map<std::string, std::string> out;
    auto rs = c.query(sql);
    EXPECT_TRUE(rs.has_value()) << sql;
    for (; rs && !rs->eof(); rs->moveNext()) {
        std::string key, value;
        for (std::size_t i = 0; i < rs->fieldCount(); ++i) {
            const std::string text = rs->value(i).isNull() ? "NULL" : rs->value(i).toString();
            (i == 0 ? key : value) += text + "|";
        }
        out[key] = value;
    }
    return out;
}

TEST_F(ProgramDialogs, TheDemoProcessesItsCubesOnScheduleAndFromTheRunWindow)
{
    copyDemo();
    const std::string catalog = zs::test::readFile(home / "olap-demo.xml");
    create();
    ASSERT_TRUE(app->load());

    // The scheduled "Estrazione ed Elaborazione.": the extraction fills the target, its step
    // ELABORACUBI processes the cubes.
    automation::Variant alarm[] = {automation::Variant(shell::AlarmHandler::kEstrazione)};
    app->secondaryWindow().CadenzoControl().events().raise(cadenzo::CadenzoControl::kAlarmEvent, alarm);
    const auto lines = logLines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Sto elaborando il cubo VenditePerCliente")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(has("Sto elaborando il cubo VenditePerArticolo"));
    EXPECT_TRUE(has("Elaborazione della dimensione Cliente"));
    EXPECT_TRUE(has("Elaborazione eseguita correttamente")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(shown.empty()) << shown.front();

    db::Connection c;
    ASSERT_TRUE(c.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (home / "target.db").string() + ";"));
    const std::string perCliente = olap::olapTableName("olap_", "demo", "Vendite", "VenditePerCliente");
    const std::string perArticolo = olap::olapTableName("olap_", "demo", "Vendite", "VenditePerArticolo");
    auto check = [&] {
        const auto own = rows(c, "SELECT cliente, SUM(importo), SUM(quantita), COUNT(*) FROM VENDITE GROUP BY cliente");
        EXPECT_EQ(own.size(), 4u);
        EXPECT_EQ(rows(c, "SELECT \"Cliente\", \"Importo\", \"Quantita\", \"fact_count\" FROM \"" + perCliente + "\""),
                  own);
        EXPECT_EQ(
            rows(c, "SELECT \"Articolo\" || '/' || \"Cliente\", \"Quantita\", \"Ordini\", \"fact_count\" FROM \"" +
                        perArticolo + "\""),
            rows(c, "SELECT articolo || '/' || cliente, SUM(quantita), COUNT(*), COUNT(*) FROM VENDITE GROUP BY "
                    "articolo, cliente"));
    };
    check();

    // "Elabora" on its own after a new fact arrived.
    ASSERT_TRUE(c.execute("INSERT INTO VENDITE VALUES (7, 'Neri Tessuti', 'Sedia in faggio', 3, 136.5, '2024-04-01')"));
    app->runWindow().findChild<flatui::FlatButtonWidget*>("flbElaboraCubi")->model().click();
    check();
    EXPECT_EQ(rows(c, "SELECT \"Importo\" FROM \"" + perCliente + "\" WHERE \"Cliente\" = 'Neri Tessuti'").size(), 1u);
    // The grid lists both cubes with their processing date; the operator's catalog is untouched.
    EXPECT_EQ(app->cubes().core().NumeroCubi(), 2);
    for (const auto& cube : app->cubes().core().cubes())
        EXPECT_FALSE(cube.data.empty()) << cube.nome;
    EXPECT_EQ(zs::test::readFile(home / "olap-demo.xml"), catalog);
    EXPECT_TRUE(fs::exists(home / "zentrikOlap.xml"));
}

TEST_F(ProgramDialogs, ElaboraWithAnUnreadableCatalogWarnsOnce)
{
    copyDemo();
    zs::test::writeFile(home / "olap-demo.xml", "<OlapServer name=\"demo\">\n <Database name=\"Vendite\"\n");
    create();
    ASSERT_TRUE(app->load());
    auto* elabora = app->runWindow().findChild<flatui::FlatButtonWidget*>("flbElaboraCubi");
    for (const bool visible : {false, true}) {
        SCOPED_TRACE(visible ? "the cube window opened from the menu" : "as the program starts");
        if (visible)
            menu(4);
        shown.clear();
        elabora->model().click();
        QApplication::processEvents();
        // One box for one press, naming the file, its line and the reason.
        ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
        EXPECT_EQ(shown[0].rfind("Impossibile connettersi al server olap demo. Controllare le opzioni di "
                                 "configurazione.\r\nCatalogo OLAP illeggibile " +
                                     (home / "olap-demo.xml").string() + ", linea 2: ",
                                 0),
                  0u)
            << shown[0];
    }
}

TEST_F(ProgramDialogs, ASnapshotThatCannotBeWrittenAsksAbortRetryIgnore)
{
    copyDemo();
    create(/*recordMessages=*/false); // the program's own box
    ASSERT_TRUE(app->load());
    fs::create_directory(home / "zentrikOlap.xml");
    auto* elabora = app->runWindow().findChild<flatui::FlatButtonWidget*>("flbElaboraCubi");
    for (const auto press : {QMessageBox::Ignore, QMessageBox::Retry}) {
        SCOPED_TRACE(press == QMessageBox::Ignore ? "ignore" : "retry");
        int boxes = 0;
        QStringList buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        std::string title, text;
        std::function<void(int)> answer = [&](int rounds) {
            QTimer::singleShot(10, [&, rounds] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box) {
                    if (rounds > 0)
                        answer(rounds - 1);
                    return;
                }
                ++boxes;
                auto shown = box->buttons();
                std::sort(shown.begin(), shown.end(), [](QAbstractButton* a, QAbstractButton* b) {
                    return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
                });
                buttons.clear();
                for (auto* b : shown)
                    buttons << b->text();
                icon = box->icon();
                title = box->windowTitle().toStdString();
                text = box->text().toStdString();
                if (press == QMessageBox::Retry)
                    fs::remove(home / "zentrikOlap.xml"); // the operator clears the way, then retries
                box->findChild<QAbstractButton*>(QString("button%1").arg(static_cast<int>(press)))->click();
            });
        };
        answer(3000);
        elabora->model().click(); // the run window's log starts again with it
        QApplication::processEvents();
        EXPECT_EQ(boxes, 1);
        EXPECT_EQ(buttons, (QStringList{"Interrompi", "Riprova", "Ignora"}));
        EXPECT_EQ(icon, QMessageBox::Critical);
        EXPECT_EQ(title, "Attenzione.");
        EXPECT_NE(text.find("[0]\r\nzentrikOlap.xml"), std::string::npos) << text;

        app->runWindow().tvwLog().flush();
        const auto lines = logLines();
        const auto red = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("zentrikOlap.xml non scritto: ", 0) == 0; // a top-level line of its own
        });
        std::string day;
        for (const auto& f : fs::directory_iterator(home / "log"))
            day += zs::test::readFile(f.path());
        if (press == QMessageBox::Ignore) {
            ASSERT_NE(red, lines.end()) << ::testing::PrintToString(lines);
            // Drawn in red, as every error line.
            const auto items = app->runWindow().tvwLog().findItems(QString::fromStdString(*red),
                                                                   Qt::MatchExactly | Qt::MatchRecursive);
            ASSERT_FALSE(items.isEmpty());
            const QColor colour = items[0]->foreground(0).color();
            EXPECT_GT(colour.red(), 150);
            EXPECT_LT(colour.blue(), 100);
            EXPECT_NE(day.find("ERRORE  zentrikOlap.xml non scritto: "), std::string::npos);
            EXPECT_EQ(day.find("Errore nel processamento del cubo"), std::string::npos) << day;
            // The last cube, processed before the snapshot, keeps its success mark.
            const auto cubes = app->runWindow().tvwLog().findItems("Sto elaborando il cubo", Qt::MatchStartsWith);
            ASSERT_FALSE(cubes.isEmpty());
            EXPECT_LT(cubes.back()->foreground(0).color().red(), 100) << cubes.back()->text(0).toStdString();
            EXPECT_TRUE(fs::is_directory(home / "zentrikOlap.xml"));
        } else {
            EXPECT_EQ(red, lines.end()) << *red;
            ASSERT_TRUE(fs::is_regular_file(home / "zentrikOlap.xml"));
            EXPECT_NE(zs::test::readFile(home / "zentrikOlap.xml").find("<nome>VenditePerCliente</nome>"),
                      std::string::npos);
        }
    }
}

} // namespace
} // namespace zs::dialogs
