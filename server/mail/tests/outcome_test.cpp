// Sends whose outcome depends on what the peer or the file system did, not on a text: a POP3
// server that resets at QUIT after the log-in, a server that stops reading in the middle of an
// attachment, an attachment replaced by a FIFO, a device or a folder, and a body with a NUL.
#include "MailEvents.h"
#include "ReadBack.h"
#include "mailpeers/HostileSmtpPeer.h"
#include "mailpeers/MailPeers.h"
#include "mailpeers/SlowLinkProxy.h"

#include "mail/clsSendMail.h"
#include "testsupport/TestEnv.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs::mail;
using namespace zs::mail::test;
namespace fs = std::filesystem;

using SteadyClock = std::chrono::steady_clock;

TEST(MailOutcome, Pop3ServerThatFailsQuitAfterTheLogInDoesNotFailTheSend)
{
    using Kind = HostileSmtpPeer::Kind;
    for (const Kind kind : {Kind::Pop3ResetAtQuit, Kind::Pop3ErrAtQuit}) {
        SCOPED_TRACE(kind == Kind::Pop3ResetAtQuit ? "reset at QUIT" : "-ERR at QUIT");
        zs::test::ScopedTestEnv env;
        HostileSmtpPeer pop(kind);
        ASSERT_TRUE(pop.ok());
        SmtpPeer smtp;
        ASSERT_TRUE(smtp.ok());
        SendMailOptions options;
        options.pop3Port = pop.port();
        clsSendMail m(options);
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, smtp.port());
        m.setUsePopAuthentication(true);
        m.setPOP3Host("127.0.0.1");
        m.setUsername("postino");
        m.setPassWord("parola");
        const auto start = SteadyClock::now();
        m.Send();
        EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(4)) << "no wait for the POP3 time-out";
        EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
        EXPECT_EQ(pop.logins(), 1);
        EXPECT_TRUE(ev.has("S:POP3 Authentication Successful..."));
        ASSERT_EQ(smtp.count(), 1);
        EXPECT_NE(smtp.message().find("Subject: Prova"), std::string::npos);
    }
}

TEST(MailOutcome, AServerThatStopsReadingTimesOutAndTheNextSendDelivers)
{
    // The server takes the first bytes and then reads nothing more: after the time-out of 3 s
    // without progress the send fails, and nothing was delivered. Whether the 4 MB send stalls
    // while the attachment is handed over or after the end mark depends on the kernel's
    // buffers; the small message always fits in them, so its time-out is the wait for the
    // reply to the end mark.
    struct Case {
        const char* name;
        std::size_t size;
        std::size_t stopAfter;
        bool allHandedOver;
    } cases[] = {
        {"4 MB, stalled after 1 MB", 4 << 20, 1024 * 1024, false},
        {"300 KB, stalled after 16 KB", 300 * 1024, 16 * 1024, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        SmtpPeer smtp;
        ASSERT_TRUE(smtp.ok());
        SlowLinkProxy stalled(
            smtp.port(), {.chunk = 256 * 1024, .interval = std::chrono::milliseconds(10), .stopAfter = c.stopAfter});
        ASSERT_TRUE(stalled.ok());
        const std::string data = randomBytes(c.size, 7);
        zs::test::writeFile(env.root() / "dati.bin", data);

        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, stalled.port());
        m.setConnectTimeout(3);
        m.setMessageTimeout(3);
        m.setAttachment((env.root() / "dati.bin").string());
        const auto start = SteadyClock::now();
        m.Send();
        const auto took = SteadyClock::now() - start;
        EXPECT_EQ(ev.outcomes(),
                  std::vector<std::string>{"FAIL:Timeout occurred: The SMTP Host did not respond to the request\r\n"});
        EXPECT_GE(took, std::chrono::seconds(3));
        EXPECT_LT(took, std::chrono::seconds(15));
        EXPECT_EQ(smtp.count(), 0);
        EXPECT_EQ(stalled.forwarded(), c.stopAfter);
        if (c.allHandedOver) {
            ASSERT_FALSE(ev.progress().empty());
            EXPECT_EQ(ev.progress().back(), 100) << "every byte was handed over before the time-out";
        }

        ev.all.clear();
        m.setSMTPPort(smtp.port());
        m.Send();
        ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
        const ReadBack back = readBack(smtp.message());
        ASSERT_TRUE(back.ran) << back.describe();
        EXPECT_TRUE(back.defects.empty()) << back.describe();
        ASSERT_EQ(back.attachments.size(), 1u);
        EXPECT_TRUE(back.attachments[0].second == data) << "the attachment decodes to the file's bytes";
    }
}

