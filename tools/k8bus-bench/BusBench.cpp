// Measures a cheap bus round trip: ExecTask of a task that answers at once, through the Session
// control of libkor8api.so, against the bus daemon double on 127.0.0.1; and the same execute
// request, byte for byte, written and read by a minimal raw client against the same double (an
// instance of its own per client, as the double serves one connection at a time).
// Two configurations of the library, side by side in one run, each on a thread of its own:
//   - as the program runs it: trace file on, debug mode on (the program never turns it off),
//     the host's yield hook installed;
//   - quiet: the trace folder cannot be written and debug mode is off.
// Rounds alternate; the fastest round of each is compared with the raw client's (medians shown
// too), and the trace written per call is shown with the write system calls it took (counted
// per thread by the system).
//
//   k8bus-bench [calls per round] [rounds]      (defaults 500 and 21)
//   K8BUS_BENCH_VERBOSE=1 keeps the library's error output (otherwise only the figures show).

#include "Controls.h"
#include "DaemonDouble.h"

#include "automation/ClassRegistry.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using zs::automation::InvokeKind;
using zs::automation::Variant;
using zs::k8test::DaemonConnection;
using zs::k8test::DaemonDouble;
using zs::k8test::Reply;
using Clock = std::chrono::steady_clock;

// The daemon's side: every request is answered at once (open, execute with kernel status 0 and
// no return list, end).
void answerAtOnce(DaemonConnection& c, int)
{
    while (auto r = c.next()) {
        if (r->type == 0)
            c.send(Reply(2).info(1, 0, 7));
        else if (r->type == 1)
            c.send(Reply(0).info(1, 0, 7).num(0).num(0).num(0));
        else {
            c.send(Reply(1).info(1, 0, 7).num(0));
            return;
        }
    }
}

Variant call(zs::automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
{
    auto r = o.dispatchTable().invoke(o, id, kind, args);
    if (!r.ok)
        throw std::runtime_error("dispatch " + std::to_string(id) + ": " + r.errorText);
    return r.value;
}

// A minimal client: one send of the request, then reads until the reply (header and every
// parameter by its length) is complete.
class RawClient {
  public:
    explicit RawClient(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("raw client: connect failed");
    }
    ~RawClient() { ::close(m_fd); }
    void roundTrip(const std::string& request)
    {
        if (::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
            throw std::runtime_error("raw client: send failed");
        std::size_t have = 0;
        for (;;) {
            const ssize_t n = ::recv(m_fd, m_buf + have, sizeof m_buf - have, 0);
            if (n <= 0)
                throw std::runtime_error("raw client: connection lost");
            have += static_cast<std::size_t>(n);
            if (complete(have))
                return;
        }
    }

  private:
    bool complete(std::size_t have) const
    {
        if (have < 3)
            return false;
        const unsigned count = (static_cast<unsigned>(m_buf[1]) << 8) | m_buf[2];
        std::size_t at = 3;
        for (unsigned i = 0; i < count; ++i) {
            if (have < at + 2)
                return false;
            at += 2 + ((static_cast<std::size_t>(m_buf[at]) << 8) | m_buf[at + 1]);
        }
        return have >= at;
    }
    int m_fd = -1;
    unsigned char m_buf[65536 + 3];
};

// Write system calls the calling thread has made so far (/proc/thread-self/io); -1 when the
// system does not tell.
long long threadWrites()
{
    std::FILE* f = std::fopen("/proc/thread-self/io", "r");
    if (!f)
        return -1;
    long long n = -1;
    char line[128];
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "syscw: %lld", &n) == 1)
            break;
    std::fclose(f);
    return n;
}

