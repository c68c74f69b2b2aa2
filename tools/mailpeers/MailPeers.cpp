#include "mailpeers/MailPeers.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zs::mail::test {
namespace {

bool udpAnswers(std::uint16_t port)
{
    // A DNS query for "." of type A is enough to see that the server is up.
    const unsigned char q[] = {0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1};
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval tv{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::sendto(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    char buf[512];
    const bool ok = ::recv(fd, buf, sizeof buf, 0) > 0;
    ::close(fd);
    return ok;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& log)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        const int out = ::open(log.empty() ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::setpgid(0, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

bool ChildProcess::running() const
{
    return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
}

int runToEnd(const std::vector<std::string>& argv, const std::filesystem::path& log, int timeoutMs)
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

SmtpPeer::SmtpPeer(SmtpPeerOptions options)
{
    const auto portFile = m_dir / "port";
    std::vector<std::string> argv = {
        "/usr/bin/python3",   ZS_MAILPEERS_DIR "/smtp_peer.py", "--port-file", portFile.string(), "--dir",
        m_dir.path().string()};
    if (!options.auth.empty())
        argv.insert(argv.end(), {"--auth", options.auth});
    if (!options.rejectRcpt.empty())
        argv.insert(argv.end(), {"--reject-rcpt", options.rejectRcpt});
    m_proc = std::make_unique<ChildProcess>(argv, m_dir / "peer.log");
    for (int i = 0; i < 500 && m_port == 0; ++i) {
        if (std::filesystem::exists(portFile))
            m_port = static_cast<std::uint16_t>(std::stoi(zs::test::readFile(portFile)));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string SmtpPeer::message(int n) const
{
    // The peer writes the file after the final "." is answered; give it a moment.
    const auto p = m_dir / ("msg-" + std::to_string(n) + ".eml");
    for (int i = 0; i < 100 && !std::filesystem::exists(p); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return zs::test::readFile(p);
}

int SmtpPeer::count() const
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        n += entry.path().extension() == ".eml";
    return n;
}

std::string SmtpPeer::envelope(int n) const
{
    return zs::test::readFile(m_dir / ("msg-" + std::to_string(n) + ".env"));
}

Pop3Peer::Pop3Peer(const std::string& user, const std::string& password)
{
    m_port = freePort();
    const auto root = m_dir.path();
    // Dovecot's login and mail processes run as its own users: they must reach the folder.
    ::chmod(root.c_str(), 0755);
    std::filesystem::create_directories(root / "run");
    std::filesystem::create_directories(root / "mail");
    ::chmod((root / "mail").c_str(), 0777);
    // The mail user is Dovecot's own: its ids differ between machines, so look them up.
    const struct passwd* pw = ::getpwnam("dovecot");
    const std::string uid = pw ? std::to_string(pw->pw_uid) : "0";
    const std::string gid = pw ? std::to_string(pw->pw_gid) : "0";
    std::ofstream(root / "passwd") << user << ":{PLAIN}" << password << ":" << uid << ":" << gid
                                   << "::" << (root / "mail").string() << "::\n";
    std::ofstream conf(root / "dovecot.conf");
    conf << "base_dir = " << (root / "run").string() << "\n"
         << "state_dir = " << (root / "run").string() << "\n"
         << "log_path = " << (root / "dovecot.log").string() << "\n"
         << "protocols = pop3\n"
         << "listen = 127.0.0.1\n"
         << "ssl = no\n"
         << "disable_plaintext_auth = no\n"
         << "auth_mechanisms = plain login\n"
         << "default_login_user = dovenull\n"
         << "default_internal_user = dovecot\n"
         << "auth_failure_delay = 0\n"
         << "first_valid_uid = 1\n"
         << "first_valid_gid = 1\n"
         << "mail_location = maildir:" << (root / "mail").string() << "/%u\n"
         << "passdb {\n  driver = passwd-file\n  args = " << (root / "passwd").string() << "\n}\n"
         << "userdb {\n  driver = passwd-file\n  args = " << (root / "passwd").string() << "\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " << m_port
         << "\n  }\n}\n"
         << "service anvil {\n  chroot =\n}\n";
    conf.close();
    ::chmod((root / "passwd").c_str(), 0644);
    m_proc = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/dovecot", "-F", "-c", (root / "dovecot.conf").string()},
        root / "stdout.log");
    m_ok = waitForTcp(m_port);
}

Pop3Peer::~Pop3Peer()
{
    m_proc.reset();
}

std::string Pop3Peer::log() const
{
    return zs::test::readFile(m_dir / "dovecot.log") + zs::test::readFile(m_dir / "stdout.log");
}

DnsPeer::DnsPeer(const std::vector<std::string>& mxHosts)
{
    m_port = freePort();
    std::vector<std::string> argv = {"/usr/sbin/dnsmasq",
                                     "--no-daemon",
                                     "--conf-file=/dev/null",
                                     "--port=" + std::to_string(m_port),
                                     "--listen-address=127.0.0.1",
                                     "--bind-interfaces",
                                     "--no-resolv",
                                     "--no-hosts",
                                     "--pid-file=" + (m_dir / "dnsmasq.pid").string()};
    for (const auto& mx : mxHosts)
        argv.push_back("--mx-host=" + mx);
    m_proc = std::make_unique<ChildProcess>(argv, m_dir / "dnsmasq.log");
    for (int i = 0; i < 200 && !m_ok; ++i) {
        m_ok = udpAnswers(m_port);
        if (!m_ok)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace zs::mail::test
