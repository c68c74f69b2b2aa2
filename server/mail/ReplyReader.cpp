#include "mail/ReplyReader.h"

#include "mail/Encoders.h"
#include "text/Ascii.h"
#include "text/Cp1252.h"

#include <algorithm>
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

SmtpReply decodeSmtpReply(std::string_view reply)
{
    using Kind = SmtpReply::Kind;
    SmtpReply r;
    if (reply.find_first_not_of(" \t\r\n") != std::string_view::npos &&
        (reply.size() < 3 ||
         !std::all_of(reply.begin(), reply.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))) {
        r.kind = Kind::Foreign;
        return r;
    }
    const std::string_view code = reply.substr(0, 3);
    if (code == "220" || code == "221" || code == "251") {
        r.kind = Kind::Accepted;
    } else if (code == "250") {
        r.kind = Kind::Accepted;
        const std::string l = text::lowerAscii(reply);
        r.offersLogin = l.find("auth") != std::string::npos && l.find("login") != std::string::npos;
    } else if (code == "235") {
        r.kind = Kind::LoginAccepted;
    } else if (code == "334") {
        r.kind = Kind::Challenge;
        std::string challenge(text::trim(reply.size() > 3 ? reply.substr(3) : std::string_view()));
        for (std::size_t p; (p = challenge.find_first_of("\r\n")) != std::string::npos;)
            challenge.erase(p, 1);
        // Prompts differ between servers ("Username:", "User Name"): blanks do not count.
        std::string decoded = text::lowerAscii(DecodeBase64String(text::trim(challenge)));
        std::erase(decoded, ' ');
        r.prompt = decoded.find("username") != std::string::npos   ? SmtpReply::Prompt::Username
                   : decoded.find("password") != std::string::npos ? SmtpReply::Prompt::Password
                                                                   : SmtpReply::Prompt::Other;
    } else if (code == "354") {
        r.kind = Kind::DataGo;
    } else if (code == "211" || code == "214") {
        r.kind = Kind::Informational;
    }
    return r;
}

Pop3Reply decodePop3Reply(std::string_view reply)
{
    const std::string code = text::lowerAscii(reply.substr(0, 3));
    if (code == "+ok")
        return Pop3Reply::Ok;
    return code == "-er" ? Pop3Reply::Err : Pop3Reply::Other;
}

std::string replyForLog(std::string_view reply)
{
    const auto end = reply.find_last_not_of("\r\n");
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(0, end + 1);
    // The server's bytes are UTF-8 or in the program's code page; the program's texts are UTF-8.
    // One byte more than is shown tells whether the reply is cut.
    const std::string text = zs::text::fromPeerText(reply.substr(0, kShownReply + 1));
    if (text.size() <= kShownReply)
        return text;
    std::size_t cut = kShownReply;
    // Never split a UTF-8 sequence: back off over continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + " [... cut]";
}

} // namespace zs::mail
