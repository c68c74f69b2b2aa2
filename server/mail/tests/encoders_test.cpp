// Encoders, body preparation and address utilities as tables of known cases.
#include "mail/AddressUtils.h"
#include "mail/Encoders.h"
#include "mail/ReplyReader.h"
#include "mail/clsSendMail.h"

#include <gtest/gtest.h>

using namespace zs::mail;

TEST(Encoders, Base64AgainstRfc4648Vectors)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"f", "Zg==\r\n"},         {"fo", "Zm8=\r\n"},         {"foo", "Zm9v\r\n"},     {"foob", "Zm9vYg==\r\n"},
        {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"}, {"Man", "TWFu\r\n"},     {"M", "TQ==\r\n"},
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

TEST(Encoders, UuencodeLines)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"Cat", "#0V%T"},
        {"C", "!0P=="},
        {"Ca", "\"0V$="},
        {std::string(3, '\0'), "#````"},
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
    EXPECT_EQ(EncodeHeaderText("Plain subject", false), "Plain subject");
    EXPECT_EQ(EncodeHeaderText("Perch\xC3\xA9", false), "=?ISO-8859-1?B?UGVyY2jp?=");
    // 50 characters with an accent: 42 + 8, folded with CR LF and a tab.
    const std::string subject = std::string(49, 'a') + "\xC3\xA8";
    const std::string enc = EncodeHeaderText(subject, true);
    const auto fold = enc.find("\r\n\t");
    ASSERT_NE(fold, std::string::npos);
    EXPECT_EQ(enc.substr(0, fold), "=?ISO-8859-1?B?" + EncodeBase64Bytes(std::string(42, 'a')).substr(0, 56) + "?=");
    EXPECT_EQ(enc.find("\r\n\t", fold + 1), std::string::npos);
}

TEST(PrepareBody, StuffsDotsAndFoldsLongLines)
{
    EXPECT_EQ(clsSendMail::PrepareBody(""), "");
    EXPECT_EQ(clsSendMail::PrepareBody("a\r\n.\r\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(clsSendMail::PrepareBody(".x\ny"), "..x\ny");
    const std::string folded = clsSendMail::PrepareBody(std::string(2000, 'x'));
    EXPECT_EQ(folded, std::string(998, 'x') + "\r\n" + std::string(998, 'x') + "\r\n" + std::string(4, 'x'));
    // A fold at a blank keeps the blank on the first line; a continuation starting with "."
    // is doubled like any other line, so it can never end the data.
    const std::string withBlank = std::string(900, 'a') + " " + "." + std::string(200, 'b');
    EXPECT_EQ(clsSendMail::PrepareBody(withBlank), std::string(900, 'a') + " \r\n.." + std::string(200, 'b'));
}

TEST(AddressUtils, EmailAndHostRules)
{
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"mario@example.it", true},  {"mario@EXAMPLE.IT", true}, {"@example.com", true},
        {"a@b@example.it", false},   {"mario@localhost", false}, {"mario@10.0.0.1", true},
        {"mario@example.o", false},  {"mario@example.xyz", false}, {"mario", false},
        {"mario@example.", false},   {"", false},
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
    r.feed(std::string(ReplyReader::kMaxReply + 10, 'x'));
    auto big = r.next();
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size(), ReplyReader::kMaxReply);
}

TEST(MessageFormat, ZoneAndDateTexts)
{
    EXPECT_EQ(clsSendMail::formatZoneOffset(60), "+0100");
    EXPECT_EQ(clsSendMail::formatZoneOffset(-210), "-0330");
    EXPECT_EQ(clsSendMail::formatZoneOffset(330), "+0530");
    EXPECT_EQ(clsSendMail::formatZoneOffset(-300), "-0500");
    EXPECT_EQ(clsSendMail::formatZoneOffset(0), "+0000");
}