TEST(MailOutcome, AnAttachmentThatIsNoLongerARegularFileFailsAtOnce)
{
    // The attachment was a file when it was set; by the time of the send a FIFO without a
    // writer, a link to an endless device or a folder stands at its name. The send neither
    // hangs nor succeeds, and the next send with the file back delivers it.
    struct Case {
        const char* name;
        void (*replace)(const fs::path&);
    } cases[] = {
        {"FIFO", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zs::test::ScopedTestEnv env;
        SmtpPeer smtp;
        ASSERT_TRUE(smtp.ok());
        const fs::path file = env.root() / "allegato.bin";
        const std::string data = randomBytes(100000, 3);
        zs::test::writeFile(file, data);

        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, smtp.port());
        m.setAttachment(file.string());
        ASSERT_TRUE(m.errors().empty());
        fs::remove(file);
        c.replace(file);
        const auto start = SteadyClock::now();
        m.Send();
        EXPECT_LT(SteadyClock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"FAIL:The file you tried to attach does not exist\r\n"});
        EXPECT_TRUE(ev.noStatus()) << "refused before connecting";
        EXPECT_EQ(smtp.count(), 0);

        ev.all.clear();
        fs::remove(file);
        zs::test::writeFile(file, data);
        m.Send();
        ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
        const ReadBack back = readBack(smtp.message());
        ASSERT_EQ(back.attachments.size(), 1u) << back.describe();
        EXPECT_TRUE(back.attachments[0].second == data);
    }
}

TEST(MailOutcome, ANulInTheBodyGoesQuotedPrintableAndReadsBackWithIt)
{
    // Neither 7-bit nor 8-bit data may hold a NUL: a body with one travels quoted-printable, and
    // in plain mode, which has no header to say so, the message goes MIME for it.
    const std::string longLine(200, 'x');
    const std::string nul("prima\0dopo", 10);
    struct Case {
        const char* name;
        std::string body;
        const char* mimeEncoding;  ///< the body's encoding in MIME mode
        const char* plainEncoding; ///< in plain mode; none: no MIME header at all
    } cases[] = {
        {"plain ASCII", "Riga uno\r\nRiga due", "Content-Transfer-Encoding: 7bit\r\n", nullptr},
        {"an accented letter", "citt\xC3\xA0", "Content-Transfer-Encoding: 8bit\r\n", nullptr},
        {"a NUL byte", nul, "Content-Transfer-Encoding: quoted-printable\r\n",
         "Content-Transfer-Encoding: quoted-printable\r\n"},
        {"a NUL with an accent, '=', a long line, blanks at a line end and a leading dot",
         std::string("citt\xC3\xA0 = 1\0\r\n", 13) + longLine + "\r\nfine \t\r\n.punto\r\n=3D",
         "Content-Transfer-Encoding: quoted-printable\r\n", "Content-Transfer-Encoding: quoted-printable\r\n"},
    };
    auto lines = [](std::string s) {
        for (std::size_t p; (p = s.find("\r\n")) != std::string::npos;)
            s.replace(p, 2, "\n");
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    };
    for (const bool plainMode : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(plainMode ? "plain mode, " : "MIME mode, ") + c.name);
            zs::test::ScopedTestEnv env;
            SmtpPeer smtp;
            ASSERT_TRUE(smtp.ok());
            clsSendMail m;
            MailEvents ev;
            ev.attach(m);
            configureLoopbackSend(m, smtp.port());
            m.setEncodeType(plainMode ? 1 : 0);
            m.setMessage(c.body);
            m.Send();
            ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
            const std::string raw = smtp.message();
            const char* encoding = plainMode ? c.plainEncoding : c.mimeEncoding;
            if (encoding)
                EXPECT_NE(raw.find(encoding), std::string::npos) << raw;
            else
                EXPECT_EQ(raw.find("MIME-Version:"), std::string::npos) << raw;
            EXPECT_EQ(raw.find('\0'), std::string::npos) << "a NUL on the wire";
            for (std::size_t at = 0, next; (next = raw.find("\r\n", at)) != std::string::npos; at = next + 2)
                EXPECT_LE(next - at, 998u) << raw.substr(at, 80);
            const ReadBack back = readBack(raw);
            ASSERT_TRUE(back.ran) << back.describe();
            EXPECT_TRUE(back.defects.empty()) << back.describe();
            if (encoding || std::all_of(c.body.begin(), c.body.end(), [](char b) { return b > 0; }))
                EXPECT_EQ(lines(back.body), lines(c.body)) << back.describe();
            else // plain mode names no character set: its 8-bit body is the Latin-1 bytes as they stand
                EXPECT_NE(raw.find("\r\n\r\ncitt\xE0"), std::string::npos) << raw;
        }
    }

    // Plain mode's files go uuencoded after the body, which a quoted-printable body cannot have
    // behind it: with a NUL in the body they go base64 as MIME mode's do.
    zs::test::ScopedTestEnv env;
    SmtpPeer smtp;
    ASSERT_TRUE(smtp.ok());
    const std::string data = randomBytes(5000, 7);
    zs::test::writeFile(env.root() / "dati.bin", data);
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, smtp.port());
    m.setEncodeType(1);
    m.setMessage(nul);
    m.setAttachment((env.root() / "dati.bin").string());
    m.Send();
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << ev.failure();
    const std::string raw = smtp.message();
    EXPECT_EQ(raw.find('\0'), std::string::npos) << "a NUL on the wire";
    const ReadBack back = readBack(raw);
    EXPECT_TRUE(back.defects.empty()) << back.describe();
    EXPECT_EQ(lines(back.body), nul) << back.describe();
    EXPECT_TRUE(back.uuencoded.empty()) << back.describe();
    ASSERT_EQ(back.attachments.size(), 1u) << back.describe();
    EXPECT_TRUE(back.attachments[0].second == data);
}
