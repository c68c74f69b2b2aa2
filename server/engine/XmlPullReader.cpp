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

struct ByteClasses {
    unsigned char of[256] = {};
    constexpr ByteClasses()
    {
        for (unsigned char c : {'"', '\'', '>', '<'})
            of[c] |= kTagStop;
        for (unsigned char c : {'=', ' ', '\t', '\n', '\r'})
            of[c] |= kNameEnd;
        for (unsigned char c : {'&', '\r'})
            of[c] |= kTextSpecial | kValueSpecial;
        for (unsigned char c : {'\n', '\t'})
            of[c] |= kValueSpecial;
    }
};
constexpr ByteClasses kClasses;

unsigned char classOf(char c)
{
    return kClasses.of[static_cast<unsigned char>(c)];
}

/// The first character of `s` that decodeEntities() must look at ('&', a carriage return and,
/// in an attribute, a line feed or a tab), or npos. Eight bytes at a time: most values hold none.
std::size_t firstSpecial(std::string_view s, bool attribute)
{
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        const std::uint64_t w = loadWord(s.data() + i);
        if (wordHas(w, '&') || wordHas(w, '\r') || (attribute && (wordHas(w, '\n') || wordHas(w, '\t'))))
            break;
    }
    const unsigned char special = attribute ? kValueSpecial : kTextSpecial;
    for (; i < s.size(); ++i)
        if (classOf(s[i]) & special)
            return i;
    return std::string_view::npos;
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
                error = "il testo non è UTF-8 valido (byte 0x" + hex(raw[ok]) + ")";
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
    if (!m_failed) {
        m_failed = true;
        m_error = text;
        m_errorLine = m_reading ? currentLine() : 0;
    }
    return false;
}

int XmlPullReader::currentLine() const
{
    const auto before = static_cast<long long>(countLines(std::string_view(m_buf).substr(0, m_pos)));
    return static_cast<int>(m_linesBefore + before + 1);
}

bool XmlPullReader::fill()
{
    if (m_eof || m_failed)
        return false;
    if (m_buf.size() - m_pos > kMaxToken)
        return fail("elemento o testo più lungo di " + std::to_string(kMaxToken / (1024 * 1024)) + " MB");
    const std::size_t before = m_buf.size();
    std::string error;
    // A piece may end inside a character: read on until something is decoded or the file ends.
    do {
        if (!m_decoder->decode(m_buf, m_chunk, m_encoding, error)) {
            // The line of a bad byte is where the decoded text ends.
            const std::size_t keep = m_pos;
            m_pos = m_buf.size();
            fail(error);
            m_pos = keep;
            return false;
        }
    } while (m_buf.size() == before && !(m_decoder->rawEof && m_decoder->raw.empty()));
    if (m_buf.size() == before) {
        m_eof = true;
        return false;
    }
    // No XML text holds a control character other than tab, CR and LF (NUL included), in any
    // encoding: refused with its line, as the document reader refuses NUL.
    const auto* p = reinterpret_cast<const unsigned char*>(m_buf.data());
    for (std::size_t i = before, n = m_buf.size(); i < n; ++i) {
        // Eight bytes at a time while none can be below 0x20 (line feeds come once a line).
        while (i + 8 <= n && !text::wordMayHoldBelow(loadWord(m_buf.data() + i), 0x20))
            i += 8;
        if (i >= n)
            break;
        if (p[i] >= 0x20 || p[i] == '\t' || p[i] == '\n' || p[i] == '\r')
            continue;
        const std::size_t keep = m_pos;
        m_pos = i;
        fail(p[i] == 0 ? std::string("carattere NUL (byte 0) non ammesso")
                       : "carattere di controllo (byte " + std::to_string(p[i]) + ") non ammesso");
        m_pos = keep;
        return false;
    }
    return true;
}

void XmlPullReader::compact()
{
    if (m_pos < m_chunk)
        return;
    m_linesBefore += static_cast<long long>(countLines(std::string_view(m_buf).substr(0, m_pos)));
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
    for (std::size_t i = first; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            // Line ends read as a line feed; in an attribute every line break is a blank.
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            out += attribute ? ' ' : '\n';
        } else if (attribute && (c == '\n' || c == '\t')) {
            out += ' ';
        } else if (c == '&') {
            const std::size_t semi = raw.find(';', i + 1);
            if (semi == std::string_view::npos || semi - i > 12)
                return fail("'&' non seguito da un'entità");
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
                char* end = nullptr;
                const unsigned long cp = digits.empty() ? 0 : std::strtoul(digits.c_str(), &end, hexForm ? 16 : 10);
                if (digits.empty() || *end != '\0' || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') ||
                    cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
                    return fail("riferimento a carattere non valido &" + std::string(name) + ";");
                text::appendUtf8(out, static_cast<char32_t>(cp));
            } else {
                return fail("entità sconosciuta &" + std::string(name) + ";");
            }
            i = semi;
        } else {
            out += c;
        }
    }
    return true;
}

