// zs-bench-link <folder> [rows] [rounds]: the cost of a linked table against the same table
// attached directly. Builds an "ERP" SQLite file with ARTICOLI (rows rows, keyed by cod) and a
// target file with ORDINI (the same number of rows, one article each) and the linked table
// ARTICOLI_LINK over the ERP's ARTICOLI; then times, through zs::db as the engine runs them,
// a join, a correlated update and a range query against the link and against the attached
// table, and prints both times and their ratio (fastest of the rounds).

#include "db/Connection.h"
#include "dblink/LinkModule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string cs(const fs::path& p)
{
    return "Data Source=" + p.string() + ";";
}

bool run(zs::db::Connection& c, const std::string& sql)
{
    if (c.execute(sql))
        return true;
    std::fprintf(stderr, "zs-bench-link: %s: %s\n", sql.c_str(),
                 c.errors().empty() ? "?" : c.errors().front().description.c_str());
    return false;
}

std::string scalar(zs::db::Connection& c, const std::string& sql)
{
    auto rs = c.query(sql);
    if (!rs) {
        std::fprintf(stderr, "zs-bench-link: %s: %s\n", sql.c_str(),
                     c.errors().empty() ? "?" : c.errors().front().description.c_str());
        return "<error>";
    }
    return rs->eof() ? "<none>" : rs->value(std::size_t{0}).toString();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zs-bench-link <folder> [rows] [rounds]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const long rows = argc > 2 ? std::atol(argv[2]) : 20000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    zs::dblink::registerLinkModule();
    const fs::path erp = folder / "erp-link.db", target = folder / "target-link.db";
    fs::remove(erp);
    fs::remove(target);
    std::ofstream(erp).close();
    std::ofstream(target).close();
    const std::string n = std::to_string(rows);
    {
        zs::db::Connection e;
        if (!e.open(cs(erp)) || !run(e, "create table ARTICOLI (cod text primary key, descr text, prezzo real)") ||
            !run(e, "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + n +
                        ") insert into ARTICOLI select printf('A%06d', i), 'articolo ' || i, i * 0.5 from n"))
            return 1;
    }
    zs::db::Connection t;
    if (!t.open(cs(target)) || !run(t, "create table ORDINI (id integer primary key, cod text, descr text)") ||
        !run(t, "with recursive n(i) as (select 1 union all select i + 1 from n where i < " + n +
                    ") insert into ORDINI select i, printf('A%06d', (i * 7919) % " + n + " + 1), null from n") ||
        !run(t, zs::dblink::createLinkSql("ARTICOLI_LINK", ";DATABASE=" + erp.string(), "ARTICOLI")) ||
        !run(t, "attach database '" + erp.string() + "' as erp"))
        return 1;

    struct Case {
        const char* name;
        std::string sql; // %T stands for the table
    };
    const Case cases[] = {
        {"join", "select count(*) || ':' || sum(length(a.descr)) from ORDINI o join %T a on a.cod = o.cod"},
        {"correlated update", "update ORDINI set descr = (select a.descr from %T a where a.cod = ORDINI.cod)"},
        {"range", "select count(*) || ':' || sum(prezzo) from %T where cod between 'A000100' and 'A010100'"},
    };
    const auto with = [](std::string sql, const std::string& table) {
        for (std::size_t at; (at = sql.find("%T")) != std::string::npos;)
            sql.replace(at, 2, table);
        return sql;
    };
    const auto timeOf = [&](const std::string& sql, std::string& result) {
        double best = 1e9;
        for (int r = 0; r < rounds; ++r) {
            (void)t.execute("update ORDINI set descr = null");
            const auto t0 = Clock::now();
            if (sql.rfind("update", 0) == 0) {
                if (!run(t, sql))
                    return -1.0;
                result = scalar(t, "select count(descr) from ORDINI");
            } else {
                result = scalar(t, sql);
            }
            best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
        }
        return best;
    };
    std::printf("linked table of %ld rows (SQLite file) against the same table attached directly; fastest of %d\n",
                rows, rounds);
    int failures = 0;
    for (const Case& c : cases) {
        std::string viaLink, direct;
        const double linked = timeOf(with(c.sql, "ARTICOLI_LINK"), viaLink);
        const double attached = timeOf(with(c.sql, "erp.ARTICOLI"), direct);
        if (linked < 0 || attached < 0 || viaLink != direct) {
            std::printf("%-18s results differ: linked %s, attached %s\n", c.name, viaLink.c_str(), direct.c_str());
            ++failures;
            continue;
        }
        std::printf("%-18s linked %.4f s, attached %.4f s, ratio %.2f (result %s)\n", c.name, linked, attached,
                    linked / attached, direct.c_str());
    }
    return failures ? 1 : 0;
}
