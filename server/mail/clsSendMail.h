#pragma once
// The mail client: holds the settings and content of one message, sends it over SMTP
// (optionally after a POP3 log-in, with AUTH LOGIN when asked) and reports through four
// callbacks. The run window owns one for its life; Send() runs the whole conversation on the
// caller's thread, waiting on its socket with poll in 10 ms rounds, every wait bounded by
// ConnectTimeout or MessageTimeout as measured by the injected clock.

#include "mail/Encoders.h"
#include "mail/modMXQuery.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zs::time {
class Clock;
}
namespace zs::net {
class TcpClient;
}

namespace zs::mail {

class ReplyReader;
struct SmtpReply;

struct SendMailOptions {
    /// Clock for every time-out; the system clock when null. Only its tick counter is used
    /// for deadlines, so a wait across midnight lasts its full length.
    zs::time::Clock* clock = nullptr;
    /// Called once per wait round (after the 10 ms socket poll): the host's "let pending
    /// events run"; tests move a fake clock here.
    std::function<void()> yield;
    /// Where the MX resolver finds its name servers.
    modMXQuery::Options mx;
    /// The POP3 port used for the log-in before sending.
    std::uint16_t pop3Port = 110;
};

class clsSendMail {
  public:
    clsSendMail();
    explicit clsSendMail(SendMailOptions options);
    ~clsSendMail();
    clsSendMail(const clsSendMail&) = delete;
    clsSendMail& operator=(const clsSendMail&) = delete;

    // Events. Raised from inside Send/Connect on the caller's thread.
    std::function<void()> SendSuccesful;
    std::function<void(const std::string&)> SendFailed; ///< the error list, each entry + CR LF
    std::function<void(const std::string&)> Status;
    std::function<void(long)> Progress;

    // Properties. Setters never fail: a refused value records its fixed text in the error
    // list, which the next Send reports through SendFailed.
    bool AsHTML() const { return m_asHtml; }
    void setAsHTML(bool v) { m_asHtml = v; }
    std::string Attachment() const;
    void setAttachment(const std::string& v);
    std::string BccRecipient() const { return join(m_bcc); }
    void setBccRecipient(const std::string& v);
    std::string CcDisplayName() const { return join(m_ccNames); }
    void setCcDisplayName(const std::string& v) { m_ccNames = cleanList(splitList(v)); }
    std::string CcRecipient() const { return join(m_cc); }
    void setCcRecipient(const std::string& v);
    long ConnectRetry() const { return m_connectRetry; }
    void setConnectRetry(long v);
    long ConnectTimeout() const { return m_connectTimeout; }
    void setConnectTimeout(long v);
    std::string ContentBase() const { return m_contentBase; }
    void setContentBase(const std::string& v);
    std::string Delimiter() const { return m_delimiter; }
    void setDelimiter(const std::string& v) { m_delimiter = v.substr(0, 1); }
    long EmailAddressValidation() const { return m_emailValidation; }
    void setEmailAddressValidation(long v);
    long EncodeType() const { return m_encodeType; }
    void setEncodeType(long v);
    std::string from() const { return m_from; }
    void setFrom(const std::string& v);
    std::string FromDisplayName() const { return m_fromName; }
    void setFromDisplayName(const std::string& v);
    long MaxRecipients() const { return m_maxRecipients; }
    void setMaxRecipients(long v);
    /// The prepared body (every line end CR LF, long lines folded).
    std::string Message() const;
    void setMessage(const std::string& v);
    long MessageTimeout() const { return m_messageTimeout; }
    void setMessageTimeout(long v);
    std::string PassWord() const { return m_password; }
    void setPassWord(const std::string& v) { m_password = v; }
    bool PersistentSettings() const { return m_persistent; }
    void setPersistentSettings(bool v);
    long Priority() const { return m_priority; }
    void setPriority(long v);
    bool Receipt() const { return m_receipt; }
    void setReceipt(bool v) { m_receipt = v; }
    std::string Recipient() const { return join(m_to); }
    void setRecipient(const std::string& v);
    std::string RecipientDisplayName() const { return join(m_toNames); }
    void setRecipientDisplayName(const std::string& v) { m_toNames = cleanList(splitList(v)); }
    std::string ReplyToAddress() const { return m_replyTo; }
    void setReplyToAddress(const std::string& v);
    std::string POP3Host() const { return m_pop3Host; }
    void setPOP3Host(const std::string& v);
    std::string SMTPHost() const { return m_smtpHost; }
    void setSMTPHost(const std::string& v);
    long SMTPHostValidation() const { return m_hostValidation; }
    void setSMTPHostValidation(long v);
    long SMTPPort() const { return m_port; }
    void setSMTPPort(long v);
    std::string Subject() const { return m_subject; }
    void setSubject(const std::string& v);
    bool UseAuthentication() const { return m_useAuth; }
    void setUseAuthentication(bool v);
    bool UsePopAuthentication() const { return m_usePop; }
    void setUsePopAuthentication(bool v);
    std::string Username() const { return m_username; }
    void setUsername(const std::string& v);

