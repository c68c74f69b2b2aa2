#pragma once
// Cuts the byte stream of an SMTP or POP3 server into whole replies. A multi-line SMTP reply
// ("250-..." lines up to "250 ...") is one reply however it was split by the network; a POP3
// status line is one reply. Bounded: a peer that sends endless text without finishing a
// reply gets it handed over in pieces of at most kMaxReply bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zs::mail {

class ReplyReader {
  public:
    static constexpr std::size_t kMaxReply = 64 * 1024;

    void feed(std::string_view bytes) { m_buf.append(bytes); }
    /// The next whole reply (with its line ends), or nothing while it is still incomplete.
    std::optional<std::string> next();
    void clear() { m_buf.clear(); }
    bool empty() const { return m_buf.empty(); }

  private:
    std::string m_buf;
};

} // namespace zs::mail
