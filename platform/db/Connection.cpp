#include "db/Connection.h"

#include "db/Backend_p.h"
#include "db/ConnectionString.h"
#include "text/Ascii.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace zs::db {

using Clock = std::chrono::steady_clock;
using Job = std::function<bool(Backend*, ErrorList&)>;

namespace {
enum class Abort { None, Cancel, Timeout };
constexpr auto kInterruptRepeat = std::chrono::milliseconds(100);
std::atomic<void (*)()> g_jobFaultHook{nullptr};

constexpr const char* kNotCompleted = "l'operazione sul database non è stata completata";

/// What the operator reads for an exception inside this layer: what went wrong in words of
/// theirs, never a type name of the program's (a detail the program gave is kept after them).
std::string internalErrorText(const std::exception* e)
{
    if (dynamic_cast<const std::bad_alloc*>(e))
        return std::string("memoria insufficiente: ") + kNotCompleted;
    std::string text = std::string("errore interno del programma: ") + kNotCompleted;
    if (e && *e->what())
        text += std::string(" (") + e->what() + ")";
    return text;
}
} // namespace

void setJobFaultHook(void (*hook)())
{
    g_jobFaultHook.store(hook);
}

/// What the caller's thread, the worker and the watchdog share. The worker runs one job at a
/// time; the watchdog ends a job that outlives its time-out, and repeats an interrupt until
/// the job has stopped (a cancel may reach a driver just before its statement starts).
struct ConnectionShared {
    std::mutex m;
    std::condition_variable cv;      // job submitted / job finished / stopping
    std::condition_variable watchCv; // wakes the watchdog
    std::unique_ptr<Backend> backend;
    bool open = false;
    Dialect dialect = Dialect::None;

    Job job;
    bool pending = false;
    bool running = false;
    bool stopping = false;
    int jobTimeout = 0;
    std::uint64_t submitted = 0;
    std::uint64_t finished = 0;
    Abort abort = Abort::None;
    std::optional<Clock::time_point> deadline;
    std::optional<Clock::time_point> budgetEnd;    // no statement outlives it (setTimeBudget)
    std::optional<Clock::time_point> watchdogWake; // when the watchdog wakes next; none: only when told

    bool lastOk = true;
    ErrorList lastErrors;
    std::vector<Value> spareValues; // the storage of a written batch, for the next one

    std::thread worker;
    std::thread watchdog;

    void workerLoop()
    {
        std::unique_lock l(m);
        while (true) {
            cv.wait(l, [&] { return pending || stopping; });
            if (!pending)
                break;
            Job fn = std::move(job);
            pending = false;
            runJob(fn, l);
        }
    }

    /// Runs one job with `l` held on entry and on return: arms the time-out, runs the job
    /// unlocked, records its outcome and wakes whoever waits for it. The worker runs the
    /// asynchronous jobs this way, the caller's own thread the synchronous ones.
    void runJob(Job& fn, std::unique_lock<std::mutex>& l)
    {
        running = true;
        if (jobTimeout > 0)
            deadline = Clock::now() + std::chrono::seconds(jobTimeout);
        if (budgetEnd && (!deadline || *budgetEnd < *deadline))
            deadline = budgetEnd;
        if (deadline) {
            // The watchdog sleeps until its next deadline; wake it only when this one comes
            // sooner, so a stream of short jobs costs it nothing.
            if (!watchdogWake || *deadline < *watchdogWake)
                watchCv.notify_all();
        }
        Backend* b = backend.get();
        l.unlock();

        ErrorList errors;
        bool ok = false;
        try {
            if (const auto hook = g_jobFaultHook.load())
                hook();
            ok = fn(b, errors);
        } catch (const std::exception& e) {
            // A fault of the program, not of the connection: a new connection would meet it again.
            ok = false;
            errors.assign(1, makeError(ErrorClass::Internal, internalErrorText(&e)));
        } catch (...) {
            ok = false;
            errors.assign(1, makeError(ErrorClass::Internal, internalErrorText(nullptr)));
        }

        l.lock();
        if (!ok && abort != Abort::None && (errors.empty() || errors.front().kind != ErrorClass::Internal)) {
            const std::string source = errors.empty() ? "ZentrikServer" : errors.front().source;
            Error head = abort == Abort::Timeout ? makeError(ErrorClass::Timeout, "Timeout expired", source)
                                                 : makeError(ErrorClass::Cancelled, "Operation cancelled", source);
            for (auto& e : errors) {
                e.kind = head.kind;
                e.number = head.number;
            }
            errors.insert(errors.begin(), std::move(head));
        }
        if (!ok && errors.empty())
            errors.push_back(makeError(ErrorClass::ConnectionLost, "the operation failed without a reason"));
        running = false;
        deadline.reset();
        lastOk = ok;
        lastErrors = std::move(errors);
        ++finished;
        cv.notify_all();
    }

