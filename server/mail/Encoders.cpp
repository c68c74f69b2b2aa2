#include "mail/Encoders.h"

#include "text/Cp1252.h"

#include <array>
#include <cstdint>

namespace zs::mail {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr int kGroupsPerLine = 19; // 76 characters

// Alphabet position of each byte: 0..63 digits, 64 the pad, -1 outside the alphabet.
constexpr std::array<std::int8_t, 256> makeDecodeTable()
{
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();

// Entry 0 is "`" rather than a blank, so no line carries trailing or doubled blanks.
constexpr char uuChar(unsigned v)
{
    return v == 0 ? '`' : static_cast<char>(v + 32);
}

} // namespace

void appendBase64Lines(std::string_view bytes, std::string& out)
{
    if (bytes.empty())
        return;
    const std::size_t groups = (bytes.size() + 2) / 3;
    out.reserve(out.size() + groups * 4 + (groups / kGroupsPerLine + 1) * 2);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    for (std::size_t g = 0; g < groups; ++g, i += 3) {
        if (g > 0 && g % kGroupsPerLine == 0)
            out += "\r\n";
        const unsigned a = p[i];
        const unsigned b = i + 1 < n ? p[i + 1] : 0;
        const unsigned c = i + 2 < n ? p[i + 2] : 0;
        const char quad[4] = {kAlphabet[a >> 2], kAlphabet[((a & 3) << 4) | (b >> 4)],
                              i + 1 < n ? kAlphabet[((b & 15) << 2) | (c >> 6)] : '=',
                              i + 2 < n ? kAlphabet[c & 63] : '='};
        out.append(quad, 4);
    }
    out += "\r\n";
}

std::string EncodeBase64Bytes(std::string_view bytes)
{
    std::string out;
    appendBase64Lines(bytes, out);
    return out;
}

std::string EncodeBase64Text(std::string_view utf8)
{
    return EncodeBase64Bytes(zs::text::toLatin1(utf8));
}

std::string DecodeBase64String(std::string_view base64)
{
    std::string bytes;
    bytes.reserve(base64.size() / 4 * 3 + 3);
    for (std::size_t i = 0; i < base64.size(); i += 4) {
        unsigned v[4] = {0, 0, 0, 0};
        int count = 0;
        bool stop = false;
        for (int k = 0; k < 4 && i + k < base64.size(); ++k) {
            const int pos = kDecode[static_cast<unsigned char>(base64[i + k])];
            if (pos < 0) {
                stop = true;
                break;
            }
            if (pos == 64)
                break;
            v[k] = static_cast<unsigned>(pos);
            ++count;
        }
        const unsigned char out3[3] = {static_cast<unsigned char>((v[0] << 2) | ((v[1] >> 4) & 3)),
                                       static_cast<unsigned char>(((v[1] & 15) << 4) | ((v[2] >> 2) & 15)),
                                       static_cast<unsigned char>(((v[2] & 3) << 6) | v[3])};
        if (count > 1)
            bytes.append(reinterpret_cast<const char*>(out3), static_cast<std::size_t>(count - 1));
        if (stop)
            break;
    }
    return zs::text::fromLatin1(bytes);
}

std::string UuencodeLine(std::string_view bytes)
{
    if (bytes.size() > 63)
        return {};
    std::string out;
    out.reserve(2 + (bytes.size() + 2) / 3 * 4);
    out += uuChar(static_cast<unsigned>(bytes.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; i += 3) {
        const unsigned a = p[i];
        const unsigned b = i + 1 < n ? p[i + 1] : 0;
        const unsigned c = i + 2 < n ? p[i + 2] : 0;
        out += uuChar(a >> 2);
        out += uuChar(((a & 3) << 4) | (b >> 4));
        if (i + 1 >= n) {
            out += "==";
            break;
        }
        out += uuChar(((b & 15) << 2) | (c >> 6));
        if (i + 2 >= n) {
            out += '=';
            break;
        }
        out += uuChar(c & 63);
    }
    return out;
}

std::string EncodeHeaderText(std::string_view utf8, bool quote)
{
    const std::string latin = zs::text::toLatin1(utf8);
    bool eightBit = false;
    for (unsigned char c : latin)
        eightBit = eightBit || c > 126;
    if (!eightBit)
        return quote ? '"' + std::string(utf8) + '"' : std::string(utf8);
    std::string out;
    for (std::size_t i = 0; i < latin.size(); i += 42) {
        if (i > 0)
            out += "\r\n\t";
        out += "=?ISO-8859-1?B?";
        std::string word = EncodeBase64Bytes(std::string_view(latin).substr(i, 42));
        word.resize(word.size() - 2);
        out += word;
        out += "?=";
    }
    return out;
}

} // namespace zs::mail
