// What texts can do on the wire, against the real aiosmtpd peer (Dovecot for POP3): no text
// ends the data early, adds a header or a command, and every message the server stores is read
// back by Python's email package (policy=default) and binascii without a defect.
#include "MailEvents.h"
#include "ReadBack.h"
#include "mailpeers/MailPeers.h"

#include "mail/clsSendMail.h"
#include "text/Cp1252.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace zs::mail;
using namespace zs::mail::test;

namespace {

// Every line end as CR LF: what the recipient must read for any text we were given.
std::string crlf(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string bodyOf(const std::string& raw)
{
    const auto end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

// No line of the stored message is longer than RFC 5322 allows, and none that holds an encoded
// word is longer than RFC 2047 allows.
void expectLineLimits(const std::string& raw)
{
    std::size_t start = 0;
    while (start < raw.size()) {
        auto end = raw.find("\r\n", start);
        if (end == std::string::npos)
            end = raw.size();
        const std::string line = raw.substr(start, end - start);
        EXPECT_LE(line.size(), 998u) << line.substr(0, 80);
        if (line.find("=?ISO-8859-1?") != std::string::npos) {
            EXPECT_LE(line.size(), 76u) << line;
        }
        start = end + 2;
    }
}

// A client aimed at a port on 127.0.0.1 that nobody listens on, with its own home folder.
struct Unconnected {
    Unconnected()
    {
        ev.attach(m);
        m.setSMTPHostValidation(0);
        m.setSMTPHost("127.0.0.1");
        m.setSMTPPort(zs::test::freePort());
    }
    /// The one outcome is the failure `text`, and it came before any connection.
    void expectRefused(const char* text) const
    {
        EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"FAIL:" + std::string(text) + "\r\n"});
        EXPECT_TRUE(ev.noStatus()) << "refused before any connection";
    }
    zs::test::ScopedTestEnv env;
    clsSendMail m;
    MailEvents ev;
};

} // namespace

TEST(MailWire, DotsAndLineEndsArriveAsOneMessageWithTheExactText)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    struct Case {
        const char* name;
        std::string body;
        std::string read = {}; // what arrives, when not the body with CR LF line ends
    } cases[] = {
        {"lone dot in the middle, LF", "prima\n.\nultima"},
        {"lone dot in the middle, CR", "prima\r.\rultima"},
        {"lone dot after CR LF, then LF", "prima\r\n.\nMAIL FROM:<a@example.it>\nRCPT TO:<altro@example.it>\nDATA\n"
                                          "Subject: seconda\n\nfalsa\n.\nQUIT\n"},
        {"dot lines at the start", ".\r\n..\r\n. x\r\nresto"},
        {"dot lines at the end, mixed", "testa\n.\r..\r\n. x\n."},
        {"lone dot alone", "."},
        {"two dots alone", ".."},
        {"CR LF split by text", "a\r\r\n.\n\r.\r\n\n."},
        {"dot after a fold", std::string(998, 'x') + ".\n.", std::string(998, 'x') + "\r\n.\r\n."},
        {"blank lines and dots", "\n\n.\n\n..\n"},
    };
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    int sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ev.all.clear();
        m.setMessage(c.body);
        m.Send();
        ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
        ++sent;
        ASSERT_EQ(peer.count(), sent) << "the server holds exactly the messages sent";
        const std::string raw = peer.message(sent);
        const std::string want = (c.read.empty() ? crlf(c.body) : c.read) + "\r\n";
        EXPECT_EQ(bodyOf(raw), zs::text::toLatin1(want));
        const ReadBack r = readBack(raw);
        EXPECT_TRUE(r.defects.empty()) << r.describe();
        EXPECT_EQ(r.body, want);
        EXPECT_EQ(peer.envelope(sent), "from=mittente@example.it\nrcpt=dest@example.it\nauth=no\n");
        expectLineLimits(raw);
    }
}