    /// Runs `fn` on the calling thread, watched for its time-out and open to cancel() like a
    /// job of the worker. Saves two thread switches per call, which row-by-row writing pays
    /// on every row. False when another job still runs or waits.
    bool runHere(Job& fn, int timeoutSeconds)
    {
        std::unique_lock l(m);
        if (pending || running)
            return false;
        jobTimeout = timeoutSeconds;
        abort = Abort::None;
        if (backend)
            backend->clearInterrupt();
        ++submitted;
        runJob(fn, l);
        return true;
    }

    void watchdogLoop()
    {
        std::unique_lock l(m);
        while (!stopping) {
            if (running && abort == Abort::None && deadline) {
                if (Clock::now() < *deadline) {
                    watchdogWake = *deadline;
                    watchCv.wait_until(l, *deadline);
                    continue;
                }
                abort = Abort::Timeout;
            }
            if ((running || pending) && abort != Abort::None) {
                if (running && backend)
                    backend->interrupt();
                watchdogWake = Clock::now() + kInterruptRepeat;
                watchCv.wait_for(l, kInterruptRepeat);
                continue;
            }
            watchdogWake.reset();
            watchCv.wait(l);
        }
    }

    /// Queues `fn`; false when another job still runs or waits.
    bool submit(Job fn, int timeoutSeconds, std::uint64_t& seq)
    {
        std::lock_guard l(m);
        if (pending || running)
            return false;
        job = std::move(fn);
        pending = true;
        jobTimeout = timeoutSeconds;
        abort = Abort::None;
        if (backend)
            backend->clearInterrupt();
        seq = ++submitted;
        cv.notify_all();
        return true;
    }

    bool waitDone(std::uint64_t seq, std::optional<std::chrono::milliseconds> timeout)
    {
        std::unique_lock l(m);
        if (!timeout) {
            cv.wait(l, [&] { return finished >= seq; });
            return true;
        }
        return cv.wait_for(l, *timeout, [&] { return finished >= seq; });
    }
};

Connection::Connection()
    : m_shared(std::make_shared<ConnectionShared>())
    , m_arrayBatches(std::make_unique<ArrayBatch[]>(2))
{
    m_shared->worker = std::thread([s = m_shared.get()] { s->workerLoop(); });
    m_shared->watchdog = std::thread([s = m_shared.get()] { s->watchdogLoop(); });
}

Connection::~Connection()
{
    close();
    {
        std::lock_guard l(m_shared->m);
        m_shared->stopping = true;
        m_shared->cv.notify_all();
        m_shared->watchCv.notify_all();
    }
    m_shared->worker.join();
    m_shared->watchdog.join();
}

bool Connection::fail(Error e)
{
    m_failedInsertTable.clear();
    m_errors.clear();
    m_errors.push_back(std::move(e));
    return false;
}

bool Connection::fail(ErrorList errors)
{
    m_failedInsertTable.clear();
    m_errors = std::move(errors);
    return false;
}

int Connection::state() const
{
    std::lock_guard l(m_shared->m);
    int s = m_shared->open ? kStateOpen : kStateClosed;
    if (m_shared->pending || m_shared->running)
        s |= kStateExecuting;
    return s;
}

void Connection::setTimeBudget(int seconds)
{
    std::lock_guard l(m_shared->m);
    if (seconds > 0)
        m_shared->budgetEnd = Clock::now() + std::chrono::seconds(seconds);
    else
        m_shared->budgetEnd.reset();
}

