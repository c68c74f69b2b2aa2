// The ODBC backend against a real PostgreSQL server started for this process, and against the
// SQLite ODBC driver.

#include "db/Catalog.h"
#include "db/Connection.h"
#include "db/ConnectionString.h"
#include "db/Transaction.h"

#include "pgtest/PgServer.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zs::db;
using namespace std::chrono_literals;
using zs::pgtest::Server;

namespace {

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

/// How many statements of the server's other sessions are still running `text`.
std::string runningStatements(const std::string& text)
{
    std::string out;
    Server::shared().psql("select count(*) from pg_stat_activity where state = 'active' and query like '" + text +
                              "%' and pid <> pg_backend_pid() and datname = current_database()",
                          &out);
    return trimmed(out);
}

void waitUntilNoneRuns(const std::string& text)
{
    for (int i = 0; i < 50 && runningStatements(text) != "0"; ++i)
        std::this_thread::sleep_for(20ms);
}

class PgTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ZS_REQUIRE_PG();
        ASSERT_TRUE(m_db.open(Server::shared().odbcConnectionString())) << m_db.errors().front().description;
    }
    Connection m_db;
};

TEST_F(PgTest, OpensQueriesAndReportsItsStringWithoutThePassword)
{
    EXPECT_EQ(m_db.dialect(), Dialect::PostgreSql);
    EXPECT_EQ(m_db.connectionString(), Server::shared().odbcConnectionString());
    EXPECT_EQ(m_db.reportedConnectionString().find(Server::shared().password()), std::string::npos);
    EXPECT_NE(m_db.reportedConnectionString().find("PWD=****"), std::string::npos);

    ASSERT_TRUE(m_db.execute("create table clienti (id integer, nome varchar(40), saldo numeric(10,2), "
                             "nato timestamp, attivo boolean, n bigint)"));
    ASSERT_TRUE(
        m_db.execute("insert into clienti values (1, 'Mercoledì €', 2.50, '2005-01-01 10:20:30', true, 12345678901), "
                     "(2, null, null, null, null, null)"));
    auto rs = m_db.query("select * from CLIENTI order by id");
    ASSERT_TRUE(rs) << m_db.errors().front().description;
    EXPECT_EQ(rs->value("ID"), Value(1));
    EXPECT_EQ(rs->text("Nome"), "Mercoledì €");
    EXPECT_EQ(rs->value("saldo"), Value(2.5));
    EXPECT_EQ(rs->value("nato"), Value(zs::time::DateTime{2005, 1, 1, 10, 20, 30}));
    EXPECT_EQ(rs->text("attivo"), "1"); // the driver hands booleans over as characters
    EXPECT_EQ(rs->value("n"), Value(std::int64_t{12345678901}));
    rs->moveNext();
    EXPECT_EQ(rs->text("nome"), "");
    EXPECT_TRUE(rs->value("nato").isNull());
    EXPECT_TRUE(m_db.execute("delete from clienti where id > 100"));
    EXPECT_TRUE(m_db.execute("drop table clienti"));
}

TEST_F(PgTest, RejectedStatementCarriesTheServersDiagnostics)
{
    EXPECT_FALSE(m_db.execute("selec 1"));
    ASSERT_FALSE(m_db.errors().empty());
    const Error& e = m_db.errors().front();
    EXPECT_EQ(e.kind, ErrorClass::Rejected);
    EXPECT_EQ(e.number, kErrRejected);
    EXPECT_EQ(e.sqlState, "42601");
    EXPECT_NE(e.description.find("syntax"), std::string::npos);
    EXPECT_EQ(e.source, "ODBC psqlodbcw.so");
    EXPECT_TRUE(m_db.execute("select 1"));
}

