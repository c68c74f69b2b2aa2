#include "Reply.h"

#include "Bus.h"
#include "ErrorLog.h"
#include "Socket.h"
#include "TerminalClient.h"
#include "TraceLog.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace zs::k8bus {
namespace {

unsigned get16(const unsigned char* p)
{
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
}

// Reads a parameter's bytes and walks them: each read checks the bytes are there.
class Cursor {
  public:
    Cursor(const unsigned char* data, std::size_t size)
        : m_p(data)
        , m_end(data + size)
    {}
    bool u16(unsigned& v)
    {
        if (m_end - m_p < 2)
            return false;
        v = get16(m_p);
        m_p += 2;
        return true;
    }
    /// A 16-bit length and that many bytes.
    bool item(const unsigned char*& data, std::size_t& length)
    {
        unsigned n = 0;
        if (!u16(n) || static_cast<std::size_t>(m_end - m_p) < n)
            return false;
        data = m_p;
        length = n;
        m_p += n;
        return true;
    }
    std::size_t left() const { return static_cast<std::size_t>(m_end - m_p); }

  private:
    const unsigned char* m_p;
    const unsigned char* m_end;
};

void logShort(const char* what, int got, const unsigned char* data)
{
    char text[200];
    if (got > 0) {
        std::snprintf(text, sizeof text, "%s: sockRecv error, len %d, data %.02x %.02x %.02x", what, got, data[0],
                      got > 1 ? data[1] : 0, got > 2 ? data[2] : 0);
        logSockError(err::kReceive, text);
    } else {
        std::snprintf(text, sizeof text, "%s: socket closed / read timeout", what);
        logSockError(err::kReceive, text);
    }
}

// A numeric item inside a block; logs the decode error.
bool numItem(Cursor& c, long& number, const char* what)
{
    const unsigned char* d = nullptr;
    std::size_t n = 0;
    if (!c.item(d, n)) {
        logErrorStat(err::kBadReplyParam, 0, static_cast<int>(c.left()), what);
        number = -1;
        return false;
    }
    if (n == 0) {
        number = 0;
        return false;
    }
    return parseNumString(d, n, number);
}

int defaultPrint(int format, int lineCtrl, int length, const char* data)
{
    if (format == -1)
        return 0;
    if (lineCtrl == -1)
        std::fputc('\f', stdout);
    else
        for (int i = 0; i < lineCtrl; ++i)
            std::fputc('\n', stdout);
    if (length >= 2 && data[length - 1] == '\n')
        --length;
    if (length >= 2 && data[length - 1] == '\r')
        --length;
    std::printf("%.*s\n", length, data);
    std::fflush(stdout);
    return length + 1; // the printed characters, line feed included: an empty line is not an end
}

void closeOutput(KernelSession& k, int stat)
{
    logDebugf("outputData: stat %d, closing sock %x", stat, k.outputSocket);
    sockClose(k.outputSocket);
    k.outputSocket = -1;
}

thread_local ReplyFrame* t_frame = nullptr;

} // namespace

ReplyFrame::ReplyFrame(int sock)
    : m_sock(sock)
    , m_outer(t_frame)
{
    t_frame = this;
}

ReplyFrame::~ReplyFrame()
{
    t_frame = m_outer;
}

void ReplyFrame::restart()
{
    m_read = 0;
    m_lost = false;
}

// A parameter read whole from `sock`, or (whole false) a read there that came up short.
void replyFrameNote(int sock, bool whole)
{
    ReplyFrame* f = t_frame;
    if (!f || f->m_sock != sock)
        return;
    if (whole)
        ++f->m_read;
    else
        f->m_lost = true;
}

bool recvReplyHeader(int sock, int& type, int& count)
{
    const ScopedElementWait element;
    unsigned char h[3] = {};
    int got = sockRecv(sock, h, 3);
    if (got != 3) {
        replyFrameNote(sock, false);
        logShort("recvReplyHeader", got, h);
        return false;
    }
    type = h[0];
    count = static_cast<int>(get16(h + 1));
    return true;
}

