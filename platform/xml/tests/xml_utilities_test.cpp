#include "xml/XmlUtilities.h"

#include "fs/FileOps.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs;

TEST(XmlUtilities, SavesOneLineUtf8WithBom)
{
    test::TempDir dir;
    auto doc = xml::Document::loadString("<stat>\r\n  <modulo nome=\"à\">\r\n    <x>1</x>\r\n  </modulo>\r\n</stat>");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(xml::FormatXml(*doc, dir / "stat.xml"));
    const std::string bytes = test::readFile(dir / "stat.xml");
    EXPECT_EQ(bytes, "\xEF\xBB\xBF<stat><modulo nome=\"\xC3\xA0\"><x>1</x></modulo></stat>");
    auto back = xml::Document::loadFile(dir / "stat.xml");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->xml(), doc->xml());
}

TEST(XmlUtilities, CrLfInTextIsRemovedLoneLfStays)
{
    xml::Document doc;
    auto root = doc.createRoot("r");
    root.appendChild("a").setText("uno\r\ndue");
    root.appendChild("b").setText("tre\nquattro");
    const std::string out = xml::formattedXml(doc);
    EXPECT_EQ(out.find("uno\r\ndue"), std::string::npos);
    EXPECT_NE(out.find("tre\nquattro"), std::string::npos);
}

TEST(XmlUtilities, ReplacesAReadOnlyFile)
{
    test::TempDir dir;
    test::writeFile(dir / "a.xml", "old");
    ::chmod((dir / "a.xml").c_str(), 0444);
    ASSERT_TRUE(xml::SaveUtf8File(dir / "a.xml", "<a/>"));
    EXPECT_EQ(test::readFile(dir / "a.xml"), "\xEF\xBB\xBF<a/>");
}

TEST(XmlUtilities, FailedSaveKeepsTheOldFile)
{
    test::TempDir dir;
    test::writeFile(dir / "a.xml", "old");
    fs::FailingFileOps ops(3, EIO); // the write of the new bytes
    std::string error;
    EXPECT_FALSE(xml::SaveUtf8File(dir / "a.xml", "<a/>", &error, false, ops));
    EXPECT_EQ(test::readFile(dir / "a.xml"), "old");
    EXPECT_NE(error.find("a.xml"), std::string::npos);
}
