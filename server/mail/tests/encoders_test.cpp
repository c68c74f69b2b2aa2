// Encoders, body preparation and address utilities as tables of known cases.
#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/MessageFormat.h"
#include "mail/ReplyReader.h"
#include "mail/clsSendMail.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

using namespace zs::mail;

TEST(Encoders, Base64AgainstRfc4648Vectors)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"f", "Zg==\r\n"},         {"fo", "Zm8=\r\n"},         {"foo", "Zm9v\r\n"}, {"foob", "Zm9vYg==\r\n"},
        {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"}, {"Man", "TWFu\r\n"}, {"M", "TQ==\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(EncodeBase64Bytes(c.in), c.out);
        std::string round = EncodeBase64Bytes(c.in);
        EXPECT_EQ(DecodeBase64String(round.substr(0, round.size() - 2)), c.in);
    }
    EXPECT_EQ(EncodeBase64Text(""), "");
    EXPECT_EQ(EncodeBase64Bytes(""), "");
}

TEST(Encoders, Base64LinesCarry76Characters)
{
    const std::string b57(57, 'x'), b58(58, 'x');
    const std::string one = EncodeBase64Bytes(b57);
    EXPECT_EQ(one.size(), 78u);
    EXPECT_EQ(one.substr(76), "\r\n");
    const std::string two = EncodeBase64Bytes(b58);
    ASSERT_EQ(two.size(), 76u + 2 + 4 + 2);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
    EXPECT_EQ(two.substr(80), "==\r\n");
    // 11400 bytes, the attachment block, are exactly 200 full lines.
    const std::string block = EncodeBase64Bytes(std::string(11400, '\xA5'));
    EXPECT_EQ(block.size(), 200u * 78);
}

TEST(Encoders, DecodeStopsWhereTheAlphabetEnds)
{
    struct Case {
        const char* name;
        const char* in;
        const char* out;
    } cases[] = {
        {"padded", "TWE=", "Ma"},
        {"blank stops", "TWFu TWFu", "Man"},
        {"prompt", "VXNlcm5hbWU6", "Username:"},
        {"short tail", "TQ", "M"},
        {"lone char", "T", ""},
        {"invalid first", "*TWFu", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeBase64String(c.in), c.out);
    }
    EXPECT_EQ(DecodeBase64String("6Q=="), "\xC3\xA9"); // é, as UTF-8 inside the program
}

TEST(Encoders, UuencodeLinesInTheStandardForm)
{
    // A short last group is filled with zero bits: four characters for every three bytes,
    // as every uudecode (and binascii.a2b_uu) expects.
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"Cat", "#0V%T"},
        {"C", "!0P``"},
        {"Ca", "\"0V$`"},
        {std::string(3, '\0'), "#````"},
        {"", "`"},
        {std::string(14, 'a'), ".86%A86%A86%A86%A86$`"},
        {std::string(64, 'a'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(UuencodeLine(c.in), c.out);
    }
    const std::string full = UuencodeLine(std::string(45, 'z'));
    EXPECT_EQ(full.size(), 61u);
    EXPECT_EQ(full[0], 'M');
}

TEST(Encoders, HeaderTextWords)
{
    EXPECT_EQ(EncodeHeaderText("Mario Rossi", true), "\"Mario Rossi\"");
    EXPECT_EQ(EncodeHeaderText("Mario \"il Rosso\" C:\\", true), "\"Mario \\\"il Rosso\\\" C:\\\\\"");
    EXPECT_EQ(EncodeHeaderText("Plain subject", false), "Plain subject");
    EXPECT_EQ(EncodeHeaderText("Perch\xC3\xA9", false), "=?ISO-8859-1?B?UGVyY2jp?=");
    // Texts a reader would decode, or that hold control characters, are encoded too.
    EXPECT_EQ(EncodeHeaderText("=?utf-8?q?x?=", false), "=?ISO-8859-1?B?PT91dGYtOD9xP3g/PQ==?=");
    EXPECT_EQ(EncodeHeaderText("a\x01", false), "=?ISO-8859-1?B?YQE=?=");
    // 50 characters with an accent: 42 + 8, folded with CR LF and a tab.
    const std::string subject = std::string(49, 'a') + "\xC3\xA8";
    const std::string enc = EncodeHeaderText(subject, false);
    const auto fold = enc.find("\r\n\t");
    ASSERT_NE(fold, std::string::npos);
    EXPECT_EQ(enc.substr(0, fold), "=?ISO-8859-1?B?" + EncodeBase64Bytes(std::string(42, 'a')).substr(0, 56) + "?=");
    EXPECT_EQ(enc.find("\r\n\t", fold + 1), std::string::npos);
    // After "Subject: " the first word is shorter, so its line keeps within 76 characters.
    const std::string after = EncodeHeaderText(subject, false, 9);
    EXPECT_EQ(after.find("\r\n"), 9u + 65 - 9) << after;
}

