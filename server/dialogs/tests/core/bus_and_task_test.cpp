#include "dialogs/core/BusAndTaskCall.h"

#include "DialogsTestSupport.h"

#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "program/PasswordCodec.h"
#include "program/ProgramLog.h"
#include "time/Clock.h"

#include <gtest/gtest.h>

using namespace zs;
using namespace zs::dialogs;
using automation::Variant;

namespace {

/// Every call made on either control, in order: "System.put Machine=srv".
std::vector<std::string> g_calls;
struct Script {
    bool execResult = true;
    std::int32_t lastErr = 0, stat = 0, reason = 0, subError = 0;
    bool failLogin = false;
} g_script;

class RecordingControl : public automation::Dispatchable {
  public:
    explicit RecordingControl(std::string name)
        : m_name(std::move(name))
    {}
    automation::EventSource& events() override { return m_events; }
    const automation::DispatchTable& dispatchTable() const override
    {
        return m_name == "System" ? systemTable() : sessionTable();
    }

    static void record(const std::string& what) { g_calls.push_back(what); }

    template <class T>
    static void addProperty(automation::DispatchTableBuilder<T>& b, int id, const char* name, Variant get = {})
    {
        b.property(
            id, name, "",
            [name, get](T& c) {
                record(c.m_name + ".get " + name);
                return get;
            },
            [name](T& c, const Variant& v) { record(c.m_name + ".put " + name + "=" + v.toString()); });
    }

    static const automation::DispatchTable& systemTable()
    {
        static const automation::DispatchTable t = [] {
            automation::DispatchTableBuilder<RecordingControl> b("API_K8_System");
            addProperty(b, 1, "SystemHandle", Variant(std::int32_t{4242}));
            for (auto [id, n] :
                 {std::pair{5, "Machine"}, {6, "Port"}, {7, "Environment"}, {8, "SystemUserId"}, {9, "SystemPassword"}})
                addProperty(b, id, n);
            b.method(10, "Close", [](RecordingControl& c, std::span<Variant>) {
                record(c.m_name + ".Close");
                return Variant();
            });
            b.method(11, "Login", [](RecordingControl& c, std::span<Variant>) {
                record(c.m_name + ".Login");
                if (g_script.failLogin)
                    throw automation::AutomationError(5, "Login failed");
                return Variant(false);
            });
            b.method(13, "GetLastStatusCodes", [](RecordingControl& c, std::span<Variant> a) {
                record(c.m_name + ".GetLastStatusCodes");
                a[0] = Variant(g_script.stat);
                a[1] = Variant(g_script.reason);
                a[2] = Variant(g_script.subError);
                return Variant(g_script.lastErr);
            });
            return b.build();
        }();
        return t;
    }
    static const automation::DispatchTable& sessionTable()
    {
        static const automation::DispatchTable t = [] {
            automation::DispatchTableBuilder<RecordingControl> b("API_K8_Session");
            for (auto [id, n] : {std::pair{2, "ParamListCount"},
                                 {3, "ParamList"},
                                 {11, "Environment"},
                                 {12, "OperatorId"},
                                 {13, "OperatorPassword"},
                                 {14, "CoDiv"},
                                 {15, "SystemHandle"},
                                 {16, "TaskName"},
                                 {17, "EnablePrinterEvents"}})
                addProperty(b, id, n);
            b.method(20, "Close", [](RecordingControl& c, std::span<Variant>) {
                record(c.m_name + ".Close");
                return Variant();
            });
            b.method(21, "Open", [](RecordingControl& c, std::span<Variant>) {
                record(c.m_name + ".Open");
                return Variant(false);
            });
            b.method(22, "ExecTask", [](RecordingControl& c, std::span<Variant>) {
                record(c.m_name + ".ExecTask");
                return Variant(g_script.execResult);
            });
            return b.build();
        }();
        return t;
    }

