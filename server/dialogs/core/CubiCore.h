#pragma once
// The cube window's (frmCubi) logic without Qt: the cube list with its refresh choices, the
// listing of an OLAP database's cubes, the processing run that logs every dimension and cube,
// the snapshot file zentrikOlap.xml, and the grid's fill and click rules. The Qt window holds
// one CubiCore and shows it through CubiView; the shell reaches it as a program::CubeWindow.

#include "program/ShellServices.h"
#include "time/DateTime.h"
#include "xml/XmlDocument.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zs::time {
class Clock;
}
namespace zs::olap {
struct OlapDatabaseDef;
struct OlapError;
class OlapServer;
} // namespace zs::olap
namespace zs::program {
class ProgramLog;
class SettingsStore;
} // namespace zs::program

namespace zs::dialogs {

using program::InfoCubo;

/// What the cube window's core needs of its window: visibility, the mouse pointer, the grid
/// flgCubi (rows counted from 1, columns from 1), the progress notice and the operator's
/// answer to a failure. Tests without a window pass none.
class CubiView {
  public:
    virtual ~CubiView() = default;
    virtual bool isVisible() const = 0;
    virtual void showWindow() = 0;
    virtual void setMousePointer(int pointer) = 0; ///< kPointerDefault or kPointerHourglass
    virtual void gridSetRows(int rows) = 0;
    virtual void gridAddRow(const std::string& tabSeparated) = 0;
    virtual int gridRows() const = 0;
    virtual void gridSetBooleanFormat(int riga, int colonna) = 0;
    virtual bool gridGetBool(int riga, int colonna) const = 0;
    virtual void gridSetBool(int riga, int colonna, bool value) = 0;
    /// Around a refill of the whole grid of `rows` rows (the header included): a window may make
    /// room for them and hold its drawing back until the end.
    virtual void gridBeginFill(int rows) { (void)rows; }
    virtual void gridEndFill() {}
    virtual void MostraAvanzamento(const std::string& text, int icon) = 0;
    virtual void NascondiAvanzamento() = 0;
};

/// What the processing run needs of the run window: the object in hand (its progress handler
/// follows it) and the progress of that object.
class CubiRunWindow {
  public:
    virtual ~CubiRunWindow() = default;
    virtual void setOggettoInElaborazione(const std::string& name) = 0;
    virtual void reportProgress(const std::string& object, long counter) = 0;
    /// The progress of `object` with the rows it is estimated to hold (0 when unknown, as for a
    /// dimension); the run calls this one. A run window that draws no bar keeps the default,
    /// which passes the call on to reportProgress.
    virtual void reportProgressRows(const std::string& object, long counter, double estimatedRows)
    {
        (void)estimatedRows;
        reportProgress(object, counter);
    }
    /// How far the run is: `done` of its `total` dimensions and cubes are processed. The run calls
    /// it before each object and once at its end, so a run of many objects can move a bar as it
    /// goes. The default does nothing.
    virtual void reportRunProgress(int done, int total)
    {
        (void)done;
        (void)total;
    }
};

/// The run window's progress bar for `counter` rows done of `estimatedRows`: counter × 100 /
/// estimated rows, at most 100. Nothing when the bar is not to move: a counter below 2, or no
/// usable estimate (zero, negative or not a number).
std::optional<int> cubeProgressPercent(long counter, double estimatedRows);

using program::RefreshChoice;

/// The grid flgCubi: the header row, and the tick-box column of each refresh choice.
inline constexpr int kGridHeaderRow = 1;
inline constexpr int kColIncremental = 2;
inline constexpr int kColDataOnly = 3;
inline constexpr int kColFull = 4;

/// The mouse pointers the window sets.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

/// The grid's header line and the texts its Boolean cells hold.
inline constexpr const char* kCubiGridHeader =
    "Cubo\tIncrementale\tAggiornamento Dati\tCompleta\tdata ultima elaborazione";
inline constexpr const char* kCubiSnapshotFile = "zentrikOlap.xml";

/// A date as the program shows a date-time value in text: "dd/mm/yyyy hh:mm:ss", the date
/// alone at midnight.
std::string defaultDateText(const time::DateTime& date);

class CubiCore : public program::CubeWindow {
  public:
    /// `programFolder` holds the OLAP catalogs and receives zentrikOlap.xml; `messages` shows
    /// the warnings; `clock` times the processing.
    CubiCore(std::filesystem::path programFolder, const time::Clock& clock, program::MessageService& messages);

    void setView(CubiView* view) { m_view = view; }
    void setYield(program::YieldHook* yield) { m_yield = yield; }
    /// The run window's log (OutputResponse); without one the run logs nothing.
    void setProgramLog(program::ProgramLog* log) { m_log = log; }
    void setRunWindow(CubiRunWindow* run) { m_run = run; }
    /// The settings store the save button and the processing run save through.
    void setSettingsStore(program::SettingsStore* store) { m_store = store; }
    /// Asked before each dimension and cube of a run: true (the run window's Stop) ends the run
    /// after the object in hand. The objects not reached keep their previous data and state.
    void setStopRequested(std::function<bool()> stopRequested) { m_stopRequested = std::move(stopRequested); }
    /// Whether the last run ended at a stop before its last object.
    bool stopped() const { return m_stopped; }
    /// Called after the grid fill added the row of entry i (from 1); tests time the fill by it.
    std::function<void(int i)> onGridRow;

