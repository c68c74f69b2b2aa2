// The socket layer's error numbers: errno mapped to Winsock's numbers (texts and logs keep
// them), the last error of the thread, its text and its report.

#include "Socket.h"

#include "ErrorLog.h"
#include "EventLog.h"
#include "Socket_p.h"
#include "TraceLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zs::k8bus {

using namespace sockio;

namespace sockio {

// The numbers the library tests for by name come from ErrorCodes.h; the rest stand as the table
// of the numbering, as sockErrorText below has them.
int mapErrno(int e)
{
    switch (e) {
    case 0:
        return sockerr::kNone;
    case EINTR:
        return sockerr::kInterrupted;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return sockerr::kInProgress;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case EOPNOTSUPP:
        return 10045;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
    case ECONNRESET:
    case EPIPE:
        return sockerr::kClosed;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return sockerr::kNotConnected;
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return sockerr::kTimedOut;
    case ECONNREFUSED:
        return 10061;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return sockerr::kUnmappedBase + e;
    }
}

} // namespace sockio

int sockGetLastErrorNo()
{
    SockGlobals* g = sockGlobals();
    return g ? g->lastSockError : 0;
}

const char* sockErrorText(int n)
{
    struct Entry {
        int n;
        const char* text;
    };
    static const Entry kTexts[] = {
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Access denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol is wrong type for socket"},
        {10042, "Bad protocol option"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "ICMP network unreachable"},
        {10052, "Network was reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space is supported"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "Name too long"},
        {10064, "Host is down"},
        {10065, "Host is unreachable"},
        {10066, "Directory not empty"},
        {10067, "EPROCLIM returned"},
        {10068, "EUSERS returned"},
        {10069, "Disk quota exceeded"},
        {10070, "ESTALE returned"},
        {10071, "The object is remote"},
        {10091, "System not ready"},
        {10092, "Version is not supported"},
        {10093, "Not initialized"},
        {11001, "Host not found"},
        {11002, "Try again"},
        {11003, "Non-recoverable error"},
        {11004, "No data record available"},
    };
    for (const auto& e : kTexts)
        if (e.n == n)
            return e.text;
    return "Unknown";
}

std::string sockErrorDescription()
{
    const int sockErr = sockGetLastErrorNo();
    SockGlobals* g = sockGlobals();
    const int sysErr = g ? g->lastSysError : 0;
    if (sockErr == 0 && sysErr == 0)
        return "No error\n";
    char text[200];
    std::snprintf(text, sizeof text, "last WIN32 error %ld / winsock error %d: %s\n", static_cast<long>(sysErr),
                  sockErr, sockErrorText(sockErr));
    return text;
}

void sockReportError(const char* text)
{
    std::string line = text;
    line += "\n ";
    line += sockErrorDescription();
    errorOutput(line.c_str());
    eventReport(1, 0xC0000001u, {text});
}

} // namespace zs::k8bus
