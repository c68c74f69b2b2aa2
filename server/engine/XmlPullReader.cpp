#include "engine/XmlPullReader.h"

#include "fs/ReadFile.h"

#include "text/Ascii.h"
#include "text/ByteWords.h"
#include "text/Cp1252.h"
#include "text/SystemReason.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <utility>

namespace zs::engine {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool allSpace(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), isSpace);
}

using text::loadWord;
using text::wordHas;

// What a byte means to the scans below, one bit a scan: a table look-up a byte instead of a
// comparison a character.
constexpr unsigned char kTagStop = 1;      // ends a run inside a tag: a quote, '>' or '<'
constexpr unsigned char kNameEnd = 2;      // ends an attribute's name: '=' or a blank
constexpr unsigned char kTextSpecial = 4;  // decodeEntities() must look at it in text
constexpr unsigned char kValueSpecial = 8; // ... and in an attribute's value
constexpr unsigned char kNameStart = 16;   // an ASCII character a name may begin with
constexpr unsigned char kNameChar = 32;    // ... and one it may hold

struct ByteClasses {
    unsigned char of[256] = {};
    constexpr ByteClasses()
    {
        for (unsigned char c : {'"', '\'', '>', '<'})
            of[c] |= kTagStop;
        for (unsigned char c : {'=', ' ', '\t', '\n', '\r'})
            of[c] |= kNameEnd;
        for (unsigned char c : {'&', ']'})
            of[c] |= kTextSpecial;
        for (unsigned char c : {'&', '<', '\n', '\t'})
            of[c] |= kValueSpecial;
        for (int c = 0; c < 128; ++c) {
            const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
            if (letter)
                of[c] |= kNameStart | kNameChar;
            if (letter || (c >= '0' && c <= '9') || c == '-' || c == '.')
                of[c] |= kNameChar;
        }
    }
};
constexpr ByteClasses kClasses;

unsigned char classOf(char c)
{
    return kClasses.of[static_cast<unsigned char>(c)];
}

/// The first character of `s` that decodeEntities() must look at ('&' and ']' in text; '&', '<',
/// a line feed or a tab in an attribute), or npos. Eight bytes at a time: most values hold none.
std::size_t firstSpecial(std::string_view s, bool attribute)
{
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        const std::uint64_t w = loadWord(s.data() + i);
        if (wordHas(w, '&') || (attribute ? wordHas(w, '<') || wordHas(w, '\n') || wordHas(w, '\t') : wordHas(w, ']')))
            break;
    }
    const unsigned char special = attribute ? kValueSpecial : kTextSpecial;
    for (; i < s.size(); ++i)
        if (classOf(s[i]) & special)
            return i;
    return std::string_view::npos;
}

/// Whether a character beyond ASCII may begin an XML name, or stand in one.
bool nameStartBeyondAscii(char32_t c)
{
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}
bool nameCharBeyondAscii(char32_t c)
{
    return nameStartBeyondAscii(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

/// The character that begins at s[i] (the reader's text is valid UTF-8) and its length in bytes.
char32_t characterAt(std::string_view s, std::size_t i, std::size_t& length)
{
    const auto b = static_cast<unsigned char>(s[i]);
    length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (i + length > s.size()) {
        length = 1;
        return 0;
    }
    char32_t c = b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return c;
}

/// Whether `s`, which holds a character beyond ASCII, is an XML name.
bool isNameBeyondAscii(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            if (!(classOf(s[i]) & (i == 0 ? kNameStart : kNameChar)))
                return false;
            ++i;
            continue;
        }
        std::size_t length = 1;
        const char32_t c = characterAt(s, i, length);
        if (!(i == 0 ? nameStartBeyondAscii(c) : nameCharBeyondAscii(c)))
            return false;
        i += length;
    }
    return true;
}

/// Whether `s` is an XML name: a letter, '_' or ':' first, then those, digits, '-', '.' and the
/// characters beyond ASCII that XML lets a name hold. An ASCII name takes one look a byte.
bool isName(std::string_view s)
{
    if (s.empty())
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t i = 1;
    while (i < s.size() && (kClasses.of[p[i]] & kNameChar))
        ++i;
    const bool ascii = i == s.size() && (kClasses.of[p[0]] & kNameStart);
    return ascii || ((p[0] >= 0x80 || (i < s.size() && p[i] >= 0x80)) && isNameBeyondAscii(s));
}

