#include "db/Catalog.h"
#include "db/Connection.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace zs::db;
using namespace std::chrono_literals;

namespace {

std::string jet(const std::filesystem::path& p)
{
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + p.string() + ";";
}

// Long enough to outlast any test: counts to ten billion.
const char* const kLongQuery =
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < 10000000000) select count(*) from c";

class SqliteTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        Catalog catalog;
        ASSERT_TRUE(catalog.create(jet(m_path))) << catalog.errors().front().description;
        catalog.close();
        ASSERT_TRUE(m_db.open(jet(m_path))) << m_db.errors().front().description;
    }

    zs::test::TempDir m_dir;
    std::filesystem::path m_path = m_dir / "vendite.mdb";
    Connection m_db;
};

TEST(SqliteOpen, MissingFileFailsAndCreatesNothing)
{
    zs::test::TempDir dir;
    Connection c;
    EXPECT_FALSE(c.open(jet(dir / "missing.mdb")));
    ASSERT_FALSE(c.errors().empty());
    EXPECT_EQ(c.lastErrorClass(), ErrorClass::Connect);
    EXPECT_EQ(c.errors().front().number, kErrUnspecified);
    EXPECT_NE(c.errors().front().description.find("missing.mdb"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mdb"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(c.state(), kStateClosed);
    EXPECT_EQ(c.connectionString(), jet(dir / "missing.mdb"));
}

TEST(SqliteOpen, FolderAndNonDatabaseFileFail)
{
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "notes.mdb",
                        "this is no database, only some text that is long enough to have a header....");
    Connection c;
    EXPECT_FALSE(c.open(jet(dir.path())));
    EXPECT_EQ(c.lastErrorClass(), ErrorClass::Connect);
    EXPECT_TRUE(c.errors().front().lasting);
    EXPECT_FALSE(c.open(jet(dir / "notes.mdb")));
    EXPECT_EQ(c.lastErrorClass(), ErrorClass::Connect);
    EXPECT_TRUE(c.errors().front().lasting) << c.errors().front().description;
    EXPECT_EQ(zs::test::readFile(dir / "notes.mdb").substr(0, 7), "this is");
    // A missing file may yet come: worth another try.
    EXPECT_FALSE(c.open(jet(dir / "missing.mdb")));
    EXPECT_FALSE(c.errors().front().lasting);
}

TEST_F(SqliteTest, OnlyRegularFilesAreOpenedOrAttachedAndNeverWaitedOn)
{
    ASSERT_EQ(::mkfifo((m_dir / "fifo.db").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((m_dir / "fifo.db").c_str(), (m_dir / "tofifo.db").c_str()), 0);
    std::filesystem::create_directories(m_dir / "folder.db");
    ASSERT_EQ(::symlink("/dev/null", (m_dir / "null.db").c_str()), 0);
    struct Case {
        const char* name;
        const char* says;
    } cases[] = {{"fifo.db", "is a FIFO, not a database file"},
                 {"tofifo.db", "is a FIFO, not a database file"},
                 {"folder.db", "is a folder"},
                 {"null.db", "is a device, not a database file"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = (m_dir / c.name).string();
        const auto start = std::chrono::steady_clock::now();
        Connection other;
        EXPECT_FALSE(other.open(jet(file)));
        ASSERT_FALSE(other.errors().empty());
        EXPECT_NE(other.errors().front().description.find(c.name), std::string::npos)
            << other.errors().front().description;
        EXPECT_NE(other.errors().front().description.find(c.says), std::string::npos)
            << other.errors().front().description;
        EXPECT_TRUE(other.errors().front().lasting);
        // Attached by a job, with its name as the statement gives it: refused the same way.
        EXPECT_FALSE(m_db.execute("ATTACH DATABASE '" + file + "' AS other"));
        ASSERT_FALSE(m_db.errors().empty());
        EXPECT_NE(m_db.errors().front().description.find(file), std::string::npos) << m_db.errors().front().description;
        EXPECT_NE(m_db.errors().front().description.find(c.says), std::string::npos)
            << m_db.errors().front().description;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        // The connection goes on.
        EXPECT_TRUE(m_db.execute("create table if not exists after_refusal (x int)"))
            << m_db.errors().front().description;
    }
    // A regular database reached through a link is a database.
    ASSERT_EQ(::symlink(m_path.c_str(), (m_dir / "link.db").c_str()), 0);
    EXPECT_TRUE(m_db.execute("ATTACH DATABASE '" + (m_dir / "link.db").string() + "' AS linked"))
        << m_db.errors().front().description;
}

TEST_F(SqliteTest, ReadsRowsWithFieldNamesInAnyCaseAndNullAsEmpty)
{
    EXPECT_EQ(m_db.state(), kStateOpen);
    ASSERT_TRUE(m_db.execute("create table Clienti (Id integer, Nome varchar(50), Saldo double, Nato datetime)"));
    ASSERT_TRUE(
        m_db.execute("insert into Clienti values (1, 'Rossi', 2.5, '2005-01-01 00:00:00'), (2, null, null, null)"));
    auto rs = m_db.query("select * from clienti order by id");
    ASSERT_TRUE(rs);
    ASSERT_EQ(rs->fieldCount(), 4u);
    EXPECT_EQ(rs->text("NOME"), "Rossi");
    EXPECT_EQ(rs->value("saldo"), Value(2.5));
    EXPECT_EQ(rs->value("nato"), Value(zs::time::DateTime{2005, 1, 1, 0, 0, 0}));
    rs->moveNext();
    EXPECT_TRUE(rs->value("nome").isNull());
    EXPECT_EQ(rs->text("nome"), "");
    EXPECT_EQ(rs->text("saldo"), "");
    rs->moveNext();
    EXPECT_TRUE(rs->eof());

    auto max = m_db.query("select max( Id) from Clienti where Id > 5");
    ASSERT_TRUE(max);
    EXPECT_TRUE(max->value(std::size_t{0}).isNull());
}

TEST_F(SqliteTest, RunsTheJetStatementsTheEngineWrites)
{
    ASSERT_TRUE(m_db.execute("create table [TIME] (ID integer primary key autoincrement, Data datetime)"));
    ASSERT_TRUE(m_db.execute("insert into [TIME] (Data) values ('2004-01-01')"));
    ASSERT_TRUE(m_db.execute("insert into [TIME] (Data) values ('2004-01-02')"));
    ASSERT_TRUE(m_db.execute("delete * from [TIME]")) << m_db.errors().front().description;
    EXPECT_EQ(m_db.query("select count(*) from TIME")->value(std::size_t{0}), Value(0));

    ASSERT_TRUE(m_db.execute("ALTER TABLE [TIME] ALTER COLUMN ID COUNTER (1, 1)")) << m_db.errors().front().description;
    ASSERT_TRUE(m_db.execute("insert into [TIME] (Data) values ('2005-01-01')"));
    EXPECT_EQ(m_db.query("select ID from [TIME]")->value(std::size_t{0}), Value(1));

    ASSERT_TRUE(m_db.execute("alter table time alter column id counter (100, 1)"));
    ASSERT_TRUE(m_db.execute("insert into [TIME] (Data) values ('2005-01-02')"));
    EXPECT_EQ(m_db.query("select max(ID) from [TIME]")->value(std::size_t{0}), Value(100));

    ASSERT_TRUE(m_db.execute("delete from [TIME] "));
    EXPECT_FALSE(m_db.execute("Truncate Table [TIME]"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    EXPECT_EQ(m_db.errors().front().number, kErrRejected);
}

TEST_F(SqliteTest, CounterResetOnAColumnThatIsNoCounterIsRejected)
{
    ASSERT_TRUE(m_db.execute("create table T (ID integer, Nome text)"));
    EXPECT_FALSE(m_db.execute("ALTER TABLE T ALTER COLUMN ID COUNTER (1, 1)"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    EXPECT_FALSE(m_db.execute("ALTER TABLE Nessuna ALTER COLUMN ID COUNTER (1, 1)"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    // A table with a counter: only the counter column resets it, a typo names no counter.
    ASSERT_TRUE(m_db.execute("create table C (ID integer primary key autoincrement, Nome text)"));
    ASSERT_TRUE(m_db.execute("insert into C (Nome) values ('a'), ('b')"));
    EXPECT_FALSE(m_db.execute("ALTER TABLE C ALTER COLUMN Nome COUNTER (1, 1)"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    ASSERT_TRUE(m_db.execute("insert into C (Nome) values ('c')"));
    EXPECT_EQ(m_db.query("select max(ID) from C")->value(std::size_t{0}), Value(3));
    EXPECT_TRUE(m_db.execute("ALTER TABLE C ALTER COLUMN id COUNTER (10, 1)"));
}

TEST_F(SqliteTest, ErrorsOfAFailureAreClearedByTheNextCall)
{
    EXPECT_FALSE(m_db.execute("select * from nessuna_tabella"));
    ASSERT_EQ(m_db.errors().size(), 1u);
    EXPECT_EQ(m_db.errors().front().source, "SQLite");
    EXPECT_NE(m_db.errors().front().description.find("nessuna_tabella"), std::string::npos);
    EXPECT_TRUE(m_db.execute("select 1"));
    EXPECT_TRUE(m_db.errors().empty());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::None);
}

TEST_F(SqliteTest, LongStatementIsPolledAndCancelledWithinASecond)
{
    ASSERT_TRUE(m_db.executeAsync(kLongQuery));
    int polls = 0;
    while (polls < 5) {
        EXPECT_TRUE(m_db.isExecuting());
        EXPECT_EQ(m_db.state(), kStateOpen | kStateExecuting);
        EXPECT_FALSE(m_db.waitFor(20ms));
        ++polls;
    }
    // A second statement while one runs is refused.
    EXPECT_FALSE(m_db.execute("select 1"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Usage);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_db.cancel());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(m_db.isExecuting());
    EXPECT_FALSE(m_db.endExecute());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Cancelled);
    EXPECT_EQ(m_db.errors().front().number, kErrCancelled);
    // The connection goes on working.
    EXPECT_TRUE(m_db.execute("select 1"));
}

TEST_F(SqliteTest, AsyncStatementReportsItsOutcome)
{
    ASSERT_TRUE(m_db.executeAsync("create table A (x integer)"));
    EXPECT_TRUE(m_db.waitFor(5s));
    EXPECT_TRUE(m_db.endExecute());
    ASSERT_TRUE(m_db.executeAsync("insert into nessuna values (1)"));
    EXPECT_TRUE(m_db.waitFor(5s));
    EXPECT_FALSE(m_db.endExecute());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
}

TEST_F(SqliteTest, CommandTimeoutEndsALongStatement)
{
    EXPECT_EQ(m_db.commandTimeout(), 30);
    m_db.setCommandTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_db.execute(kLongQuery));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 2500ms);
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Timeout);
    EXPECT_EQ(m_db.errors().front().number, kErrTimeout);
    EXPECT_EQ(m_db.errors().front().description, "Timeout expired");

    // Asynchronous statements obey it too.
    ASSERT_TRUE(m_db.executeAsync(kLongQuery));
    EXPECT_TRUE(m_db.waitFor(2500ms));
    EXPECT_FALSE(m_db.endExecute());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Timeout);
}

TEST_F(SqliteTest, CloseWhileAStatementRunsCancelsIt)
{
    ASSERT_TRUE(m_db.executeAsync(kLongQuery));
    const auto start = std::chrono::steady_clock::now();
    m_db.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(m_db.state(), kStateClosed);
    EXPECT_FALSE(m_db.execute("select 1"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Usage);
}

TEST_F(SqliteTest, RowWriterAppendsRowsConvertingToTheFieldTypes)
{
    ASSERT_TRUE(m_db.execute("create table [TIME] (Data datetime, giorno varchar(20), anno integer, "
                             "mesedellanno varchar(2), Trimestre integer, Peso double)"));
    auto w = m_db.openRowWriter("[Time]");
    ASSERT_TRUE(w) << m_db.errors().front().description;
    for (int day = 1; day <= 3; ++day) {
        w->addNew();
        ASSERT_TRUE(w->set("DATA", zs::time::DateTime{2005, 1, day, 0, 0, 0}));
        ASSERT_TRUE(w->set("Giorno", "Sabato"));
        ASSERT_TRUE(w->set("anno", "2005"));
        ASSERT_TRUE(w->set("mesedellanno", "01"));
        ASSERT_TRUE(w->set("trimestre", (*w->get("mesedellanno").toInt() - 1) / 3 + 1));
        ASSERT_TRUE(w->update()) << m_db.errors().front().description;
    }
    EXPECT_EQ(w->get("anno"), Value(2005));
    EXPECT_EQ(w->get("MESEDELLANNO"), Value("01"));

    EXPECT_FALSE(w->set("nessuno", 1));
    EXPECT_EQ(m_db.errors().front().number, kErrNotFound);
    EXPECT_FALSE(w->set("anno", "duemila"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::BadArgument);

    auto rs = m_db.query("select * from [TIME] order by Data");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->rowCount(), 3u);
    EXPECT_EQ(rs->value("data"), Value(zs::time::DateTime{2005, 1, 1, 0, 0, 0}));
    EXPECT_EQ(rs->value("anno"), Value(2005));
    EXPECT_EQ(rs->value("mesedellanno"), Value("01"));
    EXPECT_EQ(rs->value("trimestre"), Value(1));
    EXPECT_TRUE(rs->value("peso").isNull());

    EXPECT_FALSE(m_db.openRowWriter("[Nessuna]"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
}

TEST_F(SqliteTest, InterleavedWritersAndRowsWithFewerFieldsLandInTheirTables)
{
    // Writers of two tables used in turn, and rows leaving fields unset, share the connection's
    // prepared insert: each row must still go to its own table with its own fields.
    ASSERT_TRUE(m_db.execute("create table A (x integer, y varchar(10))"));
    ASSERT_TRUE(m_db.execute("create table B (x integer, z varchar(10))"));
    auto a = m_db.openRowWriter("A");
    auto b = m_db.openRowWriter("B");
    ASSERT_TRUE(a && b);
    for (int i = 1; i <= 4; ++i) {
        a->addNew();
        ASSERT_TRUE(a->set("x", i));
        if (i % 2) {
            ASSERT_TRUE(a->set("y", "a" + std::to_string(i)));
        }
        ASSERT_TRUE(a->update());
        b->addNew();
        ASSERT_TRUE(b->set("z", "b" + std::to_string(i)));
        ASSERT_TRUE(b->update());
    }
    auto ra = m_db.query("select group_concat(x || ':' || ifnull(y, '-'), ',') from (select * from A order by x)");
    auto rb = m_db.query("select group_concat(ifnull(x, '-') || ':' || z, ',') from (select * from B order by z)");
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(ra->value(std::size_t{0}), Value("1:a1,2:-,3:a3,4:-"));
    EXPECT_EQ(rb->value(std::size_t{0}), Value("-:b1,-:b2,-:b3,-:b4"));
}

TEST(SqliteRowWriter, OutlivingItsConnectionOnlyFails)
{
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "w.mdb", "");
    std::optional<RowWriter> w;
    {
        Connection c;
        ASSERT_TRUE(c.open(jet(dir / "w.mdb")));
        ASSERT_TRUE(c.execute("create table T (a integer)"));
        w = c.openRowWriter("T");
        ASSERT_TRUE(w);
        ASSERT_TRUE(w->set("a", 1));
        c.close();
        EXPECT_FALSE(w->update());
        EXPECT_EQ(c.lastErrorClass(), ErrorClass::Usage);
    }
    EXPECT_FALSE(w->set("a", 2));
    EXPECT_FALSE(w->update());
}

TEST(SqliteCatalog, CreatesTheFileOnceAndTablesWithKeysAndCounters)
{
    zs::test::TempDir dir;
    Catalog catalog;
    ASSERT_TRUE(catalog.create(jet(dir / "dw.mdb")));
    EXPECT_TRUE(std::filesystem::exists(dir / "dw.mdb"));

    TableDef clienti{"Clienti",
                     {{"ID", ColumnType::Integer, {}, true, true},
                      {"Codice", ColumnType::WChar, 10, false, false},
                      {"Nome", ColumnType::VarWChar, 40, true, false},
                      {"Attivo", ColumnType::Boolean, {}, true, false},
                      {"Nato", ColumnType::Date, {}, true, false}},
                     KeyDef{"Clienti_PrimaryKey", {"ID"}}};
    ASSERT_TRUE(catalog.createTable(clienti)) << catalog.errors().front().description;
    EXPECT_EQ(catalog.tableExists("Clienti"), true);
    EXPECT_EQ(catalog.tableExists("CLIENTI"), false);
    EXPECT_EQ(catalog.tableExists("Altro"), false);

    // A counter that is not the key is kept by a trigger and reset like the others.
    TableDef righe{"Righe",
                   {{"Numero", ColumnType::Integer, {}, true, true},
                    {"Ordine", ColumnType::Integer, {}, false, false},
                    {"Riga", ColumnType::Integer, {}, false, false}},
                   KeyDef{"Righe_PrimaryKey", {"Ordine", "Riga"}}};
    ASSERT_TRUE(catalog.createTable(righe)) << catalog.errors().front().description;
    auto& c = catalog.connection();
    ASSERT_TRUE(c.execute("insert into Righe (Ordine, Riga) values (1, 1), (1, 2)"));
    EXPECT_EQ(c.query("select max(Numero) from Righe")->value(std::size_t{0}), Value(2));
    ASSERT_TRUE(c.execute("delete * from Righe"));
    ASSERT_TRUE(c.execute("ALTER TABLE Righe ALTER COLUMN Numero COUNTER (1, 1)"));
    ASSERT_TRUE(c.execute("insert into Righe (Ordine, Riga) values (2, 1)"));
    EXPECT_EQ(c.query("select Numero from Righe")->value(std::size_t{0}), Value(1));
    EXPECT_FALSE(c.execute("ALTER TABLE Righe ALTER COLUMN Ordine COUNTER (1, 1)"));

    // Not-null and the named key hold.
    EXPECT_FALSE(c.execute("insert into Clienti (Nome) values ('x')"));
    EXPECT_EQ(c.errors().front().number, kErrIntegrity);
    ASSERT_TRUE(c.execute("insert into Clienti (Codice) values ('A')"));
    EXPECT_EQ(c.query("select ID from Clienti")->value(std::size_t{0}), Value(1));

    // A table that exists (in any case) cannot be created again; a key on a missing column fails.
    EXPECT_FALSE(catalog.createTable(TableDef{"clienti", {{"X", ColumnType::Integer, {}, true, false}}, {}}));
    EXPECT_FALSE(catalog.createTable(
        TableDef{"K", {{"X", ColumnType::Integer, {}, true, false}}, KeyDef{"K_PrimaryKey", {" X"}}}));
    EXPECT_EQ(catalog.tableExists("K"), false);

    catalog.close();
    Catalog again;
    EXPECT_FALSE(again.create(jet(dir / "dw.mdb")));
    EXPECT_NE(again.errors().front().description.find("already exists"), std::string::npos);
    EXPECT_TRUE(again.attach(jet(dir / "dw.mdb")));
    EXPECT_EQ(again.tableExists("Righe"), true);
}

TEST(CatalogSql, WritesEachDialect)
{
    TableDef t{"Ordini",
               {{"ID", ColumnType::Integer, {}, true, true},
                {"Data", ColumnType::Timestamp, {}, false, false},
                {"Nota", ColumnType::VarWChar, {}, true, false}},
               KeyDef{"Ordini_PrimaryKey", {"ID"}}};
    EXPECT_EQ(Catalog::createTableSql(t, Dialect::Sqlite).front(),
              "CREATE TABLE \"Ordini\" (\"ID\" INTEGER CONSTRAINT \"Ordini_PrimaryKey\" PRIMARY KEY AUTOINCREMENT, "
              "\"Data\" DATETIME NOT NULL, \"Nota\" VARCHAR(255))");
    EXPECT_EQ(Catalog::createTableSql(t, Dialect::SqlServer).front(),
              "CREATE TABLE [Ordini] ([ID] int IDENTITY(1,1), [Data] datetime NOT NULL, [Nota] nvarchar(255), "
              "CONSTRAINT [Ordini_PrimaryKey] PRIMARY KEY ([ID]))");
    EXPECT_EQ(Catalog::createTableSql(t, Dialect::PostgreSql).front(),
              "CREATE TABLE Ordini (ID INTEGER GENERATED BY DEFAULT AS IDENTITY, Data timestamp NOT NULL, Nota "
              "VARCHAR(255), CONSTRAINT Ordini_PrimaryKey PRIMARY KEY (ID))");
}

} // namespace

namespace {

TEST_F(SqliteTest, QueuedRowsGoInBatchesWithTheirOwnFields)
{
    ASSERT_TRUE(m_db.execute("create table R (id integer, nome text default 'nessuno', peso double, data datetime)"));
    auto w = m_db.openRowWriter("R");
    ASSERT_TRUE(w);
    const std::size_t rows = RowWriter::kBatchRows * 2 + 7;
    for (std::size_t i = 0; i < rows; ++i) {
        w->addNew();
        ASSERT_TRUE(w->setAt(*w->fieldIndex("ID"), std::to_string(i)));
        // A run of rows leaves the name unset (its default applies) and sets a null weight.
        const bool unnamed = i >= 100 && i < 110;
        if (!unnamed) {
            ASSERT_TRUE(w->set("nome", "n" + std::to_string(i)));
        }
        ASSERT_TRUE(w->set("peso", unnamed ? Value() : Value("1.5")));
        ASSERT_TRUE(w->queue()) << m_db.errors().front().description;
    }
    EXPECT_GT(w->queued(), 0u);
    ASSERT_TRUE(w->flush());
    EXPECT_EQ(w->queued(), 0u);
    auto rs = m_db.query("select count(*), sum(id), sum(nome = 'nessuno'), sum(peso is null), sum(peso) from R");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), std::to_string(rows));
    EXPECT_EQ(rs->value(std::size_t{1}).toString(), std::to_string(rows * (rows - 1) / 2));
    EXPECT_EQ(rs->value(std::size_t{2}).toString(), "10");
    EXPECT_EQ(rs->value(std::size_t{3}).toString(), "10");

    // A value that does not fit its column is refused when set, not written.
    w->addNew();
    EXPECT_FALSE(w->set("id", "uno"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::BadArgument);
}

TEST_F(SqliteTest, OnlyFailuresThatCanPassAreLostConnections)
{
    // A full disk or a file that cannot be opened fail the same way every time: no retry.
    ASSERT_TRUE(m_db.execute("create table B (x text)"));
    struct Case {
        const char* name;
        std::string sql;
        ErrorClass kind;
    };
    const Case cases[] = {
        {"disk full",
         "pragma max_page_count = 8; with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) "
         "insert into B select printf('%0500d', i) from n",
         ErrorClass::Rejected},
        {"cannot open", "vacuum into '" + (m_dir / "manca/copia.db").string() + "'", ErrorClass::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(m_db.execute(c.sql));
        EXPECT_EQ(m_db.lastErrorClass(), c.kind) << m_db.errors().front().description;
    }
    // Another connection's lock passes by itself: worth the retry.
    Connection holder;
    ASSERT_TRUE(holder.open(jet(m_path)));
    ASSERT_TRUE(holder.execute("begin exclusive"));
    EXPECT_FALSE(m_db.execute("insert into B values ('x')"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::ConnectionLost);
}

TEST_F(SqliteTest, RowReaderReadsEveryRowABatchAtATime)
{
    ASSERT_TRUE(m_db.execute("create table R (id integer, nome text, prezzo real)"));
    ASSERT_TRUE(m_db.execute("with recursive n(i) as (select 1 union all select i + 1 from n where i < 2503) "
                             "insert into R select i, 'nome ' || i, i * 0.5 from n"));
    auto reader = m_db.openReader("select id, nome, prezzo from R order by id");
    ASSERT_TRUE(reader) << m_db.errors().front().description;
    ASSERT_EQ(reader->columns().size(), 3u);
    EXPECT_EQ(reader->columns()[1].name, "nome");
    // One reader at a time; other statements go on meanwhile.
    EXPECT_FALSE(m_db.openReader("select 1"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Usage);
    ASSERT_TRUE(m_db.execute("create table ALTRA (x integer)"));
    std::vector<std::size_t> batches;
    long long sum = 0;
    std::int64_t expected = 1;
    bool typed = true;
    while (!reader->atEnd()) {
        ASSERT_TRUE(reader->next(1000)) << m_db.errors().front().description;
        batches.push_back(reader->rowCount());
        for (std::size_t r = 0; r < reader->rowCount(); ++r, ++expected) {
            sum += reader->at(r, 0).toInt().value_or(0);
            typed = typed && reader->at(r, 0) == Value(expected) &&
                    reader->at(r, 1) == Value("nome " + std::to_string(expected)) &&
                    reader->at(r, 2) == Value(static_cast<double>(expected) * 0.5);
        }
    }
    EXPECT_EQ(batches, (std::vector<std::size_t>{1000, 1000, 503}));
    EXPECT_EQ(sum, 2503LL * 2504 / 2);
    EXPECT_TRUE(typed);
    // Past the end: no batch in hand.
    EXPECT_TRUE(reader->next(1000));
    EXPECT_EQ(reader->rowCount(), 0u);
    EXPECT_TRUE(reader->at(0, 0).isNull());
    // Its end freed the connection for the next reader.
    auto again = m_db.openReader("select id from R where id > 2500");
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->next(1000));
    EXPECT_EQ(again->rowCount(), 3u);
    EXPECT_TRUE(again->atEnd());
}

TEST_F(SqliteTest, RowReaderClosedEarlyOrFailingLeavesTheConnectionUsable)
{
    ASSERT_TRUE(m_db.execute("create table R (id integer)"));
    ASSERT_TRUE(m_db.execute("with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) "
                             "insert into R select i from n"));
    {
        auto reader = m_db.openReader("select id from R");
        ASSERT_TRUE(reader);
        ASSERT_TRUE(reader->next(10));
        EXPECT_EQ(reader->rowCount(), 10u);
    } // closed before its end: the file's read lock goes with it
    Connection other;
    ASSERT_TRUE(other.open(jet(m_path)));
    EXPECT_TRUE(other.execute("delete from R where id > 100")) << other.errors().front().description;

    // A failure in a later batch reports the database's error and ends the reader.
    auto failing =
        m_db.openReader("select case when id < 50 then id else abs(-9223372036854775807 - (id >= 50)) end from R");
    ASSERT_TRUE(failing) << m_db.errors().front().description;
    ASSERT_TRUE(failing->next(10));
    EXPECT_FALSE(failing->next(100));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Rejected);
    EXPECT_NE(m_db.errors().front().description.find("integer overflow"), std::string::npos);
    EXPECT_TRUE(failing->atEnd());
    EXPECT_TRUE(m_db.openReader("select 1"));

    // A reader that outlives its connection's close only ends.
    auto orphan = m_db.openReader("select id from R");
    ASSERT_TRUE(orphan);
    m_db.close();
    EXPECT_FALSE(orphan->next(10));
    EXPECT_TRUE(orphan->atEnd());
}

TEST_F(SqliteTest, AFaultInsideTheLayerIsAnInternalErrorNotALostConnection)
{
    ASSERT_TRUE(m_db.execute("create table F (x integer)"));
    auto writer = m_db.openRowWriter("F");
    ASSERT_TRUE(writer);
    struct Case {
        const char* name;
        void (*hook)();
        std::function<bool()> call;
        const char* description;
    };
    const Case cases[] = {
        {"statement, out of memory", [] { throw std::bad_alloc(); },
         [&] { return m_db.execute("insert into F values (1)"); },
         "memoria insufficiente: l'operazione sul database non è stata completata"},
        {"asynchronous statement, a text too long to build", [] { throw std::length_error("basic_string::_M_create"); },
         [&] { return m_db.executeAsync("insert into F values (1)") && m_db.endExecute(); },
         "errore interno del programma: l'operazione sul database non è stata completata "
         "(basic_string::_M_create)"},
        {"query", [] { throw std::bad_alloc(); }, [&] { return m_db.query("select x from F").has_value(); },
         "memoria insufficiente: l'operazione sul database non è stata completata"},
        {"batch of rows on the worker", [] { throw 7; },
         [&] {
             writer->addNew();
             return writer->setAt(0, Value(std::int64_t{1})) && writer->queue() && writer->flush();
         },
         "errore interno del programma: l'operazione sul database non è stata completata"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setJobFaultHook(c.hook);
        EXPECT_FALSE(c.call());
        setJobFaultHook(nullptr);
        EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Internal);
        ASSERT_EQ(m_db.errors().size(), 1u);
        EXPECT_EQ(m_db.errors().front().description, c.description);
        EXPECT_EQ(m_db.errors().front().number, kErrUnspecified);
        // Nothing of the failed call reached the table, and the connection goes on working.
        auto rows = m_db.query("select count(*) from F");
        ASSERT_TRUE(rows);
        EXPECT_EQ(rows->value(std::size_t{0}).toInt(), 0);
    }
    ASSERT_TRUE(m_db.execute("insert into F values (1)"));
}

} // namespace
