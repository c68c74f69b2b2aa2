// One send of clsSendMail, stage by stage: Connect and Send with their single outcome, the
// envelope, the content, the end mark, and the progress and back-pressure of the data.

#include "mail/clsSendMail.h"

#include "mail/SendMail_p.h"
#include "net/TcpClient.h"
#include "time/Clock.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace zs::mail {

namespace {

// Marks the object busy for the life of one Send or Connect.
class BusyScope {
  public:
    explicit BusyScope(bool& busy)
        : m_busy(busy)
    {
        m_busy = true;
    }
    ~BusyScope() { m_busy = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    bool& m_busy;
};

} // namespace

bool clsSendMail::Connect()
{
    if (m_busy)
        return false; // the running conversation owns the socket
    BusyScope busy(m_busy);
    m_keepOpen = true;
    m_outcomeRaised = false;
    m_openFailure.clear();
    return OpenSession();
}

void clsSendMail::Send()
{
    // One conversation at a time. A Send re-entered from a yield of a running Send or Connect
    // gets its own single outcome here and touches nothing the running one uses: not the error
    // list, not the flags, not the socket.
    if (m_busy) {
        if (SendFailed)
            SendFailed(kErrBusy + "\r\n");
        return;
    }
    BusyScope busy(m_busy);
    m_outcomeRaised = false;
    m_openFailure.clear();
    try {
        sendImpl();
    } catch (const std::exception& e) {
        if (!m_outcomeRaised) {
            AddError(e.what());
            ReportFailure();
        }
    }
    // Every Send ends in exactly one outcome: a session that could not be opened for a
    // reason told only through Status is still a failure the caller must learn of.
    if (!m_outcomeRaised) {
        AddError(m_openFailure.empty() ? kErrNotSent : m_openFailure);
        ReportFailure();
    }
}

void clsSendMail::sendImpl()
{
    if (!checkMessage()) {
        ReportFailure();
        return;
    }
    const Outgoing out = composeMessage();
    m_estimatedTotal = EstimateMessageSize();
    m_abort = false;
    // Counted from the start of the send, log-in included, so the percentage never restarts.
    m_bytesSent = 0;
    m_percentFloor = -1;
    if (m_sock->state() != zs::net::TcpClient::State::Connected && !OpenSession())
        return;
    if (!sendEnvelope(out) || !sendContent(out) || !finishMessage())
        return;
    m_lastPercent = m_percentFloor = 100;
    if (Progress)
        Progress(100);
    raiseStatus("Transmission Complete...");
    // The server took the message: it is sent, whatever the goodbye brings.
    m_outcomeRaised = true;
    if (!m_keepOpen)
        CloseSession();
    if (SendSuccesful)
        SendSuccesful();
}

bool clsSendMail::sendCommand(const std::string& line, Flag awaited)
{
    m_flags.*awaited = false;
    sendText(line + "\r\n");
    return WaitForFlag(awaited, m_messageTimeout, true) && !m_abort;
}

bool clsSendMail::sendEnvelope(const Outgoing& out)
{
    raiseStatus("Sending Sender Information...");
    if (!sendCommand("MAIL FROM: <" + out.from + ">", &ReplyFlags::reply))
        return false;
    raiseStatus("Sending Recipient Information...");
    for (const auto& recipient : out.recipients)
        if (!sendCommand("RCPT TO: <" + recipient + ">", &ReplyFlags::reply))
            return false;
    raiseStatus("Sending Message...");
    return sendCommand("DATA", &ReplyFlags::dataGo);
}

bool clsSendMail::sendContent(const Outgoing& out)
{
    // No reply comes between DATA's go-ahead and the end mark; the flag waits for the last one.
    m_flags.reply = false;
    m_stuffer = DataStuffer();
    sendData(out.header);
    sendData("\r\n");
    sendData(out.body);
    sendData(out.files.empty() ? "\r\n" : "\r\n\r\n");
    for (std::size_t i = 0; i < out.files.size(); ++i)
        if (!sendAttachment(out, i))
            return false;
    if (!out.boundary.empty())
        sendData("--" + out.boundary + "--\r\n");
    return true;
}

bool clsSendMail::finishMessage()
{
    m_flags.reply = false;
    m_wire.clear();
    m_stuffer.finish(m_wire);
    m_sock->send(m_wire);
    // The kernel may still hold megabytes for a slow reader: the reply is awaited from when
    // the server stops taking bytes, not from when the last ones were handed over.
    return WaitForFlag(&ReplyFlags::reply, m_messageTimeout, true, true) && !m_abort;
}

void clsSendMail::sckMail_SendProgress(std::size_t sent, std::size_t remaining)
{
    m_bytesSent += sent;
    m_flags.someBytesSent = true;
    long percent = 0;
    if (m_estimatedTotal > 0)
        percent = std::min(
            100L, std::lround(static_cast<float>(m_bytesSent) / static_cast<float>(m_estimatedTotal) * 100.0F));
    // Within one send the figure only climbs: the log-in bytes count towards it, never restart it.
    if (percent != m_lastPercent && percent > m_percentFloor) {
        m_lastPercent = percent;
        m_percentFloor = percent;
        if (m_sock->state() == zs::net::TcpClient::State::Connected && Progress)
            Progress(percent);
    }
    m_bytesQueued = remaining;
}

bool clsSendMail::drainBelow(std::size_t limit)
{
    while (m_sock->queued() > limit) {
        const std::size_t noted = m_sock->queued();
        const std::int64_t deadline = m_clock.tickMs() + static_cast<std::int64_t>(m_messageTimeout) * 1000;
        while (m_sock->queued() == noted) {
            if (m_abort || m_sock->state() != zs::net::TcpClient::State::Connected) {
                if (!m_abort)
                    reportLostConnection();
                return false;
            }
            if (m_clock.tickMs() >= deadline) {
                ReportTimeout();
                return false;
            }
            pumpOnce(10);
            if (m_options.yield)
                m_options.yield();
        }
    }
    return true;
}

} // namespace zs::mail