/// The characters of UTF-8 text `s` (the bytes that begin one).
long long characters(std::string_view s)
{
    long long n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

/// Whether `body`, what stands between "<?xml" and "?>", is an XML declaration: a version 1.x,
/// then an encoding and a standalone choice when they are there, in that order, each after a
/// blank and quoted.
bool wellFormedDeclaration(std::string_view body)
{
    std::vector<std::pair<std::string_view, std::string_view>> items;
    std::size_t i = 0;
    const auto blanks = [&] {
        const std::size_t from = i;
        while (i < body.size() && isSpace(body[i]))
            ++i;
        return i > from;
    };
    for (;;) {
        const bool blank = blanks();
        if (i == body.size())
            break;
        if (!blank)
            return false;
        const std::size_t nameStart = i;
        while (i < body.size() && body[i] >= 'a' && body[i] <= 'z')
            ++i;
        const std::string_view name = body.substr(nameStart, i - nameStart);
        blanks();
        if (i >= body.size() || body[i] != '=')
            return false;
        ++i;
        blanks();
        if (i >= body.size() || (body[i] != '"' && body[i] != '\''))
            return false;
        const std::size_t close = body.find(body[i], i + 1);
        if (close == std::string_view::npos)
            return false;
        items.emplace_back(name, body.substr(i + 1, close - i - 1));
        i = close + 1;
    }
    const auto all = [](std::string_view v, bool (*ok)(char)) {
        return !v.empty() && std::all_of(v.begin(), v.end(), ok);
    };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const auto encodingChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    };
    std::size_t k = 0;
    const auto is = [&](std::string_view name) { return k < items.size() && items[k].first == name; };
    if (!is("version") || items[k].second.substr(0, 2) != "1." || !all(items[k].second.substr(2), digit))
        return false;
    ++k;
    if (is("encoding")) {
        const std::string_view e = items[k].second;
        if (e.empty() || !letter(e[0]) || !all(e, encodingChar))
            return false;
        ++k;
    }
    if (is("standalone")) {
        if (items[k].second != "yes" && items[k].second != "no")
            return false;
        ++k;
    }
    return k == items.size();
}

/// How many leading bytes of `p[0..n)` are complete, valid UTF-8; `bad` is set at an invalid
/// byte (an incomplete sequence at the end is not invalid: more bytes may follow).
std::size_t validUtf8(const unsigned char* p, std::size_t n, bool& bad)
{
    bad = false;
    std::size_t i = 0;
    while (i < n) {
        // ASCII, eight bytes at a time.
        while (i + 8 <= n && !text::wordHasHigh(loadWord(reinterpret_cast<const char*>(p + i))))
            i += 8;
        if (i >= n)
            break;
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            bad = true;
            return i;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if (i + k >= n)
                return i; // incomplete: wait for more
            const unsigned char d = p[i + k];
            if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) {
                bad = true;
                return i;
            }
        }
        i += len;
    }
    return i;
}

/// The line feeds in `s`, found by memchr (a line is many bytes long).
std::size_t countLines(std::string_view s)
{
    std::size_t n = 0;
    const char* p = s.data();
    const char* const end = p + s.size();
    while (p < end) {
        const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!lf)
            break;
        ++n;
        p = static_cast<const char*>(lf) + 1;
    }
    return n;
}

} // namespace

/// The file and the conversion of its bytes to UTF-8.
struct XmlPullReader::Decoder {
    std::unique_ptr<std::FILE, FileCloser> file;
    iconv_t converter = kNoConverter;
    std::string raw; // bytes read and not yet converted
    bool rawEof = false;

    ~Decoder()
    {
        if (converter != kNoConverter)
            iconv_close(converter);
    }

    bool readRaw(std::size_t chunk)
    {
        if (rawEof)
            return false;
        const std::size_t old = raw.size();
        raw.resize(old + chunk);
        const std::size_t got = std::fread(raw.data() + old, 1, chunk, file.get());
        raw.resize(old + got);
        if (got < chunk)
            rawEof = true;
        return got > 0;
    }

