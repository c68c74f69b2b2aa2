#include "mail/MessageFormat.h"

#include "mail/Encoders.h"
#include "text/Cp1252.h"

#include <algorithm>

namespace zs::mail {
namespace {

constexpr std::size_t kEncodedLine = 76; // RFC 2047: a line holding encoded words

std::size_t lastLineLength(std::size_t column, const std::string& text)
{
    const auto nl = text.rfind("\r\n");
    return nl == std::string::npos ? column + text.size() : text.size() - nl - 2;
}

// One mailbox: the display part (the name, or the address itself, between quotes or encoded),
// then the address in angle brackets; after encoded words the address moves to a line of its
// own when it would push the line past what encoded words allow.
std::string mailbox(const std::string& address, const std::string& name, std::size_t column)
{
    const std::string display = EncodeHeaderText(name.empty() ? address : name, true, column);
    const std::string angle = '<' + zs::text::toLatin1(address) + '>';
    const bool encoded = display.find("=?ISO-8859-1?B?") != std::string::npos;
    if (encoded && lastLineLength(column, display) + 1 + angle.size() + 1 > kEncodedLine)
        return display + "\r\n\t" + angle;
    return display + ' ' + angle;
}

std::string mailboxList(const std::vector<std::pair<std::string, std::string>>& list, std::size_t column)
{
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0)
            out += ",\r\n\t";
        out += mailbox(list[i].first, list[i].second, i == 0 ? column : 1);
    }
    return out;
}

std::string fromMailbox(const HeaderFields& f, std::size_t column)
{
    const bool named = f.fromName.find_first_not_of(' ') != std::string::npos;
    return mailbox(f.from, named ? f.fromName : std::string(), column);
}

} // namespace

std::string composeHeader(const HeaderFields& f)
{
    std::string h;
    auto line = [&h](const std::string& name, const std::string& value) {
        h += name;
        h += value;
        h += "\r\n";
    };
    line("Message-ID: ", '<' + f.messageId + '>');
    line("From: ", fromMailbox(f, 6));
    line("To: ", mailboxList(f.to, 4));
    if (!f.cc.empty())
        line("Cc: ", mailboxList(f.cc, 4));
    line("Subject: ", EncodeUnstructuredText(f.subject, 9));
    if (!f.replyTo.empty())
        line("Reply-to: ", '<' + zs::text::toLatin1(f.replyTo) + '>');
    line("Date: ", f.date);
    if (!f.mime)
        return h;
    line("MIME-Version: ", "1.0");
    if (f.priority != 3) {
        line("X-Priority: ", std::to_string(f.priority));
        line("X-MSMail-Priority: ", f.priorityWord);
    }
    if (f.receipt)
        line("Disposition-Notification-To: ", fromMailbox(f, 29));
    if (!f.boundary.empty()) {
        line("Content-Type: ", f.related ? "multipart/related;" : "multipart/mixed;");
        h += "\tboundary=\"" + f.boundary + "\"\r\n\r\n";
        h += "This is a multi-part message in MIME format.\r\n\r\n";
        h += "--" + f.boundary + "\r\n";
    }
    line("Content-Type: ", f.html ? "text/html;" : "text/plain;");
    h += "\tcharset=\"iso-8859-1\"\r\n";
    line("Content-Transfer-Encoding: ", f.quotedPrintable ? "quoted-printable" : f.eightBit ? "8bit" : "7bit");
    if (f.html && !f.contentBase.empty())
        line("Content-Base: ", '"' + zs::text::toLatin1(f.contentBase) + '"');
    return h;
}

std::string composeAttachmentHeader(const std::string& boundary, const std::string& fileName,
                                    const std::string& contentType, const std::string& contentId)
{
    std::string h = "--" + boundary + "\r\n";
    h += "Content-Type: " + contentType + ";\r\n";
    h += '\t' + EncodeFileNameParameter("name", fileName) + "\r\n";
    h += "Content-Transfer-Encoding: base64\r\n";
    h += "Content-Disposition: attachment;\r\n";
    h += '\t' + EncodeFileNameParameter("filename", fileName) + "\r\n";
    if (!contentId.empty())
        h += "Content-ID: <" + contentId + ">\r\n";
    return h;
}

std::string contentIdOf(std::string_view fileName)
{
    static constexpr std::string_view kKept = "!#$&'*+-/=?^_`{|}~.";
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    for (char ch : fileName) {
        const auto c = static_cast<unsigned char>(ch);
        const bool kept = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c < 128 && kKept.find(static_cast<char>(c)) != std::string_view::npos);
        if (kept) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string messageIdHost(std::string_view hostName)
{
    std::string out, label;
    auto close = [&] {
        if (!label.empty())
            out += (out.empty() ? "" : ".") + label;
        label.clear();
    };
    for (char ch : hostName) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '.')
            close();
        else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_')
            label += static_cast<char>(c);
    }
    close();
    return out.empty() ? "localhost" : out;
}

bool hasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool hasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 32 || u == 127;
    });
}

bool isWireSafeAddress(std::string_view address)
{
    return !hasControlCharacter(address) && address.find_first_of("<>") == std::string_view::npos;
}

} // namespace zs::mail