    // program::CubeWindow
    void Form_ShowMe() override;
    /// Runs the processing; true when the database was found and nothing failed.
    bool process() override;
    void set_MacchinaOLAP(const std::string& name) override { m_server = name; }
    void set_DatabaseCubi(const std::string& name) override { m_database = name; }
    void Inizializza() override;
    void modifyCube(const std::string& nome, RefreshChoice aggiornamento, const std::string& data) override;
    void AggiornaTabellaCubi() override;
    std::string txtDsoServer() const override { return m_server; }
    std::string txtDsoDb() const override { return m_database; }
    std::vector<InfoCubo> cubes() const override;

    void addCube(const std::string& nome, RefreshChoice aggiornamento, const std::string& data);
    /// Writes zentrikOlap.xml from the server and refreshes the list's dates. A write that fails
    /// asks the operator (the critical icon, Abort, Retry and Ignore; Retry writes again). False,
    /// with the reason in `failure`, when the server, the database or the write failed and was
    /// not retried (the old file then stays).
    bool EsportaInfoCubi(std::string* failure = nullptr);
    /// Writes one setting below `node` ("Element" or "Element.attribute"); returns the element
    /// written (the attribute's owner for an attribute path).
    static xml::Element SetSettingsGeneral(xml::Element node, const std::string& path, const std::string& value);

    /// flgCubi Click after the grid flipped the clicked tick box.
    void flgCubiClick(int riga, int colonna);
    /// flbSalva Click: saves the settings and tells the operator. False when the save failed.
    bool flbSalvaClick();
    /// flbAggiorna Click: rewrites the snapshot and refills the grid.
    void flbAggiornaClick();

    int NumeroCubi() const { return static_cast<int>(m_elenco.size()); }
    /// Entry i (1 to NumeroCubi) of ElencoCubi, as the settings and the grid count them.
    const InfoCubo& ElencoCubi(int i) const { return m_elenco.at(static_cast<std::size_t>(i - 1)); }
    const std::filesystem::path& programFolder() const { return m_folder; }

  private:
    /// Regular cubes are processed before the virtual cubes built on them.
    enum class CubePass { Regular, Virtual };

    void pointer(int p);
    void yield();
    /// The settings' command time-out, for the target connections of the processing.
    int commandTimeout() const;
    /// "Impossibile connettersi al server olap …", with the catalog's fault when it has one.
    void connectionWarning(const olap::OlapError& error);
    InfoCubo* find(const std::string& nome);
    /// Empties the list and its index.
    void clearList();

    // The processing run, step by step.
    olap::OlapDatabaseDef* openDatabase(olap::OlapServer& server);
    bool processDimensions(olap::OlapServer& server, const olap::OlapDatabaseDef& db);
    /// One more object of the run is done (or, with `started`, the run begins): tells the run window.
    void runProgress(bool started = false);
    bool processCubes(olap::OlapServer& server, const std::string& database, CubePass pass);
    /// Logs `logText` as a top-level line, runs `work` timed, then logs its time or its
    /// failure (`failText` and the error's description). True when `work` succeeded.
    bool processObject(const std::string& name, const std::string& logText, const std::string& failText,
                       const std::function<bool(olap::OlapError&)>& work);
    void logFailure(const std::string& text, const olap::OlapError& e);
    /// Whether the run is to end before its next object (remembered once asked true).
    bool stopNow();
    /// The end of a run: settings saved, snapshot written, grid refilled. False when the save or
    /// the snapshot failed and was not retried (each failure logged as an error line).
    bool finishRun();
    /// Runs `write` until it succeeds or the operator stops retrying (Abort/Retry/Ignore with
    /// `failure`'s text). False, with the reason in `error`, when it never succeeded.
    bool writeAsking(const std::function<bool(std::string& error)>& write, const std::string& what, std::string& error);

    std::filesystem::path m_folder;
    const time::Clock& m_clock;
    program::MessageService& m_messages;
    CubiView* m_view = nullptr;
    program::YieldHook* m_yield = nullptr;
    program::ProgramLog* m_log = nullptr;
    CubiRunWindow* m_run = nullptr;
    program::SettingsStore* m_store = nullptr;
    std::function<bool()> m_stopRequested;
    bool m_stopped = false;
    int m_skipped = 0; ///< objects of a stopped run left unprocessed

    int m_runDone = 0;  ///< objects of the running run processed so far
    int m_runTotal = 0; ///< objects the running run processes

    std::string m_server;           // txtDsoServer
    std::string m_database;         // txtDsoDb
    std::vector<InfoCubo> m_elenco; // ElencoCubi, NumeroCubi entries
    /// The position in m_elenco of the first entry of each name: a lookup costs the same
    /// however many cubes the list holds.
    std::unordered_map<std::string, std::size_t> m_index;
};

} // namespace zs::dialogs
