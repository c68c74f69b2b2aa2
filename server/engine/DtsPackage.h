#pragma once
// The EXECUTEDTS step over the package store of the target database: a package is a named,
// ordered list of SQL steps kept in the table DtsPackageSteps (PackageName, StepOrder,
// StepName, StepSql). Every step runs in order on the step's connection; the outcome of each
// goes to the day log ("Step "x" Succeeded" / the failure block) and a failed one to a
// message box. Used by EngineSteps.

#include <functional>
#include <string>

namespace zs::db {
class Connection;
}
namespace zs::xml {
class Element;
}
namespace zs::program {
class MessageService;
class ProgramLog;
} // namespace zs::program

namespace zs::engine {

class DtsPackage {
  public:
    static constexpr const char* kStoreTable = "DtsPackageSteps";

    DtsPackage(program::ProgramLog& log, program::MessageService& messages,
               std::function<db::Connection*()> connection);

    /// Reads packagename (server, username and password are read and not used: the package
    /// store is the target database) and runs the package. False when the package could not be
    /// loaded or one of its steps failed.
    bool ExecuteDtsStep(const xml::Element& step);
    bool ExecuteDtsPackage(const std::string& server, const std::string& userName, const std::string& password,
                           const std::string& packageName);

    /// The statement that creates the store (tests and the database builder's users).
    static std::string createStoreSql();

  private:
    void failureB(const std::string& source, const std::string& report);

    program::ProgramLog& m_log;
    program::MessageService& m_messages;
    std::function<db::Connection*()> m_connection;
};

} // namespace zs::engine