XmlPullReader::Event XmlPullReader::startTag(std::size_t end)
{
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
    // The attributes' strings keep their storage from one tag to the next.
    m_attributeCount = 0;
    for (;;) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size())
            break;
        const std::size_t nameStart = i;
        while (i < tag.size() && !(classOf(tag[i]) & kNameEnd))
            ++i;
        if (m_attributeCount == m_attributes.size())
            m_attributes.emplace_back();
        Attribute& a = m_attributes[m_attributeCount];
        a.name.assign(tag.substr(nameStart, i - nameStart));
        a.value.clear();
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (a.name.empty() || i >= tag.size() || tag[i] != '=')
            return fail("attributo senza valore nell'elemento " + name), Event::Error;
        ++i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            return fail("valore dell'attributo " + a.name + " senza virgolette"), Event::Error;
        const char quote = tag[i];
        const std::size_t close = tag.find(quote, i + 1);
        if (close == std::string_view::npos)
            return fail("valore dell'attributo " + a.name + " non chiuso"), Event::Error;
        if (!decodeEntities(tag.substr(i + 1, close - i - 1), a.value, true))
            return Event::Error;
        i = close + 1;
        ++m_attributeCount;
    }
    if (m_open.empty() && m_rootSeen)
        return fail("più di un elemento radice"), Event::Error;
    m_rootSeen = true;
    m_open.push_back(name);
    m_name = std::move(name);
    m_pos = end + 1;
    m_pendingEnd = empty;
    return Event::StartElement;
}

XmlPullReader::Event XmlPullReader::endTag(std::size_t end)
{
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
    const auto startsWith = [this](std::string_view s) {
        while (m_buf.size() - m_pos < s.size())
            if (!fill())
                return false;
        return std::string_view(m_buf).substr(m_pos, s.size()) == s;
    };
    for (;;) {
        compact();
        if (m_pos >= m_buf.size() && !fill()) {
            if (m_failed)
                return Event::Error;
            if (!m_rootSeen)
                return fail("nessun elemento nel documento"), Event::Error;
            if (!m_open.empty())
                return fail("documento incompleto: manca </" + m_open.back() + ">"), Event::Error;
            m_done = true;
            return Event::EndOfDocument;
        }
        if (m_buf[m_pos] != '<') {
            const std::size_t lt = find('<', m_pos);
            if (m_failed)
                return Event::Error;
            const std::size_t end = lt == std::string::npos ? m_buf.size() : lt;
            const std::string_view raw(m_buf.data() + m_pos, end - m_pos);
            if (m_open.empty()) {
                if (!allSpace(raw))
                    return fail("testo fuori dall'elemento radice"), Event::Error;
                m_pos = end;
                continue;
            }
            m_text.clear();
            if (!decodeEntities(raw, m_text, false))
                return Event::Error;
            m_pos = end;
            return Event::Text;
        }
        // A start tag, the commonest markup, skips the checks for the others.
        const bool plainTag =
            m_pos + 1 < m_buf.size() && m_buf[m_pos + 1] != '?' && m_buf[m_pos + 1] != '!' && m_buf[m_pos + 1] != '/';
        if (!plainTag && startsWith("<?")) {
            const std::size_t e = find("?>", m_pos + 2);
            if (e == std::string::npos)
                return fail("istruzione di elaborazione non chiusa"), Event::Error;
            m_pos = e + 2;
            continue;
        }
        if (!plainTag && startsWith("<!--")) {
            const std::size_t e = find("-->", m_pos + 4);
            if (e == std::string::npos)
                return fail("commento non chiuso"), Event::Error;
            m_pos = e + 3;
            continue;
        }
        if (!plainTag && startsWith("<![CDATA[")) {
            if (m_open.empty())
                return fail("sezione CDATA fuori dall'elemento radice"), Event::Error;
            const std::size_t e = find("]]>", m_pos + 9);
            if (e == std::string::npos)
                return fail("sezione CDATA non chiusa"), Event::Error;
            m_text.assign(m_buf, m_pos + 9, e - m_pos - 9);
            m_pos = e + 3;
            return Event::Text;
        }
        if (m_failed)
            return Event::Error;
        if (!plainTag && startsWith("<!")) {
            // A document type declaration, with its internal subset when it has one.
            std::size_t e = find('>', m_pos + 2);
            const std::size_t bracket = m_buf.find('[', m_pos + 2);
            if (e != std::string::npos && bracket != std::string::npos && bracket < e) {
                const std::size_t close = find(']', bracket);
                e = close == std::string::npos ? close : find('>', close);
            }
            if (e == std::string::npos)
                return fail("dichiarazione non chiusa"), Event::Error;
            m_pos = e + 1;
            continue;
        }
        if (m_failed)
            return Event::Error;
        if (!plainTag && startsWith("</")) {
            const std::size_t e = find('>', m_pos + 2);
            if (e == std::string::npos)
                return fail("tag di chiusura non chiuso"), Event::Error;
            return endTag(e);
        }
        if (m_failed)
            return Event::Error;
        // A start tag ends at the first '>' outside quotes.
        std::size_t i = m_pos + 1;
        char quote = 0;
        for (;;) {
            if (i >= m_buf.size() && !fill())
                return fail("tag non chiuso"), Event::Error;
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
                break;
            if (c == '<')
                return fail("'<' dentro un tag"), Event::Error;
            quote = c;
            ++i;
        }
        return startTag(i);
    }
}

} // namespace zs::engine
