#include "ToolSlot.h"

#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "engine/EngineStrings.h"
#include "shell/ProgramLog.h"
#include "shell/ProgramSettings.h"
#include "shell/SettingsStore.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace zs::tools {

ToolSlot::ToolSlot(const shell::ProgramSettings& settings, const shell::SettingsStore& store, shell::ProgramLog& log,
                   const time::Clock& clock)
    : m_settings(settings), m_store(store), m_log(log), m_clock(clock)
{
}

ToolSlot::~ToolSlot() = default;

engine::DbEngineBackend::Slot ToolSlot::slot()
{
    engine::DbEngineBackend::Slot s;
    s.open = [this] { return open(); };
    s.close = [this] { close(); };
    s.connection = [this] { return m_connection.get(); };
    s.inizioPasso = [this](const std::string& t) { return stepLine(t); };
    s.dettaglioPasso = [this](const std::string& t) { return m_log.OutputResponse(t, false, 1); };
    s.logSuccesso = [this](bool ok) { success(ok); };
    s.descriviErrore = [this](const std::string& t) { describe(t); };
    return s;
}

std::string ToolSlot::connectionString() const
{
    if (!engine::isServerType(m_settings.TipoServer))
        return m_settings.ProviderAccess + m_settings.PercorsoAccess + ";";
    // The server template: server, database, user and password appended to items 1 to 4.
    std::vector<std::string> items = engine::split(m_settings.ProviderServer, ';');
    if (items.size() < 5)
        return m_settings.ProviderServer;
    items[1] += m_settings.NomeServer;
    items[2] += m_settings.NomeDatabase;
    items[3] += m_settings.UtenteServer;
    items[4] += m_settings.PasswordServer;
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ";" : "") + items[i];
    return out;
}

bool ToolSlot::open()
{
    const std::string pause = m_store.LeggiTesto("pause");
    if (const auto ms = text::parseNumber(pause); ms && *ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(*ms)));
    m_connection = std::make_unique<db::Connection>();
    const std::string cs = connectionString();
    if (!m_connection->open(cs)) {
        describe("Impossibile aprire la connessione:" + db::maskPasswords(cs));
        return false;
    }
    m_log.WriteInLog("Apertura connessione:" + m_connection->reportedConnectionString(), false, false);
    return true;
}

void ToolSlot::close() { m_connection.reset(); }

void ToolSlot::describe(const std::string& firstLine)
{
    m_log.OutputResponse(firstLine, true, 1);
    if (!m_connection)
        return;
    for (const db::Error& e : m_connection->errors()) {
        char number[16];
        std::snprintf(number, sizeof number, "%X", static_cast<unsigned>(e.number));
        m_log.OutputResponse(std::string(" [") + number + "] " + e.description + "." + e.source, true, 1);
    }
}

shell::LogNodeId ToolSlot::stepLine(const std::string& text)
{
    const shell::LogNodeId id = m_log.OutputResponse(text, false, 0);
    m_stepStart = m_clock.tickMs();
    return id;
}

void ToolSlot::success(bool ok)
{
    if (!ok)
        return;
    const double seconds = static_cast<double>(m_clock.tickMs() - m_stepStart) / 1000.0;
    const long minutes = static_cast<long>(seconds / 60);
    const double rest = std::round((seconds - static_cast<double>(minutes) * 60) * 1000) / 1000;
    const std::string time =
        minutes > 0 ? std::to_string(minutes) + " minuti e " + text::formatNumber(rest) : text::formatNumber(rest);
    const shell::LogNodeId id = m_log.OutputResponse("eseguito con successo in " + time + " secondi.", false, 1);
    m_log.setImage(id, shell::LogImage::Start);
}

} // namespace zs::tools
