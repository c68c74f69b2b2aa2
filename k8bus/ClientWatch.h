#pragma once
// The terminal clients that one execute call started for its screen requests: while one of them
// runs, the operator and the kernel talk over the terminal's own connection and the bus stays
// silent for as long as they take. The watch counts the clients that run and makes its
// descriptor readable each time one ends, so the call's wait on the bus can include it.

#include <atomic>

namespace zs::k8bus {

class ClientWatch {
  public:
    ClientWatch();
    ~ClientWatch();
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

    /// Readable once a client has ended since the last drain(); -1 when it could not be made.
    int fd() const { return m_fd; }
    /// Whether a client started through this watch still runs.
    bool running() const { return m_running.load() > 0; }
    /// A client has started (on the calling thread) / has ended (on the thread that waited for it).
    void started() { m_running.fetch_add(1); }
    void ended();
    /// Takes the ends signalled so far.
    void drain();

  private:
    int m_fd = -1;
    std::atomic<int> m_running{0};
};

} // namespace zs::k8bus
