// The streaming reader of XML data files: the same events whatever the size of the pieces the
// file is read in (tags, entities and multi-byte characters split across pieces), the faults of
// a document reported with their line, encodings, and nesting deeper than any stack.

#include "engine/XmlPullReader.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <string>

namespace zs::engine {
namespace {

/// The events of a file as text: "<name a=v>", "text", "</name>", then "." at the end or
/// "!line: error".
std::string trace(const std::filesystem::path& file, std::size_t chunk)
{
    XmlPullReader r(chunk);
    if (!r.open(file))
        return "!open: " + r.error();
    std::string out;
    for (;;) {
        switch (r.next()) {
        case XmlPullReader::Event::StartElement:
            out += "<" + r.name();
            for (const auto& a : r.attributes())
                out += " " + a.name + "=" + a.value;
            out += ">";
            break;
        case XmlPullReader::Event::EndElement:
            out += "</" + r.name() + ">";
            break;
        case XmlPullReader::Event::Text:
            out += r.text();
            break;
        case XmlPullReader::Event::EndOfDocument:
            return out + ".";
        case XmlPullReader::Event::Error:
            return out + "!" + std::to_string(r.errorLine()) + ": " + r.error();
        }
    }
}

TEST(XmlPullReader, TheEventsDoNotDependOnThePieces)
{
    struct Case {
        const char* name;
        std::string xml;
        std::string events;
    };
    const Case cases[] = {
        {"attributes, empty elements, text", "<?xml version='1.0'?>\n<R a=\"1\" b='x y'><C/>testo<D k='v'>d</D></R>\n",
         "<R a=1 b=x y><C></C>testo<D k=v>d</D></R>."},
        {"entities and character references", "<R t='&lt;&amp;&quot;&apos;&gt;'>&#224;&#x20AC;&amp;x</R>",
         "<R t=<&\"'>>à€&x</R>."},
        {"line ends: CR LF and CR read as LF; blanks in attributes", "<R a='1\r\n2\t3'>a\r\nb\rc</R>",
         "<R a=1 2 3>a\nb\nc</R>."},
        {"comments, processing instructions, CDATA, doctype",
         "<!DOCTYPE R [<!ELEMENT R ANY>]><!-- c > --><R><?pi x?><![CDATA[<not> & tag]]><!-- a - b --></R>",
         "<R><not> & tag</R>."},
        {"'>' inside a quoted attribute value", "<R a='x>y'/>", "<R a=x>y></R>."},
        {"prefixed names", "<x:R xmlns:x='urn:x'><x:C x:a='1'/></x:R>", "<x:R xmlns:x=urn:x><x:C x:a=1></x:C></x:R>."},
        {"multi-byte text", "<R>Città € \xF0\x9F\x98\x80 ok</R>", "<R>Città € \xF0\x9F\x98\x80 ok</R>."},
        {"mismatched end tag", "<R>\n<A></B></R>", "<R>\n<A>!2: tag di chiusura </B> inatteso: atteso </A>"},
        {"unknown entity", "<R>\n\n&nbsp;</R>", "<R>!3: entità sconosciuta &nbsp;"},
        {"two roots", "<R/><S/>", "<R></R>!1: più di un elemento radice"},
        {"text outside the root", "<R/>x", "<R></R>!1: testo fuori dall'elemento radice"},
        {"unfinished document", "<R><A>", "<R><A>!1: documento incompleto: manca </A>"},
        {"unclosed tag", "<R a='1", "!1: tag non chiuso"},
        {"empty file", "", "!1: nessun elemento nel documento"},
        {"invalid UTF-8", "<R>a\xC3(</R>", "!1: il testo non è UTF-8 valido (byte 0xC3)"},
        {"long values: entities, line breaks and tabs past the first eight bytes; fewer attributes next",
         "<R a='abcdefghijkl&amp;mnopqrstuvw\tx' b='0123456789\r\n0123456789'><S c='1'/>0123456789&lt;&#224;</R>",
         "<R a=abcdefghijkl&mnopqrstuvw x b=0123456789 0123456789><S c=1></S>0123456789<à</R>."},
        {"a control character after a long run", "<R>\n0123456789abcdef\x01</R>",
         "!2: carattere di controllo (byte 1) non ammesso"},
        {"invalid UTF-8 after a long ASCII run", "<R>0123456789abcdefghij\xFF</R>",
         "!1: il testo non è UTF-8 valido (byte 0xFF)"},
    };
    zs::test::TempDir dir;
    for (const Case& c : cases) {
        zs::test::writeFile(dir / "f.xml", c.xml);
        for (std::size_t chunk : {64, 65, 67, 4096}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(chunk));
            std::string events = trace(dir / "f.xml", chunk);
            // Text may arrive in several events; what matters is what they carry, in order.
            EXPECT_EQ(events, c.events);
        }
    }
}

TEST(XmlPullReader, LineEndsReadAsLineFeedsEverywhereCdataIncluded)
{
    // A CR LF or a lone CR is one line feed in text, in CDATA and in a value (there a blank),
    // also where the pair falls on the edge of two pieces; a character reference keeps its CR.
    zs::test::TempDir dir;
    const std::string pad(61, 'x'); // puts the first CR of the CDATA at the end of a 64-byte piece
    zs::test::writeFile(dir / "f.xml", "<R><![CDATA[" + pad + "\r\nb\rc\r\n\r\nd]]>e\r\nf&#13;<A v='1\r\n2'/>\r</R>");
    for (std::size_t chunk : {64, 65, 4096})
        EXPECT_EQ(trace(dir / "f.xml", chunk), "<R>" + pad + "\nb\nc\n\nde\nf\r<A v=1 2></A>\n</R>.") << chunk;
    // The lines of a fault count lone CRs too.
    zs::test::writeFile(dir / "g.xml", "<R>\r\r<A></B></R>");
    EXPECT_EQ(trace(dir / "g.xml", 4096), "<R>\n\n<A>!3: tag di chiusura </B> inatteso: atteso </A>");
}

TEST(XmlPullReader, DocumentsXmlRefusesAreRefusedWithLineAndColumn)
{
    const struct {
        const char* name;
        std::string xml;
        int line, column;
        const char* error;
    } cases[] = {
        {"'<' in a value", "<R>\n  <A v='a<b'/></R>", 2, 10, "'<' nel valore di un attributo"},
        {"']]>' in text", "<R>\nab]]>c</R>", 2, 3, "']]>' nel testo"},
        {"a declaration without version", "<?xml encoding='UTF-8'?><R/>", 1, 1, "dichiarazione XML non valida"},
        {"a declaration with a bad version", "<?xml version='2'?><R/>", 1, 1, "dichiarazione XML non valida"},
        {"a declaration's items out of order", "<?xml version='1.0' standalone='yes' encoding='UTF-8'?><R/>", 1, 1,
         "dichiarazione XML non valida"},
        {"a declaration's unknown item", "<?xml version='1.0' lingua='it'?><R/>", 1, 1, "dichiarazione XML non valida"},
        {"a declaration not first", "\n<?xml version='1.0'?><R/>", 2, 1,
         "dichiarazione XML non all'inizio del documento"},
        {"a reserved instruction name", "<R><?XML x?></R>", 1, 4,
         "nome di istruzione di elaborazione non valido: 'XML'"},
        {"an element name with a bad character", "<R>\n <A&b/></R>", 2, 3, "nome di elemento non valido: A&b"},
        {"an element name beginning with a digit", "<R><1a/></R>", 1, 5, "nome di elemento non valido: 1a"},
        {"an element name with a character no name holds", "<R><a\xC2\xA7/></R>", 1, 5,
         "nome di elemento non valido: a\xC2\xA7"},
        {"an attribute name with a bad character", "<R>\xC3\xA8\n<A \xC3\xA8x='1' b@='2'/></R>", 2, 11,
         "nome di attributo non valido: b@"},
        {"no blank between attributes", "<R a='1'b='2'/>", 1, 9,
         "manca uno spazio prima dell'attributo nell'elemento R"},
        {"a repeated attribute", "<R a='1' a='2'/>", 1, 10, "attributo a ripetuto nell'elemento R"},
        {"'--' in a comment", "<R><!-- a -- b --></R>", 1, 11, "'--' dentro un commento"},
        {"a declaration that is not one", "<!ELEMENT R ANY><R/>", 1, 1, "dichiarazione non valida o fuori posto"},
        {"a document type whose subset holds a stray quote", "<!DOCTYPE R [<!ELEMENT R AN<Y\">]><R/>", 1, 1,
         "dichiarazione del tipo di documento non chiusa o non valida"},
        {"a document type whose subset holds no declaration", "<!DOCTYPE R [<!-ELEMENT R ANY>]><R/>", 1, 1,
         "dichiarazione del tipo di documento non chiusa o non valida"},
        {"a document type after the root", "<R/><!DOCTYPE R>", 1, 5, "dichiarazione non valida o fuori posto"},
        {"a character reference with a blank", "<R>&# 32;</R>", 1, 4, "riferimento a carattere non valido &# 32;"},
    };
    zs::test::TempDir dir;
    for (const auto& c : cases) {
        zs::test::writeFile(dir / "c.xml", c.xml);
        for (std::size_t chunk : {64, 4096}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(chunk));
            XmlPullReader r(chunk);
            ASSERT_TRUE(r.open(dir / "c.xml"));
            auto e = r.next();
            while (e != XmlPullReader::Event::Error && e != XmlPullReader::Event::EndOfDocument)
                e = r.next();
            ASSERT_EQ(e, XmlPullReader::Event::Error);
            EXPECT_EQ(r.error(), c.error);
            EXPECT_EQ(r.errorLine(), c.line);
            EXPECT_EQ(r.errorColumn(), c.column);
        }
    }
}

