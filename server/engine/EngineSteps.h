#pragma once
// The engine's own special steps behind the EngineHost port: COMPATTA (Compattazione),
// IMPORTXML (ImportXml), EXECUTEDTS (DtsPackage) and IMPORTEMAIL (MailOrdini). The program's
// host delegates those four to an instance of this class; zs-extract derives its host from it,
// adding Bus & Task and cube processing, with the progress bar left unconnected.

#include "engine/EngineHost.h"
#include "engine/MailOrdini.h"

#include <filesystem>
#include <functional>
#include <string>

namespace zs::db {
class Connection;
}
namespace zs::program {
class MessageService;
class YieldHook;
struct ProgramSettings;
} // namespace zs::program
namespace zs::time {
class Clock;
}

namespace zs::engine {

class EngineSteps : public UnconnectedEngineHost {
  public:
    struct Dependencies {
        program::ProgramLog& log;
        const program::ProgramSettings& settings;
        program::MessageService& messages;
        program::YieldHook& yield;
        const time::Clock& clock;
        std::filesystem::path programFolder;
        /// The step's connection (the engine's slot, Connessione); none between steps.
        std::function<db::Connection*()> connection;
        /// The mail settings, read afresh for every mail.
        std::function<OrderMailSettings()> mailSettings;
        OrderMailer& mailer;
        /// Asks "…Vuoi riprovare?" with Retry and Cancel; true for Retry. Optional.
        std::function<bool(const std::string& text, const std::string& title)> askRetry = {};
        /// Whether the operator pressed Stop (read by the steps that loop, between their items).
        std::function<bool()> stopRequested = {};
    };

    /// Registers the linked-table module, so every SQLite connection opened afterwards reads links.
    explicit EngineSteps(Dependencies deps);

    bool CompattaDatabase(const std::string& file) override;
    bool ImportXmlStep(const xml::Element& step) override;
    bool MailOrdersStep(const xml::Element& step) override;
    bool ExecuteDtsStep(const xml::Element& step) override;

  private:
    Dependencies m_deps;
};

} // namespace zs::engine
