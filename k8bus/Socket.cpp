// The bus library's socket wrappers: the thread's socket state and its timeouts, connect, send
// every byte, receive an exact count through the read-ahead, close, options and addresses.
// Waits and the yield hook, the proxy thread, the listen table and the error numbers live in the
// files next to this one.

#include "Socket.h"

#include "ErrorLog.h"
#include "Profile.h"
#include "Socket_p.h"
#include "TraceLog.h"
#include "text/Ascii.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

namespace zs::k8bus {

using namespace sockio;

namespace {

// The largest bound the profile may set, in seconds: one day.
constexpr long kMaxWaitBoundSeconds = 24L * 3600;

// A profile value that sets no bound is said in the trace once per text, whichever thread
// reads it first.
void reportBadWaitBound(const std::string& value)
{
    static std::mutex lock;
    static std::optional<std::string> said;
    {
        std::lock_guard guard(lock);
        if (said == value)
            return;
        said = value;
    }
    logWritef("sockInit: %s '%s' is not a number of seconds from 0 (no bound) to %ld; every wait keeps the "
              "default bound of %d seconds\n",
              kWaitTimeoutKey, value.c_str(), kMaxWaitBoundSeconds, kDefaultWaitBoundMs / 1000);
}

// The bound of every wait: "Kor8 Bus" / K8WaitTimeout in seconds (0: no bound), else the default.
int profileWaitBound()
{
    std::string value;
    if (GetKorviProfileString("Kor8 Bus", kWaitTimeoutKey, "", value, 80) <= 0)
        return kDefaultWaitBoundMs;
    std::string_view text = text::trim(value);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long seconds = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size() && seconds >= 0 &&
        seconds <= kMaxWaitBoundSeconds)
        return static_cast<int>(seconds * 1000);
    reportBadWaitBound(value);
    return kDefaultWaitBoundMs;
}

int doConnect(SockGlobals* g, const char* host, int port)
{
    // This computer is reached over the loopback address: its own name may not resolve, or
    // resolve to an address nothing listens on.
    std::string address = "127.0.0.1";
    const bool local =
        !host || !std::strcmp(host, ".") || !std::strcmp(host, "localhost") || !std::strcmp(host, "LOCALHOST");
    if (!local && !lookupHost(g, host, address)) {
        if (g->lastSockError != sockerr::kInterrupted)
            setError(g, sockerr::kHostNotFound);
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

namespace sockio {

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

} // namespace sockio

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
        g->boundSetByCaller = true;
        if (g->timeouts.bound < 0)
            g->timeouts.bound = kDefaultWaitBoundMs;
    }
}

void sockReadWaitBound()
{
    SockGlobals* g = sockGlobals();
    if (g && !g->boundSetByCaller)
        g->timeouts.bound = profileWaitBound();
}

ScopedElementWait::ScopedElementWait()
{
    SockGlobals* g = sockGlobals();
    if (!g)
        return;
    m_previous = g->elementDeadline;
    // The reads of an element inside another are the outer one's.
    if (!m_previous && g->timeouts.bound > 0)
        g->elementDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g->timeouts.bound);
}

ScopedElementWait::~ScopedElementWait()
{
    if (SockGlobals* g = sockGlobals())
        g->elementDeadline = m_previous;
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

int sockSend(int sock, const unsigned char* bytes, int length, bool secret)
{
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
        setError(g, sockerr::kNotConnected);
        logWritef("sockSend: error, sockLastErrNo %d\n", sockerr::kNotConnected);
        logWrite("sockSend: failed\n");
        return -1;
    }
    // Each wait for room to send has the bound; any bytes that go start the next wait afresh, so
    // a peer that reads slowly is served and one that stops reading fails the send.
    int sent = 0;
    while (sent < length) {
        ssize_t n = ::send(sock, bytes + sent, static_cast<std::size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{sock, POLLOUT, 0};
            const Wait w = waitFor(&p, 1, waitLimit(g, 0));
            if (w == Wait::Ready)
                continue;
            waitFailed(g, w);
            n = -1;
        } else if (n <= 0) {
            setSysError(g, errno);
        }
        if (n <= 0) {
            const int e = g ? g->lastSockError : mapErrno(errno);
            if (e != 0 && e != sockerr::kClosed && e != sockerr::kInProgress && e != sockerr::kInterrupted) {
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
            setError(g, sockerr::kNone);
            why = " -- socket closed";
            break;
        }
        if (f == Fill::Error || f == Fill::Abandoned) {
            rb.pendingError = 0;
            if (f == Fill::Abandoned)
                setError(g, sockerr::kInterrupted);
            logWritef("sockRecv: sock %x, stat %d -- error\n", sock, -1);
            return -1;
        }
        if (f == Fill::Failed) {
            sockReportError("sockRecv: select() failed");
            return -1;
        }
        setError(g, sockerr::kTimedOut);
        why = " -- Timeout";
        if (logIsOn())
            logWritef("sockRecv: sock %x -- Timeout: len read %d, T/O values %ld / %ld\n", sock, got,
                      static_cast<long>(g->timeouts.firstRead), static_cast<long>(g->timeouts.nextRead));
        break;
    }
    if (*why)
        logWritef("sockRecv: sock %x, stat %d%s\n", sock, got, why);
    else if (logIsOn()) {
        // "sockRecv: sock %x, lenRead %d:\n", put together by hand: it is the line every
        // parameter of every reply writes.
        char line[64] = "sockRecv: sock ";
        char* p = line + std::strlen(line);
        p = std::to_chars(p, line + sizeof line, static_cast<unsigned>(sock), 16).ptr;
        std::memcpy(p, ", lenRead ", 10);
        p = std::to_chars(p + 10, line + sizeof line - 2, got).ptr;
        *p++ = ':';
        *p++ = '\n';
        logWrite(line, p - line);
        logDump(buffer, static_cast<std::size_t>(got), 1);
    }
    return got;
}

bool sockClose(int sock)
{
    SockGlobals* g = sockGlobals();
    if (sock < 0 || !g)
        return false;
    if (sock != g->acceptedSocket && listenRelease(sock))
        return true;
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

} // namespace zs::k8bus
