#include "xml/XmlDocument.h"

#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

using zs::xml::Document;
using zs::xml::ParseError;

TEST(XmlDocument, ReadsElementsAttributesAndLocalNames)
{
    auto doc = Document::loadString(
        "<?xml version=\"1.0\"?>\n<x:Root a=\"1\">\n  <B>uno<C>due</C></B>\n  <!-- c -->\n  <D/>\n</x:Root>");
    ASSERT_TRUE(doc);
    auto root = doc->root();
    EXPECT_EQ(root.name(), "x:Root");
    EXPECT_EQ(root.localName(), "Root");
    EXPECT_EQ(root.attribute("a").value_or(""), "1");
    EXPECT_FALSE(root.attribute("b"));
    auto kids = root.children();
    ASSERT_EQ(kids.size(), 2u);
    EXPECT_EQ(kids[0].name(), "B");
    EXPECT_EQ(kids[0].text(), "unodue");
    EXPECT_EQ(kids[1].name(), "D");
    EXPECT_EQ(kids[0].nextSibling(), kids[1]);
    EXPECT_TRUE(root.child("nope").isNull());
    EXPECT_EQ(root.child("nope").text(), "");
}

TEST(XmlDocument, ParseErrorCarriesLineReasonAndSource)
{
    ParseError err;
    auto doc = Document::loadString("<a>\n  <b>\n</a>", &err);
    EXPECT_FALSE(doc);
    EXPECT_NE(err.code, 0);
    EXPECT_EQ(err.line, 3);
    EXPECT_FALSE(err.reason.empty());
    EXPECT_EQ(err.sourceLine, "</a>");
}

TEST(XmlDocument, MissingFileIsAnError)
{
    zs::test::TempDir dir;
    ParseError err;
    EXPECT_FALSE(Document::loadFile(dir / "none.xml", &err));
    EXPECT_EQ(err.code, Document::kFileNotFound);
}

TEST(XmlDocument, BuildsAndSerialisesRaw)
{
    Document doc;
    doc.setDeclaration();
    auto root = doc.createRoot("stat");
    auto m = root.appendChild("modulo");
    m.setAttribute("nome", "a&b");
    m.setText("è <x>");
    EXPECT_EQ(doc.xml(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><stat><modulo nome=\"a&amp;b\">è &lt;x&gt;</modulo></stat>");
    root.removeChild(m);
    EXPECT_EQ(root.xml(), "<stat/>");
}

TEST(XmlDocument, HostileTextsGiveAnErrorOrADocumentNeverACrash)
{
    struct Expect {
        const char* name;
        bool loads;
        int code; // expected code when it does not load (0: any)
    };
    const Expect table[] = {
        {"deep", false, Document::kTooDeep},
        {"deep_unclosed", false, 0},
        {"huge", true, 0},
        {"nul", false, 0},
        {"truncated", false, 0},
        {"utf16", true, 0},
        {"latin1", true, 0},
        {"bad_utf8", true, 0},
        {"empty", false, 0},
        {"not_xml", false, 0},
    };
    const auto files = zs::test::hostileXmlFiles("dati", "<riga id=\"1\">uno</riga>");
    ASSERT_EQ(files.size(), std::size(table));
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        ASSERT_EQ(files[i].name, table[i].name);
        ParseError err;
        auto doc = Document::loadString(files[i].bytes, &err);
        EXPECT_EQ(doc.has_value(), table[i].loads) << err.reason;
        if (!doc) {
            EXPECT_NE(err.code, 0);
            EXPECT_FALSE(err.reason.empty());
            if (table[i].code) {
                EXPECT_EQ(err.code, table[i].code);
            }
            continue;
        }
        // Every walk the readers use runs over the whole document.
        auto root = doc->root();
        EXPECT_EQ(root.name(), "dati");
        EXPECT_FALSE(root.text().empty());
        EXPECT_FALSE(doc->xml().empty());
        for (const auto& c : root.children())
            (void)c.xml();
    }
}

TEST(XmlDocument, LatinOneAndUtf16FilesReadAsUtf8)
{
    auto latin = Document::loadString("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>citt\xE0</a>");
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->root().text(), "citt\xC3\xA0");
    const std::string utf16("\xFF\xFE<\0a\0>\0x\0<\0/\0a\0>\0", 18);
    auto wide = Document::loadString(utf16);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->root().text(), "x");
}

