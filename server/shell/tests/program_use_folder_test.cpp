// The program folder as an operator meets it: one that cannot be written, a full day-log disk,
// secondary options saved onto a full disk, saves that keep the file's mode, the copies of the
// settings a notification makes, and the folder however ZENTRIK_HOME names it.

#include "ProgramUseSupport.h"

#include "dialogs/qt/OpzioniWindow.h"
#include "fs/AtomicFile.h"
#include "fs/OwnedFolder.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/run/RunNotification.h"
#include "testsupport/Loopback.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace zs::shell {
namespace {

// --- A program folder that cannot be written ---------------------------------------------------

TEST_F(ProgramInUse, AnUnwritableProgramFolderIsNamedNotTakenForAnotherCopy)
{
    const fs::path folder = env.root() / "sola-lettura";
    fs::create_directories(folder);
    fs::copy(ZS_DEMO_DIR, folder, fs::copy_options::recursive);
    ScopedTmpfs readOnly(env.root() / "ro", "1m");
    fs::path programFolder = folder;
    if (::geteuid() == 0) {
        // root writes anywhere a mode allows nothing: a read-only mount stops it.
        if (!readOnly.mounted)
            GTEST_SKIP() << "no tmpfs can be mounted here";
        fs::copy(ZS_DEMO_DIR, readOnly.path, fs::copy_options::recursive);
        ASSERT_EQ(process::run({"mount", "-o", "remount,ro", readOnly.path.string()}).exitCode, 0);
        programFolder = readOnly.path;
    } else {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    process::ChildProcess server;
    process::ChildOptions o;
    o.outputFile = (env.root() / "server.txt").string();
    o.extraEnvironment = {"ZENTRIK_HOME=" + programFolder.string(), "QT_QPA_PLATFORM=offscreen"};
    ASSERT_TRUE(server.start({ZS_SERVER_PATH}, o));
    std::string out;
    QElapsedTimer t;
    t.start();
    while (out.find("ZentrikServer: ") == std::string::npos && server.running() && t.elapsed() < 30000) {
        QThread::msleep(20);
        out = fs::exists(o.outputFile) ? test::readFile(o.outputFile) : "";
    }
    server.terminate(1000); // the message box waits for the operator
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_NE(out.find("Impossibile usare la cartella del programma " + programFolder.string() + ": "),
              std::string::npos)
        << out;
    // The system's reason, in Italian as the rest of the line.
    EXPECT_NE(out.find("File system in sola lettura") == std::string::npos ? out.find("Permesso negato")
                                                                           : out.find("File system in sola lettura"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Un'altra copia"), std::string::npos) << out;
}

// --- A full day-log disk ---------------------------------------------------------------------

TEST_F(ProgramInUse, AFullDayLogDiskGivesOneRedLineAndNoHalfLine)
{
    ScopedTmpfs disk(home / "log", "8k");
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    create();
    // Today's day log leaves room for a line or two, then the disk is full.
    const std::string line = "10/12/2026 01:02:03   :riga di riempimento del log giornaliero\r\n";
    std::string filler;
    while (filler.size() + line.size() < 8192 - 150)
        filler += line;
    test::writeFile(app->log().dayLog().currentFile(), filler);
    ASSERT_TRUE(app->load());
    clickRun();
    clickRun(); // the next run's log reports it again, once

    EXPECT_EQ(countLines("Log giornaliero non aggiornato: "), 1) << ::testing::PrintToString(lines());
    auto* red = topLine("Log giornaliero non aggiornato: ");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->foreground(0).color(), QColor(255, 0, 0));
    EXPECT_NE(red->text(0).toStdString().find("Spazio esaurito sul dispositivo"), std::string::npos);
    const std::string day = dayLogText(*app);
    EXPECT_GT(day.size(), filler.size()); // the lines that fitted went in
    EXPECT_TRUE(day.ends_with("\r\n")) << day.substr(day.size() - 80);
    std::istringstream in(day);
    for (std::string line; std::getline(in, line);)
        EXPECT_TRUE(line.empty() || line.back() == '\r') << "partial line: " << line;
}

// --- Secondary options saved onto a full disk -----------------------------------------------

TEST_F(ProgramInUse, SecondaryOptionsSavedOntoAFullDiskSayItOnceAndKeepTheFile)
{
    // The program folder on a small disk of its own, the day log elsewhere.
    const fs::path folder = env.root() / "pieno";
    ScopedTmpfs disk(folder, "256k");
    if (!disk.mounted)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    fs::copy(home, folder, fs::copy_options::recursive);
    const fs::path logs = env.root() / "log-altrove";
    fs::create_directories(logs);
    fs::create_directory_symlink(logs, folder / "log");
    home = folder;
    ASSERT_EQ(::chdir(home.c_str()), 0);
    create();
    ASSERT_TRUE(app->load());
    auto menu = [this](int entry) {
        automation::Variant args[] = {automation::Variant(entry)};
        app->main().menuButton()->model().events().raise(flatui::MenuButtonControl::Click, args);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    // Into "Opzioni secondarie" and out to the run window, as the operator does.
    auto leaveSecondaryOptions = [&] {
        menu(3);
        menu(1);
    };
    leaveSecondaryOptions();
    const std::string before = test::readFile(home / "zentrikServer.xml");
    shown.clear();

    // The disk fills up; the operator changes the SMTP server and goes to another window.
    {
        std::ofstream filler(home / "riempimento", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush())
            ;
    }
    app->secondaryWindow().findChild<QLineEdit*>("txtSmtp")->setText("smtp.pieno.example");
    leaveSecondaryOptions();
    ASSERT_EQ(shown.size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.front().rfind("Impossibile salvare le impostazioni: ", 0), 0u) << shown.front();
    EXPECT_NE(shown.front().find("Spazio esaurito sul dispositivo"), std::string::npos) << shown.front();
    EXPECT_EQ(test::readFile(home / "zentrikServer.xml"), before);
    EXPECT_NE(dayLogText(*app).find("Spazio esaurito sul dispositivo"), std::string::npos); // the log lies elsewhere

    // Once there is room again, the next time the operator leaves the window the change is saved.
    fs::remove(home / "riempimento");
    shown.clear();
    leaveSecondaryOptions();
    EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
    EXPECT_NE(test::readFile(home / "zentrikServer.xml").find("smtp.pieno.example"), std::string::npos);
}

// --- Saves keep the file's mode ----------------------------------------------------------------

TEST_F(ProgramInUse, SavesKeepTheModeAndStaleTemporariesGo)
{
    // A save killed mid-way left its temporary file; a running process's one stays.
    process::ChildProcess gone;
    ASSERT_TRUE(gone.start({"/bin/true"}));
    const pid_t dead = gone.pid();
    ASSERT_TRUE(gone.waitFor(10000));
    const fs::path stale = home / (".zentrikServer.xml.zstmp-" + std::to_string(dead) + "-00ff00ff00ff00ff");
    const fs::path live = home / zs::fs::temporaryName("stat.xml");
    test::writeFile(stale, "<zentrikServer>");
    test::writeFile(live, "<stat>");
    test::writeFile(home / ".nota.tmp-x", "not ours");
    // A name our saves no longer use is not ours to remove.
    test::writeFile(home / (".cadenzo.xml.tmp-" + std::to_string(dead)), "not ours");
    fs::permissions(home / "zentrikServer.xml", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    create();
    ASSERT_TRUE(app->load());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(home / ".nota.tmp-x"));
    EXPECT_TRUE(fs::exists(home / (".cadenzo.xml.tmp-" + std::to_string(dead))));
    fs::remove(live);

    clickRun(); // writes stat.xml
    ASSERT_TRUE(fs::exists(home / "stat.xml"));
    fs::permissions(home / "stat.xml", fs::perms::owner_read | fs::perms::owner_write);
    clickRun();
    app->ChiudiApplicazione();
    auto mode = [](const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; };
    EXPECT_EQ(mode(home / "stat.xml"), fs::perms::owner_read | fs::perms::owner_write);
    // The settings hold passwords: never looser than 0600.
    EXPECT_EQ(mode(home / "zentrikServer.xml"), fs::perms::owner_read | fs::perms::owner_write);
}

// --- Copies of the settings ---------------------------------------------------------------------

/// The files made under `folder` since `before` that hold the settings (their text, or their
/// name as an archive stores it) and that others may read; the day logs aside.
std::vector<std::string> readableCopies(const fs::path& folder, const std::set<fs::path>& before)
{
    std::vector<std::string> leaks;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (before.count(it->path()) || it->path().parent_path() == folder / "log" ||
            ::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0)
            continue;
        const std::string bytes = test::readFile(it->path());
        if (bytes.find("<smtpserver>") != std::string::npos || bytes.find("zentrikServer.xml") != std::string::npos)
            leaks.push_back(it->path().string());
    }
    return leaks;
}

TEST_F(ProgramInUse, ANotificationWaitingOnASilentServerKeepsItsArchivePrivateAndAKilledOneLeavesNothing)
{
    if (!findArchiver(home))
        GTEST_SKIP() << "no archiver on this machine";
    test::LoopbackSocket silent; // accepted by the kernel, never greeted
    ASSERT_TRUE(silent.ok());
    std::string settings = test::readFile(home / "zentrikServer.xml");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"<notifica>2</notifica>", "<notifica>0</notifica>"},
             {"<tiponotifica>0</tiponotifica>", "<tiponotifica>1</tiponotifica>"},
             {"<smtpserver></smtpserver>",
              "<smtpserver>127.0.0.1:" + std::to_string(silent.port()) + "</smtpserver>"}}) {
        ASSERT_NE(settings.find(from), std::string::npos) << from;
        settings.replace(settings.find(from), from.size(), to);
    }
    test::writeFile(home / "zentrikServer.xml", settings);
    ::umask(022); // the archiver's own files would be 0644

