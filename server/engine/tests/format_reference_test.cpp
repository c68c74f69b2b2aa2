// The format reference (docs/formats.md) against the program: every loading example gives the
// step tree written under it, and every creation example builds on a SQLite target with the
// result lines written under it. A reference that drifts from the code fails here.

#include "StepsTestSupport.h"
#include "engine/DataBase.h"
#include "engine/ImportXml.h"
#include "engine/StepTree.h"
#include "engine/XmlMapping.h"

#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zs::engine {
namespace {

struct Example {
    std::string kind;     ///< the info string after "```xml ": loading, loading-step, creation, import-schema
                          ///< or import-data
    int line = 0;         ///< where the example starts in the file
    std::string xml;      ///< the example's text
    std::string expected; ///< the text block that follows it ("steps", "result" or "rows")
};

/// The fenced examples of the reference, each with the text block after it.
std::vector<Example> readExamples(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::vector<Example> out;
    std::string line;
    int number = 0;
    std::string* into = nullptr;
    bool awaitingResult = false;
    while (std::getline(in, line)) {
        ++number;
        if (into) {
            if (line == "```")
                into = nullptr;
            else
                *into += line + "\n";
            continue;
        }
        if (line.rfind("```xml ", 0) == 0) {
            out.push_back({line.substr(7), number, {}, {}});
            into = &out.back().xml;
            awaitingResult = true;
        } else if (awaitingResult && (line == "```text steps" || line == "```text result" || line == "```text rows")) {
            into = &out.back().expected;
            awaitingResult = false;
        }
    }
    return out;
}

/// The step tree as the reference writes it: "[x]" ticked, "[ ]" not, jobs indented.
std::string listing(const StepTree& tree)
{
    std::string out;
    for (const StepNode& step : tree.steps()) {
        out += (step.image == 1 ? "[x] " : "[ ] ") + step.text + "\n";
        for (const StepNode& job : step.children)
            out += std::string(job.image == 1 ? "    [x] " : "    [ ] ") + job.text + "\n";
    }
    return out;
}

std::string crlfToLf(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

class FormatReferenceTest : public test::StepsTest {
  protected:
    FormatReferenceTest()
    {
        m_settings.ProviderAccess = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
        m_settings.PercorsoAccess = path("target.db").string();
        m_settingsDoc = xml::Document::loadString("<zentrikServer><ServerType>ACCESS</ServerType></zentrikServer>");
    }

    std::vector<Example> m_examples = readExamples(std::filesystem::path(ZS_DOCS_DIR) / "formats.md");
    std::optional<xml::Document> m_settingsDoc;
    std::string m_output;
    DataBase m_builder{m_settings, [this] { return m_settingsDoc->root(); },
                       [this](const std::string& t) { m_output += t; }, m_messages};
};

TEST_F(FormatReferenceTest, EveryLoadingExampleGivesTheStepTreeShownUnderIt)
{
    int examples = 0;
    for (const Example& e : m_examples) {
        if (e.kind != "loading" && e.kind != "loading-step")
            continue;
        SCOPED_TRACE("formats.md:" + std::to_string(e.line));
        ++examples;
        const std::string text = e.kind == "loading" ? e.xml : "<Estrattore>" + e.xml + "</Estrattore>";
        xml::ParseError error;
        auto doc = xml::Document::loadString(text, &error);
        ASSERT_TRUE(doc) << error.reason;
        ASSERT_FALSE(e.expected.empty()) << "no steps block follows the example";
        StepTree tree;
        CaricaAlberoXML(tree, doc->root());
        EXPECT_EQ(listing(tree), e.expected);
    }
    // the full example and one per special step
    EXPECT_EQ(examples, 10);
}

TEST_F(FormatReferenceTest, EveryCreationExampleBuildsOnSqliteAsShown)
{
    // The link example reads the demo ERP by a name relative to the program folder.
    std::filesystem::copy_file(std::filesystem::path(ZS_DEMO_DIR) / "erp.db", path("erp.db"));
    struct InFolder {
        std::filesystem::path previous = std::filesystem::current_path();
        explicit InFolder(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
        ~InFolder() { std::filesystem::current_path(previous); }
    } inFolder{m_dir.path()};
    int examples = 0;
    for (const Example& e : m_examples) {
        if (e.kind != "creation")
            continue;
        SCOPED_TRACE("formats.md:" + std::to_string(e.line));
        ++examples;
        zs::test::writeFile(path("creation.xml"), e.xml);
        m_output.clear();
        EXPECT_TRUE(m_builder.CreaDatabase(path("creation.xml").string()));
        EXPECT_EQ(crlfToLf(m_output), e.expected);
        EXPECT_TRUE(m_messages.shown.empty());

        // Built again, every table and link is there already.
        m_output.clear();
        EXPECT_TRUE(m_builder.CreaDatabase(path("creation.xml").string()));
        EXPECT_EQ(m_output.find("con successo"), std::string::npos) << m_output;
    }
    db::Connection c;
    EXPECT_TRUE(c.open(test::sqliteCs(path("target.db"))));
    // the link reads the ERP's rows
    EXPECT_EQ(test::scalar(c, "select group_concat(citta) from ERP_CLIENTI"), "Milano,Torino,Bologna,Prato");
    EXPECT_EQ(examples, 1);
}

TEST_F(FormatReferenceTest, TheImportExampleLoadsTheRowsShownUnderIt)
{
    const Example* schema = nullptr;
    const Example* data = nullptr;
    for (const Example& e : m_examples) {
        if (e.kind == "import-schema")
            schema = &e;
        else if (e.kind == "import-data")
            data = &e;
    }
    ASSERT_TRUE(schema && data);
    SCOPED_TRACE("formats.md:" + std::to_string(data->line));
    zs::test::writeFile(path("ordini.xsd"), schema->xml);
    std::filesystem::create_directories(path("import"));
    zs::test::writeFile(path("import/web-0612.xml"), data->xml);

    // The tables the schema maps, made as an operator would before the first import.
    XmlMapping mapping;
    std::string reason;
    ASSERT_TRUE(mapping.load(path("ordini.xsd"), reason)) << reason;
    std::vector<const XmlMapping::Node*> tables;
    std::vector<std::string> creates;
    for (const XmlMapping::Node& n : mapping.nodes) {
        if (n.table.empty())
            continue;
        tables.push_back(&n);
        std::string columns;
        for (const std::string& column : n.columns)
            columns += (columns.empty() ? "" : ", ") + column + " text";
        creates.push_back("create table " + n.table + " (" + columns + ")");
    }
    test::sqliteRun(path("import.db"), creates);
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("import.db"))));
    ImportXml import(m_log, m_messages, m_clock, m_dir.path(), [&c] { return &c; });
    auto step = xml::Document::loadString("<IMPORTXML><path>import</path><schema>ordini.xsd</schema></IMPORTXML>");
    ASSERT_TRUE(import.ImportXmlStep(step->root())) << testing::PrintToString(lines());

    std::string rows;
    for (const XmlMapping::Node* n : tables) {
        std::vector<std::string> columns = n->columns;
        std::sort(columns.begin(), columns.end());
        std::string list;
        for (const std::string& column : columns)
            list += (list.empty() ? "" : ", ") + column;
        auto rs = c.query("select " + list + " from " + n->table + " order by rowid");
        ASSERT_TRUE(rs);
        for (std::size_t r = 0; r < rs->rowCount(); ++r) {
            rows += n->table + ":";
            for (std::size_t k = 0; k < columns.size(); ++k)
                rows += " " + columns[k] + "=" + rs->at(r, k).toString();
            rows += "\n";
        }
    }
    EXPECT_EQ(rows, data->expected);
    EXPECT_TRUE(std::filesystem::exists(path("import/old/web-0612.xml")));
}

} // namespace
} // namespace zs::engine
