#include "shell/run/RunControl.h"

#include "engine/Connessioni.h"
#include "engine/DbEngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/EngineHost.h"
#include "engine/EngineSteps.h"
#include "engine/ExtractionRun.h"
#include "engine/RunState.h"
#include "engine/SendMailOrderMailer.h"
#include "engine/StepTree.h"
#include "program/Crono.h"
#include "program/DesktopIntegration.h"
#include "program/LoadingDocument.h"
#include "program/ProgramSettings.h"
#include "program/RunLock.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"
#include "shell/run/RunNotification.h"
#include "shell/run/SendMailSender.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace zs::shell {

// The foundation's names used here.
using program::Crono;
using program::LogImage;
using program::LogNodeId;
using program::MessageAnswer;
using program::MessageButtons;
using program::MessageIcon;
using program::OptionsDialog;
using program::SecondaryOptionsFields;
using program::SettingsStore;
using program::TrayState;

std::string tempoImpiegato(double seconds, int decimals)
{
    long minutes = 0;
    double rest = 0;
    if (seconds > 0) {
        minutes = static_cast<long>(std::floor(seconds / 60));
        const double scale = std::pow(10.0, decimals);
        rest = std::round((seconds - 60.0 * static_cast<double>(minutes)) * scale) / scale;
        if (rest < 0)
            rest = 0;
    }
    std::string text = "Tempo impiegato: ";
    if (minutes >= 1)
        text += std::to_string(minutes) + " minuti e ";
    return text + text::formatNumber(rest) + " secondi";
}

bool shouldNotify(program::NotifyWhen optErrors, program::NotifyWhat optErrorsType, bool manualRun, bool hadErrors)
{
    using program::NotifyWhen;
    const bool when = optErrors == NotifyWhen::Always || (optErrors == NotifyWhen::AskOnManualRun && manualRun);
    const bool what = optErrorsType == program::NotifyWhat::Every || hadErrors;
    return when && what;
}

std::string runStartStamp(const time::Clock& clock)
{
    const auto now = clock.now();
    return text::formatDate(now) + " " + text::formatTime(now).substr(0, 5);
}

/// The engine's special steps as this program runs them: Bus & Task through the options
/// dialog, cube processing through the run window, compaction, XML import, packages and order
/// mails through the engine's own steps.
class ShellEngineHost : public engine::EngineHost {
  public:
    ShellEngineHost(OptionsDialog& options, engine::EngineSteps& steps, std::function<void(int)> progress,
                    std::function<bool()> elaborazione)
        : m_options(options)
        , m_steps(steps)
        , m_progress(std::move(progress))
        , m_elaborazione(std::move(elaborazione))
    {}
    void UpdateProgressBar(int step) override { m_progress(step); }
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override
    {
        m_options.BusAndTask(task, parameters, ok);
    }
    void Elaborazione(bool& ok) override { ok = m_elaborazione(); }
    bool CompattaDatabase(const std::string& file) override { return m_steps.CompattaDatabase(file); }
    bool ImportXmlStep(const xml::Element& step) override { return m_steps.ImportXmlStep(step); }
    bool MailOrdersStep(const xml::Element& step) override { return m_steps.MailOrdersStep(step); }
    bool ExecuteDtsStep(const xml::Element& step) override { return m_steps.ExecuteDtsStep(step); }

  private:
    OptionsDialog& m_options;
    engine::EngineSteps& m_steps;
    std::function<void(int)> m_progress;
    std::function<bool()> m_elaborazione;
};

engine::OrderMailSettings orderMailSettings(const SecondaryOptionsFields& fields, SettingsStore& store)
{
    engine::OrderMailSettings s;
    const SmtpAddress smtp = parseSmtpAddress(fields.txtSmtp);
    s.smtpServer = smtp.host;
    s.smtpPort = static_cast<int>(smtp.port);
    s.useAuthentication = fields.chkAutentifica != 0;
    s.userName = fields.txtUsername;
    s.password = fields.txtPwd;
    s.sender = store.LeggiTesto("MittenteOrdini");
    return s;
}

