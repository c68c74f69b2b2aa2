#include "Socket.h"

#include "ErrorLog.h"
#include "EventLog.h"
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

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace zs::k8bus {
namespace {

enum class ProxyOp { Recv = 0, PollRead = 1, Accept = 2, Connect = 3, Lookup = 4, End = 5 };

struct ProxyRequest {
    ProxyOp op = ProxyOp::End;
    long result = 0;
    int error = 0;
    int sock = -1;
    void* buffer = nullptr;
    std::size_t length = 0;
    int timeoutMs = 0;
    const char* name = nullptr;
    std::string* text = nullptr;
};

int mapErrno(int e)
{
    switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return -3;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE: return -2;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return 10000 + e; // unknown to Winsock: kept distinguishable
    }
}

struct SockGlobals : ThreadSlotState {
    int lastSockError = 0;
    int lastSysError = 0; ///< the errno behind lastSockError, 0 for time-outs and closes
    SockTimeouts timeouts;
    std::string peerAddress;
    int acceptedSocket = -1;
    int peerPort = 0;
    int currentListenEntry = -1;
    bool proxyOn = true;
    int requestFd = -1;
    int replyFd = -1;
    ProxyRequest* request = nullptr;
    std::thread proxy;

    ~SockGlobals() override
    {
        if (proxy.joinable()) {
            ProxyRequest end;
            end.op = ProxyOp::End;
            request = &end;
            std::uint64_t one = 1;
            if (::write(requestFd, &one, sizeof one) == sizeof one)
                proxy.join();
            else
                proxy.detach();
        }
        if (requestFd >= 0)
            ::close(requestFd);
        if (replyFd >= 0)
            ::close(replyFd);
    }
};

SockGlobals* sockGlobals() { return threadSlotAs<SockGlobals>(kSlotSocket); }

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

// ---- the blocking operations, run directly or on the proxy thread -------------------------

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

void execute(ProxyRequest& r)
{
    errno = 0;
    switch (r.op) {
    case ProxyOp::Recv:
        do
            r.result = ::recv(r.sock, r.buffer, r.length, 0);
        while (r.result < 0 && errno == EINTR);
        break;
    case ProxyOp::PollRead: {
        auto* fds = static_cast<pollfd*>(r.buffer);
        do
            r.result = ::poll(fds, r.length, r.timeoutMs);
        while (r.result < 0 && errno == EINTR);
        break;
    }
    case ProxyOp::Accept:
        r.result = ::accept4(r.sock, static_cast<sockaddr*>(r.buffer), reinterpret_cast<socklen_t*>(r.text),
                             SOCK_CLOEXEC);
        break;
    case ProxyOp::Connect: {
        // Non-blocking connect bounded by the time-out, then back to blocking.
        int flags = ::fcntl(r.sock, F_GETFL, 0);
        ::fcntl(r.sock, F_SETFL, flags | O_NONBLOCK);
        r.result = ::connect(r.sock, static_cast<sockaddr*>(r.buffer), static_cast<socklen_t>(r.length));
        if (r.result < 0 && errno == EINPROGRESS) {
            pollfd p{r.sock, POLLOUT, 0};
            int pr;
            do
                pr = ::poll(&p, 1, r.timeoutMs);
            while (pr < 0 && errno == EINTR);
            if (pr == 0) {
                errno = ETIMEDOUT;
                r.result = -1;
            } else if (pr > 0) {
                int soErr = 0;
                socklen_t len = sizeof soErr;
                ::getsockopt(r.sock, SOL_SOCKET, SO_ERROR, &soErr, &len);
                errno = soErr;
                r.result = soErr == 0 ? 0 : -1;
            } else {
                r.result = -1;
            }
        }
        int saved = errno;
        ::fcntl(r.sock, F_SETFL, flags);
        errno = saved;
        break;
    }
    case ProxyOp::Lookup: {
        in_addr a{};
        r.result = resolve(r.name, a) ? 1 : 0;
        if (r.result) {
            char text[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &a, text, sizeof text);
            *r.text = text;
        }
        break;
    }
    case ProxyOp::End: r.result = 0; break;
    }
    r.error = r.result < 0 ? errno : 0;
}

void proxyThread(SockGlobals* g, int requestFd, int replyFd)
{
    logWritef("sockProxyThread: thread %lx starting: pGlob %p, hProxyRequest/ReplyEvent %x/%x\n",
              static_cast<unsigned long>(::syscall(SYS_gettid)), static_cast<void*>(g), requestFd, replyFd);
    for (;;) {
        std::uint64_t v = 0;
        if (::read(requestFd, &v, sizeof v) != sizeof v) {
            if (errno == EINTR)
                continue;
            break;
        }
        ProxyRequest* r = g->request;
        const bool end = r->op == ProxyOp::End;
        execute(*r);
        if (end)
            break;
        std::uint64_t one = 1;
        if (::write(replyFd, &one, sizeof one) != sizeof one) {
            logWrite("signalEvent: SetEvent failed\n");
            break;
        }
    }
    logWrite("sockProxyThread: thread terminating\n");
}

// Runs the request on the proxy thread when it is on, else here.
void call(SockGlobals* g, ProxyRequest& r)
{
    if (g && g->proxyOn && g->proxy.joinable()) {
        g->request = &r;
        std::uint64_t one = 1;
        if (::write(g->requestFd, &one, sizeof one) == sizeof one) {
            std::uint64_t v = 0;
            ssize_t n;
            do
                n = ::read(g->replyFd, &v, sizeof v);
            while (n < 0 && errno == EINTR);
            g->request = nullptr;
            if (n == sizeof v) {
                if (r.result < 0)
                    setSysError(g, r.error);
                return;
            }
        }
        r.result = -1;
        r.error = errno;
        setSysError(g, r.error);
        return;
    }
    execute(r);
    if (r.result < 0)
        setSysError(g, r.error);
}

bool initSockProxy(SockGlobals* g)
{
    if (!g->proxyOn) {
        logWrite("initSockProxy: bProxyRequest=FALSE -- noop\n");
        return true;
    }
    g->requestFd = ::eventfd(0, EFD_CLOEXEC);
    g->replyFd = ::eventfd(0, EFD_CLOEXEC);
    if (g->requestFd < 0 || g->replyFd < 0) {
        logWrite("initSockProxy: Error creating events for sock Proxy thread\n");
        g->proxyOn = false;
        return false;
    }
    try {
        g->proxy = std::thread(proxyThread, g, g->requestFd, g->replyFd);
    } catch (...) {
        logWrite("sockInit: _beginthread failed\n");
        g->proxyOn = false;
        return false;
    }
    logWrite("sockInit: _beginthread successfull\n");
    return true;
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
    const int wait = g->timeouts.accept > 0 ? g->timeouts.accept : g->timeouts.bound;
    pollfd p{lsock, POLLIN, 0};
    ProxyRequest w;
    w.op = ProxyOp::PollRead;
    w.buffer = &p;
    w.length = 1;
    w.timeoutMs = wait;
    call(g, w);
    if (w.result == 0) {
        logWritef("doAccept: timeout %ld millisecs expired: sock %lx, port %d\n", static_cast<long>(wait),
                  static_cast<unsigned long>(lsock), port);
        setError(g, 0);
        return -1;
    }
    if (w.result < 0) {
        sockReportError("doAccept: socket select() failed");
        return -1;
    }
    sockaddr_in peer{};
    socklen_t plen = sizeof peer;
    ProxyRequest a;
    a.op = ProxyOp::Accept;
    a.sock = lsock;
    a.buffer = &peer;
    a.text = reinterpret_cast<std::string*>(&plen); // address-length slot of the request
    call(g, a);
    if (a.result < 0) {
        sockReportError("doAccept: socket accept() failed");
        return -1;
    }
    int s = static_cast<int>(a.result);
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
    const bool local = !host || !std::strcmp(host, ".") || !std::strcmp(host, "localhost") ||
                       !std::strcmp(host, "LOCALHOST");
    if (!local) {
        ProxyRequest l;
        l.op = ProxyOp::Lookup;
        l.name = host;
        l.text = &address;
        call(g, l);
        if (l.result != 1) {
            setError(g, 11001);
            sockReportError("doConnect: gethostbyname failed");
            return -1;
        }
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        setSysError(g, errno);
        sockReportError("doConnect: socket() failed");
        return -1;
    }
    ProxyRequest c;
    c.op = ProxyOp::Connect;
    c.sock = s;
    c.buffer = &addr;
    c.length = sizeof addr;
    c.timeoutMs = g->timeouts.connect > 0 ? g->timeouts.connect : g->timeouts.bound;
    call(g, c);
    if (c.result < 0) {
        char text[300];
        std::snprintf(text, sizeof text, "doConnect: connect failed: Host '%s', port %d", host ? host : "", port);
        sockReportError(text);
        ::close(s);
        return -1;
    }
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
    if (!initSockProxy(g)) {
        logWrite("sockInit: initSockProxy failed\n");
        return false;
    }
    return true;
}

bool sockProxyActive()
{
    SockGlobals* g = sockGlobals();
    return g && g->proxyOn && g->proxy.joinable();
}

SockTimeouts sockGetTimeouts()
{
    SockGlobals* g = sockGlobals();
    return g ? g->timeouts : SockTimeouts{};
}

void sockSetTimeouts(const SockTimeouts& t)
{
    sockInit();
    if (SockGlobals* g = sockGlobals())
        g->timeouts = t;
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
    SockGlobals* g = sockGlobals();
    if (logIsOn()) {
        logWritef("sockSend: %ssock %x, buflen %d:\r\n", sock == -1 ? "Socket not open -- " : "", sock, length);
        if (secret)
            logWrite(" [bytes withheld: the message carries credentials]\n");
        else
            logDump(bytes, static_cast<std::size_t>(length > 0 ? length : 0), 1);
    }
    if (length <= 0)
        return 0;
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(sock, bytes + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            setSysError(g, errno);
            const int e = g ? g->lastSockError : mapErrno(errno);
            if (e != 0 && e != -2 && e != -3) {
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
    int wait = g->timeouts.firstRead > 0 ? g->timeouts.firstRead : g->timeouts.bound;
    int got = 0;
    const char* why = "";
    for (;;) {
        pollfd p{sock, POLLIN, 0};
        ProxyRequest w;
        w.op = ProxyOp::PollRead;
        w.buffer = &p;
        w.length = 1;
        w.timeoutMs = wait;
        call(g, w);
        if (w.result < 0) {
            sockReportError("sockRecv: select() failed");
            return -1;
        }
        if (w.result == 0) {
            setError(g, 10060);
            why = " -- Timeout";
            break;
        }
        ProxyRequest r;
        r.op = ProxyOp::Recv;
        r.sock = sock;
        r.buffer = buffer + got;
        r.length = static_cast<std::size_t>(length - got);
        call(g, r);
        if (r.result == 0) {
            setError(g, 0);
            why = " -- socket closed";
            break;
        }
        if (r.result < 0) {
            logWritef("sockRecv: sock %x, stat %d -- error\n", sock, -1);
            return -1;
        }
        got += static_cast<int>(r.result);
        if (got >= length)
            break;
        if (g->timeouts.nextRead == -1) {
            logWritef("sockRecv: sock %x, len read %d -- Nowait mode\n", sock, got);
            break;
        }
        wait = g->timeouts.nextRead > 0 ? g->timeouts.nextRead : g->timeouts.bound;
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
    if (timeoutMs == -1)
        timeoutMs = g->timeouts.firstRead;
    // Under one second the original waited without limit; every wait has a bound here.
    if (timeoutMs < 1000)
        timeoutMs = g->timeouts.bound;
    std::array<pollfd, 64> fds{};
    for (int i = 0; i < count; ++i) {
        fds[static_cast<std::size_t>(i)] = pollfd{socks[i], POLLIN, 0};
        ready[i] = 0;
    }
    ProxyRequest w;
    w.op = ProxyOp::PollRead;
    w.buffer = fds.data();
    w.length = static_cast<std::size_t>(count);
    w.timeoutMs = timeoutMs;
    call(g, w);
    if (w.result < 0) {
        sockReportError("sockWait: select() failed");
        return -1;
    }
    if (w.result == 0) {
        setError(g, 10060);
        return 0;
    }
    int n = 0;
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
    case 1: lvl = SOL_SOCKET; break;
    case 2: lvl = IPPROTO_TCP; break;
    default: logWritef("getSockOptLevel: invalid level %d\n", level); return false;
    }
    int opt;
    switch (option) {
    case 1: opt = SO_KEEPALIVE; break;
    case 2: opt = SO_RCVBUF; break;
    case 3: opt = SO_SNDBUF; break;
    case 4: opt = TCP_NODELAY; break;
    case 5: opt = SO_LINGER; break;
    case 6: opt = SO_REUSEADDR; break;
    default: logWritef("getSockOptLevel: invalid OptName %d\n", option); return false;
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
    const bool local = !host || !std::strcmp(host, ".") || !std::strcmp(host, "localhost") ||
                       !std::strcmp(host, "LOCALHOST");
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
    ProxyRequest l;
    l.op = ProxyOp::Lookup;
    l.name = host;
    l.text = &address;
    call(sockGlobals(), l);
    const bool ok = l.result == 1;
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

void sockSetLastErrorNo(int n) { setError(sockGlobals(), n); }

const char* sockErrorText(int n)
{
    struct Entry {
        int n;
        const char* text;
    };
    static const Entry kTexts[] = {
        {10004, "Interrupted system call"}, {10009, "Bad file number"}, {10013, "Access denied"},
        {10014, "Bad address"}, {10022, "Invalid argument"}, {10024, "Too many open files"},
        {10035, "Operation would block"}, {10036, "Operation now in progress"},
        {10037, "Operation already in progress"}, {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"}, {10040, "Message too long"},
        {10041, "Protocol is wrong type for socket"}, {10042, "Bad protocol option"},
        {10043, "Protocol not supported"}, {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"}, {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"}, {10048, "Address already in use"},
        {10049, "Can't assign requested address"}, {10050, "Network is down"},
        {10051, "ICMP network unreachable"}, {10052, "Network was reset"},
        {10053, "Software caused connection abort"}, {10054, "Connection reset by peer"},
        {10055, "No buffer space is supported"}, {10056, "Socket is already connected"},
        {10057, "Socket is not connected"}, {10058, "Can't send after socket shutdown"},
        {10059, "Too many references"}, {10060, "Connection timed out"}, {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"}, {10063, "Name too long"}, {10064, "Host is down"},
        {10065, "Host is unreachable"}, {10066, "Directory not empty"}, {10067, "EPROCLIM returned"},
        {10068, "EUSERS returned"}, {10069, "Disk quota exceeded"}, {10070, "ESTALE returned"},
        {10071, "The object is remote"}, {10091, "System not ready"}, {10092, "Version is not supported"},
        {10093, "Not initialized"}, {11001, "Host not found"}, {11002, "Try again"},
        {11003, "Non-recoverable error"}, {11004, "No data record available"},
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
