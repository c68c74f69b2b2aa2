// zs-extract <program folder> [--runs N] [--quiet] (--help prints the usage): reads zentrikServer.xml and the loading
// XML there, ticks the steps as the loading XML's ESEGUI says, runs the extraction (N times in one process, so the
// incremental watermarks carry over), logs to the day log and stdout, saves stat.xml. An ELABORACUBI step processes the
// cubes of the settings' OLAP server and database with the refresh choices the settings keep, as the cube window does
// (its Qt-free core), then saves the settings and writes zentrikOlap.xml. A BUSANDTASK step runs its tasks through the
// bus controls with the settings' Bus & Task logins, as the options dialog does. Exit code 0 when the (last) run
// succeeded, 1 when it did not, 2 on bad input; 1 at once when another run holds the folder. SIGINT or SIGTERM stops
// the run as the run window's stop button does, the cube processing included (after the cube in hand). It works in the
// program folder, as the program does.

#include "Controls.h"
#include "automation/ClassRegistry.h"
#include "dialogs/core/BusAndTaskCall.h"
#include "dialogs/core/CubiCore.h"
#include "dialogs/core/SettingsWindows.h"
#include "engine/Connessioni.h"
#include "engine/DbEngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/EngineSteps.h"
#include "engine/ExtractionRun.h"
#include "engine/RunState.h"
#include "engine/SendMailOrderMailer.h"
#include "engine/StepTree.h"
#include "fs/AtomicFile.h"
#include "fs/Paths.h"
#include "program/Crono.h"
#include "program/DesktopIntegration.h"
#include "program/LoadingDocument.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/RunLock.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "shell/run/RunControl.h"
#include "shell/run/RunNotification.h"
#include "time/Clock.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

zs::engine::RunState* g_state = nullptr;

extern "C" void onSignal(int)
{
    if (g_state)
        g_state->setStatoProcesso(zs::engine::RunState::kStopped);
}

class StderrMessages : public zs::program::MessageService {
  public:
    void show(const std::string& text, zs::program::MessageIcon, const std::string& title) override
    {
        // A box's text may carry a peer's words: one line, no control byte, as the log's.
        const std::string line = zs::program::logEntry(title) + " " + zs::program::logEntry(text) + "\n";
        if (m_holding)
            m_held += line;
        else
            std::cerr << line;
    }
    /// While held, the boxes wait; `release` says them (true) or drops them.
    void hold() { m_holding = true; }
    void release(bool say)
    {
        m_holding = false;
        if (say)
            std::cerr << m_held;
        m_held.clear();
    }
    /// Nobody is there to answer: the box's text, then the answer that ends the waiting.
    zs::program::MessageAnswer ask(const std::string& text, zs::program::MessageIcon icon, const std::string& title,
                                   zs::program::MessageButtons buttons) override
    {
        show(text, icon, title);
        return zs::program::endingAnswer(buttons);
    }

  private:
    bool m_holding = false;
    std::string m_held;
};

class NoYield : public zs::program::YieldHook {
  public:
    void yield() override {}
};

/// The engine's special steps of zs-extract: the engine's own, the cubes through the cube
/// window's core, logged as the run window logs a cube-processing run, and Bus & Task through
/// the options dialog's caller.
class ExtractHost : public zs::engine::EngineSteps {
  public:
    ExtractHost(Dependencies deps, zs::dialogs::CubiCore& cubes, zs::dialogs::BusAndTaskCaller& bus,
                zs::program::ProgramLog& log, const zs::time::Clock& clock)
        : EngineSteps(std::move(deps))
        , m_cubes(cubes)
        , m_bus(bus)
        , m_log(log)
        , m_clock(clock)
    {}
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override
    {
        m_bus.BusAndTask(task, parameters, ok);
    }
    void Elaborazione(bool& ok) override
    {
        zs::program::Crono crono(m_clock);
        crono.AvviaCrono();
        const auto start = m_log.OutputResponse("Inizio elaborazione dati multidimensionali. (" +
                                                zs::shell::runStartStamp(m_clock) + ").");
        m_log.setImage(start, zs::program::LogImage::Start);
        ok = m_cubes.process();
        const auto elapsed = m_log.OutputResponse(zs::shell::tempoImpiegato(crono.TempoTrascorso(), 2));
        m_log.setImage(elapsed, zs::program::LogImage::Start);
    }