    /// Appends the UTF-8 of the next piece to `out`. False with `error` on bad bytes or a
    /// read error; true with nothing appended at the end of the file.
    bool decode(std::string& out, std::size_t chunk, const std::string& encoding, std::string& error)
    {
        if (raw.empty() || !rawEof)
            readRaw(chunk);
        if (std::ferror(file.get())) {
            error = "errore di lettura del file: " + text::systemReason(errno);
            return false;
        }
        if (raw.empty())
            return true;
        if (converter == kNoConverter) {
            bool bad = false;
            const std::size_t ok = validUtf8(reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), bad);
            if (bad || (rawEof && ok < raw.size())) {
                // What comes before the bad byte is passed on, so its line and column are known.
                error = "il testo non è UTF-8 valido (byte 0x" + hex(raw[ok]) + ")";
                out.append(raw, 0, ok);
                raw.erase(0, ok);
                return false;
            }
            out.append(raw, 0, ok);
            raw.erase(0, ok);
            return true;
        }
        char* in = raw.data();
        std::size_t inLeft = raw.size();
        while (inLeft > 0) {
            const std::size_t old = out.size();
            out.resize(old + inLeft * 4 + 16);
            char* o = out.data() + old;
            std::size_t outLeft = out.size() - old;
            const std::size_t r = iconv(converter, &in, &inLeft, &o, &outLeft);
            out.resize(static_cast<std::size_t>(o - out.data()));
            if (r != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            if (errno == EINVAL && !rawEof)
                break; // a character split by the piece's end: the rest comes with the next piece
            error = "byte non valido per la codifica " + encoding + " (0x" + hex(*in) + ")";
            return false;
        }
        raw.erase(0, raw.size() - inLeft);
        return true;
    }

    static std::string hex(char c)
    {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
        return buf;
    }
};

XmlPullReader::XmlPullReader(std::size_t chunkBytes)
    : m_chunk(std::max<std::size_t>(chunkBytes, 64))
{}

XmlPullReader::~XmlPullReader() = default;

bool XmlPullReader::open(const std::filesystem::path& file)
{
    m_decoder = std::make_unique<Decoder>();
    // A data file is streamed, so no size bound; but a FIFO or a device at its name must not
    // block the run or feed it without end. A link is not followed: the import refuses links
    // before reading, and one put in a file's place after the listing is refused here too.
    std::string why;
    fs::Fd fd = fs::openForReading(file, why, nullptr, /*followLinks=*/false);
    if (!fd.valid())
        return fail(why);
    m_decoder->file.reset(::fdopen(fd.get(), "rb"));
    if (!m_decoder->file)
        return fail("impossibile aprire il file: " + text::systemReason(errno));
    (void)fd.release(); // the stream owns it now
    Decoder& d = *m_decoder;
    d.readRaw(m_chunk);
    const auto starts = [&d](std::string_view bytes) {
        return std::string_view(d.raw).substr(0, bytes.size()) == bytes;
    };
    std::string fromBom;
    if (starts("\xEF\xBB\xBF")) {
        d.raw.erase(0, 3);
        fromBom = "UTF-8";
    } else if (starts("\xFF\xFE")) {
        d.raw.erase(0, 2);
        fromBom = "UTF-16LE";
    } else if (starts("\xFE\xFF")) {
        d.raw.erase(0, 2);
        fromBom = "UTF-16BE";
    } else if (starts(std::string_view("<\0?\0", 4))) {
        fromBom = "UTF-16LE";
    } else if (starts(std::string_view("\0<\0?", 4))) {
        fromBom = "UTF-16BE";
    }
    std::string encoding = fromBom;
    if (encoding.empty() && starts("<?xml")) {
        // The declaration is ASCII in every encoding that can be read before knowing it.
        const std::size_t end = d.raw.find("?>");
        const std::string decl =
            d.raw.substr(0, end == std::string::npos ? std::min<std::size_t>(d.raw.size(), 512) : end);
        const std::size_t at = decl.find("encoding");
        if (at != std::string::npos) {
            std::size_t i = at + 8;
            while (i < decl.size() && (isSpace(decl[i]) || decl[i] == '='))
                ++i;
            if (i < decl.size() && (decl[i] == '"' || decl[i] == '\'')) {
                const std::size_t close = decl.find(decl[i], i + 1);
                if (close != std::string::npos)
                    encoding = decl.substr(i + 1, close - i - 1);
            }
        }
    }
    if (encoding.empty())
        encoding = "UTF-8";
    m_encoding = encoding;
    const std::string upper = text::upperAscii(encoding);
    if (upper != "UTF-8" && upper != "UTF8") {
        d.converter = iconv_open("UTF-8", encoding.c_str());
        if (d.converter == kNoConverter)
            return fail("codifica sconosciuta: " + encoding);
    }
    m_reading = true;
    return true;
}