TEST(XmlPullReader, TheLineOfAFaultCountsTheLinesOfPiecesAlreadyDropped)
{
    zs::test::TempDir dir;
    std::string xml = "<R>\n";
    std::string events = "<R>\n";
    for (int i = 0; i < 300; ++i) {
        xml += "<A v='valore con > dentro'/>\n";
        events += "<A v=valore con > dentro></A>\n";
    }
    zs::test::writeFile(dir / "f.xml", xml + "<B></C></R>");
    for (std::size_t chunk : {64, 4096})
        EXPECT_EQ(trace(dir / "f.xml", chunk), events + "<B>!302: tag di chiusura </C> inatteso: atteso </B>") << chunk;
}

TEST(XmlPullReader, DeclaredEncodingsBecomeUtf8AndUnknownOnesAreRefused)
{
    zs::test::TempDir dir;
    // A long windows-1252 text, so characters fall on the edges of the pieces.
    std::string body;
    for (int i = 0; i < 500; ++i)
        body += "\xE0\x80";
    zs::test::writeFile(dir / "w.xml", "<?xml version='1.0' encoding='windows-1252'?><R>" + body + "</R>");
    std::string expected;
    for (int i = 0; i < 500; ++i)
        expected += "à€";
    EXPECT_EQ(trace(dir / "w.xml", 64), "<R>" + expected + "</R>.");

    std::string utf16be = "\xFE\xFF";
    for (char16_t ch : std::u16string(u"<R>\u00E8\U0001F600</R>")) {
        utf16be += static_cast<char>(ch >> 8);
        utf16be += static_cast<char>(ch & 0xFF);
    }
    zs::test::writeFile(dir / "u.xml", utf16be);
    EXPECT_EQ(trace(dir / "u.xml", 64), "<R>è\xF0\x9F\x98\x80</R>.");

    zs::test::writeFile(dir / "k.xml", "<?xml version='1.0' encoding='x-klingon'?><R/>");
    EXPECT_EQ(trace(dir / "k.xml", 64), "!open: codifica sconosciuta: x-klingon");
    // 0x81 is no character of windows-1252.
    zs::test::writeFile(dir / "b.xml", "<?xml version='1.0' encoding='windows-1252'?><R>\n\x81</R>");
    EXPECT_EQ(trace(dir / "b.xml", 4096), "!2: byte non valido per la codifica windows-1252 (0x81)");
}

