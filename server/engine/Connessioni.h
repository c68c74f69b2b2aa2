#pragma once
// The engine's connection slot and its step log lines. Every ticked step opens a new
// connection to the target database into one program-wide slot (after the settings' pause)
// and closes it at the step's end; the step line, its detail lines and its success line with
// the elapsed time go to the run log. The run, the job executor, the calendar table and the
// synchronisation reach the database through the connection held here.

#include "engine/DescriviErrore.h"
#include "program/ProgramLog.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zs::db {
class Connection;
}
namespace zs::program {
class Crono;
class YieldHook;
struct ProgramSettings;
} // namespace zs::program

namespace zs::engine {

class Connessioni {
  public:
    /// What the log tree view does beyond the log model: expanding, collapsing and scrolling a
    /// line into view. The run window binds them; without them nothing happens.
    struct TreeView {
        std::function<void(program::LogNodeId, bool expanded)> setExpanded;
        std::function<void(program::LogNodeId)> ensureVisible;
    };

    Connessioni(program::ProgramLog& log, const program::ProgramSettings& settings, program::Crono& crono,
                program::YieldHook& yield);
    ~Connessioni();
    Connessioni(const Connessioni&) = delete;
    Connessioni& operator=(const Connessioni&) = delete;

    /// Reads the setting `pause` (milliseconds to wait before each connection attempt);
    /// nothing when the setting is missing. Read anew at every attempt.
    void setPauseReader(std::function<std::optional<std::string>()> reader) { m_readPause = std::move(reader); }
    /// How the pause is slept (the thread blocks; tests record it instead).
    void setSleeper(std::function<void(int ms)> sleeper) { m_sleep = std::move(sleeper); }
    void setTreeView(TreeView view) { m_view = std::move(view); }

    /// Opens ProviderAccess + PercorsoAccess + ";" into Connessione. False when it failed; the
    /// failure is logged and the failed connection stays in the slot until the next open or close.
    [[nodiscard]] bool ApriConnessione(const std::string& providerAccess, const std::string& percorsoAccess);
    /// Opens the template filled with server, database, user and password into
    /// ConnessioneServer, and into Connessione too for the server types that keep everything
    /// on the server (SQL Server, Oracle). False when it failed (logged).
    [[nodiscard]] bool ApriConnessioneServer(const std::string& providerTemplate, const std::string& server,
                                             const std::string& database, const std::string& user,
                                             const std::string& password);
    /// Closes and releases Connessione; never fails.
    void ChiudiConnessione();
    /// Closes and releases ConnessioneServer, and Connessione for the server types; never fails.
    void ChiudiConnessioni();

    /// The connection every engine statement runs on, or none between steps.
    db::Connection* Connessione() const { return m_connessione.get(); }
    db::Connection* ConnessioneServer() const { return m_connessioneServer.get(); }

    /// Writes a step line (top level), expands it, yields and restarts the step timing.
    program::LogNodeId InizioPasso(std::string_view text);
    /// Writes a detail line under the current step line, expands the step line and yields.
    program::LogNodeId DettaglioPasso(std::string_view text);
    /// When `success`: writes "eseguito con successo in … secondi." under the step line.
    void LogSuccesso(bool success);

    /// Writes `firstLine` and the details of the failure (see the free DescriviErrore),
    /// looking at Connessione.
    void DescriviErrore(std::string_view firstLine);
    /// The same with `current` as the run-time error, for this one report.
    void DescriviErrore(std::string_view firstLine, const RunTimeError& current);

    /// The template's items (split at ";") with the server appended to item 1, the database to
    /// item 2, the user to item 3 and the password to item 4, joined again. Nothing, with a
    /// reason that quotes no value, when the template has fewer than five items or a value
    /// holds ";".
    static std::optional<std::string> buildServerConnectionString(const std::string& providerTemplate,
                                                                  const std::string& server,
                                                                  const std::string& database, const std::string& user,
                                                                  const std::string& password, std::string& reason);
    /// The elapsed-time text of the success line: "59,6", "1 minuti e 1,25", "0".
    static std::string testoTempo(double seconds);
    /// The leading number of a text, blanks ignored ("1500ms" → 1500, "" or "abc" → 0).
    static double leadingNumber(std::string_view text);

  private:
    void pause();
    bool isServerType() const;

    program::ProgramLog& m_log;
    const program::ProgramSettings& m_settings;
    program::Crono& m_crono;
    program::YieldHook& m_yield;
    std::function<std::optional<std::string>()> m_readPause;
    std::function<void(int)> m_sleep;
    TreeView m_view;
    // The two slots hold the same connection after a server open; either may release it first.
    std::shared_ptr<db::Connection> m_connessione;
    std::shared_ptr<db::Connection> m_connessioneServer;
    std::int32_t m_stepStart = 0;
    RunTimeError m_currentError; // what DescriviErrore reports when the connection holds no errors
};

} // namespace zs::engine