struct RunControl::Engine {
    Engine(RunControl& rc, const Parts& p)
        : crono(p.clock)
        , connessioni(p.log, p.settings, crono, p.yield)
        , backend(engine::connessioniSlot(connessioni, p.settings))
        , mailer([&y = p.yield] { y.yield(); })
        , steps({p.log, p.settings, p.messages, p.yield, p.clock, p.store.programFolder(),
                 [this] { return connessioni.Connessione(); },
                 [&f = p.fields, &st = p.store] { return orderMailSettings(f, st); }, mailer,
                 // A database another user holds: Retry or Cancel, which a scheduled run's box
                 // answers by itself after its bound.
                 [&m = p.messages](const std::string& text, const std::string& title) {
                     return m.ask(text, MessageIcon::Information, title, MessageButtons::RetryCancel) ==
                            MessageAnswer::Retry;
                 },
                 [&s = p.state] { return s.stopped(); }})
        , host(
              p.options, steps, [&rc](int step) { rc.UpdateProgressBar(step); },
              [&rc] { return rc.elaborazioneInRun(); })
        , context{p.settings, p.log, p.state, p.yield, p.clock, {}, backend}
    {}
    Crono crono;
    engine::Connessioni connessioni;
    engine::DbEngineBackend backend;
    engine::SendMailOrderMailer mailer;
    engine::EngineSteps steps;
    ShellEngineHost host;
    engine::EngineContext context;
};

RunControl::RunControl(const Parts& parts, RunWindowView& view)
    : m_parts(parts)
    , m_log(parts.log)
    , m_view(view)
    , m_engine(std::make_unique<Engine>(*this, parts))
{
    m_engine->connessioni.setPauseReader([this]() -> std::optional<std::string> {
        std::string pause = m_parts.store.LeggiTesto("pause");
        return pause.empty() ? std::nullopt : std::optional<std::string>(std::move(pause));
    });
    m_engine->connessioni.setTreeView({[this](LogNodeId id, bool expanded) { m_view.setExpanded(id, expanded); },
                                       [this](LogNodeId id) { m_view.ensureVisible(id); }});
}

RunControl::~RunControl() = default;

void RunControl::setSleeper(std::function<void(int)> sleeper)
{
    m_sleep = sleeper;
    m_engine->connessioni.setSleeper(sleeper);
    m_engine->context.sleepMs = std::move(sleeper);
}

RunControl::RunningFlag::~RunningFlag()
{
    rc.m_running = false;
    if (rc.m_runEnded)
        rc.m_runEnded();
}

bool RunControl::refuse(const char* what)
{
    if (!m_running)
        return false;
    // A line of its own: the running run's details stay under their step.
    m_log.OutputAside(std::string(what) + " non avviata: un'altra elaborazione e' gia' in corso.", true);
    return true;
}

bool RunControl::takeFolder(std::optional<program::RunLock>& lock, const char* what, bool scheduled)
{
    const auto& folder = m_parts.store.programFolder();
    const auto started = [&] {
        if (scheduled && m_scheduledRunStarted)
            m_scheduledRunStarted();
        return true;
    };
    lock.emplace(folder);
    if (lock->acquired())
        return started();
    // A holder further down this thread (a database build's box) would never let go while
    // this waits: only another process's run is waited for.
    if (!scheduled || !lock->heldElsewhere() || program::RunLock::heldInThisProcess() > 0) {
        m_log.OutputResponse(lock->refusal(what), true, 0);
        return false;
    }
    m_log.OutputResponse(lock->waiting(what), false, 0);
    // While it waits, Stop drops the run; nothing else of the run is under way to pause.
    m_waiting = true;
    m_drop.reset();
    m_view.setControlButtons(false, false, true);
    struct Waiting {
        RunControl& rc;
        ~Waiting()
        {
            rc.m_waiting = false;
            rc.m_view.setControlButtons(false, false, false);
        }
    } waiting{*this};
    for (;;) {
        if (m_sleep) {
            m_sleep(kFolderRetryMs);
        } else {
            m_parts.yield.yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(kFolderRetryMs));
        }
        if (m_drop) {
            m_log.OutputResponse(lock->dropped(what, *m_drop == DropReason::Closing), true, 0);
            if (m_scheduledRunDropped)
                m_scheduledRunDropped();
            return false;
        }
        lock.reset();
        lock.emplace(folder);
        if (lock->acquired())
            return started();
        if (!lock->heldElsewhere()) {
            m_log.OutputResponse(lock->refusal(what), true, 0);
            return false;
        }
    }
}

