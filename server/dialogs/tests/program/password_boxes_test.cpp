// Every password box of the assembled program, on a copy of demo/: a password the settings
// cannot hold as typed (a letter outside Windows-1252) is refused in its box with the message,
// and the settings file stays as it was; an ordinary password comes back exactly.

#include "ProgramTestSupport.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "program/PasswordCodec.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace zs::dialogs {
namespace {

namespace fs = std::filesystem;
using shell::ShellApplication;

const char* const kRefused = "\xC5\x81\xC3\xB3\x64\xC5\xBA"
                             "1";                                   // "Łódź1": Ł and ź lack a Windows-1252 code
const char* const kOrdinary = "P\xC3\xA0ss \xE2\x82\xAC&<\"x\"> 1"; // "Pàss €&<"x"> 1"

using zs::test::settingIn;

using zs::test::child;
using zs::test::click;

/// Types `text` into a box as the operator does (replacing what it held) and presses Enter.
void typeAndEnter(QLineEdit* box, const std::string& text)
{
    box->setFocus();
    box->selectAll();
    box->insert(QString::fromStdString(text));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(box, &release);
}

/// Runs `drive` with the active modal window of type W once it is shown.
template <class W> void whenShown(std::function<void(W&)> drive, int rounds = 200)
{
    QTimer::singleShot(0, [drive = std::move(drive), rounds]() mutable {
        auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
        if (!w) {
            if (rounds > 0)
                whenShown<W>(std::move(drive), rounds - 1);
            return;
        }
        drive(*w);
    });
}

struct PasswordBoxes : test::DemoProgramTest {
    void start()
    {
        ShellApplication::Options options;
        options.pause = [](int) {};
        create(options);
        ASSERT_TRUE(app->load());
    }
    fs::path settingsFile() const { return home / "zentrikServer.xml"; }
    std::string settings() const { return test::readFile(settingsFile()); }
    void menu(int entry)
    {
        automation::Variant args[] = {automation::Variant(entry)};
        app->main().menuButton()->model().events().raise(flatui::MenuButtonControl::Click, args);
        QApplication::processEvents();
    }
    /// The secondary options lose the focus to the run window: they save.
    void leaveSecondaryOptions()
    {
        auto& area = app->main().area();
        auto* own = dialogs::subWindowOf(app->secondaryWindow());
        auto* run = dialogs::subWindowOf(app->runWindow());
        ASSERT_TRUE(own && run);
        area.setActiveSubWindow(own);
        QCoreApplication::processEvents();
        area.setActiveSubWindow(run);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    std::size_t refusals() const
    {
        std::size_t n = 0;
        for (const std::string& m : shown)
            n += m == program::kPasswordNonCodificabile;
        return n;
    }
};

TEST_F(PasswordBoxes, TheSmtpPasswordOfTheSecondaryOptions)
{
    ASSERT_NO_FATAL_FAILURE(start());
    auto* box = child<QLineEdit>(&app->secondaryWindow(), "txtPwd");
    child<QRadioButton>(&app->secondaryWindow(), "optErrors0")->setChecked(true); // the mail boxes in use
    ASSERT_TRUE(box->isEnabled());
    ASSERT_NO_FATAL_FAILURE(leaveSecondaryOptions());
    const std::string before = settings();

    typeAndEnter(box, kRefused);
    EXPECT_EQ(refusals(), 1u);
    EXPECT_EQ(box->text().toStdString(), ""); // the password held before
    ASSERT_NO_FATAL_FAILURE(leaveSecondaryOptions());
    EXPECT_EQ(settings(), before);
    EXPECT_EQ(refusals(), 1u);

    typeAndEnter(box, kOrdinary);
    ASSERT_NO_FATAL_FAILURE(leaveSecondaryOptions());
    EXPECT_EQ(refusals(), 1u);
    EXPECT_EQ(program::DecodificaPassword(settingIn(settingsFile(), "smtppwd")), kOrdinary);

    // A refused password after an ordinary one keeps the ordinary one, in the box and the file.
    const std::string saved = settings();
    typeAndEnter(box, kRefused);
    EXPECT_EQ(refusals(), 2u);
    EXPECT_EQ(box->text().toStdString(), kOrdinary);
    ASSERT_NO_FATAL_FAILURE(leaveSecondaryOptions());
    EXPECT_EQ(settings(), saved);

    // After a restart the box shows it exactly.
    app.reset();
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(child<QLineEdit>(&app->secondaryWindow(), "txtPwd")->text().toStdString(), kOrdinary);
}

TEST_F(PasswordBoxes, TheBusAndTaskPasswordsOfTheOptionsDialogAndThePrompt)
{
    ASSERT_NO_FATAL_FAILURE(start());
    menu(2);
    for (const char* name : {"eSystemPassword", "eOperatorPassword"}) {
        SCOPED_TRACE(name);
        const std::string attribute = std::string("BusAndTask.") +
                                      (std::string(name) == "eSystemPassword" ? "systemPassword" : "operatorPassword");
        auto* box = child<QLineEdit>(&app->options(), name);
        const std::string before = settings();
        const std::size_t refusedBefore = refusals();

        // In the box: refused before the prompt asks, the box back to the stored password.
        typeAndEnter(box, kRefused);
        EXPECT_EQ(refusals(), refusedBefore + 1);
        EXPECT_EQ(box->text().toStdString(), "");
        EXPECT_EQ(settings(), before);

        // In the prompt (the real frmLogin): refused there, the prompt stays open for another try.
        bool promptStayedOpen = false;
        whenShown<frmLogin>([&](frmLogin& login) {
            child<QLineEdit>(&login, "txtPassword")->setText(QString::fromUtf8(kRefused));
            child<QPushButton>(&login, "cmdOK")->click();
            promptStayedOpen = login.isVisible();
            EXPECT_EQ(child<QLineEdit>(&login, "txtPassword")->text(), "");
            child<QLineEdit>(&login, "txtPassword")->setText(QString::fromUtf8(kOrdinary));
            child<QPushButton>(&login, "cmdOK")->click();
        });
        typeAndEnter(box, kOrdinary);
        EXPECT_TRUE(promptStayedOpen);
        EXPECT_EQ(refusals(), refusedBefore + 2);
        EXPECT_EQ(box->text().toStdString(), kOrdinary);
        EXPECT_EQ(program::DecodificaPassword(settingIn(settingsFile(), attribute)), kOrdinary);
    }
    EXPECT_EQ(shown.size(), refusals()) << shown.back();
}

TEST_F(PasswordBoxes, TheDatabaseAndBusAndTaskPasswordsOfTheWizard)
{
    ASSERT_NO_FATAL_FAILURE(start());
    whenShown<frmWizard>([&](frmWizard& w) {
        const std::string before = settings();
        child<QRadioButton>(&w, "optStep1_2")->setChecked(true); // SQL Server: page 3 asks for the password
        click(&w, "flbAvanti");
        ASSERT_EQ(w.PassoCorrente(), 3);
        auto* password = child<QLineEdit>(&w, "txtPassword_0");
        auto* again = child<QLineEdit>(&w, "txtPassword_1");
        password->setText(QString::fromUtf8(kRefused));
        again->setText(QString::fromUtf8(kRefused));
        click(&w, "flbAvanti");
        EXPECT_EQ(w.PassoCorrente(), 3); // refused: the page stays, its boxes emptied
        EXPECT_EQ(refusals(), 1u);
        EXPECT_EQ(password->text(), "");
        EXPECT_EQ(again->text(), "");
        password->setText(QString::fromUtf8(kOrdinary));
        again->setText(QString::fromUtf8(kOrdinary));
        click(&w, "flbAvanti");
        ASSERT_EQ(w.PassoCorrente(), 4);
        click(&w, "flbAvanti");
        ASSERT_EQ(w.PassoCorrente(), 5);
        child<QRadioButton>(&w, "optStep5_0")->setChecked(true);
        child<QLineEdit>(&w, "txtVevira")->setText("vevira1");
        for (const char* name : {"txtSysPwd", "txtOpPwd"}) {
            SCOPED_TRACE(name);
            const std::size_t refusedBefore = refusals();
            child<QLineEdit>(&w, name)->setText(QString::fromUtf8(kRefused));
            click(&w, "flbAvanti");
            EXPECT_EQ(w.PassoCorrente(), 5);
            EXPECT_EQ(refusals(), refusedBefore + 1);
            EXPECT_EQ(child<QLineEdit>(&w, name)->text(), "");
            child<QLineEdit>(&w, name)->setText(QString::fromUtf8(kOrdinary));
        }
        click(&w, "flbAvanti");
        ASSERT_EQ(w.PassoCorrente(), 6);
        // Fine checks every box again: one changed behind the page's back sends the operator to it.
        child<QLineEdit>(&w, "txtOpPwd")->setText(QString::fromUtf8(kRefused));
        click(&w, "flbfine");
        EXPECT_EQ(w.PassoCorrente(), 5);
        EXPECT_EQ(refusals(), 4u);
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(settings(), before);
        child<QLineEdit>(&w, "txtOpPwd")->setText(QString::fromUtf8(kOrdinary));
        click(&w, "flbAvanti");
        click(&w, "flbfine");
    });
    menu(5);
    EXPECT_EQ(refusals(), 4u);
    EXPECT_EQ(shown.size(), refusals()) << shown.back();
    EXPECT_EQ(program::DecodificaPassword(settingIn(settingsFile(), "Password")), kOrdinary);
    EXPECT_EQ(program::DecodificaPassword(settingIn(settingsFile(), "BusAndTask.systemPassword")), kOrdinary);
    EXPECT_EQ(program::DecodificaPassword(settingIn(settingsFile(), "BusAndTask.operatorPassword")), kOrdinary);
}

} // namespace
} // namespace zs::dialogs