TEST(MailWire, LineBreaksInHeaderValuesAreRefusedOrRemovedNeverSent)
{
    zs::test::ScopedTestEnv env;
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    const auto folder = env.root() / "allegati";
    std::filesystem::create_directories(folder);
    zs::test::writeFile(folder / "a\nBcc: evil@example.it.txt", "x");
    zs::test::writeFile(folder / "b\r.txt", "x");
    using Setter = void (*)(clsSendMail&);
    struct Case {
        const char* name;
        Setter set;
        bool refused;
    } cases[] = {
        {"subject CR LF", [](clsSendMail& m) { m.setSubject("Prova\r\nBcc: evil@example.it"); }, true},
        {"subject LF dot", [](clsSendMail& m) { m.setSubject("Prova\n.\nRCPT TO:<evil@example.it>"); }, true},
        {"subject CR", [](clsSendMail& m) { m.setSubject("Prova\rX-Injected: 1"); }, true},
        {"sender name LF", [](clsSendMail& m) { m.setFromDisplayName("Mario\nX-Injected: 1"); }, true},
        {"sender name CR LF", [](clsSendMail& m) { m.setFromDisplayName("Mario\r\nBcc: evil@example.it"); }, true},
        {"sender CR LF", [](clsSendMail& m) { m.setFrom("mittente@example.it\r\nRCPT TO:<evil@example.it>"); }, true},
        {"sender LF, unchecked",
         [](clsSendMail& m) {
             m.setEmailAddressValidation(0);
             m.setFrom("mitt\nRCPT TO:<evil@example.it>\n@example.it");
         },
         true},
        {"reply-to CR LF", [](clsSendMail& m) { m.setReplyToAddress("r@example.it>\r\nBcc: evil@example.it"); }, true},
        {"reply-to LF", [](clsSendMail& m) { m.setReplyToAddress("r\n@example.it"); }, true},
        {"recipient CR LF", [](clsSendMail& m) { m.setRecipient("dest@example.it\r\nBcc: evil@example.it"); }, true},
        {"recipient LF, unchecked",
         [](clsSendMail& m) {
             m.setEmailAddressValidation(0);
             m.setRecipient("dest@example.it>\nRCPT TO:<evil@example.it");
         },
         true},
        {"recipient name LF", [](clsSendMail& m) { m.setRecipientDisplayName("Dest\nX-Injected: 1"); }, false},
        {"recipient name CR", [](clsSendMail& m) { m.setRecipientDisplayName("Dest\rBcc: evil@example.it"); }, false},
        {"cc name CR LF",
         [](clsSendMail& m) {
             m.setCcRecipient("copia@example.it");
             m.setCcDisplayName("Copia\r\nX-Injected: 1");
         },
         false},
        {"bcc LF", [](clsSendMail& m) { m.setBccRecipient("nascosto@example.it\nX-Injected: 1"); }, true},
        {"attachment name LF", nullptr, true},
        {"attachment name CR", nullptr, true},
    };
    int stored = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, peer.port());
        if (c.set)
            c.set(m);
        else
            m.setAttachment(
                (folder / (i == std::size(cases) - 2 ? "a\nBcc: evil@example.it.txt" : "b\r.txt")).string());
        m.Send();
        const auto outcomes = ev.outcomes();
        ASSERT_EQ(outcomes.size(), 1u);
        if (c.refused) {
            EXPECT_EQ(outcomes[0].rfind("FAIL:", 0), 0u) << outcomes[0];
            EXPECT_EQ(peer.count(), stored) << "nothing reached the server";
            // The report empties the error list; what the next Send finds stored still never
            // reaches a header or a command of its own.
            ev.all.clear();
            m.Send();
            ASSERT_EQ(ev.outcomes().size(), 1u);
            EXPECT_EQ(ev.outcomes()[0].rfind("FAIL:", 0), 0u) << ev.outcomes()[0];
            EXPECT_EQ(peer.count(), stored);
            continue;
        }
        ASSERT_EQ(outcomes[0], "OK");
        ASSERT_EQ(peer.count(), ++stored) << "exactly one message";
        const std::string raw = peer.message(stored);
        const ReadBack r = readBack(raw);
        EXPECT_TRUE(r.defects.empty()) << r.describe();
        EXPECT_TRUE(r.header("Bcc").empty()) << r.describe();
        EXPECT_TRUE(r.header("X-Injected").empty()) << r.describe();
        EXPECT_EQ(peer.envelope(stored).find("evil"), std::string::npos);
    }
}

