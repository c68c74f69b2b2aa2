// Compaction of the Access (SQLite) database: the data stays, the file shrinks, a leftover
// temporary file goes, and every failure leaves the database as it was.

#include "StepsTestSupport.h"
#include "engine/Compattazione.h"

#include <gtest/gtest.h>

namespace zs::engine {
namespace {
using test::scalar;

class CompattazioneTest : public test::StepsTest {
  protected:
    std::filesystem::path makeDatabase(const std::string& name)
    {
        const auto file = path(name);
        std::vector<std::string> sql{"create table T (id integer primary key, testo text)"};
        sql.push_back("with recursive n(i) as (select 1 union all select i + 1 from n where i < 3000) "
                      "insert into T select i, printf('%0200d', i) from n");
        sql.push_back("delete from T where id > 10");
        test::sqliteRun(file, sql);
        return file;
    }
    Compattazione make(std::function<bool(const std::string&, const std::string&)> ask = {})
    {
        return Compattazione(m_log, m_settings, m_yield, std::move(ask));
    }
};

TEST_F(CompattazioneTest, KeepsTheDataAndShrinksTheFile)
{
    const auto file = makeDatabase("vendite.mdb");
    zs::test::writeFile(path("vendite.temp"), "leftover of an earlier compaction");
    const auto before = std::filesystem::file_size(file);
    EXPECT_TRUE(make().CompattaDatabase(file.string()));
    EXPECT_LT(std::filesystem::file_size(file) * 4, before);
    EXPECT_FALSE(std::filesystem::exists(path("vendite.temp")));
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(file)));
    EXPECT_EQ(scalar(c, "select count(*) || ':' || sum(id) from T"), "10:55");
    EXPECT_TRUE(lines().empty());
}

TEST_F(CompattazioneTest, APathWithoutMdbNeverLosesTheDatabase)
{
    const auto file = makeDatabase("vendite.db");
    EXPECT_TRUE(make().CompattaDatabase(file.string()));
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(file)));
    EXPECT_EQ(scalar(c, "select count(*) from T"), "10");
}

TEST_F(CompattazioneTest, FailuresLeaveTheFileIntact)
{
    zs::test::writeFile(path("rotto.mdb"), std::string(8192, 'x'));
    EXPECT_FALSE(make().CompattaDatabase(path("rotto.mdb").string()));
    EXPECT_EQ(zs::test::readFile(path("rotto.mdb")), std::string(8192, 'x'));
    EXPECT_FALSE(make().CompattaDatabase(path("manca.mdb").string()));
    EXPECT_FALSE(std::filesystem::exists(path("manca.mdb")));
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_NE(l[0].find("E:Compattazione del database " + path("rotto.mdb").string() + " non riuscita: "),
              std::string::npos)
        << l[0];
    EXPECT_NE(l[1].find("E:Compattazione non eseguita: il database " + path("manca.mdb").string() + " non esiste"),
              std::string::npos);
}

TEST_F(CompattazioneTest, ABusyDatabaseAsksToRetry)
{
    const auto file = makeDatabase("vendite.mdb");
    auto holder = std::make_unique<db::Connection>();
    ASSERT_TRUE(holder->open(test::sqliteCs(file)));
    ASSERT_TRUE(holder->execute("begin exclusive"));
    std::vector<std::string> asked;
    const bool ok = make([&](const std::string& text, const std::string& title) {
                        asked.push_back(title + "|" + text.substr(text.size() - 17));
                        if (asked.size() == 1) {
                            holder.reset(); // the other user lets go; Retry
                            return true;
                        }
                        return false;
                    }).CompattaDatabase(file.string());
    EXPECT_TRUE(ok);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Attenzione.|\r\nVuoi riprovare?");
    EXPECT_LT(std::filesystem::file_size(file), 100000u);
}

} // namespace
} // namespace zs::engine
