// A stand-in for the terminal client a task's screen needs, for the tests: started by the bus
// library as K8API_CLIENT_CMD with the kernel's host and port, it connects there and answers
// every line the kernel writes ("Campo 3") with "ok:" and that line ("ok:Campo 3"), until the
// kernel closes the connection. With --quit it ends at once without connecting (an operator who
// closes the terminal). It never waits more than a minute for anything.
//
//   k8bus-terminal HOST PORT      or      k8bus-terminal --quit [anything]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kPatienceMs = 60000;

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--quit") == 0)
        return 0;
    if (argc < 3)
        return 2;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    // The tests' kernel is always on this computer.
    if (::inet_pton(AF_INET, argv[1], &a.sin_addr) != 1)
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return 3;
    std::string pending;
    char buf[512];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPatienceMs) <= 0)
            return 4;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break; // the kernel ended the dialogue
        pending.append(buf, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!sendAll(fd, "ok:" + line + "\r\n"))
                return 5;
        }
    }
    ::close(fd);
    return 0;
}
