#pragma once
// The bus library's numbers for what went wrong: the error numbers a failed call records as the
// thread's last error and its kernel session's status code, and the socket layer's error numbers
// (Winsock's numbering, which the texts, the logs and the hosts reading a status triple keep).

namespace zs::k8bus {

/// Error numbers, as logError, logErrorStat and logSockError record them and LastError and
/// GetLastStatusCodes give them back.
namespace err {

/// Given to the recording calls: an error already recorded on the thread stands.
inline constexpr int kKeepEarlier = -1;
inline constexpr int kNone = 0;

// The connection to the bus daemon and to the report output.
inline constexpr int kSocketOpen = 1;
inline constexpr int kSend = 3;
inline constexpr int kReceive = 4;
inline constexpr int kWait = 5;

// The session tables and the open request.
inline constexpr int kNoFreeSystemSession = 10;
inline constexpr int kNoFreeKernelSession = 20;
inline constexpr int kOpenRefused = 30;

// A request the library builds and the replies it reads.
inline constexpr int kBadReplyParam = 40; ///< a wrong parameter count or parameter
inline constexpr int kUnexpectedReply = 41;
inline constexpr int kBadParamFormat = 42; ///< also array values not in parentheses
inline constexpr int kParamListTooLong = 43;
inline constexpr int kTerminalClient = 45; ///< the text terminal client could not be started
inline constexpr int kKernelStatus = 46;   ///< the kernel returned a non-zero status
inline constexpr int kDaemonStatus = 47;   ///< the daemon returned a status
inline constexpr int kReturnAreaTooSmall = 48;
inline constexpr int kBadStatusParam = 50; ///< a status, fail reason or sub-error that is not a number
inline constexpr int kKernelFailed = 51;   ///< the kernel returned status -1
inline constexpr int kNumLength = 70;      ///< a numeric parameter of a wrong length
inline constexpr int kNumDigit = 71;       ///< a bad sign or digit in a numeric parameter

// What the read-back gives and the calls that cannot be made.
inline constexpr int kNoCurrentSession = 97; ///< fail reason and sub-error without a current kernel session
inline constexpr int kNoState = 98;          ///< the thread has no API state
inline constexpr int kNotImplemented = 99;
inline constexpr int kClientObject = 101; ///< the platform's client control could not be made or reached

/// A kernel fail reason: the kernel's own detail is in the sub-error, which is then kept.
inline constexpr int kKernelReasonInSubError = 99;

} // namespace err

/// The socket layer's error numbers (the thread's socket error, a socket failure's fail reason).
namespace sockerr {

inline constexpr int kNone = 0;
/// The connection closed, was reset or aborted (any of them: the peer is gone).
inline constexpr int kClosed = -2;
/// A connect still in progress.
inline constexpr int kInProgress = -3;
/// A wait that the host's yield hook abandoned.
inline constexpr int kInterrupted = 10004;
inline constexpr int kNotConnected = 10057;
/// A wait that ran out.
inline constexpr int kTimedOut = 10060;
inline constexpr int kHostNotFound = 11001;
/// Added to an errno that has no number of its own, so that it stays distinguishable.
inline constexpr int kUnmappedBase = 10000;

} // namespace sockerr

} // namespace zs::k8bus
