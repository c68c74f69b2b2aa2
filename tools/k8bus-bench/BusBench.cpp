// Measures a cheap bus round trip: ExecTask of a task that answers at once, through the Session
// control of libkor8api.so, against the bus daemon double on 127.0.0.1; and the same execute
// request, byte for byte, written and read by a minimal raw client against the same double (an
// instance of its own, as the double serves one connection at a time).
// Rounds alternate; the fastest round of each is compared (medians shown too). Trace off: the
// trace folder cannot be written and debug mode is off.
//
//   k8bus-bench [calls per round] [rounds]      (defaults 2000 and 5)
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
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
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

double perCallMicros(Clock::duration d, int calls)
{
    return std::chrono::duration<double, std::micro>(d).count() / calls;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    // Trace off: the folder of the trace file cannot be written; no profile file is read.
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", "/nonexistent/k8bus-bench", 1);
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
    try {
        // The double serves one connection at a time: each client gets an instance of its own.
        DaemonDouble daemon(answerAtOnce);
        DaemonDouble rawDaemon(answerAtOnce);
        zs::automation::ClassRegistry registry;
        zs::k8bus::registerClasses(registry);
        auto system = registry.create(zs::k8bus::kSystemProgId);
        auto session = registry.create(zs::k8bus::kSessionProgId);
        call(*system, 2, InvokeKind::Put, {Variant(false)}); // debug mode off
        call(*system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
        call(*system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(daemon.port()))});
        call(*system, 11, InvokeKind::Method);
        call(*session, 15, InvokeKind::Put, {call(*system, 1, InvokeKind::Get)});
        if (call(*session, 21, InvokeKind::Method).toInt32() < 0)
            throw std::runtime_error("the session did not open");
        call(*session, 3, InvokeKind::Put, {Variant("")});
        call(*session, 16, InvokeKind::Put, {Variant("SUBITO")});
        if (!call(*session, 22, InvokeKind::Method).toBool())
            throw std::runtime_error("ExecTask failed");
        // The raw client sends exactly the bytes the library sent: its open, then its execute.
        const auto sent = daemon.received();
        const std::string openRequest = sent.at(0).raw, execRequest = sent.at(1).raw;
        RawClient raw(rawDaemon.port());
        raw.roundTrip(openRequest);

        std::vector<double> library, direct;
        for (int round = 0; round < rounds; ++round) {
            auto t0 = Clock::now();
            for (int i = 0; i < calls; ++i)
                if (!call(*session, 22, InvokeKind::Method).toBool())
                    throw std::runtime_error("ExecTask failed");
            library.push_back(perCallMicros(Clock::now() - t0, calls));
            t0 = Clock::now();
            for (int i = 0; i < calls; ++i)
                raw.roundTrip(execRequest);
            direct.push_back(perCallMicros(Clock::now() - t0, calls));
        }
        call(*session, 20, InvokeKind::Method);
        call(*system, 10, InvokeKind::Method);
        showFigures();

        const double lib = *std::min_element(library.begin(), library.end());
        const double rawBest = *std::min_element(direct.begin(), direct.end());
        std::printf("calls per round: %d, rounds: %d, trace off (fastest round; median in brackets)\n", calls, rounds);
        std::printf("ExecTask through libkor8api: %8.2f us/call (%.2f us)\n", lib, median(library));
        std::printf("raw client, same bytes:      %8.2f us/call (%.2f us)\n", rawBest, median(direct));
        std::printf("ratio:                       %8.3f (medians %.3f)\n", lib / rawBest,
                    median(library) / median(direct));
    } catch (const std::exception& e) {
        showFigures();
        std::fprintf(stderr, "k8bus-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
