#pragma once
// Doubles shared by the dialogs' core tests: recorded messages, scripted prompts, and a
// program folder with its settings store.

#include "dialogs/core/DialogPrompts.h"

#include "program/LoadingDocument.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zs::dialogs::dtest {

// Named by the build: a compiler cache may hand __FILE__ over as a path relative to the build folder.
inline const std::filesystem::path kData = ZS_DIALOGS_TEST_DATA;

using zs::test::RecordingMessages;

/// Answers from queues; a question with no scripted answer fails the test.
struct ScriptedPrompts : Prompts {
    bool askYesNo(const std::string& text, const std::string& title, QuestionIcon = QuestionIcon::question) override
    {
        questions.push_back(title + ": " + text);
        if (yesNo.empty())
            return false;
        const bool a = yesNo.front();
        yesNo.pop_front();
        return a;
    }
    std::optional<std::string> openFile(const FileDialogRequest& r) override
    {
        fileRequests.push_back(r);
        if (files.empty())
            return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
    std::string askPassword(const std::string& caption) override
    {
        passwordCaptions.push_back(caption);
        if (passwords.empty())
            return "";
        auto p = passwords.front();
        passwords.pop_front();
        return p;
    }
    std::deque<bool> yesNo;
    std::deque<std::optional<std::string>> files;
    std::deque<std::string> passwords;
    std::vector<std::string> questions;
    std::vector<FileDialogRequest> fileRequests;
    std::vector<std::string> passwordCaptions;
};

/// A program folder in a private test environment with a settings store over it.
struct ProgramFolder {
    ProgramFolder()
        : store(values, fields, messages, env.home())
        , loading(messages)
    {
        std::filesystem::create_directories(env.home());
    }
    std::filesystem::path home() const { return env.home(); }
    void write(const std::string& name, const std::string& text) const { zs::test::writeFile(home() / name, text); }
    std::string read(const std::string& name) const { return zs::test::readFile(home() / name); }
    void copyFixture(const std::string& name) const
    {
        std::filesystem::copy_file(kData / name, home() / name, std::filesystem::copy_options::overwrite_existing);
    }

    zs::test::ScopedTestEnv env;
    program::ProgramSettings values;
    program::SecondaryOptionsFields fields;
    RecordingMessages messages;
    program::SettingsStore store;
    program::LoadingDocument loading;
};

} // namespace zs::dialogs::dtest
