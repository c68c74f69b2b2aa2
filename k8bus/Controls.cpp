#include "Controls.h"

#include "Bus.h"
#include "ErrorLog.h"
#include "Socket.h"

#include "automation/ClassRegistry.h"
#include "text/Cp1252.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace zs::k8bus {

using automation::DispatchTableBuilder;
using automation::Variant;

namespace {

// The bus carries Windows-1252. A text the code page cannot hold exactly (a letter it lacks,
// bytes that are not UTF-8) is never sent altered: false, and the caller refuses the call.
bool toBus(const std::string& utf8, std::string& out)
{
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out = utf8;
        return true;
    }
    out = text::toCp1252(utf8);
    return text::fromCp1252(out) == utf8;
}

// Converts every text of one call; on the first that cannot be sent, records error 42 (a
// parameter that cannot be sent) naming the member, never the value (it may be a password).
class BusTexts {
  public:
    explicit BusTexts(const char* call)
        : m_call(call)
    {}
    /// The text as the bus carries it; after a refusal, empty and ok() is false.
    std::string operator()(const std::string& utf8, const char* member)
    {
        std::string out;
        if (!m_ok || toBus(utf8, out))
            return out;
        m_ok = false;
        char text[200];
        std::snprintf(text, sizeof text, "%s: %s holds a character outside Windows-1252, not sent", m_call, member);
        initApi();
        logError(err::kBadParamFormat, text);
        return {};
    }
    bool ok() const { return m_ok; }

  private:
    const char* m_call;
    bool m_ok = true;
};
std::string fromBus(std::string_view bytes)
{
    return text::fromCp1252(bytes);
}

void put16(std::vector<char>& out, std::size_t v)
{
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
}

std::string joinMap(const std::map<std::string, std::string>& m)
{
    std::string s;
    for (const auto& [k, v] : m) {
        if (!s.empty())
            s += ',';
        s += k + "=" + v;
    }
    return s;
}

// Decodes `count` entries of key length, key, value length, value; stops at the end of the bytes.
void decodeEntries(const char* p, std::size_t size, int count, std::map<std::string, std::string>& out)
{
    std::size_t i = 0;
    auto item = [&](std::string& s) {
        if (size - i < 2)
            return false;
        const std::size_t n =
            (static_cast<std::size_t>(static_cast<unsigned char>(p[i])) << 8) | static_cast<unsigned char>(p[i + 1]);
        i += 2;
        if (size - i < n)
            return false;
        s = fromBus(std::string_view(p + i, n));
        i += n;
        return true;
    };
    for (int e = 0; e < count; ++e) {
        std::string k, v;
        if (!item(k) || !item(v))
            return;
        out[k] = v;
    }
}

} // namespace

// Controls whose printer events are on, by (thread, session handle): handles are per thread, so
// two threads' sessions with the same number never reach each other's control.
struct SessionTable {
    std::mutex lock;
    std::map<std::pair<std::thread::id, int>, CAPI_K8_SessionCtrl*> map;

    static SessionTable& instance()
    {
        static SessionTable t;
        return t;
    }
    static int reportFunction(int session, int format, int type, int lineCtrl, int length, const char* data)
    {
        CAPI_K8_SessionCtrl* ctrl = nullptr;
        {
            auto& t = instance();
            std::lock_guard l(t.lock);
            auto it = t.map.find({std::this_thread::get_id(), session});
            if (it != t.map.end())
                ctrl = it->second;
        }
        if (ctrl)
            ctrl->firePrintLine(session, format, type, lineCtrl, length, data);
        return 1;
    }
    void remove(CAPI_K8_SessionCtrl* c)
    {
        std::lock_guard l(lock);
        for (auto it = map.begin(); it != map.end();)
            it = it->second == c ? map.erase(it) : std::next(it);
    }
};

// ---- System control ------------------------------------------------------------------------

