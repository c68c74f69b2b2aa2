// cadenzo-host: hosts the scheduler control the way the server program does — registers its
// two action names, names the store folder, starts the control — and prints every Alarm.
// Used by hand to try a store, and by the end-to-end test with a short start delay.

#include "scheduler/qt/CadenzoControl.h"
#include "scheduler/qt/CadenzoLibrary.h"

#include "automation/ClassRegistry.h"
#include "fs/AtomicFile.h"
#include "fs/Paths.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

struct Options {
    std::string path;
    double delay = 60; // the server program's start delay
    int pollMs = 0;    // 0: the control's own 10 seconds
    int alarms = 0;    // exit after this many alarms; 0: run until closed
    int timeoutMs = 0; // exit with status 2 when the alarms have not come by then
};

void usage()
{
    std::cerr
        << "uso: cadenzo-host [--path CARTELLA] [--delay SECONDI] [--poll-ms MS] [--alarms N] [--timeout-ms MS]\n";
}

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            usage();
            return false;
        }
        const char* v = argv[++i];
        char* end = nullptr;
        if (a == "--path") {
            o.path = v;
            continue;
        }
        const double n = std::strtod(v, &end);
        if (end == v || *end != '\0' || n < 0) {
            std::cerr << "valore non valido per " << a << ": " << v << "\n";
            return false;
        }
        if (a == "--delay")
            o.delay = n;
        else if (a == "--poll-ms")
            o.pollMs = static_cast<int>(n);
        else if (a == "--alarms")
            o.alarms = static_cast<int>(n);
        else if (a == "--timeout-ms")
            o.timeoutMs = static_cast<int>(n);
        else {
            usage();
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (!parse(argc, argv, opt))
        return 64;
    if (opt.path.empty())
        opt.path = zs::fs::programFolder().string();
    // Saves of the store killed mid-way left their temporary files, as the program's start
    // finds them; a host that runs without the program clears them itself.
    (void)zs::fs::removeStaleTemporaries(opt.path);
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    using zs::automation::InvokeKind;
    using zs::automation::Variant;
    zs::automation::ClassRegistry registry;
    zs::cadenzo::registerClasses(registry);
    std::unique_ptr<zs::automation::Dispatchable> control = registry.create(zs::cadenzo::kProgId);
    if (!control) {
        std::cerr << "classe " << zs::cadenzo::kProgId << " non registrata\n";
        return 1;
    }
    const auto& table = control->dispatchTable();
    const auto addOperation = table.findByName("AddOperation")->id;
    for (const char* azione : {"Estrazione ed Elaborazione.", "Elaborazione dati."}) {
        Variant args[] = {Variant(azione)};
        (void)table.invoke(*control, addOperation, InvokeKind::Method, args);
    }
    Variant pathArg[] = {Variant(opt.path)};
    (void)table.invoke(*control, table.findByName("SetPath")->id, InvokeKind::Method, pathArg);

    auto* widget = dynamic_cast<zs::cadenzo::CadenzoControl*>(control.get());
    if (widget && opt.pollMs > 0)
        widget->setPollIntervalMs(opt.pollMs);

    int count = 0;
    control->events().connect([&](zs::automation::DispId id, std::span<Variant> args) {
        if (id != zs::cadenzo::CadenzoControl::kAlarmEvent || args.empty())
            return;
        std::cout << "Alarm: " << args[0].toString() << std::endl;
        if (opt.alarms > 0 && ++count >= opt.alarms)
            QCoreApplication::exit(0);
    });

    Variant delayArg[] = {Variant(opt.delay)};
    const auto started = table.invoke(*control, table.findByName("Start")->id, InvokeKind::Method, delayArg);
    if (!started) {
        std::cerr << "Start non riuscito (errore " << started.errorNumber << "): " << started.errorText << "\n";
        return 1;
    }
    std::cout << "Avviato su " << opt.path << " con ritardo " << opt.delay << " s" << std::endl;
    if (opt.timeoutMs > 0)
        QTimer::singleShot(opt.timeoutMs, [] {
            std::cerr << "nessun Alarm entro il tempo stabilito\n";
            QCoreApplication::exit(2);
        });
    if (widget)
        widget->show();
    return app.exec();
}
