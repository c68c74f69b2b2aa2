// The transaction guard against real SQLite files and the test PostgreSQL server: what a commit
// keeps, what leaving the scope undoes, and the failures of a begin and of a commit.

#include "db/Catalog.h"
#include "db/Connection.h"
#include "db/Transaction.h"

#include "pgtest/PgServer.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

using namespace zs::db;

namespace {

struct Backend {
    const char* name;
    bool postgres;
    const char* longQuery; ///< runs longer than any test
};

const Backend kBackends[] = {
    {"Sqlite", false,
     "with recursive c(x) as (select 1 union all select x + 1 from c where x < 10000000000) select count(*) from c"},
    {"PostgreSql", true, "select pg_sleep(30)"},
};

void PrintTo(const Backend& b, std::ostream* os)
{
    *os << b.name;
}

class TransactionTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override
    {
        if (GetParam().postgres) {
            ZS_REQUIRE_PG();
            m_cs = zs::pgtest::Server::shared().odbcConnectionString();
        } else {
            m_cs = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (m_dir / "movimenti.mdb").string() + ";";
            Catalog catalog;
            ASSERT_TRUE(catalog.create(m_cs)) << catalog.errors().front().description;
        }
        ASSERT_TRUE(m_db.open(m_cs)) << m_db.errors().front().description;
        ASSERT_TRUE(m_db.execute("DROP TABLE IF EXISTS movimenti"));
        ASSERT_TRUE(m_db.execute("CREATE TABLE movimenti (id INTEGER, nome VARCHAR(20))"));
    }

    /// The rows of `table` as a connection of its own reads them: only what was committed.
    long committedRows(const std::string& table = "movimenti")
    {
        Connection other;
        if (!other.open(m_cs))
            return -1;
        auto rs = other.query("SELECT COUNT(*) FROM " + table);
        return rs && !rs->eof() ? static_cast<long>(rs->value(std::size_t{0}).toInt().value_or(-1)) : -1;
    }

    zs::test::TempDir m_dir;
    std::string m_cs;
    Connection m_db;
};

TEST_P(TransactionTest, CommitKeepsTheRows)
{
    {
        Transaction tx(m_db);
        ASSERT_TRUE(tx.begin()) << m_db.errors().front().description;
        EXPECT_TRUE(tx.active());
        ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (1, 'uno')"));
        ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (2, 'due')"));
        EXPECT_EQ(committedRows(), 0);
        ASSERT_TRUE(tx.commit()) << m_db.errors().front().description;
        EXPECT_FALSE(tx.active());
        EXPECT_TRUE(tx.commit()); // nothing left to commit
    }
    EXPECT_EQ(committedRows(), 2);
}

TEST_P(TransactionTest, LeavingTheScopeUncommittedRollsBackEvenRowsStillBeingWritten)
{
    {
        Transaction tx(m_db);
        ASSERT_TRUE(tx.begin());
        ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (1, 'uno')"));
        auto w = m_db.openRowWriter("movimenti");
        ASSERT_TRUE(w);
        for (int i = 0; i < 3000; ++i) {
            w->addNew();
            ASSERT_TRUE(w->set("id", Value(i)));
            ASSERT_TRUE(w->queue());
        }
        ASSERT_TRUE(w->flush(false)); // the last batch is still on its way when the scope ends
    }
    EXPECT_EQ(committedRows(), 0);
    // The connection serves the next transaction.
    Transaction tx(m_db);
    ASSERT_TRUE(tx.begin());
    ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (3, 'tre')"));
    ASSERT_TRUE(tx.commit());
    EXPECT_EQ(committedRows(), 1);
}

TEST_P(TransactionTest, RollingBackKeepsTheErrorsOfTheFailureThatLedThere)
{
    Transaction tx(m_db);
    ASSERT_TRUE(tx.begin());
    ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (1, 'uno')"));
    EXPECT_FALSE(m_db.execute("INSERT INTO tabella_assente VALUES (1)"));
    ASSERT_FALSE(m_db.errors().empty());
    const std::string why = m_db.errors().front().description;
    tx.rollback();
    EXPECT_FALSE(tx.active());
    ASSERT_FALSE(m_db.errors().empty());
    EXPECT_EQ(m_db.errors().front().description, why);
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    EXPECT_EQ(committedRows(), 0);
}

