// Joins with linked tables at a real site's size. A thousand orders joined with a linked table
// of two million rows (a SQLite file, and the PostgreSQL test server): the rows of the same join
// done inside the source, the remote table's size asked at most once a statement, and the time
// within three times that of the same thousand keyed queries sent to the source directly. A
// join with a linked table of wide rows: the zs-extract process's peak memory stays within the
// lookup caches' bound above that of the same join with ten lookups.

#include "ExtractDriver.h"
#include "StepsTestSupport.h"
#include "db/Connection.h"
#include "dblink/LinkModule.h"
#include "pgtest/PgServer.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr long kRemoteRows = 2'000'000;
constexpr int kOrders = 1000;
// What a statement's lookups may add to a process's memory (the dblink README's bound).
constexpr long kCacheBoundKb = 64 * 1024;

/// The fastest of three runs of `work`, in seconds.
double fastestOf3(const std::function<void()>& work)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = Steady::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Steady::now() - start).count());
    }
    return best;
}

/// Every row of a query, "a|b|c" joined by newlines.
std::string rowsOf(db::Connection& c, const std::string& sql)
{
    auto rs = c.query(sql);
    if (!rs)
        return "<error: " + (c.errors().empty() ? std::string() : c.errors().front().description) + ">";
    std::string out;
    for (std::size_t r = 0; r < rs->rowCount(); ++r) {
        for (std::size_t f = 0; f < rs->fieldCount(); ++f)
            out += (f ? "|" : "") + rs->at(r, f).toString();
        out += '\n';
    }
    return out;
}

/// The order i's article: spread over the remote table in no order, a few of them twice.
long articleOf(long i)
{
    return (i * 1'999'993L) % (kRemoteRows - 1) % 1'999'000 + 1;
}

struct JoinSource {
    std::string name;
    std::string linkSource, remoteTable;
    std::string sourceCs; ///< the source reached directly
    std::string ordersInSource;
};