TEST(MailWire, RefusedValuesSayWhy)
{
    struct Case {
        const char* name;
        void (*set)(clsSendMail&);
        const char* text;
    } cases[] = {
        {"subject", [](clsSendMail& m) { m.setSubject("a\nb"); }, "Invalid Subject: Line Breaks are not Allowed"},
        {"sender name", [](clsSendMail& m) { m.setFromDisplayName("a\rb"); },
         "Invalid Sender Display Name: Line Breaks are not Allowed"},
        {"reply-to", [](clsSendMail& m) { m.setReplyToAddress("a\n@example.it"); }, "Invalid Reply-To E-mail Address"},
        {"content base",
         [](clsSendMail& m) {
             m.setAsHTML(true);
             m.setContentBase("www.example.it/\r\nX: 1");
         },
         "Invalid Content Base"},
        {"POP3 user",
         [](clsSendMail& m) {
             m.setUsePopAuthentication(true);
             m.setPOP3Host("127.0.0.1");
             m.setUsername("utente\r\nDELE 1");
         },
         "Invalid POP3 User Name or Password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Unconnected u;
        u.m.setFrom("mittente@example.it");
        u.m.setRecipient("dest@example.it");
        c.set(u.m);
        u.m.Send();
        u.expectRefused(c.text);
    }
}

TEST(MailWire, ConnectRefusesValuesThatWouldBecomeCommands)
{
    // Connect opens the session without Send's checks; the sender (HELO) and the POP3 log-in
    // (USER, PASS) are checked there too, and nothing is connected.
    struct Case {
        const char* name;
        void (*set)(clsSendMail&);
        const char* text;
    } cases[] = {
        {"sender", [](clsSendMail& m) { m.setFrom("mittente@example.it\r\nRSET"); },
         "Missing or Invalid Sender E-mail Address"},
        {"POP3 password",
         [](clsSendMail& m) {
             m.setUsePopAuthentication(true);
             m.setPOP3Host("127.0.0.1");
             m.setUsername("utente");
             m.setPassWord("segreta\nDELE 1");
         },
         "Invalid POP3 User Name or Password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Unconnected u;
        c.set(u.m);
        EXPECT_FALSE(u.m.Connect());
        u.expectRefused(c.text);
    }
}

TEST(MailWire, ASendReenteredFromTheYieldIsRefusedAndTheOuterOneDelivers)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    clsSendMail* self = nullptr;
    MailEvents inner;
    int reentries = 0;
    bool connectRefused = false;
    SendMailOptions options;
    options.yield = [&] {
        if (reentries++ != 2)
            return;
        // A second click or a timer, while the first send waits for the server.
        auto outer = self->SendFailed;
        self->SendFailed = [&](const std::string& t) { inner.all.push_back("FAIL:" + t); };
        self->setSubject("Seconda"); // belongs to the next message, not to the running one
        self->Send();
        connectRefused = !self->Connect();
        self->SendFailed = outer;
    };
    clsSendMail m(options);
    self = &m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    m.setMessage("Prima");
    m.Send();
    ASSERT_GT(reentries, 2);
    EXPECT_EQ(inner.outcomes(),
              std::vector<std::string>{"FAIL:Another message is being sent: this one was not sent\r\n"});
    EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
    EXPECT_TRUE(connectRefused);
    ASSERT_EQ(peer.count(), 1);
    const ReadBack r = readBack(peer.message(1));
    EXPECT_EQ(r.header("Subject"), std::vector<std::string>{"Prova"});
    EXPECT_EQ(r.body, "Prima\r\n");
    // The object is free again: the next Send goes out with the new subject.
    ev.all.clear();
    reentries = 100;
    m.Send();
    EXPECT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
    ASSERT_EQ(peer.count(), 2);
    EXPECT_EQ(readBack(peer.message(2)).header("Subject"), std::vector<std::string>{"Seconda"});
}

TEST(MailWire, MimeMessagesReadRightInAStandardReader)
{
    zs::test::ScopedTestEnv env;
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    const std::string accented = "Fattura caff\xC3\xA8 \xC3\xA0 perch\xC3\xA9.pdf";
    const std::string longName = "relazione-trimestrale-" + std::string(80, 'q') + "-\xC3\xB2.bin";
    const std::string quoted = "nome \"tra\" virgolette.txt";
    zs::test::writeFile(env.root() / accented, binary);
    zs::test::writeFile(env.root() / longName, "lungo");
    zs::test::writeFile(env.root() / quoted, "");

    const std::string longSubject =
        "Ordini aperti del responsabile vendite per la settimana corrente, con il dettaglio delle righe  e dei "
        "clienti  collegati a ciascun ordine in attesa di evasione";
    const std::string accentedSubject = "Notifica \xC3\xA8 pronta: " + std::string(120, 'z') + " citt\xC3\xA0";
    const std::string wordSubject = "Codice " + std::string(1500, 'k');
    struct Case {
        const char* name;
        std::string subject;
        std::string fromName;
        std::string toNames;
    } cases[] = {
        {"long plain subject", longSubject, "Zentrik Server", "Mario \"il Rosso\" Rossi;Anna"},
        {"long accented subject", accentedSubject, "Servizio Qualit\xC3\xA0 e Controllo della Produzione Nord-Est",
         "D\xC3\xA8stinatario;" + std::string(100, 'n')},
        {"one word longer than a line", wordSubject, std::string(950, 'f'), "=?utf-8?q?finto?=;Back\\slash"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clsSendMail m;
        MailEvents ev;
        ev.attach(m);
        configureLoopbackSend(m, peer.port());
        m.setRecipient("dest@example.it;due@example.it");
        m.setCcRecipient("copia@example.it");
        m.setCcDisplayName("Copia Conforme \xC3\xB9");
        m.setSubject(c.subject);
        m.setFromDisplayName(c.fromName);
        m.setRecipientDisplayName(c.toNames);
        m.setMessage("Riga con \xC3\xA0"
                     "ccenti\r\n.punto\r\n");
        m.setReceipt(true);
        m.setPriority(1);
        m.setAttachment((env.root() / accented).string() + ";" + (env.root() / longName).string() + ";" +
                        (env.root() / quoted).string());
        m.Send();
        ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
        const std::string raw = peer.message(++n);
        expectLineLimits(raw);
        const ReadBack r = readBack(raw);
        EXPECT_TRUE(r.defects.empty()) << r.describe();
        EXPECT_EQ(r.header("Subject"), std::vector<std::string>{c.subject});
        ASSERT_EQ(r.header("To").size(), 1u);
        const std::string to = r.header("To")[0];
        EXPECT_NE(to.find("dest@example.it"), std::string::npos) << to;
        EXPECT_NE(to.find("due@example.it"), std::string::npos) << to;
        ASSERT_EQ(r.header("From").size(), 1u);
        EXPECT_NE(r.header("From")[0].find("mittente@example.it"), std::string::npos);
        EXPECT_EQ(r.body, "Riga con \xC3\xA0"
                          "ccenti\r\n.punto\r\n\r\n");
        ASSERT_EQ(r.attachments.size(), 3u) << r.describe();
        EXPECT_EQ(r.attachments[0].first, accented);
        EXPECT_EQ(r.attachments[0].second, binary);
        EXPECT_EQ(r.attachments[1].first, longName);
        EXPECT_EQ(r.attachments[1].second, "lungo");
        EXPECT_EQ(r.attachments[2].first, quoted);
        EXPECT_EQ(r.attachments[2].second, "");
    }
}

TEST(MailWire, DisplayNamesReadBackExactly)
{
    // Python's address parser gives each mailbox's display name back through a small script of
    // its own: the names are checked as the reader sees them, quotes and accents included.
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    const std::vector<std::string> names = {"Mario \"il Rosso\" Rossi", "Back\\slash", "D\xC3\xA8stinatario",
                                            std::string(100, 'n'), "=?utf-8?q?finto?="};
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    std::string to, toNames;
    for (std::size_t i = 0; i < names.size(); ++i) {
        to += (i ? ";" : "") + std::string("d") + std::to_string(i) + "@example.it";
        toNames += (i ? ";" : "") + names[i];
    }
    m.setRecipient(to);
    m.setRecipientDisplayName(toNames);
    m.setFromDisplayName("Servizio Qualit\xC3\xA0 e Controllo della Produzione Nord-Est, reparto spedizioni");
    m.Send();
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
    const std::string raw = peer.message(1);
    expectLineLimits(raw);
    const ReadBack r = readBack(raw);
    EXPECT_TRUE(r.defects.empty()) << r.describe();
    ASSERT_EQ(r.header("To").size(), 1u);
    // str() of an address header gives "name <addr>" mailboxes, quoting names where needed.
    const std::string toText = r.header("To")[0];
    EXPECT_NE(toText.find("\"Mario \\\"il Rosso\\\" Rossi\" <d0@example.it>"), std::string::npos) << toText;
    EXPECT_NE(toText.find("\"Back\\\\slash\" <d1@example.it>"), std::string::npos) << toText;
    EXPECT_NE(toText.find("D\xC3\xA8stinatario <d2@example.it>"), std::string::npos) << toText;
    EXPECT_NE(toText.find(std::string(100, 'n') + " <d3@example.it>"), std::string::npos) << toText;
    EXPECT_NE(toText.find("=?utf-8?q?finto?= <d4@example.it>"), std::string::npos) << toText;
    EXPECT_EQ(r.header("From"),
              std::vector<std::string>{
                  "\"Servizio Qualit\xC3\xA0 e Controllo della Produzione Nord-Est, reparto spedizioni\" "
                  "<mittente@example.it>"});
}

TEST(MailWire, UuencodedAttachmentsDecodeLineByLineWithBinascii)
{
    zs::test::ScopedTestEnv env;
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    // Sizes around the line of 45 bytes; 59 leaves a last line of 14 bytes, whose length
    // character is a ".".
    const std::vector<std::size_t> sizes = {0, 1, 2, 3, 44, 45, 46, 59, 100, 3000};
    std::string paths;
    std::vector<std::string> contents;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        std::string bytes;
        for (std::size_t i = 0; i < sizes[k]; ++i)
            bytes += static_cast<char>((i * 31 + k) & 0xFF);
        const std::string name = (k == 0 ? "vuoto" : k == 1 ? "citt\xC3\xA0" : "file") + std::to_string(k) + ".bin";
        zs::test::writeFile(env.root() / name, bytes);
        paths += (k ? ";" : "") + (env.root() / name).string();
        contents.push_back(bytes);
    }
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    m.setEncodeType(1);
    m.setAttachment(paths);
    m.Send();
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
    const std::string raw = peer.message(1);
    EXPECT_NE(raw.find("\r\nM"), std::string::npos);
    EXPECT_NE(raw.find("\r\n`\r\nend\r\n"), std::string::npos) << "the zero-length line closes each file";
    const ReadBack r = readBack(raw);
    EXPECT_TRUE(r.defects.empty()) << r.describe();
    EXPECT_TRUE(r.errors.empty()) << r.describe();
    ASSERT_EQ(r.uuencoded.size(), sizes.size()) << r.describe();
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        SCOPED_TRACE(sizes[k]);
        EXPECT_EQ(r.uuencoded[k].second, contents[k]);
    }
    EXPECT_EQ(r.uuencoded[1].first, zs::text::toLatin1("citt\xC3\xA0"
                                                       "1.bin"));
}

