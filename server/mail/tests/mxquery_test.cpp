// The MX resolver against a real dnsmasq, and its decoder against hostile answers.
#include "mailpeers/MailPeers.h"

#include "mail/clsSendMail.h"
#include "mail/modMXQuery.h"
#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>

using namespace zs::mail;
using namespace zs::mail::test;

namespace {

modMXQuery::Options optionsFor(const zs::test::TempDir& dir, std::uint16_t port, const std::string& resolvConf)
{
    zs::test::writeFile(dir / "resolv.conf", resolvConf);
    return {.resolverConfig = dir / "resolv.conf", .port = port, .timeoutMs = 2000};
}

std::string errorOf(modMXQuery& mx, const std::string& domain)
{
    try {
        mx.MXQuery(domain);
    } catch (const MXQueryError& e) {
        EXPECT_EQ(e.number(), 20000);
        EXPECT_STREQ(e.source(), "MXQuery");
        return e.what();
    }
    return {};
}

// Reply builder: header (id 0x11DF, response), the question for `q`, then raw answer bytes.
std::vector<std::uint8_t> reply(unsigned answers, const std::string& q, const std::vector<std::uint8_t>& body)
{
    std::vector<std::uint8_t> r = {0x11,
                                   0xDF,
                                   0x81,
                                   0x80,
                                   0,
                                   1,
                                   static_cast<std::uint8_t>(answers >> 8),
                                   static_cast<std::uint8_t>(answers & 0xFF),
                                   0,
                                   0,
                                   0,
                                   0};
    std::string name;
    (void)modMXQuery::EncodeDNSName(q, name);
    r.insert(r.end(), name.begin(), name.end());
    r.insert(r.end(), {0, 0, 15, 0, 1});
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

// One MX answer owned by the question (pointer 0xC00C), exchange given as raw name bytes.
std::vector<std::uint8_t> mx(std::uint16_t pref, const std::vector<std::uint8_t>& exchange, std::uint16_t type = 15)
{
    std::vector<std::uint8_t> a = {0xC0,
                                   0x0C,
                                   static_cast<std::uint8_t>(type >> 8),
                                   static_cast<std::uint8_t>(type),
                                   0,
                                   1,
                                   0,
                                   0,
                                   0,
                                   60,
                                   0,
                                   static_cast<std::uint8_t>(exchange.size() + 2),
                                   static_cast<std::uint8_t>(pref >> 8),
                                   static_cast<std::uint8_t>(pref & 0xFF)};
    a.insert(a.end(), exchange.begin(), exchange.end());
    return a;
}

std::vector<std::uint8_t> name(const std::string& n)
{
    std::string enc;
    (void)modMXQuery::EncodeDNSName(n, enc);
    std::vector<std::uint8_t> v(enc.begin(), enc.end());
    v.push_back(0);
    return v;
}

std::vector<std::uint8_t> cat(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A DNS server on 127.0.0.1 that answers every query with the same datagrams, each sent as
// built, until it is destroyed.
class ScriptedDns {
  public:
    explicit ScriptedDns(std::vector<std::vector<std::uint8_t>> datagrams)
        : m_datagrams(std::move(datagrams))
        , m_thread([this] { serve(); })
    {}
    ~ScriptedDns()
    {
        m_stop = true;
        m_thread.join();
    }
    std::uint16_t port() const { return m_socket.port(); }
    int queries() const { return m_queries; }

  private:
    void serve()
    {
        while (!m_stop) {
            pollfd p{m_socket.fd(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            unsigned char buf[512];
            sockaddr_in from{};
            socklen_t fl = sizeof from;
            const ssize_t n = ::recvfrom(m_socket.fd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fl);
            if (n < 12)
                continue;
            ++m_queries;
            for (const auto& d : m_datagrams)
                ::sendto(m_socket.fd(), d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), fl);
        }
    }

    zs::test::LoopbackSocket m_socket{zs::test::LoopbackSocket::Kind::Udp};
    std::vector<std::vector<std::uint8_t>> m_datagrams;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_queries{0};
    std::thread m_thread;
};

} // namespace

TEST(MXQuery, AgainstDnsmasqInPreferenceOrderWithTheClimb)
{
    DnsPeer dns({"example.it,mx2.example.it,20", "example.it,mx1.example.it,10", "sub.other.org,only.other.org,5"});
    ASSERT_TRUE(dns.ok());
    zs::test::TempDir dir;
    modMXQuery mx(optionsFor(dir, dns.port(), "nameserver 127.0.0.1\ndomain example.it\n"));
    EXPECT_EQ(mx.MXQuery("example.it"), "mx1.example.it");
    ASSERT_EQ(mx.MXRecords().size(), 2u);
    EXPECT_EQ(mx.MXRecords()[0].Preference, 10);
    EXPECT_EQ(mx.MXRecords()[1].Host, "mx2.example.it");
    EXPECT_EQ(mx.BaseDomain(), "example.it");
    EXPECT_EQ(mx.MXQuery(""), "mx1.example.it") << "the empty domain is the local one";
    EXPECT_EQ(mx.MXQuery("deep.sub.example.it"), "mx1.example.it") << "climbs up to the base domain";
    EXPECT_EQ(mx.MXQuery("sub.other.org"), "only.other.org");
    EXPECT_EQ(mx.MXQuery("nomx.other.org"), "") << "outside the base domain there is no climb";
    EXPECT_EQ(errorOf(mx, "a.it"), "No Valid Domain Specified");
}

TEST(MXQuery, RaisedErrors)
{
    zs::test::TempDir dir;
    modMXQuery none(optionsFor(dir, 53, "# nothing\n"));
    EXPECT_EQ(errorOf(none, "example.it"), "No DNS entries found, MX Query cannot contine.");

    zs::test::LoopbackSocket silent(zs::test::LoopbackSocket::Kind::Udp);
    auto opts = optionsFor(dir, silent.port(), "nameserver 127.0.0.1\n");
    opts.timeoutMs = 200;
    modMXQuery quiet(opts);
    EXPECT_EQ(errorOf(quiet, "example.it"), "Problem receiving MX query");
    EXPECT_EQ(errorOf(quiet, ""), "No Valid Domain Specified");
}

TEST(MXQuery, HostileAnswersNeverCrashOrHang)
{
    const std::string q = "example.it";
    std::vector<std::uint8_t> selfLoop = reply(1, q, {});
    {
        const auto at = selfLoop.size() + 14; // where the exchange name starts
        selfLoop = cat({selfLoop, mx(10, {0xC0, static_cast<std::uint8_t>(at)})});
    }
    std::vector<std::uint8_t> farPointer(300, 0);
    const std::vector<std::uint8_t> highTarget = name("far.example.it");
    std::copy(highTarget.begin(), highTarget.end(), farPointer.begin() + 280);
    const auto prefix = reply(1, q, mx(7, {0xC1, 0x18})); // offset 0x118 = 280
    std::copy(prefix.begin(), prefix.end(), farPointer.begin());

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        unsigned answers;
        std::string best;
    } cases[] = {
        {"preference decides", reply(2, q, cat({mx(40000, name("slow.example.it")), mx(10, name("fast.example.it"))})),
         2, "fast.example.it"},
        {"equal preferences keep reply order",
         reply(2, q, cat({mx(5, name("a.example.it")), mx(5, name("b.example.it"))})), 2, "a.example.it"},
        {"first answer not MX", reply(2, q, cat({mx(5, name("c.example.it"), 5), mx(5, name("m.example.it"))})), 2, ""},
        {"blank exchange skipped", reply(2, q, cat({mx(1, name("   ")), mx(9, name("ok.example.it"))})), 2,
         "ok.example.it"},
        {"exchange through a pointer", reply(1, q, mx(3, {0xC0, 0x0C})), 1, "example.it"},
        {"pointer above 255", farPointer, 1, "far.example.it"},
        {"compression loop", selfLoop, 1, ""},
        {"pointer past the buffer", reply(1, q, mx(3, {0xFF, 0xFF})), 1, ""},
        {"truncated answers", reply(5, q, {0xC0, 0x0C, 0}), 5, ""},
        {"count past the end", reply(65535, q, mx(1, name("x.example.it"))), 65535, "x.example.it"},
        {"label runs off the buffer", std::vector<std::uint8_t>(2048, 63), 3, ""},
        {"label runs past the datagram", reply(1, q, mx(5, {10, 'a', 'b', 'c'})), 1, ""},
        {"name without its zero byte", reply(1, q, mx(5, {3, 'a', 'b', 'c'})), 1, ""},
        {"good answer, then one cut short", reply(2, q, cat({mx(5, name("ok.example.it")), mx(1, {9, 'x', 'y'})})), 2,
         "ok.example.it"},
        {"empty", {}, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MXRecord> records;
        EXPECT_EQ(modMXQuery::ParseMXAnswers(c.bytes, c.answers, records), c.best);
        if (!c.best.empty()) {
            ASSERT_FALSE(records.empty());
            EXPECT_EQ(records.front().Host, c.best);
        }
    }
    // Random bytes behind a valid header: the walk always ends.
    std::mt19937 gen(4575);
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> junk = reply(gen() & 0xFFFF, q, {});
        junk.resize(junk.size() + gen() % 2100);
        for (std::size_t k = 29; k < junk.size(); ++k)
            junk[k] = static_cast<std::uint8_t>(gen() % 4 == 0 ? 0xC0 | (gen() & 7) : gen());
        std::vector<MXRecord> records;
        (void)modMXQuery::ParseMXAnswers(junk, junk[6] << 8 | junk[7], records);
    }
}

TEST(MXQuery, StrayDatagramsAreIgnoredAndAHostileReplyGivesNothing)
{
    // A DNS server that answers first with a datagram with a wrong identifier, then with a
    // reply whose exchange name points at itself.
    auto stray = reply(1, "example.it", mx(1, name("wrong.example.it")));
    stray[1] ^= 0xFF;
    auto hostile = reply(1, "example.it", {});
    const auto at = static_cast<std::uint8_t>(hostile.size() + 14);
    hostile = cat({hostile, mx(1, {0xC0, at})});
    ScriptedDns dns({stray, hostile});
    zs::test::TempDir dir;
    modMXQuery mx(optionsFor(dir, dns.port(), "nameserver 127.0.0.1\n"));
    EXPECT_EQ(mx.MXQuery("example.it"), "");
}

TEST(MXQuery, MailClassUsesTheExchangeWhenNoHostIsSet)
{
    zs::test::ScopedTestEnv env;
    DnsPeer dns({"example.it,localhost,10"});
    ASSERT_TRUE(dns.ok());
    SmtpPeer smtp;
    ASSERT_TRUE(smtp.ok());
    zs::test::TempDir dir;
    SendMailOptions options;
    options.mx = optionsFor(dir, dns.port(), "nameserver 127.0.0.1\ndomain example.it\n");
    clsSendMail m(options);
    std::vector<std::string> status;
    int ok = 0;
    std::string failed;
    m.Status = [&](const std::string& s) { status.push_back(s); };
    m.SendSuccesful = [&] { ++ok; };
    m.SendFailed = [&](const std::string& t) { failed += t; };
    m.setSMTPPort(smtp.port());
    m.setConnectTimeout(5);
    m.setMessageTimeout(5);
    m.setFrom("me@example.it");
    m.setRecipient("you@example.it");
    m.Send();
    EXPECT_EQ(ok, 1) << failed;
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front(), "Performing MX Query");
    EXPECT_EQ(m.SMTPHost(), "localhost");
}

namespace {

std::vector<std::uint8_t> rawLabels(std::initializer_list<std::string> labels)
{
    std::vector<std::uint8_t> v;
    for (const auto& l : labels) {
        v.push_back(static_cast<std::uint8_t>(l.size()));
        v.insert(v.end(), l.begin(), l.end());
    }
    v.push_back(0);
    return v;
}

} // namespace

TEST(MXQuery, NamesAndQuestionsAnAnswerMayNotCarryLeaveNoExchangerAndTheSetHostIsUsed)
{
    // Each answer is refused as an answer without a usable exchanger: the names never reach a
    // status text, a failure text or a connection. A send without a host then fails with the
    // class's text; with the SMTP host set it goes to that server.
    const std::string q = "example.it";
    std::vector<std::uint8_t> loop = reply(1, q, {});
    loop = cat({loop, mx(10, {0xC0, static_cast<std::uint8_t>(loop.size() + 14)})});
    const std::string label63(63, 'a');
    struct Case {
        const char* name;
        std::vector<std::uint8_t> answer;
    } cases[] = {
        {"CR LF in a label", reply(1, q, mx(10, rawLabels({"evil\r\nhst", "example", "it"})))},
        {"NUL in a label", reply(1, q, mx(10, rawLabels({std::string("x\0y", 3), "example", "it"})))},
        {"a blank inside the name", reply(1, q, mx(10, rawLabels({"mx 1", "example", "it"})))},
        {"a 300-character name",
         reply(1, q, mx(10, rawLabels({label63, label63, label63, label63, std::string(33, 'b'), "example", "it"})))},
        {"another question echoed", reply(1, "other.it", mx(10, name("mx.other.it")))},
        {"a compression loop", loop},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        ScriptedDns dns({c.answer});
        zs::test::TempDir dir;
        modMXQuery resolver(optionsFor(dir, dns.port(), "nameserver 127.0.0.1\ndomain example.it\n"));
        EXPECT_EQ(resolver.MXQuery(q), "");
        EXPECT_TRUE(resolver.MXRecords().empty());
        EXPECT_EQ(dns.queries(), 1) << "no climb on a refused answer";

        SmtpPeer smtp;
        ASSERT_TRUE(smtp.ok());
        SendMailOptions options;
        options.mx = optionsFor(dir, dns.port(), "nameserver 127.0.0.1\ndomain example.it\n");
        clsSendMail m(options);
        std::vector<std::string> status, outcomes;
        m.Status = [&](const std::string& s) { status.push_back(s); };
        m.SendSuccesful = [&] { outcomes.push_back("OK"); };
        m.SendFailed = [&](const std::string& t) { outcomes.push_back("FAIL:" + t); };
        m.setSMTPHostValidation(0);
        m.setSMTPPort(smtp.port());
        m.setConnectTimeout(5);
        m.setMessageTimeout(5);
        m.setFrom("me@example.it");
        m.setRecipient("you@example.it");
        m.Send();
        EXPECT_EQ(outcomes, std::vector<std::string>{"FAIL:Invalid or Missing SMTP Host Name\r\n"});
        EXPECT_EQ(status, std::vector<std::string>{"Performing MX Query"});
        EXPECT_EQ(m.SMTPHost(), "");

        outcomes.clear();
        m.setSMTPHost("127.0.0.1");
        m.Send();
        EXPECT_EQ(outcomes, std::vector<std::string>{"OK"});
        EXPECT_EQ(smtp.count(), 1);
        for (const auto& s : status)
            EXPECT_EQ(s.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << s;
    }
}

TEST(MXQuery, OnlyLettersDigitsHyphensAndDotsMakeAHostName)
{
    EXPECT_TRUE(modMXQuery::isUsableHostName("mx-1.Example.it"));
    EXPECT_TRUE(modMXQuery::isUsableHostName(std::string(253, 'a')));
    EXPECT_FALSE(modMXQuery::isUsableHostName(std::string(254, 'a')));
    EXPECT_FALSE(modMXQuery::isUsableHostName(""));
    for (const std::string& bad :
         std::vector<std::string>{"a b.it", "a\rb.it", "a\nb.it", std::string("a\0b.it", 6), "a_b.it", "\xC3\xA8.it"})
        EXPECT_FALSE(modMXQuery::isUsableHostName(bad)) << ::testing::PrintToString(bad);
}
