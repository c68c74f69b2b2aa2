#include "Socket.h"

#include "ErrorLog.h"
#include "EventLog.h"
#include "Profile.h"
#include "TraceLog.h"
#include "threadglob/ThreadGlob.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

namespace zs::k8bus {
namespace {

// A wait with a yield hook polls in slices this long, so the host's timers and clicks are
// served while a task runs.
constexpr int kSliceMs = 10;
// Bytes read ahead per socket: a whole reply usually arrives in one piece and is then taken
// parameter by parameter from memory.
constexpr std::size_t kReadAhead = 16 * 1024;
// The most of one send the trace shows: the largest bus message.
constexpr std::size_t kMaxDump = 65536;

int mapErrno(int e)
{
    switch (e) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return -3;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case EOPNOTSUPP:
        return 10045;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
        return -2;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return 10000 + e; // unknown to Winsock: kept distinguishable
    }
}

// A host-name lookup carried out by the proxy thread. Shared with it: a caller whose wait ends
// first (its bound, or the host's stop) leaves the request behind, and the proxy thread finishes it.
struct LookupRequest {
    std::string name;
    std::atomic<bool> done{false};
    bool found = false;
    std::string address;
    int error = 0;
};
// Ends the proxy thread.
struct EndRequest {};
using ProxyRequest = std::variant<std::shared_ptr<LookupRequest>, EndRequest>;

// The proxy thread of one calling thread: a queue of typed requests, an eventfd that announces
// them and one that announces each finished request.
class SockProxy {
  public:
    ~SockProxy() { stop(); }
    bool start(const void* owner);
    void stop();
    bool running() const { return m_thread.joinable(); }
    bool post(ProxyRequest r);
    int replyFd() const { return m_replyFd; }

  private:
    void run();

    std::mutex m_lock;
    std::deque<ProxyRequest> m_queue;
    int m_requestFd = -1;
    int m_replyFd = -1;
    std::thread m_thread;
};

// What a socket has read ahead of its caller.
struct RecvBuffer {
    int sock = -1;
    std::vector<unsigned char> bytes;
    std::size_t begin = 0, end = 0;
    bool blocking = true;    ///< the descriptor blocks: a wait is the read itself, bounded by SO_RCVTIMEO
    int receiveTimeout = -1; ///< the SO_RCVTIMEO last set, in milliseconds
    int pendingError = 0;    ///< an errno met while reading ahead, given to the next read
    std::size_t available() const { return end - begin; }
};

struct SockGlobals : ThreadSlotState {
    SockDeadline callDeadline; ///< the running call's deadline (ScopedCallDeadline)
    int lastSockError = 0;
    int lastSysError = 0; ///< the errno behind lastSockError, 0 for time-outs and closes
    SockTimeouts timeouts;
    std::string peerAddress;
    int acceptedSocket = -1;
    int peerPort = 0;
    int currentListenEntry = -1;
    bool proxyOn = true;
    SockProxy proxy;
    // Shared with a read under way: the host's events, run from inside its wait, may read from
    // or close other sockets of the thread (or this one) without pulling the buffer from under it.
    std::vector<std::shared_ptr<RecvBuffer>> buffers;

    std::shared_ptr<RecvBuffer> buffer(int sock, bool make)
    {
        for (const auto& b : buffers)
            if (b->sock == sock)
                return b;
        if (!make)
            return nullptr;
        auto b = std::make_shared<RecvBuffer>();
        b->sock = sock;
        b->bytes.resize(kReadAhead);
        const int flags = ::fcntl(sock, F_GETFL, 0);
        b->blocking = flags >= 0 && !(flags & O_NONBLOCK);
        buffers.push_back(b);
        return b;
    }
    // A descriptor number that is closed, or given to a new socket, must not keep old bytes.
    void forget(int sock)
    {
        std::erase_if(buffers, [sock](const auto& b) { return b->sock == sock; });
    }
};

thread_local YieldHook t_hook;
thread_local bool t_inHook = false;

SockGlobals* sockGlobals()
{
    return threadSlotAs<SockGlobals>(kSlotSocket);
}

void setError(SockGlobals* g, int n)
{
    if (g) {
        g->lastSockError = n;
        g->lastSysError = 0;
    }
}

void setSysError(SockGlobals* g, int e)
{
    if (g) {
        g->lastSockError = mapErrno(e);
        g->lastSysError = e;
    }
}

int capped(int ms, int bound)
{
    return ms > 0 && ms < bound ? ms : bound;
}

// How long a wait may last: `ms` (0 or less: no limit of its own) within the bound, and never
// past the running call's deadline.
int waitLimit(const SockGlobals* g, int ms)
{
    if (!g)
        return capped(ms, kDefaultWaitBoundMs);
    int limit = capped(ms, g->timeouts.bound);
    if (g->callDeadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*g->callDeadline - std::chrono::steady_clock::now())
                .count();
        limit = static_cast<int>(std::clamp<long long>(left, 0, limit));
    }
    return limit;
}

