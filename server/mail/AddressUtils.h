#pragma once
// Checks and look-ups that clsSendMail applies to addresses and hosts: e-mail syntax with its
// list of top-level domains, dotted IPv4 addresses, name and address look-ups, the ICMP echo
// and the MIME type of a file name. None of them reports errors: false or "" means no.

#include <cstdint>
#include <string>

namespace zs::mail {

bool IsValidEmailAddress(const std::string& address);
bool IsValidHost(const std::string& host);
bool IsDottedAddress(const std::string& text);
/// The four parts as one 32-bit value, the first part in the lowest byte; 0 unless four parts.
std::uint32_t DottedToAddress(const std::string& text);
/// The local host name, or "".
std::string GetIPHost();
/// The first IPv4 address of `host` (empty: the local host) as dotted text, or "".
std::string GetIPAddress(const std::string& host);

/// Outcome of one ICMP echo.
struct PingResult {
    bool ok = false;          ///< an echo reply came from the target
    bool available = true;    ///< false when this machine allows no unprivileged ICMP socket
    std::string host;         ///< the address that answered
    std::string roundTrip;    ///< milliseconds as decimal text
    std::string dataSize;     ///< "<n> bytes"
    bool echoMatched = false; ///< the reply carried our data back
};
/// One echo request of 32 random bytes to `host`, waiting at most `timeoutMs`. Uses an
/// unprivileged ICMP datagram socket; where the system allows none, `available` is false.
PingResult PingHost(const std::string& host, int timeoutMs = 255);

/// MIME type of a file name by its extension, `fallback` when the extension is unknown.
std::string GetContentType(const std::string& fileName, const std::string& fallback);

} // namespace zs::mail