TEST_F(PgTest, LongStatementIsPolledAndCancelledOnTheServer)
{
    ASSERT_TRUE(m_db.executeAsync("select pg_sleep(30)"));
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(m_db.isExecuting());
        EXPECT_FALSE(m_db.waitFor(30ms));
    }
    EXPECT_EQ(runningStatements("select pg_sleep(30)"), "1");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_db.cancel());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(m_db.endExecute());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Cancelled);
    waitUntilNoneRuns("select pg_sleep(30)");
    EXPECT_EQ(runningStatements("select pg_sleep(30)"), "0");
    EXPECT_TRUE(m_db.execute("select 1"));
}

TEST_F(PgTest, CommandTimeoutEndsTheStatementInTheTimeoutClass)
{
    m_db.setCommandTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_db.execute("select pg_sleep(20)"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::Timeout);
    EXPECT_EQ(m_db.errors().front().number, kErrTimeout);
    waitUntilNoneRuns("select pg_sleep(20)");
    EXPECT_EQ(runningStatements("select pg_sleep(20)"), "0");
}

TEST_F(PgTest, TerminatedBackendGivesConnectionLost)
{
    auto pid = m_db.query("select pg_backend_pid()");
    ASSERT_TRUE(pid);
    ASSERT_TRUE(m_db.executeAsync("select pg_sleep(30)"));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(Server::shared().psql("select pg_terminate_backend(" + pid->value(std::size_t{0}).toString() + ")"));
    ASSERT_TRUE(m_db.waitFor(5s));
    EXPECT_FALSE(m_db.endExecute());
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::ConnectionLost);
    EXPECT_EQ(m_db.errors().front().number, kErrUnspecified);
    EXPECT_FALSE(m_db.execute("select 1"));
    EXPECT_EQ(m_db.lastErrorClass(), ErrorClass::ConnectionLost);
}

TEST(PgOpen, BadInputGivesAClearErrorWithoutThePassword)
{
    ZS_REQUIRE_PG();
    const auto& pg = Server::shared();
    const std::string base = "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(pg.port());
    struct Case {
        const char* name;
        std::string text;
        ErrorClass kind;
        const char* says;
    };
    const Case cases[] = {
        {"wrong password", base + ";Database=postgres;UID=postgres;PWD=Wr0ng-pass", ErrorClass::Connect, "password"},
        {"unreachable server",
         "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=postgres;UID=postgres;PWD=Wr0ng-pass",
         ErrorClass::Connect, "refused"},
        {"missing database", base + ";Database=nessuno;UID=postgres;PWD=" + pg.password(), ErrorClass::Connect,
         "nessuno"},
        {"password holding ;", base + ";Database=postgres;UID=postgres;PWD=Wr0ng;pass", ErrorClass::BadArgument,
         "malformed"},
        {"unknown driver", "Driver={Nessun Driver};Server=127.0.0.1;PWD=Wr0ng-pass", ErrorClass::BadArgument, "Nessun"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection db;
        EXPECT_FALSE(db.open(c.text));
        ASSERT_FALSE(db.errors().empty());
        EXPECT_EQ(db.lastErrorClass(), c.kind);
        EXPECT_EQ(db.state(), kStateClosed);
        std::string all;
        for (const auto& e : db.errors())
            all += e.description + "\n";
        EXPECT_NE(all.find(c.says), std::string::npos) << all;
        EXPECT_EQ(all.find("Wr0ng"), std::string::npos) << all;
        EXPECT_EQ(all.find(pg.password()), std::string::npos) << all;
    }
}

TEST(PgOpen, QuotedPasswordHoldingSemicolonWorks)
{
    ZS_REQUIRE_PG();
    const auto& pg = Server::shared();
    ASSERT_TRUE(pg.psql("drop role if exists zs_semi; create role zs_semi login password 'a;b}c'"));
    // The OLE DB form quotes with "…", the ODBC form with {…}.
    Error error;
    auto target = resolveConnectionString("Provider=SQLOLEDB;Data Source=h;User ID=zs_semi;Password=\"a;b}c\"", error);
    ASSERT_TRUE(target);
    EXPECT_NE(target->odbcString.find("PWD={a;b}}c}"), std::string::npos);
    Connection db;
    ASSERT_TRUE(db.open("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(pg.port()) +
                        ";Database=postgres;UID=zs_semi;PWD={a;b}}c}"))
        << db.errors().front().description;
    EXPECT_EQ(db.reportedConnectionString().find("a;b"), std::string::npos);
}

// A process killed while its statement runs: the server ends the statement within a few
// seconds instead of running it on to its end.
TEST_F(PgTest, TheServerEndsTheStatementOfAClientThatHasGone)
{
    auto rs = m_db.query("select current_setting('client_connection_check_interval')");
    ASSERT_TRUE(rs) << m_db.errors().front().description;
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), "1s");

    const std::string cs = Server::shared().odbcConnectionString();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Connection c;
        if (c.open(cs))
            (void)c.execute("select pg_sleep(40)");
        std::_Exit(0);
    }
    for (int i = 0; i < 250 && runningStatements("select pg_sleep(40)") != "1"; ++i)
        std::this_thread::sleep_for(20ms);
    const bool ran = runningStatements("select pg_sleep(40)") == "1";
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(ran);
    const auto killed = std::chrono::steady_clock::now();
    for (int i = 0; i < 100 && runningStatements("select pg_sleep(40)") != "0"; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_EQ(runningStatements("select pg_sleep(40)"), "0");
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 4s);
}

