#include "mail/Encoders.h"

#include "text/Cp1252.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <vector>

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

/// The four six-bit values of the group of (up to) three bytes at `i`; missing bytes count as zero.
std::array<unsigned, 4> sextets(std::string_view bytes, std::size_t i)
{
    const auto byte = [&bytes](std::size_t k) -> unsigned {
        return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0;
    };
    const unsigned a = byte(i), b = byte(i + 1), c = byte(i + 2);
    return {a >> 2, ((a & 3) << 4) | (b >> 4), ((b & 15) << 2) | (c >> 6), c & 63};
}

/// Appends the base64 quad of the group at `i`, padded with '=' where the bytes end.
void appendBase64Group(std::string_view bytes, std::size_t i, std::string& out)
{
    const auto s = sextets(bytes, i);
    const char quad[4] = {kAlphabet[s[0]], kAlphabet[s[1]], i + 1 < bytes.size() ? kAlphabet[s[2]] : '=',
                          i + 2 < bytes.size() ? kAlphabet[s[3]] : '='};
    out.append(quad, 4);
}

constexpr std::size_t kMaxLine = 998;            // RFC 5322 2.1.1, without CR LF
constexpr std::size_t kFoldAt = 78;              // the line length RFC 5322 asks for
constexpr std::size_t kEncodedLine = 76;         // RFC 2047 2: lines holding encoded words
constexpr std::size_t kWordBytes = 42;           // text bytes in one encoded word
constexpr std::size_t kMaxPlainHeaderText = 900; // longer plain texts are sent encoded
constexpr std::size_t kMaxPlainParameter = 60;
constexpr std::string_view kWordStart = "=?ISO-8859-1?B?";

// Printable ASCII (and tabs) that no reader could take for an encoded word.
bool isPlainHeaderText(std::string_view latin)
{
    for (unsigned char c : latin)
        if ((c < 32 && c != '\t') || c > 126)
            return false;
    return latin.find("=?") == std::string_view::npos;
}

// "=?ISO-8859-1?B?...?=" words joined by CR LF and a tab; the first word is cut shorter when
// the line already holds `column` characters, so that no line passes 76.
std::string encodedWords(std::string_view latin, std::size_t column)
{
    const std::size_t overhead = kWordStart.size() + 2;
    std::size_t room = column + overhead < kEncodedLine ? (kEncodedLine - column - overhead) / 4 * 3 : 0;
    room = std::clamp<std::size_t>(room, 3, kWordBytes);
    std::string out;
    for (std::size_t i = 0; i < latin.size() || i == 0; i += room, room = kWordBytes) {
        if (i > 0)
            out += "\r\n\t";
        out += kWordStart;
        out += EncodeBase64Line(latin.substr(i, room));
        out += "?=";
        if (latin.empty())
            break;
    }
    return out;
}

bool isAtext(char c)
{
    static constexpr std::string_view kSpecials = "!#$%&'*+-/=?^_`{|}~";
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           kSpecials.find(c) != std::string_view::npos;
}

std::string quotedString(std::string_view latin)
{
    std::string out = "\"";
    for (char c : latin) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

// A display name that cannot go out as one quoted string: word by word, plain words as atoms
// or quoted strings and the others as encoded words. Readers disagree on the blank between
// two adjacent encoded words (RFC 2047 drops it, some readers keep one), so neighbouring words
// that need encoding travel together in one run, blanks included, and runs never touch.
std::string encodedPhrase(std::string_view latin, std::size_t column)
{
    std::vector<std::pair<std::string, bool>> pieces; // text, encoded
    std::size_t start = 0;
    while (start < latin.size()) {
        const std::size_t blank = latin.find(' ', start);
        const std::string_view word = latin.substr(start, blank == std::string_view::npos ? blank : blank - start);
        start = blank == std::string_view::npos ? latin.size() : blank + 1;
        if (word.empty())
            continue;
        const bool encode = !isPlainHeaderText(word) || word.size() > kMaxPlainHeaderText;
        if (encode && !pieces.empty() && pieces.back().second)
            pieces.back().first += ' ' + std::string(word);
        else
            pieces.emplace_back(std::string(word), encode);
    }
    std::string out;
    std::size_t used = column;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto& [text, encode] = pieces[i];
        if (i > 0) {
            // A blank, or a fold when not even the start of the piece fits on this line.
            const std::size_t need = encode ? kWordStart.size() + 2 + 4 : std::min(text.size() + 2, kFoldAt);
            if (used + 1 + need > kEncodedLine) {
                out += "\r\n\t";
                used = 1;
            } else {
                out += ' ';
                used += 1;
            }
        }
        const std::string rendered = encode
                                         ? encodedWords(text, used)
                                         : (std::all_of(text.begin(), text.end(), isAtext) ? text : quotedString(text));
        out += rendered;
        const auto nl = rendered.rfind("\r\n");
        used = nl == std::string::npos ? used + rendered.size() : rendered.size() - nl - 2;
    }
    return out;
}

} // namespace