// Runs the thread's yield hook; a wait inside it (the host's events may call the library) does
// not run the hook again.
bool yieldToHost()
{
    struct InHook {
        InHook() { t_inHook = true; }
        ~InHook() { t_inHook = false; }
    } inHook;
    return t_hook();
}

// ---- waits ------------------------------------------------------------------------------------

enum class Wait { Ready, TimedOut, Failed, Abandoned };

// The time line of one wait of `timeoutMs`: with a yield hook on the thread it runs in slices
// with the hook between them; a nested wait (inside the hook) does not call the hook again.
class Slices {
  public:
    explicit Slices(int timeoutMs)
        : m_useHook(t_hook && !t_inHook)
        , m_deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs))
    {}

    /// How long the next slice may wait.
    int next()
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
        m_leftMs = static_cast<int>(std::max<long long>(left.count(), 0));
        m_slice = m_useHook ? std::min(m_leftMs, kSliceMs) : m_leftMs;
        return m_slice;
    }
    /// The slice just waited reached the deadline.
    bool last() const { return m_leftMs <= m_slice; }
    /// Runs the hook between slices; true when it gives up the wait. The call's output so far
    /// is written first: the host may run for a while, and the wait may be a long one.
    bool abandoned() const
    {
        if (!m_useHook)
            return false;
        flushCallOutput();
        return !yieldToHost();
    }

  private:
    bool m_useHook;
    std::chrono::steady_clock::time_point m_deadline;
    int m_leftMs = 0;
    int m_slice = 0;
};

// Polls until a descriptor is ready or `timeoutMs` has passed, in the slices of Slices; a hook
// that gives false abandons the wait.
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
        setError(g, 10060);
        break;
    case Wait::Abandoned:
        setError(g, kSockInterrupted);
        break;
    case Wait::Failed:
        setSysError(g, errno);
        break;
    }
    return false;
}

enum class Fill { Data, Closed, Error, TimedOut, Abandoned, Failed };