// A table of the same name in another schema is not the connection's: its unqualified names
// go to the current schema, which is where the catalog looks and creates.
TEST_F(PgTest, OnlyTheCurrentSchemasTablesExistForTheCatalog)
{
    auto& pg = Server::shared();
    ASSERT_TRUE(pg.psql("drop schema if exists erp cascade; drop table if exists clienti_erp; create schema erp; "
                        "create table erp.clienti_erp (id integer); create view erp.vista_erp as select 1 as x"));
    Catalog catalog;
    ASSERT_TRUE(catalog.attach(pg.odbcConnectionString()));
    EXPECT_EQ(catalog.tableExists("clienti_erp"), false);
    EXPECT_EQ(catalog.tableExists("vista_erp"), false);
    ASSERT_TRUE(catalog.createTable(TableDef{"clienti_erp", {{"id", ColumnType::Integer, {}, true, false}}, {}}));
    EXPECT_EQ(catalog.tableExists("clienti_erp"), true);
    ASSERT_TRUE(catalog.connection().execute("create view vista_propria as select 1 as x"));
    EXPECT_EQ(catalog.tableExists("vista_propria"), true);
    auto rs = catalog.connection().query("select count(*) from pg_tables where tablename = 'clienti_erp' and "
                                         "schemaname = current_schema()");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toInt(), 1);
    // A session whose search path names the other schema first finds that schema's tables.
    ASSERT_TRUE(catalog.connection().execute("set search_path = erp, public"));
    EXPECT_EQ(catalog.tableExists("vista_erp"), true);
    EXPECT_EQ(catalog.tableExists("vista_propria"), false);
    catalog.close();
    pg.psql("drop schema erp cascade; drop table if exists clienti_erp; drop view if exists vista_propria");
}

