// The scheduler's store (cadenzo.xml) replaced by every hostile variant, read by cadenzo-host as
// the server program hosts the control: a store that cannot be read stops the start with its
// error and stays as it was; one that reads brings its due operation's Alarm. Never a signal.

#include "process/Process.h"
#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#ifndef CADENZO_HOST_PATH
#error "CADENZO_HOST_PATH names the cadenzo-host program"
#endif

namespace {

const char* const kDueOperation = "<operazione><azione>Estrazione ed Elaborazione.</azione><data>01/01/2000</data>"
                                  "<ora>6</ora><minuti>30</minuti><escludi>niente</escludi>"
                                  "<periodicita>Ogni giorno</periodicita><abilitato>Vero</abilitato></operazione>";

/// Runs the host on the store in `dir` until its first Alarm, or its start's error.
zs::process::RunResult runHost(const zs::test::TempDir& dir, std::chrono::seconds limit)
{
    zs::process::RunOptions options;
    options.captureOutput = true;
    options.extraEnvironment = {"QT_QPA_PLATFORM=offscreen", "HOME=" + dir.path().string(),
                                "XDG_CONFIG_HOME=" + (dir / "config").string()};
    options.timeLimit = limit;
    return zs::process::run({CADENZO_HOST_PATH, "--path", dir.path().string(), "--delay", "0", "--poll-ms", "100",
                             "--alarms", "1", "--timeout-ms", "20000"},
                            options);
}

TEST(CadenzoHostHostileStore, ClearErrorOrAlarmNeverACrash)
{
    // "huge" is over the store's size bound.
    const std::set<std::string> refused = {"deep", "deep_unclosed", "nul", "truncated", "empty", "not_xml", "huge"};
    for (const auto& [variant, bytes] : zs::test::hostileXmlFiles("cadenzo", kDueOperation)) {
        SCOPED_TRACE(variant);
        zs::test::TempDir dir;
        const auto store = dir / "cadenzo.xml";
        zs::test::writeFile(store, bytes);
        const auto r = runHost(dir, std::chrono::minutes(2));
        EXPECT_FALSE(r.timedOut);
        const std::string out = r.output.substr(0, 2000);
        if (refused.count(variant)) {
            EXPECT_EQ(r.exitCode, 1) << out;
            EXPECT_NE(r.output.find("Errore nel file"), std::string::npos) << out;
            EXPECT_LT(r.output.size(), 100000u);
            EXPECT_TRUE(zs::test::readFile(store) == bytes);
        } else {
            EXPECT_EQ(r.exitCode, 0) << out;
            EXPECT_NE(r.output.find("Alarm: Estrazione ed Elaborazione."), std::string::npos) << out;
        }
    }
}

TEST(CadenzoHostHostileStore, NonRegularStoreIsRefusedAtOnceAndLeftAlone)
{
    // A FIFO, a folder, a link to /dev/zero or an oversized file at cadenzo.xml: the start stops
    // with the store's error at once, and the store is neither read without end nor replaced.
    for (const std::string& kind : zs::test::hostileNonRegularKinds()) {
        SCOPED_TRACE(kind);
        zs::test::TempDir dir;
        const auto store = dir / "cadenzo.xml";
        zs::test::plantNonRegular(kind, store);
        const std::string planted = zs::test::describeEntry(store);
        const auto start = std::chrono::steady_clock::now();
        const auto r = runHost(dir, std::chrono::seconds(60));
        EXPECT_FALSE(r.timedOut);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)); // margin for a loaded machine
        EXPECT_EQ(r.exitCode, 1) << r.output.substr(0, 2000);
        EXPECT_NE(r.output.find("Errore nel file " + store.string()), std::string::npos) << r.output.substr(0, 2000);
        EXPECT_EQ(zs::test::describeEntry(store), planted);
    }
    EXPECT_LT(zs::test::childrenPeakMemory(), zs::test::kHostileMemoryBound);
}

TEST(CadenzoHostHostileStore, TemporariesOfKilledSavesAreClearedAtTheStart)
{
    // A save of the store killed mid-way left its temporary; one of a process that still runs
    // (this test) is not the host's to remove.
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "cadenzo.xml",
                        std::string("<?xml version=\"1.0\"?><cadenzo>") + kDueOperation + "</cadenzo>");
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    const std::string stale = ".cadenzo.xml.zstmp-" + std::to_string(gone) + "-0123456789abcdef";
    const std::string live = ".cadenzo.xml.zstmp-" + std::to_string(::getpid()) + "-0123456789abcdef";
    zs::test::writeFile(dir / stale, "<operazioni><operaz");
    zs::test::writeFile(dir / live, "<operazioni>");
    const auto r = runHost(dir, std::chrono::minutes(1));
    EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    EXPECT_FALSE(std::filesystem::exists(dir / stale));
    EXPECT_TRUE(std::filesystem::exists(dir / live));
}

} // namespace
