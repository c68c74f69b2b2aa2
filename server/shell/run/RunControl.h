#pragma once
// The run control behind the run window (frmMain): the extraction and cube-processing runs
// with their log lines, buttons, status text and tray tip, the play/pause/stop buttons over the
// program-wide run state, the progress bar, and the one run guard that refuses a second run
// (by hand, scheduled or cube processing) while one is under way. Qt-free: the window shows
// what it is told through RunWindowView.

#include "program/DesktopIntegration.h"
#include "program/ProgramLog.h"
#include "program/RunLock.h"
#include "program/SettingsTypes.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zs::time {
class Clock;
}
namespace zs::engine {
class RunState;
struct OrderMailSettings;
} // namespace zs::engine

namespace zs::program {
class CubeWindow;
class MessageService;
class OptionsDialog;
class LoadingDocument;
class SettingsStore;
class YieldHook;
struct ProgramSettings;
struct SecondaryOptionsFields;
} // namespace zs::program

namespace zs::shell {

class RunNotification;

/// What the run window shows; the Qt window implements it, tests record it.
class RunWindowView {
  public:
    enum class Cursor { Default, ArrowHourglass, Hourglass };
    virtual ~RunWindowView() = default;
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgress(int percent) = 0;
    virtual void setStatusText(const std::string& text) = 0;
    /// flbExecuteXML and flbElaboraCubi.
    virtual void setRunButtonsEnabled(bool enabled) = 0;
    virtual void setControlButtons(bool play, bool pause, bool stop) = 0;
    virtual void setCursor(Cursor cursor) = 0;
    virtual void setTrayTip(program::TrayState state) = 0;
    /// Expands or collapses a line of the log tree, and scrolls one into view.
    virtual void setExpanded(program::LogNodeId id, bool expanded) = 0;
    virtual void ensureVisible(program::LogNodeId id) = 0;
};

/// "Tempo impiegato: " [minutes " minuti e "] rest " secondi", the rest rounded to `decimals`
/// and written with a decimal comma and no trailing zeros; never negative.
std::string tempoImpiegato(double seconds, int decimals);

/// Whether a finished extraction sends the notification: NOTIFICA always, or asking for a run by
/// hand; and TIPONOTIFICA every run, or a run with errors.
bool shouldNotify(program::NotifyWhen optErrors, program::NotifyWhat optErrorsType, bool manualRun, bool hadErrors);

/// Text of the start lines: "dd/mm/yyyy hh:mm".
std::string runStartStamp(const time::Clock& clock);

/// The order mails' settings: the secondary options' SMTP box ("host" or "host:port") and
/// log-in, and the configured sender.
engine::OrderMailSettings orderMailSettings(const program::SecondaryOptionsFields& fields,
                                            program::SettingsStore& store);

class RunControl {
  public:
    enum class Outcome { NotStarted, Refused, Succeeded, Failed };
    /// How often a scheduled run that waits for its folder tries it again.
    static constexpr int kFolderRetryMs = 500;

    struct Parts {
        program::ProgramSettings& settings;
        program::SecondaryOptionsFields& fields;
        program::SettingsStore& store;
        program::LoadingDocument& loading;
        program::ProgramLog& log;
        engine::RunState& state;
        program::YieldHook& yield;
        program::MessageService& messages;
        const time::Clock& clock;
        program::OptionsDialog& options;
        program::CubeWindow& cubes;
    };

    RunControl(const Parts& parts, RunWindowView& view);
    ~RunControl();

    /// The notification sender; without one a run that asks for it logs that mail is missing.
    void setNotification(RunNotification* notification) { m_notification = notification; }
    /// How the engine sleeps between connection attempts (the host yields while it waits).
    void setSleeper(std::function<void(int ms)> sleeper);
    /// Called when an extraction or a cube-processing run has ended (a scheduled run that had
    /// to wait starts then).
    void setRunEnded(std::function<void()> ended) { m_runEnded = std::move(ended); }
    /// Called when a scheduled run has its folder and starts (the scheduler spends the
    /// operation then).
    void setScheduledRunStarted(std::function<void()> started) { m_scheduledRunStarted = std::move(started); }
    /// Called when a scheduled run that waited for its folder is dropped (Stop, or the program
    /// closing): it never started, so the scheduler does not spend its operation.
    void setScheduledRunDropped(std::function<void()> dropped) { m_scheduledRunDropped = std::move(dropped); }

    /// One extraction run (flbExecuteXML with `manualRun`, or the scheduler without).
    Outcome Estrazione(bool manualRun);
    /// One cube-processing run; Refused while another run is under way. A scheduled one
    /// (`scheduled`) waits for a folder another process holds, as a scheduled extraction does.
    Outcome Elaborazione(bool scheduled = false);
    /// flbExecuteXML: empties the log, reloads the loading XML when `reload`, runs by hand.
    Outcome executeXmlClicked(bool reload);
    /// flbElaboraCubi: empties the log and processes the cubes.
    Outcome elaboraCubiClicked();

    void cmdPlay();
    void cmdPause();
    /// Stop; a scheduled run that waits for its folder is dropped.
    void cmdStop();
    /// Why a waiting scheduled run is dropped: its line names the reason.
    enum class DropReason { Stop, Closing };
    /// Drops the scheduled run that waits for its folder, if one does: the wait ends at its next
    /// turn and says so once. The program's close calls it with Closing.
    void dropWaitingRun(DropReason why);
    /// True while a scheduled run waits for a folder another process holds.
    bool waitingForFolder() const { return m_waiting; }
    /// Progress to step / NumeroPassi × 100, rounded.
    void UpdateProgressBar(int step);
    void InitializeResponse() { m_log.InitializeResponse(); }

    /// True while an extraction or a cube-processing run is under way.
    bool running() const { return m_running; }
    int numeroPassi() const { return m_numeroPassi; }

  private:
    /// Holds m_running for the length of a run; reports the end.
    struct RunningFlag {
        RunControl& rc;
        ~RunningFlag();
    };
    bool elaborazioneInRun();
    bool refuse(const char* what);
    /// Takes the folder's run lock into `lock`. When another process holds it, a run by hand
    /// is refused with its line; a scheduled run says once that it waits, and waits while
    /// window events go on until the folder is free, or until the wait is dropped (Stop
    /// enabled meanwhile). False when the run does not start.
    bool takeFolder(std::optional<program::RunLock>& lock, const char* what, bool scheduled);

    Parts m_parts;
    program::ProgramLog& m_log;
    RunWindowView& m_view;
    RunNotification* m_notification = nullptr;
    std::function<void()> m_runEnded;
    std::function<void(int)> m_sleep;
    std::function<void()> m_scheduledRunStarted;
    std::function<void()> m_scheduledRunDropped;
    struct Engine;
    std::unique_ptr<Engine> m_engine;
    bool m_running = false;
    bool m_waiting = false;
    std::optional<DropReason> m_drop;
    int m_numeroPassi = 1;
};

} // namespace zs::shell
