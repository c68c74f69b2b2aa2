// The parameter-list encoder and the number and return-list decoders, as tables.
#include "BusHarness.h"

#include "Bus.h"
#include "Kor8Api.h"
#include "Reply.h"

#include "Wire.h"

namespace zs::k8bus::test {
namespace {

// Every suite runs in a private environment: no trace or setting of the real user is touched.
class Encoder : public BusTest {};
class Decoder : public BusTest {};

using k8test::arrayBytes;
using k8test::be16;

std::string pairBytes(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string s = be16(static_cast<unsigned>(pairs.size()));
    for (const auto& [k, v] : pairs)
        s += be16(static_cast<unsigned>(k.size())) + k + be16(static_cast<unsigned>(v.size())) + v;
    return s;
}

TEST_F(Encoder, ParamListTable)
{
    struct Case {
        const char* name;
        const char* format;
        std::string text;
        int count;
        bool ok;
        std::string list; // the appended parameter's bytes
        int error;
    };
    const Case cases[] = {
        {"positional", "D,", "a,b", 0, true, pairBytes({{"%1", "a"}, {"%2", "b"}}), 0},
        {"named with an array", "D,", "X=1,Y()=(p,q)", 0, true,
         pairBytes({{"X", "1"}, {"Y()", arrayBytes({"p", "q"})}}), 0},
        {"array first, then a named item", "D,", "Y()=(p,q),X=1", 0, true,
         pairBytes({{"Y()", arrayBytes({"p", "q"})}, {"X", "1"}}), 0},
        {"other separator", "D;", "A=1;B=x,y", 0, true, pairBytes({{"A", "1"}, {"B", "x,y"}}), 0},
        {"empty text", "D,", "", 0, true, std::string("\x00\x00", 2), 0},
        {"pre-encoded list", "L", std::string("\x00\x01k\x00\x01v", 6), 1, true,
         std::string("\x00\x01\x00\x01k\x00\x01v", 8), 0},
        {"array without parentheses", "D,", "Y()=p,q)", 0, false, "", 42},
        {"unknown format", "Q", "a", 0, false, "", 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::thread([&] {
            ApiGlobals* g = initApi();
            ASSERT_NE(g, nullptr);
            KernelSession k;
            unsigned char buf[1024];
            msgInit(1, buf, sizeof buf);
            EXPECT_EQ(buildParamList(k, c.format, c.count, static_cast<int>(c.text.size()), c.text.data()), c.ok);
            if (c.ok) {
                const std::string got(reinterpret_cast<const char*>(msgBuf()) + 3, msgLength() - 3);
                EXPECT_EQ(got, be16(static_cast<unsigned>(c.list.size())) + c.list);
            } else {
                EXPECT_EQ(k8GetLastError(), c.error);
            }
        }).join();
    }
}

TEST_F(Encoder, ListTooLongForItsLengthFieldIsRefused)
{
    std::thread([] {
        initApi();
        KernelSession k;
        std::vector<unsigned char> buf(70000);
        msgInit(1, buf.data(), static_cast<std::uint32_t>(buf.size()));
        const std::string text(66000, 'a');
        EXPECT_FALSE(buildParamList(k, "D,", 0, static_cast<int>(text.size()), text.data()));
        EXPECT_EQ(k8GetLastError(), 43);
    }).join();
}

TEST_F(Decoder, NumberTable)
{
    struct Case {
        const char* name;
        std::string text;
        bool ok;
        long value;
        int error;
    };
    const Case cases[] = {
        {"negative", "-12", true, -12, 0},
        {"plus sign", "+7", true, 7, 0},
        {"sign inside", "1-2", false, 1, 71},
        {"bad digit", "12a", false, -1, 71},
        {"a minus sign and no digit", "-", false, -1, 71},
        {"a plus sign and no digit", "+", false, -1, 71},
        {"21 characters", std::string(21, '1'), false, 0, 70},
        {"20 nines saturate", std::string(20, '9'), true, 9223372036854775807L, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::thread([&] {
            initApi();
            long v = 99;
            EXPECT_EQ(parseNumString(reinterpret_cast<const unsigned char*>(c.text.data()), c.text.size(), v), c.ok);
            EXPECT_EQ(v, c.value);
            EXPECT_EQ(k8GetLastError(), c.error);
        }).join();
    }
}

TEST_F(Decoder, DelimitedReturnListFromBytes)
{
    std::thread([] {
        initApi();
        const std::string list = pairBytes({{"A", "1"}, {"B()", arrayBytes({"x", "y"})}}).substr(2);
        char buf[64] = {};
        int count = 2, room = 63;
        EXPECT_TRUE(recvReturnParameters(-1, "D,", count, static_cast<int>(list.size()), room, buf,
                                         reinterpret_cast<const unsigned char*>(list.data())));
        EXPECT_EQ(std::string(buf, static_cast<std::size_t>(room)), "A=1,B()=(x,y)");
        EXPECT_EQ(count, 2);

        // Too little room: the first pair stays, error 48.
        char small[6] = {};
        count = 2;
        room = 6;
        EXPECT_FALSE(recvReturnParameters(-1, "D,", count, static_cast<int>(list.size()), room, small,
                                          reinterpret_cast<const unsigned char*>(list.data())));
        EXPECT_EQ(count, 1);
        EXPECT_EQ(std::string(small, static_cast<std::size_t>(room)), "A=1");
        EXPECT_EQ(k8GetLastError(), 48);
    }).join();
}

TEST_F(Encoder, ScramblingIsItsOwnKeyStream)
{
    unsigned char block[] = {'u', 's', 'e', 'r'};
    scrambleBlock(block, sizeof block);
    EXPECT_EQ(block[3], 'r' ^ 0x6B);
    // The daemon's own decoder turns it back into the single item "user" when framed as one.
    unsigned char framed[] = {0x00, 0x02, 'o', 'k'};
    scrambleBlock(framed, sizeof framed);
    auto items = k8test::openCredentialBlock(std::string(1, '\x01') + std::string(reinterpret_cast<char*>(framed), 4));
    ASSERT_TRUE(items);
    EXPECT_EQ(*items, std::vector<std::string>{"ok"});
    unsigned char none[1] = {0x55};
    scrambleBlock(none, 0);
    EXPECT_EQ(none[0], 0x55);
}

} // namespace
} // namespace zs::k8bus::test
