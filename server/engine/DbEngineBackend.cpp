#include "engine/DbEngineBackend.h"

#include "db/Connection.h"
#include "db/Value.h"
#include "engine/Connessioni.h"
#include "engine/EngineStrings.h"
#include "program/ProgramSettings.h"

#include <chrono>
#include <string_view>
#include <vector>

namespace zs::engine {

namespace {

FailureKind failureOf(const db::Connection& c)
{
    switch (c.lastErrorClass()) {
    case db::ErrorClass::None:
        return FailureKind::None;
    case db::ErrorClass::ConnectionLost:
        return FailureKind::ConnectionLost;
    case db::ErrorClass::Timeout:
        return FailureKind::TimedOut;
    case db::ErrorClass::Cancelled:
        return FailureKind::Cancelled;
    case db::ErrorClass::Internal:
        // A fault of the program: neither a reconnection nor another form of the statement cures it.
        return FailureKind::Internal;
    default:
        // A statement on a connection that never opened, a refused statement, a bad value:
        // none of them is cured by waiting and reconnecting.
        return FailureKind::Rejected;
    }
}

SqlValue toSqlValue(const db::Value& v)
{
    switch (v.type()) {
    case db::Value::Type::Null:
        return std::monostate{};
    case db::Value::Type::Integer:
    case db::Value::Type::Boolean:
        return v.toInt().value_or(0);
    case db::Value::Type::Double:
        return v.toDouble().value_or(0.0);
    case db::Value::Type::DateTime:
        return v.toDateTime().value_or(time::DateTime{});
    case db::Value::Type::Text:
        return *v.text();
    }
    return std::monostate{};
}

db::Value toDbValue(const SqlValue& v)
{
    return std::visit(
        [](const auto& x) -> db::Value {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>)
                return db::Value();
            else
                return db::Value(x);
        },
        v);
}

class DbRowSink : public RowSink {
  public:
    DbRowSink(db::RowWriter writer, std::vector<std::string> columns)
        : m_writer(std::move(writer))
        , m_columns(std::move(columns))
    {}
    bool addRow(std::span<const SqlValue> values) override
    {
        m_writer.addNew();
        for (std::size_t i = 0; i < values.size() && i < m_columns.size(); ++i)
            if (!m_writer.set(m_columns[i], toDbValue(values[i])))
                return false;
        return m_writer.update();
    }

  private:
    db::RowWriter m_writer;
    std::vector<std::string> m_columns;
};

} // namespace

bool DbEngineBackend::open()
{
    const bool ok = m_slot.open();
    // The failed connection stays in the slot: its errors say whether another try could do better.
    const db::Connection* c = ok ? nullptr : connection();
    m_openRefusedForGood = c && !c->errors().empty() && c->errors().front().lasting;
    return ok;
}

bool DbEngineBackend::noteOutcome(bool ok)
{
    db::Connection* c = connection();
    m_failure = ok ? FailureKind::None : (c ? failureOf(*c) : FailureKind::Rejected);
    return ok;
}

void DbEngineBackend::setCommandTimeout(int seconds)
{
    if (db::Connection* c = connection())
        c->setCommandTimeout(seconds);
}

bool DbEngineBackend::execute(const std::string& sql, ExecuteMode mode)
{
    db::Connection* c = connection();
    if (!c)
        return noteOutcome(false);
    return noteOutcome(mode == ExecuteMode::Async ? c->executeAsync(sql) : c->execute(sql));
}

bool DbEngineBackend::isExecuting()
{
    db::Connection* c = connection();
    return c && c->isExecuting();
}

void DbEngineBackend::waitForCompletion(int ms)
{
    if (db::Connection* c = connection())
        c->waitFor(std::chrono::milliseconds(ms));
}

void DbEngineBackend::cancel()
{
    if (db::Connection* c = connection())
        c->cancel();
}

bool DbEngineBackend::finishStatement()
{
    db::Connection* c = connection();
    return noteOutcome(c && c->endExecute());
}

db::Dialect DbEngineBackend::dialect() const
{
    const db::Connection* c = connection();
    return c && c->isOpen() ? c->dialect() : db::Dialect::None;
}

void DbEngineBackend::rollback()
{
    db::Connection* c = connection();
    if (!c || !c->isOpen())
        return;
    // "no transaction is active" when the failure has rolled it back already: not a failure of
    // the step's, and not a detail of the next error line.
    (void)c->execute("ROLLBACK");
    c->clearErrors();
}

bool DbEngineBackend::queryValue(const std::string& sql, SqlValue& value)
{
    db::Connection* c = connection();
    if (!c)
        return noteOutcome(false);
    std::optional<db::RecordSet> rs = c->query(sql);
    if (!rs)
        return noteOutcome(false);
    value = rs->eof() ? SqlValue{} : toSqlValue(rs->value(std::size_t{0}));
    return noteOutcome(true);
}

std::unique_ptr<RowSink> DbEngineBackend::openRowSink(const std::string& source, std::span<const std::string> columns)
{
    db::Connection* c = connection();
    if (!c) {
        noteOutcome(false);
        return nullptr;
    }
    std::optional<db::RowWriter> writer = c->openRowWriter(source);
    if (!writer) {
        noteOutcome(false);
        return nullptr;
    }
    noteOutcome(true);
    return std::make_unique<DbRowSink>(std::move(*writer), std::vector<std::string>(columns.begin(), columns.end()));
}

DbEngineBackend::Slot connessioniSlot(Connessioni& c, const program::ProgramSettings& settings)
{
    DbEngineBackend::Slot s;
    s.open = [&c, &settings] {
        if (program::runsOnServer(settings.TipoServer))
            return c.ApriConnessioneServer(settings.ProviderServer, settings.NomeServer, settings.NomeDatabase,
                                           settings.UtenteServer, settings.PasswordServer);
        return c.ApriConnessione(settings.ProviderAccess, settings.PercorsoAccess);
    };
    s.close = [&c, &settings] {
        if (program::runsOnServer(settings.TipoServer))
            c.ChiudiConnessioni();
        else
            c.ChiudiConnessione();
    };
    s.connection = [&c] { return c.Connessione(); };
    s.inizioPasso = [&c](const std::string& t) { return c.InizioPasso(t); };
    s.dettaglioPasso = [&c](const std::string& t) { return c.DettaglioPasso(t); };
    s.logSuccesso = [&c](bool ok) { c.LogSuccesso(ok); };
    s.descriviErrore = [&c](const std::string& t) { c.DescriviErrore(t); };
    s.descriviErroreCorrente = [&c](const std::string& t, const RunTimeError& e) { c.DescriviErrore(t, e); };
    return s;
}

} // namespace zs::engine
