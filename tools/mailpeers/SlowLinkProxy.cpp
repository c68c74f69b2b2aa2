#include "mailpeers/SlowLinkProxy.h"

#include "fs/Fd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace zs::mail::test {
namespace {

using Clock = std::chrono::steady_clock;

zs::fs::Fd connectTo(std::uint16_t port)
{
    zs::fs::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return fd;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        fd.reset();
    return fd;
}

// Writes all of `data` to a blocking socket; false when the peer is gone.
bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

SlowLinkProxy::SlowLinkProxy(std::uint16_t target, Pace pace)
    : m_target(target)
    , m_pace(pace)
{
    if (m_listener.ok())
        m_thread = std::thread([this] { serve(); });
}

SlowLinkProxy::~SlowLinkProxy()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void SlowLinkProxy::serve()
{
    zs::test::acceptEach(m_listener, m_stop, [this](int fd) { relay(fd); });
}

void SlowLinkProxy::relay(int clientFd)
{
    const zs::fs::Fd client(clientFd);
    const zs::fs::Fd server = connectTo(m_target);
    if (!server.valid())
        return;
    std::vector<char> buf(m_pace.chunk > 0 ? m_pace.chunk : 1);
    std::size_t taken = 0;
    // At most one chunk per interval, however the client's bytes arrive.
    auto window = Clock::now();
    std::size_t inWindow = 0;
    const auto idleLimit = std::chrono::seconds(60);
    auto lastActivity = Clock::now();
    while (!m_stop && Clock::now() - lastActivity < idleLimit) {
        if (Clock::now() - window >= m_pace.interval) {
            window = Clock::now();
            inWindow = 0;
        }
        const bool reading = m_pace.stopAfter == 0 || taken < m_pace.stopAfter;
        const bool due = reading && inWindow < buf.size();
        pollfd p[2] = {{server.get(), POLLIN, 0}, {client.get(), static_cast<short>(due ? POLLIN : 0), 0}};
        if (::poll(p, 2, 10) < 0 && errno != EINTR)
            return;
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char back[4096];
            const ssize_t n = ::recv(server.get(), back, sizeof back, 0);
            if (n <= 0 || !writeAll(client.get(), back, static_cast<std::size_t>(n)))
                return;
            lastActivity = Clock::now();
        }
        if (due && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::size_t want = buf.size() - inWindow;
            if (m_pace.stopAfter != 0)
                want = std::min(want, m_pace.stopAfter - taken);
            const ssize_t n = ::recv(client.get(), buf.data(), want, 0);
            if (n <= 0)
                return;
            if (!writeAll(server.get(), buf.data(), static_cast<std::size_t>(n)))
                return;
            taken += static_cast<std::size_t>(n);
            inWindow += static_cast<std::size_t>(n);
            m_forwarded += static_cast<std::size_t>(n);
            lastActivity = Clock::now();
        }
    }
}

} // namespace zs::mail::test
