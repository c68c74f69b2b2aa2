// The whole program on a copy of the demo folder with its real windows: start-up order, a run
// from the run button over the options dialog's step tree, the wizard when there are no
// settings, and the run notification sent to a real SMTP server on loopback.

#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"

#include "db/Connection.h"
#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "engine/StepTree.h"
#include "flatui/widgets/FlatWidgets.h"
#include "mail/clsSendMail.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/run/SendMailSender.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/HostileXml.h"
#include "testsupport/Loopback.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::shell {

// The foundation's names used here.
using program::MessageAnswer;
using program::MessageIcon;
using program::MessageService;
using program::ProgramSettings;
using program::SecondaryOptionsFields;
using program::SettingsStore;
namespace {

namespace fs = std::filesystem;

struct Program : test::ProgramFolderTest {
    std::vector<std::pair<std::string, int>> lines(bool children = false)
    {
        std::vector<std::pair<std::string, int>> out;
        auto& tree = app->runWindow().tvwLog();
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            auto* item = tree.topLevelItem(i);
            out.emplace_back(item->text(0).toStdString(), item->data(0, LogTreeView::kImageRole).toInt());
            for (int k = 0; children && k < item->childCount(); ++k)
                out.emplace_back(item->child(k)->text(0).toStdString(),
                                 item->child(k)->data(0, LogTreeView::kImageRole).toInt());
        }
        return out;
    }
    bool hasLine(const std::string& prefix, int image = 0, bool children = false)
    {
        for (const auto& [text, img] : lines(children))
            if (text.rfind(prefix, 0) == 0 && (image == 0 || img == image))
                return true;
        return false;
    }
    QTreeWidgetItem* optionsItem(const std::string& text)
    {
        auto* tree = app->options().findChild<QTreeWidget*>("tvXML");
        for (int i = 0; tree && i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0).toStdString() == text)
                return tree->topLevelItem(i);
        return nullptr;
    }
};

