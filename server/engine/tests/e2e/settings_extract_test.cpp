// What zs-extract says of the folder's settings file on a cron run, where nobody reads a box: a
// save without the settings' lock goes to the day log, and a stored password that is no encoded
// one is named on standard error.

#include "ExtractDriver.h"
#include "fs/ReadFile.h"
#include "testsupport/TestEnv.h"
#include "text/Cp1252.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

/// The day log's text (it is written in Windows-1252).
std::string dayLogOf(const fs::path& home)
{
    for (const auto& e : fs::directory_iterator(home / "log"))
        if (e.path().extension() == ".log")
            return zs::text::fromCp1252(zs::test::readFile(e.path()));
    return {};
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(SettingsInExtraction, ASaveWithoutTheLockIsADayLogLine)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& lock, zs::fs::Fd& held)> plant;
        const char* why;
    } cases[] = {
        {"a FIFO", [](const fs::path& lock, zs::fs::Fd&) { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); },
         "è una pipe, non un file"},
        {"a held lock",
         [](const fs::path& lock, zs::fs::Fd& held) {
             std::string why;
             held = zs::fs::openForWriting(lock, O_RDWR, 0600, why);
             ASSERT_TRUE(held.valid()) << why;
             ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
         },
         "è tenuto da un altro processo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        const fs::path home = env.home() / "demo";
        fs::create_directories(home.parent_path());
        fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
        const fs::path lock = home / ".zentrikSettings.lock";
        zs::fs::Fd held;
        c.plant(lock, held);
        // Two runs in one process: two saves of the settings, one line.
        const auto result = runExtract(home, {"--runs", "2"}, std::chrono::minutes(2));
        EXPECT_EQ(result.exitCode, 0) << result.output << result.error;
        const std::string log = dayLogOf(home);
        const std::string line = "Impostazioni salvate senza il blocco " + lock.string() + ": " + c.why;
        EXPECT_EQ(count(log, line), 1u) << log;
        EXPECT_EQ(count(log, "Estrazione terminata con successo."), 2u) << log;
    }
}

TEST(SettingsInExtraction, APasswordWrittenByHandIsSaidByItsElement)
{
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home() / "demo";
    fs::create_directories(home.parent_path());
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    std::string settings = zs::test::readFile(home / "zentrikServer.xml");
    settings.replace(settings.find("<smtppwd></smtppwd>"), 19, "<smtppwd>segreta</smtppwd>");
    zs::test::writeFile(home / "zentrikServer.xml", settings);
    const auto result = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(result.exitCode, 0) << result.output << result.error;
    EXPECT_EQ(count(result.output + result.error,
                    "zs-extract: La password dell'elemento smtppwd non è codificata: impostarla da Opzioni principali"),
              1u)
        << result.error;
}

} // namespace
} // namespace zs::engine::test