void throwingHook()
{
    throw std::runtime_error("memoria esaurita");
}

TEST_P(TransactionTest, AFailedBeginIsReportedAndBeginsNothing)
{
    {
        setJobFaultHook(&throwingHook);
        Transaction tx(m_db);
        const bool begun = tx.begin();
        setJobFaultHook(nullptr);
        EXPECT_FALSE(begun);
        EXPECT_FALSE(tx.active());
        EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Internal);
        EXPECT_TRUE(tx.commit()); // nothing was begun
    }
    {
        ASSERT_TRUE(m_db.executeAsync(GetParam().longQuery));
        Transaction tx(m_db);
        EXPECT_FALSE(tx.begin());
        EXPECT_FALSE(tx.active());
        EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Usage);
        EXPECT_EQ(m_db.errors().front().number, kErrBusy);
        EXPECT_TRUE(m_db.cancel());
        EXPECT_FALSE(m_db.endExecute());
    }
    // After both failures the connection still begins, and what it then writes is kept.
    {
        Transaction tx(m_db);
        ASSERT_TRUE(tx.begin()) << m_db.errors().front().description;
        ASSERT_TRUE(m_db.execute("INSERT INTO movimenti VALUES (1, 'uno')"));
        ASSERT_TRUE(tx.commit());
    }
    EXPECT_EQ(committedRows(), 1);
    m_db.close();
    Transaction tx(m_db);
    EXPECT_FALSE(tx.begin());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Usage);
}

TEST_P(TransactionTest, AFailedCommitLeavesTheWorkToBeRolledBack)
{
    // A deferred key is checked at the commit, which the database then refuses.
    if (!GetParam().postgres) {
        ASSERT_TRUE(m_db.execute("PRAGMA foreign_keys = ON"));
    }
    ASSERT_TRUE(m_db.execute("DROP TABLE IF EXISTS figli"));
    ASSERT_TRUE(m_db.execute("DROP TABLE IF EXISTS padri"));
    ASSERT_TRUE(m_db.execute("CREATE TABLE padri (id INTEGER PRIMARY KEY)"));
    ASSERT_TRUE(m_db.execute("CREATE TABLE figli (padre INTEGER REFERENCES padri (id) DEFERRABLE INITIALLY DEFERRED)"));
    {
        Transaction tx(m_db);
        ASSERT_TRUE(tx.begin());
        ASSERT_TRUE(m_db.execute("INSERT INTO padri VALUES (1)"));
        ASSERT_TRUE(m_db.execute("INSERT INTO figli VALUES (2)"));
        EXPECT_FALSE(tx.commit());
        EXPECT_NE(m_db.lastErrorClass(), ErrorClass::None);
        EXPECT_TRUE(tx.active());
    }
    EXPECT_EQ(committedRows("padri"), 0);
    EXPECT_EQ(committedRows("figli"), 0);
    Transaction tx(m_db);
    ASSERT_TRUE(tx.begin()) << m_db.errors().front().description;
    ASSERT_TRUE(m_db.execute("INSERT INTO padri VALUES (1)"));
    ASSERT_TRUE(tx.commit());
    EXPECT_EQ(committedRows("padri"), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, TransactionTest, ::testing::ValuesIn(kBackends),
                         [](const ::testing::TestParamInfo<Backend>& param) { return std::string(param.param.name); });

TEST(TransactionDialects, BeginAsEachDatabaseTakesIt)
{
    const struct {
        Dialect dialect;
        const char* begin;
    } cases[] = {
        {Dialect::Sqlite, "BEGIN"}, {Dialect::PostgreSql, "BEGIN"}, {Dialect::SqlServer, "BEGIN TRANSACTION"},
        {Dialect::Oracle, ""},      {Dialect::OtherOdbc, ""},       {Dialect::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.dialect));
        EXPECT_EQ(beginStatement(c.dialect), c.begin);
        EXPECT_EQ(hasTransactions(c.dialect), *c.begin != '\0');
        EXPECT_EQ(transactionText(c.dialect, {"DELETE FROM T"}).empty(), !hasTransactions(c.dialect));
    }
}

} // namespace
