// Malformed, truncated and missing replies: each ends the call with its error and status
// triple, never a crash or a hang (every wait is bounded by the short test time-outs).
#include "BusHarness.h"

#include "Bus.h"

#include "DaemonDouble.h"

#include <chrono>

namespace zs::k8bus::test {
namespace {

using k8test::be16;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;

struct ExecCase {
    const char* name;
    std::function<void(DaemonConnection&)> answer; ///< after the execute request was read
    StatusTriple expected;
};

Reply kernelOk()
{
    return std::move(Reply(0).info(1, 0, 4).num(0).num(0).num(0));
}

TEST_F(BusTest, HostileExecuteRepliesTable)
{
    const ExecCase cases[] = {
        {"socket closed before any reply", [](DaemonConnection& c) { c.close(); }, {4, 4, 0, 0}},
        {"short header, then closed",
         [](DaemonConnection& c) {
             c.send(std::string("\x00\x00", 2));
             c.close();
         },
         {4, 4, 0, 0}},
        {"stalls in the middle of a reply",
         [](DaemonConnection& c) {
             c.send(std::string("\x00\x00\x02\x00", 4));
             c.waitForClose(4000);
         },
         {4, 4, 10060, 0}},
        {"never answers", [](DaemonConnection& c) { c.waitForClose(4000); }, {5, 5, 10060, 0}},
        {"count past the end of the reply",
         [](DaemonConnection& c) {
             c.send(Reply(0).count(5).info(1, 0, 4).num(0));
             c.close();
         },
         {50, 50, 0, 0}},
        {"numeric parameter of 25 digits",
         [](DaemonConnection& c) { c.send(Reply(0).info(1, 0, 4).param(std::string(25, '1'))); },
         {50, 50, 0, 0}},
        {"numeric parameter with a bad digit",
         [](DaemonConnection& c) { c.send(Reply(0).info(1, 0, 4).param("1x")); },
         {50, 50, 0, 0}},
        {"info block of one byte", [](DaemonConnection& c) { c.send(Reply(0).param("\x01").num(0)); }, {40, 40, 0, 1}},
        {"info block counting items that are not there",
         [](DaemonConnection& c) { c.send(Reply(0).param(be16(60000)).num(0)); },
         {40, 40, 0, 0}},
        {"return list with more pairs than bytes",
         [](DaemonConnection& c) { c.send(kernelOk().param(be16(3) + be16(1) + "X" + be16(1) + "1")); },
         {40, 40, 1, 3}},
        {"array element past the end of its array",
         [](DaemonConnection& c) {
             c.send(kernelOk().param(be16(1) + be16(3) + "B()" + be16(5) + be16(2) + be16(1) + "p"));
         },
         {40, 40, 1, 2}},
        {"return list cut short by a closed socket",
         [](DaemonConnection& c) {
             c.send(kernelOk().count(5).raw(be16(100) + be16(1)).bytes());
             c.close();
         },
         {4, 4, 0, 0}},
        {"unexpected reply type", [](DaemonConnection& c) { c.send(Reply(9).info(1, 0, 4).num(1)); }, {41, 41, 0, 9}},
        {"daemon status",
         [](DaemonConnection& c) { c.send(Reply(1).info(1, 0, 4).num(0).num(12).num(5)); },
         {47, 47, 12, 5}},
        {"kernel status -1",
         [](DaemonConnection& c) { c.send(Reply(0).info(1, 0, 4).num(-1).num(3).num(4)); },
         {51, 51, 3, 4}},
        {"kernel status 5",
         [](DaemonConnection& c) { c.send(Reply(0).info(1, 0, 4).num(5).num(7).num(8)); },
         {46, 46, 5, 7}},
        {"kernel status with reason 99",
         [](DaemonConnection& c) { c.send(Reply(0).info(1, 0, 4).num(5).num(99).num(8)); },
         {46, 46, 99, 8}},
        {"output request with one element",
         [](DaemonConnection& c) { c.send(Reply(4).info(1, 0, 4).array({"1"})); },
         {40, 40, 0, 0}},
        {"output request naming a port out of range",
         [](DaemonConnection& c) {
             c.send(Reply(4).info(1, 0, 4).array({"70000", "1"}));
         },
         {40, 40, 0, 70000}},
        {"screen request with three parameters",
         [](DaemonConnection& c) { c.send(Reply(3).info(1, 0, 4).array({"23"}).num(1)); },
         {40, 40, 0, 3}},
        {"report line header cut short, then kernel status -1",
         [](DaemonConnection& c) {
             const int port = c.listenForOutput();
             c.send(Reply(4).info(1, 0, 4).array({std::to_string(port), "1"}));
             if (c.acceptOutput()) {
                 c.sendOutput(std::string("\x00\x00\x00", 3));
                 c.closeOutput();
             }
             c.send(Reply(0).info(1, 0, 4).num(-1).num(2).num(3));
         },
         {51, 51, 2, 3}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        DaemonDouble daemon([&](DaemonConnection& c, int) {
            if (!answerLogin(c, 4))
                return;
            if (!c.next())
                return;
            tc.answer(c);
            c.waitForClose(3000);
        });
        const auto start = std::chrono::steady_clock::now();
        onFreshThread([&] {
            const int sys = k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p");
            const int session = k8OpenKor8(sys, "", "op", "cd", "pw");
            ASSERT_EQ(session, 0);
            int nParams = 0, room = 200, nSys = 0;
            char buffer[256] = {};
            EXPECT_EQ(k8ExecTask(session, "T", "D,", &nParams, 0, &room, buffer, &nSys, 0, 0, ""), 0) << tc.name;
            EXPECT_EQ(StatusTriple::read(), tc.expected) << tc.name;
            // The thread's end closes the connection; the daemon sees it at once.
        });
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    }
}

struct OpenCase {
    const char* name;
    std::function<void(DaemonConnection&)> answer;
    int lastError;
};

TEST_F(BusTest, HostileOpenRepliesTable)
{
    const OpenCase cases[] = {
        {"closed at once", [](DaemonConnection& c) { c.close(); }, 30},
        {"daemon refuses with a status", [](DaemonConnection& c) { c.send(Reply(1).info(1, 0, 0).num(3)); }, 30},
        {"header only", [](DaemonConnection& c) { c.send(std::string("\x02\x00", 2)); }, 30},
        {"info block past the end", [](DaemonConnection& c) { c.send(Reply(2).param(be16(2) + be16(1) + "1")); }, 30},
        {"never answers", [](DaemonConnection& c) { c.waitForClose(4000); }, 30},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        DaemonDouble daemon([&](DaemonConnection& c, int) {
            if (c.next())
                tc.answer(c);
            c.waitForClose(3000);
        });
        onFreshThread([&] {
            const int sys = k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p");
            EXPECT_EQ(k8OpenKor8(sys, "", "op", "cd", "pw"), -1);
            // The failed session is freed: no session is current, so reason and sub-error are 97.
            const StatusTriple t = StatusTriple::read();
            EXPECT_EQ(t, (StatusTriple{tc.lastError, tc.lastError, 97, 97})) << tc.name;
        });
    }
}

TEST_F(BusTest, RefusedConnectionIsErrorOne)
{
    int port = 0;
    {
        DaemonDouble gone([](DaemonConnection&, int) {});
        port = gone.port();
    } // the listener is closed: nothing answers on the port now
    onFreshThread([&] {
        const int sys = k8SystemLogin("127.0.0.1", port, "", "u", "p");
        EXPECT_EQ(k8OpenKor8(sys, "", "op", "cd", "pw"), -1);
        EXPECT_EQ(k8GetLastError(), 1);
    });
}

} // namespace
} // namespace zs::k8bus::test