    // Twice: the program's start and zs-extract's each clear what the killed send left.
    for (const bool programStart : {true, false}) {
        SCOPED_TRACE(programStart ? "the program's start" : "zs-extract's start");
        std::set<fs::path> before;
        for (const auto& e : fs::recursive_directory_iterator(home))
            before.insert(e.path());
        process::ChildProcess server;
        process::ChildOptions o;
        o.outputFile = (env.root() / "server.txt").string();
        o.extraEnvironment = {"ZENTRIK_HOME=" + home.string(), "QT_QPA_PLATFORM=offscreen"};
        ASSERT_TRUE(server.start({ZS_SERVER_PATH, "--run-once"}, o));
        // The run is over and its notification waits on the server.
        QElapsedTimer t;
        t.start();
        std::vector<fs::path> archives;
        while (t.elapsed() < 60000 && server.running() &&
               occurrences(dayLogText(home), "Invio notifica email in corso..") < (programStart ? 1u : 2u))
            QThread::msleep(50);
        ASSERT_TRUE(server.running()) << test::readFile(o.outputFile);
        for (const auto& e : fs::recursive_directory_iterator(home))
            if (e.path().extension() == ".arj")
                archives.push_back(e.path());
        ASSERT_EQ(archives.size(), 1u);
        EXPECT_GT(fs::file_size(archives[0]), 0u);
        struct stat st {};
        ASSERT_EQ(::stat(archives[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(archives[0].parent_path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(readableCopies(home, before), std::vector<std::string>{});

        ASSERT_EQ(::kill(server.pid(), SIGKILL), 0);
        ASSERT_TRUE(server.waitFor(10000).has_value());
        ASSERT_TRUE(fs::exists(archives[0])); // what the killed send left

        if (programStart) {
            create();
            ASSERT_TRUE(app->load());
            app.reset();
        } else {
            // A folder the program still uses (its maker runs) stays.
            const auto live = zs::fs::makeOwnedFolder(home, RunNotification::kArchiveFolderPrefix);
            ASSERT_TRUE(live.has_value());
            const auto r = runExtract(home);
            EXPECT_EQ(r.exitCode, 0) << r.output;
            EXPECT_TRUE(fs::exists(*live));
            fs::remove_all(*live);
        }
        EXPECT_FALSE(fs::exists(archives[0].parent_path()));
        for (const auto& e : fs::recursive_directory_iterator(home))
            EXPECT_NE(e.path().extension(), ".arj") << e.path();
    }
}

// --- The program folder however it is named ------------------------------------------------

TEST_F(ProgramInUse, ARelativeOrSlashEndedZentrikHomeIsTheSameFolderWithOneAutostartEntry)
{
    const fs::path d2 = env.root() / "d2";
    fs::copy(home, d2, fs::copy_options::recursive);
    std::string settings = test::readFile(d2 / "zentrikServer.xml");
    settings.replace(settings.find("<startup>0</startup>"), 20, "<startup>1</startup>");
    test::writeFile(d2 / "zentrikServer.xml", settings);
    const fs::path autostart = fs::path(std::getenv("XDG_CONFIG_HOME")) / "autostart";

    for (const std::string& spelling : std::vector<std::string>{"d2", d2.string(), "d2/", "./d2//"}) {
        SCOPED_TRACE(spelling);
        // The program, started from the folder above: it runs the extraction and ends.
        process::RunOptions o;
        o.captureOutput = true;
        o.workingDirectory = env.root().string();
        o.extraEnvironment = {"ZENTRIK_HOME=" + spelling, "QT_QPA_PLATFORM=offscreen"};
        o.timeLimit = std::chrono::seconds(60);
        const auto server = process::run({ZS_SERVER_PATH, "--run-once"}, o);
        EXPECT_EQ(server.exitCode, 0) << server.output;
        EXPECT_EQ(server.output.find("Impossibile usare la cartella"), std::string::npos) << server.output;
        EXPECT_NE(server.output.find("run: "), std::string::npos) << server.output;

        // One entry for the one folder, named after it.
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(autostart)) {
            const std::string text = test::readFile(e.path());
            const auto at = text.find("\nName=");
            names.push_back(text.substr(at + 6, text.find('\n', at + 1) - at - 6));
            EXPECT_NE(text.find("\nPath=" + d2.string() + "\n"), std::string::npos) << text;
        }
        EXPECT_EQ(names, std::vector<std::string>{"Zentrik Server (d2)"});

        // zs-extract takes the folder the same way.
        o.extraEnvironment = {};
        const auto extract = process::run({ZS_EXTRACT_PATH, spelling}, o);
        EXPECT_EQ(extract.exitCode, 0) << extract.output;
    }
    // Everything went to the one folder: its day log holds every run (the program's four and
    // zs-extract's four, each opening with its start line), nothing was made inside it under
    // its own name.
    EXPECT_FALSE(fs::exists(d2 / "d2"));
    std::size_t runs = 0;
    for (const auto& e : fs::directory_iterator(d2 / "log")) {
        const std::string text = test::readFile(e.path());
        for (auto at = text.find("Inizio estrazione dati"); at != std::string::npos;
             at = text.find("Inizio estrazione dati", at + 1))
            ++runs;
    }
    EXPECT_EQ(runs, 8u);
}

TEST_F(ProgramInUse, ACopyOnAnotherFolderCarriesTheFolderNameInItsCaption)
{
    struct Case {
        fs::path defaultFolder;
        std::string caption;
    };
    for (const Case& c : std::vector<Case>{
             {{}, "Zentrik Server -  Quorvane srl"},
             {home.string() + "/", "Zentrik Server -  Quorvane srl"},
             {env.root() / "ZentrikServer", "Zentrik Server -  Quorvane srl (" + home.filename().string() + ")"}}) {
        SCOPED_TRACE(c.defaultFolder.string());
        ShellApplication::Options o;
        o.defaultFolder = c.defaultFolder;
        create(o);
        ASSERT_TRUE(app->load());
        EXPECT_EQ(app->main().windowTitle().toStdString(), c.caption);
        app.reset();
    }
}

} // namespace
} // namespace zs::shell
