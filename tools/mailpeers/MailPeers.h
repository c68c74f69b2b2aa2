#pragma once
// Real servers for the mail tests, each on 127.0.0.1 and a free port, stopped on destruction:
// the aiosmtpd-based SMTP peer, Dovecot POP3 and dnsmasq.

#include "testsupport/Loopback.h"
#include "testsupport/TestEnv.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zs::mail::test {

/// A child process started with an argv (no shell), killed and reaped on destruction.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool running() const;

  private:
    pid_t m_pid = -1;
};

using zs::test::freePort;
using zs::test::waitForTcp;

/// Runs a program (argv, no shell) to its end, output to `log`; its exit status, or -1 when
/// it could not run or was stopped after `timeoutMs`.
int runToEnd(const std::vector<std::string>& argv, const std::filesystem::path& log, int timeoutMs = 30000);

struct SmtpPeerOptions {
    std::string auth;       ///< "user:password" to offer AUTH LOGIN
    std::string rejectRcpt; ///< a reply that refuses every recipient
};

class SmtpPeer {
  public:
    explicit SmtpPeer(SmtpPeerOptions options = {});
    bool ok() const { return m_port != 0; }
    std::uint16_t port() const { return m_port; }
    /// Raw bytes of the n-th accepted message (1-based), "" when none.
    std::string message(int n = 1) const;
    std::string envelope(int n = 1) const;
    /// How many messages the server has accepted so far.
    int count() const;

  private:
    zs::test::TempDir m_dir;
    std::unique_ptr<ChildProcess> m_proc;
    std::uint16_t m_port = 0;
};

class Pop3Peer {
  public:
    Pop3Peer(const std::string& user, const std::string& password);
    ~Pop3Peer();
    bool ok() const { return m_ok; }
    std::uint16_t port() const { return m_port; }
    std::string log() const;

  private:
    zs::test::TempDir m_dir;
    std::unique_ptr<ChildProcess> m_proc;
    std::uint16_t m_port = 0;
    bool m_ok = false;
};

class DnsPeer {
  public:
    /// `mxHosts` as dnsmasq's --mx-host values ("name,host,preference").
    explicit DnsPeer(const std::vector<std::string>& mxHosts);
    bool ok() const { return m_ok; }
    std::uint16_t port() const { return m_port; }

  private:
    zs::test::TempDir m_dir;
    std::unique_ptr<ChildProcess> m_proc;
    std::uint16_t m_port = 0;
    bool m_ok = false;
};

} // namespace zs::mail::test