bool XmlPullReader::fail(const std::string& text)
{
    return failAt(m_pos, text);
}

bool XmlPullReader::failAt(std::size_t pos, const std::string& text)
{
    if (!m_failed) {
        m_failed = true;
        m_error = text;
        if (m_reading) {
            const std::string_view before(m_buf.data(), std::min(pos, m_buf.size()));
            const std::size_t lf = before.rfind('\n');
            m_errorLine = static_cast<int>(m_linesBefore + static_cast<long long>(countLines(before)) + 1);
            m_errorColumn = static_cast<int>((lf == std::string_view::npos ? m_columnBefore + characters(before)
                                                                           : characters(before.substr(lf + 1))) +
                                             1);
        }
    }
    return false;
}

std::size_t XmlPullReader::offsetOf(std::string_view inBuffer, std::size_t i) const
{
    return static_cast<std::size_t>(inBuffer.data() - m_buf.data()) + i;
}

bool XmlPullReader::fill()
{
    if (m_eof || m_failed)
        return false;
    if (m_buf.size() - m_pos > kMaxToken)
        return fail("elemento o testo più lungo di " + std::to_string(kMaxToken / (1024 * 1024)) + " MB");
    const std::size_t before = m_buf.size();
    std::string error;
    // A piece may end inside a character (or be the line feed of a CR LF): read on until
    // something is decoded or the file ends.
    while (m_buf.size() == before) {
        if (m_decoder->rawEof && m_decoder->raw.empty()) {
            m_eof = true;
            return false;
        }
        const std::size_t from = m_buf.size();
        const bool decoded = m_decoder->decode(m_buf, m_chunk, m_encoding, error);
        if (!normalise(from))
            return false;
        if (!decoded)
            return failAt(m_buf.size(), error); // the line of a bad byte is where the decoded text ends
        if (m_buf.size() == from && m_decoder->rawEof && m_decoder->raw.empty()) {
            m_eof = true;
            return false;
        }
    }
    return true;
}

bool XmlPullReader::normalise(std::size_t from)
{
    // Every line end reads as a line feed (CR LF and a lone CR), markup and CDATA included, as
    // XML reads them; a CR that ends a piece takes the line feed that begins the next. No XML
    // text holds a control character other than tab, CR and LF (NUL included), in any encoding:
    // refused with its line, as the document reader refuses NUL.
    char* const b = m_buf.data();
    const std::size_t n = m_buf.size();
    std::size_t i = from, out = from;
    if (std::exchange(m_crEnded, false) && i < n && b[i] == '\n')
        ++i;
    while (i < n) {
        // Eight bytes at a time while none can be below 0x20 (line feeds come once a line).
        std::size_t j = i;
        for (;;) {
            while (j + 8 <= n && !text::wordMayHoldBelow(loadWord(b + j), 0x20))
                j += 8;
            if (j >= n)
                break;
            const auto c = static_cast<unsigned char>(b[j]);
            if (c >= 0x20 || c == '\t' || c == '\n')
                ++j;
            else
                break;
        }
        if (out != i)
            std::memmove(b + out, b + i, j - i);
        out += j - i;
        if (j >= n)
            break;
        if (b[j] == '\r') {
            b[out++] = '\n';
            i = j + 1;
            if (i < n && b[i] == '\n')
                ++i;
            else if (i == n)
                m_crEnded = true;
            continue;
        }
        const auto c = static_cast<unsigned char>(b[j]);
        m_buf.resize(out);
        return failAt(out, c == 0 ? std::string("carattere NUL (byte 0) non ammesso")
                                  : "carattere di controllo (byte " + std::to_string(c) + ") non ammesso");
    }
    m_buf.resize(out);
    return true;
}

