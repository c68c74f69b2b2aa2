#pragma once
// The bus library's TCP layer: connect, send everything, receive an exact count with bounded
// waits, wait on several sockets, accept from the process-wide listen table. Socket waits run on
// the calling thread in short slices, with the host's yield hook between slices, so a host's
// window stays alive; name lookups, which cannot be polled, go to the thread's socket proxy
// thread. Error numbers are Winsock's, so texts and logs keep them.

#include "ErrorCodes.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace zs::k8bus {

/// Makes the thread's socket state and proxy thread; true when ready (also when already made).
bool sockInit();
/// Connects (listen false) or accepts on a listened port (listen true); a socket or -1.
int sockOpen(const char* host, int port, bool listen);
/// Sends every byte; the length, or -1. `secret`: the bytes carry credentials and are not dumped.
int sockSend(int sock, const unsigned char* bytes, int length, bool secret = false);
/// Reads exactly `length` bytes unless the peer closes or a wait runs out: the bytes read, or -1.
int sockRecv(int sock, unsigned char* buffer, int length);
/// Waits until a socket is readable; timeout -1 = the thread's default. Number ready, 0 on time-out, -1 on error.
int sockWait(int count, const int* socks, int* ready, int timeoutMs);
/// As sockWait, without a limit and without the bound: until a socket is readable, however long
/// (the host's yield hook may still end the wait).
int sockWaitNoBound(int count, const int* socks, int* ready);
/// Closes (a listened socket stays open); false for -1.
bool sockClose(int sock);
/// Level 1 socket, 2 TCP; options 1 keep-alive, 2 rcvbuf, 3 sndbuf, 4 no-delay, 5 linger, 6 reuse address.
bool sockSetOption(int sock, int level, int option, const void* value, int length, const char* name);
/// This computer's (host null, ".", "localhost") or the host's dotted address; false and empty on failure.
bool sockGetHostAddress(const char* host, std::string& out, std::size_t room);

int sockGetLastErrorNo();
/// The Winsock text of an error number, "Unknown" for others.
const char* sockErrorText(int n);
/// "last WIN32 error %ld / winsock error %d: %s\n", or "No error\n".
std::string sockErrorDescription();
/// The text and the error description to the error output, and an error event (0xC0000001).
void sockReportError(const char* text);

/// The bound of every wait when the profile does not set one ("Kor8 Bus" / kWaitTimeoutKey).
inline constexpr int kDefaultWaitBoundMs = 300 * 1000;
/// Profile key (section "Kor8 Bus", seconds; 0 = no bound) that sets the bound of every wait.
inline constexpr const char* kWaitTimeoutKey = "K8WaitTimeout";
/// The socket error number of a wait that the host's yield hook abandoned.
inline constexpr int kSockInterrupted = sockerr::kInterrupted;

/// Per-thread waits in milliseconds. The bound is on silence, one wait at a time: a wait for
/// one element of the protocol (a reply header, a parameter, a report line, the room to send)
/// ends when it has not come within `bound`; the next wait starts afresh, so a task that keeps
/// sending never fails for its length. Where a wait had no limit (`firstRead` 0, `accept` 0,
/// `connect` 0, a sockWait below one second) it lasts `bound`, and no wait lasts longer.
/// `bound` 0 means no bound: the waits keep only their own limits (`nextRead`), as the
/// protocol has them. `bound` comes from the profile when the thread's socket state is made and
/// again whenever a session opens.
struct SockTimeouts {
    int firstRead = 0;
    int nextRead = 30000;
    int accept = 0;
    int bound = kDefaultWaitBoundMs;
    int connect = 0;
};
SockTimeouts sockGetTimeouts();
/// A negative bound restores the default. The bound given stays: the profile no longer sets it.
void sockSetTimeouts(const SockTimeouts& t);
/// Takes the bound from the profile again (a session opens: a changed value applies from it on),
/// unless the thread's bound was given by sockSetTimeouts.
void sockReadWaitBound();

/// The end of the element being read: no wait of the thread goes past it (none: each wait has
/// only its own limit and the bound).
using SockDeadline = std::optional<std::chrono::steady_clock::time_point>;

/// One element of the protocol (a reply header, a parameter, a report line): the reads that
/// bring its bytes share one bound from the start of its wait, however a peer drips them; the
/// next element waits afresh. Without a bound (0) the element has no end of its own. Reads of
/// an element inside another belong to the outer one. The host's yield hook runs outside it: a
/// call made from there has elements of its own.
class ScopedElementWait {
  public:
    ScopedElementWait();
    ~ScopedElementWait();
    ScopedElementWait(const ScopedElementWait&) = delete;
    ScopedElementWait& operator=(const ScopedElementWait&) = delete;

  private:
    SockDeadline m_previous;
};
/// Whether the thread's proxy thread runs (name lookups go through it).
bool sockProxyActive();

/// Called on the waiting thread between slices of every blocking wait (the host lets its window
/// events run). Returning false abandons the wait: the call fails with kSockInterrupted.
using YieldHook = std::function<bool()>;
/// Installs the calling thread's hook (empty: none) and gives back the one it replaces.
YieldHook sockSetYieldHook(YieldHook hook);

/// Installs a hook on the calling thread for the life of the object.
class ScopedYieldHook {
  public:
    explicit ScopedYieldHook(YieldHook hook)
        : m_previous(sockSetYieldHook(std::move(hook)))
    {}
    ~ScopedYieldHook() { sockSetYieldHook(std::move(m_previous)); }
    ScopedYieldHook(const ScopedYieldHook&) = delete;
    ScopedYieldHook& operator=(const ScopedYieldHook&) = delete;

  private:
    YieldHook m_previous;
};

/// Process-wide listen table (1001 entries): registers a listening socket for doAccept.
bool sockListenRegister(int port, int sock);
/// Frees the port's entry (the socket itself is the caller's to close).
void sockListenUnregister(int port);

} // namespace zs::k8bus