TEST(XmlDocument, NestingLimitIsExactAndTheErrorPointsAtTheElement)
{
    auto nested = [](int levels) {
        std::string s;
        for (int i = 0; i < levels; ++i)
            s += i + 1 == levels ? "\n<z>" : "<z>";
        s += "t";
        for (int i = 0; i < levels; ++i)
            s += "</z>";
        return s;
    };
    auto ok = Document::loadString(nested(Document::kMaxDepth));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->root().text(), "t");
    ParseError err;
    EXPECT_FALSE(Document::loadString(nested(Document::kMaxDepth + 1), &err));
    EXPECT_EQ(err.code, Document::kTooDeep);
    EXPECT_EQ(err.line, 2);
    EXPECT_EQ(err.column, 1);
    EXPECT_EQ(err.reason, "Elements nested deeper than 1000 levels");
}

TEST(XmlDocument, NulByteIsAnErrorAtItsPlace)
{
    ParseError err;
    EXPECT_FALSE(Document::loadString(std::string("<a>\nx\0y</a>", 11), &err));
    EXPECT_NE(err.code, 0);
    EXPECT_EQ(err.line, 2);
    EXPECT_EQ(err.column, 2);
}

TEST(XmlDocument, DeepTreesBuiltInMemoryWalkPrintAndRemoveWithoutRecursion)
{
    Document doc;
    auto root = doc.createRoot("r");
    auto e = root.appendChild("top");
    for (int i = 0; i < zs::test::kHostileDepth; ++i)
        e = e.appendChild("a");
    e.setText("fondo");
    const auto top = root.firstChild();
    EXPECT_EQ(top.text(), "fondo");
    EXPECT_EQ(doc.xml().size(), std::string("<r><top>").size() + 7u * zs::test::kHostileDepth + 5 + 10);
    root.removeChild(top);
    EXPECT_EQ(root.xml(), "<r/>");

    auto again = root.appendChild("top");
    for (int i = 0; i < zs::test::kHostileDepth; ++i)
        again = again.appendChild("a");
    root.setText("nuovo");
    EXPECT_EQ(doc.xml(), "<r>nuovo</r>");

    auto third = root.appendChild("top");
    for (int i = 0; i < zs::test::kHostileDepth; ++i)
        third = third.appendChild("a");
    (void)doc.createRoot("altro");
    EXPECT_EQ(doc.xml(), "<altro/>");
}

TEST(XmlDocument, SourceLineOfAHugeLineIsAnExcerptAroundTheFault)
{
    std::string text = "<a>" + std::string(100000, 'x') + "\xC3\xA0" + "<b></a>" + std::string(100000, 'y');
    ParseError err;
    EXPECT_FALSE(Document::loadString(text, &err));
    EXPECT_EQ(err.line, 1);
    EXPECT_GT(err.column, 100000);
    EXPECT_LE(err.sourceLine.size(), 200u);
    EXPECT_NE(err.sourceLine.find("</a>"), std::string::npos) << err.sourceLine;
    EXPECT_NE(err.sourceLine.find("\xC3\xA0"), std::string::npos);
}

TEST(XmlDocument, CopiesElementsAndContentAcrossDocuments)
{
    auto from =
        Document::loadString("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><a k=\"1\">uno<b/><!-- c --></a></r>");
    auto to = Document::loadString("<s><x/><y q=\"2\">vecchio</y></s>");
    ASSERT_TRUE(from && to);
    const auto a = from->root().child("a");
    EXPECT_EQ(a.innerXml(), "uno<b/><!-- c -->");
    const auto copy = to->root().insertCopyBefore(a, to->root().child("y"));
    EXPECT_EQ(copy.xml(), a.xml());
    to->root().child("y").copyContentFrom(a);
    EXPECT_EQ(to->root().xml(), "<s><x/><a k=\"1\">uno<b/><!-- c --></a><y q=\"2\">uno<b/><!-- c --></y></s>");
    EXPECT_TRUE(to->root().insertCopyBefore(zs::xml::Element(), {}).isNull());

    // A clone stands on its own: the declaration comes along, a change stays on its side.
    Document clone = from->clone();
    clone.root().child("a").setAttribute("k", "2");
    EXPECT_EQ(clone.xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><a k=\"2\">uno<b/><!-- c --></a></r>");
    EXPECT_EQ(from->root().child("a").attribute("k"), "1");
}
