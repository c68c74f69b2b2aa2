#pragma once
// The client of the Korvi bus daemon: system logins, kernel sessions, and the three requests
// (open a kernel session, execute a task, end a session) built with the message buffer and
// sent over the socket layer. Every operation works on the calling thread's state; handles are
// valid only on the thread that made them. Failures are recorded (ErrorLog.h) and returned as
// 0 or -1; nothing throws.

#include "ApiState.h"

namespace zs::k8bus {

int setDebugMode(int flag);
int k8SetCodeSet(int systemHandle, const char* codeSet);
int k8FindTask(const char* task, std::string* machine, int* port, std::string* environment);
/// A system handle 0-9, or -1. No message is sent: the login records what later requests carry.
int k8SystemLogin(const char* host, int port, const char* environment, const char* userId, const char* password);
int k8SystemClose(int systemHandle);
/// Connects to the daemon and opens a kernel session: a session handle 0-19, or -1.
int k8OpenKor8(int systemHandle, const char* environment, const char* operatorId, const char* coDiv,
               const char* operatorPassword);
/// Runs a task. `paramFormat` "D<sep>" (key=value text) or "L" (pre-encoded list); the
/// returned parameters replace the buffer's contents: *nParams pairs in *maxLenOut bytes
/// (room in, length out). 1 when the task ended with kernel status 0, else 0.
int k8ExecTask(int session, const char* taskName, const char* paramFormat, int* nParams, int paramLenIn, int* maxLenOut,
               char* paramBuffer, int* nSysVars, int sysVarLenIn, int unused, const char* sysVars);
/// 1 when the daemon confirmed the end; the session is freed in every case.
int k8CloseKor8(int session);
int k8Interrupt(int session);
int k8SetReportOutputFunction(int session, ReportOutputFunction fn);
int k8SetOcxParent(int session, long window);

SystemSession* findSystemSession(int handle);
/// The session in use, made current; null otherwise.
KernelSession* findKernelSession(int handle);
int kernelSessionHandle(const KernelSession* k);

/// Scrambles user and session blocks in place (the bytes after the mode byte).
void scrambleBlock(unsigned char* bytes, std::size_t n);

/// Encodes a parameter list as one string parameter appended to the current message
/// (format "A", "L" or "D<sep>"). False after recording the error.
bool buildParamList(KernelSession& k, const char* format, int count, int length, const char* data);

} // namespace zs::k8bus