void XmlPullReader::compact()
{
    if (m_pos < m_chunk)
        return;
    const std::string_view dropped(m_buf.data(), m_pos);
    m_linesBefore += static_cast<long long>(countLines(dropped));
    const std::size_t lf = dropped.rfind('\n');
    m_columnBefore =
        lf == std::string_view::npos ? m_columnBefore + characters(dropped) : characters(dropped.substr(lf + 1));
    m_buf.erase(0, m_pos);
    m_pos = 0;
}

std::size_t XmlPullReader::find(char c, std::size_t from)
{
    for (;;) {
        const std::size_t i = m_buf.find(c, from);
        if (i != std::string::npos)
            return i;
        from = m_buf.size();
        if (!fill())
            return std::string::npos;
    }
}

std::size_t XmlPullReader::find(std::string_view s, std::size_t from)
{
    for (;;) {
        const std::size_t i = m_buf.find(s, from);
        if (i != std::string::npos)
            return i;
        from = std::max(from, m_buf.size() >= s.size() ? m_buf.size() - s.size() + 1 : 0);
        if (!fill())
            return std::string::npos;
    }
}

bool XmlPullReader::startsWith(std::string_view s)
{
    return startsWithAt(m_pos, s);
}

std::string_view XmlPullReader::localName() const
{
    const std::size_t colon = m_name.rfind(':');
    return colon == std::string::npos ? std::string_view(m_name) : std::string_view(m_name).substr(colon + 1);
}

bool XmlPullReader::decodeEntities(std::string_view raw, std::string& out, bool attribute)
{
    const std::size_t first = firstSpecial(raw, attribute);
    if (first == std::string_view::npos) {
        out.append(raw);
        return true;
    }
    out.append(raw.substr(0, first));
    const unsigned char special = attribute ? kValueSpecial : kTextSpecial;
    for (std::size_t i = first; i < raw.size(); ++i) {
        const char c = raw[i];
        if (!(classOf(c) & special)) {
            out += c;
            continue;
        }
        switch (c) {
        case '&':
            if (!decodeReference(raw, i, out))
                return false;
            break;
        case '<':
            return failAt(offsetOf(raw, i), "'<' nel valore di un attributo");
        case ']':
            if (raw.substr(i, 3) == "]]>")
                return failAt(offsetOf(raw, i), "']]>' nel testo");
            out += c;
            break;
        default:
            out += ' '; // in an attribute every line break and tab is a blank
        }
    }
    return true;
}

bool XmlPullReader::decodeReference(std::string_view raw, std::size_t& i, std::string& out)
{
    const std::size_t semi = raw.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12)
        return failAt(offsetOf(raw, i), "'&' non seguito da un'entità");
    const std::string_view name = raw.substr(i + 1, semi - i - 1);
    if (name == "lt")
        out += '<';
    else if (name == "gt")
        out += '>';
    else if (name == "amp")
        out += '&';
    else if (name == "quot")
        out += '"';
    else if (name == "apos")
        out += '\'';
    else if (name.size() > 1 && name[0] == '#') {
        const bool hexForm = name[1] == 'x';
        const std::string digits(name.substr(hexForm ? 2 : 1));
        const bool allDigits = !digits.empty() && std::all_of(digits.begin(), digits.end(), [hexForm](char d) {
            return (d >= '0' && d <= '9') || (hexForm && ((d >= 'a' && d <= 'f') || (d >= 'A' && d <= 'F')));
        });
        const unsigned long cp = allDigits ? std::strtoul(digits.c_str(), nullptr, hexForm ? 16 : 10) : 0;
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000) ||
            cp == 0xFFFE || cp == 0xFFFF)
            return failAt(offsetOf(raw, i), "riferimento a carattere non valido &" + std::string(name) + ";");
        text::appendUtf8(out, static_cast<char32_t>(cp));
    } else {
        return failAt(offsetOf(raw, i), "entità sconosciuta &" + std::string(name) + ";");
    }
    i = semi;
    return true;
}

