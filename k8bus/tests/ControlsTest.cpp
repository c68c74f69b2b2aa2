// The controls' dispatch ids, class registration, the library's exports, and the terminal
// client started for a screen request.
#include "BusHarness.h"

#include "Bus.h"
#include "Controls.h"
#include "TerminalClient.h"

#include "DaemonDouble.h"

#include "automation/ClassRegistry.h"

#include <dlfcn.h>

#include <chrono>
#include <fstream>

namespace zs::k8bus::test {
namespace {

// Every suite runs in a private environment: no trace or setting of the real user is touched.
class Controls : public BusTest {};
class Library : public BusTest {};
class TerminalClient : public BusTest {};

/// Runs task "T" through a fresh login against a daemon that asks for a screen in `mode`
/// ("N", "n": terminal, "Y": the window-based client); with `taskEnds` the daemon then ends the
/// task. Gives k8ExecTask's result and the thread's last error.
std::pair<int, int> execWithScreenRequest(const char* mode, bool taskEnds)
{
    k8test::DaemonDouble daemon([mode, taskEnds](k8test::DaemonConnection& c, int) {
        if (!answerLogin(c, 5))
            return;
        if (!c.next())
            return;
        c.send(k8test::Reply(3).info(1, 0, 5).array({"2323", mode}));
        if (taskEnds)
            c.send(k8test::Reply(0).info(1, 0, 5).num(0).num(0).num(0));
        c.waitForClose(3000);
    });
    std::pair<int, int> result;
    onFreshThread([&] {
        const int sys = k8SystemLogin("127.0.0.1", daemon.port(), "", "u", "p");
        const int session = k8OpenKor8(sys, "", "op", "cd", "pw");
        int n = 0, room = 10, nSys = 0;
        char buf[16] = {};
        result.first = k8ExecTask(session, "T", "D,", &n, 0, &room, buf, &nSys, 0, 0, "");
        result.second = k8GetLastError();
    });
    return result;
}

struct Id {
    int id;
    const char* name;
};

void expectTable(const automation::DispatchTable& table, const std::vector<Id>& ids)
{
    ASSERT_EQ(table.members().size(), ids.size());
    for (const auto& e : ids) {
        SCOPED_TRACE(e.name);
        const auto* m = table.find(e.id);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->name, e.name);
    }
}

TEST_F(Controls, SystemDispatchIds)
{
    CAPI_K8_SystemCtrl c;
    expectTable(c.dispatchTable(), {{1, "SystemHandle"},
                                    {2, "DebugMode"},
                                    {3, "CodeSet"},
                                    {4, "LastError"},
                                    {5, "Machine"},
                                    {6, "Port"},
                                    {7, "Environment"},
                                    {8, "SystemUserId"},
                                    {9, "SystemPassword"},
                                    {10, "Close"},
                                    {11, "Login"},
                                    {12, "FindTask"},
                                    {13, "GetLastStatusCodes"},
                                    {-552, "AboutBox"}});
    EXPECT_TRUE(c.dispatchTable().events().empty());
}

TEST_F(Controls, SessionDispatchIds)
{
    CAPI_K8_SessionCtrl c;
    expectTable(c.dispatchTable(), {{1, "SessionHandle"},
                                    {2, "ParamListCount"},
                                    {3, "ParamList"},
                                    {4, "BufSize"},
                                    {5, "EnvList"},
                                    {6, "EnvListCount"},
                                    {7, "EnvListOut"},
                                    {8, "ParamListOut"},
                                    {9, "ParamCountOut"},
                                    {10, "EnvCountOut"},
                                    {11, "Environment"},
                                    {12, "OperatorId"},
                                    {13, "OperatorPassword"},
                                    {14, "CoDiv"},
                                    {15, "SystemHandle"},
                                    {16, "TaskName"},
                                    {17, "EnablePrinterEvents"},
                                    {18, "Interrupt"},
                                    {19, "ResetParams"},
                                    {20, "Close"},
                                    {21, "Open"},
                                    {22, "ExecTask"},
                                    {23, "Param"},
                                    {24, "Env"},
                                    {25, "EnvOut"},
                                    {26, "ParamOut"},
                                    {27, "OCXParent"},
                                    {-552, "AboutBox"}});
    const auto& events = c.dispatchTable().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 1);
    EXPECT_EQ(events[0].name, "PrintLine");
    EXPECT_EQ(events[0].argCount, 6);
}