TEST_F(PgTest, RowWriterAndCatalogOnTheServer)
{
    Catalog catalog;
    std::string cs = Server::shared().odbcConnectionString("zs_dw");
    Server::shared().psql("drop database if exists zs_dw");
    ASSERT_TRUE(catalog.create(cs)) << catalog.errors().front().description;
    EXPECT_FALSE(Catalog().create(cs));

    TableDef time{"TIME",
                  {{"Data", ColumnType::Timestamp, {}, false, false},
                   {"giorno", ColumnType::VarWChar, 20, true, false},
                   {"anno", ColumnType::Integer, {}, true, false},
                   {"mesedellanno", ColumnType::WChar, 2, true, false},
                   {"Trimestre", ColumnType::Integer, {}, true, false}},
                  KeyDef{"TIME_PrimaryKey", {"Data"}}};
    EXPECT_EQ(catalog.tableExists("TIME"), false);
    ASSERT_TRUE(catalog.createTable(time)) << catalog.errors().front().description;
    EXPECT_EQ(catalog.tableExists("TIME"), true);
    EXPECT_EQ(catalog.tableExists("Mixed Case"), false);
    ASSERT_TRUE(catalog.createTable(TableDef{"Mixed Case", {{"X", ColumnType::Integer, {}, true, false}}, {}}));
    EXPECT_EQ(catalog.tableExists("Mixed Case"), true);
    EXPECT_EQ(catalog.tableExists("mixed case"), false);

    auto& c = catalog.connection();
    auto w = c.openRowWriter("Time");
    ASSERT_TRUE(w) << c.errors().front().description;
    for (int day = 1; day <= 2; ++day) {
        w->addNew();
        ASSERT_TRUE(w->set("data", zs::time::DateTime{2005, 1, day, 0, 0, 0}));
        ASSERT_TRUE(w->set("GIORNO", day == 1 ? "Sabato" : "Domenica"));
        ASSERT_TRUE(w->set("anno", "2005"));
        ASSERT_TRUE(w->set("mesedellanno", "01"));
        ASSERT_TRUE(w->set("Trimestre", 1));
        ASSERT_TRUE(w->update()) << c.errors().front().description;
    }
    w->addNew();
    ASSERT_TRUE(w->set("data", zs::time::DateTime{2005, 1, 1, 0, 0, 0}));
    EXPECT_FALSE(w->update());
    EXPECT_EQ(c.errors().front().number, kErrIntegrity);

    auto rs = c.query("select * from time order by data");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->rowCount(), 2u);
    EXPECT_EQ(rs->text("giorno"), "Sabato");
    EXPECT_EQ(rs->value("anno"), Value(2005));
    EXPECT_EQ(rs->text("mesedellanno"), "01");
    c.close();
    Server::shared().psql("drop database zs_dw");
}

TEST(SqliteOdbc, SecondOdbcTargetRunsAndCancels)
{
    zs::pgtest::usePrivateOdbcIni();
    zs::test::TempDir dir;
    Connection db;
    ASSERT_TRUE(db.open("Driver={SQLite3};Database=" + (dir / "x.db").string())) << db.errors().front().description;
    EXPECT_EQ(db.dialect(), Dialect::Sqlite);
    ASSERT_TRUE(db.execute("create table t (a integer, b text)"));
    ASSERT_TRUE(db.execute("insert into t values (1, 'uno')"));
    auto rs = db.query("select * from T");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->text("B"), "uno");
    EXPECT_EQ(db.tableNames(), std::vector<std::string>{"t"});

    ASSERT_TRUE(db.executeAsync("with recursive c(x) as (select 1 union all select x + 1 from c where x < 10000000000) "
                                "select count(*) from c"));
    EXPECT_FALSE(db.waitFor(100ms));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(db.cancel());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(db.endExecute());
    EXPECT_EQ(db.lastErrorClass(), ErrorClass::Cancelled);
}

} // namespace

