#pragma once
// What the tests of the assembled program in use share: the fixture on a copy of the demo
// folder, with the run window's lines, and the helpers that edit its settings, read its day log,
// mount a tmpfs, start an X server and run zs-extract. Test code only.

#include "flatui/widgets/FlatWidgets.h"
#include "process/ChildProcess.h"
#include "process/Process.h"
#include "program/ProgramLog.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/DbRows.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <QTreeWidget>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#ifndef ZS_SERVER_PATH
#error "ZS_SERVER_PATH names the ZentrikServer program"
#endif
#ifndef ZS_EXTRACT_PATH
#error "ZS_EXTRACT_PATH names zs-extract"
#endif

namespace zs::shell {

namespace fs = std::filesystem;

/// Adds `xml` before the closing tag of the settings file.
inline void addSetting(const fs::path& folder, const std::string& xml)
{
    std::string text = test::readFile(folder / "zentrikServer.xml");
    text.insert(text.rfind("</"), xml + "\n");
    test::writeFile(folder / "zentrikServer.xml", text);
}

inline std::string dayLogText(ShellApplication& app)
{
    const auto file = app.log().dayLog().currentFile();
    return fs::exists(file) ? test::readFile(file) : std::string();
}

inline std::string dayLogText(const fs::path& folder)
{
    const auto file = program::DayLog(folder, time::systemClock()).currentFile();
    return fs::exists(file) ? test::readFile(file) : std::string();
}

/// A tmpfs of `size` mounted on `where` for the life of the object; root only.
struct ScopedTmpfs {
    ScopedTmpfs(const fs::path& where, const std::string& size)
        : path(where)
    {
        fs::create_directories(where);
        mounted = ::geteuid() == 0 &&
                  process::run({"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", where.string()}).exitCode == 0;
    }
    ~ScopedTmpfs()
    {
        if (mounted)
            (void)process::run({"umount", "-l", path.string()});
    }
    fs::path path;
    bool mounted = false;
};

struct ProgramInUse : test::DemoProgramTest {
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        auto& tree = app->runWindow().tvwLog();
        for (int i = 0; i < tree.topLevelItemCount(); ++i) {
            out.push_back(tree.topLevelItem(i)->text(0).toStdString());
            for (int k = 0; k < tree.topLevelItem(i)->childCount(); ++k)
                out.push_back("  " + tree.topLevelItem(i)->child(k)->text(0).toStdString());
        }
        return out;
    }
    int countLines(const std::string& prefix)
    {
        int n = 0;
        for (const auto& l : lines())
            n += l.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    QTreeWidgetItem* topLine(const std::string& prefix)
    {
        auto& tree = app->runWindow().tvwLog();
        // The last such line: a run that processes cubes writes the cubes' own time before the run's.
        for (int i = tree.topLevelItemCount() - 1; i >= 0; --i)
            if (tree.topLevelItem(i)->text(0).toStdString().rfind(prefix, 0) == 0)
                return tree.topLevelItem(i);
        return nullptr;
    }
    void clickRun() { app->runWindow().findChild<flatui::FlatButtonWidget*>("flbExecuteXML")->model().click(); }
    /// The program's own run on `home` after a zs-extract run there: a day log of its own, and
    /// the run window's lines, one a line.
    std::string programRunWindowText(const std::filesystem::path& home)
    {
        std::filesystem::remove_all(home / "log");
        create();
        if (!app->load()) {
            ADD_FAILURE() << "the program did not load";
            return {};
        }
        clickRun();
        std::string tree;
        for (const auto& l : lines())
            tree += l + "\n";
        return tree;
    }
};

/// An X server of its own on a free display number, for the VNC server to share.
struct ScopedXvfb {
    ScopedXvfb(const fs::path& dir)
    {
        if (!process::findProgram("Xvfb"))
            return;
        // -displayfd writes the display number it chose once the server is ready.
        process::ChildOptions o;
        o.outputFile = (dir / "xvfb.log").string();
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        // The descriptor number is inherited by the child: no CLOEXEC on the write end.
        if (!server.start(
                {"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-screen", "0", "640x480x24"}, o)) {
            ::close(fds[0]), ::close(fds[1]);
            return;
        }
        ::close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        char buf[16] = {};
        if (::poll(&p, 1, 20000) == 1 && ::read(fds[0], buf, sizeof buf - 1) > 0)
            display = ":" + std::string(buf).substr(0, std::string(buf).find('\n'));
        ::close(fds[0]);
    }
    process::ChildProcess server;
    std::string display;
};

using zs::test::rowsOf;

/// Runs zs-extract on `folder` to its end, its output captured, for at most `limit`.
inline process::RunResult runExtract(const fs::path& folder, std::chrono::seconds limit = std::chrono::seconds(60),
                                     std::vector<std::string> environment = {})
{
    process::RunOptions o;
    o.captureOutput = true;
    o.timeLimit = limit;
    o.extraEnvironment = std::move(environment);
    return process::run({ZS_EXTRACT_PATH, folder.string()}, o);
}

inline std::size_t occurrences(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace zs::shell