bool recvParam(int sock, std::vector<unsigned char>& out, const char* what)
{
    const ScopedElementWait element; // its length and its bytes
    unsigned char h[2] = {};
    int got = sockRecv(sock, h, 2);
    if (got != 2) {
        out.clear();
        replyFrameNote(sock, false);
        logSockError(err::kReceive, what);
        return false;
    }
    const unsigned n = get16(h);
    out.resize(n);
    got = n == 0 ? 0 : sockRecv(sock, out.data(), static_cast<int>(n));
    if (got != static_cast<int>(n)) {
        out.clear();
        replyFrameNote(sock, false);
        logSockError(err::kReceive, what);
        return false;
    }
    replyFrameNote(sock, true);
    return true;
}

bool recvReplyReqInfoBlock(int sock, KernelSession& k)
{
    std::vector<unsigned char> block;
    if (!recvParam(sock, block, "recvReplyReqInfoBlock: socket closed / read timeout"))
        return false;
    if (block.empty())
        return true;
    if (block.size() < 2) {
        logErrorStat(err::kBadReplyParam, 0, static_cast<int>(block.size()),
                     "recvReplyReqInfoBlock: invalid block length");
        return false;
    }
    Cursor c(block.data(), block.size());
    unsigned items = 0;
    c.u16(items);
    bool ok = true;
    for (unsigned i = 1; i <= items; ++i) {
        long v = 0;
        const bool read = numItem(c, v, "recvReplyReqInfoBlock: item past the end of the block");
        if (!read && !(i == 2 && v == 0)) {
            if (v == 0)
                logErrorStat(err::kBadReplyParam, 0, static_cast<int>(i), "recvReplyReqInfoBlock: empty numeric item");
            ok = false;
            break;
        }
        if (i == 1)
            k.infoFirst = static_cast<int>(v);
        else if (i == 3 && k.daemonSessionId == -1)
            k.daemonSessionId = static_cast<int>(v);
    }
    return ok;
}

bool parseNumString(const unsigned char* text, std::size_t length, long& number)
{
    if (length < 1 || length > 20) {
        logErrorStat(err::kNumLength, 0, static_cast<int>(length),
                     "recvNumString: invalid length for numeric parameter");
        number = 0;
        return false;
    }
    long sign = 1;
    unsigned long long value = 0;
    bool digit = false;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char ch = text[i];
        if (ch == '+' || ch == '-') {
            if (i != 0) {
                logError(err::kNumDigit, "recvNumString: invalid sign in parameter");
                number = sign * static_cast<long>(value);
                return false;
            }
            sign = ch == '-' ? -1 : 1;
        } else if (ch >= '0' && ch <= '9') {
            digit = true;
            // Twenty digits overflow 64 bits: saturate rather than wrap.
            value = value > 922337203685477579ULL ? 9223372036854775807ULL : value * 10 + (ch - '0');
        } else {
            logErrorStat(err::kNumDigit, 0, ch, "recvNumString: invalid digit in parameter");
            number = -1;
            return false;
        }
    }
    if (!digit) {
        // A sign alone is no number: a status "-" must not read as 0, that is success.
        logErrorStat(err::kNumDigit, 0, text[0], "recvNumString: no digit in numeric parameter");
        number = -1;
        return false;
    }
    if (value > 9223372036854775807ULL)
        value = 9223372036854775807ULL;
    number = sign * static_cast<long>(value);
    return true;
}

bool recvNumParam(int sock, long& number)
{
    number = -1;
    std::vector<unsigned char> buf;
    if (!recvParam(sock, buf, "recvNumParam: sockRecv timeout / socket closed"))
        return false;
    if (buf.empty()) {
        number = 0;
        return false;
    }
    return parseNumString(buf.data(), buf.size(), number);
}

