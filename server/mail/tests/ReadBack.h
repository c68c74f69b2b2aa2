#pragma once
// A stored message as a standard client reads it: read_mail.py parses the raw bytes with
// Python's email package (policy=default) and binascii, and the findings come back here.

#include <string>
#include <utility>
#include <vector>

namespace zs::mail::test {

struct ReadBack {
    bool ran = false;                                             ///< the reader ran to its end
    std::vector<std::string> defects;                             ///< of the message, its parts and its headers
    std::vector<std::pair<std::string, std::string>> headers;     ///< name, decoded value (UTF-8)
    std::string body;                                             ///< the first text part's content (UTF-8)
    std::vector<std::pair<std::string, std::string>> attachments; ///< file name, bytes
    std::vector<std::pair<std::string, std::string>> uuencoded;   ///< file name, bytes
    std::vector<std::string> errors;                              ///< uuencoded lines binascii refused

    /// Values of every header called `name` (any case), in order.
    std::vector<std::string> header(const std::string& name) const;
    /// Every finding in one text, for failure messages.
    std::string describe() const;
};

/// Reads `raw` (a whole message as the server stored it).
ReadBack readBack(const std::string& raw);

} // namespace zs::mail::test
