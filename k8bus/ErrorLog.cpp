#include "ErrorLog.h"

#include "ApiState.h"
#include "Socket.h"
#include "TraceLog.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace zs::k8bus {

namespace {
thread_local int t_calls = 0;
thread_local bool t_stdoutHeld = false;
} // namespace

void errorOutput(const char* text)
{
    logWrite(text);
    std::fputs(text, stdout);
    if (t_calls > 0)
        t_stdoutHeld = true;
    else
        std::fflush(stdout);
}

CallOutput::CallOutput()
{
    ++t_calls;
    traceHold();
}

CallOutput::~CallOutput()
{
    // The trace goes out now; the standard output keeps its own buffering (a line-buffered
    // terminal shows each line, a pipe or file gets whole buffers) and is flushed only before
    // the host is let run, so a call costs one write, not one per line.
    traceRelease();
    if (--t_calls == 0)
        t_stdoutHeld = false;
}

void flushCallOutput()
{
    if (t_calls == 0)
        return;
    traceFlush();
    if (t_stdoutHeld) {
        t_stdoutHeld = false;
        std::fflush(stdout);
    }
}

void logError(int nErr, const char* text)
{
    ApiGlobals* g = apiGlobals();
    const char* suffix = !g ? " -- Null pGlob" : (!g->currentKernelSession ? " -- null pKrnlSess" : "");
    logWritef("logError: '%s' nErr %d%s\n", text, nErr, suffix);
    int shown = nErr;
    if (g) {
        if (nErr == err::kKeepEarlier && g->lastError != err::kNone) {
            shown = g->lastError;
        } else {
            g->lastError = nErr;
            if (auto* k = g->currentKernelSession) {
                k->statusCode = nErr;
                k->failReason = 0;
                k->subError = 0;
            }
        }
    }
    // The debug output ends in the error output too: the line is written once.
    char line[1200];
    std::snprintf(line, sizeof line, "Error %d: %s\n", shown, text);
    errorOutput(line);
}

void logErrorStat(int nErr, int failReason, int subError, const char* text)
{
    ApiGlobals* g = apiGlobals();
    const char* suffix = !g ? " -- Null pGlob" : (!g->currentKernelSession ? " -- Null pKrnlSess" : "");
    logWritef("logErrorStat: '%s' nErr %d, nFailReason %d, nSubError %d%s\n", text, nErr, failReason, subError, suffix);
    if (!g) {
        logError(nErr, text);
        return;
    }
    if (nErr == err::kKeepEarlier && g->lastError != err::kNone) {
        logError(g->lastError, text);
        return;
    }
    g->lastError = nErr;
    if (auto* k = g->currentKernelSession) {
        k->statusCode = nErr;
        k->failReason = failReason;
        k->subError = subError;
    }
    logError(err::kKeepEarlier, text);
}

void logSockError(int nErr, const char* text)
{
    const int sockErr = sockGetLastErrorNo();
    ApiGlobals* g = apiGlobals();
    const char* suffix = !g ? " -- Null pGlob" : (!g->currentKernelSession ? " -- Null pKrnlSess" : "");
    logWritef("logSockError: '%s' nErr %d, sockGetLastErrorNo %d%s\n", text, nErr, sockErr, suffix);
    if (g) {
        // A follow-up report with -1 must not wipe the number of the failure it follows.
        if (nErr != err::kKeepEarlier || g->lastError == err::kNone)
            g->lastError = nErr;
        if (nErr != err::kNone && nErr != err::kKeepEarlier && g->currentKernelSession) {
            g->currentKernelSession->statusCode = nErr;
            g->currentKernelSession->failReason = sockErr;
            g->currentKernelSession->subError = 0;
        }
    }
    std::string line = text;
    line += "\n ";
    line += sockErrorDescription();
    errorOutput(line.c_str());
}

void logDebug(const char* text)
{
    ApiGlobals* g = apiGlobals();
    if (!g || !g->debugMode)
        return;
    // Built on the stack: debug lines are written on every call while the mode is on.
    char line[1100];
    const std::size_t n = std::min(std::strlen(text), sizeof line - 2);
    std::memcpy(line, text, n);
    line[n] = '\n';
    line[n + 1] = '\0';
    errorOutput(line);
}

void logDebugf(const char* format, ...)
{
    ApiGlobals* g = apiGlobals();
    if (!g || !g->debugMode)
        return;
    char line[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    logDebug(line);
}

int k8GetLastStatusCodes(int* status, int* reason, int* subError)
{
    ApiGlobals* g = apiGlobals();
    if (!g)
        return err::kNoState;
    int s = g->lastError, r = err::kNoCurrentSession, e = err::kNoCurrentSession;
    if (auto* k = g->currentKernelSession) {
        s = k->statusCode;
        r = k->failReason;
        e = k->subError;
    }
    if (status)
        *status = s;
    if (reason)
        *reason = r;
    if (subError)
        *subError = e;
    return g->lastError;
}

int k8GetLastError()
{
    ApiGlobals* g = apiGlobals();
    return g ? g->lastError : err::kNoState;
}

} // namespace zs::k8bus