void recvAndDiscardNextParam(int sock, int n)
{
    std::vector<unsigned char> buf;
    for (int i = 0; i < n; ++i)
        if (!recvParam(sock, buf, "recvAndDiscardNextParam: sockRecv error"))
            return;
}

namespace {

enum class ListRead { Failed, Empty, Ready };

// The return list and its count of pairs: the bytes given, or one parameter from the socket with
// the count in front.
ListRead readReturnList(int sock, int sourceLength, const unsigned char* source, int& count,
                        std::vector<unsigned char>& list)
{
    if (source) {
        list.assign(source, source + (sourceLength > 0 ? sourceLength : 0));
        return ListRead::Ready;
    }
    if (!recvParam(sock, list, "recvReturnParameters: sockRecv error (block length)"))
        return ListRead::Failed;
    if (list.empty())
        return ListRead::Empty;
    if (list.size() < 2) {
        logErrorStat(err::kBadReplyParam, 0, static_cast<int>(list.size()),
                     "recvReturnParameters: sockRecv error (# return params)");
        return ListRead::Failed;
    }
    count = static_cast<int>(get16(list.data()));
    list.erase(list.begin(), list.begin() + 2);
    return ListRead::Ready;
}

// Format "L": the raw list, when the caller's room holds it whole; else the room it needs.
bool copyRawList(const std::vector<unsigned char>& list, int roomIn, int& room, char* buffer)
{
    if (roomIn >= static_cast<int>(list.size()) && buffer) {
        std::memcpy(buffer, list.data(), list.size());
        room = static_cast<int>(list.size());
        return true;
    }
    char text[200];
    std::snprintf(text, sizeof text,
                  "recvReturnParameters: caller return parameter block too small: blocksize %d, paramlist size %d",
                  roomIn, static_cast<int>(list.size()));
    logErrorStat(err::kReturnAreaTooSmall, roomIn, static_cast<int>(list.size()), text);
    room = static_cast<int>(list.size());
    return false;
}

// The caller's buffer, filled from the front; a piece that does not fit is not written.
class ReturnText {
  public:
    ReturnText(char* buffer, int room)
        : m_buffer(buffer)
        , m_room(room)
    {}
    bool put(const void* p, std::size_t n)
    {
        if (static_cast<std::size_t>(m_room - m_written) < n)
            return false;
        std::memcpy(m_buffer + m_written, p, n);
        m_written += static_cast<int>(n);
        return true;
    }
    int written() const { return m_written; }
    void rewind(int mark) { m_written = mark; }