// Reads what the socket has into its empty read-ahead, waiting up to `timeoutMs` for the first
// byte. On a blocking socket the read itself is the wait (bounded by SO_RCVTIMEO, set only when
// it changes), so a reply costs one system call; otherwise poll and read. With a yield hook the
// wait runs in slices with the hook between them, as waitFor does.
Fill fill(SockGlobals* g, RecvBuffer& rb, int timeoutMs)
{
    Slices slices(timeoutMs);
    for (;;) {
        const int slice = slices.next();
        ssize_t n;
        if (rb.blocking && slice > 0) {
            if (rb.receiveTimeout != slice) {
                timeval tv{slice / 1000, (slice % 1000) * 1000};
                ::setsockopt(rb.sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                rb.receiveTimeout = slice;
            }
            n = ::recv(rb.sock, rb.bytes.data(), rb.bytes.size(), 0);
        } else {
            n = ::recv(rb.sock, rb.bytes.data(), rb.bytes.size(), MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && slice > 0) {
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

// ---- the proxy thread -------------------------------------------------------------------------

bool resolve(const char* name, in_addr& out)
{
    if (::inet_pton(AF_INET, name, &out) == 1)
        return std::strcmp(name, "255.255.255.255") != 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &res) != 0 || !res)
        return false;
    out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    ::freeaddrinfo(res);
    return true;
}

bool SockProxy::start(const void* owner)
{
    m_requestFd = ::eventfd(0, EFD_CLOEXEC);
    m_replyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_requestFd < 0 || m_replyFd < 0) {
        logWrite("initSockProxy: Error creating events for sock Proxy thread\n");
        return false;
    }
    try {
        m_thread = std::thread([this, owner] {
            logWritef("sockProxyThread: thread %lx starting: pGlob %p, hProxyRequest/ReplyEvent %x/%x\n",
                      static_cast<unsigned long>(::syscall(SYS_gettid)), owner, m_requestFd, m_replyFd);
            run();
            logWrite("sockProxyThread: thread terminating\n");
        });
    } catch (...) {
        logWrite("sockInit: _beginthread failed\n");
        return false;
    }
    logWrite("sockInit: _beginthread successfull\n");
    return true;
}

void SockProxy::stop()
{
    if (m_thread.joinable()) {
        if (post(EndRequest{}))
            m_thread.join();
        else
            m_thread.detach();
    }
    if (m_requestFd >= 0)
        ::close(m_requestFd);
    if (m_replyFd >= 0)
        ::close(m_replyFd);
    m_requestFd = m_replyFd = -1;
}

bool SockProxy::post(ProxyRequest r)
{
    {
        std::lock_guard lock(m_lock);
        m_queue.push_back(std::move(r));
    }
    std::uint64_t one = 1;
    return ::write(m_requestFd, &one, sizeof one) == sizeof one;
}

void SockProxy::run()
{
    for (;;) {
        std::uint64_t v = 0;
        if (::read(m_requestFd, &v, sizeof v) != sizeof v) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (;;) {
            ProxyRequest r;
            {
                std::lock_guard lock(m_lock);
                if (m_queue.empty())
                    break;
                r = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (std::holds_alternative<EndRequest>(r))
                return;
            auto& lookup = *std::get<std::shared_ptr<LookupRequest>>(r);
            in_addr a{};
            errno = 0;
            lookup.found = resolve(lookup.name.c_str(), a);
            lookup.error = lookup.found ? 0 : errno;
            if (lookup.found) {
                char text[INET_ADDRSTRLEN];
                ::inet_ntop(AF_INET, &a, text, sizeof text);
                lookup.address = text;
            }
            lookup.done.store(true, std::memory_order_release);
            std::uint64_t one = 1;
            if (::write(m_replyFd, &one, sizeof one) != sizeof one) {
                logWrite("signalEvent: SetEvent failed\n");
                return;
            }
        }
    }
}

// Looks a host name up: on the proxy thread while the caller waits (and yields), else here.
bool lookupHost(SockGlobals* g, const char* name, std::string& address)
{
    if (!g || !g->proxyOn || !g->proxy.running()) {
        in_addr a{};
        if (!resolve(name, a))
            return false;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &a, text, sizeof text);
        address = text;
        return true;
    }
    auto request = std::make_shared<LookupRequest>();
    request->name = name;
    if (!g->proxy.post(request)) {
        setSysError(g, errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitLimit(g, 0));
    while (!request->done.load(std::memory_order_acquire)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{g->proxy.replyFd(), POLLIN, 0};
        const Wait w = left.count() > 0 ? waitFor(&p, 1, static_cast<int>(left.count())) : Wait::TimedOut;
        if (w != Wait::Ready)
            return waitFailed(g, w);
        std::uint64_t v = 0;
        (void)::read(g->proxy.replyFd(), &v, sizeof v); // resets the count; each finished request signals
    }
    if (!request->found)
        return false;
    address = request->address;
    return true;
}

bool initSockProxy(SockGlobals* g)
{
    if (!g->proxyOn) {
        logWrite("initSockProxy: bProxyRequest=FALSE -- noop\n");
        return true;
    }
    if (!g->proxy.start(g)) {
        g->proxyOn = false;
        return false;
    }
    return true;
}

// The bound of every wait: "Kor8 Bus" / K8WaitTimeout in seconds, else the default.
int profileWaitBound()
{
    std::string value;
    if (GetKorviProfileString("Kor8 Bus", kWaitTimeoutKey, "", value, 80) > 0) {
        char* end = nullptr;
        const long seconds = std::strtol(value.c_str(), &end, 10);
        if (end != value.c_str() && seconds >= 1 && seconds <= 24L * 3600)
            return static_cast<int>(seconds * 1000);
    }
    return kDefaultWaitBoundMs;
}

// ---- listen table ---------------------------------------------------------------------------

struct ListenEntry {
    int port = -1;
    int sock = -1;
    bool inUse = false;
};
constexpr int kListenEntries = 1001;
std::mutex CritListenTable;
std::array<ListenEntry, kListenEntries> g_listen;
int g_listenHighest = -1;

// The entry for `port` (1 located) or a reserved free one (0); -1 when the table is full.
int listenFindPort(int& port, int& entry)
{
    std::lock_guard lock(CritListenTable);
    int freeEntry = -1;
    for (int i = 0; i <= g_listenHighest; ++i) {
        auto& e = g_listen[static_cast<std::size_t>(i)];
        if (e.sock != -1) {
            if (e.port == port || (port == 0 && !e.inUse)) {
                port = e.port;
                e.inUse = true;
                entry = i;
                return 1;
            }
        } else if (freeEntry < 0) {
            freeEntry = i;
        }
    }
    if (freeEntry < 0) {
        if (g_listenHighest + 1 >= kListenEntries) {
            logWrite("listenFindPort: no entry found & table is full <<<<<\n");
            entry = -1;
            return -1;
        }
        freeEntry = ++g_listenHighest;
    }
    auto& e = g_listen[static_cast<std::size_t>(freeEntry)];
    e.port = port;
    e.sock = 0;
    e.inUse = true;
    entry = freeEntry;
    return 0;
}

void listenFree(int entry)
{
    std::lock_guard lock(CritListenTable);
    if (entry < 0 || entry >= kListenEntries)
        return;
    g_listen[static_cast<std::size_t>(entry)] = ListenEntry{};
    if (entry == g_listenHighest)
        --g_listenHighest;
}

int listenFindSock(int sock)
{
    std::lock_guard lock(CritListenTable);
    for (int i = 0; i <= g_listenHighest; ++i)
        if (g_listen[static_cast<std::size_t>(i)].sock == sock && sock > 0)
            return i;
    return -1;
}

int doAccept(SockGlobals* g, int port)
{
    logWritef("doAccept: entry, port %d\n", port);
    int entry = -1;
    int found = listenFindPort(port, entry);
    if (found != 1) {
        if (found == 0)
            listenFree(entry);
        logWritef("doAccept: not listening on port %d -- fail\n", port);
        return -1;
    }
    g->currentListenEntry = entry;
    int lsock;
    {
        std::lock_guard lock(CritListenTable);
        lsock = g_listen[static_cast<std::size_t>(entry)].sock;
    }
    const int wait = waitLimit(g, g->timeouts.accept);
    logWritef("doAccept:< accept, socket %lx, Timeout %ld\n", static_cast<unsigned long>(lsock),
              static_cast<long>(wait));
    // The listening socket never blocks: a caller that went away between the readiness and the
    // accept sends us back to waiting for the rest of the time.
    const int flags = ::fcntl(lsock, F_GETFL, 0);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(lsock, F_SETFL, flags | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
    sockaddr_in peer{};
    int s = -1;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{lsock, POLLIN, 0};
        const Wait w = left > 0 ? waitFor(&p, 1, static_cast<int>(left)) : Wait::TimedOut;
        if (w == Wait::TimedOut) {
            logWritef("doAccept: timeout %ld millisecs expired: sock %lx, port %d\n", static_cast<long>(wait),
                      static_cast<unsigned long>(lsock), port);
            setError(g, 0);
            return -1;
        }
        if (w != Wait::Ready) {
            waitFailed(g, w);
            if (w == Wait::Failed)
                sockReportError("doAccept: socket select() failed");
            return -1;
        }
        socklen_t plen = sizeof peer;
        s = ::accept4(lsock, reinterpret_cast<sockaddr*>(&peer), &plen, SOCK_CLOEXEC);
        if (s >= 0)
            break;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
            setSysError(g, errno);
            sockReportError("doAccept: socket accept() failed");
            return -1;
        }
    }
    g->forget(s);
    g->acceptedSocket = s;
    char text[INET_ADDRSTRLEN] = "??";
    if (peer.sin_family == AF_INET) {
        if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text))
            std::strcpy(text, "??");
        g->peerAddress = text;
        g->peerPort = ntohs(peer.sin_port);
    } else {
        g->peerAddress = "non-Inet address family " + std::to_string(peer.sin_family);
        g->peerPort = -1;
    }
    logWritef("doAccept: socket accept: %s, socket %x\n", g->peerAddress.c_str(), s);
    int one = 1;
    sockSetOption(s, 1, 1, &one, sizeof one, "SO_KEEPALIVE");
    return s;
}