TEST_F(Controls, RegisteredByProgIdAndClsid)
{
    automation::ClassRegistry registry;
    registerClasses(registry);
    const auto* system = registry.byProgId("kor8_api.system");
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->clsid, "{C9B8FCAD-ABD5-11D2-ACAF-00105A1054F5}");
    EXPECT_EQ(system->defaultInterfaceId, "{C9B8FCAB-ABD5-11D2-ACAF-00105A1054F5}");
    EXPECT_EQ(system->eventInterfaceId, "{C9B8FCAC-ABD5-11D2-ACAF-00105A1054F5}");
    const auto* session = registry.byClsid("C9B8FCB1-ABD5-11D2-ACAF-00105A1054F5");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->progId, "KOR8_API.Session");
    EXPECT_EQ(session->defaultInterfaceId, "{C9B8FCAF-ABD5-11D2-ACAF-00105A1054F5}");
    EXPECT_EQ(session->eventInterfaceId, "{C9B8FCB0-ABD5-11D2-ACAF-00105A1054F5}");
}

TEST_F(BusTest, SystemControlBeforeLogin)
{
    std::thread([] {
        CAPI_K8_SystemCtrl c;
        std::vector<automation::Variant> none;
        // Close before Login: true, handle stays -1.
        EXPECT_TRUE(c.dispatchTable().invoke(c, 10, automation::InvokeKind::Method, none).value.toBool());
        std::vector<automation::Variant> v = {automation::Variant("IT")};
        c.dispatchTable().invoke(c, 3, automation::InvokeKind::Put, v);
        std::vector<automation::Variant> out(3);
        auto r = c.dispatchTable().invoke(c, 13, automation::InvokeKind::Method, out);
        EXPECT_EQ(r.value.toInt32(), -1); // "k8SetCodeSet: findSystemSession failed"
        EXPECT_EQ(out[1].toInt32(), 97);
        EXPECT_EQ(out[2].toInt32(), 97);
        std::vector<automation::Variant> port = {automation::Variant(static_cast<std::int32_t>(0))};
        c.dispatchTable().invoke(c, 6, automation::InvokeKind::Put, port);
        std::vector<automation::Variant> machine = {automation::Variant("localhost")};
        c.dispatchTable().invoke(c, 5, automation::InvokeKind::Put, machine);
        EXPECT_EQ(c.dispatchTable().invoke(c, 11, automation::InvokeKind::Method, none).value.toInt32(), 0);
        ASSERT_NE(findSystemSession(0), nullptr);
        EXPECT_EQ(findSystemSession(0)->port, 5432);
    }).join();
}

