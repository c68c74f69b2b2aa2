#include "net/Resolve.h"

#include <arpa/inet.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace zs::net {

std::optional<std::string> resolveIPv4(const std::string& host)
{
    if (host.empty())
        return std::nullopt;
    in_addr direct{};
    if (::inet_pton(AF_INET, host.c_str(), &direct) == 1)
        return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, text, sizeof text);
    ::freeaddrinfo(res);
    return std::string(text);
}

std::string reverseIPv4(const std::string& dotted)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (::inet_pton(AF_INET, dotted.c_str(), &sa.sin_addr) != 1)
        return {};
    char name[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, name, sizeof name, nullptr, 0, NI_NAMEREQD) !=
        0)
        return {};
    return name;
}

std::string localHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

ResolverConfig parseResolverConfig(std::string_view text)
{
    ResolverConfig cfg;
    std::string search;
    std::istringstream in{std::string(text)};
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        if (!(words >> key) || key[0] == '#' || key[0] == ';')
            continue;
        words >> value;
        if (key == "nameserver" && !value.empty())
            cfg.servers.push_back(value);
        else if (key == "domain" && !value.empty())
            cfg.domain = value;
        else if (key == "search" && !value.empty() && search.empty())
            search = value;
    }
    if (cfg.domain.empty())
        cfg.domain = search;
    return cfg;
}

ResolverConfig readResolverConfig(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return parseResolverConfig(ss.str());
}

} // namespace zs::net
