// The socket layer's waits: every wait bounded and, with a yield hook on the thread, run in
// short slices with the hook between them; the read-ahead fill, and sockWait over several sockets.

#include "Socket.h"

#include "ErrorLog.h"
#include "Socket_p.h"
#include "TraceLog.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <limits>
#include <utility>

namespace zs::k8bus {

using namespace sockio;

namespace {

// Milliseconds from now to `end`: 0 once it has passed, at most the largest int.
int msUntil(std::chrono::steady_clock::time_point end)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

thread_local YieldHook t_hook;
thread_local bool t_inHook = false;

// Runs the thread's yield hook; a wait inside it (the host's events may call the library) does
// not run the hook again, and is no part of the element being read: it has its own bound.
bool yieldToHost()
{
    struct InHook {
        SockGlobals* g = sockGlobals();
        SockDeadline element;
        InHook()
        {
            t_inHook = true;
            if (g)
                element = std::exchange(g->elementDeadline, std::nullopt);
        }
        ~InHook()
        {
            t_inHook = false;
            if (g)
                g->elementDeadline = element;
        }
    } inHook;
    return t_hook();
}

// The time line of one wait of `timeoutMs` (kNoWaitLimit: however long): with a yield hook on
// the thread it runs in slices with the hook between them; a nested wait (inside the hook) does
// not call the hook again. The first slice is short whatever the host: what the thread's trace
// gathered goes to the file once it has passed, so a reply that comes at once costs no write of
// its own, and a wait that hangs shows in k8bus.log what led to it within a slice.
class Slices {
  public:
    explicit Slices(int timeoutMs)
        : m_useHook(t_hook && !t_inHook)
        , m_span(timeoutMs)
    {}

    /// How long the next slice may wait (kNoWaitLimit: however long).
    int next()
    {
        m_leftMs = m_span.left();
        if (m_slices++ == 1)
            traceFlush();
        const bool sliced = m_useHook || m_slices == 1;
        m_slice = sliced && (m_leftMs == kNoWaitLimit || m_leftMs > kSliceMs) ? kSliceMs : m_leftMs;
        return m_slice;
    }
    /// The slice just waited reached the end of the wait.
    bool last() const { return m_leftMs != kNoWaitLimit && m_leftMs <= m_slice; }
    /// Runs the hook between slices; true when it gives up the wait. The call's output so far
    /// is written first: the host may run for a while.
    bool abandoned() const
    {
        if (!m_useHook)
            return false;
        flushCallOutput();
        return !yieldToHost();
    }

  private:
    bool m_useHook;
    WaitSpan m_span;
    int m_leftMs = 0;
    int m_slice = 0;
    int m_slices = 0; ///< slices begun
};

} // namespace

namespace sockio {

WaitSpan::WaitSpan(int limitMs)
    : m_endless(limitMs < 0)
    , m_end(std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(limitMs, 0)))
{}

int WaitSpan::left() const
{
    return m_endless ? kNoWaitLimit : msUntil(m_end);
}

// How long a wait may last: `ms` (0 or less: no limit of its own) within the bound (0: none),
// and never past the end of the element being read.
int waitLimit(const SockGlobals* g, int ms)
{
    const int bound = g ? g->timeouts.bound : kDefaultWaitBoundMs;
    int limit = bound > 0 ? bound : kNoWaitLimit;
    if (ms > 0 && (limit == kNoWaitLimit || ms < limit))
        limit = ms;
    if (g && g->elementDeadline) {
        const int element = msUntil(*g->elementDeadline);
        if (limit == kNoWaitLimit || element < limit)
            limit = element;
    }
    return limit;
}

Wait waitFor(pollfd* fds, nfds_t n, int timeoutMs)
{
    Slices slices(timeoutMs);
    for (;;) {
        const int r = ::poll(fds, n, slices.next());
        if (r > 0)
            return Wait::Ready;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Wait::Failed;
        }
        if (slices.last())
            return Wait::TimedOut;
        if (slices.abandoned())
            return Wait::Abandoned;
    }
}

// Records the outcome of a wait that did not end ready; false for every such outcome.
bool waitFailed(SockGlobals* g, Wait w)
{
    switch (w) {
    case Wait::Ready:
        return true;
    case Wait::TimedOut:
        setError(g, sockerr::kTimedOut);
        break;
    case Wait::Abandoned:
        setError(g, sockerr::kInterrupted);
        break;
    case Wait::Failed:
        setSysError(g, errno);
        break;
    }
    return false;
}

