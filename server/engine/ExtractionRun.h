#pragma once
// The extraction run: walks the loading XML's steps, and for every step ticked in the step
// tree opens a connection, empties the table and resets its counter as the step says, runs its
// jobs or its special operation, keeps the incremental watermark, times it into the run
// statistics and logs every stage. It ends at the first failed step, on a stop, or after the
// last step, and then saves stat.xml.

#include <filesystem>
#include <string>

namespace zs::xml {
class Element;
}
namespace zs::program {
class MessageService;
}

namespace zs::engine {

struct EngineContext;
struct Incremental;
struct StepDefinition;
class RunStatistics;
class TableOperations;
class EngineHost;
class StepTree;

class ExtractionRun {
  public:
    /// `programFolder` holds stat.xml; `messages` shows a stat.xml that does not parse.
    ExtractionRun(const EngineContext& context, EngineHost& host, std::filesystem::path programFolder,
                  program::MessageService& messages);

    /// True when every ticked step ran and succeeded; false when a step failed, a connection
    /// could not be opened, the run was stopped (between steps too), or no step ran. The caller closes the connection
    /// slot afterwards.
    bool EseguiEstrazione(const StepTree& tree, const xml::Element& root);

  private:
    bool connect();
    /// Runs one ticked step from its step line to its success line.
    bool runStep(const StepTree& tree, const StepDefinition& step, int& stepCounter, RunStatistics& stats);
    void markDone(unsigned long long node, bool ok);
    /// The step's incremental watermark as a literal for its SQL; false when it is not valid.
    bool readWatermark(const Incremental& inc, std::string& watermark);
    /// Empties the table and resets its counter as the step says.
    bool prepareTable(const StepDefinition& step, const std::string& watermark, TableOperations& ops, bool success);
    static bool isSpecialTable(const std::string& table);
    bool runSpecialStep(const StepDefinition& step);
    const std::string* firstJob(const StepDefinition& step);
    bool runBusAndTask(const StepDefinition& step);
    bool runJobs(const StepTree& tree, const StepDefinition& step, const std::string& watermark, bool staging,
                 TableOperations& ops, bool success);
    void keepWatermark(const StepDefinition& step, TableOperations& ops);

    const EngineContext& m_ctx;
    EngineHost& m_host;
    std::filesystem::path m_programFolder;
    program::MessageService& m_messages;
};

} // namespace zs::engine
