#include "mail/ReplyReader.h"

#include <cctype>

namespace zs::mail {
namespace {

// "ddd-" marks a line that more lines of the same reply follow.
bool isContinuation(std::string_view line)
{
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           line[3] == '-';
}

} // namespace

std::optional<std::string> ReplyReader::next()
{
    std::size_t lineStart = 0;
    while (lineStart < m_buf.size()) {
        const std::size_t lf = m_buf.find('\n', lineStart);
        if (lf == std::string::npos)
            break;
        const std::string_view line(m_buf.data() + lineStart, lf - lineStart);
        lineStart = lf + 1;
        if (!isContinuation(line)) {
            std::string reply = m_buf.substr(0, lineStart);
            m_buf.erase(0, lineStart);
            return reply;
        }
    }
    if (m_buf.size() >= kMaxReply) {
        std::string reply = m_buf.substr(0, kMaxReply);
        m_buf.erase(0, kMaxReply);
        return reply;
    }
    return std::nullopt;
}

} // namespace zs::mail