int doConnect(SockGlobals* g, const char* host, int port)
{
    // This computer is reached over the loopback address: its own name may not resolve, or
    // resolve to an address nothing listens on.
    std::string address = "127.0.0.1";
    const bool local =
        !host || !std::strcmp(host, ".") || !std::strcmp(host, "localhost") || !std::strcmp(host, "LOCALHOST");
    if (!local && !lookupHost(g, host, address)) {
        if (g->lastSockError != kSockInterrupted)
            setError(g, 11001);
        sockReportError("doConnect: gethostbyname failed");
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    // Non-blocking while it connects: the connect is bounded.
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) {
        setSysError(g, errno);
        sockReportError("doConnect: socket() failed");
        return -1;
    }
    g->forget(s);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{s, POLLOUT, 0};
        const Wait w = waitFor(&p, 1, waitLimit(g, g->timeouts.connect));
        if (w == Wait::Ready) {
            int soErr = 0;
            socklen_t len = sizeof soErr;
            ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soErr, &len);
            ok = soErr == 0;
            if (!ok)
                setSysError(g, soErr);
        } else {
            waitFailed(g, w);
        }
    } else if (!ok) {
        setSysError(g, errno);
    }
    if (!ok) {
        char text[300];
        std::snprintf(text, sizeof text, "doConnect: connect failed: Host '%s', port %d", host ? host : "", port);
        sockReportError(text);
        ::close(s);
        return -1;
    }
    // Connected: the socket blocks again, so that a read is its own wait (see fill()).
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags >= 0)
        ::fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // requests are written whole
    logWritef("doConnect: sock %x, port %d\n", s, port);
    return s;
}

} // namespace

