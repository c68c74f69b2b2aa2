// Whole sends against real servers: the aiosmtpd peer, Dovecot for POP3 before SMTP, and
// sockets that never answer for the time-outs.
#include "MailEvents.h"
#include "ReadBack.h"
#include "mailpeers/MailPeers.h"

#include "mail/Encoders.h"
#include "mail/clsSendMail.h"
#include "testsupport/Loopback.h"
#include "text/Cp1252.h"
#include "time/Clock.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace zs::mail;
using namespace zs::mail::test;

namespace {

class MailSession : public ::testing::Test {
  protected:
    void configure(clsSendMail& m, std::uint16_t port)
    {
        rec.attach(m);
        configureLoopbackSend(m, port);
    }
    zs::test::ScopedTestEnv env;
    MailEvents rec;
};

std::string latin1(const std::string& utf8)
{
    return zs::text::toLatin1(utf8);
}

} // namespace

TEST_F(MailSession, WholeMimeSendReachesTheServerByteForByte)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i & 0xFF);
    zs::test::writeFile(env.root() / "dati.bin", binary);

    clsSendMail m;
    configure(m, peer.port());
    m.setFromDisplayName("Zentrik Server");
    m.setRecipient("dest@example.it;due@example.it");
    m.setRecipientDisplayName("D\xC3\xA8stinatario");
    m.setReplyToAddress("risposte@example.it");
    m.setSubject("Notifica \xC3\xA8 pronta");
    m.setMessage("Riga con \xC3\xA0"
                 "ccenti\r\n.punto\r\nfine");
    m.setAttachment((env.root() / "dati.bin").string());
    m.setPriority(1);
    m.Send();

    ASSERT_EQ(rec.count("OK"), 1) << rec.failure();
    EXPECT_EQ(rec.count("FAIL:"), 0);
    EXPECT_EQ(rec.all.front().rfind("S:", 0), 0u);
    EXPECT_EQ(rec.all.back(), "OK");
    const auto firstProgress = std::find_if(rec.all.begin(), rec.all.end(), [](auto& e) { return e[0] == 'P'; });
    ASSERT_NE(firstProgress, rec.all.end());
    EXPECT_TRUE(rec.has("P:100"));
    EXPECT_TRUE(rec.has("S:Transmission Complete..."));

    const std::string msg = peer.message();
    EXPECT_NE(msg.find("From: \"Zentrik Server\" <mittente@example.it>\r\n"), std::string::npos);
    EXPECT_NE(msg.find("To: =?ISO-8859-1?B?" + EncodeBase64Text("D\xC3\xA8stinatario").substr(0, 16) +
                       "?= <dest@example.it>,\r\n\t\"due@example.it\" <due@example.it>\r\n"),
              std::string::npos);
    EXPECT_NE(
        msg.find("Subject: =?ISO-8859-1?B?" + EncodeBase64Text("Notifica \xC3\xA8 pronta").substr(0, 24) + "?=\r\n"),
        std::string::npos);
    EXPECT_NE(msg.find("Reply-to: <risposte@example.it>\r\n"), std::string::npos);
    EXPECT_NE(msg.find("MIME-Version: 1.0\r\nX-Priority: 1\r\nX-MSMail-Priority: High\r\n"), std::string::npos);
    EXPECT_NE(msg.find("Content-Type: multipart/mixed;\r\n\tboundary=\"----_=_NextPart_000_"), std::string::npos);
    EXPECT_NE(msg.find("Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 8bit\r\n"),
              std::string::npos);
    EXPECT_NE(msg.find(latin1("\r\n\r\nRiga con \xC3\xA0"
                              "ccenti\r\n.punto\r\nfine\r\n")),
              std::string::npos)
        << "ISO-8859-1 body, dot-stuffing undone by the server";
    EXPECT_NE(msg.find("Content-Type: application/octet-stream;\r\n\tname=\"dati.bin\"\r\n"
                       "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment;\r\n"
                       "\tfilename=\"dati.bin\"\r\n\r\n" +
                       EncodeBase64Bytes(binary)),
              std::string::npos);
    const auto b = msg.find("boundary=\"") + 10;
    const std::string boundary = msg.substr(b, msg.find('"', b) - b);
    EXPECT_NE(msg.find("\r\n--" + boundary + "--\r\n"), std::string::npos);
    EXPECT_NE(peer.envelope().find("rcpt=due@example.it"), std::string::npos);
    const ReadBack r = readBack(msg);
    EXPECT_TRUE(r.defects.empty()) << r.describe();
    ASSERT_EQ(r.attachments.size(), 1u) << r.describe();
    EXPECT_EQ(r.attachments[0].second, binary);
}