namespace {

TEST_F(PgTest, QueuedRowsGoInBatchesWithTypedNulls)
{
    ASSERT_TRUE(m_db.execute("drop table if exists queued_rows; create table queued_rows (id integer primary key, "
                             "nome varchar(20) default 'nessuno', peso double precision, data timestamp, ok boolean)"));
    auto w = m_db.openRowWriter("queued_rows");
    ASSERT_TRUE(w);
    const std::size_t rows = RowWriter::kBatchRows + 333; // a full batch, a shorter last one
    std::string maxName;
    for (std::size_t i = 0; i < rows; ++i) {
        w->addNew();
        ASSERT_TRUE(w->set("id", static_cast<int>(i)));
        if (i % 10 != 0) {
            ASSERT_TRUE(w->set("nome", "n\xC3\xA0" + std::to_string(i)));
            maxName = std::max(maxName, "n\xC3\xA0" + std::to_string(i));
        }
        // Nulls in typed columns are sent as their column's type.
        ASSERT_TRUE(w->set("peso", i % 2 ? Value(1.5) : Value()));
        ASSERT_TRUE(w->set("data", i % 3 ? Value(zs::time::DateTime{2005, 1, 2, 3, 4, 5}) : Value()));
        ASSERT_TRUE(w->set("ok", i % 4 ? Value(true) : Value()));
        ASSERT_TRUE(w->queue()) << m_db.errors().front().description;
    }
    ASSERT_TRUE(w->flush()) << m_db.errors().front().description;
    auto rs = m_db.query("select count(*), sum(id), count(*) filter (where nome = 'nessuno'), count(peso), "
                         "count(data), count(ok), max(nome) from queued_rows");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), std::to_string(rows));
    EXPECT_EQ(rs->value(std::size_t{1}).toString(), std::to_string(rows * (rows - 1) / 2));
    EXPECT_EQ(rs->value(std::size_t{2}).toString(), std::to_string((rows + 9) / 10));
    EXPECT_EQ(rs->value(std::size_t{3}).toString(), std::to_string(rows / 2));
    EXPECT_EQ(rs->value(std::size_t{6}).toString(), maxName);

    // A batch the server refuses fails as a whole, with the server's reason.
    w->addNew();
    ASSERT_TRUE(w->set("id", 1));
    ASSERT_TRUE(w->queue());
    EXPECT_FALSE(w->flush());
    EXPECT_EQ(m_db.errors().front().number, kErrIntegrity);
    ASSERT_TRUE(m_db.execute("drop table queued_rows"));
}

TEST_F(PgTest, AStatementOfATransactionHasNoSavepointOfItsOwnAndItsFailureAbortsTheWhole)
{
    // A row written under a savepoint carries the savepoint's transaction id, not the
    // transaction's own: the driver asked to wrap each statement would show here.
    ASSERT_TRUE(m_db.execute("create table sv (a integer)"));
    ASSERT_TRUE(m_db.execute("BEGIN"));
    ASSERT_TRUE(m_db.execute("insert into sv values (1)"));
    ASSERT_TRUE(m_db.execute("insert into sv values (2)"));
    auto rs = m_db.query(
        "select count(*) from sv where xmin::text = (pg_current_xact_id()::text::bigint % 4294967296)::text");
    ASSERT_TRUE(rs) << m_db.errors().front().description;
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), "2");
    // A failure is the transaction's: nothing after it runs until it is rolled back.
    EXPECT_FALSE(m_db.execute("insert into sv values ('x')"));
    EXPECT_FALSE(m_db.execute("insert into sv values (3)"));
    ASSERT_TRUE(m_db.execute("ROLLBACK"));
    rs = m_db.query("select count(*) from sv");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), "0");
}

TEST_F(PgTest, RowReaderThroughAServerCursorReadsEveryRowAndClosesCleanly)
{
    ASSERT_TRUE(m_db.execute("create table lettura as select i as id, 'riga ' || i as nome from "
                             "generate_series(1, 25000) i"));
    // The driver reads a batch a round trip through a server cursor instead of the whole result.
    Connection c;
    ASSERT_TRUE(c.open(Server::shared().odbcConnectionString() + ";UseDeclareFetch=1;Fetch=1000"))
        << c.errors().front().description;
    for (int round = 0; round < 2; ++round) {
        auto reader = c.openReader("select id, nome from lettura");
        ASSERT_TRUE(reader) << c.errors().front().description;
        long long rows = 0, sum = 0;
        while (!reader->atEnd()) {
            ASSERT_TRUE(reader->next(1000)) << c.errors().front().description;
            for (std::size_t r = 0; r < reader->rowCount(); ++r)
                sum += reader->at(r, 0).toInt().value_or(0);
            rows += static_cast<long long>(reader->rowCount());
        }
        EXPECT_EQ(rows, 25000);
        EXPECT_EQ(sum, 25000LL * 25001 / 2);
    }
    // Closed before its end: the cursor and its transaction end, and the connection goes on.
    {
        auto reader = c.openReader("select id from lettura");
        ASSERT_TRUE(reader);
        ASSERT_TRUE(reader->next(10));
    }
    ASSERT_TRUE(c.execute("insert into lettura values (0, 'dopo')")) << c.errors().front().description;
    auto rs = m_db.query("select count(*) from lettura where nome = 'dopo'");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->value(std::size_t{0}).toString(), "1"); // committed, seen by another session
    std::string idle;
    Server::shared().psql("select count(*) from pg_stat_activity where state like 'idle in transaction%' and "
                          "datname = current_database()",
                          &idle);
    EXPECT_EQ(trimmed(idle), "0");
}

