#pragma once
// One UDP request and its answer within a time bound, for resolvers that speak to a server
// directly (the mail client's MX look-up).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::net {

enum class UdpOutcome { Answered, SendFailed, NoAnswer, BadAddress };

struct UdpReply {
    UdpOutcome outcome = UdpOutcome::NoAnswer;
    std::vector<std::uint8_t> bytes; ///< the accepted datagram
};

/// Sends `request` to `server` (dotted IPv4):`port` from a socket connected to that peer (so
/// only its datagrams arrive) and returns the first datagram for which `accept` is true (or
/// any, when `accept` is empty). Datagrams longer than `maxSize` are cut to it. Gives up
/// after `timeoutMs`.
UdpReply udpExchange(const std::string& server, std::uint16_t port, std::string_view request, int timeoutMs,
                     std::size_t maxSize, const std::function<bool(const std::vector<std::uint8_t>&)>& accept = {});

} // namespace zs::net
