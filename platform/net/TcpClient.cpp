#include "net/TcpClient.h"

#include "net/Resolve.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zs::net {

bool TcpClient::connect(const std::string& host, std::uint16_t port, std::string* error)
{
    close();
    const auto addr = resolveIPv4(host);
    if (!addr) {
        if (error)
            *error = "Host not found: " + host;
        m_state = State::Error;
        return false;
    }
    fs::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        if (error)
            *error = std::strerror(errno);
        m_state = State::Error;
        return false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, addr->c_str(), &sa.sin_addr);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        if (error)
            *error = std::strerror(errno);
        m_state = State::Error;
        return false;
    }
    m_fd = std::move(fd);
    m_state = State::Connecting;
    return true;
}

void TcpClient::send(std::string_view bytes)
{
    if (m_state != State::Connected)
        return;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    }
    m_out.append(bytes);
}

std::size_t TcpClient::unsent() const
{
    int kernel = 0;
    if (!m_fd.valid() || ::ioctl(m_fd.get(), SIOCOUTQ, &kernel) != 0 || kernel < 0)
        kernel = 0;
    return queued() + static_cast<std::size_t>(kernel);
}

void TcpClient::fail(Events& ev, int err)
{
    ev.error = err;
    ev.errorText = std::strerror(err);
    m_state = State::Error;
}

void TcpClient::flush(Events& ev)
{
    while (m_outPos < m_out.size()) {
        const ssize_t n = ::send(m_fd.get(), m_out.data() + m_outPos, m_out.size() - m_outPos, MSG_NOSIGNAL);
        if (n > 0) {
            m_outPos += static_cast<std::size_t>(n);
            ev.bytesSent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        fail(ev, n < 0 ? errno : EPIPE);
        return;
    }
}

TcpClient::Events TcpClient::pump(int timeoutMs)
{
    Events ev;
    if (m_state != State::Connecting && m_state != State::Connected) {
        if (timeoutMs > 0)
            ::poll(nullptr, 0, timeoutMs);
        return ev;
    }
    if (m_state == State::Connected)
        flush(ev);
    pollfd p{m_fd.get(), static_cast<short>(POLLIN), 0};
    if (m_state == State::Connecting || queued() > 0)
        p.events |= POLLOUT;
    int r;
    do {
        r = ::poll(&p, 1, (ev.bytesSent > 0 || ev.error) ? 0 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r <= 0 || ev.error)
        return ev;

    if (m_state == State::Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(m_fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            fail(ev, err);
            return ev;
        }
        if (!(p.revents & (POLLOUT | POLLIN)))
            return ev;
        m_state = State::Connected;
        ev.connected = true;
    }
    if (p.revents & POLLOUT)
        flush(ev);
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[16384];
        for (;;) {
            const ssize_t n = ::recv(m_fd.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                ev.data.append(buf, static_cast<std::size_t>(n));
                if (ev.data.size() >= 1 << 20)
                    break; // leave the rest for the next round
                continue;
            }
            if (n == 0) {
                ev.closed = true;
                m_state = State::Closed;
                m_fd.reset();
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                fail(ev, errno);
            }
            break;
        }
    }
    return ev;
}

void TcpClient::close()
{
    m_fd.reset();
    m_state = State::Closed;
    m_out.clear();
    m_outPos = 0;
}

std::string TcpClient::localAddress() const
{
    if (!m_fd.valid())
        return {};
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(m_fd.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return text;
}

} // namespace zs::net
