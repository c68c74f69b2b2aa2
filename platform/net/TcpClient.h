#pragma once
// One non-blocking TCP client connection driven by poll: the replacement of an event-raising
// socket control. The owner calls pump() in its wait loops and acts on what it reports.

#include "fs/Fd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zs::net {

class TcpClient {
  public:
    /// The old control's state numbers, which callers compare against.
    enum class State { Closed = 0, Connecting = 6, Connected = 7, Error = 9 };

    /// What one pump() saw.
    struct Events {
        bool connected = false;    ///< the connection was completed
        bool closed = false;       ///< the peer closed the connection
        std::string data;          ///< bytes received
        std::size_t bytesSent = 0; ///< bytes of the send queue that went out
        int error = 0;             ///< errno of a failure (connection refused, reset, ...)
        std::string errorText;     ///< its description
    };

    TcpClient() = default;

    /// Resolves `host` (IPv4) and starts connecting; false with `error` set when it cannot start.
    [[nodiscard]] bool connect(const std::string& host, std::uint16_t port, std::string* error = nullptr);
    State state() const { return m_state; }
    /// Queues bytes and writes what the socket takes at once. Ignored unless connected.
    void send(std::string_view bytes);
    /// Bytes queued and not yet written.
    std::size_t queued() const { return m_out.size() - m_outPos; }
    /// Bytes on their way out: queued() plus what the kernel's send queue still holds (not yet
    /// acknowledged by the peer). It shrinks as long as the peer keeps reading.
    std::size_t unsent() const;
    /// Waits at most `timeoutMs` for the connection to change; reports what happened.
    Events pump(int timeoutMs);
    void close();

    /// Dotted address of the local end, "" when not connected.
    std::string localAddress() const;

  private:
    void flush(Events& ev);
    void fail(Events& ev, int err);

    fs::Fd m_fd;
    State m_state = State::Closed;
    std::string m_out;
    std::size_t m_outPos = 0;
};

} // namespace zs::net
