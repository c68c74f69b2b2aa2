#pragma once
// Test doubles of the engine's seams: a backend that records every statement and plays back
// scripted failures, a yield hook that can press stop or pause, and an engine context over a
// fake clock whose sleeps move the clock instead of blocking.

#include "db/Connection.h"
#include "engine/EngineBackend.h"
#include "engine/EngineContext.h"
#include "engine/RunState.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zs::engine::test {

using FakeYield = zs::test::CountingYield;

class RecordingBackend : public EngineBackend {
  public:
    explicit RecordingBackend(program::ProgramLog& log)
        : m_log(log)
    {}

    struct Rule {
        std::string contains; ///< statements holding this text fail…
        FailureKind kind = FailureKind::Rejected;
        int times = 1000; ///< …this many times
    };

    bool open() override
    {
        calls.push_back("open");
        ++opens;
        if (!openResults.empty()) {
            const bool r = openResults.front();
            openResults.pop_front();
            return r;
        }
        return true;
    }
    void close() override { calls.push_back("close"); }
    void setCommandTimeout(int seconds) override { timeout = seconds; }
    bool execute(const std::string& sql, ExecuteMode mode) override
    {
        statements.push_back(sql);
        modes.push_back(mode);
        calls.push_back("exec:" + sql);
        m_failure = FailureKind::None;
        for (Rule& r : rules) {
            if (r.times > 0 && sql.find(r.contains) != std::string::npos) {
                --r.times;
                m_pendingFailure = r.kind;
                if (mode == ExecuteMode::Sync || !failLate) {
                    m_failure = r.kind;
                    m_pendingFailure = FailureKind::None;
                    return false;
                }
            }
        }
        m_running = mode == ExecuteMode::Async ? asyncPolls : 0;
        return true;
    }
    bool isExecuting() override { return m_running > 0 || (clock && clock->tickMs() < runUntilMs); }
    void waitForCompletion(int ms) override
    {
        waits.push_back(ms);
        if (clock)
            clock->advanceMs(statementMsPerWait ? std::min(ms, statementMsPerWait) : ms);
        if (m_running > 0)
            --m_running;
    }
    void cancel() override
    {
        calls.push_back("cancel");
        ++cancels;
        m_running = 0;
        runUntilMs = 0;
        m_pendingFailure = FailureKind::Cancelled;
    }
    bool finishStatement() override
    {
        m_failure = m_pendingFailure;
        m_pendingFailure = FailureKind::None;
        return m_failure == FailureKind::None;
    }
    FailureKind lastFailure() const override { return m_failure; }
    bool queryValue(const std::string& sql, SqlValue& value) override
    {
        statements.push_back(sql);
        calls.push_back("query:" + sql);
        for (Rule& r : rules)
            if (r.times > 0 && sql.find(r.contains) != std::string::npos) {
                --r.times;
                m_failure = r.kind;
                return false;
            }
        value = maxValue;
        return true;
    }
    class Sink : public RowSink {
      public:
        explicit Sink(RecordingBackend& b)
            : m_b(b)
        {}
        bool addRow(std::span<const SqlValue> values) override
        {
            if (m_b.failRowAfter >= 0 && static_cast<int>(m_b.rows.size()) >= m_b.failRowAfter)
                return false;
            m_b.rows.emplace_back(values.begin(), values.end());
            return true;
        }

      private:
        RecordingBackend& m_b;
    };
    std::unique_ptr<RowSink> openRowSink(const std::string& source, std::span<const std::string>) override
    {
        calls.push_back("rows:" + source);
        return std::make_unique<Sink>(*this);
    }
    program::LogNodeId InizioPasso(const std::string& text) override
    {
        calls.push_back("step:" + text);
        return m_log.OutputResponse(text, false, 0);
    }
    program::LogNodeId DettaglioPasso(const std::string& text) override { return m_log.OutputResponse(text, false, 1); }
    void LogSuccesso(bool success) override
    {
        calls.push_back(success ? "success" : "nosuccess");
        if (success)
            m_log.OutputResponse("eseguito con successo in 0 secondi.", false, 1);
    }
    void DescriviErrore(const std::string& firstLine) override
    {
        errors.push_back(firstLine);
        m_log.OutputResponse(firstLine, true, 1);
    }
    void DescriviErrore(const std::string& firstLine, const RunTimeError& current) override
    {
        DescriviErrore(firstLine);
        runTimeErrors.push_back(current);
    }

    std::vector<std::string> statements;
    std::vector<ExecuteMode> modes;
    std::vector<std::string> calls;
    std::vector<std::string> errors;
    std::vector<RunTimeError> runTimeErrors; ///< the run-time errors reported with them
    std::vector<int> waits;
    std::vector<std::vector<SqlValue>> rows;
    std::vector<Rule> rules;
    std::deque<bool> openResults;
    bool refusedForGood = false; ///< a failed open says no new try can do better
    bool openRefusedForGood() const override { return refusedForGood; }
    db::Dialect target = db::Dialect::None; ///< the kind of database the double answers as
    db::Dialect dialect() const override { return target; }
    SqlValue maxValue;
    std::int64_t runUntilMs = 0; ///< an async statement also runs until the clock reaches this
    int asyncPolls = 0;          ///< how many polls an async statement stays running
    bool failLate = false;       ///< async failures show when the statement ends, not at its start
    int failRowAfter = -1;
    int statementMsPerWait = 0;
    int opens = 0;
    int cancels = 0;
    int timeout = 0;
    time::FakeClock* clock = nullptr;

  private:
    program::ProgramLog& m_log;
    FailureKind m_failure = FailureKind::None;
    FailureKind m_pendingFailure = FailureKind::None;
    int m_running = 0;
};

/// A complete engine context over doubles, in a temporary program folder.
struct EngineFixture {
    explicit EngineFixture(std::string tipoServer = "access")
        : env()
        , dayLog(env.home(), clock)
        , log(dayLog)
        , db(log)
        , ctx{settings, log, state, yield, clock, [this](int ms) { clock.advanceMs(ms); }, db}
    {
        settings.TipoServer = program::parseServerType(tipoServer);
        db.clock = &clock;
    }
    zs::test::ScopedTestEnv env;
    time::FakeClock clock;
    program::DayLog dayLog;
    program::ProgramLog log;
    RecordingBackend db;
    program::ProgramSettings settings;
    RunState state;
    FakeYield yield;
    EngineContext ctx;

    std::vector<std::string> logTexts() const
    {
        std::vector<std::string> out;
        for (const auto& n : log.nodes())
            out.push_back(n.text);
        return out;
    }
};

} // namespace zs::engine::test