  private:
    char* m_buffer;
    int m_room;
    int m_written = 0;
};

enum class PairWrite { Written, TooSmall, Broken };

// An array value as "(a<sep>b...)"; Broken when its block gives out (recorded here).
PairWrite writeArrayValue(ReturnText& out, const unsigned char* value, std::size_t valueLen, std::string_view sep,
                          int pair, int wanted)
{
    Cursor a(value, valueLen);
    unsigned elements = 0;
    if (valueLen > 0 && !a.u16(elements)) {
        logErrorStat(err::kBadReplyParam, pair, wanted, "recvArrayStringParam: array header past the end");
        return PairWrite::Broken;
    }
    bool fits = out.put("(", 1);
    for (unsigned e = 0; fits && e < elements; ++e) {
        const unsigned char* d = nullptr;
        std::size_t n = 0;
        if (!a.item(d, n)) {
            logErrorStat(err::kBadReplyParam, static_cast<int>(e), static_cast<int>(elements),
                         "recvArrayStringParam: element past the end of the array");
            return PairWrite::Broken;
        }
        fits = (e == 0 || out.put(sep.data(), sep.size())) && out.put(d, n);
    }
    return fits && out.put(")", 1) ? PairWrite::Written : PairWrite::TooSmall;
}

// Format "D<sep>": the pairs as "key=value" text between separators, as many whole pairs as the
// room holds; the list ends at its last complete pair.
bool writeDelimitedPairs(const std::vector<unsigned char>& list, std::string_view sep, int& count, int roomIn,
                         int& room, char* buffer)
{
    Cursor c(list.data(), list.size());
    ReturnText out(buffer, roomIn);
    int pairs = 0;
    const int wanted = count;
    bool ok = true;
    for (int i = 0; i < wanted; ++i) {
        const unsigned char* key = nullptr;
        const unsigned char* value = nullptr;
        std::size_t keyLen = 0, valueLen = 0;
        if (!c.item(key, keyLen) || !c.item(value, valueLen)) {
            logErrorStat(err::kBadReplyParam, i, wanted, "recvReturnParameters: parameter past the end of the list");
            ok = false;
            break;
        }
        const bool isArray = keyLen >= 2 && key[keyLen - 2] == '(' && key[keyLen - 1] == ')';
        const int mark = out.written();
        PairWrite w = PairWrite::TooSmall;
        if (buffer && (i == 0 || out.put(sep.data(), sep.size())) && out.put(key, keyLen) && out.put("=", 1))
            w = isArray ? writeArrayValue(out, value, valueLen, sep, i, wanted)
                        : (out.put(value, valueLen) ? PairWrite::Written : PairWrite::TooSmall);
        if (w != PairWrite::Written) {
            out.rewind(mark);
            if (w == PairWrite::TooSmall) {
                char text[200];
                std::snprintf(
                    text, sizeof text,
                    "recvReturnParameters: caller return parameter block size %d too small: current param # %d of %d",
                    roomIn, i + 1, wanted);
                logErrorStat(err::kReturnAreaTooSmall, roomIn, i + 1, text);
            }
            ok = false;
            break;
        }
        ++pairs;
    }
    room = out.written();
    count = pairs;
    return ok;
}

} // namespace

bool recvReturnParameters(int sock, const char* format, int& count, int sourceLength, int& room, char* buffer,
                          const unsigned char* source)
{
    std::vector<unsigned char> list;
    const ListRead read = readReturnList(sock, sourceLength, source, count, list);
    if (read == ListRead::Failed) {
        count = 0;
        room = 0;
        return false;
    }
    const int roomIn = room < 0 ? 0 : room;
    if (read == ListRead::Empty || list.empty() || count < 1) {
        count = 0;
        room = 0;
        return true;
    }
    const char f = format ? format[0] : '\0';
    if (f == 'A') {
        logError(err::kNotImplemented, "recvReturnParameters: ParamFormat'A' not implemented");
        return false;
    }
    if (f == 'L')
        return copyRawList(list, roomIn, room, buffer);
    if (f != 'D') {
        char text[200];
        std::snprintf(text, sizeof text, "recvReturnParameters: ParamFormat parameter invalid: %.100s", format);
        logError(err::kBadParamFormat, text);
        return false;
    }
    const std::string_view sep = format[1] ? std::string_view(format + 1) : std::string_view(",");
    return writeDelimitedPairs(list, sep, count, roomIn, room, buffer);
}

bool recvStatusVars(KernelSession& k)
{
    if (k.statusVars.empty())
        k.statusVars.resize(1024);
    k.statusVarLength = static_cast<int>(k.statusVars.size());
    k.statusVarCount = 0;
    return recvReturnParameters(k.busSocket, "L", k.statusVarCount, 0, k.statusVarLength,
                                reinterpret_cast<char*>(k.statusVars.data()), nullptr);
}

bool outputRequired(SystemSession& s, KernelSession& k, int port, int format)
{
    if (k.outputSocket >= 0) {
        logDebugf("outputRequired: outputSock %x already open; o/p format %x", k.outputSocket, format);
    } else {
        k.outputSocket = sockOpen(s.host->c_str(), port, false);
        if (k.outputSocket < 0) {
            logSockError(err::kSocketOpen, "outputRequired: sockOpen (outputSock) failed");
            return false;
        }
        logDebugf("outputRequired: outputSock %x; o/p format %x", k.outputSocket, format);
    }
    k.outputFormat = format;
    return true;
}