TEST(Encoders, DisplayNamesEncodeOnlyTheWordsThatNeedIt)
{
    // Neighbouring accented words share one encoded word, so no reader can lose or add the
    // blank between them; plain words stay atoms, or quoted strings when they hold specials.
    EXPECT_EQ(EncodeHeaderText("D\xC3\xA8stinatario", true), "=?ISO-8859-1?B?ROhzdGluYXRhcmlv?=");
    EXPECT_EQ(EncodeHeaderText("Citt\xC3\xA0 pi\xC3\xB9 bella", true), "=?ISO-8859-1?B?Q2l0dOAgcGn5?= bella");
    EXPECT_EQ(EncodeHeaderText("Qualit\xC3\xA0 Nord-Est, srl", true),
              "=?ISO-8859-1?B?UXVhbGl04A==?= \"Nord-Est,\" srl");
    // Long names fold between words, never past 76 characters on a line with encoded words.
    const std::string name = "Servizio Qualit\xC3\xA0 e Controllo della Produzione Nord-Est reparto spedizioni e "
                             "magazzino centrale di \xC3\xA0rea";
    const std::string enc = EncodeHeaderText(name, true, 6);
    std::size_t start = 0, column = 6;
    for (;;) {
        const auto end = enc.find("\r\n", start);
        EXPECT_LE(column + (end == std::string::npos ? enc.size() : end) - start, 76u) << enc;
        if (end == std::string::npos)
            break;
        start = end + 2;
        column = 0;
    }
}

TEST(Encoders, SubjectsFoldBeforeBlanks)
{
    EXPECT_EQ(EncodeUnstructuredText("Breve", 9), "Breve");
    const std::string words = "Ordini aperti del responsabile vendite per la settimana corrente, con il dettaglio "
                              "delle righe  e dei clienti";
    const std::string folded = EncodeUnstructuredText(words, 9);
    std::string unfolded = folded;
    for (std::size_t p; (p = unfolded.find("\r\n")) != std::string::npos;)
        unfolded.erase(p, 2);
    EXPECT_EQ(unfolded, words) << "unfolding gives the text back";
    EXPECT_NE(folded.find("\r\n "), std::string::npos);
    EXPECT_LE(folded.find("\r\n") + 9, 78u);
    // A word too long for any line goes out encoded.
    const std::string word = std::string(1200, 'k');
    EXPECT_EQ(EncodeUnstructuredText(word, 9).rfind("=?ISO-8859-1?B?", 0), 0u);
    // Blanks alone are never a line of their own.
    EXPECT_EQ(EncodeUnstructuredText(std::string(200, ' '), 9), std::string(200, ' '));
}

TEST(Encoders, FileNameParameters)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"dati.bin", "filename=\"dati.bin\""},
        {"caff\xC3\xA8.txt", "filename*=utf-8''caff%C3%A8.txt"},
        {"nome \"tra\" virgolette.txt", "filename*=utf-8''nome%20%22tra%22%20virgolette.txt"},
        {"a;b=c.txt", "filename=\"a;b=c.txt\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(EncodeFileNameParameter("filename", c.in), c.out);
    }
    const std::string longName = std::string(70, 'x') + "\xC3\xB2.bin";
    EXPECT_EQ(EncodeFileNameParameter("name", longName),
              "name*0*=utf-8''" + std::string(53, 'x') + ";\r\n\tname*1*=" + std::string(17, 'x') + "%C3%B2.bin");
}