double perCallMicros(Clock::duration d, int calls)
{
    return std::chrono::duration<double, std::micro>(d).count() / calls;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A thread of its own that runs the jobs handed to it one at a time: the library keeps its
// sessions per thread, so one configuration's calls all run here.
class Worker {
  public:
    Worker()
        : m_thread([this] { loop(); })
    {}
    ~Worker()
    {
        run({});
        m_thread.join();
    }
    /// Runs `job` on the worker and waits for it; an empty job ends the worker.
    void run(std::function<void()> job)
    {
        std::unique_lock l(m_lock);
        m_job = std::move(job);
        m_pending = true;
        m_cv.notify_all();
        m_cv.wait(l, [this] { return !m_pending; });
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
    }

  private:
    void loop()
    {
        for (;;) {
            std::unique_lock l(m_lock);
            m_cv.wait(l, [this] { return m_pending; });
            if (!m_job) {
                m_pending = false;
                m_cv.notify_all();
                return;
            }
            try {
                m_job();
            } catch (...) {
                m_error = std::current_exception();
            }
            m_pending = false;
            m_cv.notify_all();
        }
    }
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::function<void()> m_job;
    bool m_pending = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};

// One configuration of the library: its controls, logged in and with a session open on a
// daemon double of its own, all on its worker thread.
class LibraryClient {
  public:
    LibraryClient(bool debug, zs::k8bus::HostYield yield)
        : m_daemon(answerAtOnce)
    {
        m_worker.run([&] {
            zs::k8bus::registerClasses(m_registry, std::move(yield));
            m_system = m_registry.create(zs::k8bus::kSystemProgId);
            m_session = m_registry.create(zs::k8bus::kSessionProgId);
            call(*m_system, 2, InvokeKind::Put, {Variant(debug)});
            call(*m_system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
            call(*m_system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(m_daemon.port()))});
            call(*m_system, 11, InvokeKind::Method);
            call(*m_session, 15, InvokeKind::Put, {call(*m_system, 1, InvokeKind::Get)});
            if (call(*m_session, 21, InvokeKind::Method).toInt32() < 0)
                throw std::runtime_error("the session did not open");
            call(*m_session, 3, InvokeKind::Put, {Variant("")});
            call(*m_session, 16, InvokeKind::Put, {Variant("SUBITO")});
            exec();
        });
    }
    ~LibraryClient()
    {
        m_worker.run([&] {
            call(*m_session, 20, InvokeKind::Method);
            call(*m_system, 10, InvokeKind::Method);
            m_session.reset();
            m_system.reset();
        });
    }
    /// The bytes of the open and execute requests the library sent.
    std::pair<std::string, std::string> requests() const
    {
        const auto sent = m_daemon.received();
        return {sent.at(0).raw, sent.at(1).raw};
    }
    /// One round of `calls` ExecTasks: microseconds per call.
    double round(int calls)
    {
        double us = 0;
        m_worker.run([&] {
            const long long writesBefore = threadWrites();
            const auto t0 = Clock::now();
            for (int i = 0; i < calls; ++i)
                exec();
            us = perCallMicros(Clock::now() - t0, calls);
            const long long writesAfter = threadWrites();
            if (writesBefore >= 0 && writesAfter >= writesBefore) {
                m_writes += writesAfter - writesBefore;
                m_calls += calls;
            }
        });
        return us;
    }
    /// Write system calls per call of the rounds so far (the trace file and the standard
    /// output, as this thread made them); -1 when the system does not count them.
    double writesPerCall() const
    {
        return m_calls > 0 ? static_cast<double>(m_writes) / static_cast<double>(m_calls) : -1;
    }

  private:
    void exec()
    {
        if (!call(*m_session, 22, InvokeKind::Method).toBool())
            throw std::runtime_error("ExecTask failed");
    }
    DaemonDouble m_daemon;
    long long m_writes = 0, m_calls = 0;
    zs::automation::ClassRegistry m_registry;
    std::unique_ptr<zs::automation::Dispatchable> m_system, m_session;
    Worker m_worker; // last: ends first, before what its jobs use
};

std::uintmax_t traceBytes(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::uintmax_t n = 0;
    for (const char* name : {"k8bus.log", "k8bus.log.1"}) {
        const auto size = std::filesystem::file_size(folder / name, ec);
        n += ec ? 0 : size;
    }
    return n;
}