TEST_F(Program, StartUpLoadsTheRealWindowsInOrder)
{
    copyDemo();
    create();
    ASSERT_TRUE(app->load());
    EXPECT_EQ(app->loadOrder(),
              (std::vector<std::string>{"frmCubi", "frmMenu", "frmMain", "frmSchedulazione", "frmOpzioni"}));
    EXPECT_TRUE(shown.empty()) << shown.front();
    // The options dialog read the settings and the loading XML into its step tree.
    EXPECT_EQ(app->settings().TitoloApplicazione, "Zentrik Server");
    EXPECT_EQ(app->main().windowTitle(), "Zentrik Server -  Quorvane srl");
    ASSERT_EQ(app->options().tvXML().steps().size(), 5u);
    ASSERT_NE(optionsItem("Anagrafica clienti"), nullptr);
    EXPECT_EQ(optionsItem("Anagrafica clienti")->checkState(0), Qt::Checked);
    EXPECT_EQ(optionsItem("Riepilogo per cliente (facoltativo)")->checkState(0), Qt::Unchecked);
    // Every window is a child of the MDI area; the cube window is the real one with its grid.
    for (const char* name : {"frmCubi", "frmMain", "frmSchedulazione", "frmOpzioni"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(app->main().area().findChild<QWidget*>(name), nullptr);
    }
    EXPECT_NE(app->cubes().flgCubi(), nullptr);
    EXPECT_TRUE(app->runWindow().isVisible());
}

TEST_F(Program, RunButtonRunsTheStepsTickedInTheOptionsDialog)
{
    copyDemo();
    // A compaction step at the end: the engine's own step, no longer a missing one.
    {
        const fs::path loading = home / "zentrikLoading.xml";
        std::string text = zs::test::readFile(loading);
        text.replace(text.find("</Estrattore>"), 13,
                     "<COMPATTA><esegui>si</esegui><operazione>Compattazione</operazione></COMPATTA></Estrattore>");
        std::ofstream(loading, std::ios::binary | std::ios::trunc) << text;
    }
    create();
    ASSERT_TRUE(app->load());
    auto* tree = app->options().findChild<QTreeWidget*>("tvXML");
    ASSERT_NE(tree, nullptr);
    // The operator unticks the articles and ticks the summary in the options dialog.
    for (const char* step : {"Anagrafica articoli", "Riepilogo per cliente (facoltativo)"}) {
        auto* item = optionsItem(step);
        ASSERT_NE(item, nullptr) << step;
        emit tree->itemClicked(item, 0);
    }
    EXPECT_EQ(optionsItem("Anagrafica articoli")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(optionsItem("Riepilogo per cliente (facoltativo)")->checkState(0), Qt::Checked);

    app->runWindow().findChild<flatui::FlatButtonWidget*>("flbExecuteXML")->model().click();
    EXPECT_TRUE(shown.empty()) << shown.front();
    EXPECT_TRUE(hasLine("Anagrafica clienti"));
    EXPECT_FALSE(hasLine("Anagrafica articoli"));
    EXPECT_TRUE(hasLine("Riepilogo per cliente (facoltativo)"));
    EXPECT_TRUE(hasLine("Compattazione"));
    EXPECT_FALSE(hasLine("Passo non disponibile", 0, true));
    EXPECT_TRUE(hasLine("Elaborazione eseguita correttamente", 2));
}

TEST_F(Program, CompactionOfADatabaseHeldElsewhereAsksToRetry)
{
    struct Case {
        const char* name;
        MessageAnswer answer; // to the first question; the holder lets go before a Retry
        bool compacted;
    };
    const Case cases[] = {{"retry after the other user closed", MessageAnswer::Retry, true},
                          {"cancel", MessageAnswer::Cancel, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        copyDemo();
        std::ofstream(home / "zentrikLoading.xml", std::ios::binary | std::ios::trunc)
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Estrattore><COMPATTA><esegui>si</esegui>"
               "<operazione>Compattazione</operazione></COMPATTA></Estrattore>\n";
        create();
        ASSERT_TRUE(app->load());
        auto holder = std::make_unique<db::Connection>();
        ASSERT_TRUE(holder->open("Data Source=" + (home / "target.db").string() + ";"));
        ASSERT_TRUE(holder->execute("begin immediate"));
        std::vector<QtMessageService::Shown> asked;
        app->messages().setAnswerHook([&](const QtMessageService::Shown& q) {
            asked.push_back(q);
            if (c.answer == MessageAnswer::Retry)
                holder.reset();
            return c.answer;
        });

        app->runWindow().findChild<flatui::FlatButtonWidget*>("flbExecuteXML")->model().click();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].title, "Attenzione.");
        EXPECT_EQ(asked[0].icon, MessageIcon::Information);
        EXPECT_TRUE(asked[0].text.ends_with("\r\nVuoi riprovare?")) << asked[0].text;
        EXPECT_TRUE(hasLine("Compattazione"));
        EXPECT_EQ(hasLine("Compattazione del database", 0, true), !c.compacted);
        EXPECT_TRUE(shown.empty()) << shown.front();
        holder.reset();
        app.reset();
    }
}

/// Answers the next modal wizard with Cancel and Yes to "Vuoi interrompere…"; gives up after
/// `rounds` event rounds without one, so no answer is left behind for a later test.
void cancelWizardWhenShown(int* seen, int rounds = 200)
{
    QTimer::singleShot(0, [seen, rounds] {
        auto* wizard = qobject_cast<dialogs::frmWizard*>(QApplication::activeModalWidget());
        if (!wizard) {
            if (rounds > 0)
                cancelWizardWhenShown(seen, rounds - 1);
            return;
        }
        ++*seen;
        dialogs::QtPrompts::nextYesNo().push_back(true);
        wizard->findChild<flatui::FlatButtonWidget*>("flbCancella")->model().click();
    });
}

/// Lets a watch of cancelWizardWhenShown that found no wizard run out, so that it cannot take
/// the wizard of a later test for its own.
void endWizardWatch()
{
    for (int i = 0; i < 250; ++i)
        QApplication::processEvents();
}

TEST_F(Program, WithoutSettingsTheWizardIsShownAndTheProgramEnds)
{
    create();
    int seen = 0;
    cancelWizardWhenShown(&seen);
    EXPECT_FALSE(app->load());
    EXPECT_EQ(seen, 1);
    EXPECT_TRUE(dialogs::QtPrompts::nextYesNo().empty());
    EXPECT_FALSE(app->main().isVisible());
}

TEST_F(Program, HostileSettingsFilesGiveAnErrorOrAStartNeverACrash)
{
    const std::set<std::string> refused = {"deep", "deep_unclosed", "nul", "truncated", "empty", "not_xml"};
    auto demo = xml::Document::loadFile(fs::path(ZS_DEMO_DIR) / "zentrikServer.xml");
    ASSERT_TRUE(demo);
    std::string body;
    for (const auto& c : demo->root().children())
        body += c.xml();
    copyDemo();
    for (const auto& [variant, bytes] : zs::test::hostileXmlFiles("zentrikServer", body)) {
        SCOPED_TRACE(variant);
        zs::test::writeFile(home / "zentrikServer.xml", bytes);
        shown.clear();
        app.reset();
        create();
        static int seen = 0;
        seen = 0;
        if (refused.count(variant) || variant == "huge") {
            cancelWizardWhenShown(&seen);
            EXPECT_FALSE(app->load());
            // A file over the settings' size bound is kept: no wizard replaces it.
            EXPECT_EQ(seen, variant == "huge" ? 0 : 1);
            if (seen == 0)
                endWizardWatch();
            ASSERT_FALSE(shown.empty());
            EXPECT_EQ(shown.front().rfind("Errore nel file", 0), 0u) << shown.front().substr(0, 300);
            EXPECT_LT(shown.front().size(), 2000u);
            // Every line of the box stays readable: the source excerpt is cut for it.
            std::size_t longest = 0, begin = 0;
            for (std::size_t end; (end = shown.front().find("\r\n", begin)) != std::string::npos; begin = end + 2)
                longest = std::max(longest, end - begin);
            longest = std::max(longest, shown.front().size() - begin);
            EXPECT_LE(longest, home.string().size() + 100) << shown.front();
        } else {
            EXPECT_TRUE(app->load());
            EXPECT_TRUE(shown.empty()) << shown.front().substr(0, 300);
            EXPECT_EQ(app->settings().TitoloApplicazione, "Zentrik Server");
        }
        EXPECT_TRUE(zs::test::readFile(home / "zentrikServer.xml") == bytes);
    }
}

TEST_F(Program, NonRegularFilesGiveAClearErrorAtOnceAndAreLeftAlone)
{
    // What stands at the name of a file the program reads may be no file: a FIFO, a folder, a
    // link to /dev/zero, or a file over every bound. The start never waits on it nor reads it
    // without end; the settings file so taken gives its error and no wizard, which would
    // replace it; the others give their error and the program starts.
    copyDemo();
    const fs::path registry = fs::path(std::getenv("XDG_CONFIG_HOME")) / "ZentrikServer" / "registry.ini";
    fs::create_directories(registry.parent_path());
    const fs::path files[] = {home / "zentrikServer.xml", home / "zentrikLoading.xml", home / "olap-demo.xml",
                              home / "cadenzo.xml", registry};
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    for (const fs::path& file : files)
        for (const std::string& kind : zs::test::hostileNonRegularKinds()) {
            SCOPED_TRACE(file.filename().string() + " " + kind);
            app.reset();
            copyDemo();
            zs::test::plantNonRegular(kind, file);
            const std::string planted = zs::test::describeEntry(file);
            shown.clear();
            create();
            static int seen = 0;
            seen = 0;
            cancelWizardWhenShown(&seen);
            const auto start = std::chrono::steady_clock::now();
            const bool started = app->load();
            // At once; the margin is for a loaded machine (a wait would be endless).
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
            EXPECT_EQ(seen, 0) << "the wizard was shown";
            endWizardWatch();
            const bool settings = file.filename() == "zentrikServer.xml";
            EXPECT_EQ(started, !settings);
            if (settings || file.filename() == "zentrikLoading.xml") {
                ASSERT_FALSE(shown.empty());
                EXPECT_EQ(shown.front().rfind("Errore nel file " + file.string(), 0), 0u) << shown.front();
                EXPECT_LT(shown.front().size(), 2000u);
            }
            for (const std::string& text : shown)
                EXPECT_NE(text.find(file.filename().string()), std::string::npos) << text;
            if (started)
                app->ChiudiApplicazione(); // saves what it keeps: never over what it could not read
            app.reset();
            EXPECT_EQ(zs::test::describeEntry(file), planted);
            fs::remove_all(file);
        }
    // Nothing was read without end: the peak of this process grew by far less than the files.
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024LL, zs::test::kHostileMemoryBound);
}