int outputData(int session)
{
    KernelSession* k = findKernelSession(session);
    if (!k || k->outputSocket < 0)
        return -1;
    unsigned char h[4] = {};
    std::optional<ScopedElementWait> element(std::in_place); // the line's header and its data
    const int got = sockRecv(k->outputSocket, h, 4);
    int result;
    if (got == 4) {
        const int type = static_cast<signed char>(h[0]);
        const int ctrl = static_cast<signed char>(h[1]);
        const int length = static_cast<int>(get16(h + 2));
        if (k->outputData.size() < static_cast<std::size_t>(length) + 1)
            k->outputData.resize(static_cast<std::size_t>(length) + 1);
        const int n = length == 0 ? 0 : sockRecv(k->outputSocket, k->outputData.data(), length);
        element.reset(); // the host's handler of the line is no part of the wait
        if (n != length) {
            char text[120];
            std::snprintf(text, sizeof text, "outputData: sock %x, data recv error %d", k->outputSocket, n);
            logSockError(err::kReceive, text);
            if (k->reportOutputFunction)
                k->reportOutputFunction(session, -1, -1, 0, 0, nullptr);
            closeOutput(*k, -1);
            return -1;
        }
        k->outputData[static_cast<std::size_t>(length)] = 0;
        const char* data = reinterpret_cast<const char*>(k->outputData.data());
        result = k->reportOutputFunction ? k->reportOutputFunction(session, k->outputFormat, type, ctrl, length, data)
                                         : defaultPrint(k->outputFormat, ctrl, length, data);
        if (result > 0)
            return result;
        logDebugf("outputData: ReportOutputFunction returned stat %d", result);
        // A line the handler took with 0 (an empty line printed, say) keeps the connection.
    } else {
        if (got == 0) {
            logDebugf("outputData: sock %x closed by kernel", k->outputSocket);
            result = 0;
        } else {
            char text[120];
            std::snprintf(text, sizeof text, "outputData: sock %x, hdr recv error %d", k->outputSocket, got);
            logSockError(err::kReceive, text);
            result = -1;
        }
        if (k->reportOutputFunction)
            k->reportOutputFunction(session, -1, -1, 0, 0, nullptr);
    }
    closeOutput(*k, result);
    return result;
}

namespace {

enum class NumRead { Ok, Bad, Lost };

// A numeric parameter of a status reply. Bad: the parameter was read whole but its value is not
// a number (the reply can still be drained); Lost: the connection gave out.
NumRead readStatusNumber(int sock, long& number)
{
    number = -1;
    std::vector<unsigned char> buf;
    if (!recvParam(sock, buf, "recvNumParam: sockRecv timeout / socket closed"))
        return NumRead::Lost;
    if (buf.empty()) {
        number = 0;
        return NumRead::Bad;
    }
    return parseNumString(buf.data(), buf.size(), number) ? NumRead::Ok : NumRead::Bad;
}

// Reads the numbers of a status reply in order. A value that is not a number fails the reply,
// and the parameters still to come are read and dropped so that the next request on the
// session starts in step.
class StatusReader {
  public:
    StatusReader(int sock, int count)
        : m_sock(sock)
        , m_left(count - 1)
    {}
    bool next(long& number, int errorNumber, const char* text)
    {
        --m_left;
        const NumRead r = readStatusNumber(m_sock, number);
        if (r == NumRead::Ok)
            return true;
        logError(errorNumber, text);
        if (r == NumRead::Bad)
            drain();
        return false;
    }
    void skip(long& number)
    {
        --m_left;
        if (readStatusNumber(m_sock, number) == NumRead::Lost)
            m_left = 0;
    }
    void drain()
    {
        if (m_left > 0)
            recvAndDiscardNextParam(m_sock, m_left);
        m_left = 0;
    }
    void consumed(int n) { m_left -= n; }

