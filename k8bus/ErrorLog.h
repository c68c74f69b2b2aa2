#pragma once
// Error bookkeeping of the bus library: every failure becomes the thread's last error and, when
// a kernel session is current, that session's status triple (status, fail reason, sub-error).
// Lines go to the error output: the trace log and the standard output.

#include "ErrorCodes.h"

namespace zs::k8bus {

/// err::kKeepEarlier keeps an earlier error as the one shown and recorded.
void logError(int nErr, const char* text);
void logErrorStat(int nErr, int failReason, int subError, const char* text);
/// Records the thread's socket error number as the fail reason.
void logSockError(int nErr, const char* text);
/// Written only while the API state's debug mode is on.
void logDebug(const char* text);
void logDebugf(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// To the trace log and the standard output.
void errorOutput(const char* text);

/// The output of one API call (calls nest): its trace pieces gather and reach the file before
/// every wait on the daemon and when the call ends, in one write each, so a call that hangs has
/// its lines in k8bus.log whatever the host; its lines to the standard output keep stdio's
/// buffering and are flushed whenever the call is about to let the host run (flushCallOutput).
class CallOutput {
  public:
    CallOutput();
    ~CallOutput();
    CallOutput(const CallOutput&) = delete;
    CallOutput& operator=(const CallOutput&) = delete;
};
void flushCallOutput();

/// The last error (98 without state) and the current session's triple, or (lastError, 97, 97).
int k8GetLastStatusCodes(int* status, int* reason, int* subError);
int k8GetLastError();

} // namespace zs::k8bus
