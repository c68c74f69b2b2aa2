#pragma once
// The API state of a thread: its system sessions (logins to a bus daemon) and kernel sessions
// (open sessions with their bus and report-output connections), the last error and the
// message buffer in which requests are built. A handle is an index into this thread's table
// and means nothing on another thread.

#include "ClientWatch.h"
#include "threadglob/ThreadGlob.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zs::k8bus {

inline constexpr int kMaxSystemSessions = 10;
inline constexpr int kMaxKernelSessions = 20;
inline constexpr int kDefaultBusPort = 5432;

/// Receives one report line: (session handle, output format, line type, line control, length,
/// data). A result above 0 keeps the output connection open.
using ReportOutputFunction = int (*)(int session, int format, int type, int lineCtrl, int length, const char* data);

struct SystemSession {
    std::optional<std::string> host; ///< free while empty
    int port = -1;
    int userBlockMode = 1;
    std::string userId;
    std::string password;
    std::string environment;
    std::string codeSet; ///< at most 63 bytes
};

struct KernelSession {
    std::string operatorId;
    std::string coDiv;
    std::string operatorPassword;
    int daemonSessionId = -1;
    int infoFirst = 1;
    int busSocket = -1;
    int systemIndex = -1; ///< -1 = free slot
    int outputSocket = -1;
    int statusCode = 0;
    int failReason = 0;
    int subError = 0;
    int outputFormat = 0;
    ReportOutputFunction reportOutputFunction = nullptr;
    int statusVarCount = 0;
    int statusVarLength = 0;
    std::vector<unsigned char> statusVars;
    std::vector<unsigned char> paramListBuffer; ///< kept across uses of the slot
    std::vector<unsigned char> outputData;
    long ocxParent = 0;
    /// The terminal clients the current execute call started (none before its first screen request).
    std::shared_ptr<ClientWatch> terminalClients;
};

struct ApiGlobals : ThreadSlotState {
    ApiGlobals();
    ~ApiGlobals() override;
    int debugMode = 1;
    int lastError = 0;
    int clientOcxOpen = 0;
    KernelSession* currentKernelSession = nullptr;
    std::array<SystemSession, kMaxSystemSessions> systemSessions;
    std::array<KernelSession, kMaxKernelSessions> kernelSessions;
    std::vector<unsigned char> messageBuffer; ///< 65,536 bytes
    int messageCapacity = 65535;
    std::string hostName; ///< this computer's dotted address, fetched once
    bool hostNameFetched = false;
};

/// The calling thread's state, made on first use (with its socket state); null when it cannot be made.
ApiGlobals* initApi();
/// The calling thread's state without making one.
ApiGlobals* apiGlobals();

} // namespace zs::k8bus
