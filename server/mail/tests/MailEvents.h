#pragma once
// What the client reports during a whole send, in order, for the tests against the real peers;
// the client set up for a plain send to a peer on 127.0.0.1; attachment bytes. Header only; test
// code only.

#include "mail/clsSendMail.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zs::mail::test {

/// Every event in order, as "S:<status>", "P:<percent>", "OK", "FAIL:<text>".
struct MailEvents {
    std::vector<std::string> all;

    void attach(clsSendMail& m)
    {
        m.Status = [this](const std::string& s) { all.push_back("S:" + s); };
        m.Progress = [this](long p) { all.push_back("P:" + std::to_string(p)); };
        m.SendSuccesful = [this] { all.push_back("OK"); };
        m.SendFailed = [this](const std::string& t) { all.push_back("FAIL:" + t); };
    }
    int count(const std::string& prefix) const
    {
        return static_cast<int>(
            std::count_if(all.begin(), all.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }
    bool has(const std::string& e) const { return std::find(all.begin(), all.end(), e) != all.end(); }
    /// The text of the first failure, empty when none.
    std::string failure() const
    {
        for (const auto& e : all)
            if (e.rfind("FAIL:", 0) == 0)
                return e.substr(5);
        return {};
    }
    /// The ends of the sends: "OK" and "FAIL:..." events only.
    std::vector<std::string> outcomes() const
    {
        std::vector<std::string> out;
        for (const auto& e : all)
            if (e == "OK" || e.rfind("FAIL:", 0) == 0)
                out.push_back(e);
        return out;
    }
    std::vector<long> progress() const
    {
        std::vector<long> out;
        for (const auto& e : all)
            if (e.rfind("P:", 0) == 0)
                out.push_back(std::stol(e.substr(2)));
        return out;
    }
    /// No status came: nothing was connected.
    bool noStatus() const
    {
        return std::none_of(all.begin(), all.end(), [](const std::string& e) { return e.rfind("S:", 0) == 0; });
    }
};

/// A short plain message from a fixed sender to a fixed recipient through 127.0.0.1:`port`,
/// with five-second time-outs and no check of the host name.
inline void configureLoopbackSend(clsSendMail& m, std::uint16_t port)
{
    m.setSMTPHostValidation(0);
    m.setSMTPHost("127.0.0.1");
    m.setSMTPPort(port);
    m.setConnectTimeout(5);
    m.setMessageTimeout(5);
    m.setFrom("mittente@example.it");
    m.setRecipient("dest@example.it");
    m.setSubject("Prova");
    m.setMessage("Corpo");
}

/// `size` bytes of the same pseudo-random run for the same `seed`.
inline std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = static_cast<char>(gen() & 0xFF);
    return out;
}

} // namespace zs::mail::test