const automation::DispatchTable& CAPI_K8_SystemCtrl::dispatchTable() const
{
    using C = CAPI_K8_SystemCtrl;
    static const automation::DispatchTable table =
        DispatchTableBuilder<C>("API_K8_System")
            .property(
                1, "SystemHandle", "", [](C& c) { return Variant(static_cast<std::int32_t>(c.m_handle)); }, nullptr)
            .property(
                2, "DebugMode", "", [](C& c) { return Variant(c.m_debugMode); },
                [](C& c, const Variant& v) {
                    c.m_debugMode = v.toBool();
                    setDebugMode(c.m_debugMode ? 1 : 0);
                })
            .property(
                3, "CodeSet", "", [](C& c) { return Variant(c.m_codeSet); },
                [](C& c, const Variant& v) {
                    c.m_codeSet = v.toString();
                    BusTexts bus("CodeSet");
                    const std::string codeSet = bus(c.m_codeSet, "CodeSet");
                    if (bus.ok())
                        k8SetCodeSet(c.m_handle, codeSet.c_str());
                })
            .property(
                4, "LastError", "", [](C&) { return Variant(static_cast<std::int32_t>(k8GetLastError())); }, nullptr)
            .property(
                5, "Machine", "", [](C& c) { return Variant(c.m_machine); },
                [](C& c, const Variant& v) { c.m_machine = v.toString(); })
            .property(
                6, "Port", "", [](C& c) { return Variant(c.m_port); },
                [](C& c, const Variant& v) { c.m_port = v.toInt32(); })
            .property(
                7, "Environment", "", [](C& c) { return Variant(c.m_environment); },
                [](C& c, const Variant& v) { c.m_environment = v.toString(); })
            .property(
                8, "SystemUserId", "", [](C& c) { return Variant(c.m_userId); },
                [](C& c, const Variant& v) { c.m_userId = v.toString(); })
            .property(
                9, "SystemPassword", "", [](C& c) { return Variant(c.m_password); },
                [](C& c, const Variant& v) { c.m_password = v.toString(); })
            .method(10, "Close",
                    [](C& c, std::span<Variant>) {
                        k8SystemClose(c.m_handle);
                        c.m_handle = -1;
                        return Variant(true);
                    })
            .method(11, "Login",
                    [](C& c, std::span<Variant>) {
                        BusTexts bus("Login");
                        const std::string machine = bus(c.m_machine, "Machine");
                        const std::string environment = bus(c.m_environment, "Environment");
                        const std::string userId = bus(c.m_userId, "SystemUserId");
                        const std::string password = bus(c.m_password, "SystemPassword");
                        c.m_handle = bus.ok() ? k8SystemLogin(machine.c_str(), c.m_port, environment.c_str(),
                                                              userId.c_str(), password.c_str())
                                              : -1;
                        return Variant(static_cast<std::int32_t>(c.m_handle));
                    })
            .method(12, "FindTask",
                    [](C&, std::span<Variant> args) {
                        std::string machine, environment;
                        int port = 0;
                        k8FindTask(args.empty() ? "" : args[0].toString().c_str(), &machine, &port, &environment);
                        if (args.size() > 1)
                            args[1] = Variant(machine);
                        if (args.size() > 2)
                            args[2] = Variant(static_cast<std::int32_t>(port));
                        if (args.size() > 3)
                            args[3] = Variant(environment);
                        return Variant(false);
                    })
            .method(13, "GetLastStatusCodes",
                    [](C&, std::span<Variant> args) {
                        int s = 0, r = 0, e = 0;
                        if (args.size() > 0)
                            s = args[0].isEmpty() ? 0 : args[0].toInt32();
                        if (args.size() > 1)
                            r = args[1].isEmpty() ? 0 : args[1].toInt32();
                        if (args.size() > 2)
                            e = args[2].isEmpty() ? 0 : args[2].toInt32();
                        const int last = k8GetLastStatusCodes(&s, &r, &e);
                        if (args.size() > 0)
                            args[0] = Variant(static_cast<std::int32_t>(s));
                        if (args.size() > 1)
                            args[1] = Variant(static_cast<std::int32_t>(r));
                        if (args.size() > 2)
                            args[2] = Variant(static_cast<std::int32_t>(e));
                        return Variant(static_cast<std::int32_t>(last));
                    })
            .method(-552, "AboutBox", [](C&, std::span<Variant>) { return Variant(); })
            .build();
    return table;
}

// ---- Session control -----------------------------------------------------------------------

CAPI_K8_SessionCtrl::CAPI_K8_SessionCtrl(HostYield yield)
    : m_paramBuffer(1024)
    , m_envBuffer(1024)
    , m_yield(std::move(yield))
{}