  private:
    int m_sock;
    int m_left; ///< parameters after the info block not yet read
};

} // namespace

bool readKernelStatus(ExecCall& call, int count)
{
    KernelSession& k = call.k;
    call.ok = false;
    long status = -98, reason = -98, sub = -98;
    if (count < 2) {
        logError(err::kBadReplyParam, "k8ExecTask: K8BCDFUN_KERNELSTATUS invalid parameter count");
        return false;
    }
    StatusReader in(k.busSocket, count);
    if (!in.next(status, err::kBadStatusParam, "k8ExecTask: EXEC returned an invalid kernel status parameter"))
        return false;
    if (count >= 3 &&
        !in.next(reason, err::kBadStatusParam, "k8ExecTask: EXEC returned an invalid kernel fail reason parameter"))
        return false;
    if (count >= 4 &&
        !in.next(sub, err::kBadStatusParam, "k8ExecTask: EXEC returned an invalid kernel sub-error code parameter"))
        return false;
    bool readsOk = true;
    if (status != 0) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "k8ExecTask: EXEC '%.200s' returned non-zero kernel status %ld, reason %ld, sub-error %ld",
                      call.task, status, reason, sub);
        if (status == -1)
            logErrorStat(err::kKernelFailed, static_cast<int>(reason), static_cast<int>(sub), text);
        else if (reason == err::kKernelReasonInSubError)
            logErrorStat(err::kKernelStatus, err::kKernelReasonInSubError, static_cast<int>(sub), text);
        else
            logErrorStat(err::kKernelStatus, static_cast<int>(status), static_cast<int>(reason), text);
        if (count >= 5) {
            in.consumed(1);
            call.gotStatusVars = recvStatusVars(k);
        } else {
            logDebug("            [EXEC didn't send a status variables list]");
        }
        readsOk = false;
    } else {
        logDebug("k8ExecTask: EXEC returned kernel status OK");
        if (count >= 5) {
            call.gotReturnList = true;
            in.consumed(1);
            if (!recvReturnParameters(k.busSocket, call.format, *call.nParams, 0, *call.maxLenOut, call.paramBuffer,
                                      nullptr)) {
                logDebug("k8ExecTask: recvReturnParameters failed");
                readsOk = false;
            }
        } else {
            logDebug("            [EXEC didn't send a return parameter list]");
        }
    }
    in.drain(); // parameters beyond the fifth
    if (k.statusCode == err::kNone && k.failReason == 0) {
        k.statusCode = static_cast<int>(status);
        k.failReason = static_cast<int>(reason);
        k.subError = static_cast<int>(sub);
    }
    if (k.outputSocket >= 0) {
        while (k.outputSocket >= 0 && outputData(call.session) > 0) {
        }
    }
    call.ok = readsOk;
    return readsOk;
}

bool readDaemonStatus(ExecCall& call, int count)
{
    const KernelSession& k = call.k;
    long status = -97, reason = -97, unused = 0;
    if (count < 2) {
        logErrorStat(err::kBadReplyParam, 0, count, "k8ExecTask: K8BCDFUN_KERNELSTATUS invalid parameter count");
        return false;
    }
    StatusReader in(k.busSocket, count);
    in.skip(unused);
    if (count >= 3)
        in.skip(status);
    if (count >= 4) {
        if (!in.next(reason, err::kBadStatusParam, "k8ExecTask: EXEC returned an invalid daemon fail reason parameter"))
            return false;
    } else {
        reason = 0;
    }
    in.drain();
    char text[160];
    std::snprintf(text, sizeof text, "k8ExecTask: EXEC returned daemon status %ld, reason code %ld", status, reason);
    logErrorStat(err::kDaemonStatus, static_cast<int>(status), static_cast<int>(reason), text);
    return false;
}