  private:
    zs::dialogs::CubiCore& m_cubes;
    zs::dialogs::BusAndTaskCaller& m_bus;
    zs::program::ProgramLog& m_log;
    const zs::time::Clock& m_clock;
};

class PrintingListener : public zs::program::LogListener {
  public:
    explicit PrintingListener(bool quiet)
        : m_quiet(quiet)
    {}
    void nodeAdded(const zs::program::LogNode& n) override
    {
        if (!m_quiet || n.error)
            std::cout << (n.parent ? "    " : "") << (n.error ? "ERRORE  " : "") << n.text << "\n";
    }
    void nodeChanged(const zs::program::LogNode&) override {}
    void cleared() override {}

  private:
    bool m_quiet;
};

constexpr const char* kUsage =
    "uso: zs-extract <cartella del programma> [--runs N] [--quiet]\n"
    "Esegue senza finestre l'estrazione della cartella del programma: i passi che il file di\n"
    "caricamento seleziona, con il log del giorno e le righe su standard output.\n"
    "  --runs N   esegue N estrazioni una dopo l'altra\n"
    "  --quiet    scrive su standard output solo le righe di errore\n"
    "  --help     mostra questo testo\n"
    "Uscita: 0 estrazione riuscita, 1 estrazione con errori, 2 argomenti o impostazioni non validi.\n";

struct Options {
    std::filesystem::path folder;
    int runs = 1;
    bool quiet = false;
    bool help = false;
};

/// The command line; nothing when it is not one zs-extract takes. Options may stand before or
/// after the folder; "--" ends them, for a folder whose name starts with "-".
std::optional<Options> parseArguments(int argc, char** argv)
{
    Options o;
    std::optional<std::string> folder;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (a == "--help" || a == "-h")) {
            o.help = true;
            return o;
        } else if (!optionsEnded && a == "--runs" && i + 1 < argc) {
            o.runs = std::atoi(argv[++i]);
            if (o.runs < 1)
                return std::nullopt;
        } else if (!optionsEnded && a == "--quiet") {
            o.quiet = true;
        } else if ((!optionsEnded && a.starts_with('-')) || folder) {
            return std::nullopt;
        } else {
            folder = a;
        }
    }
    if (!folder)
        return std::nullopt;
    // Absolute once, before anything uses it: the run changes into it below.
    o.folder = zs::fs::absoluteFolder(*folder);
    return o;
}

/// A file or folder name as the messages show it: quoted, and cleaned as every text from outside
/// is (a name may hold line ends or control bytes).
std::string shownName(const std::filesystem::path& name)
{
    return "\"" + zs::program::logEntry(name.string()) + "\"";
}

bool enterFolder(const std::filesystem::path& folder)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::cerr << "zs-extract: cartella inesistente: " << shownName(folder) << "\n";
        return false;
    }
    // Like the program: relative names in the loading XML (attached databases) are taken under
    // the program folder.
    if (::chdir(folder.c_str()) != 0) {
        std::cerr << "zs-extract: cartella non accessibile: " << shownName(folder) << "\n";
        return false;
    }
    return true;
}

