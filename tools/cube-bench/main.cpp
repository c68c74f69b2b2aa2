// zs-bench-cubes <program folder>: builds the program on the folder as main() does after its
// splash, and prints how long the start-up took (the windows loaded, the settings and the cube
// list read, the main window shown), how many times the OLAP catalog was read, and how long the
// cube page took to show with every cube in its grid (opened from the category menu's
// "Opzioni preparazione dei cubi " entry, the window's events run to the end). Run offscreen.

#include "dialogs/qt/CubiWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "olap/OlapCatalog.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/mdiGlobal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "uso: zs-bench-cubes <cartella del programma>\n");
        return 2;
    }
    QApplication app(argc, argv);
    zs::shell::applyProgramFont();
    const std::filesystem::path folder = std::filesystem::absolute(argv[1]);

    QElapsedTimer startup;
    startup.start();
    zs::shell::ShellApplication::Options options;
    options.programFolder = folder;
    options.executable = folder / "ZentrikServer";
    auto shell = std::make_unique<zs::shell::ShellApplication>(options);
    shell->messages().setHook(
        [](const zs::shell::QtMessageService::Shown& m) { std::fprintf(stderr, "messaggio: %s\n", m.text.c_str()); });
    if (!shell->load()) {
        std::fprintf(stderr, "zs-bench-cubes: il programma non si avvia su %s\n", folder.c_str());
        return 1;
    }
    QCoreApplication::processEvents();
    const double startupSeconds = static_cast<double>(startup.nsecsElapsed()) / 1e9;
    const std::size_t readsAtStartup = zs::olap::catalogReads();
    const int cubes = shell->cubes().core().NumeroCubi();

    // A visit to the cube page as the category menu makes it: the window shown and its
    // sub-window made the active one, which refills the grid; timed until the events settle.
    auto open = [&shell](QWidget& window) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(window.parentWidget()))
            shell->main().area().setActiveSubWindow(sub);
        QCoreApplication::processEvents();
    };
    auto visit = [&] {
        QElapsedTimer t;
        t.start();
        shell->cubes().Form_ShowMe();
        open(shell->cubes());
        return static_cast<double>(t.nsecsElapsed()) / 1e9;
    };
    const double first = visit();
    shell->runWindow().Form_ShowMe();
    open(shell->runWindow());
    const double second = visit();
    QElapsedTimer fill;
    fill.start();
    shell->cubes().AggiornaTabellaCubi();
    const double fillSeconds = static_cast<double>(fill.nsecsElapsed()) / 1e9;
    const int rows = shell->cubes().flgCubi()->model().rows();

    std::printf("cubi nel catalogo:         %d\n", cubes);
    std::printf("avvio:                     %.3f s (catalogo letto %zu volte)\n", startupSeconds, readsAtStartup);
    std::printf("pagina dei cubi, apertura: %.3f s, seconda visita %.3f s\n", first, second);
    std::printf("riempimento della griglia: %.3f s (%d righe)\n", fillSeconds, rows);
    shell->ChiudiApplicazione();
    return rows == cubes + 1 ? 0 : 1;
}