    std::string m_name;
    automation::EventSource m_events;
};

struct FixedClock : time::Clock {
    time::DateTime now() const override { return time::DateTime{2024, 3, 5, 10, 0, 0}; }
    std::int64_t tickMs() const override { return 0; }
};

struct BusFixture : ::testing::Test {
    void SetUp() override
    {
        g_calls.clear();
        g_script = {};
        registry.add({kSystemProgId, "{1}", "_DAPI_K8_System", "", "", "",
                      [] { return std::make_unique<RecordingControl>("System"); }});
        registry.add({kSessionProgId, "{2}", "_DAPI_K8_Session", "", "", "",
                      [] { return std::make_unique<RecordingControl>("Session"); }});
        folder.write("zentrikServer.xml",
                     "<zentrikServer><BusAndTask computer=\"vevira01\" systemUserID=\"sys\" systemPassword=\"" +
                         program::CodificaPassword("s3gret") + "\" operatorUserID=\"op\" operatorPassword=\"" +
                         program::CodificaPassword("pw&1") + "\" coDiv=\"01\"/></zentrikServer>");
        ASSERT_TRUE(folder.store.load());
    }
    dtest::ProgramFolder folder;
    automation::ClassRegistry registry;
    FixedClock clock;
    program::DayLog dayLog{folder.home(), clock};
    program::ProgramLog log{dayLog};
};

const std::vector<std::string> kExpectedCalls = {
    "System.put Machine=vevira01",
    "System.put Port=0",
    "System.put Environment=",
    "System.put SystemUserId=sys",
    "System.put SystemPassword=s3gret",
    "System.Login",
    "System.get SystemHandle",
    "Session.put SystemHandle=4242",
    "Session.put Environment=",
    "Session.put OperatorId=op",
    "Session.put OperatorPassword=pw&1",
    "Session.put CoDiv=01",
    "Session.Open",
    "Session.put ParamList=(A,B)",
    "Session.put ParamListCount=0",
    "Session.put EnablePrinterEvents=True",
    "Session.put TaskName=TASK1",
    "Session.ExecTask",
    "System.GetLastStatusCodes",
    "Session.put EnablePrinterEvents=False",
    "Session.Close",
    "System.Close",
};

} // namespace

TEST_F(BusFixture, SettingsReadByPathWithDecodedPasswords)
{
    const auto s = ReadBusAndTaskSettings(folder.store);
    EXPECT_EQ(s.computer, "vevira01");
    EXPECT_EQ(s.systemUserID, "sys");
    EXPECT_EQ(s.systemPassword, "s3gret");
    EXPECT_EQ(s.operatorUserID, "op");
    EXPECT_EQ(s.operatorPassword, "pw&1");
    EXPECT_EQ(s.coDiv, "01");
}

