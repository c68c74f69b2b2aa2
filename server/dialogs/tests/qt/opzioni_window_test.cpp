#include "WidgetLookup.h"
#include "dialogs/core/SettingsWindows.h"
#include "dialogs/qt/JobViewerWindow.h"
#include "dialogs/qt/LoginWindow.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"

#include "../core/DialogsTestSupport.h"

#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "program/PasswordCodec.h"
#include "program/ProgramLog.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cmath>

using namespace zs;
using namespace zs::dialogs;
using zs::dialogs::test::child;
using zs::dialogs::test::mouseClick;

namespace {

struct FakeWizard : program::ConfigurationWizard {
    void showModal() override { ++shown; }
    int shown = 0;
};

struct OpzioniFixture : ::testing::Test {
    OpzioniServices services()
    {
        return OpzioniServices{
            folder.store, folder.loading,     folder.values, folder.messages, prompts, &wizard, nullptr, nullptr,
            {},           [this] { ++ended; }};
    }
    dtest::ProgramFolder folder;
    QtPrompts prompts;
    FakeWizard wizard;
    int ended = 0;
};

} // namespace

TEST_F(OpzioniFixture, WithoutSettingsItShowsTheWizardAndEnds)
{
    frmOpzioni dlg(services());
    EXPECT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::NoSettings);
    EXPECT_EQ(wizard.shown, 1);
    EXPECT_EQ(ended, 1);
}

TEST_F(OpzioniFixture, InitializeSettingsFillsTheTreeAndTheBoxes)
{
    folder.copyFixture("loading.xml");
    folder.write("zentrikServer.xml", "<zentrikServer><LOADINGFILE>loading.xml</LOADINGFILE>"
                                      "<CREATIONFILE>creazione.xml</CREATIONFILE>"
                                      "<BUSANDTASK computer=\"vevira01\" systemUserID=\"sys\" systemPassword=\"" +
                                          program::CodificaPassword("pw") +
                                          "\" operatorUserID=\"op\" operatorPassword=\"\" coDiv=\"01\"/>"
                                          "</zentrikServer>");
    frmOpzioni dlg(services());
    SettingsWindows{nullptr, &dlg}.connect(folder.store);
    EXPECT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
    EXPECT_EQ(wizard.shown, 0);

    auto* tree = child<QTreeWidget>(dlg, "tvXML");
    ASSERT_EQ(tree->topLevelItemCount(), 4);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Clienti");
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 3);
    EXPECT_EQ(tree->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(child<QLineEdit>(dlg, "txtLoadingXml")->text().endsWith("loading.xml"));
    EXPECT_TRUE(child<QLineEdit>(dlg, "txtCreationXml")->text().endsWith("creazione.xml"));
    EXPECT_TRUE(child<QCheckBox>(dlg, "chkSelectHandly")->isChecked());
    EXPECT_TRUE(child<QPlainTextEdit>(dlg, "txtBuildDBResponse")->toPlainText().isEmpty());
    EXPECT_EQ(folder.values.TitoloApplicazione, "Zentrik Server");

    // A click on the unticked step ticks it and shows the by-hand state.
    child<QCheckBox>(dlg, "chkSelectAll")->click();
    EXPECT_FALSE(child<QCheckBox>(dlg, "chkSelectHandly")->isChecked());
    child<QCheckBox>(dlg, "chkUnselectAll")->click();
    EXPECT_EQ(tree->topLevelItem(0)->checkState(0), Qt::Unchecked);
    const QRect r = tree->visualItemRect(tree->topLevelItem(1));
    emit tree->itemClicked(tree->topLevelItem(1), 0);
    (void)r;
    EXPECT_EQ(dlg.tvXML().steps()[1].image, 1);
    EXPECT_TRUE(child<QCheckBox>(dlg, "chkSelectHandly")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(dlg, "chkUnselectAll")->isChecked());

    // Reloading with the ticks kept.
    dlg.RicaricaModuli(true);
    EXPECT_EQ(dlg.tvXML().steps()[0].image, 2);
    EXPECT_EQ(dlg.tvXML().steps()[1].image, 1);
    dlg.RicaricaModuli(false);
    EXPECT_EQ(dlg.tvXML().steps()[0].image, 1);
    EXPECT_EQ(dlg.tvXML().steps()[1].image, 2);
}