TEST_F(MailSession, PlainModeUuencodesAttachments)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    zs::test::writeFile(env.root() / "cento.txt", std::string(100, 'q'));
    clsSendMail m;
    configure(m, peer.port());
    m.setEncodeType(1);
    m.setAttachment((env.root() / "cento.txt").string());
    m.Send();
    ASSERT_EQ(rec.count("OK"), 1) << rec.failure();
    const std::string msg = peer.message();
    EXPECT_EQ(msg.find("MIME-Version"), std::string::npos);
    const std::string q45(45, 'q');
    EXPECT_NE(msg.find("Corpo\r\n\r\nbegin 600 cento.txt\r\n" + UuencodeLine(q45) + "\r\n" + UuencodeLine(q45) +
                       "\r\n" + UuencodeLine(std::string(10, 'q')) + "\r\n`\r\nend\r\n"),
              std::string::npos);
    EXPECT_EQ(UuencodeLine(std::string(10, 'q'))[0], '*');
    const ReadBack r = readBack(msg);
    EXPECT_TRUE(r.defects.empty() && r.errors.empty()) << r.describe();
    ASSERT_EQ(r.uuencoded.size(), 1u) << r.describe();
    EXPECT_EQ(r.uuencoded[0].second, std::string(100, 'q'));
}

TEST_F(MailSession, HtmlBodyReferencingAnAttachmentBecomesRelated)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    zs::test::writeFile(env.root() / "logo.png", "PNG");
    clsSendMail m;
    configure(m, peer.port());
    m.setAsHTML(true);
    m.setMessage("<html><img src=\"C:\\img\\logo.png\"></html>");
    m.setAttachment((env.root() / "logo.png").string());
    m.Send();
    ASSERT_EQ(rec.count("OK"), 1) << rec.failure();
    const std::string msg = peer.message();
    EXPECT_NE(msg.find("Content-Type: multipart/related;"), std::string::npos);
    EXPECT_NE(msg.find("<img src=\"cid:logo.png\">"), std::string::npos);
    EXPECT_NE(msg.find("Content-ID: <logo.png>\r\n"), std::string::npos);
    EXPECT_TRUE(rec.has("S:Sending Embedded File, logo.png..."));
    const ReadBack r = readBack(msg);
    EXPECT_TRUE(r.defects.empty()) << r.describe();
}

TEST_F(MailSession, AuthLoginAcceptedAndRefused)
{
    // Stock aiosmtpd: it matches the mechanism's name exactly as the standard writes it.
    SmtpPeer peer({.auth = "utente:segreta", .rejectRcpt = ""});
    ASSERT_TRUE(peer.ok());
    {
        clsSendMail m;
        configure(m, peer.port());
        m.setUseAuthentication(true);
        m.setUsername("utente");
        m.setPassWord("segreta");
        m.Send();
        ASSERT_EQ(rec.count("OK"), 1) << rec.failure();
        EXPECT_TRUE(rec.has("S:Host Login OK!"));
        EXPECT_NE(peer.envelope().find("auth=yes"), std::string::npos);
    }
    rec.all.clear();
    {
        clsSendMail m;
        configure(m, peer.port());
        m.setUseAuthentication(true);
        m.setUsername("utente");
        m.setPassWord("sbagliata");
        m.Send();
        EXPECT_EQ(rec.count("OK"), 0);
        ASSERT_EQ(rec.count("FAIL:"), 1);
        EXPECT_EQ(rec.failure().rfind("535", 0), 0u) << rec.failure();
        for (const auto& e : rec.all)
            EXPECT_EQ(e.find("sbagliata"), std::string::npos) << "the password never shows in an event";
    }
}

