// A whole task call through the two controls against the daemon double on 127.0.0.1, checking
// what the daemon received byte for byte.
#include "BusHarness.h"

#include "Bus.h"
#include "Controls.h"

#include "DaemonDouble.h"

#include "automation/ClassRegistry.h"

#include <gmock/gmock.h>

namespace zs::k8bus::test {
namespace {

using automation::InvokeKind;
using automation::Variant;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;

struct Line {
    int session, format, type, ctrl, length;
    std::string text;
    bool operator==(const Line&) const = default;
};

Variant call(automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
{
    auto r = o.dispatchTable().invoke(o, id, kind, args);
    EXPECT_TRUE(r.ok) << "dispatch id " << id << ": " << r.errorText;
    return r.value;
}
void put(automation::Dispatchable& o, int id, Variant v)
{
    call(o, id, InvokeKind::Put, {std::move(v)});
}
Variant get(automation::Dispatchable& o, int id)
{
    return call(o, id, InvokeKind::Get);
}
Variant method(automation::Dispatchable& o, int id)
{
    return call(o, id, InvokeKind::Method);
}

// The daemon's side of one task: session 7, a report-output connection with two lines, the
// output parameters X and Y, then the end of the session.
void serveOneTask(DaemonConnection& c, int)
{
    if (!answerLogin(c, 7))
        return;
    if (!c.next())
        return;
    const int outPort = c.listenForOutput();
    c.send(Reply(4).info(1, 0, 7).array({std::to_string(outPort), "3"}));
    if (c.acceptOutput()) {
        c.sendOutput(k8test::reportLine(0, 1, "Riga uno\r\n"));
        c.sendOutput(k8test::reportLine(2, 0, "Riga due"));
        c.closeOutput();
    }
    c.send(Reply(0).info(1, 0, 7).num(0).num(0).num(0).list({{"X", "10"}, {"Y", "venti"}}));
    if (!c.next())
        return;
    c.send(Reply(1).info(1, 0, 7).num(0));
    c.waitForClose(2000);
}

class EndToEnd : public BusTest {
  protected:
    // Logs in, opens, runs TASK1 with A=1,B()=(p,q), closes; returns the ExecTask result.
    bool runTask(int port, bool printerEvents, std::vector<Line>& lines, std::string& paramListOut,
                 std::int32_t& countOut)
    {
        automation::ClassRegistry registry;
        registerClasses(registry);
        auto system = registry.create(kSystemProgId);
        auto session = registry.create(kSessionClsid);
        EXPECT_TRUE(system && session);
        session->events().connect([&](automation::DispId id, std::span<Variant> a) {
            EXPECT_EQ(id, 1);
            lines.push_back(
                {a[0].toInt32(), a[1].toInt32(), a[2].toInt32(), a[3].toInt32(), a[4].toInt32(), a[5].toString()});
        });
        put(*system, 5, "127.0.0.1");
        put(*system, 6, static_cast<std::int32_t>(port));
        put(*system, 7, "PROD");
        put(*system, 8, "sysuser");
        put(*system, 9, "s3cret");
        EXPECT_EQ(method(*system, 11).toInt32(), 0);
        put(*system, 3, "IT"); // the code set travels in every request-info block
        put(*session, 15, get(*system, 1));
        put(*session, 11, "");
        put(*session, 12, "oper");
        put(*session, 13, "opw");
        put(*session, 14, "01/A");
        EXPECT_FALSE(get(*session, 17).toBool()); // printer events are off before Open
        EXPECT_EQ(method(*session, 21).toInt32(), 0);
        put(*session, 3, "A=1,B()=(p,q)");
        put(*session, 2, static_cast<std::int16_t>(0));
        put(*session, 17, printerEvents);
        put(*session, 16, "TASK1");
        const bool ok = method(*session, 22).toBool();
        paramListOut = get(*session, 8).toString();
        countOut = get(*session, 9).toInt32();
        put(*session, 17, false);
        EXPECT_TRUE(method(*session, 20).toBool());
        EXPECT_FALSE(method(*session, 20).toBool()); // a second Close has nothing to end
        EXPECT_TRUE(method(*system, 10).toBool());
        EXPECT_EQ(get(*system, 1).toInt32(), -1);
        return ok;
    }
};

TEST_F(EndToEnd, TaskWithParametersReportLinesAndOutputs)
{
    DaemonDouble daemon(serveOneTask);
    std::vector<Line> lines;
    std::string out;
    std::int32_t count = 0;
    std::string hostAddress;
    onFreshThread([&] {
        EXPECT_TRUE(runTask(daemon.port(), true, lines, out, count));
        sockGetHostAddress(nullptr, hostAddress, 65);
    });
    EXPECT_EQ(out, "X=10,Y=venti");
    EXPECT_EQ(count, 2);
    const std::vector<Line> expected = {
        {0, 3, 0, 1, 10, "Riga uno\r\n"}, {0, 3, 2, 0, 8, "Riga due"}, {0, -1, -1, 0, 0, ""}, // the end of the output
    };
    EXPECT_EQ(lines, expected);

    const auto got = daemon.received();
    ASSERT_EQ(got.size(), 3u);
    // Open: type 0, three parameters, the environment and the scrambled user block.
    const auto& open = got[0];
    EXPECT_EQ(open.type, 0);
    ASSERT_EQ(open.params.size(), 3u);
    std::string rebuilt = std::string("\x00\x00\x03", 3);
    for (const auto& p : open.params)
        rebuilt += k8test::be16(static_cast<unsigned>(p.size())) + p;
    EXPECT_EQ(open.raw, rebuilt);
    auto info = k8test::splitBlock(open.params[0]);
    ASSERT_TRUE(info);
    ASSERT_EQ(info->size(), 5u);
    EXPECT_EQ((*info)[0], "1");
    EXPECT_EQ((*info)[2], "0");
    EXPECT_EQ((*info)[3], hostAddress);
    EXPECT_EQ((*info)[4], "IT");
    const long firstNumber = std::stol((*info)[1]);
    EXPECT_EQ(open.params[1], "PROD");
    EXPECT_EQ(open.params[2][0], '\x01');
    EXPECT_EQ(open.params[2].find("s3cret"), std::string::npos); // scrambled on the wire
    auto user = k8test::openCredentialBlock(open.params[2]);
    ASSERT_TRUE(user);
    EXPECT_EQ(*user, (std::vector<std::string>{"sysuser", "s3cret"}));

    // Execute: type 1, five parameters.
    const auto& exec = got[1];
    EXPECT_EQ(exec.type, 1);
    EXPECT_EQ(exec.declaredCount, 5);
    ASSERT_EQ(exec.params.size(), 5u);
    info = k8test::splitBlock(exec.params[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[1], std::to_string(firstNumber + 1 + 7000)); // counter + 1000 x session id
    EXPECT_EQ((*info)[2], "7");
    auto sessionBlock = k8test::openCredentialBlock(exec.params[1]);
    ASSERT_TRUE(sessionBlock);
    EXPECT_EQ(*sessionBlock, (std::vector<std::string>{"oper", "01/A", "opw"}));
    EXPECT_EQ(exec.params[2], "TASK1");
    auto pairs = k8test::splitPairs(exec.params[3]);
    ASSERT_TRUE(pairs);
    const std::vector<std::pair<std::string, std::string>> expectPairs = {{"A", "1"},
                                                                          {"B()", k8test::arrayBytes({"p", "q"})}};
    EXPECT_EQ(*pairs, expectPairs);
    EXPECT_EQ(exec.params[4], std::string("\x00\x00", 2)); // no environment values

    // End: type 2 with the info block only.
    EXPECT_EQ(got[2].type, 2);
    ASSERT_EQ(got[2].params.size(), 1u);
    info = k8test::splitBlock(got[2].params[0]);
    ASSERT_TRUE(info);
    EXPECT_EQ((*info)[2], "7");

    // Passwords never reach the trace, in clear or as their wire form.
    const std::string trace = traceText();
    EXPECT_NE(trace.find("k8ExecTask: TaskName 'TASK1'"), std::string::npos);
    EXPECT_EQ(trace.find("s3cret"), std::string::npos);
    EXPECT_EQ(trace.find("opw"), std::string::npos);
}

TEST_F(EndToEnd, WithoutPrinterEventsLinesGoToStandardOutput)
{
    DaemonDouble daemon(serveOneTask);
    std::vector<Line> lines;
    std::string out;
    std::int32_t count = 0;
    ::testing::internal::CaptureStdout();
    onFreshThread([&] { EXPECT_TRUE(runTask(daemon.port(), false, lines, out, count)); });
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(lines.empty());
    // Line control 1 prints one line feed first; the trailing CR LF is cut.
    EXPECT_NE(printed.find("\nRiga uno\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Riga due\n"), std::string::npos);
    EXPECT_EQ(printed.find("Riga uno\r"), std::string::npos);
    EXPECT_EQ(out, "X=10,Y=venti");
}

TEST_F(EndToEnd, KeyedParametersTravelAsAnEncodedList)
{
    DaemonDouble daemon([](DaemonConnection& c, int) {
        if (!answerLogin(c, 3))
            return;
        if (!c.next())
            return;
        c.send(Reply(0).info(1, 0, 3).num(0).num(0).num(0).list({{"X", "\xe8"}}));
        if (c.next())
            c.send(Reply(1).info(1, 0, 3).num(0));
        c.waitForClose(2000);
    });
    onFreshThread([&] {
        automation::ClassRegistry registry;
        registerClasses(registry);
        auto system = registry.create(kSystemProgId);
        auto session = registry.create(kSessionProgId);
        put(*system, 5, "127.0.0.1");
        put(*system, 6, static_cast<std::int32_t>(daemon.port()));
        method(*system, 11);
        put(*session, 15, get(*system, 1));
        EXPECT_EQ(method(*session, 21).toInt32(), 0);
        call(*session, 23, InvokeKind::Put, {Variant("A"), Variant("caffè")});
        put(*session, 16, "T");
        EXPECT_TRUE(method(*session, 22).toBool());
        EXPECT_EQ(call(*session, 26, InvokeKind::Get, {Variant("X")}).toString(), "è"); // from Windows-1252
        EXPECT_EQ(get(*session, 9).toInt32(), 1);
        method(*session, 20);
        method(*system, 10);
    });
    const auto got = daemon.received();
    ASSERT_GE(got.size(), 2u);
    ASSERT_EQ(got[1].params.size(), 5u);
    EXPECT_EQ(got[1].params[3], std::string("\x00\x01\x00\x01"
                                            "A"
                                            "\x00\x05"
                                            "caff\xe8",
                                            12));
}

} // namespace
} // namespace zs::k8bus::test
