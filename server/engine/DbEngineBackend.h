#pragma once
// The engine's port over the database layer: statements, polling, cancel and the row writer go
// to the db::Connection that the engine's connection slot holds; opening and closing the slot,
// the step log lines and the error text go to the engine's connection procedures, bound in
// through `Slot` so that this file does not fix their shape.

#include "engine/EngineBackend.h"

#include <functional>

namespace zs::db {
class Connection;
}
namespace zs::program {
struct ProgramSettings;
}

namespace zs::engine {

class DbEngineBackend : public EngineBackend {
  public:
    struct Slot {
        std::function<bool()> open;                  ///< ApriConnessioneServer or ApriConnessione
        std::function<void()> close;                 ///< ChiudiConnessioni or ChiudiConnessione
        std::function<db::Connection*()> connection; ///< the connection in the slot, or none
        std::function<program::LogNodeId(const std::string&)> inizioPasso;
        std::function<program::LogNodeId(const std::string&)> dettaglioPasso;
        std::function<void(bool)> logSuccesso;
        std::function<void(const std::string&)> descriviErrore;
        std::function<void(const std::string&, const RunTimeError&)> descriviErroreCorrente;
    };

    explicit DbEngineBackend(Slot slot)
        : m_slot(std::move(slot))
    {}

    bool open() override;
    bool openRefusedForGood() const override { return m_openRefusedForGood; }
    void close() override { m_slot.close(); }
    void setCommandTimeout(int seconds) override;
    bool execute(const std::string& sql, ExecuteMode mode) override;
    bool isExecuting() override;
    void waitForCompletion(int ms) override;
    void cancel() override;
    bool finishStatement() override;
    FailureKind lastFailure() const override { return m_failure; }
    bool queryValue(const std::string& sql, SqlValue& value) override;
    db::Dialect dialect() const override;
    void rollback() override;
    std::unique_ptr<RowSink> openRowSink(const std::string& source, std::span<const std::string> columns) override;
    program::LogNodeId InizioPasso(const std::string& text) override { return m_slot.inizioPasso(text); }
    program::LogNodeId DettaglioPasso(const std::string& text) override { return m_slot.dettaglioPasso(text); }
    void LogSuccesso(bool success) override { m_slot.logSuccesso(success); }
    void DescriviErrore(const std::string& firstLine) override { m_slot.descriviErrore(firstLine); }
    void DescriviErrore(const std::string& firstLine, const RunTimeError& current) override
    {
        m_slot.descriviErroreCorrente(firstLine, current);
    }

  private:
    bool noteOutcome(bool ok);
    db::Connection* connection() const { return m_slot.connection ? m_slot.connection() : nullptr; }

    Slot m_slot;
    FailureKind m_failure = FailureKind::None;
    bool m_openRefusedForGood = false;
};

class Connessioni;

/// The slot over the engine's connection procedures: the server or the Access open and close
/// as the server type says, the step lines and the error text of `connessioni`.
DbEngineBackend::Slot connessioniSlot(Connessioni& connessioni, const program::ProgramSettings& settings);

} // namespace zs::engine
