// SIGINT to zs-extract while it processes a few hundred cubes: the run ends after the cube in
// hand, is reported as stopped, and every object it did not reach keeps its state row.

#include "ExtractDriver.h"
#include "db/Connection.h"
#include "olap/OlapCatalog.h"
#include "testsupport/CubeFolder.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

std::string scalar(const fs::path& db, const std::string& sql)
{
    db::Connection c;
    EXPECT_TRUE(c.open(accessCs(db)));
    auto rs = c.query(sql);
    return rs && !rs->eof() ? rs->value(std::size_t{0}).toString() : "<none>";
}

TEST(ExtractCubeStop, SigintEndsTheCubeProcessingAfterTheCubeInHand)
{
    constexpr int kCubes = 300;
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home();
    fs::create_directories(home);
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    zs::test::writeManyCubeCatalog(home, kCubes);
    const fs::path target = home / "target.db";

    const process::RunResult first = runExtract(home, {"--quiet"}, std::chrono::minutes(5));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    const auto before = zs::test::olapStateRows(target);
    ASSERT_EQ(before.size(), static_cast<std::size_t>(kCubes + 2));
    ASSERT_TRUE(zs::test::addDemoOrder(home));
    const std::string lastCube = olap::olapTableName("olap_", "demo", "Vendite", zs::test::manyCubeName(kCubes));
    const std::string oldSum = scalar(target, "select round(sum(\"Importo\"), 2) from \"" + lastCube + "\"");

    // The second run, its log lines in a file, interrupted once it has reached the 40th cube.
    const fs::path out = home / "uscita.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = ZS_EXTRACT_PATH, folder = home.string();
    char* argv[] = {program.data(), folder.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    const auto started = Steady::now();
    bool signalled = false;
    Steady::time_point sent;
    while (Steady::now() - started < std::chrono::minutes(3)) {
        if (zs::test::readFile(out).find("Sto elaborando il cubo " + zs::test::manyCubeName(40)) != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = Steady::now();
            signalled = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!signalled)
        ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(signalled) << zs::test::readFile(out);
    const double seconds = std::chrono::duration<double>(Steady::now() - sent).count();
    EXPECT_LT(seconds, 5.0);
    const std::string output = zs::test::readFile(out);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find("Elaborazione dei cubi interrotta dall'utente: "), std::string::npos) << output;
    EXPECT_NE(output.find("Estrazione interrotta dall'utente."), std::string::npos) << output;
    EXPECT_EQ(output.find("Estrazione terminata con successo."), std::string::npos) << output;

    // The cubes processed before the signal have the new order; every cube after them kept its
    // row, and the last cube its previous aggregate.
    const auto after = zs::test::olapStateRows(target);
    ASSERT_EQ(after.size(), before.size());
    int processed = 0, kept = 0;
    std::string lastProcessed;
    for (const auto& [key, row] : after) {
        if (key.rfind("cubo ", 0) != 0)
            continue; // the dimensions come first: both were processed again
        if (row == before.at(key)) {
            ++kept;
            continue;
        }
        ++processed;
        lastProcessed = std::max(lastProcessed, key.substr(5));
    }
    EXPECT_GE(processed, 39);
    EXPECT_EQ(lastProcessed, zs::test::manyCubeName(processed)) << "not the cubes in order";
    EXPECT_LT(processed, kCubes / 2);
    EXPECT_EQ(kept, kCubes - processed);
    EXPECT_EQ(scalar(target, "select round(sum(\"Importo\"), 2) from \"" + lastCube + "\""), oldSum);
    EXPECT_EQ(scalar(target, "select round(sum(\"Importo\"), 2) from \"" +
                                 olap::olapTableName("olap_", "demo", "Vendite", zs::test::manyCubeName(1)) + "\""),
              scalar(target, "select round(sum(importo), 2) from VENDITE"));
}

} // namespace
} // namespace zs::engine::test