std::size_t XmlPullReader::tagEnd()
{
    // A start tag ends at the first '>' outside quotes.
    std::size_t i = m_pos + 1;
    char quote = 0;
    for (;;) {
        if (i >= m_buf.size() && !fill())
            return fail("tag non chiuso"), std::string::npos;
        if (quote) {
            // A value is skipped whole up to its closing quote.
            const void* q = std::memchr(m_buf.data() + i, quote, m_buf.size() - i);
            if (!q) {
                i = m_buf.size();
                continue;
            }
            i = static_cast<std::size_t>(static_cast<const char*>(q) - m_buf.data()) + 1;
            quote = 0;
            continue;
        }
        // Names and blanks up to the next quote, '>' or '<'.
        const std::size_t n = m_buf.size();
        while (i < n && !(classOf(m_buf[i]) & kTagStop))
            ++i;
        if (i >= n)
            continue;
        const char c = m_buf[i];
        if (c == '>')
            return i;
        if (c == '<')
            return failAt(i, "'<' dentro un tag"), std::string::npos;
        quote = c;
        ++i;
    }
}

XmlPullReader::Event XmlPullReader::startTag()
{
    const std::size_t end = tagEnd();
    if (end == std::string::npos)
        return Event::Error;
    std::string_view tag(m_buf.data() + m_pos + 1, end - m_pos - 1);
    bool empty = false;
    if (!tag.empty() && tag.back() == '/') {
        empty = true;
        tag.remove_suffix(1);
    }
    std::size_t i = 0;
    while (i < tag.size() && !isSpace(tag[i]))
        ++i;
    if (i == 0)
        return fail("nome di elemento mancante"), Event::Error;
    std::string name(tag.substr(0, i));
    if (!isName(name))
        return failAt(m_pos + 1, "nome di elemento non valido: " + name), Event::Error;
    if (!readAttributes(tag, i, name))
        return Event::Error;
    if (m_open.empty() && m_rootSeen)
        return fail("più di un elemento radice"), Event::Error;
    m_rootSeen = true;
    m_open.push_back(name);
    m_name = std::move(name);
    m_pos = end + 1;
    m_pendingEnd = empty;
    return Event::StartElement;
}

bool XmlPullReader::readAttributes(std::string_view tag, std::size_t i, const std::string& element)
{
    // The attributes' strings keep their storage from one tag to the next.
    m_attributeCount = 0;
    for (;;) {
        const std::size_t blank = i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size())
            return true;
        if (i == blank)
            return failAt(offsetOf(tag, i), "manca uno spazio prima dell'attributo nell'elemento " + element);
        // The name is read and checked in one pass while it is ASCII (as names mostly are).
        const std::size_t nameStart = i;
        while (i < tag.size() && (classOf(tag[i]) & kNameChar))
            ++i;
        bool checked = i > nameStart && (classOf(tag[nameStart]) & kNameStart);
        if (i < tag.size() && !(classOf(tag[i]) & kNameEnd)) {
            checked = false;
            while (i < tag.size() && !(classOf(tag[i]) & kNameEnd))
                ++i;
        }
        if (m_attributeCount == m_attributes.size())
            m_attributes.emplace_back();
        Attribute& a = m_attributes[m_attributeCount];
        a.name.assign(tag.substr(nameStart, i - nameStart));
        a.value.clear();
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (a.name.empty() || i >= tag.size() || tag[i] != '=')
            return failAt(offsetOf(tag, nameStart), "attributo senza valore nell'elemento " + element);
        if (!checked && !isName(a.name))
            return failAt(offsetOf(tag, nameStart), "nome di attributo non valido: " + a.name);
        for (std::size_t k = 0; k < m_attributeCount; ++k)
            if (m_attributes[k].name == a.name)
                return failAt(offsetOf(tag, nameStart), "attributo " + a.name + " ripetuto nell'elemento " + element);
        ++i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            return failAt(offsetOf(tag, nameStart), "valore dell'attributo " + a.name + " senza virgolette");
        const std::size_t close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos)
            return failAt(offsetOf(tag, nameStart), "valore dell'attributo " + a.name + " non chiuso");
        if (!decodeEntities(tag.substr(i + 1, close - i - 1), a.value, true))
            return false;
        i = close + 1;
        ++m_attributeCount;
    }
}

