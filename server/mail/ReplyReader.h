#pragma once
// Cuts the byte stream of an SMTP or POP3 server into whole replies. A multi-line SMTP reply
// ("250-..." lines up to "250 ...") is one reply however it was split by the network; a POP3
// status line is one reply. Bounded: a line longer than kMaxLine or a reply of more than
// kMaxLines lines breaks the protocol; the reader then fails for good (until clear()) and drops
// whatever else the peer sends, so an endless peer costs neither memory nor repeated failures.
// Two pure decoders say what a whole reply means, one per protocol.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zs::mail {

class ReplyReader {
  public:
    /// The standard allows 512 bytes a reply line; a few KB leaves room for lax servers.
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxLines = 128;
    /// How much of a refused reply failed() keeps for the error text.
    static constexpr std::size_t kKeptStart = 512;

    void feed(std::string_view bytes);
    /// The next whole reply (with its line ends), or nothing while it is still incomplete or
    /// once the reader has failed.
    std::optional<std::string> next();
    /// The peer broke a bound; the start of the offending reply is in failedStart().
    bool failed() const { return m_failed; }
    const std::string& failedStart() const { return m_failedStart; }
    void clear();
    bool empty() const { return m_buf.empty(); }

  private:
    void fail();

    std::string m_buf;
    bool m_failed = false;
    std::string m_failedStart;
};

/// What a whole SMTP reply means to the session, read from its code.
struct SmtpReply {
    enum class Kind {
        Accepted,      ///< 220, 221, 250, 251
        LoginAccepted, ///< 235
        Challenge,     ///< 334: an AUTH LOGIN prompt
        DataGo,        ///< 354
        Informational, ///< 211, 214: changes nothing
        Refused,       ///< any other code, or no words at all
        Foreign,       ///< words without a three-digit code: no SMTP server said it
    };
    enum class Prompt { None, Username, Password, Other };
    Kind kind = Kind::Refused;
    bool offersLogin = false;     ///< a 250 naming AUTH and LOGIN
    Prompt prompt = Prompt::None; ///< what a 334 asks for, from its base64 text
};
SmtpReply decodeSmtpReply(std::string_view reply);

/// A POP3 status line: "+OK", "-ERR" or something else, by its first three characters.
enum class Pop3Reply { Ok, Err, Other };
Pop3Reply decodePop3Reply(std::string_view reply);

/// A server's reply as a failure text: without its final line end, and cut to a few hundred
/// characters (marked as cut) so that a huge reply never becomes a huge log line.
std::string replyForLog(std::string_view reply);

} // namespace zs::mail
