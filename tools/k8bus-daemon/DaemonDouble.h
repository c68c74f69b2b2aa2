#pragma once
// A stand-in for the Korvi bus daemon in tests: listens on 127.0.0.1 on a free port and runs the
// test's script for each connection in turn, on its own thread. The script reads requests,
// answers them (well-formed or hostile), opens a report-output listener, or closes mid-reply.
// Everything it received is kept for the test to compare byte for byte. Every wait is bounded.

#include "Wire.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zs::k8test {

class DaemonConnection {
  public:
    DaemonConnection(int fd, class DaemonDouble& owner)
        : m_fd(fd)
        , m_owner(owner)
    {}
    /// The next whole request; nothing when the client closed or 5 seconds passed.
    std::optional<Request> next(int timeoutMs = 5000);
    void send(const std::string& bytes);
    void send(const Reply& r) { send(r.bytes()); }
    /// Sends `bytes` one at a time, `everyMs` apart (a daemon that drips its reply); stops when
    /// the client has gone. True when every byte went.
    bool drip(const std::string& bytes, int everyMs);
    /// Ends the connection now (a daemon that goes away mid-reply).
    void close();
    /// Waits until the client closes (or the time runs out) without answering.
    void waitForClose(int timeoutMs);

    /// A listener for the report-output connection; returns its port.
    int listenForOutput();
    /// Accepts the client's output connection; false after 5 seconds.
    bool acceptOutput();
    void sendOutput(const std::string& bytes);
    void closeOutput();

    /// A listener for the terminal client of a screen request; returns its port.
    int listenForTerminal();
    /// Accepts the terminal client's connection; false after `timeoutMs`.
    bool acceptTerminal(int timeoutMs = 5000);
    /// Writes `line` and a line end to the terminal and reads its answer line (line end cut);
    /// nothing when the terminal closed or did not answer within `timeoutMs`.
    std::optional<std::string> prompt(const std::string& line, int timeoutMs = 5000);
    void closeTerminal();

    ~DaemonConnection();

  private:
    bool readExact(int fd, std::string& out, std::size_t n, int timeoutMs);
    int m_fd;
    int m_outListen = -1;
    int m_out = -1;
    int m_termListen = -1;
    int m_term = -1;
    std::string m_termPending;
    DaemonDouble& m_owner;
};

class DaemonDouble {
  public:
    using Script = std::function<void(DaemonConnection&, int connectionIndex)>;
    explicit DaemonDouble(Script script);
    /// Listens on 127.0.0.1:`port`. While another test holds the port it tries again, for up to
    /// a minute. Tests of the program's task call use a free port and K8BUS_DEFAULT_PORT instead
    /// (the well-known port may belong to another server on the machine).
    DaemonDouble(Script script, int port);
    ~DaemonDouble();

    int port() const { return m_port; }
    std::vector<Request> received() const;
    int connections() const { return m_connections.load(); }

  private:
    friend class DaemonConnection;
    void record(const Request& r);
    void run();

    Script m_script;
    int m_listen = -1;
    int m_stop = -1;
    int m_port = 0;
    std::atomic<int> m_connections{0};
    mutable std::mutex m_lock;
    std::vector<Request> m_received;
    std::thread m_thread;
};

/// The daemon's side of a task's start: the open request answered with session `session`, then
/// the execute request read. False when the client went away (or kept silent) instead.
bool openAndAwaitExecute(DaemonConnection& c, long session);
/// The daemon's side of a task that ends well: its kernel status 0 with ESITO=ok, the end
/// request answered, then the wait for the client to leave.
void endTaskWell(DaemonConnection& c, long session);

} // namespace zs::k8test
