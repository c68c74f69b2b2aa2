// The proxy thread of a calling thread: name lookups, which cannot be polled, run there while
// the caller waits on its reply eventfd (and yields to the host).

#include "Socket.h"

#include "Socket_p.h"
#include "TraceLog.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace zs::k8bus {

using namespace sockio;

namespace {

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

} // namespace

namespace sockio {

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
    const WaitSpan span(waitLimit(g, 0));
    while (!request->done.load(std::memory_order_acquire)) {
        const int left = span.left();
        pollfd p{g->proxy.replyFd(), POLLIN, 0};
        const Wait w = left != 0 ? waitFor(&p, 1, left) : Wait::TimedOut;
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

} // namespace sockio

bool sockProxyActive()
{
    SockGlobals* g = sockGlobals();
    return g && g->proxyOn && g->proxy.running();
}

} // namespace zs::k8bus
