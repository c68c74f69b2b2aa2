#include "xml/XmlDocument.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

using zs::xml::Document;
using zs::xml::ParseError;

TEST(XmlDocument, ReadsElementsAttributesAndLocalNames)
{
    auto doc = Document::loadString("<?xml version=\"1.0\"?>\n<x:Root a=\"1\">\n  <B>uno<C>due</C></B>\n  <!-- c -->\n  <D/>\n</x:Root>");
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
    EXPECT_EQ(doc.xml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><stat><modulo nome=\"a&amp;b\">è &lt;x&gt;</modulo></stat>");
    root.removeChild(m);
    EXPECT_EQ(root.xml(), "<stat/>");
}