TEST_F(MailSession, AuthLoginWithCredentialsLongerThanABase64Line)
{
    // 57 bytes fill one base64 line: longer answers must still go out as one line each.
    const std::string user = "utente." + std::string(70, 'u') + "@example.it";
    const std::string password = std::string(90, 'p') + "!";
    SmtpPeer peer({.auth = user + ":" + password, .rejectRcpt = ""});
    ASSERT_TRUE(peer.ok());
    clsSendMail m;
    configure(m, peer.port());
    m.setUseAuthentication(true);
    m.setUsername(user);
    m.setPassWord(password);
    m.Send();
    ASSERT_EQ(rec.count("OK"), 1) << rec.failure();
    EXPECT_NE(peer.envelope().find("auth=yes"), std::string::npos);
}

TEST_F(MailSession, RefusingReplyEndsInSendFailedWithTheServersText)
{
    SmtpPeer peer({.auth = "", .rejectRcpt = "550 5.1.1 Mailbox unknown"});
    ASSERT_TRUE(peer.ok());
    clsSendMail m;
    configure(m, peer.port());
    m.Send();
    EXPECT_EQ(rec.count("OK"), 0);
    ASSERT_EQ(rec.count("FAIL:"), 1);
    EXPECT_EQ(rec.failure(), "550 5.1.1 Mailbox unknown\r\n");
}

TEST_F(MailSession, Pop3LogInBeforeSmtpAgainstDovecot)
{
    Pop3Peer pop("postino", "parola");
    ASSERT_TRUE(pop.ok()) << pop.log();
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    SendMailOptions options;
    options.pop3Port = pop.port();
    {
        clsSendMail m(options);
        configure(m, peer.port());
        m.setUsePopAuthentication(true);
        m.setPOP3Host("127.0.0.1");
        m.setUsername("postino");
        m.setPassWord("parola");
        m.Send();
        ASSERT_EQ(rec.count("OK"), 1) << rec.failure() << pop.log();
        EXPECT_TRUE(rec.has("S:POP3 Authentication Successful..."));
    }
    rec.all.clear();
    {
        clsSendMail m(options);
        configure(m, peer.port());
        m.setUsePopAuthentication(true);
        m.setPOP3Host("127.0.0.1");
        m.setUsername("postino");
        m.setPassWord("errata");
        m.Send();
        EXPECT_EQ(rec.count("OK"), 0);
        ASSERT_EQ(rec.count("FAIL:"), 1);
        EXPECT_EQ(rec.failure().rfind("-ERR", 0), 0u) << rec.failure();
        EXPECT_FALSE(rec.has("S:Connecting to SMTP Server (127.0.0.1)..."));
    }
}

TEST_F(MailSession, SilentOrAbsentServersEndInSendFailedNeverSuccess)
{
    // A socket that accepts connections (the kernel does) but never says a word.
    zs::test::LoopbackSocket silent;
    ASSERT_TRUE(silent.ok());

    struct Case {
        const char* name;
        std::uint16_t port;
        const char* failure;
    } cases[] = {
        {"never answers", silent.port(), "Timeout occurred: The SMTP Host did not respond to the request\r\n"},
        {"refuses", freePort(), "Connection refused\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.all.clear();
        zs::time::FakeClock clock;
        SendMailOptions options;
        options.clock = &clock;
        options.yield = [&] { clock.advanceSeconds(1); };
        clsSendMail m(options);
        configure(m, c.port);
        m.setConnectTimeout(40);
        const auto start = std::chrono::steady_clock::now();
        m.Send();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(rec.count("OK"), 0);
        ASSERT_EQ(rec.count("FAIL:"), 1);
        EXPECT_EQ(rec.failure(), c.failure);
    }
}
