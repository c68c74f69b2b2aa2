// The import's streaming reader against pugixml (see XmlDifferential.h for what is compared and
// what is left out, and why): well-formed documents of every kind the import meets read the
// same in both, and so do the mutants of them and of the fuzz corpus that the reader takes.

#include "XmlDifferential.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace zs::engine {
namespace {

const std::vector<std::string>& wellFormed()
{
    static const std::vector<std::string> documents = {
        "<?xml version='1.0' encoding='UTF-8'?>\n<R a=\"1\" b='x y'><C/>testo<D k='v'>d</D></R>\n",
        "<?xml version=\"1.0\" standalone='yes' ?><R/>",
        "<R t='&lt;&amp;&quot;&apos;&gt;'>&#224;&#x20AC;&amp;x &#13;&#x9;</R>",
        "<R a='1\r\n2\t3\n4\r5'>a\r\nb\rc\n\r\nd</R>",
        "<R><![CDATA[a\r\nb\rc]]>x<![CDATA[]]><![CDATA[<not> & ]] > tag]]></R>",
        "<!DOCTYPE R [<!ELEMENT R ANY>]><!-- c > --><R><?pi x?>a<!-- b -->c<?xml-stylesheet x?></R><!-- e -->\n",
        "<x:R xmlns:x='urn:x'><x:C x:a='1' _b.c-d='2'/></x:R>",
        "<Città é='è'>Città € \xF0\x9F\x98\x80 ok</Città>",
        "<R>\n  <A>  </A>\n  <B/>\n</R>",
        "<R a = '1'  b\t=\n\"2\" ></R >",
        "<R>a > b ]] c ] d</R>",
        "\xEF\xBB\xBF<R>bom</R>",
    };
    return documents;
}

TEST(XmlReaderDifferential, WellFormedDocumentsReadTheSameInBoth)
{
    zs::test::TempDir dir;
    for (const std::string& doc : wellFormed()) {
        SCOPED_TRACE(doc);
        zs::test::writeFile(dir / "d.xml", doc);
        ASSERT_TRUE(fuzz::readerTrace(dir / "d.xml", 4096).has_value()) << "the reader refuses it";
        for (std::size_t chunk : {64, 4096})
            EXPECT_EQ(fuzz::disagreement(doc, dir / "d.xml", chunk), "");
    }
}

TEST(XmlReaderDifferential, MutantsTheReaderTakesReadTheSameInBoth)
{
    // Seeded, so a failure comes again: bytes dropped, markup characters put in, runs doubled.
    std::vector<std::string> seeds = wellFormed();
    for (const auto& e : std::filesystem::directory_iterator(ZS_READER_CORPUS))
        seeds.push_back(zs::test::readFile(e.path()));
    const std::string markup = "<>/='\"&;![]?-\r\n\t :x#";
    std::mt19937 random(20061208);
    zs::test::TempDir dir;
    int taken = 0, total = 0;
    for (const std::string& seed : seeds) {
        for (int m = 0; m < 300; ++m) {
            std::string doc = seed;
            for (int edits = 1 + static_cast<int>(random() % 3); edits > 0 && !doc.empty(); --edits) {
                const std::size_t at = random() % doc.size();
                switch (random() % 3) {
                case 0:
                    doc.erase(at, 1);
                    break;
                case 1:
                    doc.insert(at, 1, markup[random() % markup.size()]);
                    break;
                default:
                    doc.insert(at, doc.substr(at, 1 + random() % 8));
                }
            }
            zs::test::writeFile(dir / "m.xml", doc);
            ++total;
            if (fuzz::readerTrace(dir / "m.xml", 4096))
                ++taken;
            for (std::size_t chunk : {64, 4096}) {
                const std::string differs = fuzz::disagreement(doc, dir / "m.xml", chunk);
                ASSERT_EQ(differs, "") << "mutant:\n" << doc << "\npieces of " << chunk;
            }
        }
    }
    // Both ways are exercised: many mutants are taken and compared, many refused.
    EXPECT_GT(taken, total / 20);
    EXPECT_LT(taken, total);
}

} // namespace
} // namespace zs::engine
