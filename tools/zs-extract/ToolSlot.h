#pragma once
// The connection slot and step lines the driver runs the engine with: one db::Connection
// opened per step from the settings' connection values, log lines through the program log.

#include "engine/DbEngineBackend.h"

#include <memory>

namespace zs::db {
class Connection;
}
namespace zs::shell {
class ProgramLog;
class SettingsStore;
struct ProgramSettings;
}
namespace zs::time {
class Clock;
}

namespace zs::tools {

class ToolSlot {
public:
    ToolSlot(const shell::ProgramSettings& settings, const shell::SettingsStore& store, shell::ProgramLog& log,
             const time::Clock& clock);
    ~ToolSlot();
    engine::DbEngineBackend::Slot slot();
    void close();

private:
    bool open();
    std::string connectionString() const;
    void describe(const std::string& firstLine);
    shell::LogNodeId stepLine(const std::string& text);
    void success(bool ok);

    const shell::ProgramSettings& m_settings;
    const shell::SettingsStore& m_store;
    shell::ProgramLog& m_log;
    const time::Clock& m_clock;
    std::unique_ptr<db::Connection> m_connection;
    std::int64_t m_stepStart = 0;
};

} // namespace zs::tools
