#include "WidgetLookup.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/WizardWindow.h"

#include "../core/DialogsTestSupport.h"

#include "flatui/widgets/FlatWidgets.h"
#include "program/PasswordCodec.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace zs;
using namespace zs::dialogs;
using zs::dialogs::test::child;
using zs::dialogs::test::mouseClick;

namespace {

void type(QWidget& w, const char* name, const char* text)
{
    child<QLineEdit>(w, name)->setText(text);
}
using flatui::FlatButtonWidget;

/// Clicks a radio button, or raises the Click of one of the wizard's flat buttons.
void click(QWidget& w, const char* name)
{
    // FlatButtonWidget has no meta-object of its own: findChild would match any widget by name.
    if (auto* flat = dynamic_cast<FlatButtonWidget*>(w.findChild<QWidget*>(name)))
        flat->model().click();
    else
        child<QAbstractButton>(w, name)->click();
}

} // namespace

TEST(WizardWindow, DrivenPageByPageWritesTheSettings)
{
    dtest::ProgramFolder folder; // no settings file: the wizard starts one
    QtPrompts prompts;
    frmWizard wizard(folder.store, folder.values, folder.messages, prompts, nullptr);
    EXPECT_EQ(wizard.windowTitle(), "Configurazine guidata -  Zentrik Server");
    EXPECT_EQ(wizard.PassoCorrente(), 1);
    EXPECT_FALSE(child<FlatButtonWidget>(wizard, "flbIndietro")->isEnabled());
    EXPECT_FALSE(child<FlatButtonWidget>(wizard, "flbIndietro")->model().enabled());

    click(wizard, "optStep1_1"); // mixed
    click(wizard, "flbAvanti");
    type(wizard, "txtAccess", "/dati/zentrik.mdb");
    click(wizard, "flbAvanti");
    EXPECT_EQ(wizard.PassoCorrente(), 3);
    EXPECT_EQ(child<QLabel>(wizard, "lblStep1")->text(), "Passo 3 - Configurazione accesso al database Ms SqlServer");
    type(wizard, "txtServerName", "sql01");
    type(wizard, "txtDb", "dwh");
    type(wizard, "txtLogin", "sa");
    type(wizard, "txtPassword_0", "pass");
    type(wizard, "txtPassword_1", "pass");
    click(wizard, "flbAvanti");
    type(wizard, "txtserverolap", "olap01");
    type(wizard, "txtdbolap", "cubi");
    click(wizard, "flbAvanti");
    EXPECT_EQ(wizard.PassoCorrente(), 5);
    click(wizard, "optStep5_0");
    type(wizard, "txtVevira", "vevira01");
    type(wizard, "txtsyslogin", "sys");
    type(wizard, "txtSysPwd", "syspw");
    type(wizard, "txtOpLogin", "op");
    type(wizard, "txtOpPwd", "oppw");
    type(wizard, "txtCoDiv", "01");
    click(wizard, "flbAvanti");
    EXPECT_EQ(wizard.PassoCorrente(), 6);
    const QString recap = child<QPlainTextEdit>(wizard, "txtRecap")->toPlainText();
    EXPECT_TRUE(recap.contains("Misto (Access e SqlServer)"));
    EXPECT_FALSE(recap.contains("syspw"));
    EXPECT_TRUE(child<FlatButtonWidget>(wizard, "flbAvanti")->isHidden());
    click(wizard, "flbfine");
    EXPECT_TRUE(folder.messages.shown.empty());

    auto doc = xml::Document::loadFile(folder.home() / "zentrikServer.xml");
    ASSERT_TRUE(doc);
    const auto root = doc->root();
    EXPECT_EQ(root.child("ServerType").text(), "MIXED");
    EXPECT_EQ(root.child("ServerName").text(), "sql01");
    EXPECT_EQ(root.child("Database").text(), "dwh");
    EXPECT_EQ(root.child("Login").text(), "sa");
    EXPECT_EQ(root.child("Password").text(), program::CodificaPassword("pass"));
    EXPECT_EQ(root.child("DatabaseAccess").text(), "/dati/zentrik.mdb");
    EXPECT_EQ(root.child("ServerOLAP").text(), "olap01");
    EXPECT_EQ(root.child("DatabaseOLAP").text(), "cubi");
    const auto bt = root.child("BusAndTask");
    EXPECT_EQ(bt.attribute("computer"), "vevira01");
    EXPECT_EQ(bt.attribute("systemUserID"), "sys");
    EXPECT_EQ(bt.attribute("systemPassword"), program::CodificaPassword("syspw"));
    EXPECT_EQ(bt.attribute("operatorUserID"), "op");
    EXPECT_EQ(bt.attribute("operatorPassword"), program::CodificaPassword("oppw"));
    EXPECT_EQ(bt.attribute("coDiv"), "01");
}