RunControl::Outcome RunControl::executeXmlClicked(bool reload)
{
    if (refuse("Estrazione"))
        return Outcome::Refused;
    InitializeResponse();
    if (reload)
        m_parts.options.RicaricaModuli(true);
    return Estrazione(true);
}

RunControl::Outcome RunControl::elaboraCubiClicked()
{
    if (refuse("Elaborazione"))
        return Outcome::Refused;
    InitializeResponse();
    return Elaborazione();
}

RunControl::Outcome RunControl::Estrazione(bool manualRun)
{
    if (refuse("Estrazione"))
        return Outcome::Refused;
    const xml::Element root = m_parts.loading.DocModuli().root();
    if (!root) {
        m_parts.messages.show("Si e' verificato un problema nel caricamento dei moduli di estrazione.Contattare il "
                              "supporto tecnico per risolvere il problema.",
                              MessageIcon::Critical, "Attenzione.");
        return Outcome::NotStarted;
    }
    // The folder is the run's for its length: a run of zs-extract on it keeps this one out, or
    // a scheduled one waits for it.
    std::optional<program::RunLock> folderLock;
    if (!takeFolder(folderLock, "Estrazione", !manualRun)) {
        m_parts.yield.yield();
        return Outcome::NotStarted;
    }
    m_view.setProgress(0);
    const LogNodeId start = m_log.OutputResponse("Inizio estrazione dati (" + runStartStamp(m_parts.clock) + ")");
    m_log.setImage(start, LogImage::Start);

    std::int16_t passi = 0;
    const auto ticked = engine::StatoNodo(m_parts.options.tvXML(), passi);
    m_numeroPassi = passi;
    if (ticked == 0) {
        m_engine->connessioni.DescriviErrore("Non è stato selezionato alcun passo di elaborazione. Controllare le "
                                             "impostazioni nella finestra delle opzioni.");
        m_parts.yield.yield();
        return Outcome::NotStarted;
    }

    m_running = true;
    RunningFlag done{*this};

    m_view.setProgressVisible(true);
    m_view.setTrayTip(TrayState::Extracting);
    m_view.setCursor(RunWindowView::Cursor::ArrowHourglass);
    // The run's own marks: the engine's timer restarts at every step.
    Crono runCrono(m_parts.clock);
    runCrono.AvviaCrono();
    m_view.setStatusText("Processo di estrazione in corso");
    m_parts.state.setStatoProcesso(engine::RunState::kRunning);
    m_view.setRunButtonsEnabled(false);
    m_view.setControlButtons(false, true, true);

    engine::ExtractionRun run(m_engine->context, m_engine->host, m_parts.store.programFolder(), m_parts.messages);
    const bool ok = run.EseguiEstrazione(m_parts.options.tvXML(), root);

    m_view.setControlButtons(false, false, false);
    m_view.setRunButtonsEnabled(true);
    m_view.setStatusText("");
    m_engine->backend.close();
    const double seconds = runCrono.TempoTrascorso();
    m_view.setCursor(RunWindowView::Cursor::Default);

    if (!ok) {
        m_log.OutputResponse("Elaborazione eseguita con errori: verificare i risultati", true, 0);
        // A stopped run skipped what came after the stop: say so, not only that it had errors.
        if (m_parts.state.stopped())
            m_log.OutputResponse("Elaborazione interrotta dall'utente: i passi seguenti non sono stati eseguiti.", true,
                                 0);
    } else {
        const LogNodeId line = m_log.OutputResponse("Elaborazione eseguita correttamente");
        m_log.setImage(line, LogImage::Success);
    }

    if (shouldNotify(m_parts.fields.optErrors, m_parts.fields.optErrorsType, manualRun, !ok)) {
        if (m_notification) {
            m_notification->NotificaEstrazione(!ok);
        } else {
            m_log.OutputResponse("Invio notifica email non disponibile: il modulo di posta non e' installato.", true,
                                 0);
        }
    }

    const LogNodeId elapsed = m_log.OutputResponse(tempoImpiegato(seconds, 3));
    m_log.setImage(elapsed, LogImage::Start);
    m_parts.yield.yield();
    m_view.setProgressVisible(false);
    m_view.setTrayTip(TrayState::Ready);
    return ok ? Outcome::Succeeded : Outcome::Failed;
}