TEST(MailWire, InlineImagesWithAccentedNamesKeepTheirReference)
{
    zs::test::ScopedTestEnv env;
    SmtpPeer peer;
    ASSERT_TRUE(peer.ok());
    const std::string name = "logo caff\xC3\xA8.png";
    zs::test::writeFile(env.root() / name, "PNG");
    clsSendMail m;
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    m.setAsHTML(true);
    m.setMessage("<html><img src=\"C:\\img\\" + name + "\"></html>");
    m.setAttachment((env.root() / name).string());
    m.Send();
    ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"});
    const std::string raw = peer.message(1);
    EXPECT_NE(raw.find("Content-Type: multipart/related;"), std::string::npos);
    EXPECT_NE(raw.find("Content-ID: <logo%20caff%C3%A8.png>\r\n"), std::string::npos);
    EXPECT_NE(raw.find("<img src=\"cid:logo%2520caff%25C3%25A8.png\">"), std::string::npos);
    const ReadBack r = readBack(raw);
    EXPECT_TRUE(r.defects.empty()) << r.describe();
    ASSERT_EQ(r.attachments.size(), 1u);
    EXPECT_EQ(r.attachments[0].first, name);
}

TEST(MailWire, ProgressOnlyClimbsThroughLogInAndData)
{
    zs::test::ScopedTestEnv env;
    Pop3Peer pop("utente", "segreta");
    ASSERT_TRUE(pop.ok()) << pop.log();
    SmtpPeer peer({.auth = "utente:segreta", .rejectRcpt = ""});
    ASSERT_TRUE(peer.ok());
    zs::test::writeFile(env.root() / "dati.bin", std::string(200000, 'd'));
    SendMailOptions options;
    options.pop3Port = pop.port();
    clsSendMail m(options);
    MailEvents ev;
    ev.attach(m);
    configureLoopbackSend(m, peer.port());
    m.setUsePopAuthentication(true);
    m.setPOP3Host("127.0.0.1");
    m.setUseAuthentication(true);
    m.setUsername("utente");
    m.setPassWord("segreta");
    m.setAttachment((env.root() / "dati.bin").string());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ev.all.clear();
        m.Send();
        ASSERT_EQ(ev.outcomes(), std::vector<std::string>{"OK"}) << pop.log();
        const auto p = ev.progress();
        EXPECT_TRUE(std::is_sorted(p.begin(), p.end())) << ::testing::PrintToString(p);
        EXPECT_GT(p.size(), 3u);
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.back(), 100);
    }
}
