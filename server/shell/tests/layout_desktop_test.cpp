// The proportional layout rule as a table, the tray tip texts, the autostart entry and the
// guard against a second copy.

#include "program/DesktopIntegration.h"
#include "program/ProportionalLayout.h"
#include "program/RunLock.h"
#include "shell/run/RunControl.h"
#include "shell/run/SecondaryOptions.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace zs::shell {

// The foundation's names used here.
using program::appendGeometry;
using program::autostartEntryPath;
using program::cutTrayTip;
using program::Geometry;
using program::layoutControl;
using program::SingleInstanceLock;
using program::TrayState;
using program::trayTipText;
using program::windowTag;
using program::writeStartupEntry;
namespace {

TEST(ProportionalLayout, RuleTable)
{
    const std::string window = windowTag(1000, 800);
    struct Case {
        const char* name;
        std::string code;
        double width, height;
        Geometry expected;
    };
    const Geometry design{100, 200, 300, 40};
    const Case cases[] = {
        {"design size leaves it alone", "AW", 1000, 800, design},
        {"LW doubles left and width only", "LW", 2000, 800, {200, 200, 600, 40}},
        {"rb keeps the distance to the right and bottom", "rb", 1500, 500, {600, -100, 300, 40}},
        {"TWh", "TWh", 1500, 1000, {100, 250, 450, 240}},
        {"A scales everything", "A", 500, 400, {50, 100, 150, 20}},
        {"w and h grow by the window's growth", "wh", 1100, 900, {100, 200, 400, 140}},
        {"unknown letters change nothing", "xt", 3000, 3000, design},
        {"shrunk to a tenth", "A", 100, 80, {10, 20, 30, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = appendGeometry(c.code, 100, 200, 300, 40);
        const auto g = layoutControl(window, tag, design, c.width, c.height);
        ASSERT_TRUE(g);
        EXPECT_DOUBLE_EQ(g->left, c.expected.left);
        EXPECT_DOUBLE_EQ(g->top, c.expected.top);
        EXPECT_DOUBLE_EQ(g->width, c.expected.width);
        EXPECT_DOUBLE_EQ(g->height, c.expected.height);
    }
}

TEST(ProportionalLayout, TagsAndFaults)
{
    EXPECT_EQ(windowTag(8910, 7815), " 0.0.8910.7815");
    EXPECT_EQ(appendGeometry("W", 1, 2, 3, 4), "W@1.2.3.4");
    EXPECT_EQ(appendGeometry("", 1, 2, 3, 4), "");
    // A second SaveProperties appends a second geometry; the first stays in force.
    const auto twice = appendGeometry(appendGeometry("W", 10, 0, 100, 10), 99, 99, 999, 99);
    EXPECT_EQ(layoutControl(windowTag(100, 100), twice, {}, 200, 100)->width, 200);
    EXPECT_FALSE(layoutControl(windowTag(100, 100), "", {1, 2, 3, 4}, 50, 50)); // no part
    const Geometry cur{1, 2, 3, 4};
    EXPECT_EQ(*layoutControl(windowTag(100, 100), "W", cur, 50, 50), cur);       // no "@"
    EXPECT_EQ(*layoutControl("garbage", "W@1.2.3.4", cur, 50, 50), cur);         // bad window tag
    EXPECT_EQ(*layoutControl(windowTag(100, 100), "W@1.x.3", cur, 50, 50), cur); // bad geometry
}

TEST(DesktopIntegration, TrayTips)
{
    EXPECT_EQ(trayTipText("Zentrik Server", TrayState::Startup), "Zentrik Server (startup)");
    EXPECT_EQ(trayTipText("Zentrik Server", TrayState::Extracting), "Zentrik Server (estrazione...)");
    EXPECT_EQ(trayTipText("Zentrik Server", TrayState::Ready), "Zentrik Server (pronto.)");
    EXPECT_EQ(cutTrayTip(std::string(70, 'a')), std::string(63, 'a'));
    const std::string accented = std::string(62, 'a') + "èè";
    EXPECT_EQ(cutTrayTip(accented), std::string(62, 'a') + "è");
}

TEST(DesktopIntegration, StartupEntryWrittenAndRemoved)
{
    zs::test::ScopedTestEnv env;
    setenv("XDG_CONFIG_HOME", (env.root() / "config").c_str(), 1);
    const auto entry = autostartEntryPath("/opt/zentrik");
    EXPECT_EQ(entry.parent_path(), env.root() / "config" / "autostart");
    EXPECT_TRUE(writeStartupEntry(false, "/opt/zentrik/ZentrikServer", "/opt/zentrik")); // nothing to remove
    EXPECT_TRUE(writeStartupEntry(true, "/opt/zentrik/ZentrikServer", "/opt/zentrik"));
    const std::string text = zs::test::readFile(entry);
    EXPECT_NE(text.find("Exec=\"/opt/zentrik/ZentrikServer\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Desktop Entry]"), std::string::npos);
    const auto other = autostartEntryPath("/srv/cartella $x");
    EXPECT_TRUE(writeStartupEntry(true, "/opt/zentrik/ZentrikServer", "/srv/cartella $x"));
    EXPECT_NE(
        zs::test::readFile(other).find("Exec=env \"ZENTRIK_HOME=/srv/cartella \\$x\" \"/opt/zentrik/ZentrikServer\""),
        std::string::npos)
        << zs::test::readFile(other);
    EXPECT_TRUE(writeStartupEntry(false, "/opt/zentrik/ZentrikServer", "/opt/zentrik"));
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(DesktopIntegration, EachInstallationHasItsOwnStartupEntry)
{
    zs::test::ScopedTestEnv env;
    setenv("XDG_CONFIG_HOME", (env.root() / "config").c_str(), 1);
    EXPECT_NE(autostartEntryPath("/srv/a"), autostartEntryPath("/srv/b"));
    EXPECT_EQ(autostartEntryPath("/srv/a"), autostartEntryPath("/srv/./a/"));
    // The entry one shared file used to hold for this folder goes; another folder's stays.
    const auto shared = env.root() / "config" / "autostart" / "ZentrikServer.desktop";
    std::filesystem::create_directories(shared.parent_path());
    zs::test::writeFile(shared, "[Desktop Entry]\nExec=\"/srv/b/ZentrikServer\"\nPath=/srv/b\n");
    ASSERT_TRUE(writeStartupEntry(true, "/srv/a/ZentrikServer", "/srv/a"));
    ASSERT_TRUE(writeStartupEntry(true, "/srv/b/ZentrikServer", "/srv/b"));
    EXPECT_FALSE(std::filesystem::exists(shared));
    // Turning one installation's start-up off leaves the other's.
    ASSERT_TRUE(writeStartupEntry(false, "/srv/a/ZentrikServer", "/srv/a"));
    EXPECT_FALSE(std::filesystem::exists(autostartEntryPath("/srv/a")));
    EXPECT_TRUE(std::filesystem::exists(autostartEntryPath("/srv/b")));
}

TEST(DesktopIntegration, SecondCopyRefused)
{
    zs::test::TempDir dir;
    {
        SingleInstanceLock first(dir.path());
        EXPECT_TRUE(first.acquired());
        SingleInstanceLock second(dir.path());
        EXPECT_FALSE(second.acquired());
        EXPECT_TRUE(second.heldElsewhere());
        EXPECT_EQ(second.error(), "");
    }
    SingleInstanceLock again(dir.path());
    EXPECT_TRUE(again.acquired());
}

TEST(DesktopIntegration, AFolderThatCannotBeUsedIsNotAnotherCopy)
{
    zs::test::TempDir dir;
    const auto missing = dir.path() / "manca";
    SingleInstanceLock lock(missing);
    EXPECT_FALSE(lock.acquired());
    EXPECT_FALSE(lock.heldElsewhere());
    EXPECT_NE(lock.error().find(missing.string()), std::string::npos) << lock.error();
    EXPECT_NE(lock.error().find("File o directory inesistente"), std::string::npos) << lock.error();
}

TEST(DesktopIntegration, ALockFileIsNeverALinkOrAFifo)
{
    zs::test::TempDir dir, outside;
    ASSERT_EQ(::symlink((outside / "creata").c_str(), (dir / ".zentrikServer.lock").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / ".zentrikRun.lock").c_str(), 0600), 0);
    SingleInstanceLock lock(dir.path());
    EXPECT_FALSE(lock.acquired());
    EXPECT_FALSE(lock.heldElsewhere());
    EXPECT_NE(lock.error().find(".zentrikServer.lock è un collegamento, non un file"), std::string::npos)
        << lock.error();
    EXPECT_FALSE(std::filesystem::exists(outside / "creata")); // no empty file at the link's target
    const program::RunLock run(dir.path());
    EXPECT_FALSE(run.acquired());
    EXPECT_FALSE(run.heldElsewhere());
    EXPECT_EQ(run.refusal("Estrazione"), "Estrazione non avviata: Impossibile usare la cartella del programma " +
                                             dir.path().string() + ": .zentrikRun.lock è una pipe, non un file.");
}

TEST(DesktopIntegration, ARunHoldsItsFolderAndTheProgramsLockIsAnother)
{
    zs::test::TempDir dir;
    const SingleInstanceLock program(dir.path()); // the program runs, idle: runs may go
    ASSERT_TRUE(program.acquired());
    {
        const program::RunLock first(dir.path());
        EXPECT_TRUE(first.acquired());
        const program::RunLock second(dir.path());
        EXPECT_FALSE(second.acquired());
        EXPECT_TRUE(second.heldElsewhere());
        EXPECT_EQ(second.refusal("Elaborazione"),
                  "Elaborazione non avviata: un'altra elaborazione e' in corso sulla cartella del programma " +
                      dir.path().string() + ".");
    }
    const program::RunLock again(dir.path());
    EXPECT_TRUE(again.acquired());
}

TEST(RunRules, ElapsedTimeAndNotification)
{
    EXPECT_EQ(tempoImpiegato(59.7, 3), "Tempo impiegato: 59,7 secondi");
    EXPECT_EQ(tempoImpiegato(125.25, 3), "Tempo impiegato: 2 minuti e 5,25 secondi");
    EXPECT_EQ(tempoImpiegato(120, 3), "Tempo impiegato: 2 minuti e 0 secondi");
    EXPECT_EQ(tempoImpiegato(-3, 3), "Tempo impiegato: 0 secondi");
    EXPECT_EQ(tempoImpiegato(0.0004, 3), "Tempo impiegato: 0 secondi");
    EXPECT_EQ(tempoImpiegato(61.236, 2), "Tempo impiegato: 1 minuti e 1,24 secondi");

    struct Case {
        int notifica, tipo;
        bool manual, errors, expected;
    };
    const Case cases[] = {
        {0, 0, false, false, false}, {0, 0, false, true, true}, {0, 1, false, false, true}, {1, 1, false, true, false},
        {1, 0, true, true, true},    {1, 1, true, false, true}, {1, 0, true, false, false}, {2, 1, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.notifica) + "/" + std::to_string(c.tipo) + "/" + std::to_string(c.manual) + "/" +
                     std::to_string(c.errors));
        EXPECT_EQ(shouldNotify(static_cast<program::NotifyWhen>(c.notifica), static_cast<program::NotifyWhat>(c.tipo),
                               c.manual, c.errors),
                  c.expected);
    }
}

TEST(SecondaryOptionsRules, MonthField)
{
    struct Case {
        const char* in;
        const char* out;
    };
    for (const auto& c : {Case{"0", "1"}, Case{"-5", "1"}, Case{"40", "12"}, Case{"abc", "1"}, Case{"7", "7"},
                          Case{" 3 ", "3"}, Case{"", ""}, Case{"   ", "   "}}) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(normalizeMonths(c.in), c.out);
    }
}

} // namespace
} // namespace zs::shell