TEST(WizardWindow, AccessOnlyWithoutBusAndTaskReopensAsSaved)
{
    dtest::ProgramFolder folder;
    folder.write("zentrikServer.xml", "<zentrikServer><ServerType>sqlserver</ServerType><ServerName>old</ServerName>"
                                      "</zentrikServer>");
    ASSERT_TRUE(folder.store.load());
    QtPrompts prompts;
    {
        frmWizard wizard(folder.store, folder.values, folder.messages, prompts, nullptr);
        EXPECT_TRUE(child<QRadioButton>(wizard, "optStep1_2")->isChecked());
        click(wizard, "flbAvanti"); // SQL Server only skips page 2
        EXPECT_EQ(wizard.PassoCorrente(), 3);
        click(wizard, "flbIndietro");
        EXPECT_EQ(wizard.PassoCorrente(), 1);
        click(wizard, "optStep1_0"); // Access only
        click(wizard, "flbAvanti");
        click(wizard, "flbAvanti");
        EXPECT_EQ(wizard.PassoCorrente(), 4);
        EXPECT_EQ(child<FlatButtonWidget>(wizard, "flbIndietro")->toolTip(), "Passo 3");
        click(wizard, "flbIndietro");
        EXPECT_EQ(wizard.PassoCorrente(), 2);

        QtPrompts::nextYesNo() = {false};
        click(wizard, "flbCancella"); // answered No: nothing happens
        EXPECT_EQ(wizard.PassoCorrente(), 2);
        click(wizard, "flbfine");
    }
    auto doc = xml::Document::loadFile(folder.home() / "zentrikServer.xml");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().child("ServerType").text(), "ACCESS");
    EXPECT_EQ(doc->root().child("ServerName").text(), "");
    EXPECT_EQ(doc->root().child("BusAndTask").attribute("coDiv"), "2");
    EXPECT_EQ(doc->root().child("BusAndTask").attribute("computer"), "");

    frmWizard again(folder.store, folder.values, folder.messages, prompts, nullptr);
    EXPECT_TRUE(child<QRadioButton>(again, "optStep5_1")->isChecked());
}

TEST(WizardWindow, MismatchingPasswordsAreReportedWhenPageThreeIsRequested)
{
    dtest::ProgramFolder folder;
    QtPrompts prompts;
    frmWizard wizard(folder.store, folder.values, folder.messages, prompts, nullptr);
    click(wizard, "optStep1_2");
    click(wizard, "flbAvanti");
    type(wizard, "txtPassword_0", "a");
    type(wizard, "txtPassword_1", "b");
    click(wizard, "flbAvanti");
    EXPECT_TRUE(folder.messages.shown.empty());
    click(wizard, "flbIndietro");
    ASSERT_EQ(folder.messages.shown.size(), 1u);
    EXPECT_EQ(folder.messages.shown[0].text, "La seconda password non corrisponde con la prima. Ritentare");
    EXPECT_EQ(wizard.PassoCorrente(), 3);
}

TEST(WizardWindow, NavigationButtonsAreFlatButtonsThatAnswerTheMouse)
{
    dtest::ProgramFolder folder;
    QtPrompts prompts;
    frmWizard wizard(folder.store, folder.values, folder.messages, prompts, nullptr);
    const std::pair<const char*, const char*> captions[] = {
        {"flbIndietro", "<< Indietro "}, {"flbAvanti", "Avanti >>"}, {"flbCancella", "Annulla"}, {"flbfine", "Fine"}};
    for (const auto& [name, caption] : captions) {
        SCOPED_TRACE(name);
        auto* b = dynamic_cast<FlatButtonWidget*>(child<QWidget>(wizard, name));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->model().Text(), caption);
    }
    auto& indietro = *child<FlatButtonWidget>(wizard, "flbIndietro");
    auto& avanti = *child<FlatButtonWidget>(wizard, "flbAvanti");
    EXPECT_EQ(indietro.model().state(), flatui::FlatButton::Disabled);

    // On the first page Back is disabled: neither the mouse nor a Click raised from code moves.
    mouseClick(indietro, QPointF(4, 4)); // inside the button
    indietro.model().click();
    EXPECT_EQ(wizard.PassoCorrente(), 1);

    mouseClick(avanti, QPointF(4, 4)); // inside the button
    EXPECT_EQ(wizard.PassoCorrente(), 2);
    EXPECT_TRUE(indietro.isEnabled());
    EXPECT_TRUE(indietro.model().enabled());
    EXPECT_NE(indietro.model().state(), flatui::FlatButton::Disabled);
    mouseClick(indietro, QPointF(4, 4)); // inside the button
    EXPECT_EQ(wizard.PassoCorrente(), 1);
    EXPECT_FALSE(indietro.model().enabled());
}
