// Linked tables pass their equality and range constraints to the remote database (and look rows
// up in one read of the remote table when a statement asks again and again): the results must
// stay those of the same table attached directly, whatever the values' types, and a statement
// must see the remote rows as they are when it starts.

#include "../StepsTestSupport.h"
#include "dblink/LinkModule.h"
#include "pgtest/PgServer.h"

#include <gtest/gtest.h>

#include <tuple>
#include <unistd.h>

namespace zs::engine {
namespace {
using test::scalar;

class LinkedTableTest : public test::StepsTest {
  protected:
    LinkedTableTest()
    {
        dblink::registerLinkModule();
        test::sqliteRun(path("erp.db"),
                        {"create table ARTICOLI (cod text primary key, descr text, num integer, prezzo real)",
                         "with recursive n(i) as (select 1 union all select i + 1 from n where i < 300) "
                         "insert into ARTICOLI select printf('A%03d', i), 'articolo ' || i, i, i * 0.5 from n",
                         "insert into ARTICOLI values ('42', 'numerico', null, null), ('a001', 'minuscolo', 1, 1)"});
        test::sqliteRun(path("t.db"), {"create table ORDINI (id integer, cod text, n integer, descr text)",
                                       "with recursive n(i) as (select 1 union all select i + 1 from n where i < 200) "
                                       "insert into ORDINI select i, printf('A%03d', (i * 7) % 310), i, null from n",
                                       "insert into ORDINI values (1000, null, 42, null), (1001, '42', 0, null)"});
        EXPECT_TRUE(m_db.open(test::sqliteCs(path("t.db"))));
        EXPECT_TRUE(m_db.execute(dblink::createLinkSql("L", ";DATABASE=" + path("erp.db").string(), "ARTICOLI")));
        EXPECT_TRUE(m_db.execute("attach database '" + path("erp.db").string() + "' as erp"));
    }
    /// The query's result over the link and over the attached table.
    void expectSame(const std::string& sql)
    {
        std::string linked = sql, attached = sql;
        for (std::string* s : {&linked, &attached})
            for (std::size_t at; (at = s->find("%T")) != std::string::npos;)
                s->replace(at, 2, s == &linked ? "L" : "erp.ARTICOLI");
        EXPECT_EQ(scalar(m_db, linked), scalar(m_db, attached)) << sql;
    }
    db::Connection m_db;
};

TEST_F(LinkedTableTest, ConstraintsGiveTheRowsOfTheAttachedTable)
{
    const char* const queries[] = {
        // lookups by equality, many (read once) and few (passed down)
        "select count(*) || ':' || sum(length(a.descr)) from ORDINI o join %T a on a.cod = o.cod",
        "select group_concat(a.descr) from ORDINI o join %T a on a.cod = o.cod where o.id < 4",
        // an integer compared with texts that read as numbers, and a null that matches nothing
        "select count(*) || ':' || group_concat(a.descr) from ORDINI o join %T a on a.cod = o.n",
        "select count(*) from ORDINI o join %T a on a.num = o.cod",
        "select count(*) from %T where cod = null",
        // ranges, on text and on numbers, and another collation
        "select count(*) || ':' || sum(prezzo) from %T where cod between 'A010' and 'A200'",
        "select count(*) from %T where num > 250 and num <= 290",
        "select count(*) from %T where cod >= 'a'",
        "select count(*) from ORDINI o join %T a on a.cod = o.cod collate nocase",
        // the table read twice at once: a cursor inside another
        "select count(*) || ':' || sum(a.num * b.num) from %T a, %T b where a.num < b.num and b.num < 60",
    };
    for (const char* q : queries)
        expectSame(q);

    ASSERT_TRUE(m_db.execute("update ORDINI set descr = (select a.descr from L a where a.cod = ORDINI.cod)"));
    EXPECT_EQ(scalar(m_db, "select count(descr) || ':' || max(descr) from ORDINI"),
              scalar(m_db, "select count(a.descr) || ':' || max(a.descr) from ORDINI o join erp.ARTICOLI a on "
                           "a.cod = o.cod"));
}

TEST_F(LinkedTableTest, KeyListsAndLookupsAskTheRemoteAsLittleAsTheyCan)
{
    // A table too large to read for a few hundred lookups, beside the small ARTICOLI.
    test::sqliteRun(path("erp.db"), {"create table NUMERI (id integer primary key, v text)",
                                     "with recursive n(i) as (select 1 union all select i + 1 from n where i < 200000) "
                                     "insert into NUMERI select i, 'v' || i from n"});
    ASSERT_TRUE(m_db.execute(dblink::createLinkSql("N", ";DATABASE=" + path("erp.db").string(), "NUMERI")));
    const std::string keys1200 =
        "(with recursive k(i) as (select 1 union all select i + 1 from k where i < 1200) select i * 97 from k)";
    struct Case {
        std::string sql; // %N: the big table, %T: ARTICOLI
        std::uint64_t sizes, keyed, fills;
    };
    const Case cases[] = {
        // 1,200 keys: three queries of up to 500, the table's size asked once.
        {"select count(*) || ':' || sum(length(v)) from %N where id in " + keys1200, 1, 3, 0},
        // keys in no order: one keyed query a key, the size asked once for all of them
        {"select count(*) || ':' || sum(length(n.v)) from ORDINI o join %N n on n.id = 1 + o.n * 7919 % 199999", 1, 202,
         0},
        // ascending keys (1 to 200, then 42 and 0): eight keyed queries, then a window of 500 rows
        // from the ninth on answers the keys below its last, and 0 is a keyed query again
        {"select count(*) || ':' || sum(length(n.v)) from ORDINI o join %N n on n.id = o.n", 1, 10, 0},
        // ascending keys too far apart for a window to hold more than one: keyed queries only
        {"select count(*) || ':' || sum(length(n.v)) from ORDINI o join %N n on n.id = o.n * 997", 1, 202, 0},
        // a join with the small table: its used columns read once, at the 16th lookup
        {"select count(*) || ':' || sum(length(a.descr)) from ORDINI o join %T a on a.cod = o.cod", 1, 15, 1},
        // a list whose values the remote cannot compare as SQLite does: one query, SQLite checks
        {"select count(*) || ':' || group_concat(cod) from %T where num in (1, '2', 3.0, null, 'x')", 0, 1, 0},
        {"select count(*) || ':' || group_concat(descr) from %T where cod in ('42', 42, 'a001', 'A001', 'A001 ')", 0, 1,
         0},
        // nulls only: nothing is asked
        {"select count(*) from %T where cod in (null)", 0, 0, 0},
        // a key list and another equality together, and keys that read as the same number
        {"select count(*) || ':' || group_concat(v) from %N where v = 'v97' and id in " + keys1200, 1, 3, 0},
        {"select count(*) || ':' || group_concat(cod) from %T where num in (select n from ORDINI)", 1, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        std::string linked = c.sql, attached = c.sql;
        for (auto [from, link, table] : {std::tuple{"%N", "N", "erp.NUMERI"}, std::tuple{"%T", "L", "erp.ARTICOLI"}})
            for (std::size_t at; (at = linked.find(from)) != std::string::npos;) {
                linked.replace(at, 2, link);
                attached.replace(attached.find(from), 2, table);
            }
        const dblink::LinkCounters before = dblink::linkCounters();
        EXPECT_EQ(scalar(m_db, linked), scalar(m_db, attached));
        const dblink::LinkCounters after = dblink::linkCounters();
        EXPECT_EQ(after.sizeQueries - before.sizeQueries, c.sizes);
        EXPECT_EQ(after.keyedQueries - before.keyedQueries, c.keyed);
        EXPECT_EQ(after.cacheFills - before.cacheFills, c.fills);
    }
}

TEST_F(LinkedTableTest, EveryStatementReadsTheRemoteRowsAfresh)
{
    const std::string join = "select count(*) from ORDINI o join L a on a.cod = o.cod";
    const std::string before = scalar(m_db, join);
    db::Connection erp; // another user changes the remote table between two statements
    ASSERT_TRUE(erp.open(test::sqliteCs(path("erp.db"))));
    ASSERT_TRUE(erp.execute("delete from ARTICOLI where cod < 'A100'"));
    EXPECT_NE(scalar(m_db, join), before);
    EXPECT_EQ(scalar(m_db, join), scalar(m_db, "select count(*) from ORDINI o join erp.ARTICOLI a on a.cod = o.cod"));
    // Rows added through the link are seen at once.
    ASSERT_TRUE(m_db.execute("insert into L (cod, descr) values ('A001', 'di nuovo')"));
    EXPECT_EQ(scalar(m_db, "select descr from L where cod = 'A001'"), "di nuovo");
}

TEST_F(LinkedTableTest, RowsReadFromOneLinkGoIntoAnotherOfTheSameFile)
{
    test::sqliteRun(path("erp.db"), {"create table COPIE (cod text, descr text)"});
    ASSERT_TRUE(m_db.execute(dblink::createLinkSql("LC", ";DATABASE=" + path("erp.db").string(), "COPIE")));
    ASSERT_TRUE(m_db.execute("insert into LC select cod, descr from L where cod < 'A100'"))
        << m_db.errors().front().description;
    EXPECT_EQ(scalar(m_db, "select count(*) from LC"), "100");
    ASSERT_TRUE(m_db.execute("insert into L (cod, descr) select cod || 'x', descr from L where cod < 'A010'"))
        << m_db.errors().front().description;
    EXPECT_EQ(scalar(m_db, "select group_concat(cod) from (select cod from L where cod like '%x' order by cod)"),
              "42x,A001x,A002x,A003x,A004x,A005x,A006x,A007x,A008x,A009x");
}

TEST(LinkedTablePg, ConstraintsAreComparedAsSqliteComparesThem)
{
    ZS_REQUIRE_PG();
    auto& pg = pgtest::Server::shared();
    pgtest::usePrivateOdbcIni();
    const std::string table = "link_" + std::to_string(::getpid());
    ASSERT_TRUE(pg.psql("drop table if exists " + table + "; create table " + table +
                        " (cod varchar(10), num integer); insert into " + table +
                        " select 'A' || lpad(i::text, 3, '0'), i from generate_series(1, 300) i; insert into " + table +
                        " values ('a001', 1), ('Z', 0), ('_x', 0)"));
    zs::test::TempDir dir;
    test::sqliteRun(dir / "t.db", {"create table K (cod text)",
                                   "with recursive n(i) as (select 1 union all select i + 1 from n where i < 60) "
                                   "insert into K select printf('A%03d', i * 5) from n"});
    db::Connection c;
    dblink::registerLinkModule();
    ASSERT_TRUE(c.open(test::sqliteCs(dir / "t.db")));
    ASSERT_TRUE(c.execute(dblink::createLinkSql("L", "ODBC;" + pg.odbcConnectionString(), table)));
    // Text ranges in byte order whatever the server's collation: 'Z' < '_x' < 'a001'.
    EXPECT_EQ(scalar(c, "select group_concat(cod) from (select cod from L where cod > 'A300' order by cod)"),
              "Z,_x,a001");
    EXPECT_EQ(scalar(c, "select count(*) from L where num between 10 and 19"), "10");
    // Sixty lookups: read once and looked up in memory; numbers against a text column.
    EXPECT_EQ(scalar(c, "select count(*) || ':' || sum(l.num) from K join L l on l.cod = K.cod"), "60:9150");
    EXPECT_EQ(scalar(c, "select count(*) from L where cod = 5"), "0");
    c.close();
    pg.psql("drop table " + table);
}

} // namespace
} // namespace zs::engine