bool sockInit()
{
    if (sockGlobals())
        return true;
    logWrite("sockInit: thread FirstTime\n");
    auto fresh = std::make_unique<SockGlobals>();
    SockGlobals* g = fresh.get();
    if (!threadSetSlot(kSlotSocket, std::move(fresh))) {
        logWrite("sockInit: thSetThreadLocals failed\n");
        return false;
    }
    g->timeouts.bound = profileWaitBound();
    if (!initSockProxy(g)) {
        logWrite("sockInit: initSockProxy failed\n");
        return false;
    }
    return true;
}

bool sockProxyActive()
{
    SockGlobals* g = sockGlobals();
    return g && g->proxyOn && g->proxy.running();
}

SockTimeouts sockGetTimeouts()
{
    SockGlobals* g = sockGlobals();
    return g ? g->timeouts : SockTimeouts{};
}

void sockSetTimeouts(const SockTimeouts& t)
{
    sockInit();
    if (SockGlobals* g = sockGlobals()) {
        g->timeouts = t;
        if (g->timeouts.bound <= 0)
            g->timeouts.bound = kDefaultWaitBoundMs;
    }
}

SockDeadline sockSetCallDeadline(SockDeadline deadline)
{
    SockGlobals* g = sockGlobals();
    if (!g)
        return std::nullopt;
    SockDeadline previous = g->callDeadline;
    g->callDeadline = deadline;
    return previous;
}