TEST_F(Library, ExportsOnlyTheMessageFunctionsAndRegistration)
{
    void* lib = ::dlopen(KOR8API_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    for (const char* name :
         {"msgInit", "msgStoreParam", "msgStoreArrayParam", "msgSetParam", "msgSetParamNum", "msgSetNumParams",
          "msgBuf", "msgLength", "_ZN2zs5k8bus15registerClassesERNS_10automation13ClassRegistryESt8functionIFbvEE"})
        EXPECT_NE(::dlsym(lib, name), nullptr) << name;
    // The library's internals stay hidden.
    EXPECT_EQ(::dlsym(lib, "_ZN2zs5k8bus8logErrorEiPKc"), nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN2zs5k8bus10k8OpenKor8EiPKcS2_S2_S2_"), nullptr);
    using InitFn = void* (*)(unsigned char, unsigned char*, std::uint32_t);
    using LengthFn = std::uint32_t (*)();
    auto init = reinterpret_cast<InitFn>(::dlsym(lib, "msgInit"));
    auto length = reinterpret_cast<LengthFn>(::dlsym(lib, "msgLength"));
    unsigned char buf[8];
    ASSERT_NE(init(2, buf, sizeof buf), nullptr);
    EXPECT_EQ(length(), 3u);
    ::dlclose(lib);
}

TEST_F(TerminalClient, ArgvFromSettingsTable)
{
    struct Case {
        const char* name;
        std::string folder, format, host;
        int port;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"default command", "", "telnet %s %d", "srv", 1234, {"telnet", "srv", "1234"}},
        {"folder in Windows form", "C:\\Tools", "telnet %s %d", "srv", 1234, {"C:/Tools/telnet", "srv", "1234"}},
        {"host with blanks and shell characters stays one argument",
         "",
         "telnet %s %d",
         "a b; rm -rf /",
         23,
         {"telnet", "a b; rm -rf /", "23"}},
        {"quotes group, %% is a percent sign, other formats stay",
         "/opt/k",
         "\"my client\" --title=\"Korvi %s:%d\" 100%% %n %x",
         "h",
         7,
         {"/opt/k/my client", "--title=Korvi h:7", "100%", "%n", "%x"}},
        {"empty command", "", "", "h", 1, {}},
        {"the README's terminal emulator for Debian",
         "",
         "xterm -T \"Korvi %s:%d\" -e telnet %s %d",
         "srv",
         1234,
         {"xterm", "-T", "Korvi srv:1234", "-e", "telnet", "srv", "1234"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(buildClientArgv(c.folder, c.format, c.host, c.port), c.argv);
    }
}

TEST_F(BusTest, ScreenRequestStartsTheTerminalClient)
{
    // The client program's name holds a blank; the command holds quotes and %s / %d.
    const auto folder = m_env.root() / "client dir";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(ARGV_RECORDER_PATH, folder / "my client");
    const auto out = m_env.root() / "argv.txt";
    {
        const zs::test::ScopedEnvVar argvOut("K8BUS_ARGV_OUT", out.string());
        const zs::test::ScopedEnvVar clientDir("K8API_CLIENT_DIR", folder.string());
        const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", "\"my client\" -h %s \"--title=Korvi %s:%d\"");
        const zs::test::ScopedEnvVar display("DISPLAY", ":99"); // where the client would show
        EXPECT_EQ(execWithScreenRequest("N", true).first, 1);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(zs::test::readFile(out),
              (folder / "my client").string() + "\n-h\n127.0.0.1\n--title=Korvi 127.0.0.1:2323\n");
}

TEST_F(BusTest, MissingClientProgramFailsTheTaskWithError45)
{
    const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", "no-such-terminal-client %s %d");
    EXPECT_EQ(execWithScreenRequest("n", false), std::make_pair(0, 45));
}

TEST_F(BusTest, GuiModeScreenRequestFailsWithoutStartingAClient)
{
    // The platform's window-based client control has no counterpart: the request fails with 101
    // and no terminal client is started in its place.
    const auto out = m_env.root() / "argv.txt";
    {
        const zs::test::ScopedEnvVar argvOut("K8BUS_ARGV_OUT", out.string());
        const zs::test::ScopedEnvVar clientCmd("K8API_CLIENT_CMD", ARGV_RECORDER_PATH);
        EXPECT_EQ(execWithScreenRequest("Y", false), std::make_pair(0, 101));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(BusTest, ParamListLargerThanBufSizeIsRefusedBeforeSending)
{
    k8test::DaemonDouble daemon([](k8test::DaemonConnection& c, int) {
        if (!answerLogin(c, 5))
            return;
        c.waitForClose(3000);
    });
    onFreshThread([&] {
        CAPI_K8_SystemCtrl system;
        CAPI_K8_SessionCtrl session;
        auto put = [](automation::Dispatchable& o, int id, automation::Variant v) {
            std::vector<automation::Variant> a = {std::move(v)};
            o.dispatchTable().invoke(o, id, automation::InvokeKind::Put, a);
        };
        auto run = [](automation::Dispatchable& o, int id) {
            std::vector<automation::Variant> none;
            return o.dispatchTable().invoke(o, id, automation::InvokeKind::Method, none).value;
        };
        put(system, 5, "127.0.0.1");
        put(system, 6, static_cast<std::int32_t>(daemon.port()));
        run(system, 11);
        put(session, 15, static_cast<std::int32_t>(system.systemHandle()));
        EXPECT_EQ(run(session, 21).toInt32(), 0);
        put(session, 4, static_cast<std::int32_t>(16));
        put(session, 3, "A=0123456789,B=0123456789");
        put(session, 16, "T");
        EXPECT_FALSE(run(session, 22).toBool());
        EXPECT_EQ(k8GetLastError(), 43);
    });
    EXPECT_EQ(daemon.received().size(), 1u); // only the open request went out
}

} // namespace
} // namespace zs::k8bus::test

namespace zs::k8bus::test {
namespace {

using automation::InvokeKind;
using automation::Variant;
using k8test::DaemonConnection;
using k8test::DaemonDouble;
using k8test::Reply;

Variant invoke(automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
{
    return o.dispatchTable().invoke(o, id, kind, args).value;
}

// A text the bus's code page (Windows-1252) cannot hold is refused with error 42 where the
// controls would send it, and nothing altered reaches the daemon; a text it holds travels
// exactly, and the same controls go on working after a refusal.
TEST_F(Controls, TextOutsideWindows1252IsRefusedNeverSentAltered)
{
    struct Case {
        const char* name;
        int dispId;       ///< the member set to the text
        bool onSession;   ///< a Session control member, else a System one
        bool keyedParams; ///< the text goes in as Param("K") (dispId 23)
        int failsAt;      ///< 11 Login, 21 Open, 22 ExecTask
    };
    const Case cases[] = {
        {"Machine", 5, false, false, 11},        {"SystemUserId", 8, false, false, 11},
        {"SystemPassword", 9, false, false, 11}, {"OperatorId", 12, true, false, 21},
        {"CoDiv", 14, true, false, 21},          {"OperatorPassword", 13, true, false, 21},
        {"ParamList", 3, true, false, 22},       {"TaskName", 16, true, false, 22},
        {"EnvList", 5, true, false, 22},         {"Param value", 23, true, true, 22},
    };
    const std::string outside = "\xC5\x81\xC3\xB3"
                                "d\xC5\xBA"
                                "1"; // "Łódź1": Ł and ź are not in the code page
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DaemonDouble daemon([](DaemonConnection& d, int) {
            while (auto r = d.next(3000)) {
                if (r->type == 0)
                    d.send(Reply(2).info(1, 0, 4));
                else if (r->type == 1)
                    d.send(Reply(0).info(1, 0, 4).num(0).num(0).num(0).list({{"WHO", r->params[2]}}));
                else
                    d.send(Reply(1).info(1, 0, 4).num(0));
            }
        });
        onFreshThread([&] {
            automation::ClassRegistry registry;
            registerClasses(registry);
            auto system = registry.create(kSystemProgId);
            auto session = registry.create(kSessionProgId);
            invoke(*system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
            invoke(*system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(daemon.port()))});
            invoke(*session, 3, InvokeKind::Put, {Variant("A=città €")}); // held by the code page
            invoke(*session, 16, InvokeKind::Put, {Variant("T")});
            auto& target = c.onSession ? *session : *system;
            const Variant before = invoke(target, c.dispId, InvokeKind::Get,
                                          c.keyedParams ? std::vector{Variant("K")} : std::vector<Variant>{});
            if (c.keyedParams)
                invoke(target, 23, InvokeKind::Put, {Variant("K"), Variant(outside)});
            else
                invoke(target, c.dispId, InvokeKind::Put, {Variant(outside)});

            const int handle = invoke(*system, 11, InvokeKind::Method).toInt32();
            EXPECT_EQ(handle < 0, c.failsAt == 11);
            invoke(*session, 15, InvokeKind::Put, {Variant(static_cast<std::int32_t>(handle))});
            const int opened = invoke(*session, 21, InvokeKind::Method).toInt32();
            EXPECT_EQ(opened < 0, c.failsAt <= 21);
            EXPECT_FALSE(invoke(*session, 22, InvokeKind::Method).toBool());
            EXPECT_EQ(invoke(*system, 4, InvokeKind::Get).toInt32(), 42);
            EXPECT_EQ(invoke(*session, 8, InvokeKind::Get).toString(), "");
            for (const auto& r : daemon.received())
                EXPECT_NE(r.type, 1) << "an execute request was sent";
            if (c.failsAt == 22) {
                // Refused before sending: the session is still in step and works with a text
                // the code page holds.
                if (c.keyedParams)
                    invoke(target, 23, InvokeKind::Put, {Variant("K"), Variant("più")});
                else
                    invoke(target, c.dispId, InvokeKind::Put, {before});
                EXPECT_TRUE(invoke(*session, 22, InvokeKind::Method).toBool());
                const auto got = daemon.received();
                ASSERT_FALSE(got.empty());
                EXPECT_EQ(got.back().params[2], "T");
                if (!c.keyedParams) {
                    EXPECT_NE(got.back().params[3].find("citt\xE0 \x80"), std::string::npos);
                }
                invoke(*session, 20, InvokeKind::Method);
            }
            invoke(*system, 10, InvokeKind::Method);
        });
    }
}

} // namespace
} // namespace zs::k8bus::test