XmlPullReader::Event XmlPullReader::endTag()
{
    const std::size_t end = find('>', m_pos + 2);
    if (end == std::string::npos)
        return fail("tag di chiusura non chiuso"), Event::Error;
    const std::string_view name =
        text::trimRight(std::string_view(m_buf.data() + m_pos + 2, end - m_pos - 2), " \t\n\r");
    if (m_open.empty())
        return fail("tag di chiusura </" + std::string(name) + "> senza apertura"), Event::Error;
    if (name != m_open.back())
        return fail("tag di chiusura </" + std::string(name) + "> inatteso: atteso </" + m_open.back() + ">"),
               Event::Error;
    m_name = std::move(m_open.back());
    m_open.pop_back();
    m_pos = end + 1;
    return Event::EndElement;
}

std::optional<XmlPullReader::Event> XmlPullReader::processingInstruction(bool atStart)
{
    const std::size_t e = find("?>", m_pos + 2);
    if (e == std::string::npos)
        return fail("istruzione di elaborazione non chiusa"), Event::Error;
    const std::string_view body(m_buf.data() + m_pos + 2, e - m_pos - 2);
    std::size_t t = 0;
    while (t < body.size() && !isSpace(body[t]))
        ++t;
    const std::string_view target = body.substr(0, t);
    if (target == "xml") {
        // The XML declaration, only as the document's first characters.
        if (!atStart)
            return fail("dichiarazione XML non all'inizio del documento"), Event::Error;
        if (!wellFormedDeclaration(body.substr(3)))
            return fail("dichiarazione XML non valida"), Event::Error;
    } else if (!isName(target) || text::equalsNoCase(target, "xml")) {
        return fail("nome di istruzione di elaborazione non valido: '" + std::string(target) + "'"), Event::Error;
    }
    m_pos = e + 2;
    return std::nullopt;
}

std::optional<XmlPullReader::Event> XmlPullReader::comment()
{
    // The first "--" ends a comment, and only '>' may follow it.
    const std::size_t e = find("--", m_pos + 4);
    if (e != std::string::npos)
        while (m_buf.size() < e + 3)
            if (!fill())
                break;
    if (e == std::string::npos || m_buf.size() < e + 3)
        return fail("commento non chiuso"), Event::Error;
    if (m_buf[e + 2] != '>')
        return failAt(e, "'--' dentro un commento"), Event::Error;
    m_pos = e + 3;
    return std::nullopt;
}

std::optional<XmlPullReader::Event> XmlPullReader::cdata()
{
    if (m_open.empty())
        return fail("sezione CDATA fuori dall'elemento radice"), Event::Error;
    const std::size_t e = find("]]>", m_pos + 9);
    if (e == std::string::npos)
        return fail("sezione CDATA non chiusa"), Event::Error;
    m_text.assign(m_buf, m_pos + 9, e - m_pos - 9);
    m_pos = e + 3;
    return Event::Text;
}

std::optional<XmlPullReader::Event> XmlPullReader::doctype()
{
    // A document type declaration, once and before the root.
    if (!startsWith("<!DOCTYPE") || m_rootSeen || std::exchange(m_doctypeSeen, true))
        return fail("dichiarazione non valida o fuori posto"), Event::Error;
    const std::size_t e = doctypeEnd();
    if (e == std::string::npos)
        return fail("dichiarazione del tipo di documento non chiusa o non valida"), Event::Error;
    m_pos = e + 1;
    return std::nullopt;
}

int XmlPullReader::byteAt(std::size_t i)
{
    while (i >= m_buf.size())
        if (!fill())
            return -1;
    return static_cast<unsigned char>(m_buf[i]);
}

bool XmlPullReader::passQuoted(std::size_t& i)
{
    const std::size_t e = find(m_buf[i], i + 1);
    i = e + 1;
    return e != std::string::npos;
}

