#pragma once
// Loopback sockets for tests that play a network peer: a socket bound to 127.0.0.1 on a port
// the kernel picks (listening when TCP), a port nobody listens on, and a bounded wait for a
// server to accept. Nothing here binds any other address.

#include <atomic>
#include <cstdint>
#include <functional>

namespace zs::test {

/// A socket bound to 127.0.0.1 on a free port, closed on destruction. A TCP one listens: the
/// kernel completes connections that the test may accept or leave waiting unanswered.
class LoopbackSocket {
  public:
    enum class Kind { Tcp, Udp };
    explicit LoopbackSocket(Kind kind = Kind::Tcp);
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    /// False when the socket could not be made (port() is then 0).
    bool ok() const { return m_port != 0; }
    int fd() const { return m_fd; }
    std::uint16_t port() const { return m_port; }
    /// Hands the socket over: the caller closes it from now on.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

/// Accepts the listener's connections one at a time until `stop` is set (looked at every 20 ms),
/// handing each to `onClient`, which owns and closes it. For a peer's serving thread.
void acceptEach(const LoopbackSocket& listener, const std::atomic<bool>& stop,
                const std::function<void(int fd)>& onClient);

/// A TCP port on 127.0.0.1 that nobody listens on right now.
std::uint16_t freePort();
/// Waits (at most `ms`) until something accepts TCP connections on 127.0.0.1:port.
bool waitForTcp(std::uint16_t port, int ms = 10000);

} // namespace zs::test