TEST_F(PgTest, QueuedTextsArriveAsWrittenWhateverTheyHold)
{
    // Alone the rows travel as array literals, in a transaction as COPY text: every character
    // that means something in either must come back as it was, in batch after batch.
    const std::vector<std::string> texts = {
        "",
        " ",
        "NULL",
        "null",
        "a,b",
        "{x}",
        "\"",
        "\\",
        "\\\"",
        "fine\\",
        "\"inizio",
        "due \"\" virgolette",
        "c:\\dati\\file.xml",
        "  margini  ",
        "perch\xC3\xA9 \"s\xC3\xAC\"",
        "tab\tfine",
        "riga\nnuova",
        "ritorno\r\n",
        "\\N",
        "\\t",
        "un testo lungo senza nulla da segnare",
        "un testo lungo con \"virgolette\" dopo otto byte",
        "lungo, e alla fine\\",
        "Articolo perch\xC3\xA9 pi\xC3\xB9 lungo di otto byte",
    };
    for (const bool inTransaction : {false, true}) {
        SCOPED_TRACE(inTransaction ? "COPY" : "arrays");
        ASSERT_TRUE(m_db.execute("drop table if exists queued_texts; create table queued_texts (id integer, t text)"));
        Transaction tx(m_db);
        if (inTransaction) {
            ASSERT_TRUE(tx.begin());
        }
        auto w = m_db.openRowWriter("queued_texts");
        ASSERT_TRUE(w);
        const std::size_t rows = RowWriter::kBatchRows * 2 + texts.size();
        for (std::size_t i = 0; i < rows; ++i) {
            w->addNew();
            ASSERT_TRUE(w->set("id", static_cast<int>(i)));
            ASSERT_TRUE(w->set("t", texts[i % texts.size()]));
            ASSERT_TRUE(w->queue()) << m_db.errors().front().description;
        }
        ASSERT_TRUE(w->flush()) << m_db.errors().front().description;
        ASSERT_TRUE(tx.commit()) << m_db.errors().front().description;
        auto rs = m_db.query("select id, t from queued_texts order by id");
        ASSERT_TRUE(rs);
        std::size_t i = 0;
        for (; !rs->eof(); rs->moveNext(), ++i) {
            ASSERT_EQ(rs->value(std::size_t{0}).toString(), std::to_string(i));
            ASSERT_EQ(rs->value(std::size_t{1}).toString(), texts[i % texts.size()]) << "row " << i;
        }
        EXPECT_EQ(i, rows);
        ASSERT_TRUE(m_db.execute("drop table queued_texts"));
    }
}

