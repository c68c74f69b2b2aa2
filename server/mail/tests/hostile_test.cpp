// Whole sends against small SMTP servers that misbehave after, or instead of, answering: each
// Send ends in exactly one outcome with the first failure's reason, within its time-outs, and
// an endless or huge reply costs neither memory nor repeated failures.
#include "MailEvents.h"
#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"

#include "mail/clsSendMail.h"
#include "registry/UserRegistry.h"
#include "testsupport/TestEnv.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zs::mail;
using namespace zs::mail::test;

namespace {

/// Resident memory of this process in bytes.
long long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

TEST(MailHostilePeers, EverySendEndsInOneOutcomeWithTheFirstReason)
{
    using Kind = HostileSmtpPeer::Kind;
    const std::string tooLong = "Invalid reply from the server (too long): ";
    struct Case {
        const char* name;
        Kind kind;
        bool sent;
        std::string failure; ///< the text's start; the whole text when `exact`
        bool exact;
    } cases[] = {
        {"reset after 250 at QUIT", Kind::ResetAtQuit, true, "", true},
        {"reset right after 250", Kind::ResetAfterAccept, true, "", true},
        {"421 greeting then close", Kind::BusyThenClose, false, std::string(HostileSmtpPeer::kBusyReply) + "\r\n",
         true},
        {"endless greeting line", Kind::EndlessGreetingLine, false, tooLong + "220 aaaa", false},
        {"endless continuation lines", Kind::EndlessContinuation, false, tooLong + "220-peer.example.it ccc", false},
        {"64 KB reply line", Kind::HugeReplyLine, false, tooLong + "550 xxxx", false},
        {"close during DATA", Kind::CloseDuringData, false, "Connection closed by the SMTP Host\r\n", true},
        // A reply with nothing in it is a failure with a reason, never an empty text.
        {"empty line to HELO", Kind::EmptyHeloReply, false, "Invalid reply from the server (empty line)\r\n", true},
        {"empty line to the end mark", Kind::EmptyEndMarkReply, false, "Invalid reply from the server (empty line)\r\n",
         true},
        // What the server did is the reason, not a time-out.
        {"reset with the greeting", Kind::ResetWithGreeting, false, "Connection reset by peer\r\n", true},
        {"closed at once", Kind::CloseAtOnce, false, "Connection closed by the SMTP Host\r\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        HostileSmtpPeer peer(c.kind);
        ASSERT_TRUE(peer.ok());
        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, peer.port());
        const long long before = residentBytes();
        const auto start = std::chrono::steady_clock::now();
        m.Send();
        const auto took = std::chrono::steady_clock::now() - start;
        const long long grown = residentBytes() - before;

        const auto outcomes = ev.outcomes();
        ASSERT_EQ(outcomes.size(), 1u) << ::testing::PrintToString(outcomes);
        if (c.sent) {
            EXPECT_EQ(outcomes[0], "OK");
            EXPECT_EQ(peer.accepted(), 1);
        } else if (c.exact) {
            EXPECT_EQ(ev.failure(), c.failure);
        } else {
            EXPECT_TRUE(startsWith(ev.failure(), c.failure)) << ev.failure().substr(0, 200);
            EXPECT_LT(ev.failure().size(), 400u) << "the shown text is cut";
            EXPECT_NE(ev.failure().find("[... cut]"), std::string::npos);
        }
        // Five-second time-outs: the connection, one reply and the two-second goodbye at most.
        EXPECT_LT(took, std::chrono::seconds(12));
        EXPECT_LT(grown, 16LL << 20) << "resident memory grew by " << grown << " bytes";

        // The object is usable after the hostile server: the next Send reaches a sound one.
        SmtpPeer good;
        ASSERT_TRUE(good.ok());
        ev.all.clear();
        m.setSMTPPort(good.port());
        m.Send();
        EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
        EXPECT_EQ(good.count(), 1);
    }
}

TEST(MailHostilePeers, ALongRefusalIsCutInTheFailureText)
{
    // A refusal of 3 KB fits the reply bounds; the text reported is cut all the same.
    const std::string refusal = "550 " + std::string(3000, 'r');
    SmtpPeer peer({.auth = "", .rejectRcpt = refusal});
    ASSERT_TRUE(peer.ok());
    zs::test::ScopedTestEnv env;
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    m.Send();
    ASSERT_EQ(ev.outcomes().size(), 1u);
    const std::string failure = ev.failure();
    EXPECT_TRUE(startsWith(failure, "550 rrrr")) << failure.substr(0, 100);
    EXPECT_LT(failure.size(), 400u);
    EXPECT_NE(failure.find("[... cut]\r\n"), std::string::npos);
}

TEST(MailHostilePeers, AKeptSenderWithBlanksGoesTrimmedIntoTheEnvelope)
{
    zs::test::ScopedTestEnv env;
    ASSERT_TRUE(zs::registry::saveSetting("Mercuvo", "Settings", "PersistentSettings", "-1"));
    ASSERT_TRUE(zs::registry::saveSetting("Mercuvo", "Settings", "From", "  mittente@example.it  "));
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    clsSendMail m;
    ASSERT_EQ(m.from(), "  mittente@example.it  ") << "the kept value stays as stored";
    MailEvents ev;
    ev.attach(m);
    m.setSMTPHostValidation(0);
    m.setSMTPHost("127.0.0.1");
    m.setSMTPPort(peer.port());
    m.setConnectTimeout(5);
    m.setMessageTimeout(5);
    m.setRecipient("dest@example.it");
    m.setSubject("Prova");
    m.setMessage("Corpo");
    m.Send();
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
    EXPECT_NE(peer.envelope().find("from=mittente@example.it\n"), std::string::npos) << peer.envelope();
    EXPECT_NE(peer.message().find("<mittente@example.it>"), std::string::npos);
}

TEST(MailHostilePeers, APop3ServerAtTheSmtpAddressIsNamedAtOnce)
{
    // A POP3 server greets with "+OK": no SMTP server said that, and waiting for a greeting
    // would only end in a time-out that hides it.
    const std::string notSmtp = "Invalid reply from the server (not an SMTP reply): +OK";
    Pop3Peer dovecot("utente", "segreta");
    ASSERT_TRUE(dovecot.ok());
    HostileSmtpPeer pop3(HostileSmtpPeer::Kind::Pop3ErrAtQuit);
    ASSERT_TRUE(pop3.ok());
    for (const auto& [name, port] :
         {std::pair{"Dovecot", dovecot.port()}, std::pair{"a bare POP3 peer", pop3.port()}}) {
        SCOPED_TRACE(name);
        zs::test::ScopedTestEnv env;
        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, port);
        const auto start = std::chrono::steady_clock::now();
        m.Send();
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_EQ(ev.outcomes().size(), 1u) << ::testing::PrintToString(ev.outcomes());
        EXPECT_TRUE(startsWith(ev.failure(), notSmtp)) << ev.failure();
        EXPECT_EQ(ev.failure().find("Timeout"), std::string::npos) << ev.failure();
        // The connection's wait and the goodbye's two seconds at most, never the five of a time-out.
        EXPECT_LT(took, std::chrono::seconds(4));
    }
    EXPECT_EQ(pop3.logins(), 0) << "no POP3 log-in on the SMTP session";
}