TEST_F(OpzioniFixture, AClickedStepIsNotLeftHighlightedAndAReloadAddsTheStepsCollapsed)
{
    folder.copyFixture("loading.xml");
    folder.write("zentrikServer.xml", "<zentrikServer><LOADINGFILE>loading.xml</LOADINGFILE></zentrikServer>");
    frmOpzioni dlg(services());
    SettingsWindows{nullptr, &dlg}.connect(folder.store);
    ASSERT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
    dlg.resize(640, 480);
    dlg.show();
    QApplication::processEvents();
    auto* tree = child<QTreeWidget>(dlg, "tvXML");
    ASSERT_GE(tree->topLevelItemCount(), 2);

    // A click with the mouse toggles the step and leaves no step highlighted.
    QTreeWidgetItem* step = tree->topLevelItem(1);
    const int before = dlg.tvXML().steps()[1].image;
    const QRect r = tree->visualItemRect(step);
    mouseClick(*tree->viewport(), QPointF(r.center()));
    QApplication::processEvents();
    EXPECT_NE(dlg.tvXML().steps()[1].image, before);
    EXPECT_TRUE(tree->selectedItems().isEmpty());
    EXPECT_FALSE(tree->topLevelItem(1)->isSelected());
    EXPECT_EQ(tree->currentItem(), nullptr);
    // The box of a node follows the dialog's marks only.
    EXPECT_FALSE(step->flags() & Qt::ItemIsUserCheckable);

    // From the keyboard: the arrows choose a step, Space toggles it as the click does.
    tree->setFocus();
    tree->setCurrentItem(tree->topLevelItem(0));
    const int first = dlg.tvXML().steps()[0].image;
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(tree, &space);
    EXPECT_NE(dlg.tvXML().steps()[0].image, first);
    EXPECT_EQ(tree->topLevelItem(0)->checkState(0), dlg.tvXML().steps()[0].image == 1 ? Qt::Checked : Qt::Unchecked);

    // "Carica Moduli" fills the tree anew: an expanded step comes back collapsed.
    tree->topLevelItem(0)->setExpanded(true);
    child<flatui::FlatButtonWidget>(dlg, "flbRicarica")->model().click();
    ASSERT_GE(tree->topLevelItemCount(), 2);
    EXPECT_FALSE(tree->topLevelItem(0)->isExpanded());
}

TEST_F(OpzioniFixture, DatabaseCreationPage)
{
    folder.write("zentrikServer.xml", "<zentrikServer><CREATIONFILE>creazione.xml</CREATIONFILE></zentrikServer>");
    frmOpzioni dlg(services());
    ASSERT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
    auto* box = child<QPlainTextEdit>(dlg, "txtBuildDBResponse");
    dlg.OutputResponseDB("a");
    dlg.OutputResponseDB("b");
    EXPECT_EQ(box->toPlainText(), "ab");

    QtPrompts::nextYesNo() = {false};
    child<flatui::FlatButtonWidget>(dlg, "flbBuildDb")->model().click();
    EXPECT_EQ(box->toPlainText(), "ab"); // No leaves the box alone

    // Until the engine's builder is wired in, the page says creation is not available.
    QtPrompts::nextYesNo() = {true};
    child<flatui::FlatButtonWidget>(dlg, "flbBuildDb")->model().click();
    EXPECT_TRUE(box->toPlainText().startsWith("Creazione database non disponibile"));
    ASSERT_FALSE(folder.messages.shown.empty());
    EXPECT_EQ(folder.messages.shown.back().text,
              "Creazione database locale terminata con errori:\r\ncontrollare i risultati.");

    std::string built;
    dlg.setCreaDatabase([&](const std::string& path) {
        built = path;
        dlg.OutputResponseDB("tabella CLIENTI creata\r\n");
        return true;
    });
    QtPrompts::nextYesNo() = {true};
    child<flatui::FlatButtonWidget>(dlg, "flbBuildDb")->model().click();
    EXPECT_EQ(box->toPlainText(), "tabella CLIENTI creata\n"); // the second build empties the first's output
    EXPECT_EQ(std::filesystem::path(built).filename(), "creazione.xml");
    EXPECT_EQ(folder.messages.shown.back().text, "Creazione database locale terminata senza errori.");

    // A creation XML in the program folder is kept as its bare name, another as its full path.
    QtPrompts::nextFile() = {(folder.home() / "altro.xml").string(), std::string("/srv/xml/altro.xml"), std::nullopt};
    child<QPushButton>(dlg, "cmbCreationXML")->click();
    EXPECT_EQ(folder.values.FileCreazione, "altro.xml");
    child<QPushButton>(dlg, "cmbCreationXML")->click();
    EXPECT_EQ(folder.values.FileCreazione, "/srv/xml/altro.xml");
    child<QPushButton>(dlg, "cmbCreationXML")->click(); // cancelled
    EXPECT_EQ(child<QLineEdit>(dlg, "txtCreationXml")->text(), "/srv/xml/altro.xml");
}