TEST_F(Program, CategoryMenuFifthEntryShowsTheWizard)
{
    copyDemo();
    create();
    ASSERT_TRUE(app->load());
    int seen = 0;
    cancelWizardWhenShown(&seen);
    auto& menu = app->main().menuButton()->model();
    automation::Variant args[] = {automation::Variant(5)};
    menu.events().raise(flatui::MenuButtonControl::Click, args);
    EXPECT_EQ(seen, 1);
}

struct Notification : Program {
    void SetUp() override
    {
        Program::SetUp();
        copyDemo();
        create();
        ASSERT_TRUE(app->load());
    }
};

TEST_F(Notification, SentToTheSmtpServerWithTheArchiveOrTheFiles)
{
    struct Case {
        const char* name;
        bool withArchiver;
        bool hadErrors;
    };
    const Case cases[] = {{"packed by arj", true, false}, {"files one by one", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.withArchiver && !findArchiver(home))
            continue; // no arj on this machine: the unpacked case still runs
        mail::test::SmtpPeer peer;
        ASSERT_TRUE(peer.ok());
        app->fields().txtSmtp = "127.0.0.1:" + std::to_string(peer.port());
        std::optional<test::ScopedEnvVar> noArchiver;
        if (!c.withArchiver)
            noArchiver.emplace("PATH", "/nonexistent");
        app->log().InitializeResponse();
        app->notification().setCodiceInstallazione("demo");
        app->notification().NotificaEstrazione(c.hadErrors);
        for (const auto& f : app->notification().gatherFiles())
            EXPECT_TRUE(fs::exists(f)) << f;
        noArchiver.reset();

        EXPECT_TRUE(hasLine("Invio notifica email in corso..", 2));
        EXPECT_TRUE(hasLine("Invio notifica email completata", 2, true));
        EXPECT_EQ(app->notification().SendEmailFailed(), "");
        const std::string msg = peer.message();
        EXPECT_NE(msg.find(c.hadErrors ? "Subject: demo:anomalia estrazione" : "Subject: demo:notifica estrazione"),
                  std::string::npos);
        EXPECT_NE(peer.envelope().find(RunNotification::kSupportMailbox), std::string::npos);
        if (c.withArchiver) {
            EXPECT_NE(msg.find("zentrikdemo.arj"), std::string::npos);
            EXPECT_EQ(msg.find("zentrikServer.xml"), std::string::npos);
            EXPECT_FALSE(fs::exists(home / "zentrikdemo.arj")); // removed after the send
            for (const auto& e : fs::directory_iterator(home))  // with its private folder
                EXPECT_NE(e.path().filename().string().rfind(RunNotification::kArchiveFolderPrefix, 0), 0u) << e.path();
        } else {
            EXPECT_NE(msg.find("zentrikServer.xml"), std::string::npos);
            EXPECT_NE(msg.find("zentrikLoading.xml"), std::string::npos);
            EXPECT_EQ(msg.find("zentrikdemo.arj"), std::string::npos);
        }
    }
}

