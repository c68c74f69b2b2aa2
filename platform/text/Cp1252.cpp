#include "text/Cp1252.h"

#include <array>

namespace zs::text {

namespace {

// Code points of bytes 0x80..0x9F; 0 marks the unassigned ones.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0 && b0 >= 0xC2 && cont(1)) {
        const char32_t cp = (static_cast<char32_t>(b0 & 0x1F) << 6) | bits(1);
        i += 2;
        return cp;
    }
    if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        const char32_t cp = (static_cast<char32_t>(b0 & 0x0F) << 12) | (bits(1) << 6) | bits(2);
        if (cp >= 0x800) {
            i += 3;
            return cp;
        }
    }
    if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        const char32_t cp = (static_cast<char32_t>(b0 & 0x07) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            i += 4;
            return cp;
        }
    }
    ++i;
    return b0;
}

namespace {

/// UTF-8 text as one byte per code point, each given by `byteFor`.
template <class ByteFor> std::string toSingleBytes(std::string_view utf8, ByteFor byteFor)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        out += byteFor(nextCodePoint(utf8, i));
    return out;
}

/// Single-byte text as UTF-8, each byte's code point given by `codePointFor`.
template <class CodePointFor> std::string fromSingleBytes(std::string_view bytes, CodePointFor codePointFor)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes)
        appendUtf8(out, codePointFor(static_cast<unsigned char>(c)));
    return out;
}

char cp1252Byte(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<char>(cp);
    for (std::size_t k = 0; k < kHigh.size(); ++k)
        if (kHigh[k] == cp || (kHigh[k] == 0 && cp == 0x80 + k))
            return static_cast<char>(0x80 + k);
    return '?';
}

char32_t cp1252CodePoint(unsigned char b)
{
    return b >= 0x80 && b < 0xA0 && kHigh[b - 0x80] ? kHigh[b - 0x80] : b;
}

} // namespace

std::string toCp1252(std::string_view utf8)
{
    return toSingleBytes(utf8, cp1252Byte);
}

std::string fromCp1252(std::string_view bytes)
{
    return fromSingleBytes(bytes, cp1252CodePoint);
}

std::string fromPeerText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        const char32_t cp = nextCodePoint(bytes, i);
        if (i - start > 1 && (cp < 0xD800 || cp > 0xDFFF)) {
            out.append(bytes, start, i - start);
        } else {
            i = start + 1;
            appendUtf8(out, cp1252CodePoint(static_cast<unsigned char>(bytes[start])));
        }
    }
    return out;
}

std::string fromLatin1(std::string_view bytes)
{
    return fromSingleBytes(bytes, [](unsigned char b) -> char32_t { return b; });
}

std::string toLatin1(std::string_view utf8)
{
    return toSingleBytes(utf8, [](char32_t cp) { return cp <= 0xFF ? static_cast<char>(cp) : '?'; });
}

} // namespace zs::text
