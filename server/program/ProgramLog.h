#pragma once
// The program log: the one way every part of the server reports. A reported line becomes a
// node of a two-level tree (shown by the run window) and a line of the day log file.
// Qt-free: the run window's tree view mirrors this model through its listener.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::time {
class Clock;
}

namespace zs::program {

/// Stable identity of a node of the log tree; never reused while the program runs.
using LogNodeId = std::uint64_t;

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kLogRed{255, 0, 0};
inline constexpr Rgb kLogBlue{0, 0, 255};

/// Pictures of the log tree.
enum class LogImage : int { Start = 1, Success = 2, Error = 3, Line = 4 };

struct LogNode {
    LogNodeId id = 0;
    std::optional<LogNodeId> parent; ///< none for a top-level line
    std::string text;
    bool error = false;
    Rgb colour = kLogBlue;
    LogImage image = LogImage::Line;
    bool expanded = false;
};

/// A text as one log entry, in UTF-8: every run of line ends (CR LF, CR, LF) becomes one blank
/// (none at the ends of the text); well-formed UTF-8 stays as it is, and any other byte is read as
/// Windows-1252 (a peer's reply in the code page: "\x80uro" is "€uro"). Every control but tab (C0,
/// DEL, C1) and each of the five bytes Windows-1252 leaves unassigned is shown as "\x" and two
/// lower-case hex digits ("\x00", "\x1b", "\x7f", "\x81"), so a peer's reply can neither break a
/// line of the day log nor reach a terminal as a command. Plain ASCII comes back unchanged.
std::string logEntry(std::string_view text);

/// Writes the day log: `log/yymmdd.log` under a folder, Windows-1252, CR LF, opened and
/// closed for every line. A failure to write is reported once for each day's file and run
/// (through `onError`) and never raised to the caller: the log must not stop a run. A line is written
/// whole or not at all.
class DayLog {
  public:
    DayLog(std::filesystem::path programFolder, const time::Clock& clock);

    /// "dd/mm/yyyy hh:mm:ss   :" then "ERRORE  " for an error, then the text as one entry.
    void WriteInLog(std::string_view text, bool isError, bool blankLineFirst);

    /// The file today's lines go to.
    std::filesystem::path currentFile() const;
    std::filesystem::path folder() const { return m_folder; }

    /// Reports the next failure again (a new run's log starts: its operator must see it).
    void rearmReport() { m_reported.clear(); }

    /// Called with a readable text when a line could not be written (once per file).
    std::function<void(const std::string&)> onError;

  private:
    std::filesystem::path m_folder;
    const time::Clock& m_clock;
    std::filesystem::path m_reported; ///< the file whose failure was reported
};

/// Receives the changes of the log tree (the run window's tree view implements it).
class LogListener {
  public:
    virtual ~LogListener() = default;
    virtual void nodeAdded(const LogNode& node) = 0;
    virtual void nodeChanged(const LogNode& node) = 0;
    virtual void cleared() = 0;
};

/// The log tree with its current top-level node, writing every line through a DayLog.
class ProgramLog {
  public:
    explicit ProgramLog(DayLog& dayLog);

    /// Level 0 adds a top-level line and makes it the current parent; any other level adds a
    /// child of the current parent (a top-level line when there is none); with level 1 an
    /// error line also marks its parent as failed. Returns the new node's id.
    LogNodeId OutputResponse(std::string_view text, bool isError = false, int level = 0);
    /// Adds a top-level line that is not part of the run under way (a refused run, a day log
    /// that cannot be written): the current parent stays, so the run's details keep going under
    /// their step. Written to the day log unless `dayLog` is false.
    LogNodeId OutputAside(std::string_view text, bool isError, bool dayLog = true);
    /// Writes a line to the day log only.
    void WriteInLog(std::string_view text, bool isError, bool blankLineFirst);
    /// Empties the tree and forgets the current parent.
    void InitializeResponse();

    /// Changes a node's picture (the run window marks start, elapsed-time and success lines).
    void setImage(LogNodeId id, LogImage image);

    const LogNode* node(LogNodeId id) const;
    /// Every node in the order added.
    const std::vector<LogNode>& nodes() const { return m_nodes; }
    std::vector<const LogNode*> children(LogNodeId parent) const;
    std::optional<LogNodeId> currentParent() const { return m_current; }

    void setListener(LogListener* listener) { m_listener = listener; }
    DayLog& dayLog() { return m_dayLog; }

  private:
    LogNode* find(LogNodeId id);
    /// A new line of the tree with the next id, not yet added.
    LogNode newLine(std::string_view text, bool isError);

    DayLog& m_dayLog;
    std::vector<LogNode> m_nodes;
    std::optional<LogNodeId> m_current;
    LogNodeId m_nextId = 1;
    LogListener* m_listener = nullptr;
};

} // namespace zs::program