Dialect Connection::dialect() const
{
    std::lock_guard l(m_shared->m);
    return m_shared->dialect;
}

std::string Connection::reportedConnectionString() const
{
    return maskPasswords(m_connectionString);
}

bool Connection::requireIdle()
{
    if (isExecuting()) {
        Error e = makeError(ErrorClass::Usage, "Operation cannot be performed while executing asynchronously.");
        e.number = kErrBusy;
        return fail(std::move(e));
    }
    return true;
}

bool Connection::open(const std::string& connectionString)
{
    return openImpl(connectionString, false);
}

bool Connection::openImpl(const std::string& connectionString, bool create)
{
    m_errors.clear();
    if (!requireIdle())
        return false;
    close();
    m_connectionString = connectionString;
    Error resolveError;
    auto target = resolveConnectionString(connectionString, resolveError);
    if (!target)
        return fail(std::move(resolveError));

    auto* shared = m_shared.get();
    Job job = [shared, target = *target, create](Backend*, ErrorList& errors) {
        std::unique_ptr<Backend> backend =
            target.kind == ConnectionTarget::Kind::Sqlite ? makeSqliteBackend() : makeOdbcBackend();
        if (!backend->open(target, create, errors))
            return false;
        std::lock_guard l(shared->m);
        shared->dialect = backend->dialect();
        shared->backend = std::move(backend);
        shared->open = true;
        return true;
    };
    std::uint64_t seq = 0;
    if (!m_shared->submit(std::move(job), 0, seq))
        return requireIdle();
    m_shared->waitDone(seq, std::nullopt);
    std::lock_guard l(m_shared->m);
    if (!m_shared->lastOk)
        return fail(m_shared->lastErrors);
    return true;
}

void Connection::close() noexcept
{
    if (isExecuting())
        cancel();
    m_pending = Pending::None;
    m_insertNames = {};
    m_openReader = 0; // the backend's close ends it
    {
        std::lock_guard l(m_shared->m);
        if (!m_shared->open && !m_shared->backend)
            return;
    }
    auto* shared = m_shared.get();
    Job job = [shared](Backend*, ErrorList&) {
        std::unique_ptr<Backend> backend;
        {
            std::lock_guard l(shared->m);
            backend = std::move(shared->backend);
            shared->open = false;
            shared->dialect = Dialect::None;
        }
        if (backend)
            backend->close();
        return true;
    };
    std::uint64_t seq = 0;
    if (m_shared->submit(std::move(job), 0, seq))
        m_shared->waitDone(seq, std::nullopt);
}

bool Connection::settleInsert()
{
    if (m_pending != Pending::Rows)
        return true;
    m_pending = Pending::None;
    std::uint64_t seq = 0;
    {
        std::lock_guard l(m_shared->m);
        seq = m_shared->submitted;
    }
    m_shared->waitDone(seq, std::nullopt);
    std::lock_guard l(m_shared->m);
    if (m_shared->lastOk)
        return true;
    fail(m_shared->lastErrors);
    m_failedInsertTable = m_pendingInsertTable;
    return false;
}

bool Connection::runStatement(std::string_view sql, bool async)
{
    m_errors.clear();
    if (!settleInsert() || !requireIdle())
        return false;
    if (!isOpen())
        return fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
    if (!async)
        return runSync([sql](Backend* b, ErrorList& errors) { return b->execute(std::string(sql), errors); });
    Job job = [text = std::string(sql)](Backend* b, ErrorList& errors) { return b->execute(text, errors); };
    std::uint64_t seq = 0;
    if (!m_shared->submit(std::move(job), m_commandTimeout, seq))
        return requireIdle();
    m_pending = Pending::Statement;
    return true;
}

bool Connection::execute(std::string_view sql)
{
    return runStatement(sql, false);
}

bool Connection::executeSingle(std::string_view sql)
{
    m_errors.clear();
    if (!settleInsert() || !requireIdle())
        return false;
    if (!isOpen())
        return fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
    return runSync([sql](Backend* b, ErrorList& errors) { return b->executeSingle(std::string(sql), errors); });
}