CAPI_K8_SessionCtrl::~CAPI_K8_SessionCtrl()
{
    SessionTable::instance().remove(this);
}

std::int32_t CAPI_K8_SessionCtrl::open()
{
    const ScopedYieldHook waits(m_yield);
    BusTexts bus("Open");
    const std::string environment = bus(m_environment, "Environment");
    const std::string operatorId = bus(m_operatorId, "OperatorId");
    const std::string coDiv = bus(m_coDiv, "CoDiv");
    const std::string password = bus(m_operatorPassword, "OperatorPassword");
    m_session =
        bus.ok() ? k8OpenKor8(m_system, environment.c_str(), operatorId.c_str(), coDiv.c_str(), password.c_str()) : -1;
    m_ocxParent = 0;
    return m_session;
}

bool CAPI_K8_SessionCtrl::execTask()
{
    const std::size_t bufSize = m_paramBuffer.size();
    std::vector<char> params, env;
    int paramCount = 0, envCount = 0;
    const char* format;
    findKernelSession(m_session); // a refusal below is that session's status too
    BusTexts bus("ExecTask");
    const std::string task = bus(m_taskName, "TaskName");
    if (m_listMode) {
        const std::string p = bus(m_paramList, "ParamList"), e = bus(m_envList, "EnvList");
        params.assign(p.begin(), p.end());
        env.assign(e.begin(), e.end());
        format = "D,";
    } else {
        for (const auto& [k, v] : m_param) {
            const std::string bk = bus(k, "Param (key)"), bv = bus(v, "Param");
            put16(params, bk.size());
            params.insert(params.end(), bk.begin(), bk.end());
            put16(params, bv.size());
            params.insert(params.end(), bv.begin(), bv.end());
        }
        for (const auto& [k, v] : m_env) {
            const std::string bk = bus(k, "Env (key)"), bv = bus(v, "Env");
            put16(env, bk.size());
            env.insert(env.end(), bk.begin(), bk.end());
            put16(env, bv.size());
            env.insert(env.end(), bv.begin(), bv.end());
        }
        paramCount = static_cast<int>(m_param.size());
        envCount = static_cast<int>(m_env.size());
        format = "L";
    }
    if (!bus.ok()) {
        // Refused before anything was sent: the session stays in step, and nothing of an
        // earlier call is left as output.
        m_paramOut.clear();
        m_envOut.clear();
        m_paramListOut.clear();
        m_envListOut.clear();
        m_paramCountOut = 0;
        m_envCountOut = 0;
        return false;
    }
    // Inputs larger than their buffers are refused rather than cut or written past the end.
    if (params.size() + 1 > bufSize || env.size() + 1 > m_envBuffer.size()) {
        logErrorStat(err::kParamListTooLong, static_cast<int>(params.size()), static_cast<int>(bufSize),
                     "ExecTask: parameter list larger than BufSize");
        return false;
    }
    if (!params.empty())
        std::memcpy(m_paramBuffer.data(), params.data(), params.size());
    if (!env.empty())
        std::memcpy(m_envBuffer.data(), env.data(), env.size());
    const ScopedYieldHook waits(m_yield);
    int nParams = paramCount;
    int room = static_cast<int>(bufSize) - 1;
    int nEnv = envCount;
    const int ok = k8ExecTask(m_session, task.c_str(), format, &nParams, static_cast<int>(params.size()), &room,
                              m_paramBuffer.data(), &nEnv, static_cast<int>(env.size()), 0, m_envBuffer.data());
    m_paramOut.clear();
    m_envOut.clear();
    // A length beyond the buffer is the size a too-small buffer would have needed: nothing of
    // it was written, so nothing is output (the buffer still holds earlier bytes).
    if (room < 0 || room > static_cast<int>(bufSize) - 1) {
        room = 0;
        nParams = 0;
    }
    m_paramBuffer[static_cast<std::size_t>(room)] = 0;
    if (m_listMode) {
        m_paramListOut = fromBus(std::string_view(m_paramBuffer.data(), static_cast<std::size_t>(room)));
        m_paramCountOut = nParams;
        m_envListOut = m_envList;
        m_envCountOut = m_envListCount;
    } else {
        decodeEntries(m_paramBuffer.data(), static_cast<std::size_t>(room), nParams, m_paramOut);
        decodeEntries(env.data(), env.size(), envCount, m_envOut);
        m_paramListOut.clear();
        m_envListOut.clear();
        m_paramCountOut = static_cast<std::int32_t>(m_paramOut.size());
        m_envCountOut = static_cast<std::int32_t>(m_envOut.size());
    }
    return ok == 1;
}