/// Reads zentrikServer.xml and the loading XML it names; the loading XML's root, or a null
/// element (the reason said on stderr).
zs::xml::Element readSettings(zs::program::SettingsStore& store, zs::program::LoadingDocument& loading,
                              StderrMessages& messages, const zs::program::ProgramSettings& settings,
                              const std::filesystem::path& folder)
{
    messages.hold();
    const bool loaded = store.load();
    // A file refused unread (a FIFO, a folder, one over the bound) is said by its reason alone,
    // as the program's box words it; a file that does not parse by the whole box.
    messages.release(!store.refused());
    if (!loaded || !store.DocImpostazioni() || !store.DocImpostazioni()->root()) {
        std::cerr << "zs-extract: zentrikServer.xml mancante o illeggibile in " << shownName(folder)
                  << (store.refused() ? ": " + store.refusal() : std::string()) << "\n";
        return {};
    }
    for (const std::string& p : store.LeggiImpostazioni(store.DocImpostazioni()->root()))
        std::cerr << "zs-extract: " << zs::program::logEntry(p) << "\n";
    // Something that stands at the name but is no file is read (and refused with its reason) below.
    std::error_code ec;
    if (settings.FileCaricamento.empty()) {
        // The wizard writes no loading file: name the setting and what it takes.
        std::cerr << "zs-extract: file di caricamento mancante: zentrikServer.xml non indica il file di caricamento"
                     " nell'elemento LOADINGFILE; aggiungerlo, per esempio <LOADINGFILE>zentrikLoading.xml"
                     "</LOADINGFILE> per il file zentrikLoading.xml della cartella del programma\n";
        return {};
    }
    if (!std::filesystem::exists(settings.FileCaricamento, ec)) {
        std::cerr << "zs-extract: file di caricamento mancante: " << zs::program::logEntry(settings.FileCaricamento)
                  << "\n";
        return {};
    }
    loading.CreaDocumentoXML(settings.FileCaricamento);
    const zs::xml::Element root = loading.DocModuli().root();
    if (!root || root.children().empty()) {
        std::cerr << "zs-extract: il file di caricamento non contiene passi\n";
        return {};
    }
    return root;
}

/// The step tree ticked as the loading XML says; false when no step is ticked.
bool tickSteps(zs::engine::StepTree& tree, const zs::xml::Element& root)
{
    zs::engine::CaricaAlberoXML(tree, root);
    std::int16_t passi = 0;
    if (zs::engine::StatoNodo(tree, passi) == 0) {
        std::cerr << "zs-extract: nessun passo selezionato\n";
        return false;
    }
    return true;
}