std::size_t XmlPullReader::doctypeEnd()
{
    // Its internal subset is passed over declaration by declaration: quoted strings, comments
    // and instructions whole, so that no '>' or ']' inside them ends it.
    enum { BeforeSubset, InSubset, AfterSubset } where = BeforeSubset;
    std::size_t i = m_pos + 9;
    for (;;) {
        const int c = byteAt(i);
        if (c < 0)
            return std::string::npos;
        if (c == '>' && where != InSubset)
            return i;
        if (where == AfterSubset && !isSpace(static_cast<char>(c)))
            return std::string::npos;
        if ((c == '"' || c == '\'') && where != AfterSubset) {
            if (!passQuoted(i))
                return std::string::npos;
        } else if (c == '[' && where == BeforeSubset) {
            where = InSubset;
            ++i;
        } else if (c == ']' && where == InSubset) {
            where = AfterSubset;
            ++i;
        } else if (c == '<' && where == InSubset) {
            // '>' of the comment, instruction or markup declaration that begins here
            std::size_t e = std::string::npos;
            const int after = byteAt(i + 1);
            if (after == '?' && (e = find("?>", i + 2)) != std::string::npos)
                e += 1;
            else if (after == '!' && startsWithAt(i, "<!--")) {
                if ((e = find("-->", i + 4)) != std::string::npos)
                    e += 2;
            } else if (after == '!' && (startsWithAt(i, "<!ELEMENT") || startsWithAt(i, "<!ATTLIST") ||
                                        startsWithAt(i, "<!ENTITY") || startsWithAt(i, "<!NOTATION")))
                e = declarationEnd(i + 2);
            if (e == std::string::npos)
                return std::string::npos;
            i = e + 1;
        } else if (c == '<') {
            return std::string::npos;
        } else {
            ++i; // names, blanks and parameter entity references
        }
    }
}

std::size_t XmlPullReader::declarationEnd(std::size_t i)
{
    for (;;) {
        const int c = byteAt(i);
        if (c < 0 || c == '<')
            return std::string::npos;
        if (c == '>')
            return i;
        if (c == '"' || c == '\'') {
            if (!passQuoted(i))
                return std::string::npos;
        } else {
            ++i;
        }
    }
}

bool XmlPullReader::startsWithAt(std::size_t i, std::string_view s)
{
    while (m_buf.size() < i + s.size())
        if (!fill())
            return false;
    return std::string_view(m_buf).substr(i, s.size()) == s;
}

std::optional<XmlPullReader::Event> XmlPullReader::markup(bool atStart)
{
    // A start tag, the commonest markup, skips the checks for the others.
    if (m_pos + 1 < m_buf.size()) {
        const char c = m_buf[m_pos + 1];
        if (c != '?' && c != '!' && c != '/')
            return startTag();
    }
    if (startsWith("<?"))
        return processingInstruction(atStart);
    if (startsWith("<!--"))
        return comment();
    if (startsWith("<![CDATA["))
        return cdata();
    if (m_failed)
        return Event::Error;
    if (startsWith("<!"))
        return doctype();
    if (m_failed)
        return Event::Error;
    if (startsWith("</"))
        return endTag();
    if (m_failed)
        return Event::Error;
    return startTag();
}

std::optional<XmlPullReader::Event> XmlPullReader::textRun()
{
    const std::size_t lt = find('<', m_pos);
    if (m_failed)
        return Event::Error;
    const std::size_t end = lt == std::string::npos ? m_buf.size() : lt;
    const std::string_view raw(m_buf.data() + m_pos, end - m_pos);
    if (m_open.empty()) {
        if (!allSpace(raw))
            return fail("testo fuori dall'elemento radice"), Event::Error;
        m_pos = end;
        return std::nullopt;
    }
    m_text.clear();
    if (!decodeEntities(raw, m_text, false))
        return Event::Error;
    m_pos = end;
    return Event::Text;
}

XmlPullReader::Event XmlPullReader::endOfInput()
{
    if (m_failed)
        return Event::Error;
    if (!m_rootSeen)
        return fail("nessun elemento nel documento"), Event::Error;
    if (!m_open.empty())
        return fail("documento incompleto: manca </" + m_open.back() + ">"), Event::Error;
    m_done = true;
    return Event::EndOfDocument;
}

XmlPullReader::Event XmlPullReader::next()
{
    if (m_failed || !m_decoder)
        return Event::Error;
    if (m_done)
        return Event::EndOfDocument;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        m_name = std::move(m_open.back());
        m_open.pop_back();
        return Event::EndElement;
    }
    for (;;) {
        compact();
        const bool atStart = std::exchange(m_atStart, false);
        if (m_pos >= m_buf.size() && !fill())
            return endOfInput();
        const std::optional<Event> e = m_buf[m_pos] == '<' ? markup(atStart) : textRun();
        if (e)
            return *e;
    }
}

} // namespace zs::engine
