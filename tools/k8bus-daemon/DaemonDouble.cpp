#include "DaemonDouble.h"

#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace zs::k8test {
namespace {

// Listens on 127.0.0.1:port (0: a free port, given back in `port`).
int listenLoopback(int& port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
        const int e = errno;
        ::close(fd);
        throw std::system_error(e, std::generic_category(), "bind/listen failed");
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    do
        r = ::poll(&p, 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    return r > 0;
}

// Sends all of `bytes` on `fd`, stopping quietly when the peer has gone.
void sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (fd >= 0 && sent < bytes.size()) {
        ssize_t r = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r <= 0)
            return;
        sent += static_cast<std::size_t>(r);
    }
}

void shutAndClose(int& fd)
{
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        fd = -1;
    }
}

} // namespace

bool DaemonConnection::readExact(int fd, std::string& out, std::size_t n, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t got = 0;
    const std::size_t base = out.size();
    out.resize(base + n);
    while (got < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readable(fd, static_cast<int>(left.count())))
            return false;
        ssize_t r = ::recv(fd, out.data() + base + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

std::optional<Request> DaemonConnection::next(int timeoutMs)
{
    Request req;
    if (!readExact(m_fd, req.raw, 3, timeoutMs))
        return std::nullopt;
    req.type = static_cast<unsigned char>(req.raw[0]);
    req.declaredCount = static_cast<int>(at16(req.raw, 1));
    for (int i = 0; i < req.declaredCount; ++i) {
        const std::size_t at = req.raw.size();
        if (!readExact(m_fd, req.raw, 2, 2000))
            break;
        const unsigned n = at16(req.raw, at);
        if (!readExact(m_fd, req.raw, n, 2000))
            break;
        req.params.push_back(req.raw.substr(at + 2, n));
    }
    m_owner.record(req);
    return req;
}

void DaemonConnection::send(const std::string& bytes)
{
    sendAll(m_fd, bytes);
}

bool DaemonConnection::drip(const std::string& bytes, int everyMs)
{
    for (const char b : bytes) {
        if (m_fd < 0 || ::send(m_fd, &b, 1, MSG_NOSIGNAL) != 1)
            return false;
        // A client that leaves shows as the end of its stream while we pause.
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, everyMs) > 0) {
            char c;
            if (::recv(m_fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
                return false;
        }
    }
    return true;
}

void DaemonConnection::close()
{
    shutAndClose(m_fd);
}

void DaemonConnection::waitForClose(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[256];
    while (m_fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readable(m_fd, static_cast<int>(left.count())))
            return;
        if (::recv(m_fd, buf, sizeof buf, 0) <= 0)
            return;
    }
}

int DaemonConnection::listenForOutput()
{
    int port = 0;
    m_outListen = listenLoopback(port);
    return port;
}

bool DaemonConnection::acceptOutput()
{
    if (m_outListen < 0 || !readable(m_outListen, 5000))
        return false;
    m_out = ::accept4(m_outListen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_out >= 0;
}

void DaemonConnection::sendOutput(const std::string& bytes)
{
    sendAll(m_out, bytes);
}

void DaemonConnection::closeOutput()
{
    shutAndClose(m_out);
}

int DaemonConnection::listenForTerminal()
{
    int port = 0;
    m_termListen = listenLoopback(port);
    return port;
}

bool DaemonConnection::acceptTerminal(int timeoutMs)
{
    if (m_termListen < 0 || !readable(m_termListen, timeoutMs))
        return false;
    m_term = ::accept4(m_termListen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_term >= 0;
}

std::optional<std::string> DaemonConnection::prompt(const std::string& line, int timeoutMs)
{
    if (m_term < 0)
        return std::nullopt;
    sendAll(m_term, line + "\r\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto end = m_termPending.find('\n');
        if (end != std::string::npos) {
            std::string answer = m_termPending.substr(0, end);
            m_termPending.erase(0, end + 1);
            if (!answer.empty() && answer.back() == '\r')
                answer.pop_back();
            return answer;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readable(m_term, static_cast<int>(left.count())))
            return std::nullopt;
        char buf[256];
        const ssize_t r = ::recv(m_term, buf, sizeof buf, 0);
        if (r <= 0)
            return std::nullopt;
        m_termPending.append(buf, static_cast<std::size_t>(r));
    }
}

void DaemonConnection::closeTerminal()
{
    shutAndClose(m_term);
}

DaemonConnection::~DaemonConnection()
{
    closeTerminal();
    if (m_termListen >= 0)
        ::close(m_termListen);
    closeOutput();
    if (m_outListen >= 0)
        ::close(m_outListen);
    close();
}

DaemonDouble::DaemonDouble(Script script)
    : m_script(std::move(script))
{
    m_listen = listenLoopback(m_port);
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
}

DaemonDouble::DaemonDouble(Script script, int port)
    : m_script(std::move(script))
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (;;) {
        m_port = port;
        try {
            m_listen = listenLoopback(m_port);
            break;
        } catch (const std::system_error& e) {
            if (e.code().value() != EADDRINUSE || std::chrono::steady_clock::now() > deadline)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
}

DaemonDouble::~DaemonDouble()
{
    std::uint64_t one = 1;
    (void)::write(m_stop, &one, sizeof one);
    m_thread.join();
    ::close(m_listen);
    ::close(m_stop);
}

void DaemonDouble::run()
{
    // Stops by itself after a minute without a connection, so a broken test never leaves it behind.
    for (;;) {
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
        int r = ::poll(p, 2, 60000);
        if (r <= 0 || (p[1].revents & POLLIN))
            return;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        DaemonConnection conn(fd, *this);
        const int index = m_connections.fetch_add(1);
        m_script(conn, index);
    }
}

void DaemonDouble::record(const Request& r)
{
    std::lock_guard l(m_lock);
    m_received.push_back(r);
}

std::vector<Request> DaemonDouble::received() const
{
    std::lock_guard l(m_lock);
    return m_received;
}

bool openAndAwaitExecute(DaemonConnection& c, long session)
{
    if (!c.next())
        return false;
    c.send(Reply(2).info(1, 0, session));
    return c.next().has_value();
}

void endTaskWell(DaemonConnection& c, long session)
{
    c.send(Reply(0).info(1, 0, session).num(0).num(0).num(0).list({{"ESITO", "ok"}}));
    if (c.next())
        c.send(Reply(1).info(1, 0, session).num(0));
    c.waitForClose(2000);
}

} // namespace zs::k8test
