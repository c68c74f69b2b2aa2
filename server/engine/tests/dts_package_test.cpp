// The package step over the package store of a real SQLite database: steps in order, the day
// log report, a failing step that fails the package step, and a package the store lacks.

#include "StepsTestSupport.h"
#include "engine/DtsPackage.h"

#include "engine/EngineStrings.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

namespace zs::engine {
namespace {
using test::scalar;

class DtsPackageTest : public test::StepsTest {
  protected:
    DtsPackageTest()
    {
        test::sqliteRun(path("target.mdb"), {DtsPackage::createStoreSql(), "create table T (n integer)"});
        EXPECT_TRUE(m_db.open(test::sqliteCs(path("target.mdb"))));
    }
    void addStep(const std::string& package, int order, const std::string& name, const std::string& sql)
    {
        ASSERT_TRUE(m_db.execute("insert into DtsPackageSteps values (" + sqlQuote(package) + ", " +
                                 std::to_string(order) + ", " + sqlQuote(name) + ", " + sqlQuote(sql) + ")"));
    }
    bool run(const std::string& children)
    {
        auto doc = xml::Document::loadString("<EXECUTEDTS>" + children + "</EXECUTEDTS>");
        return m_package.ExecuteDtsStep(doc->root());
    }

    db::Connection m_db;
    DtsPackage m_package{m_log, m_messages, [this] { return &m_db; }};
};

TEST_F(DtsPackageTest, RunsTheStepsInOrder)
{
    // Stored out of order: the order column decides.
    addStep("Carica", 2, "Raddoppia", "insert into T select n * 2 from T");
    addStep("Carica", 1, "Primo", "insert into T values (1)");
    addStep("Altro", 1, "Mai", "delete from T");
    EXPECT_TRUE(run("<SERVER>altro</SERVER><packagename>Carica</packagename>"));
    EXPECT_EQ(scalar(m_db, "select group_concat(n) from T"), "1,2");
    EXPECT_TRUE(m_messages.shown.empty());
    const std::string log = dayLog();
    EXPECT_NE(log.find(":Package : Carica\r\n"), std::string::npos) << log;
    // The package's report of several lines is one line of the day log, behind its stamp.
    EXPECT_NE(log.find(":Step Dts : Step \"Primo\" Succeeded Step \"Raddoppia\" Succeeded\r\n"), std::string::npos)
        << log;
}

TEST_F(DtsPackageTest, AFailingStepFailsThePackageStep)
{
    addStep("Carica", 1, "Primo", "insert into T values (1)");
    addStep("Carica", 2, "Rotto", "insert into MANCA values (1)");
    addStep("Carica", 3, "Terzo", "insert into T values (3)");
    m_log.OutputResponse("Pacchetto", false, 0);
    EXPECT_FALSE(run("<packagename>Carica</packagename>"));
    EXPECT_EQ(scalar(m_db, "select group_concat(n) from T"), "1,3");
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].title, "Errore.");
    const std::string& box = m_messages.shown[0].text;
    EXPECT_EQ(
        box.rfind("Step \"Primo\" Succeeded\r\n\r\nStep \"Rotto\" Failed\r\n\tError: -2147217900\r\n\tSource: ", 0), 0u)
        << box;
    EXPECT_NE(box.find("\r\n\tDescription: no such table: MANCA\r\n\r\n"), std::string::npos) << box;
    EXPECT_EQ(box.substr(box.size() - 4), "\r\n\r\n");
    EXPECT_EQ(m_log.nodes()[0].image, program::LogImage::Error);
}

TEST_F(DtsPackageTest, AnUnknownPackageOrStoreFails)
{
    EXPECT_FALSE(run("<packagename>Nessuno</packagename>"));
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, "Package Nessuno non trovato .ExecutePackage");
    EXPECT_EQ(dayLog().find("Package : "), std::string::npos);
    EXPECT_NE(dayLog().find(":Package Nessuno non trovato.ExecutePackage\r\n"), std::string::npos);

    // A name holding a quote is a value, never SQL.
    EXPECT_FALSE(run("<packagename>x' or '1'='1</packagename>"));
    ASSERT_TRUE(m_db.execute("drop table DtsPackageSteps"));
    EXPECT_FALSE(run("<packagename>Carica</packagename>"));
    EXPECT_EQ(m_messages.shown.size(), 3u);
}

} // namespace
} // namespace zs::engine