RunControl::Outcome RunControl::Elaborazione(bool scheduled)
{
    if (refuse("Elaborazione"))
        return Outcome::Refused;
    std::optional<program::RunLock> folderLock;
    if (!takeFolder(folderLock, "Elaborazione", scheduled))
        return Outcome::NotStarted;
    m_running = true;
    RunningFlag done{*this};
    // A run of its own: a Stop left from an earlier run is not this one's, and Stop ends this
    // one after the cube in hand.
    m_parts.state.setStatoProcesso(engine::RunState::kRunning);
    m_view.setControlButtons(false, false, true);
    const bool ok = elaborazioneInRun();
    m_view.setControlButtons(false, false, false);
    m_view.setStatusText("");
    return ok ? Outcome::Succeeded : Outcome::Failed;
}

bool RunControl::elaborazioneInRun()
{
    m_view.setProgress(0);
    m_view.setProgressVisible(true);
    m_view.setCursor(RunWindowView::Cursor::Hourglass);
    Crono crono(m_parts.clock);
    crono.AvviaCrono();
    const LogNodeId start =
        m_log.OutputResponse("Inizio elaborazione dati multidimensionali. (" + runStartStamp(m_parts.clock) + ").");
    m_log.setImage(start, LogImage::Start);
    const bool ok = m_parts.cubes.process();
    const double seconds = crono.TempoTrascorso();
    m_view.setCursor(RunWindowView::Cursor::Default);
    const LogNodeId elapsed = m_log.OutputResponse(tempoImpiegato(seconds, 2));
    m_log.setImage(elapsed, LogImage::Start);
    m_view.setProgressVisible(false);
    return ok;
}

void RunControl::cmdPlay()
{
    m_parts.state.setStatoProcesso(engine::RunState::kRunning);
    m_view.setControlButtons(false, true, true);
    m_view.setStatusText("Processo di estrazione in corso");
}

void RunControl::cmdPause()
{
    m_parts.state.setStatoProcesso(engine::RunState::kPaused);
    m_view.setControlButtons(true, false, true);
    m_view.setStatusText("Processo di estrazione  in pausa");
}

void RunControl::cmdStop()
{
    dropWaitingRun(DropReason::Stop);
    m_parts.state.setStatoProcesso(engine::RunState::kStopped);
    m_view.setStatusText("Processo di estrazione interrotto");
}

void RunControl::dropWaitingRun(DropReason why)
{
    // The first reason stays: a Stop followed by the close is still the operator's Stop.
    if (m_waiting && !m_drop)
        m_drop = why;
}

void RunControl::UpdateProgressBar(int step)
{
    const int divisor = m_numeroPassi > 0 ? m_numeroPassi : 1;
    int percent = static_cast<int>(std::lround(100.0 * step / divisor));
    m_view.setProgress(percent < 0 ? 0 : percent > 100 ? 100 : percent);
}

} // namespace zs::shell