bool CAPI_K8_SessionCtrl::close()
{
    const ScopedYieldHook waits(m_yield);
    const int r = k8CloseKor8(m_session);
    SessionTable::instance().remove(this);
    m_session = -1;
    return r == 1;
}

void CAPI_K8_SessionCtrl::setPrinterEvents(bool on)
{
    auto& t = SessionTable::instance();
    const auto key = std::make_pair(std::this_thread::get_id(), m_session);
    if (on) {
        {
            std::lock_guard l(t.lock);
            t.map[key] = this;
        }
        k8SetReportOutputFunction(m_session, &SessionTable::reportFunction);
    } else {
        t.remove(this);
        k8SetReportOutputFunction(m_session, nullptr);
    }
}

bool CAPI_K8_SessionCtrl::printerEvents() const
{
    auto& t = SessionTable::instance();
    std::lock_guard l(t.lock);
    auto it = t.map.find({std::this_thread::get_id(), m_session});
    return it != t.map.end() && it->second == this;
}

void CAPI_K8_SessionCtrl::firePrintLine(int session, int format, int type, int lineCtrl, int length, const char* data)
{
    Variant args[6] = {
        Variant(static_cast<std::int32_t>(session)),
        Variant(static_cast<std::int32_t>(format)),
        Variant(static_cast<std::int32_t>(type)),
        Variant(static_cast<std::int32_t>(lineCtrl)),
        Variant(static_cast<std::int32_t>(length)),
        Variant(data ? fromBus(std::string_view(data, static_cast<std::size_t>(length))) : std::string())};
    m_events.raise(1, args);
}