TEST(XmlPullReader, ControlCharactersAreRefusedWithTheirLineAndTabCrLfPass)
{
    // A NUL too, wherever it stands (text, attribute, markup; in UTF-8 or as U+0000 of UTF-16),
    // and whatever the pieces: the file is refused at the character's line.
    std::string utf16le = "\xFF\xFE";
    for (char16_t ch : std::u16string(u"<R>\n\n\na\u0000b</R>", 13)) {
        utf16le += static_cast<char>(ch & 0xFF);
        utf16le += static_cast<char>(ch >> 8);
    }
    const struct {
        const char* name;
        std::string xml;
        std::string events;
    } cases[] = {
        {"NUL in text", std::string("<R>\n<A>x</A>\n<A>a\0b</A></R>", 27), "!3: carattere NUL (byte 0) non ammesso"},
        {"NUL in an attribute", std::string("<R>\n<A k='\0'/></R>", 19), "!2: carattere NUL (byte 0) non ammesso"},
        {"NUL in markup", std::string("<R\0>\n</R>", 10), "!1: carattere NUL (byte 0) non ammesso"},
        {"NUL far into the file", std::string(100000, ' ') + "<R>\n" + std::string(1, '\0') + "</R>",
         "!2: carattere NUL (byte 0) non ammesso"},
        {"NUL in UTF-16", utf16le, "!4: carattere NUL (byte 0) non ammesso"},
        {"SOH in text",
         "<R>\n<A>a\x01"
         "b</A></R>",
         "!2: carattere di controllo (byte 1) non ammesso"},
        {"US in an attribute", "<R>\n\n<A k='\x1F'/></R>", "!3: carattere di controllo (byte 31) non ammesso"},
        {"ESC far into the file", std::string(100000, ' ') + "<R>\n\x1B</R>",
         "!2: carattere di controllo (byte 27) non ammesso"},
        {"as a character reference", "<R>&#1;</R>", "<R>!1: riferimento a carattere non valido &#1;"},
        {"tab, CR and LF", "<R a='\t'>x\ty\r\nz&#9;&#13;</R>", "<R a= >x\ty\nz\t\r</R>."},
    };
    zs::test::TempDir dir;
    for (const auto& c : cases) {
        zs::test::writeFile(dir / "c.xml", c.xml);
        for (std::size_t chunk : {64, 65, 4096}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(chunk));
            const std::string events = trace(dir / "c.xml", chunk);
            if (c.events.front() == '!') {
                ASSERT_NE(events.find('!'), std::string::npos) << events;
                EXPECT_EQ(events.substr(events.find('!')), c.events) << events;
            } else {
                EXPECT_EQ(events, c.events);
            }
        }
    }
}

