#include "engine/Compattazione.h"

#include "db/Connection.h"
#include "engine/EngineStrings.h"
#include "fs/Paths.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "text/SystemReason.h"

#include <filesystem>
#include <system_error>

namespace zs::engine {
namespace {
// SQLite's primary result codes for a database another connection holds.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
} // namespace

Compattazione::Compattazione(program::ProgramLog& log, const program::ProgramSettings& settings,
                             program::YieldHook& yield,
                             std::function<bool(const std::string&, const std::string&)> askRetry)
    : m_log(log)
    , m_settings(settings)
    , m_yield(yield)
    , m_askRetry(std::move(askRetry))
{}

std::string Compattazione::percorsoTemporaneo(const std::string& path)
{
    return replaceAll(path, ".mdb", ".temp");
}

void Compattazione::fail(const std::string& text)
{
    // The run log writes its line to the day log as well: one line each.
    m_log.OutputResponse(text, true, 1);
}

bool Compattazione::CompattaDatabase(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // A leftover of the old delete-and-rename compaction is removed, but never when the rule
    // would name the database itself (a path without ".mdb").
    const std::string temp = percorsoTemporaneo(path);
    if (temp != path) {
        const fs::path leftover = zs::fs::resolveCaseInsensitive(zs::fs::fromWindows(temp));
        if (fs::is_regular_file(leftover, ec) && !fs::remove(leftover, ec))
            m_log.WriteInLog("Impossibile eliminare il file temporaneo " + temp + ": " + text::systemReason(ec), true,
                             false);
    }

    const fs::path file = zs::fs::resolveCaseInsensitive(zs::fs::fromWindows(path));
    if (!fs::is_regular_file(file, ec)) {
        fail("Compattazione non eseguita: il database " + path + " non esiste");
        return false;
    }
    for (;;) {
        db::Connection c;
        if (c.open("Data Source=" + file.string() + ";")) {
            c.setCommandTimeout(m_settings.TimeoutComandi);
            if (c.execute("VACUUM")) {
                m_yield.yield();
                return true;
            }
        }
        const std::string description = c.errors().empty() ? std::string() : c.errors().front().description;
        // A database another connection holds: ask, as for a file opened exclusively elsewhere.
        const int code = c.errors().empty() ? 0 : (c.errors().front().nativeError & 0xff);
        if ((code == kSqliteBusy || code == kSqliteLocked) && m_askRetry &&
            m_askRetry(description + "\r\nVuoi riprovare?", "Attenzione.")) {
            m_yield.yield();
            continue;
        }
        fail("Compattazione del database " + path + " non riuscita: " + description);
        return false;
    }
}

} // namespace zs::engine