YieldHook sockSetYieldHook(YieldHook hook)
{
    YieldHook previous = std::move(t_hook);
    t_hook = std::move(hook);
    return previous;
}

int sockOpen(const char* host, int port, bool listen)
{
    SockGlobals* g = sockGlobals();
    if (!g && !sockInit())
        return -1;
    g = sockGlobals();
    logWritef("sockOpen: entry: port %d, listen=%s\n", port, listen ? "TRUE" : "FALSE");
    return listen ? doAccept(g, port) : doConnect(g, host, port);
}

bool sockListenRegister(int port, int sock)
{
    int entry = -1;
    int p = port;
    if (listenFindPort(p, entry) < 0)
        return false;
    std::lock_guard lock(CritListenTable);
    g_listen[static_cast<std::size_t>(entry)].sock = sock;
    g_listen[static_cast<std::size_t>(entry)].inUse = false;
    return true;
}

void sockListenUnregister(int port)
{
    int entry = -1;
    {
        std::lock_guard lock(CritListenTable);
        for (int i = 0; i <= g_listenHighest; ++i)
            if (g_listen[static_cast<std::size_t>(i)].port == port && g_listen[static_cast<std::size_t>(i)].sock != -1)
                entry = i;
    }
    if (entry >= 0)
        listenFree(entry);
}

int sockSend(int sock, const unsigned char* bytes, int length, bool secret)
{
    const auto start = std::chrono::steady_clock::now();
    SockGlobals* g = sockGlobals();
    if (logIsOn()) {
        logWritef("sockSend: %ssock %x, buflen %d:\r\n", sock == -1 ? "Socket not open -- " : "", sock, length);
        if (secret) {
            logWrite(" [bytes withheld: the message carries credentials]\n");
        } else {
            // A bus message is at most 64 KiB; what goes beyond that is counted, not shown.
            const std::size_t shown = std::min<std::size_t>(length > 0 ? length : 0, kMaxDump);
            logDump(bytes, shown, 1);
            if (static_cast<std::size_t>(length) > shown)
                logWritef(" [%zu more bytes not shown]\n", static_cast<std::size_t>(length) - shown);
        }
    }
    if (length <= 0)
        return 0;
    if (sock < 0) {
        // A session whose connection was ended (it was out of step) sends nothing.
        setError(g, 10057);
        logWritef("sockSend: error, sockLastErrNo %d\n", 10057);
        logWrite("sockSend: failed\n");
        return -1;
    }
    // The whole message goes within one deadline (the call's, else the bound from its first
    // byte), however the peer drips its reading.
    const auto deadline = start + std::chrono::milliseconds(waitLimit(g, 0));
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(sock, bytes + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A peer that stops reading fills the socket's buffer.
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{sock, POLLOUT, 0};
            const Wait w = left.count() > 0 ? waitFor(&p, 1, static_cast<int>(left.count())) : Wait::TimedOut;
            if (w == Wait::Ready)
                continue;
            waitFailed(g, w);
            n = -1;
        } else if (n <= 0) {
            setSysError(g, errno);
        }
        if (n <= 0) {
            const int e = g ? g->lastSockError : mapErrno(errno);
            if (e != 0 && e != -2 && e != -3 && e != kSockInterrupted) {
                logWritef("sockSend: error, sockLastErrNo %d\n", e);
                sockReportError("sockSend: send failed");
            }
            logWrite("sockSend: failed\n");
            return -1;
        }
        sent += static_cast<int>(n);
    }
    return length;
}