TEST_F(BusFixture, SuccessfulTaskMakesTheCallsInOrderAndLogsNothing)
{
    BusAndTaskCaller caller(&registry, folder.store, &log);
    bool ok = false;
    caller.BusAndTask("TASK1", "(A,B)", ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(g_calls, kExpectedCalls);
    EXPECT_TRUE(log.nodes().empty());
}

TEST_F(BusFixture, FailingTaskLogsTheFailureLineAndStillCloses)
{
    g_script = {false, 5, 0, 12, -1, false};
    BusAndTaskCaller caller(&registry, folder.store, &log);
    const program::LogNodeId step = log.OutputResponse("Task del bus", false, 0); // the step's head line
    bool ok = true;
    caller.BusAndTask("TASK1", "(A,B)", ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(g_calls, kExpectedCalls);
    // The failure is an error line under the step, which then shows as failed.
    ASSERT_EQ(log.nodes().size(), 2u);
    EXPECT_EQ(log.nodes()[1].text, "Errore durante la fase di Bus&Task LastErr:  5 Stat:  0 Reason: 12 SubError:-1");
    EXPECT_TRUE(log.nodes()[1].error);
    EXPECT_EQ(log.nodes()[1].parent, step);
    EXPECT_EQ(log.nodes()[0].image, program::LogImage::Error);
    EXPECT_EQ(log.nodes()[0].colour, program::kLogRed);
}

TEST_F(BusFixture, SettingsChangedBetweenCallsCountAtOnce)
{
    BusAndTaskCaller caller(&registry, folder.store, &log);
    bool ok = false;
    caller.BusAndTask("T", "", ok);
    ASSERT_TRUE(folder.store.ScriviImpostazione("BusAndTask.computer", "altro"));
    g_calls.clear();
    caller.BusAndTask("T", "", ok);
    EXPECT_EQ(g_calls.front(), "System.put Machine=altro");
}

TEST_F(BusFixture, MissingControlsAreAFailedTaskNotACrash)
{
    automation::ClassRegistry empty;
    BusAndTaskCaller caller(&empty, folder.store, &log);
    bool ok = true;
    caller.BusAndTask("T", "", ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(log.nodes().size(), 1u);
    EXPECT_EQ(log.nodes()[0].text, "Errore durante la fase di Bus&Task controllo KOR8_API.System non disponibile");

    BusAndTaskCaller noRegistry(nullptr, folder.store, &log);
    noRegistry.BusAndTask("T", "", ok);
    EXPECT_FALSE(ok);
}

TEST_F(BusFixture, AMemberThatRaisesEndsAsFailureWithBothLoginsClosed)
{
    g_script.failLogin = true;
    BusAndTaskCaller caller(&registry, folder.store, &log);
    bool ok = true;
    caller.BusAndTask("T", "", ok);
    EXPECT_FALSE(ok);
    ASSERT_GE(g_calls.size(), 3u);
    EXPECT_EQ(g_calls[g_calls.size() - 2], "Session.Close");
    EXPECT_EQ(g_calls.back(), "System.Close");
    ASSERT_EQ(log.nodes().size(), 1u);
    EXPECT_EQ(log.nodes()[0].text.rfind("Errore durante la fase di Bus&Task ", 0), 0u);
    EXPECT_EQ(log.nodes()[0].text.find("s3gret"), std::string::npos);
}

TEST(BusAndTaskFailureLine, NumbersCarryASignPlace)
{
    EXPECT_EQ(signedNumber(0), " 0");
    EXPECT_EQ(signedNumber(-7), "-7");
    EXPECT_EQ(signedNumber(2147483647), " 2147483647");
    EXPECT_EQ(BusAndTaskFailureLine(-1, -2, 3, 4),
              "Errore durante la fase di Bus&Task\r\nLastErr: -1 Stat: -2 Reason: 3 SubError: 4");
}

TEST_F(BusFixture, PasswordChangeAsTable)
{
    struct Case {
        const char* name;
        std::string box;
        std::vector<std::string> answers;
        std::string expectedBox;
        std::string expectedStored;
        int prompts;
        int messages;
    };
    const Case cases[] = {
        {"unchanged box opens no prompt", "s3gret", {}, "s3gret", "s3gret", 0, 0},
        {"confirmed change is stored", "nuova", {"nuova"}, "nuova", "nuova", 1, 0},
        {"mismatch restores the stored one", "nuova", {"diversa"}, "s3gret", "s3gret", 1, 1},
        {"cancel is a mismatch", "nuova", {""}, "s3gret", "s3gret", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        dtest::ScriptedPrompts prompts;
        for (const auto& a : c.answers)
            prompts.passwords.push_back(a);
        dtest::RecordingMessages messages;
        const std::string box = ChangeBusAndTaskPassword(folder.store, PasswordKind::System, c.box, prompts, messages);
        EXPECT_EQ(box, c.expectedBox);
        EXPECT_EQ(static_cast<int>(prompts.passwordCaptions.size()), c.prompts);
        EXPECT_EQ(static_cast<int>(messages.shown.size()), c.messages);
        if (c.messages) {
            EXPECT_EQ(messages.shown[0].text, "la seconda password non corrisponde con la prima. Ritentare");
        }
        // What is on disk, read afresh.
        program::ProgramSettings v;
        program::SecondaryOptionsFields f;
        dtest::RecordingMessages m;
        program::SettingsStore reread(v, f, m, folder.home());
        ASSERT_TRUE(reread.load());
        EXPECT_EQ(ReadBusAndTaskSettings(reread).systemPassword, c.expectedStored);
        if (c.prompts) {
            EXPECT_EQ(prompts.passwordCaptions[0], "Cambio password di sistema per accesso Bus&Task");
        }
    }
}

TEST_F(BusFixture, EnterThenLeavingPromptsOnce)
{
    dtest::ScriptedPrompts prompts;
    prompts.passwords = {"nuova"};
    dtest::RecordingMessages messages;
    std::string box = ChangeBusAndTaskPassword(folder.store, PasswordKind::Operator, "nuova", prompts, messages);
    box = ChangeBusAndTaskPassword(folder.store, PasswordKind::Operator, box, prompts, messages);
    EXPECT_EQ(prompts.passwordCaptions.size(), 1u);
    EXPECT_EQ(prompts.passwordCaptions[0], "Cambio password dell'operatore per accesso Bus&Task");
    EXPECT_EQ(ReadBusAndTaskSettings(folder.store).operatorPassword, "nuova");
    EXPECT_EQ(folder.read("zentrikServer.xml").find("nuova"), std::string::npos); // stored encoded
}
