#include "mail/AddressUtils.h"

#include "fs/Fd.h"
#include "net/Resolve.h"
#include "text/Ascii.h"
#include "text/Split.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unordered_map>
#include <vector>

namespace zs::mail {
namespace {

constexpr const char* kTopLevelDomains =
    "AERO BIZ COM COOP EDU GOV INFO INT MIL MUSEUM NAME NET ORG PRO AC AD AE AF AG AI AL AM AN AO AQ AR AS AT AU "
    "AW AZ BA BB BD BE BF BG BH BI BJ BM BN BO BR BS BT BV BW BY BZ CA CC CD CF CG CH CI CK CL CM CN CO CR CU CV "
    "CX CY CZ DE DJ DK DM DO DZ EC EE EG EH ER ES ET FI FJ FK FM FO FR GA GD GE GF GG GH GI GL GM GN GP GQ GR GS "
    "GT GU GW GY HK HM HN HR HT HU ID IE IL IM IN IO IQ IR IS IT JE JM JO JP KE KG KH KI KM KN KP KR KW KY KZ LA "
    "LB LC LI LK LR LS LT LU LV LY MA MC MD MG MH MK ML MM MN MO MP MQ MR MS MT MU MV MW MX MY MZ NA NC NE NF NG "
    "NI NL NO NP NR NU NZ OM PA PE PF PG PH PK PL PM PN PR PS PT PW PY QA RE RO RU RW SA SB SC SD SE SG SH SI SJ "
    "SK SL SM SN SO SR ST SV SY SZ TC TD TF TG TH TJ TK TM TN TO TP TR TT TV TW TZ UA UG UK UM US UY UZ VA VC VE "
    "VG VI VN VU WF WS YE YT YU ZA ZM ZW";

// A whole decimal number, as the old numeric test accepted it (blanks around allowed).
bool readNumber(const std::string& part, long& value)
{
    const std::string t(text::trim(part));
    if (t.empty() || t.size() > 9 ||
        !std::all_of(t.begin(), t.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    value = std::stol(t);
    return true;
}

std::uint16_t checksum(const unsigned char* data, std::size_t len)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<std::uint32_t>((data[i] << 8) | data[i + 1]);
    if (len & 1)
        sum += static_cast<std::uint32_t>(data[len - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

} // namespace

bool IsValidEmailAddress(const std::string& address)
{
    const auto parts = text::split(address, '@');
    return parts.size() == 2 && IsValidHost(parts[1]);
}

bool IsValidHost(const std::string& hostIn)
{
    const std::string host = text::upperAscii(text::trim(hostIn));
    if (host.empty())
        return false;
    if (IsDottedAddress(host))
        return true;
    const auto labels = text::split(host, '.');
    if (labels.size() < 2 || labels.back().empty())
        return false;
    for (const auto& word : text::split(kTopLevelDomains, ' '))
        if (word == labels.back())
            return true;
    return false;
}

bool IsDottedAddress(const std::string& text)
{
    const auto parts = text::split(text, '.');
    if (parts.size() != 4)
        return false;
    for (std::size_t i = 0; i < 4; ++i) {
        long v;
        if (!readNumber(parts[i], v) || v > (i == 0 ? 239 : 255))
            return false;
    }
    return true;
}

std::uint32_t DottedToAddress(const std::string& text)
{
    const auto parts = text::split(text, '.');
    if (parts.size() != 4)
        return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        long v = 0;
        if (!readNumber(parts[i], v))
            return 0;
        value |= static_cast<std::uint32_t>(v & 0xFF) << (8 * i);
    }
    return value;
}

std::string GetIPHost()
{
    return zs::net::localHostName();
}

std::string GetIPAddress(const std::string& host)
{
    const std::string name = host.empty() ? GetIPHost() : std::string(text::trim(host));
    return zs::net::resolveIPv4(name).value_or(std::string());
}

PingResult PingHost(const std::string& host, int timeoutMs)
{
    PingResult r;
    const std::string target = IsDottedAddress(host) ? host : GetIPAddress(host);
    if (target.empty())
        return r;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (::inet_pton(AF_INET, target.c_str(), &sa.sin_addr) != 1)
        return r;
    // An unprivileged ICMP datagram socket where the system allows one, else a raw socket
    // (privileged callers); a raw socket sees every ICMP packet, so replies are matched by id.
    zs::fs::Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    const bool raw = !fd.valid();
    if (raw)
        fd = zs::fs::Fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!fd.valid()) {
        r.available = false;
        return r;
    }
    std::random_device rd;
    std::uniform_int_distribution<int> dist(1, 255);
    unsigned char packet[8 + 32] = {};
    packet[0] = ICMP_ECHO;
    const auto id = static_cast<std::uint16_t>(dist(rd) << 8 | dist(rd));
    packet[4] = static_cast<unsigned char>(id >> 8);
    packet[5] = static_cast<unsigned char>(id & 0xFF);
    packet[7] = 1;
    for (std::size_t i = 8; i < sizeof packet; ++i)
        packet[i] = static_cast<unsigned char>(dist(rd));
    const std::uint16_t sum = checksum(packet, sizeof packet);
    packet[2] = static_cast<unsigned char>(sum >> 8);
    packet[3] = static_cast<unsigned char>(sum & 0xFF);
    const auto start = std::chrono::steady_clock::now();
    if (::sendto(fd.get(), packet, sizeof packet, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) < 0)
        return r;
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    unsigned char reply[300];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd p{fd.get(), POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            return r;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t got =
            ::recvfrom(fd.get(), reply, sizeof reply, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
        const unsigned char* icmp = reply;
        if (raw && got > 0) {
            const std::size_t ihl = static_cast<std::size_t>(reply[0] & 0x0F) * 4;
            if (static_cast<std::size_t>(got) < ihl + 8)
                continue;
            icmp = reply + ihl;
            got -= static_cast<ssize_t>(ihl);
            if (icmp[4] != packet[4] || icmp[5] != packet[5])
                continue; // someone else's echo
        }
        const ssize_t n = got;
        if (n < 8 || icmp[0] != ICMP_ECHOREPLY)
            continue;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        r.host = text;
        r.roundTrip = std::to_string(ms);
        r.dataSize = std::to_string(n - 8) + " bytes";
        r.echoMatched = n - 8 == 32 && std::memcmp(icmp + 8, packet + 8, 32) == 0;
        r.ok = from.sin_addr.s_addr == sa.sin_addr.s_addr;
        return r;
    }
}

std::string GetContentType(const std::string& fileName, const std::string& fallback)
{
    static const std::unordered_map<std::string, std::string> kTypes = {
        {".txt", "text/plain"},         {".log", "text/plain"},
        {".htm", "text/html"},          {".html", "text/html"},
        {".xml", "text/xml"},           {".csv", "text/csv"},
        {".css", "text/css"},           {".rtf", "application/rtf"},
        {".pdf", "application/pdf"},    {".zip", "application/zip"},
        {".arj", "application/x-arj"},  {".gz", "application/x-gzip"},
        {".doc", "application/msword"}, {".xls", "application/vnd.ms-excel"},
        {".gif", "image/gif"},          {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},        {".png", "image/png"},
        {".bmp", "image/bmp"},          {".tif", "image/tiff"},
        {".tiff", "image/tiff"},        {".wav", "audio/wav"},
        {".mp3", "audio/mpeg"},
    };
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return fallback;
    const std::string ext = text::lowerAscii(fileName.substr(dot));
    const auto it = kTypes.find(ext);
    return it == kTypes.end() ? fallback : it->second;
}

} // namespace zs::mail