int sockRecv(int sock, unsigned char* buffer, int length)
{
    SockGlobals* g = sockGlobals();
    if (!g) {
        logWrite("sockRecv: pGlob null\r\n");
        return -1;
    }
    if (sock < 0) {
        logWrite("sockRecv: invalid sock\n");
        return -1;
    }
    if (length <= 0) {
        logWrite("sockRecv: buflen <= 0\n");
        return 0;
    }
    const std::shared_ptr<RecvBuffer> held = g->buffer(sock, true);
    RecvBuffer& rb = *held;
    int got = 0;
    auto take = [&] {
        const std::size_t n = std::min(rb.available(), static_cast<std::size_t>(length - got));
        std::memcpy(buffer + got, rb.bytes.data() + rb.begin, n);
        rb.begin += n;
        got += static_cast<int>(n);
        if (rb.begin == rb.end)
            rb.begin = rb.end = 0;
    };
    take();
    int wait = waitLimit(g, g->timeouts.firstRead);
    bool readOnce = got > 0;
    const char* why = "";
    while (got < length) {
        if (readOnce) {
            if (g->timeouts.nextRead == -1) {
                logWritef("sockRecv: sock %x, len read %d -- Nowait mode\n", sock, got);
                break;
            }
            wait = waitLimit(g, g->timeouts.nextRead);
        }
        if (rb.pendingError) {
            setSysError(g, rb.pendingError);
            rb.pendingError = 0;
            logWritef("sockRecv: sock %x, stat %d -- error\n", sock, -1);
            return -1;
        }
        const Fill f = fill(g, rb, wait);
        if (f == Fill::Data) {
            take();
            readOnce = true;
            continue;
        }
        if (f == Fill::Closed) {
            setError(g, 0);
            why = " -- socket closed";
            break;
        }
        if (f == Fill::Error || f == Fill::Abandoned) {
            rb.pendingError = 0;
            if (f == Fill::Abandoned)
                setError(g, kSockInterrupted);
            logWritef("sockRecv: sock %x, stat %d -- error\n", sock, -1);
            return -1;
        }
        if (f == Fill::Failed) {
            sockReportError("sockRecv: select() failed");
            return -1;
        }
        setError(g, 10060);
        why = " -- Timeout";
        if (logIsOn())
            logWritef("sockRecv: sock %x -- Timeout: len read %d, T/O values %ld / %ld\n", sock, got,
                      static_cast<long>(g->timeouts.firstRead), static_cast<long>(g->timeouts.nextRead));
        break;
    }
    if (*why)
        logWritef("sockRecv: sock %x, stat %d%s\n", sock, got, why);
    else if (logIsOn()) {
        logWritef("sockRecv: sock %x, lenRead %d:\n", sock, got);
        logDump(buffer, static_cast<std::size_t>(got), 1);
    }
    return got;
}

int sockWait(int count, const int* socks, int* ready, int timeoutMs)
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
    // Under one second the original waited without limit; every wait has a bound here.
    if (timeoutMs < 1000)
        timeoutMs = g->timeouts.bound;
    timeoutMs = waitLimit(g, timeoutMs);
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
            setError(g, 10060);
            return 0;
        case Fill::Abandoned:
            setError(g, kSockInterrupted);
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
        setError(g, 10060);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        const short re = fds[static_cast<std::size_t>(i)].revents;
        ready[i] = socks[i] >= 0 && (re & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
        n += ready[i];
    }
    return n;
}

bool sockClose(int sock)
{
    SockGlobals* g = sockGlobals();
    if (sock < 0 || !g)
        return false;
    if (sock != g->acceptedSocket) {
        int entry = listenFindSock(sock);
        if (entry >= 0) {
            std::lock_guard lock(CritListenTable);
            g_listen[static_cast<std::size_t>(entry)].inUse = false;
            logWritef("sockClose: sock %x = listen[%d]\n           close skipped\n", sock, entry);
            return true;
        }
    }
    logWritef("sockClose: sock %x\n", sock);
    g->forget(sock);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    logWritef("closeSocket: %x\n", sock);
    if (sock == g->acceptedSocket)
        g->acceptedSocket = -1;
    return true;
}