bool readNeedScreen(ExecCall& call, int count)
{
    const KernelSession& k = call.k;
    if (count != 2) {
        logErrorStat(err::kBadReplyParam, 0, count, "k8ExecTask: NEED_SCREEN invalid parameter count");
        recvAndDiscardNextParam(k.busSocket, count - 1);
        return false;
    }
    std::vector<unsigned char> block;
    if (!recvParam(k.busSocket, block, "k8ExecTask: NEED_SCREEN recv error for nParams"))
        return false;
    Cursor c(block.data(), block.size());
    unsigned elements = 0;
    if (!block.empty() && !c.u16(elements)) {
        logErrorStat(err::kBadReplyParam, 0, static_cast<int>(block.size()),
                     "k8ExecTask: NEED_SCREEN recv error for parameter block hdr count");
        return false;
    }
    if (elements == 0)
        return true;
    long port = 0;
    if (!numItem(c, port, "k8ExecTask: NEED_SCREEN recv error")) {
        logError(err::kBadReplyParam, "k8ExecTask: NEED_SCREEN recv error");
        return false;
    }
    bool gui = true;
    if (elements >= 2) {
        const unsigned char* d = nullptr;
        std::size_t n = 0;
        if (!c.item(d, n) || n > 20) {
            logErrorStat(err::kBadReplyParam, 0, static_cast<int>(n),
                         "k8ExecTask: NEED_SCREEN invalid GUI mode parameter");
            return false;
        }
        gui = !(n > 0 && (d[0] == 'n' || d[0] == 'N'));
    }
    return startClient(call.session, call.s.host->c_str(), static_cast<int>(port), k.operatorId.c_str(),
                       k.operatorPassword.c_str(), gui) == 1;
}

bool readOutputReq(ExecCall& call, int count)
{
    const KernelSession& k = call.k;
    if (count != 2) {
        logErrorStat(err::kBadReplyParam, 0, count, "k8ExecTask: OUTPUT_REQ invalid parameter count");
        recvAndDiscardNextParam(k.busSocket, count - 1);
        logError(err::kBadReplyParam, "k8ExecTask: OUTPUT_REQ invalid parameter");
        return false;
    }
    std::vector<unsigned char> block;
    if (!recvParam(k.busSocket, block, "k8ExecTask: OUTPUT_REQ recv error for nParams")) {
        logError(err::kBadReplyParam, "k8ExecTask: OUTPUT_REQ invalid parameter");
        return false;
    }
    Cursor c(block.data(), block.size());
    unsigned elements = 0;
    const bool header = c.u16(elements);
    if (!header || elements < 2) {
        char text[160];
        std::snprintf(text, sizeof text, "k8ExecTask: OUTPUT_REQ incorrect parameter block count %d (%02x %02x)",
                      header ? static_cast<int>(elements) : -1, block.size() > 0 ? block[0] : 0,
                      block.size() > 1 ? block[1] : 0);
        logErrorStat(err::kBadReplyParam, 0, header ? static_cast<int>(elements) : -1, text);
        logError(err::kBadReplyParam, "k8ExecTask: OUTPUT_REQ invalid parameter");
        return false;
    }
    long port = 0xC0C0, format = 0xC0C0;
    if (!numItem(c, port, "k8ExecTask: OUTPUT_REQ invalid parameter value") ||
        !numItem(c, format, "k8ExecTask: OUTPUT_REQ invalid parameter value")) {
        logError(err::kBadReplyParam, "k8ExecTask: OUTPUT_REQ invalid parameter");
        return false;
    }
    if (port < 1 || port > 65535) {
        logErrorStat(err::kBadReplyParam, 0, static_cast<int>(port), "k8ExecTask: OUTPUT_REQ invalid parameter value");
        return false;
    }
    return outputRequired(call.s, call.k, static_cast<int>(port), static_cast<int>(format));
}

} // namespace zs::k8bus
