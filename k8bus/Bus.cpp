#include "Bus.h"

#include "ErrorLog.h"
#include "Kor8Api.h"
#include "Reply.h"
#include "Socket.h"
#include "TerminalClient.h"
#include "TraceLog.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zs::k8bus {
namespace {

// One process-wide request number; atomic so threads building blocks at once never share one.
std::atomic<long> g_requestCounter{1};

const unsigned char* bytesOf(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}
unsigned len32(const std::string& s)
{
    return static_cast<unsigned>(s.size());
}

void put16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>((v >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(v & 0xFF);
}

// The daemon's port for a login that names none (the program's task call never does):
// K8BUS_DEFAULT_PORT when it holds a port number, so tests can run their daemon on a free port
// whatever listens on the well-known one; else the well-known port.
int defaultBusPort()
{
    if (const char* v = std::getenv("K8BUS_DEFAULT_PORT")) {
        char* end = nullptr;
        const long port = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && port >= 1 && port <= 65535)
            return static_cast<int>(port);
    }
    return kDefaultBusPort;
}

// Appends the request-info block (five items in at most 64 bytes); false when the message is full.
bool appendRequestInfoBlock(ApiGlobals& g, const SystemSession& s, int daemonSessionId)
{
    if (!g.hostNameFetched) {
        g.hostNameFetched = true;
        std::string address;
        if (sockGetHostAddress(nullptr, address, 65))
            g.hostName = address;
    }
    unsigned char area[64];
    area[0] = 0x00;
    area[1] = 0x05;
    int used = 2;
    char number[24];
    char session[16];
    const long counter = g_requestCounter.fetch_add(1);
    std::snprintf(number, sizeof number, "%ld", counter + 1000L * daemonSessionId);
    std::snprintf(session, sizeof session, "%d", daemonSessionId);
    const std::string_view items[5] = {"1", number, session, g.hostName, s.codeSet};
    for (const auto& item : items)
        used += msgStoreParam(area + used, 64 - used, static_cast<std::uint32_t>(item.size()),
                              reinterpret_cast<const unsigned char*>(item.data()));
    return msgSetParam(static_cast<std::uint32_t>(used), area) == 1;
}

// A user or session block: mode byte, then the items, scrambled after the mode byte.
bool appendCredentialBlock(int mode, std::initializer_list<const std::string*> items)
{
    unsigned char area[256];
    area[0] = static_cast<unsigned char>(mode);
    int used = 1;
    for (const std::string* item : items)
        used += msgStoreParam(area + used, 256 - used, len32(*item), bytesOf(item->c_str()));
    if (mode == 1)
        scrambleBlock(area + 1, static_cast<std::size_t>(used - 1));
    bool ok = msgSetParam(static_cast<std::uint32_t>(used), area) == 1;
    std::memset(area, 0, sizeof area);
    return ok;
}

// Closes the session's bus and output connections, if open.
void closeConnections(KernelSession& k)
{
    if (k.outputSocket >= 0)
        sockClose(k.outputSocket);
    if (k.busSocket >= 0)
        sockClose(k.busSocket);
    k.outputSocket = -1;
    k.busSocket = -1;
}

void releaseKernelSession(ApiGlobals& g, KernelSession& k)
{
    k.operatorId.clear();
    k.coDiv.clear();
    std::fill(k.operatorPassword.begin(), k.operatorPassword.end(), '\0');
    k.operatorPassword.clear();
    closeConnections(k);
    k.outputData.clear();
    k.outputData.shrink_to_fit();
    k.statusVars.clear();
    k.statusVars.shrink_to_fit();
    k.systemIndex = -1;
    k.daemonSessionId = -1;
    k.reportOutputFunction = nullptr;
    k.terminalClients.reset();
    if (g.currentKernelSession == &k)
        g.currentKernelSession = nullptr;
}

// Ends a session's connections after a call that may have left reply bytes unread (a wait that
// ran out or was abandoned, a reply cut short or not decodable to its end): a reply still on
// its way could otherwise be taken for the answer to a later request. The slot stays in use;
// later requests on it fail as for a session that is not open, and ending it does not wait.
void endOutOfStep(KernelSession& k, const char* why)
{
    logWritef("%s: session out of step with the daemon, its connections are ended\n", why);
    closeConnections(k);
}

// The buffer must hold `need` bytes; grows only.
bool ensure(std::vector<unsigned char>& buf, std::size_t need)
{
    try {
        if (buf.size() < need) {
            buf.clear();
            buf.resize(need);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

ApiGlobals::ApiGlobals()
    : messageBuffer(65536)
{}

ApiGlobals::~ApiGlobals()
{
    // The thread is ending: its connections go with it.
    for (auto& k : kernelSessions) {
        if (k.outputSocket >= 0)
            ::close(k.outputSocket);
        if (k.busSocket >= 0)
            ::close(k.busSocket);
    }
}

ApiGlobals* apiGlobals()
{
    return threadSlotAs<ApiGlobals>(kSlotApi);
}

ApiGlobals* initApi()
{
    if (ApiGlobals* g = apiGlobals()) {
        logDebug("initApi: not thread FirstTime");
        return g;
    }
    logWrite("initApi: thread FirstTime\n");
    auto fresh = std::make_unique<ApiGlobals>();
    ApiGlobals* g = fresh.get();
    if (!threadSetSlot(kSlotApi, std::move(fresh)))
        return nullptr;
    sockInit();
    return g;
}

int setDebugMode(int flag)
{
    ApiGlobals* g = initApi();
    if (!g)
        return 0;
    g->debugMode = flag;
    if (flag) {
        logWrite("setDebugMode: trace initialized for K8API user thread\n\n");
        logDebug("setDebugMode: Debug is ON");
    }
    return 1;
}

SystemSession* findSystemSession(int handle)
{
    ApiGlobals* g = apiGlobals();
    if (!g || handle < 0 || handle >= kMaxSystemSessions)
        return nullptr;
    SystemSession& s = g->systemSessions[static_cast<std::size_t>(handle)];
    return s.host ? &s : nullptr;
}

KernelSession* findKernelSession(int handle)
{
    ApiGlobals* g = apiGlobals();
    if (!g || handle < 0 || handle >= kMaxKernelSessions)
        return nullptr;
    KernelSession& k = g->kernelSessions[static_cast<std::size_t>(handle)];
    if (k.systemIndex < 0)
        return nullptr;
    g->currentKernelSession = &k;
    return &k;
}

int kernelSessionHandle(const KernelSession* k)
{
    ApiGlobals* g = apiGlobals();
    if (!g || !k)
        return -1;
    return static_cast<int>(k - g->kernelSessions.data());
}

int k8SetCodeSet(int systemHandle, const char* codeSet)
{
    if (!initApi())
        return 0;
    SystemSession* s = findSystemSession(systemHandle);
    if (!s) {
        logErrorStat(err::kKeepEarlier, 0, systemHandle, "k8SetCodeSet: findSystemSession failed");
        return 0;
    }
    s->codeSet = std::string(codeSet ? codeSet : "").substr(0, 63);
    logWritef("k8SetCodeSet: '%s'\n", s->codeSet.c_str());
    return 1;
}

int k8FindTask(const char*, std::string* machine, int* port, std::string* environment)
{
    initApi();
    if (machine)
        machine->clear();
    if (port)
        *port = 0;
    if (environment)
        environment->clear();
    logError(err::kNotImplemented, "k8FindTask: not implemented");
    return 0;
}

int k8Interrupt(int)
{
    initApi();
    logError(err::kNotImplemented, "k8Interrupt: not implemented");
    return 0;
}

int k8SystemLogin(const char* host, int port, const char* environment, const char* userId, const char* password)
{
    const CallOutput output;
    const bool first = apiGlobals() == nullptr;
    logWritef("k8SystemLogin: FirstTime %d\n", first ? 1 : 0);
    ApiGlobals* g = initApi();
    if (!g)
        return -1;
    for (int i = 0; i < kMaxSystemSessions; ++i) {
        SystemSession& s = g->systemSessions[static_cast<std::size_t>(i)];
        if (s.host)
            continue;
        std::string h = host ? host : "";
        if (h == "." || h == "localhost" || h == "LOCALHOST")
            h = "localhost";
        s.host = h;
        s.port = port < 1 ? defaultBusPort() : port;
        s.userBlockMode = 1;
        s.userId = userId ? userId : "";
        s.password = password ? password : "";
        s.environment = environment ? environment : "";
        s.codeSet.clear();
        return i;
    }
    logErrorStat(err::kNoFreeSystemSession, 0, 10, "allocSystemSession: Max System Sessions exceeded");
    return -1;
}

int k8SystemClose(int systemHandle)
{
    ApiGlobals* g = initApi();
    if (!g)
        return 1;
    if (systemHandle >= 0 && systemHandle < kMaxSystemSessions) {
        SystemSession& s = g->systemSessions[static_cast<std::size_t>(systemHandle)];
        std::fill(s.password.begin(), s.password.end(), '\0');
        s = SystemSession{};
    }
    if (g->clientOcxOpen) {
        disconnectClientOcx();
        g->clientOcxOpen = 0;
    }
    return 1;
}

int k8SetReportOutputFunction(int session, ReportOutputFunction fn)
{
    KernelSession* k = findKernelSession(session);
    if (!k)
        return 0;
    k->reportOutputFunction = fn;
    return 1;
}

int k8SetOcxParent(int session, long window)
{
    KernelSession* k = findKernelSession(session);
    if (!k)
        return 0;
    k->ocxParent = window;
    return 1;
}

void scrambleBlock(unsigned char* p, std::size_t n)
{
    if (n == 0)
        return;
    std::size_t i = n - 1;
    p[i] = static_cast<unsigned char>(p[i] ^ 0x6B);
    std::uint32_t s = p[i];
    std::uint32_t a = 0x6B;
    while (i > 0) {
        --i;
        s += a;
        p[i] = static_cast<unsigned char>(p[i] ^ (s & 0xFF));
        if (i == 0)
            break;
        --i;
        a += s;
        p[i] = static_cast<unsigned char>(p[i] ^ (a & 0xFF));
    }
}

int k8OpenKor8(int systemHandle, const char*, const char* operatorId, const char* coDiv, const char* operatorPassword)
{
    const CallOutput output;
    logWritef("k8OpenKor8: FirstTime %d\r\n", apiGlobals() == nullptr ? 1 : 0);
    ApiGlobals* g = initApi();
    if (!g)
        return -1;
    SystemSession* s = findSystemSession(systemHandle);
    if (!s) {
        logErrorStat(err::kKeepEarlier, 0, systemHandle, "k8OpenKor8: findSystemSession failed");
        return -1;
    }
    KernelSession* k = nullptr;
    for (auto& candidate : g->kernelSessions)
        if (candidate.systemIndex < 0) {
            k = &candidate;
            break;
        }
    if (!k) {
        logErrorStat(err::kNoFreeKernelSession, 0, 20, "allocKernelSession: Max Kernel Sessions exceeded");
        logError(err::kKeepEarlier, "k8OpenKor8: allocKernelSession failed");
        return -1;
    }
    k->operatorId = operatorId ? operatorId : "";
    k->coDiv = coDiv ? coDiv : "";
    k->operatorPassword = operatorPassword ? operatorPassword : "";
    k->daemonSessionId = -1;
    k->infoFirst = 1;
    k->busSocket = -1;
    k->outputSocket = -1;
    k->systemIndex = systemHandle;
    k->ocxParent = 0;
    g->currentKernelSession = k;
    // A bound changed in the profile applies from the next session on, without a restart.
    sockReadWaitBound();

    k->busSocket = sockOpen(s->host->c_str(), s->port, false);
    if (k->busSocket < 0) {
        logSockError(err::kSocketOpen, "k8OpenKor8: sockOpen to bus daemon failed");
        releaseKernelSession(*g, *k);
        return -1;
    }
    msgInit(0, g->messageBuffer.data(), static_cast<std::uint32_t>(g->messageCapacity));
    appendRequestInfoBlock(*g, *s, 0);
    msgSetParam(len32(s->environment), bytesOf(s->environment.c_str()));
    appendCredentialBlock(s->userBlockMode, {&s->userId, &s->password});
    msgSetNumParams(3);
    if (sockSend(k->busSocket, msgBuf(), static_cast<int>(msgLength()), true) < 0) {
        logSockError(err::kSend, "k8OpenKor8: sockSend failed");
        releaseKernelSession(*g, *k);
        return -1;
    }
    int type = -1, count = 0;
    bool ok = recvReplyHeader(k->busSocket, type, count);
    if (ok && count >= 1) {
        ok = recvReplyReqInfoBlock(k->busSocket, *k);
        --count;
    }
    if (ok && type == kNewSession) {
        recvAndDiscardNextParam(k->busSocket, count);
        return kernelSessionHandle(k);
    }
    long status = 0;
    if (ok && type == kDaemonStatus && count == 1 && recvNumParam(k->busSocket, status)) {
        char text[120];
        std::snprintf(text, sizeof text, "k8OpenKor8: failed, daemon status %ld received", status);
        logErrorStat(err::kOpenRefused, 1, static_cast<int>(status), text);
    } else {
        logSockError(err::kOpenRefused, "k8OpenKor8: recv Reply failed");
    }
    releaseKernelSession(*g, *k);
    return -1;
}

namespace {

void logParamListTooLong(int length, int max)
{
    char text[200];
    std::snprintf(text, sizeof text, "k8ExecTask: Param List len %d > max allowed of %d", length, max);
    logErrorStat(err::kParamListTooLong, length, max, text);
}

void logParamListNoRoom(int size)
{
    char text[200];
    std::snprintf(text, sizeof text, "k8ExecTask: Error allocating Parameter List buffer (%d bytes required)", size);
    logErrorStat(err::kParamListTooLong, 0, size, text);
}

// Format "L": the caller's bytes are the list already; only its count goes in front.
bool buildLengthList(KernelSession& k, int count, int length, const char* data)
{
    if (length + 2 > 65535) {
        logParamListTooLong(length + 2, 65535);
        return false;
    }
    if (!ensure(k.paramListBuffer, static_cast<std::size_t>(length) + 2)) {
        logParamListNoRoom(length + 2);
        return false;
    }
    put16(k.paramListBuffer.data(), static_cast<std::uint32_t>(count));
    if (length > 0 && data)
        std::memcpy(k.paramListBuffer.data() + 2, data, static_cast<std::size_t>(length));
    return msgSetParam(static_cast<std::uint32_t>(length + 2), k.paramListBuffer.data()) == 1;
}

// One item of a delimited list: its text, whether it is an array ("name()=(a,b)"), and where the
// next item starts.
struct ListItem {
    std::string_view text;
    bool isArray = false;
    std::size_t next = 0;
};

// The item that starts at `i`. An '=' counts only inside this item; an array item runs to its ')'
// across separators.
ListItem cutListItem(std::string_view src, std::size_t i, char sep)
{
    const std::size_t sepAt = src.find(sep, i);
    std::size_t itemEnd = sepAt == std::string_view::npos ? src.size() : sepAt;
    const std::size_t eq = src.find('=', i);
    ListItem item;
    item.isArray = eq != std::string_view::npos && eq >= i + 2 && src[eq - 2] == '(' && src[eq - 1] == ')' &&
                   src.substr(i, eq - i).find(sep) == std::string_view::npos;
    if (item.isArray) {
        const std::size_t close = src.find(')', eq);
        itemEnd = close == std::string_view::npos ? src.size() : close + 1;
        item.next = itemEnd;
        if (item.next < src.size() && src[item.next] == sep)
            ++item.next;
    } else {
        item.next = itemEnd + 1;
    }
    item.text = src.substr(i, itemEnd - i);
    return item;
}

// The delimited list being encoded: its item count in front, then each item's key and value.
struct ParamListOut {
    unsigned char* buf;
    int room;
    int pos = 2;
};

bool storeItemKey(ParamListOut& out, std::string_view key)
{
    const int r = msgStoreParam(out.buf + out.pos, out.room - out.pos, static_cast<std::uint32_t>(key.size()),
                                reinterpret_cast<const unsigned char*>(key.data()));
    if (r < 1 || static_cast<std::size_t>(r) != key.size() + 2) {
        logParamListTooLong(out.pos, out.room);
        return false;
    }
    out.pos += r;
    return true;
}

// An array's elements go into a block of their own; any other value as its text.
bool storeItemValue(ParamListOut& out, std::string_view value, bool asArray, char sep, std::string& arrayText)
{
    int r;
    if (asArray) {
        arrayText.assign(value);
        r = msgStoreArrayParam(out.buf + out.pos, out.room - out.pos, 0, arrayText.c_str(), sep);
        if (r == -1) {
            logErrorStat(err::kBadParamFormat, 0, 0, "k8ExecTask: array element values not inclosed in parenthesis");
            return false;
        }
    } else {
        r = msgStoreParam(out.buf + out.pos, out.room - out.pos, static_cast<std::uint32_t>(value.size()),
                          reinterpret_cast<const unsigned char*>(value.data()));
        if (r >= 1 && static_cast<std::size_t>(r) != value.size() + 2)
            r = -2;
    }
    if (r < 1) {
        char text[200];
        std::snprintf(text, sizeof text, "k8ExecTask: Param List len %d > max allowed of %d", out.pos,
                      out.room - out.pos);
        logErrorStat(err::kParamListTooLong, out.pos, out.room, text);
        return false;
    }
    out.pos += r;
    return true;
}

// Format "D<sep>": "key=value" items, or plain values that get their position ("%1", "%2", ...)
// as key; the first item decides which.
bool buildDelimitedList(KernelSession& k, char sep, std::string_view src)
{
    // Room for every item's two length fields and the positional keys, whatever the text holds.
    const std::size_t size = src.size() * 4 + 512;
    if (!ensure(k.paramListBuffer, size)) {
        logParamListNoRoom(static_cast<int>(size));
        return false;
    }
    ParamListOut out{k.paramListBuffer.data(), static_cast<int>(std::min<std::size_t>(size, 65535))};
    int items = 0;
    bool named = false;
    std::string arrayText;
    for (std::size_t i = 0; i < src.size();) {
        const ListItem item = cutListItem(src, i, sep);
        const std::size_t itemEq = item.text.find('=');
        if (items == 0)
            named = itemEq != std::string_view::npos;
        std::string_view key, value;
        char positional[16];
        if (named) {
            key = item.text.substr(0, itemEq);
            value = itemEq == std::string_view::npos ? std::string_view{} : item.text.substr(itemEq + 1);
        } else {
            const int n = std::snprintf(positional, sizeof positional, "%%%d", items + 1);
            key = std::string_view(positional, static_cast<std::size_t>(n));
            value = item.text;
        }
        if (!storeItemKey(out, key) || !storeItemValue(out, value, named && item.isArray, sep, arrayText))
            return false;
        ++items;
        i = item.next;
    }
    put16(out.buf, static_cast<std::uint32_t>(items));
    if (out.pos >= out.room) {
        logParamListTooLong(out.pos, out.room);
        return false;
    }
    return msgSetParam(static_cast<std::uint32_t>(out.pos), out.buf) == 1;
}

} // namespace

bool buildParamList(KernelSession& k, const char* format, int count, int length, const char* data)
{
    const char f = format ? format[0] : '\0';
    if (length < 0)
        length = 0;
    if (f == 'A') {
        logError(err::kNotImplemented, "k8ExecTask: ParamFormat 'A' not implemented");
        return true;
    }
    if (f == 'L')
        return buildLengthList(k, count, length, data);
    if (f != 'D') {
        char text[200];
        std::snprintf(text, sizeof text, "k8ExecTask: ParamFormat parameter invalid: %.100s", format ? format : "");
        logError(err::kBadParamFormat, text);
        return false;
    }
    const char sep = format[1] ? format[1] : ',';
    return buildDelimitedList(k, sep, std::string_view(data ? data : "", data ? static_cast<std::size_t>(length) : 0));
}

namespace {

void traceExecEntry(const char* task, const char* format, const int* nParams, int paramLenIn, const char* paramBuffer,
                    const int* nSysVars, int sysVarLenIn, const char* sysVars)
{
    if (!logIsOn()) {
        logDebug("k8ExecTask: entry");
        return;
    }
    logWritef("k8ExecTask: TaskName '%s', ParamFmt '%s', nParams %d, ParamLenIn %d\r\n", task, format,
              nParams ? *nParams : -999, paramLenIn);
    if (paramLenIn > 0 && paramBuffer)
        logDump(reinterpret_cast<const unsigned char*>(paramBuffer), static_cast<std::size_t>(paramLenIn), 1);
    logWritef("            nSysVars %d, SysVarLenIn %d\r\n", nSysVars ? *nSysVars : -999, sysVarLenIn);
    if (sysVarLenIn > 0 && sysVars)
        logDump(reinterpret_cast<const unsigned char*>(sysVars), static_cast<std::size_t>(sysVarLenIn), 1);
}

void traceExecResult(bool ok, int nParams, int maxLenOut, int roomIn, const char* paramBuffer)
{
    if (!logIsOn())
        return;
    logWritef("k8ExecTask: %s, nOutParams %d, nMaxLenOut %d\n", ok ? "OK" : "FAILED", nParams, maxLenOut);
    // A list too long for the caller's room gives back the room it needed, with nothing
    // placed: only bytes actually in the buffer are shown.
    if (nParams && maxLenOut > 0 && maxLenOut <= roomIn && paramBuffer)
        logDump(reinterpret_cast<const unsigned char*>(paramBuffer), static_cast<std::size_t>(maxLenOut), 1);
}

// Nothing was received: the caller must not take what its buffer held before for output.
void clearExecOutput(int* nParams, int* maxLenOut)
{
    *nParams = 0;
    *maxLenOut = 0;
}

// The EXEC request: request info, the operator's credentials, the task's name, its parameter
// list and its system variables. False, with the error recorded, when it cannot be built whole.
bool buildExecRequest(ApiGlobals& g, const SystemSession& s, KernelSession& k, const char* task, const char* format,
                      int nParams, int paramLenIn, const char* paramBuffer, int nSysVars, int sysVarLenIn,
                      const char* sysVars)
{
    msgInit(1, g.messageBuffer.data(), static_cast<std::uint32_t>(g.messageCapacity));
    msgSetNumParams(5);
    bool built = appendRequestInfoBlock(g, s, k.daemonSessionId);
    built = appendCredentialBlock(s.userBlockMode, {&k.operatorId, &k.coDiv, &k.operatorPassword}) && built;
    built = msgSetParam(static_cast<std::uint32_t>(std::strlen(task)), bytesOf(task)) == 1 && built;
    if (!buildParamList(k, format, nParams, paramLenIn, paramBuffer) ||
        !buildParamList(k, format, nSysVars, sysVarLenIn, sysVars))
        return false;
    if (!built || msgLength() >= static_cast<std::uint32_t>(g.messageCapacity)) {
        logErrorStat(err::kParamListTooLong, static_cast<int>(msgLength()), g.messageCapacity,
                     "k8ExecTask: request does not fit the message buffer");
        return false;
    }
    return true;
}

bool sendExecRequest(KernelSession& k)
{
    if (sockSend(k.busSocket, msgBuf(), static_cast<int>(msgLength()), true) >= 0)
        return true;
    logSockError(err::kSend, "k8ExecTask: sockSend error");
    // Part of the request may have gone: the daemon would read the next one as its rest.
    if (k.busSocket >= 0)
        endOutOfStep(k, "k8ExecTask");
    return false;
}

// Waits until the bus socket has a reply, handing on report lines from the output port
// meanwhile. While a terminal client that the call started runs, the kernel talks to the
// operator over the terminal's connection and the bus may stay silent for as long as they take:
// the wait then has no bound, and the bound applies afresh from the moment the client ends.
// False when the wait failed or ran out (the reply may still come), or when a report line was
// cut by the bound (the daemon has stopped half-way: a second bound on the bus would be wasted).
bool awaitExecReply(int session, KernelSession& k)
{
    for (;;) {
        logDebug("k8ExecTask: waiting for EXEC reply < sockWait");
        const ClientWatch* clients = k.terminalClients.get();
        const bool screen = clients && clients->running() && clients->fd() >= 0;
        int socks[3] = {k.busSocket, k.outputSocket, screen ? clients->fd() : -1};
        int ready[3] = {0, 0, 0};
        const int n = screen ? 3 : k.outputSocket >= 0 ? 2 : 1;
        const int r = screen ? sockWaitNoBound(n, socks, ready) : sockWait(n, socks, ready, -1);
        if (r < 0) {
            logSockError(err::kWait, "k8ExecTask: sockWait error");
            return false;
        }
        if (r == 0) {
            logSockError(err::kWait, "k8ExecTask: sockWait timeout: no reply from the bus daemon");
            return false;
        }
        if (n >= 2 && ready[1]) {
            if (outputData(session) < 0 && sockGetLastErrorNo() == sockerr::kTimedOut) {
                logWrite("k8ExecTask: report line cut by the wait bound\n");
                return false;
            }
            continue;
        }
        if (screen && ready[2]) {
            k.terminalClients->drain();
            if (!k.terminalClients->running())
                logDebug("k8ExecTask: terminal client ended: the wait bound applies again");
            continue;
        }
        if (ready[0])
            return true;
    }
}

// Hands one reply to its reader; true when the task goes on (a screen or output request served).
bool dispatchExecReply(ExecCall& c, int type, int count)
{
    if (count >= 1 && !recvReplyReqInfoBlock(c.k.busSocket, c.k)) {
        logSockError(err::kKeepEarlier, "k8ExecTask: error reading reply RequestInfoBlock");
        return false;
    }
    switch (type) {
    case kKernelStatus:
        readKernelStatus(c, count);
        return false;
    case kDaemonStatus:
        readDaemonStatus(c, count);
        return false;
    case kNeedScreen:
        return readNeedScreen(c, count);
    case kOutputReq:
        return readOutputReq(c, count);
    default:
        logErrorStat(err::kUnexpectedReply, 0, type, "k8ExecTask: EXEC returned an unexpected reply type");
        recvAndDiscardNextParam(c.k.busSocket, count - 1);
        return false;
    }
}

// Reads one reply of the EXEC to its end; true when the task goes on.
bool readExecReply(ExecCall& c, ReplyFrame& frame)
{
    static const char* const kNames[] = {"KERNELSTATUS", "DAEMONSTATUS", "NEWSESSION", "NEED_SCREEN", "OUTPUT_REQ"};
    int type = -1, count = 0;
    frame.restart();
    if (!recvReplyHeader(c.k.busSocket, type, count)) {
        logSockError(err::kKeepEarlier, "k8ExecTask: error reading reply header");
        c.inStep = false;
        return false;
    }
    logDebugf("k8ExecTask: received replyFunc %d=%s, nParams %d", type,
              type >= 0 && type <= 4 ? kNames[type] : "<< Unknown >>", count);
    // A status ends the task at the daemon, however well its reply decodes.
    c.statusRead = type == kKernelStatus || type == kDaemonStatus;
    bool goOn = dispatchExecReply(c, type, count);
    // Whatever a reader made of the reply, the next one must start at its end: parameters a
    // reader left are read by their lengths and dropped; a reply that gave out cannot be.
    if (!frame.lost() && frame.read() < count)
        recvAndDiscardNextParam(c.k.busSocket, count - frame.read());
    if (frame.lost() || frame.read() != count) {
        c.inStep = false;
        goOn = false;
    }
    return goOn;
}

} // namespace

int k8ExecTask(int session, const char* taskName, const char* paramFormat, int* nParams, int paramLenIn, int* maxLenOut,
               char* paramBuffer, int* nSysVars, int sysVarLenIn, int, const char* sysVars)
{
    const CallOutput output;
    ApiGlobals* g = initApi();
    if (!g)
        return 0;
    const char* task = taskName ? taskName : "";
    const char* format = paramFormat ? paramFormat : "";
    traceExecEntry(task, format, nParams, paramLenIn, paramBuffer, nSysVars, sysVarLenIn, sysVars);
    int dummyCount = 0, dummyRoom = 0;
    if (!nParams)
        nParams = &dummyCount;
    if (!maxLenOut)
        maxLenOut = &dummyRoom;
    KernelSession* k = findKernelSession(session);
    SystemSession* s = k ? findSystemSession(k->systemIndex) : nullptr;
    if (!k || !s) {
        clearExecOutput(nParams, maxLenOut);
        return 0;
    }
    k->statusVarCount = 0;
    k->terminalClients.reset(); // a client an earlier call started is no part of this one

    // A request the daemon cannot read whole is never sent: it would wait for parameters that
    // never come.
    if (!buildExecRequest(*g, *s, *k, task, format, *nParams, paramLenIn, paramBuffer, nSysVars ? *nSysVars : 0,
                          sysVarLenIn, sysVars)) {
        clearExecOutput(nParams, maxLenOut);
        return 0;
    }
    const int roomIn = *maxLenOut;
    if (!sendExecRequest(*k)) {
        clearExecOutput(nParams, maxLenOut);
        return 0;
    }

    // The daemon answers with screen and output requests, each served, until a status ends the task.
    ExecCall call{session, *s, *k, task, format, nParams, maxLenOut, paramBuffer};
    ReplyFrame frame(k->busSocket);
    for (;;) {
        if (!awaitExecReply(session, *k)) {
            call.inStep = false;
            break;
        }
        if (!readExecReply(call, frame))
            break;
    }

    if (!call.gotReturnList)
        clearExecOutput(nParams, maxLenOut);
    if (!call.inStep || !call.statusRead) {
        // A wait that ran out or that the host abandoned (its Stop), a reply that gave out, or a
        // screen, output or unknown request refused before the task's status came: the task
        // runs on at the daemon, and its status, or the rest of a reply, may still come. The
        // daemon sees its client leave.
        endOutOfStep(*k, "k8ExecTask");
    }
    if (!call.gotStatusVars) {
        k->statusVarCount = 0;
        k->statusVarLength = 0;
    }
    traceExecResult(call.ok, *nParams, *maxLenOut, roomIn, paramBuffer);
    if (g->clientOcxOpen) {
        disconnectClientOcx();
        g->clientOcxOpen = 0;
    }
    return call.ok ? 1 : 0;
}

int k8CloseKor8(int session)
{
    const CallOutput output;
    ApiGlobals* g = initApi();
    if (!g)
        return 0;
    KernelSession* k = findKernelSession(session);
    if (!k)
        return 0;
    SystemSession* s = findSystemSession(k->systemIndex);
    if (!s)
        return 0;
    unsigned char buffer[80];
    msgInit(2, buffer, sizeof buffer);
    appendRequestInfoBlock(*g, *s, k->daemonSessionId);
    msgSetNumParams(1);
    int result = 0;
    if (sockSend(k->busSocket, msgBuf(), static_cast<int>(msgLength())) < 0) {
        logSockError(err::kSend, "k8CloseKor8: sockSend error");
    } else {
        int type = -1, count = 0;
        if (!recvReplyHeader(k->busSocket, type, count)) {
            logSockError(err::kReceive, "k8CloseKor8: error receiving ReplyHeader");
        } else if (type == kDaemonStatus) {
            long status = -1;
            if (count >= 1 && !recvReplyReqInfoBlock(k->busSocket, *k)) {
                logSockError(err::kReceive, "k8CloseKor8: error receiving ReqInfoBlock");
            } else if (!recvNumParam(k->busSocket, status)) {
                logSockError(err::kReceive, "k8CloseKor8: error receiving ENDSESSION response");
            } else {
                result = status == 0 ? 1 : 0;
            }
        }
    }
    releaseKernelSession(*g, *k);
    return result;
}

} // namespace zs::k8bus