bool Connection::executeAsync(std::string_view sql)
{
    return runStatement(sql, true);
}

bool Connection::waitFor(std::chrono::milliseconds timeout)
{
    std::uint64_t seq = 0;
    {
        std::lock_guard l(m_shared->m);
        seq = m_shared->submitted;
    }
    return m_shared->waitDone(seq, timeout);
}

bool Connection::endExecute()
{
    if (m_pending != Pending::Statement)
        return true;
    std::uint64_t seq = 0;
    {
        std::lock_guard l(m_shared->m);
        seq = m_shared->submitted;
    }
    m_shared->waitDone(seq, std::nullopt);
    m_pending = Pending::None;
    std::lock_guard l(m_shared->m);
    if (m_shared->lastOk) {
        m_errors.clear();
        return true;
    }
    return fail(m_shared->lastErrors);
}

bool Connection::cancel(std::chrono::milliseconds wait)
{
    {
        std::lock_guard l(m_shared->m);
        if (!m_shared->pending && !m_shared->running)
            return true;
        if (m_shared->abort == Abort::None)
            m_shared->abort = Abort::Cancel;
        if (m_shared->running && m_shared->backend)
            m_shared->backend->interrupt();
        m_shared->watchCv.notify_all();
    }
    return waitFor(wait);
}

bool Connection::runSync(Job job)
{
    m_errors.clear();
    if (!settleInsert() || !requireIdle())
        return false;
    if (!isOpen())
        return fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
    if (!m_shared->runHere(job, m_commandTimeout)) {
        // Only a statement started meanwhile refuses the job: report it as busy.
        Error e = makeError(ErrorClass::Usage, "Operation cannot be performed while executing asynchronously.");
        e.number = kErrBusy;
        return fail(std::move(e));
    }
    std::lock_guard l(m_shared->m);
    return m_shared->lastOk ? true : fail(m_shared->lastErrors);
}

std::optional<RecordSet> Connection::query(std::string_view sql)
{
    RecordSet result;
    if (!runSync([text = std::string(sql), &result](Backend* b, ErrorList& errors) {
            return b->query(text, result, errors);
        }))
        return std::nullopt;
    return result;
}

namespace {

/// How a table or column name is written in SQL for the database: unquoted when plain on the
/// databases that fold unquoted names (so it matches the engine's own unquoted SQL), quoted
/// otherwise.
std::string sqlName(const Backend& b, std::string_view name)
{
    const std::string bare = unbracket(name);
    if ((b.dialect() == Dialect::PostgreSql || b.dialect() == Dialect::Oracle) && isPlainIdentifier(bare))
        return bare;
    return b.quoteIdentifier(bare);
}

} // namespace

std::optional<RowWriter> Connection::openRowWriter(std::string_view table)
{
    std::vector<ColumnInfo> columns;
    if (!runSync([name = std::string(table), &columns](Backend* b, ErrorList& errors) {
            return b->describe(sqlName(*b, name), columns, errors);
        }))
        return std::nullopt;
    return RowWriter(*this, std::string(table), std::move(columns));
}

void Connection::quoteNames(Backend& b, const std::string& table, const std::vector<std::string>& columns)
{
    InsertNames& n = m_insertNames;
    if (n.quotedTable.empty() || n.table != table || n.columns != columns) {
        n.table = table;
        n.columns = columns;
        n.quotedTable = sqlName(b, table);
        n.quotedColumns.clear();
        for (const auto& c : columns)
            n.quotedColumns.push_back(sqlName(b, c));
    }
}

bool Connection::insertRow(const std::string& table, const std::vector<std::string>& columns,
                           const std::vector<Value>& values)
{
    // The job runs while this call waits, so it may refer to the caller's vectors.
    return runSync([this, &table, &columns, &values](Backend* b, ErrorList& errors) {
        quoteNames(*b, table, columns);
        return b->insert(m_insertNames.quotedTable, m_insertNames.quotedColumns, values, errors);
    });
}