TEST_F(PgTest, RowsOfATransactionGoTogetherWithItsStatementsAndFailWithTheSameText)
{
    ASSERT_TRUE(m_db.execute(
        "drop table if exists copied; create table copied (id integer primary key, n text check (n <> 'dodici')); "
        "drop table if exists copied_note; create table copied_note (t text)"));
    // A value the column refuses, alone (arrays) and in a transaction (COPY): the same error.
    std::vector<std::string> texts;
    for (const bool inTransaction : {false, true}) {
        Transaction tx(m_db);
        if (inTransaction) {
            ASSERT_TRUE(tx.begin());
        }
        auto w = m_db.openRowWriter("copied");
        ASSERT_TRUE(w);
        w->addNew();
        ASSERT_TRUE(w->set("id", 1));
        ASSERT_TRUE(w->set("n", std::string("dodici")));
        ASSERT_TRUE(w->queue());
        EXPECT_FALSE(w->flush(true));
        ASSERT_FALSE(m_db.errors().empty());
        EXPECT_EQ(m_db.errors().front().kind, ErrorClass::Rejected);
        texts.push_back(m_db.errors().front().description);
    }
    EXPECT_EQ(texts[0], texts[1]);
    EXPECT_NE(texts[0].find("copied_n_check"), std::string::npos) << texts[0];
    for (const bool commit : {false, true}) {
        Transaction tx(m_db);
        ASSERT_TRUE(tx.begin());
        auto w = m_db.openRowWriter("copied");
        ASSERT_TRUE(w);
        for (int i = 0; i < 3; ++i) {
            w->addNew();
            ASSERT_TRUE(w->set("id", i));
            ASSERT_TRUE(w->set("n", std::to_string(i * 2)));
            ASSERT_TRUE(w->queue());
        }
        ASSERT_TRUE(w->flush(true));
        ASSERT_TRUE(m_db.execute("insert into copied_note values ('tre righe')"));
        if (commit) {
            ASSERT_TRUE(tx.commit()) << m_db.errors().front().description;
        } else {
            tx.rollback();
        }
        auto rs = m_db.query("select (select count(*) from copied), (select count(*) from copied_note)");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->value(std::size_t{0}).toString(), commit ? "3" : "0");
        EXPECT_EQ(rs->value(std::size_t{1}).toString(), commit ? "1" : "0");
    }
    // A key taken twice in one transaction: a constraint's error, nothing kept.
    Transaction tx(m_db);
    ASSERT_TRUE(tx.begin());
    auto w = m_db.openRowWriter("copied");
    w->addNew();
    ASSERT_TRUE(w->set("id", 1));
    ASSERT_TRUE(w->queue());
    EXPECT_FALSE(w->flush(true));
    ASSERT_FALSE(m_db.errors().empty());
    EXPECT_EQ(m_db.errors().front().number, kErrIntegrity);
    tx.rollback();
    ASSERT_TRUE(m_db.execute("drop table copied; drop table copied_note"));
}

TEST_F(PgTest, QueuedDoublesArriveAsExactlyTheSameNumbers)
{
    // Amounts with a few decimals travel in a short form of their own, every other double in
    // its shortest form: either way the server must store the very same double.
    const std::vector<double> numbers = {1234.56,     0.05,       -3.5,      1e20,     0.1 + 0.2,
                                         42.0,        -0.001,     2.675,     1e-7,     5e-324,
                                         -1e15 + 0.5, 1e15 - 0.5, 123456.7,  9e15 + 1, 1.7976931348623157e308,
                                         1.0 / 3,     -0.0,       999999.99, 0.000001, 4503599627370495.5,
                                         -7e-3,       1e6};
    ASSERT_TRUE(m_db.execute(
        "drop table if exists queued_doubles; create table queued_doubles (id integer, v double precision)"));
    auto w = m_db.openRowWriter("queued_doubles");
    ASSERT_TRUE(w);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        w->addNew();
        ASSERT_TRUE(w->set("id", static_cast<int>(i)));
        ASSERT_TRUE(w->set("v", numbers[i]));
        ASSERT_TRUE(w->queue()) << m_db.errors().front().description;
    }
    ASSERT_TRUE(w->flush()) << m_db.errors().front().description;
    // The stored doubles' shortest forms, read back as doubles here.
    auto rs = m_db.query("select id, v::text from queued_doubles order by id");
    ASSERT_TRUE(rs);
    std::size_t i = 0;
    for (; !rs->eof(); rs->moveNext(), ++i) {
        const std::string text = rs->value(std::size_t{1}).toString();
        double back = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(r.ec, std::errc()) << text;
        EXPECT_EQ(back, numbers[i]) << "row " << i << ": " << text;
    }
    EXPECT_EQ(i, numbers.size());
    ASSERT_TRUE(m_db.execute("drop table queued_doubles"));
}

} // namespace
