#pragma once
// Name look-ups and the machine's resolver settings, in place of gethostbyname,
// gethostbyaddr, gethostname and the network-parameters call.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zs::net {

/// The first IPv4 address of `host` (a name or a dotted address) as dotted text; nothing
/// when it does not resolve. Blocks for as long as the system resolver takes.
std::optional<std::string> resolveIPv4(const std::string& host);
/// The name registered for a dotted IPv4 address, "" when none or the text is not an address.
std::string reverseIPv4(const std::string& dotted);
/// The machine's host name, "" when it cannot be read.
std::string localHostName();

/// What /etc/resolv.conf says.
struct ResolverConfig {
    std::vector<std::string> servers; ///< "nameserver" entries in file order
    std::string domain;               ///< "domain", else the first "search" entry
};
ResolverConfig readResolverConfig(const std::filesystem::path& file = "/etc/resolv.conf");
/// The same from text (for tests and other sources).
ResolverConfig parseResolverConfig(std::string_view text);

} // namespace zs::net