TEST_F(OpzioniFixture, SettingsThatDoNotReadAreReportedInTheRunLog)
{
    struct Case {
        const char* name;
        const char* settings;
        const char* line;
        std::function<void(const program::ProgramSettings&)> check;
    };
    const int timeoutBefore = folder.values.TimeoutComandi;
    const Case cases[] = {
        {"a value that does not convert", "<TIMEOUT>trenta</TIMEOUT><CREATIONFILE>creazione.xml</CREATIONFILE>",
         "Valore non valido per TIMEOUT: \"trenta\"",
         [&](const program::ProgramSettings& v) {
             EXPECT_EQ(v.TimeoutComandi, timeoutBefore); // the default stays
             EXPECT_TRUE(v.FileCreazione.ends_with("creazione.xml"));
         }},
        {"a password written by hand", "<ServerType>SQLSERVER</ServerType><Password>segreta</Password>",
         "La password dell'elemento Password non è codificata: impostarla da Opzioni principali",
         [](const program::ProgramSettings& v) { EXPECT_EQ(v.PasswordServer, "segreta"); }}, // never an empty one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.write("zentrikServer.xml", std::string("<zentrikServer>") + c.settings + "</zentrikServer>");
        time::FakeClock clock{{2026, 12, 7, 8, 0, 0}};
        program::DayLog dayLog{folder.home(), clock};
        program::ProgramLog log{dayLog};
        OpzioniServices s = services();
        s.log = &log;
        frmOpzioni dlg(s);
        ASSERT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
        c.check(folder.values);
        ASSERT_EQ(log.nodes().size(), 1u);
        EXPECT_EQ(log.nodes()[0].text, c.line);
        EXPECT_TRUE(log.nodes()[0].error);
        EXPECT_FALSE(log.nodes()[0].parent.has_value());
    }
}

namespace {

/// Presses and releases the mouse over tab `k` of the strip, as the operator does.
void clickTab(flatui::FlatTabWidget& tab, int k)
{
    mouseClick(tab, QPointF(tab.model().tabHitLeft(k) / 15.0 + 20, 18));
}

} // namespace

TEST_F(OpzioniFixture, TabStripShowsOnePageAtATime)
{
    folder.write("zentrikServer.xml", "<zentrikServer/>");
    frmOpzioni dlg(services());
    ASSERT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
    dlg.Form_ShowMe();
    QApplication::processEvents();
    auto* tab = child<flatui::FlatTabWidget>(dlg, "FlatTab");
    const char* captions[] = {"Estrazione dati", "Creazione database", "Bus & Task", "Statistiche"};
    QWidget* pages[4];
    for (int k = 1; k <= 4; ++k) {
        tab->model().setTabId(k);
        EXPECT_EQ(tab->model().TabCaption(), captions[k - 1]);
        pages[k - 1] = child<QWidget>(dlg, ("picTab" + std::to_string(k - 1)).c_str());
        EXPECT_EQ(pages[k - 1]->geometry(), pages[0]->geometry()) << "pages lie over one another";
        EXPECT_EQ(pages[k - 1]->palette().color(QPalette::Window), QColor(120, 179, 220)); // 14463864
    }
    for (int k : {2, 4, 3, 1}) {
        SCOPED_TRACE(k);
        clickTab(*tab, k);
        EXPECT_EQ(tab->model().IndexSelectedTab(), k);
        for (int j = 1; j <= 4; ++j)
            EXPECT_EQ(pages[j - 1]->isVisible(), j == k) << j;
    }
    // Shown again on the fourth tab, the chart is drawn; without stat.xml it is empty and quiet.
    clickTab(*tab, 4);
    dlg.hide();
    dlg.Form_ShowMe();
    EXPECT_TRUE(dlg.chart().bars.empty());
    EXPECT_TRUE(folder.messages.shown.empty());
}

TEST_F(OpzioniFixture, ResizeFollowsTheLayoutCodes)
{
    folder.write("zentrikServer.xml", "<zentrikServer/>");
    frmOpzioni dlg(services());
    ASSERT_EQ(dlg.InitializeSettings(), OpzioniCore::InitOutcome::Loaded);
    dlg.show();
    QApplication::processEvents();
    ASSERT_EQ(dlg.size(), QSize(640, 480));
    auto* conferma = child<QWidget>(dlg, "flbConferma");        // "rb"
    auto* response = child<QWidget>(dlg, "txtBuildDBResponse"); // "WHL"
    auto* loading = child<QWidget>(dlg, "txtLoadingXml");       // "W"
    auto* label = child<QWidget>(dlg, "lblCreaDB");             // no code
    const QRect conferma0 = conferma->geometry(), response0 = response->geometry(), loading0 = loading->geometry(),
                label0 = label->geometry();
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };

    // Repeated resizing works from the design values, so it never drifts.
    for (const QSize size : {QSize(960, 720), QSize(625, 450), QSize(1280, 600), QSize(960, 720)}) {
        SCOPED_TRACE(size.width());
        dlg.resize(size);
        QApplication::processEvents();
        const double rx = size.width() / 640.0, ry = size.height() / 480.0;
        EXPECT_EQ(conferma->geometry(), conferma0.translated(size.width() - 640, size.height() - 480));
        EXPECT_EQ(response->geometry(), QRect(px(response0.x() * rx), response0.y(), px(response0.width() * rx),
                                              px(response0.height() * ry)));
        EXPECT_EQ(loading->geometry(), QRect(loading0.topLeft(), QSize(px(loading0.width() * rx), loading0.height())));
        EXPECT_EQ(label->geometry(), label0);
    }
    // Below its minimum the dialog stops, where every page still holds its controls.
    dlg.resize(500, 400);
    QApplication::processEvents();
    EXPECT_EQ(dlg.size(), QSize(620, 440));
}