    // Methods.
    /// Sends the message; the outcome comes only as exactly one SendSuccesful or SendFailed.
    /// A Send called while another Send or Connect of this object runs (from a yield) is
    /// refused with its own SendFailed; the running one goes on untouched.
    void Send();
    /// Opens the session and keeps it open across Sends until Disconnect. False, and nothing
    /// done, while a Send or Connect of this object runs.
    bool Connect();
    void Disconnect();
    void Shutdown() {}
    std::string GetContentType(const std::string& fileName, const std::string& fallback) const;
    std::string GetIPAddress(const std::string& host) const;
    std::string GetIPHost() const;
    bool IsValidEmailAddress(const std::string& address) const;
    /// Best mail exchanger of `domain`, "" on failure (the reason goes to Status).
    std::string MXQuery(const std::string& domain);
    /// ICMP echo; on success `host` becomes the address that answered.
    bool Ping(std::string& host, std::string& roundTrip, std::string& dataSize, bool& echoMatched);
    std::string DecodeBase64String(const std::string& base64) const;

    /// The current error list (for callers that show it before sending).
    const std::vector<std::string>& errors() const { return m_errors; }

    // Message-format helpers, public for tests.
    /// "+hhmm"/"-hhmm" of an offset east of UTC in minutes.
    static std::string formatZoneOffset(int minutesEast);
    std::string MakeDateText() const;
    std::string MakeMessageId() const;
    long EstimateMessageSize() const;
    /// The body as the message carries it (ISO-8859-1 bytes): every line end (CR LF, lone CR,
    /// lone LF) becomes CR LF and lines longer than 998 characters are folded. Leading dots are
    /// doubled only on the wire, with everything else between DATA and the end mark.
    static std::string PrepareBody(const std::string& latin1);

  private:
    /// What the waits of one session wait for; set by the socket pump and the replies, and
    /// cleared together when a session opens.
    struct ReplyFlags {
        bool connected = false;
        bool reply = false; ///< the last command was accepted
        bool dataGo = false;
        bool loginOffered = false;
        bool loginAccepted = false;
        bool pop3Done = false;
        bool someBytesSent = false;
        void reset() { *this = ReplyFlags{}; }
    };
    using Flag = bool ReplyFlags::*;
    /// Where the POP3 log-in stands: what the next "+OK" answers. Off outside the log-in.
    enum class Pop3Step { Off, Greeting, UserSent, PassSent, QuitSent };

    static std::string trim(const std::string& s);
    std::vector<std::string> splitList(const std::string& v) const;
    static std::vector<std::string> cleanList(std::vector<std::string> list);
    std::string join(const std::vector<std::string>& list) const;
    void validateAddressList(const std::string& text, const std::string& errorText);
    bool checkHost(std::string& host) const;
    /// Sets `slot` to the checked host `v` and keeps it as `setting`; `errorText` when refused.
    void setHost(const std::string& v, std::string& slot, const std::string& setting, const std::string& errorText);

    void AddError(const std::string& text);
    void RemoveError(const std::string& text);
    void ReportFailure();
    void ReportTimeout();
    /// Fails the send because the connection is gone: with the reset's text when one came, else kErrClosed.
    void reportLostConnection();
    void raiseStatus(const std::string& text);
    std::string ReadSetting(const std::string& name, const std::string& fallback) const;
    void WriteSetting(const std::string& name, const std::string& text);

