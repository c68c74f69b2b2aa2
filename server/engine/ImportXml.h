#pragma once
// The IMPORTXML step: loads every XML data file of a folder into the target database through
// an annotated mapping schema (elements mapped to tables by sql:relation, attributes and
// child elements to columns by sql:field, child rows keyed to their parent by
// sql:relationship), one transaction per file, reading each file as a stream and writing its
// rows in batches, and moves each file that went in to the old-files folder (across file
// systems by copy, flush and remove), so the next run finds only new files. Used by EngineSteps.

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace zs::db {
class Connection;
}
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

/// The annotated XSD mapping schema, as far as the import understands it: element
/// declarations mapped to tables (sql:relation), attributes and simple child elements to
/// columns (sql:field, sql:mapped), nested element declarations, parent/child relationships
/// (sql:relationship naming a relationship declared in an annotation, which fills the child's
/// key columns from its parent's row) and the parent's key fields (sql:key-fields). Any other
/// annotation, and any schema construct that would leave data unmapped without saying so, is
/// refused by name when the schema is loaded.
struct XmlMapping {
    struct Field {
        std::string name;   ///< attribute or child element (local name)
        std::string column; ///< sql:field, else the name
        bool attribute = false;
        std::size_t slot = 0; ///< index into Node::columns
    };
    struct Node {
        std::string name;                 ///< element local name
        std::string table;                ///< empty: a container, not a row
        std::vector<std::string> columns; ///< every column a row of this node sets
        std::vector<Field> fields;
        std::vector<std::size_t> children; ///< nested element nodes
        /// Filled from the parent row: (parent's slot, this node's slot) pairs.
        std::vector<std::pair<std::size_t, std::size_t>> link;
        std::string relationship; ///< the relationship's name, for messages
    };
    std::vector<Node> nodes;
    std::vector<std::size_t> roots; ///< the schema's global element declarations

    /// Reads a schema file. False with a reason when it cannot be read, maps nothing, or uses an
    /// annotation or construct the import does not support.
    bool load(const std::filesystem::path& schema, std::string& reason);
};

class ImportXml {
  public:
    ImportXml(program::ProgramLog& log, program::MessageService& messages, const time::Clock& clock,
              std::filesystem::path programFolder, std::function<db::Connection*()> connection);

    /// Reads path, oldpath and schema from the step element and imports. False when a file was
    /// rejected or the import could not run (a failed import never counts as success).
    bool ImportXmlStep(const xml::Element& step);
    bool ImportXmlBulkLoad(const std::string& path, const std::string& schema, std::string oldpath);

    /// The bulk load's error file of today: <program folder>/log/yymmddx.log.
    std::filesystem::path errorLogFile() const;

    /// The points of one file's way from its rows to the old-files folder, in order (Copied and
    /// Placed only when that folder is on another file system).
    enum class CommitPoint { RowsWritten, Recorded, Copied, Committed, Placed, Moved, Done };
    /// Called at each point as it is passed: crash tests stop the process there.
    void setCommitPointHook(std::function<void(CommitPoint)> hook) { m_commitPoint = std::move(hook); }

  private:
    /// Loads one data file in one transaction, reading it as a stream. False with the reason
    /// when it was rejected (nothing of it stays in the database).
    bool loadFile(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& file, std::string& reason);
    /// One queued file's way: its rows, its record, the commit and its move. False when the file
    /// was rejected or could not move.
    bool importFile(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& folder,
                    const std::filesystem::path& old, const std::filesystem::path& file);
    /// Opens the file's transaction, loads its rows and records the file, all not yet committed.
    bool loadAndRecord(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& folder,
                       const std::filesystem::path& file, const std::string& begin, std::string& reason);
    /// Undoes a file's rows and reports the file rejected.
    void rejectFile(db::Connection& c, const std::filesystem::path& file, const std::string& begin,
                    const std::string& reason);
    /// What can stop the file's move, tried before the commit: the old-files folder, a free name
    /// there and (on another file system) the flushed `copy`. False with `why`.
    bool readyToMove(const std::filesystem::path& file, const std::filesystem::path& old, std::filesystem::path& copy,
                     std::string& why);
    void moveFailed(const std::filesystem::path& file, const std::filesystem::path& old, const std::string& why);
    void handledError(const std::string& description);
    /// Finishes what a crash left between a commit and the file's move: a queued file recorded
    /// as loaded is moved without loading it again (and joins `loaded`); a record whose file
    /// left the queue is dropped. False (with `reason`) when the records cannot be read.
    bool reconcile(db::Connection& c, const std::filesystem::path& folder, const std::filesystem::path& old,
                   std::set<std::string>& loaded, bool& ok, std::string& reason);
    /// Puts `file` (or its flushed `copy` on the old folder's file system) into `old`, never over
    /// another file, and removes the original.
    bool completeMove(const std::filesystem::path& file, const std::filesystem::path& old,
                      const std::filesystem::path& copy, std::string& why);
    void reached(CommitPoint point);

    program::ProgramLog& m_log;
    program::MessageService& m_messages;
    const time::Clock& m_clock;
    std::filesystem::path m_programFolder;
    std::function<db::Connection*()> m_connection;
    std::function<void(CommitPoint)> m_commitPoint;
    bool m_errorLogReported = false; // the error log's failure is told once
};

} // namespace zs::engine
