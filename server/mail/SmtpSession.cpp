// clsSendMail's conversation with the servers: the socket pump and the bounded waits, the
// replies and what they set, the POP3 log-in before sending, opening the SMTP session (HELO or
// EHLO, AUTH LOGIN) and closing it.

#include "mail/clsSendMail.h"

#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/MessageFormat.h"
#include "mail/ReplyReader.h"
#include "mail/SendMail_p.h"
#include "net/TcpClient.h"
#include "text/Cp1252.h"
#include "time/Clock.h"

#include <stdexcept>

namespace zs::mail {

void clsSendMail::ReportFailure()
{
    std::string joined;
    for (const auto& e : m_errors)
        joined += e + "\r\n";
    if (joined.find_first_not_of(" \t\r\n") == std::string::npos)
        joined = std::string(kErrNotSent) + "\r\n"; // a failure always says something
    m_errors.clear();
    // One outcome per Send: whatever goes wrong after the first failure (the goodbye, a reset
    // while closing) is part of that failure, and its reason stays the first one.
    const bool first = !m_outcomeRaised;
    m_outcomeRaised = true;
    if (first && SendFailed)
        SendFailed(joined);
    if (m_sock->state() != zs::net::TcpClient::State::Closed)
        CloseSession();
    m_abort = true;
    m_errors.clear();
}

void clsSendMail::ReportTimeout()
{
    AddError(kErrTimeout);
    ReportFailure();
}

void clsSendMail::reportLostConnection()
{
    AddError(m_lostConnection.empty() ? kErrClosed : m_lostConnection);
    ReportFailure();
}

void clsSendMail::pumpOnce(int ms)
{
    using State = zs::net::TcpClient::State;
    auto ev = m_sock->pump(ms);
    if (ev.connected)
        m_flags.connected = m_everConnected = true;
    if (ev.bytesSent > 0)
        sckMail_SendProgress(ev.bytesSent, m_sock->queued());
    if (!ev.data.empty()) {
        m_reader->feed(ev.data);
        while (auto reply = m_reader->next())
            onReply(*reply);
        if (m_reader->failed() && !m_abort && !m_closing && !pop3LoggedIn()) {
            AddError(kErrLongReply + replyForLog(m_reader->failedStart()));
            ReportFailure();
        }
    }
    if (ev.closed || m_sock->state() == State::Closed)
        m_flags.connected = false;
    if (ev.error && pop3LoggedIn()) {
        // The POP3 server took the password: the log-in is done, whatever QUIT brings.
        m_flags.pop3Done = true;
    } else if (ev.error && !m_abort && !m_closing) {
        if (!ev.data.empty()) {
            // The reply that came with the reset still counts (a "250" to the end mark is a
            // sent message); the reset is the reason of whatever waits next.
            m_lostConnection = ev.errorText;
        } else {
            AddError(ev.errorText);
            ReportFailure();
        }
    }
}

bool clsSendMail::WaitForFlag(Flag f, long seconds, bool reportOnTimeout, bool restartWhileDraining)
{
    using State = zs::net::TcpClient::State;
    if (seconds < 1)
        return false;
    const std::int64_t bound = static_cast<std::int64_t>(seconds) * 1000;
    std::int64_t deadline = m_clock.tickMs() + bound;
    // Bytes still on their way out: while they keep leaving, the server is reading.
    std::size_t unsent = restartWhileDraining ? m_sock->unsent() : 0;
    bool& target = m_flags.*f;
    while (!target) {
        if (restartWhileDraining && unsent > 0) {
            if (const std::size_t now = m_sock->unsent(); now < unsent) {
                unsent = now;
                deadline = m_clock.tickMs() + bound;
            }
        }
        if (m_clock.tickMs() >= deadline) {
            if (reportOnTimeout)
                ReportTimeout();
            return false;
        }
        if (m_abort)
            return false;
        // A peer that hung up will never set the flag: say so now instead of at the deadline.
        if ((f != &ReplyFlags::connected || m_everConnected) && m_sock->state() != State::Connected &&
            m_sock->state() != State::Connecting) {
            if (reportOnTimeout)
                reportLostConnection();
            return false;
        }
        pumpOnce(10);
        if (m_options.yield)
            m_options.yield();
    }
    return true;
}

void clsSendMail::sendText(const std::string& utf8)
{
    m_sock->send(zs::text::toLatin1(utf8));
}

void clsSendMail::sendData(std::string_view bytes)
{
    m_wire.clear();
    m_stuffer.append(bytes, m_wire);
    m_sock->send(m_wire);
}

void clsSendMail::onReply(const std::string& reply)
{
    if (m_pop3Step == Pop3Step::Off)
        onSmtpReply(reply);
    else
        onPop3Reply(reply);
}

bool clsSendMail::applySmtpReply(const SmtpReply& r)
{
    using Kind = SmtpReply::Kind;
    switch (r.kind) {
    case Kind::Accepted:
        m_flags.reply = true;
        m_flags.loginOffered = m_flags.loginOffered || r.offersLogin;
        return true;
    case Kind::LoginAccepted:
        m_flags.loginAccepted = true;
        return true;
    case Kind::Challenge:
        if (r.prompt == SmtpReply::Prompt::Username)
            sendText(EncodeBase64Line(zs::text::toLatin1(m_username)) + "\r\n"); // one line, however long
        else if (r.prompt == SmtpReply::Prompt::Password)
            sendText(EncodeBase64Line(zs::text::toLatin1(m_password)) + "\r\n");
        else
            sendText("\r\n*\r\n");
        return true;
    case Kind::DataGo:
        m_flags.dataGo = true;
        return true;
    case Kind::Informational:
        return true; // help and status texts change nothing
    case Kind::Refused:
    case Kind::Foreign:
        break;
    }
    return false;
}

void clsSendMail::onSmtpReply(const std::string& reply)
{
    const SmtpReply r = decodeSmtpReply(reply);
    // Already reported, or closing: a refusal of the goodbye adds nothing.
    if (applySmtpReply(r) || m_abort || m_closing)
        return;
    // A reply without a code fails at once: waiting would only end in a time-out that hides
    // what the server said.
    AddError(r.kind == SmtpReply::Kind::Foreign ? kErrNotSmtp + replyForLog(reply) : replyAsError(reply));
    ReportFailure();
}

void clsSendMail::onPop3Reply(const std::string& reply)
{
    const Pop3Reply r = decodePop3Reply(reply);
    if (r == Pop3Reply::Ok) {
        // Only the POP3 log-in takes these steps: a "+OK" on the SMTP session (a POP3 server
        // at its address, answering the goodbye) never sends a user name or a password.
        switch (m_pop3Step) {
        case Pop3Step::Off:
        case Pop3Step::Greeting:
            sendText("USER " + m_username + "\r\n");
            m_pop3Step = Pop3Step::UserSent;
            break;
        case Pop3Step::UserSent:
            sendText("PASS " + m_password + "\r\n");
            m_pop3Step = Pop3Step::PassSent;
            break;
        case Pop3Step::PassSent:
            sendText("QUIT\r\n");
            m_pop3Step = Pop3Step::QuitSent;
            break;
        case Pop3Step::QuitSent:
            m_flags.pop3Done = true;
            m_pop3Step = Pop3Step::Greeting;
            break;
        }
        return;
    }
    // A line with an SMTP code is taken as the SMTP session takes it, never as a refusal.
    if (applySmtpReply(decodeSmtpReply(reply)) || m_abort || m_closing)
        return;
    if (pop3LoggedIn()) {
        // The password was accepted: a refused QUIT does not undo the log-in.
        m_flags.pop3Done = true;
        m_pop3Step = Pop3Step::Greeting;
        return;
    }
    if (r == Pop3Reply::Err) {
        m_flags.pop3Done = false;
        m_pop3Step = Pop3Step::Greeting;
    }
    AddError(replyAsError(reply));
    ReportFailure();
}

std::string clsSendMail::replyAsError(const std::string& reply)
{
    // A reply with nothing in it still says what went wrong.
    const std::string shown = replyForLog(reply);
    return shown.find_first_not_of(" \t") == std::string::npos ? kErrEmptyReply : shown;
}

bool clsSendMail::pop3LoggedIn() const
{
    return m_pop3Step == Pop3Step::QuitSent;
}

bool clsSendMail::connectWithRetry(bool clearConnectedEachRound)
{
    using State = zs::net::TcpClient::State;
    const bool pop3 = m_pop3Step != Pop3Step::Off;
    const std::string host = pop3 ? m_pop3Host : m_smtpHost;
    const auto port = pop3 ? m_options.pop3Port : static_cast<std::uint16_t>(m_port);
    for (long attempt = 0; attempt < m_connectRetry; ++attempt) {
        if (m_sock->state() == State::Connected) {
            m_flags.connected = true;
            return true;
        }
        if (clearConnectedEachRound)
            m_flags.connected = false;
        if (m_sock->state() == State::Closed) {
            m_everConnected = false;
            std::string error;
            if (!m_sock->connect(host, port, &error)) {
                AddError(error);
                ReportFailure();
                return false;
            }
        }
        if (WaitForFlag(&ReplyFlags::connected, m_connectTimeout, false))
            return true;
        // A server that took the connection and dropped it at once is not tried again: what
        // it did is the reason, not a time-out.
        if (m_abort || m_everConnected)
            return false;
        if (m_sock->state() == State::Error)
            m_sock->close();
        pumpOnce(0);
    }
    return false;
}

bool clsSendMail::OpenSession()
{
    try {
        return openSessionImpl();
    } catch (const std::exception& e) {
        m_pop3Step = Pop3Step::Off;
        m_openFailure = std::string("Connect error: ") + e.what();
        raiseStatus(m_openFailure);
        return false;
    }
}

bool clsSendMail::openSessionImpl()
{
    using State = zs::net::TcpClient::State;
    if (m_sock->state() == State::Connected)
        return true;
    if (m_sock->state() != State::Closed) {
        m_sock->close();
        m_reader->clear();
    }
    if (!checkSessionValues())
        return false;
    if (m_usePop && !pop3LogIn())
        return false;
    return connectSmtp() && greetSmtp();
}

bool clsSendMail::checkSessionValues()
{
    // Connect opens a session without Send's checks: what goes into a command is checked here.
    const bool unsafeHelo = !isWireSafeAddress(m_from);
    const bool unsafePop = m_usePop && !isSafePop3Login(m_username, m_password);
    if (unsafeHelo)
        AddError(kErrFrom);
    if (unsafePop)
        AddError(kErrPopLogin);
    if (unsafeHelo || unsafePop) {
        ReportFailure();
        return false;
    }
    if (m_smtpHost.empty())
        m_smtpHost = MXQuery("");
    if (m_smtpHost.empty()) {
        AddError(kErrSmtpHost);
        ReportFailure();
        return false;
    }
    return true;
}

bool clsSendMail::pop3LogIn()
{
    raiseStatus("Connecting to POP3 Server (" + m_pop3Host + ")...");
    m_flags.reset();
    m_abort = false;
    if (m_pop3Host.empty()) {
        AddError(kErrPop3Host);
        ReportFailure();
        return false;
    }
    m_pop3Step = Pop3Step::Greeting;
    connectWithRetry(false);
    if (!m_abort)
        (void)WaitForFlag(&ReplyFlags::pop3Done, m_connectTimeout, false); // a silent POP3 server only delays
    m_sock->close();
    m_reader->clear();
    m_pop3Step = Pop3Step::Off;
    if (m_abort)
        return false;
    raiseStatus("POP3 Authentication Successful...");
    return true;
}

bool clsSendMail::connectSmtp()
{
    using State = zs::net::TcpClient::State;
    m_flags.reset();
    m_abort = false;
    m_lostConnection.clear();
    if (m_sock->state() != State::Closed) {
        m_sock->close();
        m_reader->clear();
    }
    raiseStatus("Connecting to SMTP Server (" + m_smtpHost + ")...");
    connectWithRetry(true);
    if (m_abort)
        return false; // already reported
    (void)WaitForFlag(&ReplyFlags::reply, m_connectTimeout, false);
    if (m_abort)
        return false;
    if (m_sock->state() != State::Connected || !m_flags.connected || !m_flags.reply) {
        // A connection that was made and then closed or reset (with the greeting or instead
        // of it) is reported as such; only a server that never answered has timed out.
        if (m_everConnected && m_sock->state() != State::Connected)
            reportLostConnection();
        else
            ReportTimeout();
        return false;
    }
    return true;
}

bool clsSendMail::greetSmtp()
{
    raiseStatus("Initializing Communications...");
    m_flags.reply = false;
    const std::string from = trim(m_from);
    const auto at = from.find('@');
    sendText((m_useAuth ? "EHLO " : "HELO ") + (at == std::string::npos ? from : from.substr(at + 1)) + "\r\n");
    if (!WaitForFlag(&ReplyFlags::reply, m_connectTimeout, true))
        return false;
    if (!m_useAuth)
        return true;
    if (!m_flags.loginOffered && !WaitForFlag(&ReplyFlags::loginOffered, 5, false)) {
        if (m_abort)
            return false;
        raiseStatus("Login Not Supported by Host, Continuing...");
        return true;
    }
    raiseStatus("Sending Login Authentication...");
    sendText("AUTH LOGIN\r\n"); // the mechanism's name as RFC 4954 spells it
    if (!WaitForFlag(&ReplyFlags::loginAccepted, 5, false)) {
        raiseStatus("Host Login Failed!");
        m_openFailure = "Host Login Failed!";
        m_abort = true;
        return false;
    }
    raiseStatus("Host Login OK!");
    return !m_abort;
}

void clsSendMail::CloseSession()
{
    using State = zs::net::TcpClient::State;
    if (m_sock->state() != State::Closed)
        raiseStatus("Closing Connection...");
    // Nothing that happens while closing is reported: replies and socket errors in the wait
    // for the goodbye are ignored. A peer that broke the reply bounds gets no QUIT at all.
    const bool closing = m_closing;
    m_closing = true;
    if (m_sock->state() == State::Connected && !m_reader->failed()) {
        if (m_pop3Step != Pop3Step::Off) {
            sendText("QUIT\r\n");
            pumpOnce(0);
        } else {
            m_flags.reply = false;
            const bool abort = m_abort;
            m_abort = false; // the goodbye is awaited even after a failure
            sendText("QUIT\r\n");
            (void)WaitForFlag(&ReplyFlags::reply, 2, false);
            m_abort = abort;
        }
    }
    m_sock->close();
    m_reader->clear();
    m_flags.connected = false;
    m_lostConnection.clear();
    m_closing = closing;
}

void clsSendMail::Disconnect()
{
    m_keepOpen = false;
    CloseSession();
}

} // namespace zs::mail
