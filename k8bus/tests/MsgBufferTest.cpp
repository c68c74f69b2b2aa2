// The message buffer byte for byte, through the exported functions.
#include "Kor8Api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

std::string bytes(const unsigned char* p, std::size_t n)
{
    return std::string(reinterpret_cast<const char*>(p), n);
}
std::string hex(const std::string& s)
{
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty())
            out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}
const unsigned char* u(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

TEST(MsgBuffer, InitWritesTheHeader)
{
    unsigned char buf[100];
    std::memset(buf, 0xEE, sizeof buf);
    ASSERT_NE(msgInit(1, buf, 100), nullptr);
    EXPECT_EQ(hex(bytes(buf, 3)), "01 00 00");
    EXPECT_EQ(msgLength(), 3u);
    EXPECT_EQ(msgBuf(), buf);
}

TEST(MsgBuffer, InitRefusesABufferTooSmallForTheHeader)
{
    unsigned char buf[2] = {0xEE, 0xEE};
    EXPECT_EQ(msgInit(1, buf, 2), nullptr);
    EXPECT_EQ(buf[0], 0xEE);
    EXPECT_EQ(msgSetParam(1, u("x")), 0);
    EXPECT_EQ(msgLength(), 0u);
}

TEST(MsgBuffer, ParametersAndCount)
{
    unsigned char buf[64];
    msgInit(0, buf, sizeof buf);
    EXPECT_EQ(msgSetParam(3, u("abc")), 1);
    EXPECT_EQ(msgSetParamNum(4294967295u), 1);
    EXPECT_EQ(msgSetParamNum(static_cast<std::uint32_t>(-1)), 1);
    EXPECT_EQ(msgSetParamNum(0), 1);
    EXPECT_EQ(msgSetParam(0, nullptr), 1);
    msgSetNumParams(300);
    EXPECT_EQ(hex(bytes(buf, msgLength())), hex(std::string("\x00\x01\x2c", 3) +
                                                std::string("\x00\x03"
                                                            "abc",
                                                            5) +
                                                std::string("\x00\x0a"
                                                            "4294967295",
                                                            12) +
                                                std::string("\x00\x0a"
                                                            "4294967295",
                                                            12) +
                                                std::string("\x00\x01"
                                                            "0",
                                                            3) +
                                                std::string("\x00\x00", 2)));
}

TEST(MsgBuffer, CapacityCutsAndRefusals)
{
    // 8 bytes: header 3, room 5 -> a 10-byte string is cut to 3 and the buffer is then full.
    unsigned char buf[8];
    msgInit(1, buf, sizeof buf);
    EXPECT_EQ(msgSetParam(10, u("0123456789")), 0);
    EXPECT_EQ(hex(bytes(buf, msgLength())), "01 00 00 00 03 30 31 32");
    EXPECT_EQ(msgLength(), 8u);
    EXPECT_EQ(msgSetParam(1, u("x")), 0); // no room at all: nothing written
    EXPECT_EQ(msgLength(), 8u);

    unsigned char area[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(msgStoreParam(area, 2, 1, u("x")), 0);
    EXPECT_EQ(area[0], 0xEE);
    EXPECT_EQ(msgStoreParam(area, 3, 0, nullptr), 2);
    EXPECT_EQ(hex(bytes(area, 2)), "00 00");
    // An empty parameter needs only its length field: room 2 is enough, room 1 is not.
    unsigned char two[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(msgStoreParam(two, 2, 0, u("ignored")), 2);
    EXPECT_EQ(hex(bytes(two, 3)), "00 00 ee");
    unsigned char one[2] = {0xEE, 0xEE};
    EXPECT_EQ(msgStoreParam(one, 1, 0, nullptr), 0);
    EXPECT_EQ(hex(bytes(one, 2)), "ee ee");
    // The last two bytes of a message take an empty parameter, which leaves it exactly full.
    unsigned char five[5];
    msgInit(1, five, sizeof five);
    EXPECT_EQ(msgSetParam(0, nullptr), 0);
    EXPECT_EQ(hex(bytes(five, msgLength())), "01 00 00 00 00");
}

TEST(MsgBuffer, ArrayParameterTable)
{
    struct Case {
        const char* name;
        const char* text;
        int room;
        int result;
        std::string expect;
    };
    const Case cases[] = {
        {"empty list", "()", 64, 6, std::string("\x00\x04\x00\x01\x00\x00", 6)},
        {"two elements", "(a,bc)", 64, 11,
         std::string("\x00\x09\x00\x02\x00\x01"
                     "a"
                     "\x00\x02"
                     "bc",
                     11)},
        {"no opening parenthesis", "a,b)", 64, -1, ""},
        {"no closing parenthesis", "(a,b", 64, -1, ""},
        {"no room", "(a,b)", 8, -2, ""},
        {"text after the list ignored", "(x)tail", 64, 7,
         std::string("\x00\x05\x00\x01\x00\x01"
                     "x",
                     7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char area[64] = {};
        EXPECT_EQ(msgStoreArrayParam(area, c.room, 0, c.text, ','), c.result);
        if (c.result > 0) {
            EXPECT_EQ(hex(bytes(area, static_cast<std::size_t>(c.result))), hex(c.expect));
        }
    }
}

TEST(MsgBuffer, EachThreadHasItsOwnCurrentMessage)
{
    unsigned char a[16], b[16];
    msgInit(1, a, sizeof a);
    msgSetParam(1, u("A"));
    std::thread([&] {
        EXPECT_EQ(msgBuf(), nullptr);
        EXPECT_EQ(msgLength(), 0u);
        msgInit(2, b, sizeof b);
        msgSetParam(2, u("BB"));
        EXPECT_EQ(msgLength(), 7u);
    }).join();
    EXPECT_EQ(msgBuf(), a);
    EXPECT_EQ(msgLength(), 6u);
}

} // namespace