Fill fill(SockGlobals* g, RecvBuffer& rb, int timeoutMs)
{
    Slices slices(timeoutMs);
    for (;;) {
        const int slice = slices.next();
        ssize_t n;
        if (rb.blocking && slice != 0) {
            if (rb.receiveTimeout != slice) {
                timeval tv{slice / 1000, (slice % 1000) * 1000};
                if (slice == kNoWaitLimit)
                    tv = timeval{0, 0}; // blocks until data comes
                ::setsockopt(rb.sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                rb.receiveTimeout = slice;
            }
            n = ::recv(rb.sock, rb.bytes.data(), rb.bytes.size(), 0);
        } else {
            n = ::recv(rb.sock, rb.bytes.data(), rb.bytes.size(), MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && slice != 0) {
                pollfd p{rb.sock, POLLIN, 0};
                const int r = ::poll(&p, 1, slice);
                if (r > 0)
                    continue;
                if (r < 0 && errno != EINTR) {
                    setSysError(g, errno);
                    return Fill::Failed;
                }
                errno = r < 0 ? EINTR : EAGAIN;
            }
        }
        if (n > 0) {
            rb.begin = 0;
            rb.end = static_cast<std::size_t>(n);
            return Fill::Data;
        }
        if (n == 0)
            return Fill::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            setSysError(g, errno);
            rb.pendingError = errno;
            return Fill::Error;
        }
        if (slices.last())
            return Fill::TimedOut;
        if (slices.abandoned())
            return Fill::Abandoned;
    }
}

} // namespace sockio

YieldHook sockSetYieldHook(YieldHook hook)
{
    YieldHook previous = std::move(t_hook);
    t_hook = std::move(hook);
    return previous;
}

namespace {

int waitOnSockets(int count, const int* socks, int* ready, int timeoutMs, bool bounded)
{
    SockGlobals* g = sockGlobals();
    if (!g || count <= 0 || count > 64)
        return -1;
    // Bytes already read ahead make a socket ready without asking the system.
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const auto b = socks[i] >= 0 ? g->buffer(socks[i], false) : nullptr;
        ready[i] = b && (b->available() > 0 || b->pendingError) ? 1 : 0;
        n += ready[i];
    }
    if (n > 0)
        return n;
    if (timeoutMs == -1)
        timeoutMs = g->timeouts.firstRead;
    // Under one second the original waited without limit: here that is the bound (none when 0).
    if (timeoutMs < 1000)
        timeoutMs = 0;
    timeoutMs = bounded ? waitLimit(g, timeoutMs) : kNoWaitLimit;
    if (count == 1 && socks[0] >= 0) {
        // One socket: waiting for it is reading ahead from it.
        const std::shared_ptr<RecvBuffer> held = g->buffer(socks[0], true);
        RecvBuffer& rb = *held;
        if (rb.pendingError) {
            ready[0] = 1;
            return 1;
        }
        switch (fill(g, rb, timeoutMs)) {
        case Fill::Data:
        case Fill::Closed:
        case Fill::Error:
            ready[0] = 1;
            return 1; // the next read tells what came
        case Fill::TimedOut:
            setError(g, sockerr::kTimedOut);
            return 0;
        case Fill::Abandoned:
            setError(g, sockerr::kInterrupted);
            logWrite("sockWait: wait abandoned by the host\n");
            return -1;
        case Fill::Failed:
            sockReportError("sockWait: select() failed");
            return -1;
        }
    }
    std::array<pollfd, 64> fds{};
    for (int i = 0; i < count; ++i)
        fds[static_cast<std::size_t>(i)] = pollfd{socks[i], POLLIN, 0};
    const Wait w = waitFor(fds.data(), static_cast<nfds_t>(count), timeoutMs);
    if (w == Wait::Failed) {
        waitFailed(g, w);
        sockReportError("sockWait: select() failed");
        return -1;
    }
    if (w == Wait::Abandoned) {
        waitFailed(g, w);
        logWrite("sockWait: wait abandoned by the host\n");
        return -1;
    }
    if (w == Wait::TimedOut) {
        setError(g, sockerr::kTimedOut);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        const short re = fds[static_cast<std::size_t>(i)].revents;
        ready[i] = socks[i] >= 0 && (re & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
        n += ready[i];
    }
    return n;
}

} // namespace

int sockWait(int count, const int* socks, int* ready, int timeoutMs)
{
    return waitOnSockets(count, socks, ready, timeoutMs, true);
}

int sockWaitNoBound(int count, const int* socks, int* ready)
{
    return waitOnSockets(count, socks, ready, 0, false);
}

} // namespace zs::k8bus
