#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zs::test {

namespace {

sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

} // namespace

LoopbackSocket::LoopbackSocket(Kind kind)
{
    m_fd = ::socket(AF_INET, (kind == Kind::Tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    sockaddr_in sa = loopback(0);
    socklen_t len = sizeof sa;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        (kind == Kind::Tcp && ::listen(m_fd, 8) != 0) ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return;
    m_port = ntohs(sa.sin_port);
}

LoopbackSocket::~LoopbackSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void acceptEach(const LoopbackSocket& listener, const std::atomic<bool>& stop,
                const std::function<void(int fd)>& onClient)
{
    while (!stop) {
        pollfd p{listener.fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            onClient(fd);
    }
}

std::uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in sa = loopback(0);
    socklen_t len = sizeof sa;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    ::close(fd);
    return port;
}

bool waitForTcp(std::uint16_t port, int ms)
{
    for (int waited = 0; waited < ms; waited += 20) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in sa = loopback(port);
        const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
        if (fd >= 0)
            ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

} // namespace zs::test
