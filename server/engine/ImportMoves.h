#pragma once
// The XML import's file moves and its reconciliation after a crash: a file whose rows are
// committed goes to the old-files folder, never over another file (across file systems by a
// flushed copy that is in place before the original goes), and the step's start finishes what
// a crash left between a commit and a move. Used by ImportXml.

#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace zs::db {
class Connection;
}
namespace zs::fs {
class FileOps;
}
namespace zs::program {
class ProgramLog;
}

namespace zs::engine {

struct LoadedFile;

/// The points of one file's way from its rows to the old-files folder, in order (Copied and
/// Placed only when that folder is on another file system).
enum class ImportCommitPoint { RowsWritten, Recorded, Copied, Committed, Placed, Moved, Done };

class ImportMoves {
  public:
    /// Every file call goes through `ops`; `reached` is told each point the moves pass.
    ImportMoves(program::ProgramLog& log, fs::FileOps& ops, std::function<void(ImportCommitPoint)> reached);

    /// What can stop the file's move, tried before the commit: the old-files folder, a free name
    /// there and (on another file system) the flushed `copy`. False with `why`.
    bool readyToMove(const std::filesystem::path& file, const std::filesystem::path& old, std::filesystem::path& copy,
                     std::string& why);
    /// Puts `file` (or its flushed `copy` on the old folder's file system) into `old`, never over
    /// another file, and removes the original.
    bool completeMove(const std::filesystem::path& file, const std::filesystem::path& old,
                      const std::filesystem::path& copy, std::string& why);
    void moveFailed(const std::filesystem::path& file, const std::filesystem::path& old, const std::string& why);
    /// Finishes what a crash left between a commit and the file's move: a queued file recorded
    /// as loaded is moved without loading it again (and joins `loaded`); a record whose file
    /// left the queue (nothing at its name) is dropped. A file that cannot be looked at keeps
    /// its record and joins `loaded` too. `ok` turns false when a file stays; false (with
    /// `reason`) when the records cannot be read.
    bool reconcile(db::Connection& c, const std::filesystem::path& folder, const std::filesystem::path& old,
                   std::set<std::string>& loaded, bool& ok, std::string& reason);

  private:
    /// The one way a loaded file goes to `old`, at the start as in the step: readyToMove, then
    /// completeMove.
    bool move(const std::filesystem::path& file, const std::filesystem::path& old, std::string& why);
    /// One record at the start; false when its file stays queued.
    bool finishRecorded(db::Connection& c, const std::filesystem::path& folder, const std::filesystem::path& old,
                        const LoadedFile& record, std::set<std::string>& loaded);
    bool removeOriginal(const std::filesystem::path& file, std::string& why);

    program::ProgramLog& m_log;
    fs::FileOps& m_ops;
    std::function<void(ImportCommitPoint)> m_reached;
};

} // namespace zs::engine
