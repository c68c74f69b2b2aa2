#include "program/PasswordCodec.h"

#include "text/Cp1252.h"

#include <optional>

#include <gtest/gtest.h>

using namespace zs::program;

TEST(PasswordCodec, KnownEncodings)
{
    struct Case {
        const char* clear;
        const char* encoded;
    } cases[] = {
        {"", ""},
        {"A", "2F053"},
        {"pwd", "51050561554856C"},
        {"è", "A7D38"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clear);
        EXPECT_EQ(CodificaPassword(c.clear), c.encoded);
        EXPECT_EQ(DecodificaPassword(c.encoded), c.clear);
    }
}

TEST(PasswordCodec, DecodingRules)
{
    struct Case {
        const char* name;
        const char* encoded;
        const char* clear;
    } cases[] = {
        {"lower-case hex", "51050561554856c", "pwd"},
        {"clear text typed into the file", "segreto", ""},
        {"non-hex in a later group", "2F053ZZZZZ", ""},
        {"value over 255", "FFFFF", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodificaPassword(c.encoded), c.clear);
    }
    // seven digits: a group of five and a short one of two, read as code 0
    EXPECT_EQ(DecodificaPassword("2F05300"), std::string("A\0", 2));
}

TEST(PasswordCodec, RoundTripOverEveryCode)
{
    for (int code = 1; code <= 255; ++code) {
        const std::string clear = zs::text::fromCp1252(std::string(1, static_cast<char>(code)));
        const std::string enc = CodificaPassword(clear);
        ASSERT_EQ(enc.size(), 5u) << code;
        EXPECT_EQ(enc.find_first_not_of("0123456789ABCDEF"), std::string::npos) << code;
        EXPECT_EQ(DecodificaPassword(enc), clear) << code;
    }
}

TEST(PasswordCodec, ModuloRealeIsAFlooredRemainder)
{
    EXPECT_DOUBLE_EQ(ModuloReale(7, 5), 2);
    EXPECT_DOUBLE_EQ(ModuloReale(-7, 5), 3);
    EXPECT_DOUBLE_EQ(DecifraCodice(CifraCodice(200)), 200);
}

TEST(PasswordCodec, HoldsExactlyWhatWindows1252Holds)
{
    struct Case {
        const char* text;
        bool holds;
    } cases[] = {
        {"", true},
        {"?", true},
        {"P\xC3\xA0ss \xE2\x82\xAC&<\"x\"> 1", true}, // "Pàss €&<"x"> 1"
        {"\xC5\xBD\xC5\x93\xE2\x80\xA6", true},       // Ž œ … are in the code page
        {"\xC5\x81\xC3\xB3\x64\xC5\xBA"
         "1",
         false},                 // "Łódź1"
        {"\xE6\x97\xA5", false}, // 日
        {"\xFF", false},         // not UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PasswordCodificabile(c.text), c.holds);
        if (c.holds)
            EXPECT_EQ(DecodificaPassword(CodificaPassword(c.text)), c.text);
        else
            EXPECT_NE(DecodificaPassword(CodificaPassword(c.text)), c.text);
    }
}

TEST(PasswordCodec, AStoredTextThatIsNoEncodedFormIsTold)
{
    const std::string encoded = CodificaPassword("pwd");
    struct Case {
        std::string stored;
        std::optional<std::string> clear;
    } cases[] = {
        {encoded, "pwd"},
        {"", ""},
        {"segreta", std::nullopt},                      // written by hand
        {encoded.substr(0, 7), std::nullopt},           // cut inside a group
        {"FFFFF", std::nullopt},                        // hexadecimal, but no character's code
        {encoded.substr(0, 5) + "zzzzz", std::nullopt}, // a group that is not hexadecimal
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(decodeStoredPassword(c.stored), c.clear);
        EXPECT_EQ(storedPasswordText(c.stored), c.clear.value_or(c.stored));
    }
}