bool sockSetOption(int sock, int level, int option, const void* value, int length, const char* name)
{
    int lvl;
    switch (level) {
    case 1:
        lvl = SOL_SOCKET;
        break;
    case 2:
        lvl = IPPROTO_TCP;
        break;
    default:
        logWritef("getSockOptLevel: invalid level %d\n", level);
        return false;
    }
    int opt;
    switch (option) {
    case 1:
        opt = SO_KEEPALIVE;
        break;
    case 2:
        opt = SO_RCVBUF;
        break;
    case 3:
        opt = SO_SNDBUF;
        break;
    case 4:
        opt = TCP_NODELAY;
        break;
    case 5:
        opt = SO_LINGER;
        break;
    case 6:
        opt = SO_REUSEADDR;
        break;
    default:
        logWritef("getSockOptLevel: invalid OptName %d\n", option);
        return false;
    }
    if (::setsockopt(sock, lvl, opt, value, static_cast<socklen_t>(length)) != 0) {
        setSysError(sockGlobals(), errno);
        char text[200];
        if (length == 4)
            std::snprintf(text, sizeof text, "sockSetOption: >>> setsockopt %s=%d failed <<<", name,
                          *static_cast<const int*>(value));
        else
            std::snprintf(text, sizeof text, "sockSetOption: >>> setsockopt %s=... failed <<<", name);
        sockReportError(text);
        return false;
    }
    return true;
}

bool sockGetHostAddress(const char* host, std::string& out, std::size_t room)
{
    out.clear();
    char own[256] = {};
    const bool local =
        !host || !std::strcmp(host, ".") || !std::strcmp(host, "localhost") || !std::strcmp(host, "LOCALHOST");
    // This computer's address does not change while the process runs: look it up once, so
    // every new thread does not wait on the resolver again.
    static std::mutex ownLock;
    static std::optional<std::string> ownAddress;
    if (local) {
        std::lock_guard lock(ownLock);
        if (ownAddress) {
            out = ownAddress->substr(0, room);
            return !ownAddress->empty();
        }
    }
    if (local) {
        if (::gethostname(own, sizeof own - 1) != 0) {
            sockReportError("sockGetHostAddress: gethostname failed");
            return false;
        }
        host = own;
    }
    std::string address;
    const bool ok = lookupHost(sockGlobals(), host, address);
    if (ok)
        out = address.substr(0, room);
    if (local) {
        std::lock_guard lock(ownLock);
        ownAddress = ok ? address : std::string();
    }
    logWritef("sockGetHostAddress: '%s' to '%s'%s\n", host, out.c_str(), ok ? "" : " -- Failed");
    return ok;
}

int sockGetLastErrorNo()
{
    SockGlobals* g = sockGlobals();
    return g ? g->lastSockError : 0;
}

void sockSetLastErrorNo(int n)
{
    setError(sockGlobals(), n);
}

const char* sockErrorText(int n)
{
    struct Entry {
        int n;
        const char* text;
    };
    static const Entry kTexts[] = {
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Access denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol is wrong type for socket"},
        {10042, "Bad protocol option"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "ICMP network unreachable"},
        {10052, "Network was reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space is supported"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "Name too long"},
        {10064, "Host is down"},
        {10065, "Host is unreachable"},
        {10066, "Directory not empty"},
        {10067, "EPROCLIM returned"},
        {10068, "EUSERS returned"},
        {10069, "Disk quota exceeded"},
        {10070, "ESTALE returned"},
        {10071, "The object is remote"},
        {10091, "System not ready"},
        {10092, "Version is not supported"},
        {10093, "Not initialized"},
        {11001, "Host not found"},
        {11002, "Try again"},
        {11003, "Non-recoverable error"},
        {11004, "No data record available"},
    };
    for (const auto& e : kTexts)
        if (e.n == n)
            return e.text;
    return "Unknown";
}

std::string sockErrorDescription()
{
    const int sockErr = sockGetLastErrorNo();
    SockGlobals* g = sockGlobals();
    const int sysErr = g ? g->lastSysError : 0;
    if (sockErr == 0 && sysErr == 0)
        return "No error\n";
    char text[200];
    std::snprintf(text, sizeof text, "last WIN32 error %ld / winsock error %d: %s\n", static_cast<long>(sysErr),
                  sockErr, sockErrorText(sockErr));
    return text;
}

void sockReportError(const char* text)
{
    std::string line = text;
    line += "\n ";
    line += sockErrorDescription();
    errorOutput(line.c_str());
    eventReport(1, 0xC0000001u, {text});
}

} // namespace zs::k8bus
