#pragma once
// The special steps that the extraction run hands to other parts of the program: the Bus &
// Task call of the options dialog, cube processing of the run window, Access compaction, XML
// bulk import, order mails and DTS packages, and the run window's progress bar. The server
// program implements this over its windows and modules; UnconnectedEngineHost stands in for
// the targets a build does not have yet.

#include <string>

namespace zs::xml {
class Element;
}
namespace zs::program {
class ProgramLog;
}

namespace zs::engine {

class EngineHost {
  public:
    virtual ~EngineHost() = default;
    virtual void UpdateProgressBar(int step) = 0;
    /// Runs `task` with one parameter list; `ok` tells whether the task ran.
    virtual void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) = 0;
    /// Compacts the Access file; the connection slot is already closed. False when the
    /// compaction failed (it has logged why), which fails the step.
    virtual bool CompattaDatabase(const std::string& file) = 0;
    /// Processes the cubes; `ok` false when one failed.
    virtual void Elaborazione(bool& ok) = 0;
    virtual bool ImportXmlStep(const xml::Element& step) = 0;
    virtual bool MailOrdersStep(const xml::Element& step) = 0;
    virtual bool ExecuteDtsStep(const xml::Element& step) = 0;
};

/// A host whose special steps are not available: each logs that it could not run and fails,
/// so an extraction that needs one never reports success.
class UnconnectedEngineHost : public EngineHost {
  public:
    explicit UnconnectedEngineHost(program::ProgramLog& log)
        : m_log(log)
    {}
    void UpdateProgressBar(int) override {}
    void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) override;
    bool CompattaDatabase(const std::string& file) override;
    void Elaborazione(bool& ok) override;
    bool ImportXmlStep(const xml::Element& step) override;
    bool MailOrdersStep(const xml::Element& step) override;
    bool ExecuteDtsStep(const xml::Element& step) override;

  private:
    void unavailable(const std::string& what);
    program::ProgramLog& m_log;
};

} // namespace zs::engine