TEST(XmlPullReader, ALinkAtTheFilesNameIsRefusedUnread)
{
    // A data file swapped for a link after the import listed its folder: the link is refused at
    // the open, and what it points to is never read.
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "altrove.xml", "<ROOT><R a='1'/></ROOT>");
    std::filesystem::create_symlink(dir / "altrove.xml", dir / "dati.xml");
    EXPECT_EQ(trace(dir / "dati.xml", 4096),
              "!open: " + (dir / "dati.xml").string() + ": è un collegamento, non un file");
    EXPECT_EQ(trace(dir / "altrove.xml", 4096), "<ROOT><R a=1></R></ROOT>.");
}

TEST(XmlPullReader, DeepNestingIsNoProblem)
{
    zs::test::TempDir dir;
    const int depth = 200000;
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    zs::test::writeFile(dir / "deep.xml", xml);
    XmlPullReader r;
    ASSERT_TRUE(r.open(dir / "deep.xml"));
    std::size_t deepest = 0, events = 0;
    for (auto e = r.next(); e != XmlPullReader::Event::EndOfDocument; e = r.next()) {
        ASSERT_NE(e, XmlPullReader::Event::Error) << r.error();
        deepest = std::max(deepest, r.depth());
        ++events;
    }
    EXPECT_EQ(deepest, static_cast<std::size_t>(depth));
    EXPECT_EQ(events, 2u * depth);
}

} // namespace
} // namespace zs::engine
