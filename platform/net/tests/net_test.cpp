#include "net/Resolve.h"
#include "net/TcpClient.h"
#include "net/UdpExchange.h"
#include "testsupport/Loopback.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zs::net;

using zs::test::LoopbackSocket;

TEST(TcpClient, ConnectsSendsReceivesAndSeesClose)
{
    LoopbackSocket l;
    TcpClient c;
    ASSERT_TRUE(c.connect("127.0.0.1", l.port()));
    bool connected = false;
    for (int i = 0; i < 100 && !connected; ++i)
        connected = c.pump(10).connected;
    ASSERT_TRUE(connected);
    EXPECT_EQ(c.state(), TcpClient::State::Connected);
    EXPECT_EQ(c.localAddress(), "127.0.0.1");
    zs::fs::Fd peer(::accept(l.fd(), nullptr, nullptr));
    c.send("hello");
    std::size_t sent = 0;
    for (int i = 0; i < 100 && sent < 5; ++i)
        sent += c.pump(10).bytesSent;
    EXPECT_EQ(sent, 5u);
    char buf[8] = {};
    ASSERT_EQ(::recv(peer.get(), buf, sizeof buf, 0), 5);
    ::send(peer.get(), "world", 5, 0);
    peer.reset();
    std::string got;
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i) {
        auto ev = c.pump(10);
        got += ev.data;
        closed = ev.closed;
    }
    EXPECT_EQ(got, "world");
    EXPECT_TRUE(closed);
    EXPECT_EQ(c.state(), TcpClient::State::Closed);
}

TEST(TcpClient, RefusedConnectionIsAnError)
{
    std::uint16_t port;
    {
        LoopbackSocket l;
        port = l.port();
    }
    TcpClient c;
    ASSERT_TRUE(c.connect("127.0.0.1", port));
    int err = 0;
    for (int i = 0; i < 100 && !err; ++i)
        err = c.pump(10).error;
    EXPECT_EQ(err, ECONNREFUSED);
    EXPECT_EQ(c.state(), TcpClient::State::Error);
}

TEST(Resolve, ResolverConfigAndLookups)
{
    auto cfg =
        parseResolverConfig("# comment\nsearch corp.example.it other.it\nnameserver 10.0.0.1\nnameserver 10.0.0.2\n");
    EXPECT_EQ(cfg.servers, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(cfg.domain, "corp.example.it");
    EXPECT_EQ(parseResolverConfig("domain a.it\nsearch b.it\n").domain, "a.it");
    EXPECT_EQ(resolveIPv4("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(resolveIPv4("localhost"), "127.0.0.1");
    EXPECT_FALSE(resolveIPv4("no-such-host.invalid"));
    EXPECT_EQ(reverseIPv4("not an address"), "");
}

TEST(UdpExchange, UnansweredRequestEndsAtTheBound)
{
    LoopbackSocket silent(LoopbackSocket::Kind::Udp);
    auto r = udpExchange("127.0.0.1", silent.port(), "q", 200, 512);
    EXPECT_EQ(r.outcome, UdpOutcome::NoAnswer);
    EXPECT_EQ(udpExchange("999.1.1.1", 53, "q", 200, 512).outcome, UdpOutcome::BadAddress);
}