const automation::DispatchTable& CAPI_K8_SessionCtrl::dispatchTable() const
{
    using C = CAPI_K8_SessionCtrl;
    auto i32 = [](std::int32_t v) { return Variant(v); };
    auto key = [](std::span<Variant> a) { return a.empty() ? std::string() : a[0].toString(); };
    // The value kept under the first argument, "" when there is none.
    auto entry = [key](const std::map<std::string, std::string>& m, std::span<Variant> a) {
        const auto it = m.find(key(a));
        return Variant(it == m.end() ? std::string() : it->second);
    };
    static const automation::DispatchTable table =
        DispatchTableBuilder<C>("API_K8_Session")
            .property(
                1, "SessionHandle", "", [i32](C& c) { return i32(c.m_session); }, nullptr)
            .property(
                2, "ParamListCount", "", [i32](C& c) { return i32(c.m_paramListCount); },
                [](C& c, const Variant& v) { c.m_paramListCount = v.toInt32(); })
            .property(
                3, "ParamList", "", [](C& c) { return Variant(c.m_paramList); },
                [](C& c, const Variant& v) {
                    c.m_paramList = v.toString();
                    c.m_listMode = true;
                })
            .property(
                4, "BufSize", "", [i32](C& c) { return i32(static_cast<std::int32_t>(c.m_paramBuffer.size())); },
                [](C& c, const Variant& v) {
                    // At least two bytes: one for the text, one for its end.
                    c.m_paramBuffer.assign(static_cast<std::size_t>(std::clamp(v.toInt32(), 2, 1 << 20)), 0);
                })
            .property(
                5, "EnvList", "", [](C& c) { return Variant(c.m_envList); },
                [](C& c, const Variant& v) {
                    c.m_envList = v.toString();
                    c.m_listMode = true;
                })
            .property(
                6, "EnvListCount", "", [i32](C& c) { return i32(c.m_envListCount); },
                [](C& c, const Variant& v) { c.m_envListCount = v.toInt32(); })
            .property(
                7, "EnvListOut", "", [](C& c) { return Variant(c.m_listMode ? c.m_envListOut : joinMap(c.m_envOut)); },
                nullptr)
            .property(
                8, "ParamListOut", "",
                [](C& c) { return Variant(c.m_listMode ? c.m_paramListOut : joinMap(c.m_paramOut)); }, nullptr)
            .property(
                9, "ParamCountOut", "", [i32](C& c) { return i32(c.m_paramCountOut); }, nullptr)
            .property(
                10, "EnvCountOut", "", [i32](C& c) { return i32(c.m_envCountOut); }, nullptr)
            .property(
                11, "Environment", "", [](C& c) { return Variant(c.m_environment); },
                [](C& c, const Variant& v) { c.m_environment = v.toString(); })
            .property(
                12, "OperatorId", "", [](C& c) { return Variant(c.m_operatorId); },
                [](C& c, const Variant& v) { c.m_operatorId = v.toString(); })
            .property(
                13, "OperatorPassword", "", [](C& c) { return Variant(c.m_operatorPassword); },
                [](C& c, const Variant& v) { c.m_operatorPassword = v.toString(); })
            .property(
                14, "CoDiv", "", [](C& c) { return Variant(c.m_coDiv); },
                [](C& c, const Variant& v) { c.m_coDiv = v.toString(); })
            .property(
                15, "SystemHandle", "", [i32](C& c) { return i32(c.m_system); },
                [](C& c, const Variant& v) { c.m_system = v.toInt32(); })
            .property(
                16, "TaskName", "", [](C& c) { return Variant(c.m_taskName); },
                [](C& c, const Variant& v) { c.m_taskName = v.toString(); })
            .property(
                17, "EnablePrinterEvents", "", [](C& c) { return Variant(c.printerEvents()); },
                [](C& c, const Variant& v) { c.setPrinterEvents(v.toBool()); })
            .method(18, "Interrupt", [](C& c, std::span<Variant>) { return Variant(k8Interrupt(c.m_session) != 0); })
            .method(19, "ResetParams",
                    [](C& c, std::span<Variant>) {
                        c.m_param.clear();
                        c.m_env.clear();
                        c.m_paramOut.clear();
                        c.m_envOut.clear();
                        return Variant();
                    })
            .method(20, "Close", [](C& c, std::span<Variant>) { return Variant(c.close()); })
            .method(21, "Open", [](C& c, std::span<Variant>) { return Variant(c.open()); })
            .method(22, "ExecTask", [](C& c, std::span<Variant>) { return Variant(c.execTask()); })
            .indexedProperty(
                23, "Param", [entry](C& c, std::span<Variant> a) { return entry(c.m_param, a); },
                [key](C& c, std::span<Variant> a, const Variant& v) {
                    c.m_param[key(a)] = v.toString();
                    c.m_listMode = false;
                })
            .indexedProperty(
                24, "Env", [entry](C& c, std::span<Variant> a) { return entry(c.m_env, a); },
                [key](C& c, std::span<Variant> a, const Variant& v) { c.m_env[key(a)] = v.toString(); })
            .indexedProperty(
                25, "EnvOut", [entry](C& c, std::span<Variant> a) { return entry(c.m_envOut, a); }, nullptr)
            .indexedProperty(
                26, "ParamOut", [entry](C& c, std::span<Variant> a) { return entry(c.m_paramOut, a); }, nullptr)
            .property(
                27, "OCXParent", "", [i32](C& c) { return i32(c.m_ocxParent); },
                [](C& c, const Variant& v) {
                    // No window of its own to take a parent from: a negative value means none.
                    c.m_ocxParent = std::max(v.toInt32(), 0);
                    k8SetOcxParent(c.m_session, c.m_ocxParent);
                })
            .method(-552, "AboutBox", [](C&, std::span<Variant>) { return Variant(); })
            .event(1, "PrintLine", 6)
            .build();
    return table;
}

void registerClasses(automation::ClassRegistry& registry, HostYield yield)
{
    registry.add({kSystemProgId, kSystemClsid, "_DAPI_K8_System", kSystemDispId, "_DAPI_K8_SystemEvents",
                  kSystemEventsId, [] { return std::make_unique<CAPI_K8_SystemCtrl>(); }});
    registry.add({kSessionProgId, kSessionClsid, "_DAPI_K8_Session", kSessionDispId, "_DAPI_K8_SessionEvents",
                  kSessionEventsId, [yield] { return std::make_unique<CAPI_K8_SessionCtrl>(yield); }});
}

} // namespace zs::k8bus
