// The SQL of a cube's rebuild, as its pure planning functions give it for each target, kind of
// processing, previous aggregate and mark.

#include "olap/CubePlan_p.h"

#include <gtest/gtest.h>

using namespace zs;
using namespace zs::olap;

namespace {

CubeDef totale()
{
    CubeDef cube;
    cube.name = "Totale";
    cube.sourceTable = "Vendite";
    cube.sourceTableFilter = "zona = 'Nord'";
    cube.incrementalColumn = "id";
    cube.dimensions = {{"Cliente", "cliente"}};
    cube.measures = {{"Importo", "importo", "sum"}, {"Righe", "", "count"}, {"Minimo", "importo", "min"}};
    return cube;
}

std::string q(const std::string& name)
{
    return "\"" + name + "\"";
}

const std::string kOwn = totale().aggregateTable("demo", "Vendite");
const std::string kEarlier = "olap_Totale";
const std::string kColumns = "\"Cliente\", \"Importo\", \"Righe\", \"Minimo\", \"fact_count\"";

/// The facts aggregated, as the planner writes them for a table named `facts`.
std::string facts(const std::string& table, const std::string& condition)
{
    return "SELECT \"cliente\" AS \"Cliente\", SUM(\"importo\") AS \"Importo\", COUNT(*) AS \"Righe\", "
           "MIN(\"importo\") "
           "AS \"Minimo\", COUNT(*) AS \"fact_count\" FROM " +
           q(table) + " WHERE (zona = 'Nord')" + (condition.empty() ? "" : " AND " + condition) +
           " GROUP BY \"cliente\"";
}

/// The previous aggregate `prior` and the facts above 3 up to 7, folded together.
std::string merge(const std::string& prior, const std::string& table)
{
    return "SELECT \"Cliente\", SUM(\"Importo\") AS \"Importo\", SUM(\"Righe\") AS \"Righe\", MIN(\"Minimo\") AS "
           "\"Minimo\", SUM(\"fact_count\") AS \"fact_count\" FROM (SELECT " +
           kColumns + " FROM " + q(prior) + " UNION ALL " + facts(table, "\"id\" > 3 AND \"id\" <= 7") +
           ") u GROUP BY \"Cliente\"";
}

const std::string agg = q(kOwn);
const std::string scratch = q(olapTableName("olapnew_", "demo", "Vendite", "Totale"));

struct RebuildCase {
    const char* name;
    db::Dialect dialect;
    ProcessType type;
    std::string prior, mark, newMark;
    std::vector<std::string> expected;
};

const RebuildCase kRebuildCases[] = {
    {"a full rebuild on SQLite over the cube's own aggregate reloads its rows up to the mark",
     db::Dialect::Sqlite,
     ProcessType::Full,
     kOwn,
     "",
     "7",
     {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + facts("Vendite", "\"id\" <= 7")}},
    {"a full rebuild on PostgreSQL makes the table again, the fact table's name folded",
     db::Dialect::PostgreSql,
     ProcessType::Full,
     kOwn,
     "",
     "7",
     {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + facts("vendite", "\"id\" <= 7")}},
    {"a refresh of the data reloads the rows on any target",
     db::Dialect::PostgreSql,
     ProcessType::RefreshData,
     kOwn,
     "",
     "7",
     {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + facts("vendite", "\"id\" <= 7")}},
    {"a first build with no facts aggregates without a mark",
     db::Dialect::Sqlite,
     ProcessType::Full,
     "",
     "",
     "",
     {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + facts("Vendite", "")}},
    {"an incremental run on SQLite without a mark yet reloads the rows of the cube's own aggregate",
     db::Dialect::Sqlite,
     ProcessType::Incremental,
     kOwn,
     "",
     "7",
     {"DELETE FROM " + agg, "INSERT INTO " + agg + " " + facts("Vendite", "\"id\" <= 7")}},
    {"an incremental run on PostgreSQL without a mark yet makes the table again",
     db::Dialect::PostgreSql,
     ProcessType::Incremental,
     kOwn,
     "",
     "7",
     {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + facts("vendite", "\"id\" <= 7")}},
    {"an incremental run without a previous aggregate builds whole",
     db::Dialect::Sqlite,
     ProcessType::Incremental,
     "",
     "3",
     "7",
     {"DROP TABLE IF EXISTS " + agg, "CREATE TABLE " + agg + " AS " + facts("Vendite", "\"id\" <= 7")}},
    {"an incremental run on SQLite merges through a temporary table and replaces the rows",
     db::Dialect::Sqlite,
     ProcessType::Incremental,
     kOwn,
     "3",
     "7",
     {"DROP TABLE IF EXISTS temp.\"olapfusione\"",
      "CREATE TEMPORARY TABLE \"olapfusione\" AS " + merge(kOwn, "Vendite"), "DELETE FROM " + agg,
      "INSERT INTO " + agg + " (" + kColumns + ") SELECT " + kColumns + " FROM temp.\"olapfusione\"",
      "DROP TABLE temp.\"olapfusione\""}},
    {"an incremental run on PostgreSQL merges through its temporary schema",
     db::Dialect::PostgreSql,
     ProcessType::Incremental,
     kOwn,
     "3",
     "7",
     {"DROP TABLE IF EXISTS pg_temp.\"olapfusione\"",
      "CREATE TEMPORARY TABLE \"olapfusione\" AS " + merge(kOwn, "vendite"), "DELETE FROM " + agg,
      "INSERT INTO " + agg + " (" + kColumns + ") SELECT " + kColumns + " FROM pg_temp.\"olapfusione\"",
      "DROP TABLE pg_temp.\"olapfusione\""}},
    {"an incremental run on SQL Server merges into a new table renamed over the old",
     db::Dialect::SqlServer,
     ProcessType::Incremental,
     kOwn,
     "3",
     "7",
     {"DROP TABLE IF EXISTS " + scratch, "CREATE TABLE " + scratch + " AS " + merge(kOwn, "Vendite"),
      "DROP TABLE IF EXISTS " + agg, "ALTER TABLE " + scratch + " RENAME TO " + agg}},
    {"an incremental run over an earlier name makes the cube's own table of the merge",
     db::Dialect::Sqlite,
     ProcessType::Incremental,
     kEarlier,
     "3",
     "7",
     {"CREATE TABLE " + agg + " AS " + merge(kEarlier, "Vendite")}},
    {"nothing new over the cube's own aggregate: nothing runs",
     db::Dialect::Sqlite,
     ProcessType::Incremental,
     kOwn,
     "7",
     "7",
     {}},
    {"nothing new over an earlier name: it is copied under the cube's own",
     db::Dialect::PostgreSql,
     ProcessType::Incremental,
     kEarlier,
     "7",
     "7",
     {"CREATE TABLE " + agg + " AS SELECT * FROM " + q(kEarlier)}},
};

TEST(CubePlan, RebuildStatementsForEachTargetKindPriorAndMark)
{
    for (const RebuildCase& c : kRebuildCases) {
        SCOPED_TRACE(c.name);
        CubeDef cube = totale();
        cube.incrementalMark = c.mark;
        const CubeRebuild rebuild{c.dialect, c.type, "demo", "Vendite", c.prior, c.newMark};
        EXPECT_EQ(rebuildStatements(cube, rebuild), c.expected);
    }
}

TEST(CubePlan, AnIncrementalRunOfACubeWithoutIncrementalColumnBuildsWhole)
{
    CubeDef cube = totale();
    cube.incrementalColumn.clear();
    cube.incrementalMark = "3";
    const CubeRebuild rebuild{db::Dialect::Sqlite, ProcessType::Incremental, "demo", "Vendite", kOwn, ""};
    EXPECT_FALSE(mergesNewFacts(cube, rebuild));
    EXPECT_EQ(
        rebuildStatements(cube, rebuild),
        (std::vector<std::string>{"DELETE FROM " + q(kOwn), "INSERT INTO " + q(kOwn) + " " + facts("Vendite", "")}));
    EXPECT_EQ(markQuery(db::Dialect::Sqlite, cube, ""), "");
}

TEST(CubePlan, TheMarkIsReadAboveTheLastOneANumberAsItStandsAnythingElseQuoted)
{
    const struct {
        const char* name;
        db::Dialect dialect;
        const char* above;
        const char* expected;
    } cases[] = {
        {"no mark yet", db::Dialect::Sqlite, "", "SELECT MAX(\"id\") FROM \"Vendite\""},
        {"a number", db::Dialect::Sqlite, "3.5", "SELECT MAX(\"id\") FROM \"Vendite\" WHERE \"id\" > 3.5"},
        {"a date, on PostgreSQL", db::Dialect::PostgreSql, "2026-01-02",
         "SELECT MAX(\"id\") FROM \"vendite\" WHERE \"id\" > '2026-01-02'"},
        {"a text with a quote", db::Dialect::Sqlite, "O'Hara",
         "SELECT MAX(\"id\") FROM \"Vendite\" WHERE \"id\" > 'O''Hara'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(markQuery(c.dialect, totale(), c.above), c.expected);
    }
}

TEST(CubePlan, ADeclarationThatCannotBeBuiltIsNamedBeforeAnythingRuns)
{
    const struct {
        const char* name;
        void (*change)(CubeDef&);
        const char* expected; ///< empty: the cube can be built
    } cases[] = {
        {"as declared", [](CubeDef&) {}, ""},
        {"no fact table", [](CubeDef& c) { c.sourceTable.clear(); }, "Il cubo Totale non ha una tabella dei fatti"},
        {"an aggregate that is none", [](CubeDef& c) { c.measures[0].aggregate = "avg"; },
         "Misura non valida nel cubo Totale: Importo"},
        {"a sum of no column", [](CubeDef& c) { c.measures[0].column.clear(); },
         "Misura non valida nel cubo Totale: Importo"},
        {"a filter with a second statement", [](CubeDef& c) { c.sourceTableFilter = "1 = 1; DROP TABLE x"; },
         "Filtro non valido nel cubo Totale: il filtro contiene un'altra istruzione (;). Il filtro deve essere una "
         "sola condizione SQL."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CubeDef cube = totale();
        c.change(cube);
        const std::optional<OlapError> e = cubeDefinitionError(cube);
        if (*c.expected == '\0') {
            EXPECT_FALSE(e);
            continue;
        }
        ASSERT_TRUE(e);
        EXPECT_EQ(e->number, kErrOlapDefinition);
        EXPECT_EQ(e->description, c.expected);
        EXPECT_EQ(e->source, "ZentrikServer");
    }
}

} // namespace
