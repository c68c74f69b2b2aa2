#pragma once
// Finds the mail exchanger of a domain by asking the machine's first DNS server for its MX
// records over UDP. Used by clsSendMail when no SMTP host is set and by its public MXQuery;
// GetHostNameFromIP finds the local domain when the resolver configuration names none.
// lookup gives a failure back as its text; MXQuery raises it as MXQueryError (number 20000,
// source "MXQuery"). Everything else is an empty result.

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zs::mail {

struct MXRecord {
    std::string Host;
    std::uint16_t Preference = 0;
};

class MXQueryError : public std::runtime_error {
  public:
    explicit MXQueryError(const std::string& description)
        : std::runtime_error(description)
    {}
    int number() const { return 20000; }
    const char* source() const { return "MXQuery"; }
};

/// What one lookup found: the preferred exchanger ("" when there is none), or why the query
/// could not be made or answered.
struct MXResult {
    std::string host;
    std::string error;
    bool failed() const { return !error.empty(); }
};

class modMXQuery {
  public:
    struct Options {
        std::filesystem::path resolverConfig = "/etc/resolv.conf";
        std::uint16_t port = 53;
        /// Bound on the wait for an answer; an expired wait is "Problem receiving MX query".
        int timeoutMs = 5000;
    };

    modMXQuery()
        : modMXQuery(Options{})
    {}
    explicit modMXQuery(Options options);

    /// Host of the preferred exchanger of `domain` ("" = the local domain), or "".
    /// Throws MXQueryError. Not re-entrant: one query at a time.
    std::string MXQuery(const std::string& domain);
    /// As MXQuery, with a failure returned as its text instead of raised.
    [[nodiscard]] MXResult lookup(const std::string& domain);
    /// Name registered for a dotted IPv4 address; "" for unreadable text, 255.255.255.255 or no name.
    static std::string GetHostNameFromIP(const std::string& address);

    const std::vector<std::string>& DNSServers() const { return m_servers; }
    const std::string& LocalDomain() const { return m_localDomain; }
    const std::string& BaseDomain() const { return m_baseDomain; }
    /// Records of the last reply parsed, by ascending preference (equal ones in reply order).
    const std::vector<MXRecord>& MXRecords() const { return m_records; }

    // The wire format, public for tests and the fuzz target.
    static constexpr std::uint16_t kQueryId = 0x11DF;
    static constexpr std::size_t kReplyBuffer = 2048;
    /// Length-prefixed labels without the final zero byte; false when a label does not fit in 63 bytes.
    static bool EncodeDNSName(const std::string& domain, std::string& out);
    static std::string buildQuery(const std::string& domain);
    /// Walks `answerCount` answers of `reply` (its first 2048 bytes): fills `records` sorted
    /// ascending and returns the best host. The walk stops at the first malformed answer (a
    /// name that runs past the datagram's end, a pointer loop); the answers before it count.
    static std::string ParseMXAnswers(std::span<const std::uint8_t> reply, unsigned answerCount,
                                      std::vector<MXRecord>& records);
    /// The longest host name an answer may give.
    static constexpr std::size_t kMaxHostName = 253;
    /// A name an answer may give as an exchanger: letters, digits, "-" and ".", at most
    /// kMaxHostName characters. The walk skips any other like a blank one.
    static bool isUsableHostName(std::string_view name);

  private:
    void GetDNSServers();
    MXResult query(const std::string& domain, int depth);

    Options m_options;
    std::vector<std::string> m_servers;
    std::string m_localDomain;
    std::string m_baseDomain;
    std::vector<MXRecord> m_records;
    std::string m_bestHost;
};

} // namespace zs::mail