bool Connection::insertRows(std::string table, std::vector<std::string> columns, std::vector<Value::Type> types,
                            std::vector<Value> values, std::size_t rows)
{
    // The rows go on the worker thread while the caller prepares the next ones; the next call
    // on the connection (another batch, a statement, a commit) first waits for them and fails
    // with their errors. On PostgreSQL the rows' COPY text is built on a thread of its own,
    // beside the caller's reading of the next rows and the previous batch's run on the worker;
    // the batch's job waits for it. Two texts take turns.
    m_errors.clear();
    auto held = std::make_shared<std::vector<Value>>(std::move(values)); // read by the builder and the job
    ArrayBatch* batch = nullptr;
    std::shared_future<void> built;
    if (dialect() == Dialect::PostgreSql && !columns.empty() && rows > 0 && isOpen()) {
        batch = &m_arrayBatches[m_nextArrayBatch];
        m_nextArrayBatch ^= 1;
        const auto build = [batch, held, n = columns.size(), rows] {
            buildCopyRows(held->data(), n, rows, batch->copy);
        };
        try {
            built = std::async(std::launch::async, build).share();
        } catch (const std::system_error&) {
            // No thread to spare: the literals are built here, as the job would wait for them anyway.
            std::promise<void> done;
            try {
                build();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
            built = done.get_future().share();
        }
    }
    const auto abandon = [&built] {
        if (built.valid())
            built.wait(); // the literals' storage serves the next batch
    };
    if (!settleInsert() || !requireIdle())
        return abandon(), false;
    if (!isOpen())
        return abandon(), fail(makeError(ErrorClass::Usage, "Operation is not allowed when the object is closed."));
    m_pendingInsertTable = table;
    auto* shared = m_shared.get();
    Job job = [this, shared, table = std::move(table), columns = std::move(columns), types = std::move(types), held,
               rows, batch, built](Backend* b, ErrorList& errors) mutable {
        if (built.valid()) {
            try {
                built.get();
            } catch (const std::exception& e) {
                errors.push_back(makeError(ErrorClass::Internal, internalErrorText(&e)));
                return false;
            }
        }
        quoteNames(*b, table, columns);
        const bool ok =
            batch ? b->insertArrays(m_insertNames.quotedTable, m_insertNames.quotedColumns, types, *batch, held->data(),
                                    rows, errors)
                  : b->insertRows(m_insertNames.quotedTable, m_insertNames.quotedColumns, types, *held, rows, errors);
        // The values die here, beside the caller's work, and their storage serves a later batch.
        std::vector<Value> written = std::move(*held);
        written.clear();
        std::lock_guard l(shared->m);
        if (written.capacity() > shared->spareValues.capacity())
            shared->spareValues = std::move(written);
        return ok;
    };
    std::uint64_t seq = 0;
    if (!m_shared->submit(std::move(job), m_commandTimeout, seq))
        return abandon(), requireIdle();
    m_pending = Pending::Rows;
    return true;
}

std::vector<Value> Connection::takeSpareValues()
{
    std::lock_guard l(m_shared->m);
    return std::exchange(m_shared->spareValues, {});
}

std::optional<std::vector<std::string>> Connection::tableNames()
{
    std::vector<std::string> names;
    if (!runSync([&names](Backend* b, ErrorList& errors) { return b->tableNames(names, errors); }))
        return std::nullopt;
    return names;
}

// --- RowWriter ---------------------------------------------------------------------------

namespace {

const Value kNullValue;

std::optional<Value> convertTo(const Value& v, Value::Type type)
{
    if (v.isNull() || v.type() == type)
        return v;
    switch (type) {
    case Value::Type::Integer:
        if (auto i = v.toInt())
            return Value(*i);
        return std::nullopt;
    case Value::Type::Double:
        if (auto d = v.toDouble())
            return Value(*d);
        return std::nullopt;
    case Value::Type::Text:
        return Value(v.toString());
    case Value::Type::DateTime:
        if (auto dt = v.toDateTime())
            return Value(*dt);
        return std::nullopt;
    case Value::Type::Boolean: {
        if (auto i = v.toInt())
            return Value(*i != 0);
        if (const auto* t = v.text()) {
            if (*t == "true" || *t == "True" || *t == "TRUE")
                return Value(true);
            if (*t == "false" || *t == "False" || *t == "FALSE")
                return Value(false);
        }
        return std::nullopt;
    }
    case Value::Type::Null:
        return Value();
    }
    return std::nullopt;
}

} // namespace

RowWriter::RowWriter(Connection& connection, std::string table, std::vector<ColumnInfo> columns)
    : m_connection(&connection)
    , m_alive(connection.m_shared)
    , m_table(std::move(table))
    , m_columns(std::move(columns))
{
    m_names.reserve(m_columns.size());
    for (const auto& c : m_columns)
        m_names.push_back(c.name);
    addNew();
}

void RowWriter::addNew()
{
    m_row.assign(m_columns.size(), Value());
    m_set.assign(m_columns.size(), false);
}

std::optional<std::size_t> RowWriter::indexOf(std::string_view field) const
{
    for (std::size_t i = 0; i < m_names.size(); ++i)
        if (text::equalsNoCase(m_names[i], field))
            return i;
    return std::nullopt;
}

bool RowWriter::set(std::string_view field, const Value& value)
{
    if (m_alive.expired())
        return false;
    const auto i = indexOf(field);
    if (!i) {
        Error e = makeError(ErrorClass::BadArgument,
                            "Item cannot be found in the collection corresponding to the requested name or ordinal: " +
                                std::string(field));
        e.number = kErrNotFound;
        return m_connection->fail(std::move(e));
    }
    return setAt(*i, value);
}

bool RowWriter::setAt(std::size_t i, const Value& value)
{
    return setAt(i, Value(value));
}

bool RowWriter::setAt(std::size_t i, Value&& value)
{
    if (m_alive.expired() || i >= m_columns.size())
        return false;
    if (value.isNull() || value.type() == m_columns[i].type) {
        m_row[i] = std::move(value);
    } else {
        auto converted = convertTo(value, m_columns[i].type);
        if (!converted)
            return m_connection->fail(
                makeError(ErrorClass::BadArgument,
                          "the value \"" + value.toString() + "\" does not fit the field " + m_columns[i].name));
        m_row[i] = std::move(*converted);
    }
    m_set[i] = true;
    return true;
}

bool RowWriter::queue()
{
    if (m_alive.expired())
        return false;
    if (m_batchRows > 0 && m_set != m_batchSet && !flush(false))
        return false;
    if (m_batchRows == 0) {
        m_batchSet = m_set;
        m_batchColumns.clear();
        m_batchTypes.clear();
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            if (m_set[i]) {
                m_batchColumns.push_back(m_names[i]);
                m_batchTypes.push_back(m_columns[i].type);
            }
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (m_set[i])
            m_batchValues.push_back(std::move(m_row[i]));
    ++m_batchRows;
    return m_batchRows < kBatchRows || flush(false);
}

bool RowWriter::flush(bool wait)
{
    if (m_alive.expired())
        return false;
    if (m_batchRows > 0) {
        std::vector<Value> values = m_connection->takeSpareValues();
        values.swap(m_batchValues);
        const std::size_t rows = m_batchRows;
        m_batchRows = 0;
        if (!m_connection->insertRows(m_table, m_batchColumns, m_batchTypes, std::move(values), rows))
            return false;
    }
    return !wait || m_connection->settleInsert();
}

const Value& RowWriter::get(std::string_view field) const
{
    const auto i = indexOf(field);
    return i ? m_row[*i] : kNullValue;
}

bool RowWriter::update()
{
    if (m_alive.expired())
        return false;
    // Assigning into the kept vectors reuses their strings' storage from row to row.
    std::size_t k = 0;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (!m_set[i])
            continue;
        if (k < m_updateColumns.size()) {
            m_updateColumns[k] = m_names[i];
            m_updateValues[k] = m_row[i];
        } else {
            m_updateColumns.push_back(m_names[i]);
            m_updateValues.push_back(m_row[i]);
        }
        ++k;
    }
    m_updateColumns.resize(k);
    m_updateValues.resize(k);
    return m_connection->insertRow(m_table, m_updateColumns, m_updateValues);
}

} // namespace zs::db
