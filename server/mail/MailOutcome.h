#pragma once
// How one mail ended, as the order mails and the run notification hand it back to their
// callers. Header only.

#include <string>
#include <utility>

namespace zs::mail {

/// `sent` alone decides; `failure` says why a mail was not sent, and failed() never leaves it
/// blank.
struct MailOutcome {
    /// The reason given for a mail that failed without saying why.
    static constexpr const char* kNoReason = "Invio non concluso: nessuna risposta dal server di posta";

    bool sent = false;
    std::string failure;

    static MailOutcome delivered() { return {true, {}}; }
    static MailOutcome failed(std::string why)
    {
        if (why.find_first_not_of(" \t\r\n") == std::string::npos)
            why = kNoReason;
        return {false, std::move(why)};
    }
};

} // namespace zs::mail
