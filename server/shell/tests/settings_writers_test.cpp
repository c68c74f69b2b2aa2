// One program folder, several writers of its settings: the program open and idle while
// zs-extract runs from cron and an editor rewrites the file. No save undoes another's change;
// a settings name that zs-extract cannot read is refused with the reason the program gives.

#include "dialogs/qt/CubiWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "process/ChildProcess.h"
#include "process/Process.h"
#include "program/ProgramLog.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#ifndef ZS_EXTRACT_PATH
#error "ZS_EXTRACT_PATH names zs-extract"
#endif

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

struct SettingsWriters : test::DemoProgramTest {
    void menu(int entry)
    {
        automation::Variant args[] = {automation::Variant(entry)};
        app->main().menuButton()->model().events().raise(flatui::MenuButtonControl::Click, args);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    QLineEdit& field(const char* name) { return *app->secondaryWindow().findChild<QLineEdit*>(name); }

    std::optional<xml::Document> settings()
    {
        std::string bytes = test::readFile(home / "zentrikServer.xml");
        if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
            bytes.erase(0, 3);
        return xml::Document::loadString(bytes);
    }
    /// The cube dates the file holds, by cube.
    std::map<std::string, std::string> cubeDates()
    {
        std::map<std::string, std::string> out;
        const auto doc = settings();
        if (doc)
            for (const auto& c : doc->root().children())
                if (c.name() == "cubo")
                    out[c.attribute("nome").value_or("")] = c.attribute("data").value_or("");
        return out;
    }
};

std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string dayLogText(const fs::path& folder)
{
    const auto file = program::DayLog(folder, time::systemClock()).currentFile();
    return fs::exists(file) ? test::readFile(file) : std::string();
}

TEST_F(SettingsWriters, ARunTheProgramAndAnEditorEachKeepTheOthersChanges)
{
    // Every step of the run waits 1.5 s first: the changes below land while it runs.
    std::string text = test::readFile(home / "zentrikServer.xml");
    text.insert(text.rfind("</"), "<pause>1500</pause>\n");
    test::writeFile(home / "zentrikServer.xml", text);
    create();
    ASSERT_TRUE(app->load());
    menu(3);
    menu(1);
    const auto datesBefore = cubeDates();
    ASSERT_FALSE(datesBefore.empty());

    process::ChildProcess cron;
    const fs::path output = env.root() / "cron.txt";
    process::ChildOptions o;
    o.outputFile = output.string();
    ASSERT_TRUE(cron.start({ZS_EXTRACT_PATH, home.string()}, o));
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && cron.running() && occurrences(dayLogText(home), "Anagrafica clienti") == 0)
        QThread::msleep(20);
    ASSERT_TRUE(cron.running()) << test::readFile(output);

    // (a) An editor replaces the file with another SMTP server.
    text = test::readFile(home / "zentrikServer.xml");
    ASSERT_NE(text.find("<smtpserver></smtpserver>"), std::string::npos) << text;
    text.replace(text.find("<smtpserver></smtpserver>"), 25, "<smtpserver>smtp.esterno</smtpserver>");
    test::writeFile(home / "editor.tmp", text);
    fs::rename(home / "editor.tmp", home / "zentrikServer.xml");
    // (b) The operator keeps the day logs 7 months, and leaves the page: the program saves.
    menu(3);
    field("txtMese").setText("7");
    menu(1);
    ASSERT_TRUE(cron.running()) << "the run ended before both changes: " << test::readFile(output);

    ASSERT_EQ(cron.waitFor(60000), std::optional<int>(0)) << test::readFile(output);
    EXPECT_NE(test::readFile(output).find("Estrazione terminata con successo."), std::string::npos);
    auto doc = settings();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().child("smtpserver").text(), "smtp.esterno") << doc->xml();
    EXPECT_EQ(doc->root().child("deletelogs").text(), "7") << doc->xml();
    EXPECT_EQ(doc->root().child("pause").text(), "1500");
    const auto datesAfterRun = cubeDates();
    ASSERT_EQ(datesAfterRun.size(), datesBefore.size());
    for (const auto& [cube, date] : datesAfterRun) {
        SCOPED_TRACE(cube);
        EXPECT_FALSE(date.empty());
        EXPECT_NE(date, datesBefore.at(cube));
    }

    // The page shows the file's values; the program's own next save keeps the run's dates.
    menu(3);
    EXPECT_EQ(field("txtSmtp").text().toStdString(), "smtp.esterno");
    EXPECT_EQ(field("txtMese").text().toStdString(), "7");
    field("txtUsername").setText("operatore");
    menu(1);
    doc = settings();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->root().child("smtpuser").text(), "operatore");
    EXPECT_EQ(doc->root().child("smtpserver").text(), "smtp.esterno");
    EXPECT_EQ(cubeDates(), datesAfterRun);
    for (const auto& cube : app->cubes().cubes())
        EXPECT_EQ(cube.data, datesAfterRun.at(cube.nome)) << cube.nome;
    EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
}

TEST_F(SettingsWriters, ZsExtractRefusesASettingsNameThatIsNoFileWithItsReason)
{
    const fs::path file = home / "zentrikServer.xml";
    const std::string reading = "Impossibile leggere il file " + file.string();
    const struct {
        std::string kind;
        std::string says; ///< the reason, as the program's box gives it
    } cases[] = {
        {"fifo", reading + ": è una pipe, non un file"},
        {"directory", reading + ": è una cartella, non un file"},
        {"huge", "Il file " + file.string() + " supera il limite di 16 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove_all(file);
        if (c.kind == "huge") {
            std::ofstream(file) << "<zentrikServer>";
            fs::resize_file(file, (16u << 20) + 1);
        } else {
            test::plantNonRegular(c.kind, file);
        }
        const auto before = test::describeEntry(file);
        process::RunOptions o;
        o.captureOutput = true;
        o.timeLimit = std::chrono::seconds(30);
        const auto r = process::run({ZS_EXTRACT_PATH, home.string()}, o);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_EQ(r.output, "zs-extract: zentrikServer.xml mancante o illeggibile in \"" + home.string() +
                                "\": " + c.says + "\n");
        EXPECT_EQ(r.output.find("Codice errore"), std::string::npos) << r.output;
        EXPECT_EQ(test::describeEntry(file), before);
    }
}

TEST_F(SettingsWriters, ZsExtractShowsAFolderNameWithLineEndsAsOneLine)
{
    // A folder name is a text from outside: its line ends and control bytes reach the output
    // escaped, so the refusal stays one line.
    const fs::path odd = home.parent_path() / "due\nrighe\x1b";
    process::RunOptions o;
    o.captureOutput = true;
    o.timeLimit = std::chrono::seconds(30);
    const auto r = process::run({ZS_EXTRACT_PATH, odd.string()}, o);
    EXPECT_NE(r.exitCode, 0) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("zs-extract: cartella inesistente: \""), std::string::npos) << r.output;
}

} // namespace
} // namespace zs::shell