void appendBase64Lines(std::string_view bytes, std::string& out)
{
    if (bytes.empty())
        return;
    const std::size_t groups = (bytes.size() + 2) / 3;
    out.reserve(out.size() + groups * 4 + (groups / kGroupsPerLine + 1) * 2);
    for (std::size_t g = 0; g < groups; ++g) {
        if (g > 0 && g % kGroupsPerLine == 0)
            out += "\r\n";
        appendBase64Group(bytes, g * 3, out);
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

std::string EncodeQuotedPrintable(std::string_view bytes)
{
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8 + 8);
    std::size_t column = 0;
    auto put = [&](std::string_view piece) {
        // A piece never straddles a soft break: 75 characters and the "=" that continues.
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            out += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        const bool lineEnds =
            i + 1 == bytes.size() || (bytes[i + 1] == '\r' && i + 2 < bytes.size() && bytes[i + 2] == '\n');
        const bool blank = c == ' ' || c == '\t';
        if ((c >= 33 && c <= 126 && c != '=') || (blank && !lineEnds)) {
            const char plain = static_cast<char>(c);
            put(std::string_view(&plain, 1));
        } else {
            const char coded[3] = {'=', kHex[c >> 4], kHex[c & 15]};
            put(std::string_view(coded, 3));
        }
    }
    return out;
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

std::string EncodeBase64Line(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3)
        appendBase64Group(bytes, i, out);
    return out;
}

std::string UuencodeLine(std::string_view bytes)
{
    if (bytes.size() > 63)
        return {};
    std::string out;
    out.reserve(1 + (bytes.size() + 2) / 3 * 4);
    out += uuChar(static_cast<unsigned>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size(); i += 3)
        for (const unsigned v : sextets(bytes, i))
            out += uuChar(v);
    return out;
}

std::string EncodeHeaderText(std::string_view utf8, bool quote, std::size_t column)
{
    const std::string latin = zs::text::toLatin1(utf8);
    if (isPlainHeaderText(latin) && latin.size() <= kMaxPlainHeaderText)
        return quote ? quotedString(latin) : latin;
    return quote ? encodedPhrase(latin, column) : encodedWords(latin, column);
}

std::string EncodeUnstructuredText(std::string_view utf8, std::size_t column)
{
    const std::string latin = zs::text::toLatin1(utf8);
    if (!isPlainHeaderText(latin))
        return encodedWords(latin, column);
    // Fold before a blank that follows a word, so every line but the first starts with the
    // blank and still holds a word: unfolding (removing the CR LF) gives the text back.
    std::string out;
    std::size_t lineStart = 0; // in `latin`, where the current output line begins
    std::size_t used = column;
    std::size_t lastFold = std::string::npos;
    for (std::size_t i = 0; i < latin.size(); ++i) {
        const bool foldPoint = i > lineStart && latin[i] == ' ' && latin[i - 1] != ' ' &&
                               latin.find_first_not_of(' ', i) != std::string::npos;
        if (foldPoint) {
            if (used + (i - lineStart) > kFoldAt && lastFold != std::string::npos && lastFold > lineStart) {
                out.append(latin, lineStart, lastFold - lineStart);
                out += "\r\n";
                used = 0;
                lineStart = lastFold;
            }
            lastFold = i;
        }
    }
    if (used + (latin.size() - lineStart) > kFoldAt && lastFold != std::string::npos && lastFold > lineStart) {
        out.append(latin, lineStart, lastFold - lineStart);
        out += "\r\n";
        used = 0;
        lineStart = lastFold;
    }
    out.append(latin, lineStart, std::string::npos);
    // A word that no fold can bring under the hard limit goes out encoded instead.
    std::size_t start = 0;
    for (std::size_t line = 0;; ++line) {
        const std::size_t end = out.find("\r\n", start);
        const std::size_t length = (end == std::string::npos ? out.size() : end) - start + (line == 0 ? column : 0);
        if (length > kMaxLine)
            return encodedWords(latin, column);
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return out;
}

std::string EncodeFileNameParameter(std::string_view name, std::string_view utf8)
{
    const bool plain = utf8.size() <= kMaxPlainParameter && std::all_of(utf8.begin(), utf8.end(), [](char c) {
                           return c >= 32 && c <= 126 && c != '"' && c != '\\';
                       });
    if (plain)
        return std::string(name) + "=\"" + std::string(utf8) + '"';
    // RFC 2231: charset'language'value, every byte outside the safe set as %XX.
    static constexpr std::string_view kSafe = "!#$&+-.^_`|~";
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    std::vector<std::string> pieces(1, "utf-8''");
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        std::string one;
        if (std::isalnum(c) && c < 128)
            one = static_cast<char>(c);
        else if (c < 128 && kSafe.find(static_cast<char>(c)) != std::string_view::npos)
            one = static_cast<char>(c);
        else
            one = {'%', kHex[c >> 4], kHex[c & 15]};
        if (pieces.back().size() + one.size() > kMaxPlainParameter)
            pieces.emplace_back();
        pieces.back() += one;
    }
    if (pieces.size() == 1)
        return std::string(name) + "*=" + pieces.front();
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out += ";\r\n\t";
        out += std::string(name) + '*' + std::to_string(i) + "*=" + pieces[i];
    }
    return out;
}

void DataStuffer::append(std::string_view bytes, std::string& out)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / 64 + 4);
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    if (m_afterCR && p < end && *p == '\n')
        ++p; // the LF of a CR LF that the previous call cut in two
    m_afterCR = false;
    while (p < end) {
        if (m_lineStart && *p == '.')
            out += '.';
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        out.append(p, q);
        if (q == end) {
            m_lineStart = false; // text was copied: the line goes on
            return;
        }
        out += "\r\n";
        m_lineStart = true;
        if (*q == '\r') {
            if (q + 1 == end)
                m_afterCR = true;
            else if (q[1] == '\n')
                ++q;
        }
        p = q + 1;
    }
}

void DataStuffer::finish(std::string& out)
{
    if (!m_lineStart)
        out += "\r\n";
    out += ".\r\n";
    m_lineStart = true;
    m_afterCR = false;
}

} // namespace zs::mail
