#pragma once
// The message as clsSendMail writes it: the header block, the part headers of attachments and
// the checks that keep a text from turning into a header line or a command. Pure functions of
// their inputs, so the format is tested without a server. Texts come in as UTF-8; what comes
// out is the ISO-8859-1 wire form, one CR LF after every line.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zs::mail {

/// Everything the header block says.
struct HeaderFields {
    std::string messageId; ///< without the angle brackets
    std::string date;
    std::string from;
    std::string fromName;
    std::vector<std::pair<std::string, std::string>> to; ///< address, display name ("" for none)
    std::vector<std::pair<std::string, std::string>> cc;
    std::string subject;
    std::string replyTo;
    bool mime = true;             ///< false: a plain message (uuencoded attachments)
    long priority = 3;            ///< X-Priority when not 3
    std::string priorityWord;     ///< X-MSMail-Priority
    bool receipt = false;         ///< Disposition-Notification-To
    std::string boundary;         ///< not empty: multipart, with this boundary
    bool related = false;         ///< multipart/related (inline images) instead of mixed
    bool html = false;            ///< text/html body instead of text/plain
    bool eightBit = false;        ///< the body holds bytes above 126
    bool quotedPrintable = false; ///< the body holds a NUL: it goes quoted-printable
    std::string contentBase;      ///< Content-Base of an HTML body, "" for none
};

/// The header block up to the empty line that ends it (not included): in MIME mode with the
/// headers of the body part (and, when multipart, the preamble and first boundary before them).
std::string composeHeader(const HeaderFields& fields);

/// The headers of one base64 attachment part, from its "--" boundary line to the empty line.
/// `contentId` empty: no Content-ID.
std::string composeAttachmentHeader(const std::string& boundary, const std::string& fileName,
                                    const std::string& contentType, const std::string& contentId);

/// The Content-ID (and "cid:" reference) of an inline file: the name with every character that
/// a message identifier cannot carry percent-encoded.
std::string contentIdOf(std::string_view fileName);

/// The host part of a Message-ID from a host name: letters, digits, "-" and "_" in labels
/// joined by single dots; "localhost" when nothing usable is left.
std::string messageIdHost(std::string_view hostName);

/// True when `text` holds a CR or an LF: such a value never goes into a header or a command.
bool hasLineBreak(std::string_view text);
/// True when `address` can stand between angle brackets in a command and a header: no
/// control character, no "<" or ">".
bool isWireSafeAddress(std::string_view address);
/// True when `text` holds a control character (a file name that cannot be a header value).
bool hasControlCharacter(std::string_view text);

} // namespace zs::mail
