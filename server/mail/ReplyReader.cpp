#include "mail/ReplyReader.h"

#include "text/Cp1252.h"

#include <cctype>

namespace zs::mail {
namespace {

constexpr std::size_t kShownReply = 300;

// "ddd-" marks a line that more lines of the same reply follow.
bool isContinuation(std::string_view line)
{
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           line[3] == '-';
}

} // namespace

void ReplyReader::feed(std::string_view bytes)
{
    if (!m_failed)
        m_buf.append(bytes);
}

void ReplyReader::clear()
{
    m_buf.clear();
    m_failed = false;
    m_failedStart.clear();
}

void ReplyReader::fail()
{
    m_failed = true;
    m_failedStart = m_buf.substr(0, kKeptStart);
    std::string().swap(m_buf);
}

std::optional<std::string> ReplyReader::next()
{
    if (m_failed)
        return std::nullopt;
    std::size_t lineStart = 0;
    std::size_t lines = 0;
    while (lineStart < m_buf.size()) {
        const std::size_t lf = m_buf.find('\n', lineStart);
        if (lf == std::string::npos)
            break;
        if (lf - lineStart >= kMaxLine || ++lines > kMaxLines) {
            fail();
            return std::nullopt;
        }
        const std::string_view line(m_buf.data() + lineStart, lf - lineStart);
        lineStart = lf + 1;
        if (!isContinuation(line)) {
            std::string reply = m_buf.substr(0, lineStart);
            m_buf.erase(0, lineStart);
            return reply;
        }
    }
    // An unfinished last line may not grow past the bound either.
    if (m_buf.size() - lineStart >= kMaxLine)
        fail();
    return std::nullopt;
}

std::string replyForLog(std::string_view reply)
{
    const auto end = reply.find_last_not_of("\r\n");
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(0, end + 1);
    // The server's bytes are in the mail's wire encoding; the program's texts are UTF-8. One
    // byte more than is shown tells whether the reply is cut.
    const std::string text = zs::text::fromLatin1(reply.substr(0, kShownReply + 1));
    if (text.size() <= kShownReply)
        return text;
    std::size_t cut = kShownReply;
    // Never split a UTF-8 sequence: back off over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + " [... cut]";
}

} // namespace zs::mail
