// libFuzzer target: any bytes as what a POP3 server says during the log-in before SMTP, fed to
// the whole mail class over a loopback connection (socket, reply reader, the reply handler's
// POP3 steps and failure texts); the SMTP server that follows says the same bytes. Every Send
// must end in exactly one outcome. The clock is a fake one moved by the yield hook, so every
// wait ends after a few rounds.

#include "mail/clsSendMail.h"
#include "time/Clock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

// A listening socket on 127.0.0.1 and the connections accepted from it, each sent the input.
struct Server {
    Server()
    {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            ::listen(listener, 8) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return;
        port = ntohs(sa.sin_port);
    }
    // Accepts what is waiting and writes on to every connection what it has not had yet.
    void serve(std::string_view input)
    {
        for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
            conns.push_back({fd, 0});
        for (auto& c : conns) {
            if (c.fd < 0 || c.sent > input.size())
                continue;
            const ssize_t n =
                c.sent < input.size() ? ::send(c.fd, input.data() + c.sent, input.size() - c.sent, MSG_NOSIGNAL) : 0;
            if (n > 0)
                c.sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                c.sent = input.size();
            if (c.sent == input.size()) {
                ::shutdown(c.fd, SHUT_WR);
                c.sent = input.size() + 1; // done
            }
        }
    }
    void closeAll()
    {
        for (auto& c : conns)
            if (c.fd >= 0)
                ::close(c.fd);
        conns.clear();
    }
    struct Conn {
        int fd;
        std::size_t sent;
    };
    int listener = -1;
    std::uint16_t port = 0;
    std::vector<Conn> conns;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Server server;
    if (server.port == 0 || size > 64 * 1024)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    zs::time::FakeClock clock;
    zs::mail::SendMailOptions options;
    options.clock = &clock;
    options.yield = [&] {
        server.serve(input);
        clock.advanceMs(400);
    };
    options.pop3Port = server.port;
    int outcomes = 0;
    {
        zs::mail::clsSendMail m(options);
        m.SendSuccesful = [&] { ++outcomes; };
        m.SendFailed = [&](const std::string&) { ++outcomes; };
        m.setSMTPHostValidation(0);
        m.setSMTPHost("127.0.0.1");
        m.setSMTPPort(server.port);
        m.setConnectTimeout(1);
        m.setMessageTimeout(1);
        m.setConnectRetry(1);
        m.setUsePopAuthentication(true);
        m.setPOP3Host("127.0.0.1");
        m.setUsername("utente");
        m.setPassWord("segreta");
        m.setFrom("mittente@example.it");
        m.setRecipient("dest@example.it");
        m.setSubject("Prova");
        m.setMessage("Corpo");
        m.Send();
    }
    server.closeAll();
    if (outcomes != 1)
        std::abort(); // one Send, one outcome
    return 0;
}
