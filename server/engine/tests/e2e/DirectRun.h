#pragma once
// The engine's procedures over a real database in the test's own process: a connection slot
// that opens the connection string the test names and logs its lines as the program's
// procedures do (the error texts kept), over a fake clock whose retry waits never sleep.

#include "db/Connection.h"
#include "engine/DbEngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/RunState.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zs::engine::test {

struct DirectRun {
    /// `serverType` picks the engine's path ("sqlserver": asynchronous statements; "access").
    DirectRun(std::string connectionString, const std::string& serverType)
        : dayLog(env.home(), time::systemClock())
        , log(dayLog)
        , backend(slot(std::move(connectionString)))
        , ctx{settings, log, state, yield, clock, [this](int ms) { clock.advanceMs(ms); }, backend}
    {
        settings.TipoServer = program::parseServerType(serverType);
        settings.TimeoutComandi = 3600;
    }

    zs::test::ScopedTestEnv env;
    time::FakeClock clock; // the retry waits move this clock instead of sleeping
    program::DayLog dayLog;
    program::ProgramLog log;
    program::ProgramSettings settings;
    RunState state;
    zs::test::CountingYield yield;
    std::unique_ptr<db::Connection> connection;
    DbEngineBackend backend;
    EngineContext ctx;
    std::vector<std::string> errors; ///< every text given to DescriviErrore
    int opens = 0;                   ///< connections opened

  private:
    DbEngineBackend::Slot slot(std::string connectionString)
    {
        DbEngineBackend::Slot s;
        s.open = [this, cs = std::move(connectionString)] {
            ++opens;
            connection = std::make_unique<db::Connection>();
            return connection->open(cs);
        };
        s.close = [this] { connection.reset(); };
        s.connection = [this] { return connection.get(); };
        s.inizioPasso = [this](const std::string& t) { return log.OutputResponse(t, false, 0); };
        s.dettaglioPasso = [this](const std::string& t) { return log.OutputResponse(t, false, 1); };
        s.logSuccesso = [](bool) {};
        s.descriviErrore = [this](const std::string& t) {
            errors.push_back(t);
            log.OutputResponse(t, true, 1);
        };
        return s;
    }
};

} // namespace zs::engine::test