TEST(Encoders, QuotedPrintableOfTheBody)
{
    struct Case {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"printable text as it is", "Riga uno\r\nRiga due", "Riga uno\r\nRiga due"},
        {"NUL, '=' and an 8-bit byte coded", std::string("a\0b=c\xE0", 6), "a=00b=3Dc=E0"},
        {"a lone CR or LF is a byte, not a line end", "a\rb\nc", "a=0Db=0Ac"},
        {"blanks ending a line or the text", "uno \r\ndue\t", "uno=20\r\ndue=09"},
        {"blanks inside a line kept", "a b\tc", "a b\tc"},
        {"76 characters at most, soft breaks", std::string(80, 'x'), std::string(75, 'x') + "=\r\n" + "xxxxx"},
        {"a coded byte never split by a soft break", std::string(74, 'x') + '=', std::string(74, 'x') + "=\r\n=3D"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeQuotedPrintable(c.in), c.out);
    }
}

TEST(Encoders, SaslAnswersStayOnOneLine)
{
    EXPECT_EQ(EncodeBase64Line(""), "");
    EXPECT_EQ(EncodeBase64Line("Man"), "TWFu");
    EXPECT_EQ(EncodeBase64Line(std::string(60, 'p')).find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(EncodeBase64Line(std::string(60, 'p')).size(), 80u);
}

TEST(DataStuffer, EveryLineEndIsCrLfAndEveryLeadingDotDoubledWhereverTheTextIsCut)
{
    struct Case {
        const char* name;
        std::string in;
        std::string wire;
    } cases[] = {
        {"plain", "a\r\nb", "a\r\nb\r\n.\r\n"},
        {"lone dot", ".", "..\r\n.\r\n"},
        {"dots at start, middle, end", ".\r\n..\r\nx\r\n. x\r\n.", "..\r\n...\r\nx\r\n.. x\r\n..\r\n.\r\n"},
        {"bare LF then dot", "a\n.\nMAIL FROM:<x>", "a\r\n..\r\nMAIL FROM:<x>\r\n.\r\n"},
        {"bare CR then dot", "a\r.\rb", "a\r\n..\r\nb\r\n.\r\n"},
        {"LF CR is two ends", "a\n\r.", "a\r\n\r\n..\r\n.\r\n"},
        {"ends on a line end", "a\r\n", "a\r\n.\r\n"},
        {"empty", "", ".\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            SCOPED_TRACE(cut);
            DataStuffer s;
            std::string out;
            s.append(std::string_view(c.in).substr(0, cut), out);
            s.append(std::string_view(c.in).substr(cut), out);
            s.finish(out);
            EXPECT_EQ(out, c.wire);
        }
    }
}

TEST(MessageFormat, IdentifiersAndAddressesThatCanTravel)
{
    EXPECT_EQ(contentIdOf("logo.png"), "logo.png");
    EXPECT_EQ(contentIdOf("logo caff\xC3\xA8<>@.png"), "logo%20caff%C3%A8%3C%3E%40.png");
    EXPECT_EQ(messageIdHost("server01.example.it"), "server01.example.it");
    EXPECT_EQ(messageIdHost("strano host..nome."), "stranohost.nome");
    EXPECT_EQ(messageIdHost(""), "localhost");
    EXPECT_TRUE(isWireSafeAddress("mario@example.it"));
    EXPECT_FALSE(isWireSafeAddress("mario@example.it>\r\nRCPT TO:<x@example.it"));
    EXPECT_FALSE(isWireSafeAddress("mario\n@example.it"));
    EXPECT_FALSE(isWireSafeAddress(std::string("mario@exa\0mple.it", 18)));
    EXPECT_FALSE(isWireSafeAddress("a@b.it> NOTIFY=NEVER"));
}

TEST(MessageFormat, MessageIdTakesTheHostNameWithoutALookUp)
{
    zs::test::ScopedTestEnv env;
    clsSendMail m;
    const std::string id = m.MakeMessageId();
    ASSERT_NE(id.find('@'), std::string::npos);
    EXPECT_EQ(id.substr(id.find('@') + 1), messageIdHost(GetIPHost()));
    EXPECT_EQ(id.find_first_of(" <>\r\n"), std::string::npos);
}

TEST(PrepareBody, MakesEveryLineEndCrLfAndFoldsLongLines)
{
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    } cases[] = {
        {"empty", "", ""},
        {"CR LF kept, dots left to the wire", "a\r\n.\r\nb", "a\r\n.\r\nb"},
        {"LF", ".x\ny", ".x\r\ny"},
        {"mixed", "a\rb\nc\r\nd\n\re", "a\r\nb\r\nc\r\nd\r\n\r\ne"},
        {"bare LF inside CR LF text", "a\r\nb\n.\nc", "a\r\nb\r\n.\r\nc"},
        {"ends on CR", "x\r", "x\r\n"},
        {"fold of 2000", std::string(2000, 'x'),
         std::string(998, 'x') + "\r\n" + std::string(998, 'x') + "\r\n" + std::string(4, 'x')},
        // A fold at a blank keeps the blank on the first line.
        {"fold at a blank", std::string(900, 'a') + " ." + std::string(200, 'b'),
         std::string(900, 'a') + " \r\n." + std::string(200, 'b')},
        {"fold of a line after a bare LF", "x\n" + std::string(1000, 'y'), "x\r\n" + std::string(998, 'y') + "\r\nyy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(clsSendMail::PrepareBody(c.in), c.out);
    }
}

TEST(AddressUtils, EmailAndHostRules)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"mario@example.it", true},
        {"mario@EXAMPLE.IT", true},
        {"@example.com", true},
        {"a@b@example.it", false},
        {"mario@localhost", false},
        {"mario@10.0.0.1", true},
        {"mario@example.o", false},
        {"mario@example.xyz", false},
        {"mario", false},
        {"mario@example.", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsValidEmailAddress(c.text), c.valid);
    }
    EXPECT_FALSE(IsDottedAddress("240.0.0.1"));
    EXPECT_TRUE(IsDottedAddress("239.255.255.255"));
    EXPECT_FALSE(IsDottedAddress("1.2.3"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.x"));
    const std::uint32_t a = DottedToAddress("10.0.0.1");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&a);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(DottedToAddress("10.0.1"), 0u);
    EXPECT_EQ(GetContentType("noext", "application/octet-stream"), "application/octet-stream");
    EXPECT_EQ(GetContentType("a.unknownext", "dflt"), "dflt");
    EXPECT_EQ(GetContentType("Report.PDF", "dflt"), "application/pdf");
    EXPECT_EQ(GetIPAddress("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(GetIPAddress("no-such-host.invalid"), "");
}

TEST(AddressUtils, PingLoopbackWhenTheSystemAllowsIt)
{
    const auto r = PingHost("127.0.0.1", 1000);
    if (!r.available)
        GTEST_SKIP() << "no unprivileged ICMP socket on this machine";
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.host, "127.0.0.1");
    EXPECT_EQ(r.dataSize, "32 bytes");
    EXPECT_TRUE(r.echoMatched);
}

TEST(ReplyReader, JoinsMultiLineRepliesAndBoundsGarbage)
{
    ReplyReader r;
    r.feed("250-peer.example.it\r\n250-AUTH LO");
    EXPECT_FALSE(r.next());
    r.feed("GIN\r\n250 HELP\r\n354 go\r\n");
    EXPECT_EQ(r.next(), "250-peer.example.it\r\n250-AUTH LOGIN\r\n250 HELP\r\n");
    EXPECT_EQ(r.next(), "354 go\r\n");
    EXPECT_FALSE(r.next());
    EXPECT_FALSE(r.failed());

    // Past a bound the reader fails once, for good, keeping only the start of the reply.
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"unfinished line", "220 " + std::string(ReplyReader::kMaxLine + 10, 'x')},
        {"finished line too long", "550 " + std::string(ReplyReader::kMaxLine, 'x') + "\r\n"},
        {"too many lines",
         [] {
             std::string s;
             for (std::size_t i = 0; i <= ReplyReader::kMaxLines; ++i)
                 s += "220-riga\r\n";
             return s + "220 fine\r\n";
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyReader bounded;
        bounded.feed(c.bytes);
        EXPECT_FALSE(bounded.next());
        ASSERT_TRUE(bounded.failed());
        EXPECT_EQ(bounded.failedStart(), c.bytes.substr(0, ReplyReader::kKeptStart));
        bounded.feed("250 OK\r\n");
        EXPECT_FALSE(bounded.next()) << "nothing is read after the failure";
        EXPECT_TRUE(bounded.empty());
        bounded.clear();
        bounded.feed("250 OK\r\n");
        EXPECT_EQ(bounded.next(), "250 OK\r\n");
    }
    // Exactly at the bounds a reply still passes.
    std::string lines;
    for (std::size_t i = 1; i < ReplyReader::kMaxLines; ++i)
        lines += "250-" + std::string(ReplyReader::kMaxLine - 6, 'y') + "\r\n";
    lines += "250 fine\r\n";
    r.feed(lines);
    EXPECT_EQ(r.next(), lines);
    EXPECT_FALSE(r.failed());
}

TEST(ReplyReader, FailureTextsAreCut)
{
    EXPECT_EQ(replyForLog("550 no\r\n"), "550 no");
    EXPECT_EQ(replyForLog(""), "");
    const std::string shown = replyForLog("550 " + std::string(64 * 1024, 'z') + "\r\n");
    EXPECT_EQ(shown, "550 " + std::string(296, 'z') + " [... cut]");
    // The server's 8-bit text is UTF-8 or Windows-1252 on the wire and UTF-8 in the program's texts.
    EXPECT_EQ(replyForLog("550 Casella \xE8 piena, ri\xF9sa\r\n"), "550 Casella \xC3\xA8 piena, ri\xC3\xB9sa");
    EXPECT_EQ(replyForLog("550 Casella \xC3\xA8 piena\r\n"), "550 Casella \xC3\xA8 piena");
    EXPECT_EQ(replyForLog("550 \x80uro \x93x\x94 \x85\r\n"), "550 \u20acuro \u201cx\u201d \u2026");
    // A cut never splits an accented letter.
    const std::string accented = replyForLog(std::string(299, 'a') + "\xE8" + std::string(50, 'b'));
    EXPECT_EQ(accented, std::string(299, 'a') + " [... cut]");
}

TEST(ReplyDecoders, SmtpAndPop3RepliesByTheirCodes)
{
    using Kind = SmtpReply::Kind;
    using Prompt = SmtpReply::Prompt;
    struct Case {
        const char* name;
        std::string reply;
        Kind kind;
        bool offersLogin;
        Prompt prompt;
    };
    const Case cases[] = {
        {"greeting", "220 mx ready\r\n", Kind::Accepted, false, Prompt::None},
        {"ehlo offering login", "250-mx\r\n250 AUTH PLAIN LOGIN\r\n", Kind::Accepted, true, Prompt::None},
        {"ehlo without login", "250-mx\r\n250 AUTH PLAIN\r\n", Kind::Accepted, false, Prompt::None},
        {"login accepted", "235 ok\r\n", Kind::LoginAccepted, false, Prompt::None},
        {"user prompt", "334 VXNlcm5hbWU6\r\n", Kind::Challenge, false, Prompt::Username},
        {"user prompt with a blank", "334 VXNlciBOYW1l\r\n", Kind::Challenge, false, Prompt::Username},
        {"password prompt", "334 UGFzc3dvcmQ6\r\n", Kind::Challenge, false, Prompt::Password},
        {"empty prompt", "334 \r\n", Kind::Challenge, false, Prompt::Other},
        {"data", "354 go ahead\r\n", Kind::DataGo, false, Prompt::None},
        {"help", "214 see the manual\r\n", Kind::Informational, false, Prompt::None},
        {"refusal", "550 no such user\r\n", Kind::Refused, false, Prompt::None},
        {"empty line", "\r\n", Kind::Refused, false, Prompt::None},
        {"pop3 greeting", "+OK POP3 ready\r\n", Kind::Foreign, false, Prompt::None},
        {"too short for a code", "ok", Kind::Foreign, false, Prompt::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SmtpReply r = decodeSmtpReply(c.reply);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.offersLogin, c.offersLogin);
        EXPECT_EQ(r.prompt, c.prompt);
    }
    EXPECT_EQ(decodePop3Reply("+OK ready\r\n"), Pop3Reply::Ok);
    EXPECT_EQ(decodePop3Reply("+ok\r\n"), Pop3Reply::Ok);
    EXPECT_EQ(decodePop3Reply("-ERR denied\r\n"), Pop3Reply::Err);
    EXPECT_EQ(decodePop3Reply("250 ok\r\n"), Pop3Reply::Other);
    EXPECT_EQ(decodePop3Reply(""), Pop3Reply::Other);
}

TEST(MessageFormat, ZoneAndDateTexts)
{
    EXPECT_EQ(clsSendMail::formatZoneOffset(60), "+0100");
    EXPECT_EQ(clsSendMail::formatZoneOffset(-210), "-0330");
    EXPECT_EQ(clsSendMail::formatZoneOffset(330), "+0530");
    EXPECT_EQ(clsSendMail::formatZoneOffset(-300), "-0500");
    EXPECT_EQ(clsSendMail::formatZoneOffset(0), "+0000");
}
