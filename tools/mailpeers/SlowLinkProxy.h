#pragma once
// A slow link in front of a real server, for the time-out tests: it accepts on 127.0.0.1 and a
// free port, forwards each connection to 127.0.0.1:`target`, and takes the client's bytes at a
// fixed pace (at most `chunk` bytes every `interval`), or stops taking them altogether after
// `stopAfter` bytes. The server's bytes go back at once. Served by a thread of the test process,
// one connection after another, stopped on destruction.

#include "testsupport/Loopback.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace zs::mail::test {

class SlowLinkProxy {
  public:
    struct Pace {
        std::size_t chunk = 40 * 1024;
        std::chrono::milliseconds interval{250};
        /// Bytes after which the client is no longer read at all; 0 for never.
        std::size_t stopAfter = 0;
    };

    SlowLinkProxy(std::uint16_t target, Pace pace);
    ~SlowLinkProxy();
    SlowLinkProxy(const SlowLinkProxy&) = delete;
    SlowLinkProxy& operator=(const SlowLinkProxy&) = delete;

    bool ok() const { return m_listener.ok(); }
    std::uint16_t port() const { return m_listener.port(); }
    /// Bytes taken from clients so far.
    std::size_t forwarded() const { return m_forwarded; }

  private:
    void serve();
    void relay(int client);

    std::uint16_t m_target;
    Pace m_pace;
    zs::test::LoopbackSocket m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_forwarded{0};
    std::thread m_thread;
};

} // namespace zs::mail::test
