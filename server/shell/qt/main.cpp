// ZentrikServer: the server program. Refuses a second copy on the same program folder, shows
// the splash with the build, loads the windows and the settings, then lives in its main window
// or in the tray. `--screenshot FILE` saves a PNG of the screen once the program is up and ends.
// `--run-once` presses "Estrai" once the program is up, then ends: it prints how long the run took
// and the longest wait of the window's events during it (scripts/bench-runlog), and its exit
// status tells whether the run succeeded.

#include "fs/Paths.h"
#include "program/DesktopIntegration.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSplash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

std::filesystem::path executablePath()
{
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec);
}

/// Runs the extraction as "Estrai" does, with a probe timer that measures how long the window's
/// events wait at most while it goes; prints both and ends the program.
void runOnceAndEnd(zs::shell::ShellApplication& shell)
{
    constexpr int kProbeMs = 10;
    QTimer probe;
    QElapsedTimer sinceTick;
    qint64 longestWait = 0;
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { longestWait = std::max(longestWait, sinceTick.restart() - kProbeMs); });
    QElapsedTimer run;
    run.start();
    sinceTick.start();
    probe.start(kProbeMs);
    const auto outcome = shell.runWindow().run().executeXmlClicked(false);
    probe.stop();
    longestWait = std::max(longestWait, sinceTick.elapsed() - kProbeMs);
    const bool ok = outcome == zs::shell::RunControl::Outcome::Succeeded;
    std::printf("run: %.3f s, %s, longest wait of the window's events: %lld ms\n",
                static_cast<double>(run.nsecsElapsed()) / 1e9, ok ? "succeeded" : "failed",
                static_cast<long long>(std::max<qint64>(longestWait, 0)));
    std::fflush(stdout);
    shell.ChiudiApplicazione();
    QApplication::exit(ok ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    zs::shell::applyProgramFont();
    zs::shell::applyProgramLocale();
    // Before the first box: the second-copy notice already shows Qt's Italian buttons.
    zs::shell::installProgramTranslations();
    QString screenshot;
    bool runOnce = false;
    for (int i = 1; i < argc; ++i) {
        if (QString(argv[i]) == "--screenshot" && i + 1 < argc)
            screenshot = QString::fromLocal8Bit(argv[++i]);
        else if (QString(argv[i]) == "--run-once")
            runOnce = true;
    }

    // Made absolute once, here, before anything uses it (the program changes into it next).
    const std::filesystem::path folder = zs::fs::programFolder();
    // An installed program keeps its folder per user, created at the first start; the wizard
    // then writes the settings there.
    if (folder == zs::fs::perUserProgramFolder()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
    }
    // Relative names in the loading XML (attached databases) are taken under the program folder.
    if (::chdir(folder.c_str()) != 0)
        std::fprintf(stderr, "ZentrikServer: cartella del programma non accessibile: %s\n", folder.c_str());

    zs::program::SingleInstanceLock lock(folder);
    if (!lock.acquired() && lock.heldElsewhere()) {
        QMessageBox::information(nullptr, "Attenzione.",
                                 "Un'altra copia dell'applicazione e' atttualmente in esecuzione.");
        return 0;
    }
    if (!lock.acquired()) {
        // Not another copy: the folder itself is the problem, and the operator must learn which.
        std::fprintf(stderr, "ZentrikServer: %s\n", lock.error().c_str());
        QMessageBox::critical(nullptr, "Attenzione.", QString::fromStdString(lock.error()));
        return 1;
    }

    zs::shell::frmSplash splash({ZS_VERSION_MAJOR, ZS_VERSION_MINOR, ZS_VERSION_PATCH});
    std::unique_ptr<zs::shell::ShellApplication> shell;
    splash.start([&] {
        zs::shell::ShellApplication::Options options;
        options.programFolder = folder;
        options.defaultFolder = zs::fs::defaultProgramFolder();
        options.executable = executablePath();
        options.progress = [&splash](int percent) { splash.Progress(percent); };
        shell = std::make_unique<zs::shell::ShellApplication>(options);
        if (!shell->load()) {
            QApplication::exit(shell->exitStatus());
            return;
        }
        splash.close();
        shell->ChangeToolTipIconTray(zs::program::TrayState::Ready);
        if (runOnce) {
            QTimer::singleShot(0, [&] { runOnceAndEnd(*shell); });
            return;
        }
        if (screenshot.isEmpty())
            return;
        QTimer::singleShot(1500, [&] {
            QPixmap shot;
            if (QScreen* screen = QGuiApplication::primaryScreen(); screen && !screen->grabWindow(0).isNull())
                shot = screen->grabWindow(0);
            if (shot.isNull() || QGuiApplication::platformName() == "offscreen")
                shot = shell->main().grab();
            const bool ok = shot.save(screenshot, "PNG");
            if (!ok)
                std::fprintf(stderr, "ZentrikServer: impossibile scrivere %s\n", screenshot.toLocal8Bit().constData());
            shell->ChiudiApplicazione();
            QApplication::exit(ok ? 0 : 1);
        });
    });
    return app.exec();
}
