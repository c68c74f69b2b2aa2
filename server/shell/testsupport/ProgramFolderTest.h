#pragma once
// The fixture of the tests that build the program as main() builds it (ShellApplication) on a
// program folder of their own: a private home that is the working folder while the test runs,
// a copy of demo/ in it on request, and the message boxes recorded. Header only; test code only.

#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef ZS_DEMO_DIR
#error "ZS_DEMO_DIR names the demo program folder"
#endif

namespace zs::test {

class ProgramFolderTest : public ::testing::Test {
  protected:
    /// The program folder is the working folder: the demo attaches erp.db by a relative name.
    void SetUp() override
    {
        home = env.home();
        std::filesystem::create_directories(home);
        ASSERT_EQ(::chdir(home.c_str()), 0);
    }
    void TearDown() override
    {
        app.reset();
        (void)::chdir("/");
    }

    void copyDemo()
    {
        std::filesystem::copy(ZS_DEMO_DIR, home,
                              std::filesystem::copy_options::recursive |
                                  std::filesystem::copy_options::overwrite_existing);
    }

    /// Builds the program (not loaded yet) on `home` with the other options of `o`. Message
    /// boxes go to `shown` unless `recordMessages` is false (they are then shown for real).
    void create(shell::ShellApplication::Options o = {}, bool recordMessages = true)
    {
        o.programFolder = home;
        o.executable = home / "ZentrikServer";
        app = std::make_unique<shell::ShellApplication>(o);
        if (recordMessages)
            app->messages().setHook([this](const shell::QtMessageService::Shown& m) { shown.push_back(m.text); });
    }

    ScopedTestEnv env;
    std::filesystem::path home;
    std::unique_ptr<shell::ShellApplication> app;
    std::vector<std::string> shown;
};

/// The same on a copy of demo/ made before the test starts.
class DemoProgramTest : public ProgramFolderTest {
  protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
        copyDemo();
    }
};

} // namespace zs::test
