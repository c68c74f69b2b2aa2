#include "net/UdpExchange.h"

#include "fs/Fd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace zs::net {

UdpReply udpExchange(const std::string& server, std::uint16_t port, std::string_view request, int timeoutMs,
                     std::size_t maxSize, const std::function<bool(const std::vector<std::uint8_t>&)>& accept)
{
    UdpReply reply;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, server.c_str(), &sa.sin_addr) != 1) {
        reply.outcome = UdpOutcome::BadAddress;
        return reply;
    }
    fs::Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        reply.outcome = UdpOutcome::SendFailed;
        return reply;
    }
    const ssize_t sent = ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    if (sent <= 0) {
        reply.outcome = UdpOutcome::SendFailed;
        return reply;
    }
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> buf(maxSize == 0 ? 1 : maxSize);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd.get(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        const ssize_t n = ::recv(fd.get(), buf.data(), buf.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (n <= 0)
            continue; // ICMP refusals and empty datagrams: keep waiting until the bound
        std::vector<std::uint8_t> got(buf.begin(),
                                      buf.begin() + std::min<std::size_t>(static_cast<std::size_t>(n), buf.size()));
        if (!accept || accept(got)) {
            reply.outcome = UdpOutcome::Answered;
            reply.bytes = std::move(got);
            return reply;
        }
    }
    reply.outcome = UdpOutcome::NoAnswer;
    return reply;
}

} // namespace zs::net
