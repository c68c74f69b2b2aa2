#pragma once
// Small SMTP (and POP3) servers that misbehave in one chosen way, on 127.0.0.1 and a free port, served by
// a thread of the test process (so a test sees its own memory only) and stopped on
// destruction. Each speaks just enough SMTP to reach its fault; connections are served one
// after another.

#include "testsupport/Loopback.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace zs::mail::test {

class HostileSmtpPeer {
  public:
    enum class Kind {
        ResetAtQuit,         ///< a whole conversation, the end mark answered 250, QUIT answered by a reset
        ResetAfterAccept,    ///< the end mark answered 250 and the connection reset at once
        BusyThenClose,       ///< a 421 greeting, the connection closed a second later
        EndlessGreetingLine, ///< "220 " and then bytes without a line end, for ever
        EndlessContinuation, ///< "220-..." continuation lines, for ever
        HugeReplyLine,       ///< MAIL FROM answered by one 550 line of 64 KB
        CloseDuringData,     ///< DATA answered 354, the connection closed after the first line
        EmptyHeloReply,      ///< HELO or EHLO answered by an empty line
        EmptyEndMarkReply,   ///< the whole message read, its end mark answered by an empty line
        ResetWithGreeting,   ///< the greeting written and the connection reset at once
        CloseAtOnce,         ///< the connection accepted and closed without a word
        Pop3ResetAtQuit,     ///< POP3: USER and PASS accepted with "+OK", QUIT answered by a reset
        Pop3ErrAtQuit,       ///< POP3: USER and PASS accepted with "+OK", QUIT answered "-ERR"
        ControlBytesRefusal, ///< every RCPT refused by kControlBytesReply (NUL, ESC sequences, BEL)
        CodePageRefusal,     ///< every RCPT refused by kCodePageReply (Windows-1252 bytes)
    };
    /// The greeting of BusyThenClose, as the client should report it.
    static constexpr const char* kBusyReply = "421 peer.example.it Service not available, busy";

    /// The refusal of ControlBytesRefusal, without its line end: a clear-screen, a window title,
    /// a colour, a bell and a NUL.
    static constexpr char kControlBytesReply[] = "550 5.1.1 \x1b[2J\x1b]0;titolo\x07utente\0 sconosciuto\x1b[31m\x07";

    /// The refusal of CodePageRefusal, without its line end: Windows-1252 punctuation (euro,
    /// curly quotes, ellipsis), 0x9B (a single angle quote there, an 8-bit terminal's CSI) and
    /// 0x81, which the code page leaves unassigned.
    static constexpr char kCodePageReply[] = "550 5.1.1 \x80uro \x93"
                                             "citazione\x94 \x85 \x9b[31m \x81 fine";

    explicit HostileSmtpPeer(Kind kind);
    ~HostileSmtpPeer();
    HostileSmtpPeer(const HostileSmtpPeer&) = delete;
    HostileSmtpPeer& operator=(const HostileSmtpPeer&) = delete;

    bool ok() const { return m_listener.ok(); }
    std::uint16_t port() const { return m_listener.port(); }
    /// Messages whose end mark was answered 250.
    int accepted() const { return m_accepted; }
    /// POP3 kinds: passwords answered "+OK".
    int logins() const { return m_logins; }

  private:
    void serve();
    void session(int fd);

    Kind m_kind;
    zs::test::LoopbackSocket m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_logins{0};
    std::thread m_thread;
};

} // namespace zs::mail::test
