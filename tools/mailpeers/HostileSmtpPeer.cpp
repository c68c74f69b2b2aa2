#include "mailpeers/HostileSmtpPeer.h"

#include <cctype>
#include <chrono>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace zs::mail::test {
namespace {

using Clock = std::chrono::steady_clock;

// One accepted connection, read line by line and written with bounded waits; every wait also
// ends when the peer is being stopped.
class Conn {
  public:
    Conn(int fd, const std::atomic<bool>& stop)
        : m_fd(fd)
        , m_stop(stop)
    {}
    ~Conn()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    bool readLine(std::string& line)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        for (;;) {
            const auto lf = m_in.find('\n');
            if (lf != std::string::npos) {
                line = m_in.substr(0, lf + 1);
                m_in.erase(0, lf + 1);
                return true;
            }
            if (!waitFor(POLLIN, deadline))
                return false;
            char buf[4096];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            m_in.append(buf, static_cast<std::size_t>(n));
        }
    }
    bool write(const std::string& text)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        std::size_t done = 0;
        while (done < text.size()) {
            if (!waitFor(POLLOUT, deadline))
                return false;
            const ssize_t n = ::send(m_fd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    /// Ends the connection with a reset instead of an orderly close.
    void reset()
    {
        linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(m_fd);
        m_fd = -1;
    }
    /// Sends the end of the stream and reads (and drops) what the client still sends until it
    /// closes: the client sees an orderly close, never a reset.
    void closeOrderly()
    {
        ::shutdown(m_fd, SHUT_WR);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        char buf[4096];
        while (waitFor(POLLIN, deadline) && ::recv(m_fd, buf, sizeof buf, 0) > 0) {
        }
    }
    bool sleep(std::chrono::milliseconds ms)
    {
        const auto until = Clock::now() + ms;
        while (Clock::now() < until) {
            if (m_stop)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

  private:
    bool waitFor(short events, Clock::time_point deadline)
    {
        while (!m_stop && Clock::now() < deadline) {
            pollfd p{m_fd, events, 0};
            const int r = ::poll(&p, 1, 20);
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
        return false;
    }

    int m_fd;
    const std::atomic<bool>& m_stop;
    std::string m_in;
};

std::string verbOf(const std::string& line)
{
    std::string verb;
    for (char c : line.substr(0, 4))
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return verb;
}

} // namespace

HostileSmtpPeer::HostileSmtpPeer(Kind kind)
    : m_kind(kind)
{
    if (m_listener.ok())
        m_thread = std::thread([this] { serve(); });
}

HostileSmtpPeer::~HostileSmtpPeer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void HostileSmtpPeer::serve()
{
    zs::test::acceptEach(m_listener, m_stop, [this](int fd) { session(fd); });
}

void HostileSmtpPeer::session(int fd)
{
    Conn c(fd, m_stop);
    switch (m_kind) {
    case Kind::BusyThenClose:
        if (c.write(std::string(kBusyReply) + "\r\n") && c.sleep(std::chrono::seconds(1)))
            return; // closed with the client's QUIT unread: the kernel resets
        return;
    case Kind::EndlessGreetingLine: {
        const std::string block(16384, 'a');
        if (c.write("220 "))
            while (c.write(block)) {
            }
        return;
    }
    case Kind::EndlessContinuation: {
        const std::string line = "220-peer.example.it " + std::string(60, 'c') + "\r\n";
        std::string block;
        while (block.size() < 16384)
            block += line;
        while (c.write(block)) {
        }
        return;
    }
    case Kind::ResetWithGreeting:
        if (c.write("220 peer.example.it ESMTP\r\n"))
            c.reset();
        return;
    case Kind::CloseAtOnce:
        c.closeOrderly();
        return;
    case Kind::Pop3ResetAtQuit:
    case Kind::Pop3ErrAtQuit: {
        if (!c.write("+OK POP3 peer ready\r\n"))
            return;
        std::string line;
        while (c.readLine(line)) {
            const std::string verb = verbOf(line);
            if (verb == "QUIT") {
                if (m_kind == Kind::Pop3ResetAtQuit) {
                    c.reset();
                } else {
                    c.write("-ERR not now\r\n");
                    c.closeOrderly();
                }
                return;
            }
            if (verb == "PASS")
                ++m_logins;
            if (!c.write("+OK\r\n"))
                return;
        }
        return;
    }
    default:
        break;
    }
    if (!c.write("220 peer.example.it ESMTP\r\n"))
        return;
    std::string line;
    while (c.readLine(line)) {
        const std::string verb = verbOf(line);
        std::string reply = "250 OK\r\n";
        if (verb == "QUIT") {
            if (m_kind == Kind::ResetAtQuit) {
                c.reset();
                return;
            }
            c.write("221 Bye\r\n");
            return;
        }
        if ((verb == "HELO" || verb == "EHLO") && m_kind == Kind::EmptyHeloReply)
            reply = "\r\n";
        if (verb == "RCPT" && m_kind == Kind::ControlBytesRefusal)
            reply = std::string(kControlBytesReply, sizeof kControlBytesReply - 1) + "\r\n";
        if (verb == "RCPT" && m_kind == Kind::CodePageRefusal)
            reply = std::string(kCodePageReply) + "\r\n";
        if (verb == "MAIL" && m_kind == Kind::HugeReplyLine)
            reply = "550 " + std::string(64 * 1024, 'x') + "\r\n";
        if (verb == "DATA") {
            if (!c.write("354 End data with <CR><LF>.<CR><LF>\r\n"))
                return;
            if (m_kind == Kind::CloseDuringData) {
                (void)c.readLine(line);
                c.closeOrderly();
                return;
            }
            while (c.readLine(line) && line != ".\r\n") {
            }
            if (line != ".\r\n")
                return;
            if (m_kind == Kind::EmptyEndMarkReply) {
                if (!c.write("\r\n"))
                    return;
                continue;
            }
            ++m_accepted;
            reply = "250 Message accepted for delivery\r\n";
            if (m_kind == Kind::ResetAfterAccept) {
                c.write(reply);
                c.reset();
                return;
            }
        }
        if (!c.write(reply))
            return;
    }
}

} // namespace zs::mail::test