TEST(LinkedTableJoin, AThousandLookupsIntoTwoMillionRowsCostAboutAsMuchAsTheKeyedQueries)
{
    dblink::registerLinkModule();
    zs::test::ScopedTestEnv env;
    const fs::path erp = env.root() / "erp.db", target = env.root() / "target.db";
    sqliteRun(erp, {"create table GRANDE (id integer primary key, nome text, prezzo real)",
                    "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                        std::to_string(kRemoteRows) + ") insert into GRANDE select i, 'nome ' || i, i * 0.5 from n"});
    std::string orders;
    for (long i = 1; i <= kOrders; ++i)
        orders += (i > 1 ? "," : "") + ("(" + std::to_string(i) + "," + std::to_string(articleOf(i)) + ")");
    sqliteRun(target,
              {"create table ORDINI (id integer primary key, cod integer)", "insert into ORDINI values " + orders});
    sqliteRun(erp,
              {"create table ORDINI (id integer primary key, cod integer)", "insert into ORDINI values " + orders});

    std::vector<JoinSource> sources = {
        {"SQLite", ";DATABASE=" + erp.string(), "GRANDE", sqliteCs(erp), "ORDINI"},
    };
    const std::string pgGrande = "grande_" + std::to_string(::getpid()),
                      pgOrdini = "ordini_" + std::to_string(::getpid());
    const bool pg = pgtest::Server::shared().ok();
    if (!pg)
        ADD_FAILURE() << "PostgreSQL test server: " << pgtest::Server::shared().error();
    else {
        pgtest::usePrivateOdbcIni();
        auto& server = pgtest::Server::shared();
        // A site's table has its key and its statistics (kept by the server's own vacuum).
        ASSERT_TRUE(server.psql("drop table if exists " + pgGrande + "; create table " + pgGrande +
                                " as select i as id, 'nome ' || i as nome, i * 0.5 as prezzo from generate_series(1, " +
                                std::to_string(kRemoteRows) + ") i; alter table " + pgGrande +
                                " add primary key (id); analyze " + pgGrande + "; drop table if exists " + pgOrdini +
                                "; create table " + pgOrdini + " (id integer primary key, cod integer); insert into " +
                                pgOrdini + " values " + orders));
        sources.push_back(
            {"PostgreSQL", "ODBC;" + server.odbcConnectionString(), pgGrande, server.odbcConnectionString(), pgOrdini});
    }
    for (const JoinSource& s : sources) {
        SCOPED_TRACE(s.name);
        db::Connection local;
        ASSERT_TRUE(local.open(sqliteCs(target)));
        exec(local, "drop table if exists GRANDE_LINK");
        exec(local, dblink::createLinkSql("GRANDE_LINK", s.linkSource, s.remoteTable));
        db::Connection direct;
        ASSERT_TRUE(direct.open(s.sourceCs));

        // The same rows as the join inside the source, and as a list of keys.
        const std::string join =
            "select o.id, g.id, g.nome, g.prezzo from ORDINI o join GRANDE_LINK g on g.id = o.cod order by o.id";
        const std::string inside = rowsOf(direct, "select o.id, g.id, g.nome, g.prezzo from " + s.ordersInSource +
                                                      " o join " + s.remoteTable + " g on g.id = o.cod order by o.id");
        ASSERT_EQ(std::count(inside.begin(), inside.end(), '\n'), kOrders);
        const dblink::LinkCounters before = dblink::linkCounters();
        EXPECT_EQ(rowsOf(local, join), inside);
        const dblink::LinkCounters after = dblink::linkCounters();
        EXPECT_LE(after.sizeQueries - before.sizeQueries, 1u);
        EXPECT_EQ(after.cacheFills - before.cacheFills, 0u);
        EXPECT_EQ(after.keyedQueries - before.keyedQueries, static_cast<std::uint64_t>(kOrders));
        EXPECT_EQ(rowsOf(local, "select g.id, g.nome from GRANDE_LINK g where g.id in (select cod from ORDINI) "
                                "order by g.id"),
                  rowsOf(direct, "select g.id, g.nome from " + s.remoteTable + " g where g.id in (select cod from " +
                                     s.ordersInSource + ") order by g.id"));
        // A thousand keys in two queries (five hundred a query).
        EXPECT_EQ(dblink::linkCounters().keyedQueries - after.keyedQueries, 2u);
        // Along the orders' own ids, ascending: after eight keyed queries, windows of 500 rows.
        const auto beforeAlong = dblink::linkCounters().keyedQueries;
        EXPECT_EQ(rowsOf(local, "select o.id, g.nome from ORDINI o join GRANDE_LINK g on g.id = o.id order by o.id"),
                  rowsOf(direct, "select o.id, g.nome from " + s.ordersInSource + " o join " + s.remoteTable +
                                     " g on g.id = o.id order by o.id"));
        EXPECT_EQ(dblink::linkCounters().keyedQueries - beforeAlong, 8u + 2u);

        const double linked = fastestOf3([&] { (void)local.query(join); });
        const double keyed = fastestOf3([&] {
            for (long i = 1; i <= kOrders; ++i)
                (void)direct.query("select id, nome, prezzo from " + s.remoteTable +
                                   " where id = " + std::to_string(articleOf(i)));
        });
        std::printf("[ %s ] join of %d rows with %ld linked rows: %.4f s; the same %d keyed queries directly: "
                    "%.4f s (ratio %.2f); size asked %llu time(s)\n",
                    s.name.c_str(), kOrders, kRemoteRows, linked, kOrders, keyed, linked / keyed,
                    static_cast<unsigned long long>(after.sizeQueries - before.sizeQueries));
        if (!kSanitized) {
            EXPECT_LE(linked, 3 * keyed);
        }
    }
    if (pg)
        pgtest::Server::shared().psql("drop table " + pgGrande + "; drop table " + pgOrdini);
}

constexpr long kWideRows = 240'000;
constexpr int kWideColumns = 20;

/// A program folder whose one job fills COPIA from a join of `orders` orders with the linked
/// wide table, taking `taken` of its columns.
fs::path wideJoinFolder(const fs::path& root, const std::string& name, const fs::path& erp, long orders,
                        const std::string& taken)
{
    const fs::path home = root / name, target = home / "target.db";
    fs::create_directories(home);
    sqliteRun(target,
              {"create table ORDINI (id integer primary key, cod integer)",
               "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(orders) +
                   ") insert into ORDINI select i, (i * 7919) % " + std::to_string(kWideRows) + " + 1 from n",
               "create table COPIA (id integer, testo text)",
               dblink::createLinkSql("LARGA_LINK", ";DATABASE=" + erp.string(), "LARGA")});
    writeAccessSettings(home, target);
    zs::test::writeFile(home / "zentrikLoading.xml",
                        "<?xml version=\"1.0\"?><Estrattore><COPIA><esegui>si</esegui>"
                        "<operazione>Copia collegata</operazione><svuota>si</svuota>"
                        "<query>insert into COPIA select o.id, " +
                            taken +
                            " from ORDINI o join LARGA_LINK w on w.id = o.cod</query></COPIA>"
                            "</Estrattore>");
    return home;
}

std::string scalarOf(const fs::path& file, const std::string& sql)
{
    db::Connection c;
    if (!c.open(sqliteCs(file)))
        return "<cannot open>";
    return scalar(c, sql);
}

TEST(LinkedTableJoin, LookupsIntoWideRowsStayWithinTheCacheBound)
{
    dblink::registerLinkModule();
    zs::test::ScopedTestEnv env;
    // 240,000 rows of twenty texts of 95 characters: 1.9 KB a row, 456 MB in all.
    const fs::path erp = env.root() / "larga.db";
    std::string columns, values;
    for (int c = 1; c <= kWideColumns; ++c) {
        char name[8];
        std::snprintf(name, sizeof name, "c%02d", c);
        columns += std::string(", ") + name + " text";
        values += ", printf('%0" + std::to_string(95) + "d', i * " + std::to_string(c) + ")";
    }
    sqliteRun(erp, {"create table LARGA (id integer primary key" + columns + ")",
                    "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                        std::to_string(kWideRows) + ") insert into LARGA select i" + values + " from n"});
    std::string all = "w.c01";
    for (int c = 2; c <= kWideColumns; ++c) {
        char name[8];
        std::snprintf(name, sizeof name, "c%02d", c);
        all += std::string(" || w.") + name;
    }
    struct Case {
        const char* name;
        std::string taken;
        long width;      ///< characters of each copied text
        const char* c01; ///< the column the copied text begins with
    };
    constexpr long kWideOrders = 20'000;
    const Case cases[] = {
        // One text column of the table: its 240,000 values fit the cache (looked up in memory).
        {"one column", "w.c07", 95, "7"},
        // All twenty columns: 456 MB do not fit, the rows are looked up in the source.
        {"every column", all, 95 * kWideColumns, "1"},
    };
    const auto copied = [](const fs::path& home) {
        return scalarOf(home / "target.db", "select count(*) || ':' || sum(length(testo)) from COPIA");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path small = wideJoinFolder(env.root(), std::string("small ") + c.name, erp, 10, c.taken);
        const MeasuredRun base = extractMeasured(small);
        ASSERT_EQ(base.exitCode, 0) << base.output;
        EXPECT_EQ(copied(small), "10:" + std::to_string(10 * c.width));
        const fs::path large = wideJoinFolder(env.root(), std::string("large ") + c.name, erp, kWideOrders, c.taken);
        const MeasuredRun run = extractMeasured(large);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_EQ(copied(large), std::to_string(kWideOrders) + ":" + std::to_string(kWideOrders * c.width));
        EXPECT_EQ(
            scalarOf(large / "target.db", std::string("select count(*) from COPIA c join ORDINI o on o.id = c.id where "
                                                      "substr(c.testo, 1, 95) = printf('%095d', o.cod * ") +
                                              c.c01 + ")"),
            std::to_string(kWideOrders));
        std::printf("[ %s ] join of %ld rows with %ld rows of %d texts: peak %ld KB against %ld KB for 10 lookups "
                    "(+%ld KB), %.2f s\n",
                    c.name, kWideOrders, kWideRows, kWideColumns, run.peakKb, base.peakKb, run.peakKb - base.peakKb,
                    run.seconds);
        if (!kSanitized) {
            EXPECT_LE(run.peakKb - base.peakKb, kCacheBoundKb);
        }
    }
}

} // namespace
} // namespace zs::engine::test