void stopOnSignals(zs::engine::RunState& state)
{
    g_state = &state;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

/// The runs, one after the other until one is stopped; whether the last one succeeded.
bool runExtractions(const Options& o, const zs::engine::EngineContext& ctx, ExtractHost& host,
                    zs::program::MessageService& messages, const zs::engine::StepTree& tree,
                    const zs::xml::Element& root, zs::engine::DbEngineBackend& backend)
{
    using namespace zs;
    bool ok = false;
    for (int run = 0; run < o.runs; ++run) {
        // The run's opening line and its total time, as the program logs them.
        const auto start = ctx.log.OutputResponse("Inizio estrazione dati (" + shell::runStartStamp(ctx.clock) + ")");
        ctx.log.setImage(start, program::LogImage::Start);
        program::Crono runCrono(ctx.clock);
        runCrono.AvviaCrono();
        ctx.state.setStatoProcesso(engine::RunState::kRunning);
        engine::ExtractionRun extraction(ctx, host, o.folder, messages);
        ok = extraction.EseguiEstrazione(tree, root);
        backend.close();
        ctx.log.OutputResponse(ok                    ? "Estrazione terminata con successo."
                               : ctx.state.stopped() ? "Estrazione interrotta dall'utente."
                                                     : "Estrazione terminata con errori.",
                               !ok, 0);
        const auto elapsed = ctx.log.OutputResponse(shell::tempoImpiegato(runCrono.TempoTrascorso(), 3));
        ctx.log.setImage(elapsed, program::LogImage::Start);
        if (ctx.state.stopped())
            break;
    }
    return ok;
}

int extract(const Options& o)
{
    using namespace zs;
    StderrMessages messages;
    NoYield yield;
    const time::Clock& clock = time::systemClock();
    program::ProgramSettings settings;
    program::SecondaryOptionsFields fields;
    program::SettingsStore store(settings, fields, messages, o.folder);
    // The cube list as the settings reader fills the cube window's: the settings' OLAP server
    // and database, the cubes of that database, the stored refresh choices and dates.
    dialogs::CubiCore cubes(o.folder, clock, messages);
    cubes.setYield(&yield);
    cubes.setSettingsStore(&store);
    dialogs::SettingsWindows{&cubes, nullptr, nullptr, &yield}.connect(store);
    program::LoadingDocument loading(messages);
    const xml::Element root = readSettings(store, loading, messages, settings, o.folder);
    if (!root)
        return 2;

    program::DayLog dayLog(o.folder, clock);
    program::ProgramLog log(dayLog);
    cubes.setProgramLog(&log);
    dayLog.onError = [](const std::string& error) {
        std::cerr << "zs-extract: log giornaliero non aggiornato: " << zs::program::logEntry(error) << "\n";
    };
    PrintingListener listener(o.quiet);
    log.setListener(&listener);
    // Nobody reads a box here: what a settings save says goes to the day log.
    store.setNotices([&log](const std::string& text) { log.OutputResponse(text); });

    engine::StepTree tree;
    if (!tickSteps(tree, root))
        return 2;
    engine::RunState state;
    stopOnSignals(state);
    cubes.setStopRequested([&state] { return state.stopped(); });

    program::Crono crono(clock);
    engine::Connessioni connessioni(log, settings, crono, yield);
    connessioni.setPauseReader([&store]() -> std::optional<std::string> {
        std::string pause = store.LeggiTesto("pause");
        return pause.empty() ? std::nullopt : std::optional<std::string>(std::move(pause));
    });
    engine::DbEngineBackend backend(engine::connessioniSlot(connessioni, settings));
    const engine::EngineContext ctx{settings, log, state, yield, clock, {}, backend};
    // Compaction, XML import, packages, order mails, the cubes and Bus & Task run here. A bus
    // wait ends at its bound, or at once on SIGINT or SIGTERM.
    automation::ClassRegistry registry;
    k8bus::registerClasses(registry, [&state] { return !state.stopped(); });
    dialogs::BusAndTaskCaller bus(&registry, store, &log);
    engine::SendMailOrderMailer mailer([&yield] { yield.yield(); });
    ExtractHost host({log,
                      settings,
                      messages,
                      yield,
                      clock,
                      o.folder,
                      [&connessioni] { return connessioni.Connessione(); },
                      [&fields, &store] { return shell::orderMailSettings(fields, store); },
                      mailer,
                      {},
                      [&state] { return state.stopped(); }},
                     cubes, bus, log, clock);
    return runExtractions(o, ctx, host, messages, tree, root, backend) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::cerr << kUsage;
        return 2;
    }
    if (options->help) {
        std::cout << kUsage;
        return 0;
    }
    if (!enterFolder(options->folder))
        return 2;
    // The folder is this run's for its length: a second run on it (another cron run, or the
    // program's) ends here at once.
    const zs::program::RunLock folderLock(options->folder);
    if (!folderLock.acquired()) {
        const std::string refusal = folderLock.refusal("Estrazione");
        std::cerr << "zs-extract: " << refusal << "\n";
        // A cron user reads the day log: the refusal goes there too, when it can be written
        // (standard error has told it already when not).
        zs::program::DayLog(options->folder, zs::time::systemClock()).WriteInLog(refusal, true, false);
        return 1;
    }
    // Saves killed mid-way (settings, statistics, cube files) left their temporary files; the
    // program's start clears them, and a cron-only installation never starts the program.
    (void)zs::fs::removeStaleTemporaries(options->folder);
    (void)zs::shell::removeRunLeftovers(options->folder);
    return extract(*options);
}
