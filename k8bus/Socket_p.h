#pragma once
// What the parts of the socket layer share and nobody else sees: the thread's socket state with
// its read-ahead buffers, the proxy thread's requests, the waits and the error recording.

#include "Socket.h"
#include "threadglob/ThreadGlob.h"

#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace zs::k8bus {
/// A wait without a limit of its own (only the host's yield hook may end it).
inline constexpr int kNoWaitLimit = -1;
} // namespace zs::k8bus

namespace zs::k8bus::sockio {

// A wait with a yield hook polls in slices this long, so the host's timers and clicks are
// served while a task runs.
constexpr int kSliceMs = 10;
// Bytes read ahead per socket: a whole reply usually arrives in one piece and is then taken
// parameter by parameter from memory.
constexpr std::size_t kReadAhead = 16 * 1024;
// The most of one send the trace shows: the largest bus message.
constexpr std::size_t kMaxDump = 65536;

// A host-name lookup carried out by the proxy thread. Shared with it: a caller whose wait ends
// first (its bound, or the host's stop) leaves the request behind, and the proxy thread finishes it.
struct LookupRequest {
    std::string name;
    std::atomic<bool> done{false};
    bool found = false;
    std::string address;
    int error = 0;
};
// Ends the proxy thread.
struct EndRequest {};
using ProxyRequest = std::variant<std::shared_ptr<LookupRequest>, EndRequest>;

// The proxy thread of one calling thread: a queue of typed requests, an eventfd that announces
// them and one that announces each finished request.
class SockProxy {
  public:
    ~SockProxy() { stop(); }
    bool start(const void* owner);
    void stop();
    bool running() const { return m_thread.joinable(); }
    bool post(ProxyRequest r);
    int replyFd() const { return m_replyFd; }

  private:
    void run();

    std::mutex m_lock;
    std::deque<ProxyRequest> m_queue;
    int m_requestFd = -1;
    int m_replyFd = -1;
    std::thread m_thread;
};

// What a socket has read ahead of its caller.
struct RecvBuffer {
    int sock = -1;
    std::vector<unsigned char> bytes;
    std::size_t begin = 0, end = 0;
    bool blocking = true;    ///< the descriptor blocks: a wait is the read itself, bounded by SO_RCVTIMEO
    int receiveTimeout = -2; ///< the SO_RCVTIMEO last set, in milliseconds (kNoWaitLimit: none; -2 not set yet)
    int pendingError = 0;    ///< an errno met while reading ahead, given to the next read
    std::size_t available() const { return end - begin; }
};

struct SockGlobals : ThreadSlotState {
    SockDeadline elementDeadline; ///< the end of the element being read (ScopedElementWait)
    int lastSockError = 0;
    int lastSysError = 0; ///< the errno behind lastSockError, 0 for time-outs and closes
    SockTimeouts timeouts;
    bool boundSetByCaller = false; ///< sockSetTimeouts gave the bound: the profile no longer sets it
    std::string peerAddress;
    int acceptedSocket = -1;
    int peerPort = 0;
    int currentListenEntry = -1;
    bool proxyOn = true;
    SockProxy proxy;
    // Shared with a read under way: the host's events, run from inside its wait, may read from
    // or close other sockets of the thread (or this one) without pulling the buffer from under it.
    std::vector<std::shared_ptr<RecvBuffer>> buffers;

    std::shared_ptr<RecvBuffer> buffer(int sock, bool make)
    {
        for (const auto& b : buffers)
            if (b->sock == sock)
                return b;
        if (!make)
            return nullptr;
        auto b = std::make_shared<RecvBuffer>();
        b->sock = sock;
        b->bytes.resize(kReadAhead);
        const int flags = ::fcntl(sock, F_GETFL, 0);
        b->blocking = flags >= 0 && !(flags & O_NONBLOCK);
        buffers.push_back(b);
        return b;
    }
    // A descriptor number that is closed, or given to a new socket, must not keep old bytes.
    void forget(int sock)
    {
        std::erase_if(buffers, [sock](const auto& b) { return b->sock == sock; });
    }
};

SockGlobals* sockGlobals();
/// Records a Winsock error number of the layer's own (a time-out, a closed peer).
void setError(SockGlobals* g, int n);
/// Records an errno as its Winsock number, keeping the errno for the description.
void setSysError(SockGlobals* g, int e);
/// The Winsock number of an errno.
int mapErrno(int e);

// The time line of a wait that may be taken up again (a readiness that came to nothing): what is
// left of its limit (kNoWaitLimit: none).
class WaitSpan {
  public:
    explicit WaitSpan(int limitMs);
    /// Milliseconds left, 0 once over; kNoWaitLimit for a wait without a limit.
    int left() const;

  private:
    bool m_endless;
    std::chrono::steady_clock::time_point m_end;
};

// How long a wait may last: `ms` (0 or less: no limit of its own) within the bound, and never
// past the end of the element being read; kNoWaitLimit when nothing limits it.
int waitLimit(const SockGlobals* g, int ms);

enum class Wait { Ready, TimedOut, Failed, Abandoned };

// Polls until a descriptor is ready or `timeoutMs` has passed (kNoWaitLimit: however long), in
// slices with the thread's yield hook between them; a hook that gives false abandons the wait.
// What the thread's trace gathered is written first: a wait may be a long one.
Wait waitFor(pollfd* fds, nfds_t n, int timeoutMs);
// Records the outcome of a wait that did not end ready; false for every such outcome.
bool waitFailed(SockGlobals* g, Wait w);

enum class Fill { Data, Closed, Error, TimedOut, Abandoned, Failed };

// Reads what the socket has into its empty read-ahead, waiting up to `timeoutMs` (kNoWaitLimit:
// however long) for the first byte, the gathered trace written first. On a blocking socket the
// read itself is the wait (bounded by SO_RCVTIMEO, set only when it changes), so a reply costs
// one system call; otherwise poll and read. With a yield hook the wait runs in slices with the
// hook between them, as waitFor does.
Fill fill(SockGlobals* g, RecvBuffer& rb, int timeoutMs);

// Looks a host name up: on the proxy thread while the caller waits (and yields), else here.
bool lookupHost(SockGlobals* g, const char* name, std::string& address);
/// Starts the thread's proxy thread unless it runs or is switched off; false when it cannot start.
bool initSockProxy(SockGlobals* g);

/// Accepts a connection on a listened port through the listen table: the socket, or -1.
int doAccept(SockGlobals* g, int port);
/// Gives a listened socket back to its table entry instead of closing it; false when `sock` is
/// not in the table.
bool listenRelease(int sock);

} // namespace zs::k8bus::sockio
