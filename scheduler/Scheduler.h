#pragma once
// The scheduler control's behaviour without any window: the operations and action names, the
// store in the host's folder, the start delay, the 10-second poll that raises Alarm, and the
// add/modify/remove bracket around the edit dialog. CadenzoControl wires it to Qt.

#include "OperationStore.h"
#include "SchedulerPorts.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zs::time {
class Clock;
}

namespace zs::cadenzo {

class clsOperazione;

/// What the library holds once for every control instance on the host's thread.
struct SchedulerState {
    OperationList colOperazioni;        ///< in store and creation order; list row i = index i
    std::vector<std::string> colAzioni; ///< registered action names, duplicates kept
};

inline constexpr int kPollIntervalMs = 10000;
inline constexpr const char* kCaption = "Operazioni previste";
/// Appended to the caption while the list holds changes the store does not.
inline constexpr const char* kUnsavedMark = " - modifiche NON salvate";

/// The caption shown while polling is held for `delaySeconds`.
std::string delayCaption(float delaySeconds);

/// The system's texts for true and false, as the list shows them.
std::string truthText(bool value);

OperationRow rowFor(const clsOperazione& op);

class Scheduler {
  public:
    using AlarmHandler = std::function<void(const std::string& azione)>;
    using ErrorHandler = std::function<void(const std::string& error)>;

    Scheduler(SchedulerState& state, const time::Clock& clock, ITimer& pollTimer, ITimer& startTimer, IYield& yield,
              ISchedulerView* view = nullptr);

    void setAlarmHandler(AlarmHandler handler) { m_onAlarm = std::move(handler); }
    /// Called with a text for the operator when the store cannot be read, cannot be written,
    /// or must not be written (after a failed load).
    void setStoreErrorHandler(ErrorHandler handler) { m_onStoreError = std::move(handler); }

    void AddOperation(const std::string& s);
    void SetPath(const std::string& spath) { m_folder = spath; }
    const std::string& path() const { return m_folder; }
    std::filesystem::path storeFile() const;

    /// Loads the store and starts polling, at once when the delay is below 10 seconds, else
    /// after it. On a faulty store returns false with the reason in `error`: the operations
    /// read before the fault stay, nothing is saved (now or later, until a load succeeds) and
    /// no timer runs. When the store was read but cannot be written (folder missing or
    /// read-only) polling starts all the same, since the operations in memory stand, but the
    /// result is false and `error` says the store is not saved.
    [[nodiscard]] bool Start(float delay, std::string* error = nullptr);

    /// Empties the collection and reads the store; as Start does before its timers.
    [[nodiscard]] bool CaricaOperazioni(std::string* error);
    /// Refreshes the list and saves the store.
    void AggiornaLista();

    void pollTick();
    void startTick();
    /// The host's Alarm handler calls it when the run the alarm asked for starts, which may be
    /// a while after the alarm (a run that waits for its folder): the store then holds the raised
    /// operation as the poll leaves it (a once-only one spent, another on its next occurrence), so
    /// that a run killed midway is not raised again at the next start. Nothing outside an Alarm.
    void alarmRunStarted();
    /// The host's Alarm handler says that the run the alarm asked for was dropped before it
    /// started (it waited for its folder, and Stop or the program's close ended the wait): a
    /// once-only operation is not spent. The store keeps it due when it fell due, so the next
    /// start raises it as any missed one; this session raises it no more. Nothing outside an Alarm.
    void alarmRunDropped();

    /// Bracket around the edit dialog and around a removal: holds the poll, then refreshes,
    /// saves and resumes polling unless the start delay still runs.
    void beginEdit();
    void endEdit();
    /// Removes the operation at a 1-based list position; false when there is none.
    bool removeAt(int position);

    /// The caption as shown: marked while the operations in memory are not saved.
    std::string caption() const;
    /// True while the last save failed or was refused: the list differs from the store.
    bool unsaved() const { return m_unsaved; }
    std::vector<OperationRow> rows() const;
    /// True after a load failed: saves are refused until a load succeeds.
    bool storeLocked() const { return m_storeLocked; }
    /// The text of the last store failure reported (empty after a good load).
    const std::string& lastError() const { return m_lastError; }
    /// The automation error number of the last failed load (0 after a good one).
    int lastLoadErrorNumber() const { return m_lastLoadErrorNumber; }
    void setPollIntervalMs(int ms);

    SchedulerState& state() { return m_state; }
    const time::Clock& clock() const { return m_clock; }

  private:
    void setCaption(const std::string& caption);
    void setUnsaved(bool unsaved);
    void resumePolling();
    void reportStoreError(const std::string& error);

    SchedulerState& m_state;
    const time::Clock& m_clock;
    ITimer& m_poll;
    ITimer& m_start;
    IYield& m_yield;
    ISchedulerView* m_view;
    AlarmHandler m_onAlarm;
    /// The operations whose Alarm is being raised, innermost last (a nested poll adds one).
    OperationList m_raising;
    /// Once-only operations whose run was dropped: still due in the store, not raised again here.
    OperationList m_dropped;
    ErrorHandler m_onStoreError;
    std::string m_folder;
    std::string m_caption = kCaption;
    std::string m_lastError;
    std::string m_loadError;
    bool m_storeLocked = false;
    bool m_unsaved = false;
    int m_lastLoadErrorNumber = 0;
};

} // namespace zs::cadenzo
