#pragma once
// The IMPORTXML step: loads every XML data file of a folder into the target database through
// an annotated mapping schema (elements mapped to tables by sql:relation, attributes and
// child elements to columns by sql:field), one transaction per file, and moves each file that
// went in to the old-files folder, so the next run finds only new files. Used by EngineSteps.

#include <filesystem>
#include <functional>
#include <map>
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
namespace zs::shell {
class MessageService;
class ProgramLog;
} // namespace zs::shell

namespace zs::engine {

/// The subset of an annotated XSD mapping schema the import understands.
struct XmlMapping {
    struct Field {
        std::string name;   ///< attribute or child element (local name)
        std::string column; ///< sql:field, else the name
        bool attribute = false;
    };
    struct Relation {
        std::string table; ///< sql:relation, else the element's name
        std::vector<Field> fields;
    };
    /// By element local name; only elements that map to a table are here.
    std::map<std::string, Relation> relations;

    /// Reads a schema file. False with a reason when it cannot be read or maps nothing.
    bool load(const std::filesystem::path& schema, std::string& reason);
};

class ImportXml {
  public:
    ImportXml(shell::ProgramLog& log, shell::MessageService& messages, const time::Clock& clock,
              std::filesystem::path programFolder, std::function<db::Connection*()> connection);

    /// Reads path, oldpath and schema from the step element and imports. False when a file was
    /// rejected or the import could not run (a failed import never counts as success).
    bool ImportXmlStep(const xml::Element& step);
    bool ImportXmlBulkLoad(const std::string& path, const std::string& schema, std::string oldpath);

    /// The bulk load's error file of today: <program folder>/log/yymmddx.log.
    std::filesystem::path errorLogFile() const;

  private:
    /// Loads one data file in one transaction. False with the reason when it was rejected.
    bool loadFile(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& file, std::string& reason);
    void handledError(const std::string& description);

    shell::ProgramLog& m_log;
    shell::MessageService& m_messages;
    const time::Clock& m_clock;
    std::filesystem::path m_programFolder;
    std::function<db::Connection*()> m_connection;
};

} // namespace zs::engine