TEST_F(OpzioniFixture, HoverLookLeavesTheOtherFlatButtons)
{
    frmOpzioni dlg(services());
    auto* ricarica = child<flatui::FlatButtonWidget>(dlg, "flbRicarica");
    auto* build = child<flatui::FlatButtonWidget>(dlg, "flbBuildDb");
    auto* conferma = child<flatui::FlatButtonWidget>(dlg, "flbConferma");
    EXPECT_EQ(build->model().Text(), "Crea DB");
    ricarica->model().mouseMove(0, 0, 100, 100);
    ASSERT_EQ(ricarica->model().state(), flatui::FlatButton::Hover);
    build->model().mouseMove(0, 0, 100, 100);
    EXPECT_EQ(ricarica->model().state(), flatui::FlatButton::Normal);
    EXPECT_EQ(build->model().state(), flatui::FlatButton::Hover);
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), dlg.mapToGlobal(QPointF(2, 2)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&dlg, &move);
    for (auto* b : {ricarica, build, conferma})
        EXPECT_EQ(b->model().state(), flatui::FlatButton::Normal) << b->objectName().toStdString();
}

TEST(LoginWindow, OkCancelAndAFreshFieldEachTime)
{
    frmLogin login;
    QTimer::singleShot(0, &login, [&] {
        login.findChild<QLineEdit*>("txtPassword")->setText("segreta");
        login.findChild<QPushButton*>("cmdOK")->click();
    });
    EXPECT_EQ(login.ShowMe("Cambio password"), "segreta");
    EXPECT_EQ(login.windowTitle(), "Cambio password");

    QTimer::singleShot(0, &login, [&] {
        EXPECT_TRUE(login.findChild<QLineEdit*>("txtPassword")->text().isEmpty());
        login.findChild<QLineEdit*>("txtPassword")->setText("x");
        login.findChild<QPushButton*>("cmdCancel")->click();
    });
    EXPECT_EQ(login.ShowMe("Altro"), "");

    QTimer::singleShot(0, &login, [&] { login.findChild<QPushButton*>("cmdOK")->click(); });
    EXPECT_EQ(login.ShowMe("Vuoto"), ""); // OK on an empty field is the same as Cancel
}

TEST(JobViewerWindow, ListsTheStepsJobs)
{
    auto doc = xml::Document::loadFile(dtest::kData / "loading.xml");
    ASSERT_TRUE(doc);
    frmJob job;
    job.ShowMe(doc->root().child("CLIENTI"), false);
    auto* list = job.findChild<QComboBox*>("cmbJob");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(2), "job3");
    EXPECT_EQ(job.findChild<QPlainTextEdit*>("txtJob")->toPlainText(), "INSERT INTO CLIENTI SELECT * FROM ANAGRAFICA");
    list->setCurrentIndex(2);
    EXPECT_EQ(job.findChild<QPlainTextEdit*>("txtJob")->toPlainText(), "DELETE FROM CLIENTI WHERE ZONA IS NULL");
    EXPECT_EQ(job.findChild<QLineEdit*>("txtNome")->text(), "CLIENTI");
    EXPECT_EQ(job.findChild<QLineEdit*>("txtContatore")->text(), "100");
    EXPECT_FALSE(job.findChild<QLineEdit*>("txtSvuota")->isEnabled());
    // The header strip with its caption, and the flat close button that closes the window.
    EXPECT_EQ(job.findChild<QWidget*>("lblIntestazione")->findChild<QLabel*>("lblModuli")->text(),
              "passo di estrazione");
    EXPECT_NE(job.findChild<QWidget*>("lblIntestazione")->findChild<QWidget*>("imgAngolo"), nullptr);
    auto* close = job.findChild<flatui::FlatButtonWidget*>("flbChiudi");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->model().Text(), "Chiudi");
    job.show();
    close->model().click();
    EXPECT_FALSE(job.isVisible());
    EXPECT_EQ(job.result(), QDialog::Accepted);
}
