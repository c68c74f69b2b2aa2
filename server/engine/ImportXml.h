#pragma once
// The IMPORTXML step: loads every XML data file of a folder into the target database through
// an annotated mapping schema (XmlMapping), one transaction per file holding its rows
// (XmlRowLoader) and its record (ImportRecord), and moves each file that went in to the
// old-files folder (ImportMoves), so the next run finds only new files. A file and its rows
// stand or fall together, whatever stops the way between them. Used by EngineSteps.

#include "engine/ImportMoves.h"
#include "fs/FileOps.h"

#include <filesystem>
#include <functional>
#include <string>

namespace zs::db {
class Connection;
class Transaction;
} // namespace zs::db
namespace zs::xml {
class Element;
}
namespace zs::time {
class Clock;
}
namespace zs::program {
class MessageService;
class ProgramLog;
} // namespace zs::program

namespace zs::engine {

struct XmlMapping;

class ImportXml {
  public:
    ImportXml(const ImportXml&) = delete;
    ImportXml& operator=(const ImportXml&) = delete;
    /// The data files' looks and moves make their file calls through `ops` (tests pass one that
    /// fails); see `m_ops` for what does not.
    ImportXml(program::ProgramLog& log, program::MessageService& messages, const time::Clock& clock,
              std::filesystem::path programFolder, std::function<db::Connection*()> connection,
              fs::FileOps& ops = fs::systemFileOps());

    /// Reads path, oldpath and schema from the step element and imports. False when a file was
    /// rejected or the import could not run (a failed import never counts as success).
    bool ImportXmlStep(const xml::Element& step);
    bool ImportXmlBulkLoad(const std::string& path, const std::string& schema, std::string oldpath);

    /// The bulk load's error file of today: <program folder>/log/yymmddx.log.
    std::filesystem::path errorLogFile() const;

    /// The points of one file's way from its rows to the old-files folder, in order.
    using CommitPoint = ImportCommitPoint;
    /// Called at each point as it is passed: crash tests stop the process there.
    void setCommitPointHook(std::function<void(CommitPoint)> hook) { m_commitPoint = std::move(hook); }

  private:
    /// One queued file's way: its rows, its record, the commit and its move. False when the file
    /// was rejected or could not move.
    bool importFile(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& folder,
                    const std::filesystem::path& old, const std::filesystem::path& file);
    /// Begins the file's transaction (none where `transaction` is null), loads its rows and
    /// records the file, all not yet committed.
    bool loadAndRecord(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& folder,
                       const std::filesystem::path& file, db::Transaction* transaction, std::string& reason);
    /// Reports the file rejected, once its transaction is rolled back; rows still on their way
    /// are waited for and their outcome dropped.
    void rejectFile(db::Connection& c, const std::filesystem::path& file, const std::string& reason);
    void handledError(const std::string& description);
    void reached(CommitPoint point);

    program::ProgramLog& m_log;
    program::MessageService& m_messages;
    const time::Clock& m_clock;
    std::filesystem::path m_programFolder;
    std::function<db::Connection*()> m_connection;
    /// The calls of a data file's way: the look at what stands at its name, its identity for the
    /// record, and the moves' calls (ImportMoves: identities, copy, rename, unlink, flushes).
    /// The folder's listing, the reading of the rows, the old-files folder's creation and the
    /// check that a name there is free, the sweep of stale copies and the error log go to the
    /// system directly.
    fs::FileOps& m_ops;
    std::function<void(CommitPoint)> m_commitPoint;
    bool m_errorLogReported = false; // the error log's failure is told once
    ImportMoves m_moves;
};

} // namespace zs::engine