    /// With `restartWhileDraining` the bound restarts whenever bytes of the socket's send queue
    /// (ours or the kernel's) have left since the last look: only a server that reads nothing
    /// for `seconds` times out.
    bool WaitForFlag(Flag f, long seconds, bool reportOnTimeout, bool restartWhileDraining = false);
    void pumpOnce(int ms);
    void onReply(const std::string& reply);
    void onSmtpReply(const std::string& reply);
    void onPop3Reply(const std::string& reply);
    /// Sets what an SMTP reply means and answers an AUTH LOGIN prompt; false for a refusal.
    bool applySmtpReply(const SmtpReply& r);
    static std::string replyAsError(const std::string& reply);
    bool pop3LoggedIn() const;
    void sckMail_SendProgress(std::size_t sent, std::size_t remaining);
    void sendText(const std::string& utf8);
    /// Writes message data (after DATA): line ends made CR LF, leading dots doubled.
    void sendData(std::string_view bytes);
    bool OpenSession();
    bool openSessionImpl();
    /// The sender and POP3 log-in fit in a command line, and there is an SMTP host (asked of
    /// the MX resolver when none is set).
    bool checkSessionValues();
    bool pop3LogIn();
    /// Connects to the SMTP host and waits for its greeting.
    bool connectSmtp();
    /// HELO, or EHLO and AUTH LOGIN when authentication is asked for.
    bool greetSmtp();
    bool connectWithRetry(bool clearConnectedEachRound);
    void CloseSession();
    bool drainBelow(std::size_t limit);

    // One transmission, stage by stage (Send runs them in this order).
    struct Outgoing;
    bool checkMessage();
    void checkWireValues();
    Outgoing composeMessage();
    bool sendCommand(const std::string& line, Flag awaited);
    bool sendEnvelope(const Outgoing& out);
    bool sendContent(const Outgoing& out);
    bool sendAttachment(const Outgoing& out, std::size_t index);
    bool finishMessage();
    void sendImpl();

    bool EmbedInlineFiles();
    bool SendFileEncoded(const std::string& path, int mode);
    std::string makeBoundary() const;
    /// Whether this message goes without MIME: plain mode has no header to name an encoding, so
    /// a body only an encoding can carry (one holding a NUL) makes the message MIME.
    bool sendsPlain() const { return m_encodeType != 0 && !m_hasNul; }

    SendMailOptions m_options;
    zs::time::Clock& m_clock;
    std::unique_ptr<zs::net::TcpClient> m_sock;
    std::unique_ptr<ReplyReader> m_reader;
    modMXQuery m_mx;

    // Properties.
    bool m_asHtml = false;
    std::vector<std::string> m_attachPaths, m_attachNames;
    std::vector<bool> m_embedded;
    std::uintmax_t m_attachSize = 0;
    std::size_t m_attachNameLength = 0;
    std::vector<std::string> m_to, m_toNames, m_cc, m_ccNames, m_bcc;
    long m_connectRetry = 4, m_connectTimeout = 40, m_messageTimeout = 60, m_maxRecipients = 100;
    std::string m_contentBase, m_delimiter = ";";
    long m_emailValidation = 1, m_encodeType = 0, m_priority = 3, m_hostValidation = 3, m_port = 25;
    std::string m_from, m_fromName, m_password, m_replyTo, m_pop3Host, m_smtpHost, m_subject, m_username;
    std::string m_message; // prepared, ISO-8859-1
    bool m_eightBit = false;
    bool m_hasNul = false; ///< the body holds a NUL byte: it goes MIME, quoted-printable, in any mode
    bool m_persistent = false, m_receipt = false, m_useAuth = false, m_usePop = false;
    std::string m_priorityWord;
    std::string m_zone;

    std::vector<std::string> m_errors;

    // Session.
    ReplyFlags m_flags;
    Pop3Step m_pop3Step = Pop3Step::Off;
    bool m_abort = false;         ///< this send has failed: every wait ends at once
    bool m_keepOpen = false;      ///< opened by Connect: the session outlives each Send
    bool m_everConnected = false; ///< the current connection attempt was accepted (it may be gone since)
    bool m_outcomeRaised = false; ///< this Send (or Connect) has had its one outcome
    bool m_closing = false;       ///< inside CloseSession: nothing more is reported
    std::string m_lostConnection; ///< a reset that came together with a reply, reported at the next wait
    bool m_busy = false;          ///< a Send or Connect is running (its waits yield)
    std::string m_openFailure;

    // Transmission.
    long m_estimatedTotal = 0;
    std::uint64_t m_bytesSent = 0;
    std::size_t m_bytesQueued = 0;
    long m_lastPercent = 0;
    long m_percentFloor = -1; ///< highest percentage raised in this send: progress never goes back
    DataStuffer m_stuffer;
    std::string m_wire;
};

} // namespace zs::mail