TEST_F(Notification, AnInstallationWithoutACodeStillSends)
{
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    app->fields().txtSmtp = "127.0.0.1:" + std::to_string(peer.port());
    app->log().InitializeResponse();
    app->notification().NotificaEstrazione(false);
    EXPECT_EQ(app->notification().SendEmailFailed(), "");
    EXPECT_TRUE(hasLine("Invio notifica email completata", 2, true));
    EXPECT_NE(peer.envelope().find("zentrik@zentrik.it"), std::string::npos) << peer.envelope();
    EXPECT_NE(peer.message().find("Subject: :notifica estrazione"), std::string::npos);
}

TEST_F(Notification, AHungArchiverIsStoppedAndTheFilesGoUnpacked)
{
    zs::test::writeFile(home / "arj", "#!/bin/sh\nexec sleep 60\n");
    ::chmod((home / "arj").c_str(), 0755);
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    app->fields().txtSmtp = "127.0.0.1:" + std::to_string(peer.port());
    app->notification().setCodiceInstallazione("demo");
    app->notification().setArchiverTimeLimit(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    app->notification().NotificaEstrazione(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(app->notification().SendEmailFailed(), "");
    const std::string msg = peer.message();
    EXPECT_NE(msg.find("zentrikServer.xml"), std::string::npos);
    EXPECT_EQ(msg.find("zentrikdemo.arj"), std::string::npos);
    EXPECT_FALSE(fs::exists(home / "zentrikdemo.arj"));
}

TEST_F(Notification, NobodyListeningIsAFailureLoggedInRed)
{
    app->fields().txtSmtp = "127.0.0.1:" + std::to_string(mail::test::freePort());
    app->notification().setCodiceInstallazione("demo");
    app->notification().NotificaEstrazione(false);
    EXPECT_NE(app->notification().SendEmailFailed(), "");
    EXPECT_TRUE(hasLine("Invio notifica email in corso..", 3));
    EXPECT_TRUE(hasLine("Invio notifica email con errore:", 0, true));
    EXPECT_FALSE(hasLine("Invio notifica email completata", 0, true));
}

TEST_F(Notification, AnEmptyReplyIsAFailureWithAReason)
{
    // A server that answers HELO with an empty line: the notification is not sent, and its
    // error line says why.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::EmptyHeloReply);
    ASSERT_TRUE(peer.ok());
    app->fields().txtSmtp = "127.0.0.1:" + std::to_string(peer.port());
    app->notification().setCodiceInstallazione("demo");
    app->notification().NotificaEstrazione(false);
    EXPECT_EQ(app->notification().SendEmailFailed(), "Invalid reply from the server (empty line)");
    EXPECT_TRUE(hasLine("Invio notifica email con errore:Invalid reply from the server (empty line)", 0, true));
    EXPECT_FALSE(hasLine("Invio notifica email completata", 0, true));
}

// "Invia ora" brings the run window forward to show the sending: the category menu marks the
// run window, not the secondary options the button was pressed on.
TEST_F(Notification, InviaOraMarksTheRunWindowInTheCategoryMenu)
{
    const std::string nobody = "127.0.0.1:" + std::to_string(mail::test::freePort());
    app->secondaryWindow().findChild<QLineEdit*>("txtSmtp")->setText(QString::fromStdString(nobody));
    app->fields().txtSmtp = nobody;
    app->main().findChild<QAction*>("mModuli3")->trigger();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    auto& menu = app->main().menuButton()->model();
    ASSERT_EQ(menu.MenuSelected(), 3);
    ASSERT_TRUE(menu.menuVisible());
    EXPECT_EQ(menu.hotItem(), 3);
    app->secondaryWindow().findChild<flatui::FlatButtonWidget*>("flbEmail")->model().click();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(hasLine("Invio notifica email in corso..", 3));
    EXPECT_EQ(app->main().area().activeSubWindow(), dialogs::subWindowOf(app->runWindow()));
    EXPECT_EQ(menu.MenuSelected(), 1);
    EXPECT_EQ(menu.hotItem(), 1);
}

TEST_F(Notification, ABusyServerIsLoggedWithItsOwnReply)
{
    // A 421 greeting, then the connection closed while the client says goodbye: the run log
    // shows the server's reply, not the reset that followed it.
    mail::test::HostileSmtpPeer peer(mail::test::HostileSmtpPeer::Kind::BusyThenClose);
    ASSERT_TRUE(peer.ok());
    app->fields().txtSmtp = "127.0.0.1:" + std::to_string(peer.port());
    app->notification().setCodiceInstallazione("demo");
    app->log().InitializeResponse();
    app->notification().NotificaEstrazione(false);
    EXPECT_EQ(app->notification().SendEmailFailed(), mail::test::HostileSmtpPeer::kBusyReply);
    EXPECT_TRUE(hasLine("Invio notifica email in corso..", 3));
    EXPECT_TRUE(
        hasLine(std::string("Invio notifica email con errore:") + mail::test::HostileSmtpPeer::kBusyReply, 0, true));
    std::size_t errors = 0;
    for (const auto& [text, image] : lines(true))
        errors += text.rfind("Invio notifica email con errore:", 0) == 0 ? 1 : 0;
    EXPECT_EQ(errors, 1u);
    EXPECT_FALSE(hasLine("Invio notifica email completata", 0, true));
}

TEST(SendMailSender, AServerThatNeverAnswersTimesOutAsAFailure)
{
    zs::test::ScopedTestEnv env;
    zs::test::LoopbackSocket silent; // accepted by the kernel, never greeted
    ASSERT_TRUE(silent.ok());

    SendMailSender sender([] {}, nullptr, 1);
    MailMessage m;
    m.smtpHost = "127.0.0.1:" + std::to_string(silent.port());
    m.fromAddress = "server@zentrik.it";
    m.toAddress = "ops@zentrik.it";
    m.subject = "prova";
    std::vector<std::string> status;
    const MailOutcome outcome = sender.send(m, [&](const std::string& s) { status.push_back(s); });
    EXPECT_FALSE(outcome.sent);
    EXPECT_FALSE(outcome.failure.empty());
    EXPECT_FALSE(status.empty());
}

TEST(SendMailSender, ASendStartedWhileAnotherWaitsKeepsBothMessagesApart)
{
    // The wait of a send lets window events run; one of them may send again (the test-mail
    // button during a run's notification). Each message reaches the server whole and each
    // send gets its own outcome.
    zs::test::ScopedTestEnv env;
    mail::test::SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    auto message = [&](const std::string& subject, const std::string& to) {
        MailMessage m;
        m.smtpHost = "127.0.0.1:" + std::to_string(peer.port());
        m.fromAddress = "server@zentrik.it";
        m.toAddress = to;
        m.subject = subject;
        m.body = "corpo di " + subject;
        return m;
    };
    SendMailSender* self = nullptr;
    MailOutcome inner{false, "not sent"};
    bool started = false;
    SendMailSender sender(
        [&] {
            if (started)
                return;
            started = true;
            inner = self->send(message("seconda", "due@zentrik.it"), {});
        },
        nullptr, 10);
    self = &sender;
    const MailOutcome outer = sender.send(message("prima", "uno@zentrik.it"), {});
    EXPECT_TRUE(inner.sent) << inner.failure;
    EXPECT_TRUE(outer.sent) << outer.failure;
    ASSERT_EQ(peer.count(), 2);
    const std::string second = peer.message(1), first = peer.message(2);
    EXPECT_NE(second.find("Subject: seconda"), std::string::npos) << second;
    EXPECT_NE(second.find("due@zentrik.it"), std::string::npos) << second;
    EXPECT_EQ(second.find("prima"), std::string::npos) << second;
    EXPECT_NE(first.find("Subject: prima"), std::string::npos) << first;
    EXPECT_NE(first.find("uno@zentrik.it"), std::string::npos) << first;
    EXPECT_EQ(first.find("seconda"), std::string::npos) << first;
}

TEST(SendMailSender, SmtpBoxHoldsAHostAndAnOptionalPort)
{
    struct Case {
        const char* text;
        const char* host;
        long port;
    } cases[] = {{"mail.example", "mail.example", 25},
                 {"mail.example:2525", "mail.example", 2525},
                 {"mail.example:0", "mail.example:0", 25},
                 {"mail.example:x", "mail.example:x", 25},
                 {"::1", "::1", 25},
                 {"", "", 25}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const SmtpAddress a = parseSmtpAddress(c.text);
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
    }
}

TEST_F(Program, TheDemoNamesTheSenderOfTheOrderMails)
{
    // The IMPORTEMAIL step sends from this setting, read as the run reads it.
    copyDemo();
    struct NoMessages : MessageService {
        void show(const std::string&, MessageIcon, const std::string&) override {}
    } messages;
    ProgramSettings values;
    SecondaryOptionsFields fields;
    SettingsStore store(values, fields, messages, home);
    ASSERT_TRUE(store.load());
    const std::string sender = store.LeggiTesto("MittenteOrdini");
    EXPECT_EQ(sender, "ordini@zentrik.it");
    // The mail class's own check takes it: an order mail from the demo can go out.
    mail::clsSendMail m;
    EXPECT_TRUE(m.IsValidEmailAddress(sender));
    m.setFrom(sender);
    EXPECT_TRUE(m.errors().empty());
}

} // namespace
} // namespace zs::shell
