#include "mail/modMXQuery.h"

#include "net/Resolve.h"
#include "net/UdpExchange.h"
#include "text/Ascii.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <utility>

namespace zs::mail {
namespace {

constexpr int kMaxPointerHops = 16;
constexpr std::size_t kMaxNameLength = 1024;

// The reply as it arrived (at most the receive buffer's size). Any read past what arrived
// fails: a name that runs off the end of the datagram is malformed, never padded with zeros.
class ReplyBuffer {
  public:
    explicit ReplyBuffer(std::span<const std::uint8_t> reply)
        : m_size(std::min(reply.size(), m_bytes.size()))
    {
        std::copy_n(reply.begin(), m_size, m_bytes.begin());
    }
    bool byte(std::size_t pos, std::uint8_t& out) const
    {
        if (pos >= m_size)
            return false;
        out = m_bytes[pos];
        return true;
    }
    bool u16(std::size_t pos, std::uint16_t& out) const
    {
        std::uint8_t hi, lo;
        if (!byte(pos, hi) || !byte(pos + 1, lo))
            return false;
        out = static_cast<std::uint16_t>((hi << 8) | lo);
        return true;
    }

  private:
    std::array<std::uint8_t, modMXQuery::kReplyBuffer> m_bytes{};
    std::size_t m_size;
};

// Appends the name at `pos` to `name`; leaves `pos` on the name's zero byte, or past its
// pointer. False when the name runs off the buffer, loops or grows beyond any real name.
bool parseDNSName(const ReplyBuffer& buf, std::size_t& pos, std::string& name, int hops = 0,
                  bool* endedOnZero = nullptr)
{
    for (;;) {
        std::uint8_t len;
        if (!buf.byte(pos, len))
            return false;
        if (len == 0) {
            if (endedOnZero)
                *endedOnZero = true;
            return true;
        }
        if (len >= 192) {
            std::uint8_t low;
            if (!buf.byte(pos + 1, low) || hops >= kMaxPointerHops)
                return false;
            std::size_t target = static_cast<std::size_t>(((len & 63) << 8) | low);
            if (!parseDNSName(buf, target, name, hops + 1))
                return false;
            pos += 2;
            return true;
        }
        ++pos;
        for (std::size_t i = 0; i < len; ++i) {
            std::uint8_t c;
            if (!buf.byte(pos + i, c))
                return false;
            name += static_cast<char>(c);
        }
        pos += len;
        if (name.size() > kMaxNameLength)
            return false;
        std::uint8_t nextLen;
        if (!buf.byte(pos, nextLen))
            return false;
        if (nextLen != 0)
            name += '.';
    }
}

// Steps over a name without reading it: labels up to the zero byte, or a pointer.
bool skipDNSName(const ReplyBuffer& buf, std::size_t& pos)
{
    for (int labels = 0; labels < 128; ++labels) {
        std::uint8_t len;
        if (!buf.byte(pos, len))
            return false;
        if (len == 0) {
            ++pos;
            return true;
        }
        if (len >= 192) {
            pos += 2;
            return true;
        }
        pos += 1 + len;
    }
    return false;
}

// Exchange sort by preference, ascending unless `descending`; equal preferences never move.
void SortMXRecords(std::vector<MXRecord>& list, bool descending)
{
    std::size_t upper = list.size();
    while (upper > 1) {
        std::size_t lastSwap = 0;
        for (std::size_t i = 0; i + 1 < upper; ++i) {
            const bool greater = list[i].Preference > list[i + 1].Preference;
            const bool less = list[i].Preference < list[i + 1].Preference;
            if ((descending ? less : greater)) {
                std::swap(list[i], list[i + 1]);
                lastSwap = i + 1;
            }
        }
        upper = lastSwap;
    }
}

// The reply's question section is the one question asked: `domain` (letter case aside), type
// MX, class IN.
bool answersQuestion(std::span<const std::uint8_t> reply, const std::string& domain)
{
    const ReplyBuffer buf(reply);
    std::uint16_t questions = 0, type = 0, klass = 0;
    if (!buf.u16(4, questions) || questions != 1)
        return false;
    std::size_t pos = 12;
    std::string asked;
    if (!parseDNSName(buf, pos, asked) || !buf.u16(pos + 1, type) || !buf.u16(pos + 3, klass))
        return false;
    return type == 15 && klass == 1 && text::lowerAscii(asked) == text::lowerAscii(domain);
}

} // namespace

bool modMXQuery::isUsableHostName(std::string_view name)
{
    // What a mail exchanger's name can be: letters, digits, "-" and ".". Anything else in an
    // answer (line breaks, NUL, blanks) would end up in status texts and logs as the DNS
    // server wrote it.
    if (name.empty() || name.size() > kMaxHostName)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

modMXQuery::modMXQuery(Options options)
    : m_options(std::move(options))
{}

bool modMXQuery::EncodeDNSName(const std::string& domain, std::string& out)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = domain.find('.', start);
        const std::size_t len = (dot == std::string::npos ? domain.size() : dot) - start;
        if (len > 63)
            return false;
        out += static_cast<char>(len);
        out.append(domain, start, len);
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}

std::string modMXQuery::buildQuery(const std::string& domain)
{
    std::string q = {
        static_cast<char>(kQueryId >> 8), static_cast<char>(kQueryId & 0xFF), 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    if (!EncodeDNSName(domain, q))
        return {};
    q += std::string{0, 0, 15, 0, 1};
    return q;
}

std::string modMXQuery::ParseMXAnswers(std::span<const std::uint8_t> reply, unsigned answerCount,
                                       std::vector<MXRecord>& records)
{
    records.clear();
    const ReplyBuffer buf(reply);
    std::size_t pos = 12;
    std::string question;
    if (!parseDNSName(buf, pos, question))
        return {};
    pos += 1 + 4;
    std::string best;
    bool haveBest = false;
    std::uint16_t bestPreference = 0;
    for (unsigned i = 0; i < answerCount; ++i) {
        std::uint16_t type, preference;
        if (!skipDNSName(buf, pos) || !buf.u16(pos, type) || type != 15)
            break;
        pos += 10;
        if (!buf.u16(pos, preference))
            break;
        pos += 2;
        std::string host;
        bool endedOnZero = false;
        if (!parseDNSName(buf, pos, host, 0, &endedOnZero))
            break;
        if (endedOnZero)
            ++pos; // a name written out ends on its zero byte; a pointer has been stepped over
        if (!isUsableHostName(host))
            continue;
        records.push_back({host, preference});
        if (!haveBest || preference < bestPreference) {
            best = host;
            bestPreference = preference;
            haveBest = true;
        }
    }
    SortMXRecords(records, false);
    return best;
}

std::string modMXQuery::GetHostNameFromIP(const std::string& address)
{
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1 || a.s_addr == INADDR_NONE)
        return {};
    std::string name = zs::net::reverseIPv4(address);
    if (name.size() > 256)
        name.resize(256);
    return std::string(text::trim(name, " "));
}

void modMXQuery::GetDNSServers()
{
    const auto cfg = zs::net::readResolverConfig(m_options.resolverConfig);
    m_servers.clear();
    // The query goes over IPv4 only; an IPv6 name server cannot be asked.
    for (const auto& s : cfg.servers)
        if (s.find(':') == std::string::npos)
            m_servers.push_back(s);
    std::string domain = cfg.domain;
    m_localDomain = domain;
    if (domain.empty() && !m_servers.empty()) {
        domain = GetHostNameFromIP(m_servers.front());
        if (const auto dot = domain.find('.'); dot != std::string::npos)
            m_localDomain = domain.substr(dot + 1);
    }
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const auto dot = domain.find('.', start);
        pieces.push_back(domain.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    m_baseDomain = pieces.size() < 2 ? domain : pieces[pieces.size() - 2] + '.' + pieces.back();
}

std::string modMXQuery::MXQuery(const std::string& domain)
{
    MXResult result = lookup(domain);
    if (result.failed())
        throw MXQueryError(result.error);
    return std::move(result.host);
}

MXResult modMXQuery::lookup(const std::string& domain)
{
    return query(domain, 0);
}

MXResult modMXQuery::query(const std::string& domainIn, int depth)
{
    m_records.clear();
    m_bestHost.clear();
    if (m_servers.empty())
        GetDNSServers();
    if (m_servers.empty())
        return {{}, "No DNS entries found, MX Query cannot contine."};
    const std::string domain = domainIn.empty() ? m_localDomain : domainIn;
    if (domain.size() < 5)
        return {{}, "No Valid Domain Specified"};

    const auto server = zs::net::resolveIPv4(m_servers.front());
    if (!server)
        return {};
    const std::string request = buildQuery(domain);
    if (request.empty())
        return {};
    // Only an answer to our own question counts: same identifier, response bit set.
    const auto reply = zs::net::udpExchange(
        *server, m_options.port, request, m_options.timeoutMs, kReplyBuffer, [](const std::vector<std::uint8_t>& r) {
            return r.size() >= 12 && r[0] == (kQueryId >> 8) && r[1] == (kQueryId & 0xFF) && (r[2] & 0x80) != 0;
        });
    switch (reply.outcome) {
    case zs::net::UdpOutcome::BadAddress:
        return {};
    case zs::net::UdpOutcome::SendFailed:
        return {{}, "Problem sending MX query"};
    case zs::net::UdpOutcome::NoAnswer:
        return {{}, "Problem receiving MX query"};
    case zs::net::UdpOutcome::Answered:
        break;
    }
    // An answer to another question (same identifier, another domain or type) says nothing
    // about this domain: no exchanger, and no climb either.
    if (!answersQuestion(reply.bytes, domain))
        return {};
    const unsigned answers = static_cast<unsigned>((reply.bytes[6] << 8) | reply.bytes[7]);
    if (answers != 0) {
        m_bestHost = ParseMXAnswers(reply.bytes, answers, m_records);
        return {m_bestHost, {}};
    }
    // No answer: climb one label, but not above the base domain.
    const auto at = m_baseDomain.empty() ? std::string::npos : domain.find(m_baseDomain);
    const auto dot = domain.find('.');
    if (at == std::string::npos || at == 0 || dot == std::string::npos || depth > 127)
        return {};
    return query(domain.substr(dot + 1), depth + 1);
}

} // namespace zs::mail
