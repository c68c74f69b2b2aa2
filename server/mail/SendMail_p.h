#pragma once
// What the parts of clsSendMail share and nobody else sees: the fixed error texts of the list,
// the POP3 log-in check and the snapshot one send writes.

#include "mail/clsSendMail.h"

#include <string>
#include <vector>

namespace zs::mail {

inline const std::string kErrAttach = "The file you tried to attach does not exist";
inline const std::string kErrBcc = "Invalid Bcc: Recipient E-mail Address";
inline const std::string kErrCc = "Invalid Cc: Recipient E-mail Address";
inline const std::string kErrTo = "Missing or Invalid Recipient E-mail Address";
inline const std::string kErrFrom = "Missing or Invalid Sender E-mail Address";
inline const std::string kErrPop3Host = "Invalid or Missing POP3 Host Name";
inline const std::string kErrSmtpHost = "Invalid or Missing SMTP Host Name";
inline const std::string kErrPort = "Invalid Remote Port";
inline const std::string kErrTimeout = "Timeout occurred: The SMTP Host did not respond to the request";
inline const std::string kErrClosed = "Connection closed by the SMTP Host";
// Values that would put a line break into a header or a command are refused, never sent.
inline const std::string kErrSubject = "Invalid Subject: Line Breaks are not Allowed";
inline const std::string kErrFromName = "Invalid Sender Display Name: Line Breaks are not Allowed";
inline const std::string kErrReplyTo = "Invalid Reply-To E-mail Address";
inline const std::string kErrAttachName = "Invalid Attachment File Name";
inline const std::string kErrContentBase = "Invalid Content Base";
inline const std::string kErrPopLogin = "Invalid POP3 User Name or Password";
inline const std::string kErrBusy = "Another message is being sent: this one was not sent";
inline const std::string kErrLongReply = "Invalid reply from the server (too long): ";
inline const std::string kErrNotSent = "The message could not be sent";
inline const std::string kErrNotSmtp = "Invalid reply from the server (not an SMTP reply): ";
inline const std::string kErrEmptyReply = "Invalid reply from the server (empty line)";

/// USER and PASS go to the POP3 server as lines of their own (AUTH LOGIN sends base64).
bool isSafePop3Login(const std::string& user, const std::string& password);

// What one send writes, fixed before the first byte goes out: a property assigned while the
// send waits (from a yield) belongs to the next message.
struct clsSendMail::Outgoing {
    struct File {
        std::string path;
        std::string name;      // UTF-8
        std::string contentId; // "" unless referenced from the HTML body
        bool embedded = false;
    };
    std::string from;
    std::vector<std::string> recipients; // To, then Cc, then Bcc
    std::string header;                  // the header block, ISO-8859-1, without its empty line
    std::string body;                    // the prepared Message
    std::vector<File> files;
    bool plain = false;   // uuencoded attachments after the body, no MIME
    std::string boundary; // multipart when not empty
};

} // namespace zs::mail
