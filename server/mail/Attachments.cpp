// clsSendMail's attachments: the Attachment property and its checks, references in an HTML
// body rewritten to embedded files, and each file written base64 (MIME) or uuencoded (plain).

#include "mail/clsSendMail.h"

#include "fs/Paths.h"
#include "fs/ReadFile.h"
#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/MessageFormat.h"
#include "mail/SendMail_p.h"
#include "net/TcpClient.h"
#include "text/Ascii.h"
#include "text/Cp1252.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace zs::mail {

std::string clsSendMail::Attachment() const
{
    return join(m_attachPaths);
}

void clsSendMail::setAttachment(const std::string& v)
{
    m_attachPaths = splitList(v);
    m_attachSize = 0;
    m_attachNameLength = 0;
    RemoveError(kErrAttach);
    RemoveError(kErrAttachName);
    m_attachNames.assign(m_attachPaths.size(), std::string());
    m_embedded.assign(m_attachPaths.size(), false);
    for (std::size_t i = 0; i < m_attachPaths.size(); ++i) {
        std::error_code ec;
        std::filesystem::path p(m_attachPaths[i]);
        if (!std::filesystem::is_regular_file(p, ec) && m_attachPaths[i].find('\\') != std::string::npos)
            p = zs::fs::resolveUserPath(m_attachPaths[i]);
        if (m_attachPaths[i].empty() || !std::filesystem::is_regular_file(p, ec)) {
            AddError(kErrAttach);
            return;
        }
        m_attachPaths[i] = p.string();
        const auto slash = m_attachPaths[i].find_last_of("\\/");
        m_attachNames[i] = slash == std::string::npos ? m_attachPaths[i] : m_attachPaths[i].substr(slash + 1);
        if (hasControlCharacter(m_attachNames[i]))
            AddError(kErrAttachName); // a name that would break its header line or "begin" line
        m_attachSize += std::filesystem::file_size(p, ec);
        m_attachNameLength += m_attachNames[i].size();
    }
}

bool clsSendMail::EmbedInlineFiles()
{
    if (!m_asHtml || m_attachNames.empty())
        return false;
    bool any = false;
    for (std::size_t i = 0; i < m_attachNames.size(); ++i) {
        const std::string name = zs::text::toLatin1(m_attachNames[i]);
        if (name.empty())
            continue;
        const std::string lname = text::lowerAscii(name);
        std::size_t from = 0;
        for (;;) {
            const std::size_t p = text::lowerAscii(m_message).find(lname, from);
            if (p == std::string::npos)
                break;
            const std::size_t l = p == 0 ? std::string::npos : m_message.rfind('<', p);
            const std::size_t g = l == std::string::npos ? std::string::npos : m_message.find('>', l);
            const std::size_t e = l == std::string::npos ? std::string::npos : m_message.rfind('=', p);
            // Rewrite only a name that stands inside a tag, after an "=" of that same tag.
            if (l == std::string::npos || g == std::string::npos || g <= p || l >= p || e == std::string::npos ||
                e < l) {
                from = p + 1;
                continue;
            }
            const std::size_t q = m_message.find('"', e);
            const std::size_t cut = (q != std::string::npos && q < p) ? q + 1 : e + 1;
            // The reference is the Content-ID as a URL: its own "%" escapes escaped once more.
            std::string reference = "cid:";
            for (char ch : contentIdOf(m_attachNames[i]))
                reference += ch == '%' ? std::string("%25") : std::string(1, ch);
            m_message = m_message.substr(0, cut) + reference + m_message.substr(p + name.size());
            m_embedded[i] = true;
            any = true;
            from = cut + reference.size() - 1;
        }
    }
    return any;
}

bool clsSendMail::SendFileEncoded(const std::string& path, int mode)
{
    using State = zs::net::TcpClient::State;
    try {
        // Regular files only, opened without blocking: a FIFO, a device or a folder put at the
        // name after it was set fails the send here instead of hanging it or sending nothing.
        std::string why;
        const zs::fs::Fd fd = zs::fs::openForReading(path, why);
        if (!fd.valid())
            throw std::runtime_error(kErrAttach);
        auto read = [&fd](char* into, std::size_t size) -> std::size_t {
            std::size_t got = 0;
            while (got < size) {
                const ssize_t n = ::read(fd.get(), into + got, size - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw std::runtime_error(kErrAttach);
                if (n == 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            return got;
        };
        if (mode == 0) {
            std::string block(11400, '\0');
            std::string encoded;
            encoded.reserve(15600);
            for (;;) {
                const std::size_t got = read(block.data(), block.size());
                if (got == 0)
                    break;
                m_flags.someBytesSent = false;
                if (m_sock->state() != State::Connected)
                    throw std::runtime_error("Socket not Open");
                encoded.clear();
                appendBase64Lines(std::string_view(block.data(), got), encoded);
                sendData(encoded);
                (void)WaitForFlag(&ReplyFlags::someBytesSent, 2, false);
                // Never hold more than a few blocks in memory, however slow the server.
                if (m_abort || !drainBelow(64 * 1024))
                    return false;
            }
        } else if (mode == 1) {
            char line[45];
            std::string batch;
            int lines = 0;
            for (;;) {
                const std::size_t got = read(line, sizeof line);
                if (got == 0)
                    break;
                if (m_sock->state() != State::Connected)
                    throw std::runtime_error("Socket not Open");
                batch += UuencodeLine(std::string_view(line, got));
                batch += "\r\n";
                if (++lines % 50 == 0) {
                    sendData(batch);
                    batch.clear();
                    pumpOnce(0);
                    if (m_abort || !drainBelow(64 * 1024))
                        return false;
                }
            }
            batch += UuencodeLine({}); // the zero-length line that ends the data
            batch += "\r\n";
            sendData(batch);
        }
        return !m_abort;
    } catch (const std::exception& e) {
        AddError(e.what());
        ReportFailure();
        m_abort = true;
        return false;
    }
}

bool clsSendMail::sendAttachment(const Outgoing& out, std::size_t index)
{
    const auto& file = out.files[index];
    raiseStatus((file.embedded ? "Sending Embedded File, " : "Sending Attachment, ") + file.name + "...");
    if (out.plain) {
        sendData("begin 600 " + zs::text::toLatin1(file.name) + "\r\n");
        if (!SendFileEncoded(file.path, 1))
            return false;
        sendData("end\r\n");
    } else {
        sendData(composeAttachmentHeader(out.boundary, file.name, GetContentType(file.name, "application/octet-stream"),
                                         file.contentId));
        sendData("\r\n");
        if (!SendFileEncoded(file.path, 0))
            return false;
        sendData("\r\n");
    }
    return drainBelow(4096);
}

} // namespace zs::mail