void printLine(const char* what, const std::vector<double>& lib, const std::vector<double>& raw)
{
    const double best = *std::min_element(lib.begin(), lib.end());
    const double rawBest = *std::min_element(raw.begin(), raw.end());
    std::printf("%-40s %8.2f us/call (%.2f us)   ratio %.3f to the raw %.2f us (medians %.3f)\n", what, best,
                median(lib), best / rawBest, rawBest, median(lib) / median(raw));
}

} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    // No profile file is read; the trace goes to a private folder of the run's own.
    char folderTemplate[] = "/tmp/k8bus-bench-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        std::perror("k8bus-bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path traceFolder = folderTemplate;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("WINDIR", "/nonexistent/k8bus-bench", 1);
    // The library's error output goes to the standard output; only the figures are shown.
    std::fflush(stdout);
    const int figures = ::dup(1);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (!std::getenv("K8BUS_BENCH_VERBOSE"))
        ::dup2(devNull, 1);
    auto showFigures = [&] {
        std::fflush(stdout);
        ::dup2(figures, 1);
    };
    int status = 0;
    try {
        // Each thread opens the trace file on its first line, in the folder the environment
        // names at that moment, and a thread that could not open it traces nothing for good.
        // The quiet configuration starts while no folder can be had (no runtime folder, and a
        // temporary folder that does not exist); the program's then finds the runtime folder it
        // writes to for the rest of the run (its roll-over looks there).
        ::setenv("TMPDIR", "/nonexistent/k8bus-bench", 1);
        std::optional<LibraryClient> quiet, program; // ended before the figures are shown
        quiet.emplace(false, zs::k8bus::HostYield{});
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // its proxy thread's first line
        ::setenv("XDG_RUNTIME_DIR", traceFolder.c_str(), 1);         // private: made by mkdtemp
        program.emplace(true, [] { return true; });                  // the host's hook: it lets the window run
        // The raw client sends exactly the bytes the library sent: its open, then its execute.
        const auto [openRequest, execRequest] = program->requests();
        DaemonDouble rawDaemon(answerAtOnce);
        RawClient raw(rawDaemon.port());
        raw.roundTrip(openRequest);

        std::vector<double> asProgram, quietRuns, direct;
        std::uintmax_t traced = 0;
        double writes = -1;
        for (int round = 0; round < rounds; ++round) {
            const std::uintmax_t before = traceBytes(traceFolder);
            asProgram.push_back(program->round(calls));
            const std::uintmax_t after = traceBytes(traceFolder);
            traced += after >= before ? after - before : after; // a roll-over starts the file again
            quietRuns.push_back(quiet->round(calls));
            const auto t0 = Clock::now();
            for (int i = 0; i < calls; ++i)
                raw.roundTrip(execRequest);
            direct.push_back(perCallMicros(Clock::now() - t0, calls));
        }
        writes = program->writesPerCall();
        program.reset();
        quiet.reset();
        showFigures();

        std::printf("calls per round: %d, rounds: %d (fastest round; median in brackets)\n", calls, rounds);
        std::printf("%-40s %8.2f us/call (%.2f us)\n",
                    "raw client, same bytes:", *std::min_element(direct.begin(), direct.end()), median(direct));
        printLine("as the program runs (trace + debug on):", asProgram, direct);
        printLine("quiet (trace off, debug off):", quietRuns, direct);
        std::printf("trace written as the program runs: %.0f bytes/call in %.2f write calls/call "
                    "(trace file and standard output)\n",
                    static_cast<double>(traced) / (static_cast<double>(calls) * rounds), writes);
    } catch (const std::exception& e) {
        showFigures();
        std::fprintf(stderr, "k8bus-bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    if (!std::getenv("K8BUS_BENCH_KEEP"))
        std::filesystem::remove_all(traceFolder, ec);
    return status;
}
