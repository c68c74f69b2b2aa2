// The process-wide listen table (under CritListenTable): listening sockets registered by port,
// and the accept that takes a connection from one of them.

#include "Socket.h"

#include "ErrorLog.h"
#include "Socket_p.h"
#include "TraceLog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace zs::k8bus {

using namespace sockio;

namespace {

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

} // namespace

namespace sockio {

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
    const WaitSpan span(wait);
    sockaddr_in peer{};
    int s = -1;
    for (;;) {
        const int left = span.left();
        pollfd p{lsock, POLLIN, 0};
        const Wait w = left != 0 ? waitFor(&p, 1, left) : Wait::TimedOut;
        if (w == Wait::TimedOut) {
            logWritef("doAccept: timeout %ld millisecs expired: sock %lx, port %d\n", static_cast<long>(wait),
                      static_cast<unsigned long>(lsock), port);
            setError(g, sockerr::kNone);
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

bool listenRelease(int sock)
{
    int entry = listenFindSock(sock);
    if (entry < 0)
        return false;
    std::lock_guard lock(CritListenTable);
    g_listen[static_cast<std::size_t>(entry)].inUse = false;
    logWritef("sockClose: sock %x = listen[%d]\n           close skipped\n", sock, entry);
    return true;
}

} // namespace sockio

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

} // namespace zs::k8bus
