#include "db/ConnectionString.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace zs::db;

namespace {

TEST(ConnectionString, ParsesItemsAndQuotedValues)
{
    std::string error;
    auto cs = ConnectionString::parse(
        " Driver = {My Driver};PWD={a;b}}c} ; Password=\"x\"\"y;\";User ID='o''k';;Empty=;", error);
    ASSERT_TRUE(cs) << error;
    EXPECT_EQ(cs->get("driver"), "My Driver");
    EXPECT_EQ(cs->get("pwd"), "a;b}c");
    EXPECT_EQ(cs->get("PASSWORD"), "x\"y;");
    EXPECT_EQ(cs->get("user id"), "o'k");
    EXPECT_EQ(cs->get("empty"), "");
    EXPECT_FALSE(cs->get("missing"));
    EXPECT_EQ(cs->toOdbc(), "Driver={My Driver};PWD={a;b}}c};Password={x\"y;};User ID=o'k;Empty=");
}

TEST(ConnectionString, MalformedStringsGiveAnErrorThatQuotesNoValue)
{
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"password holding an unquoted ;", "Driver={X};UID=u;PWD=sec;ret42"},
        {"item without key", "Driver={X};=ret42"},
        {"unclosed brace", "Driver={X};PWD={ret42"},
        {"text after quotes", "Driver={X};PWD={ab}ret42"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(ConnectionString::parse(c.text, error));
        EXPECT_NE(error.find("malformed connection string"), std::string::npos) << error;
        EXPECT_EQ(error.find("ret42"), std::string::npos) << error;
    }
}

TEST(ConnectionString, ResolvesEachProviderForm)
{
    const zs::test::ScopedEnvVar sqlServerDriver("ZS_ODBC_SQLSERVER_DRIVER", "FreeTDS");
    const zs::test::ScopedEnvVar oracleDriver("ZS_ODBC_ORACLE_DRIVER", "Oracle");
    struct Case {
        const char* name;
        const char* text;
        ConnectionTarget::Kind kind;
        const char* expected; // ODBC string or SQLite path
    };
    const Case cases[] = {
        {"jet", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/vendite.mdb;", ConnectionTarget::Kind::Sqlite,
         "/data/vendite.mdb"},
        {"ace", "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/data/x.db", ConnectionTarget::Kind::Sqlite,
         "/data/x.db"},
        {"data source alone", "Data Source=/data/x.db", ConnectionTarget::Kind::Sqlite, "/data/x.db"},
        {"sql server ole db", "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=dw;User ID=sa;Password=pw",
         ConnectionTarget::Kind::Odbc, "Driver={FreeTDS};Server=srv;Database=dw;UID=sa;PWD=pw;TDS_Version=7.4"},
        {"sql server with port and extras",
         "Provider=SQLOLEDB;Persist Security Info=False;Data Source=srv,1433;Initial Catalog=dw;User "
         "ID=sa;Password=p;w",
         ConnectionTarget::Kind::Odbc, ""},
        {"sql server quoted password", "Provider=SQLOLEDB;Data Source=srv,1433;User ID=sa;Password=\"p;w\"",
         ConnectionTarget::Kind::Odbc, "Driver={FreeTDS};Server=srv;Port=1433;UID=sa;PWD={p;w};TDS_Version=7.4"},
        // A protocol version the string names wins; "host,port" gives FreeTDS the port.
        {"sql server own tds version", "Provider=SQLOLEDB;Data Source=10.0.0.5,1533;TDS_Version=7.2;Initial Catalog=dw",
         ConnectionTarget::Kind::Odbc, "Driver={FreeTDS};Server=10.0.0.5;Port=1533;TDS_Version=7.2;Database=dw"},
        {"oracle easy connect", "Provider=MSDAORA;Data Source=dbhost:1521;Database=orcl;User ID=z;Password=pw",
         ConnectionTarget::Kind::Odbc, "Driver={Oracle};DBQ=dbhost:1521/orcl;UID=z;PWD=pw"},
        {"oracle tns name, no database", "Provider=MSDAORA;Data Source=ORCL;Database=;User ID=z;Password=pw",
         ConnectionTarget::Kind::Odbc, "Driver={Oracle};DBQ=ORCL;UID=z;PWD=pw"},
        {"oracle", "Provider=MSDAORA;Data Source=ORCL;User ID=zentrik;Password=pw", ConnectionTarget::Kind::Odbc,
         "Driver={Oracle};DBQ=ORCL;UID=zentrik;PWD=pw"},
        {"odbc as it stands", "Driver={FreeTDS};Server=h;Database=d;UID=u;PWD=p", ConnectionTarget::Kind::Odbc,
         "Driver={FreeTDS};Server=h;Database=d;UID=u;PWD=p"},
        {"dsn", "DSN=warehouse;UID=u", ConnectionTarget::Kind::Odbc, "DSN=warehouse;UID=u"},
        {"msdasql", "Provider=MSDASQL;DSN=warehouse", ConnectionTarget::Kind::Odbc, "DSN=warehouse"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Error error;
        auto target = resolveConnectionString(c.text, error);
        if (std::string(c.expected).empty()) {
            EXPECT_FALSE(target);
            EXPECT_EQ(error.kind, ErrorClass::BadArgument);
            continue;
        }
        ASSERT_TRUE(target) << error.description;
        EXPECT_EQ(target->kind, c.kind);
        EXPECT_EQ(c.kind == ConnectionTarget::Kind::Sqlite ? target->sqlitePath : target->odbcString, c.expected);
    }
}

TEST(ConnectionString, AnotherSqlServerDriverGetsNoFreeTdsProtocolVersion)
{
    const zs::test::ScopedEnvVar sqlServerDriver("ZS_ODBC_SQLSERVER_DRIVER", "ODBC Driver 18 for SQL Server");
    Error error;
    auto target = resolveConnectionString("Provider=SQLOLEDB;Data Source=srv;Initial Catalog=dw", error);
    ASSERT_TRUE(target) << error.description;
    EXPECT_EQ(target->odbcString, "Driver={ODBC Driver 18 for SQL Server};Server=srv;Database=dw");
}

TEST(ConnectionString, ThePostgreSqlDriverLeavesAFailedStatementToTheServerUnlessTheStringSaysOtherwise)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Driver={PostgreSQL Unicode};Server=h;Database=d",
         "Driver={PostgreSQL Unicode};Server=h;Database=d;Protocol=7.4-0"},
        {"DRIVER=postgresql ansi;Server=h", "DRIVER={postgresql ansi};Server=h;Protocol=7.4-0"},
        {"Driver={PostgreSQL Unicode};Protocol=7.4-2;Server=h", "Driver={PostgreSQL Unicode};Protocol=7.4-2;Server=h"},
        {"Driver=FreeTDS;Server=h;TDS_Version=7.4", "Driver=FreeTDS;Server=h;TDS_Version=7.4"},
        {"DSN=erp", "DSN=erp"},
        {"Driver={PostgreSQL Unicode;Server=h", "Driver={PostgreSQL Unicode;Server=h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withDriverDefaults(c.in), c.out) << c.in;
}

TEST(ConnectionString, AccessPathWithBackslashesIsFoundWithoutRegardToCase)
{
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "Vendite.DB", "");
    std::string windows = (dir / "vendite.db").string();
    for (auto& c : windows)
        if (c == '/')
            c = '\\';
    Error error;
    auto target = resolveConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + windows + ";", error);
    ASSERT_TRUE(target);
    EXPECT_EQ(target->sqlitePath, (dir / "Vendite.DB").string());
}

TEST(ConnectionString, RejectsWhatItCannotOpen)
{
    struct Case {
        const char* name;
        const char* text;
        std::int32_t number;
    };
    const Case cases[] = {
        {"empty", "", kErrBadArgument},
        {"only separators", ";;", kErrBadArgument},
        {"unknown provider", "Provider=Foo.Bar;Data Source=x", kErrNoProvider},
        {"nothing to open", "UID=u;PWD=p", kErrNoProvider},
        {"jet without file", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=", kErrBadArgument},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Error error;
        EXPECT_FALSE(resolveConnectionString(c.text, error));
        EXPECT_EQ(error.kind, ErrorClass::BadArgument);
        EXPECT_EQ(error.number, c.number);
        EXPECT_EQ(error.description.find("PWD=p"), std::string::npos);
    }
}

TEST(ConnectionString, MasksPasswords)
{
    struct Case {
        const char* text;
        const char* masked;
    };
    const Case cases[] = {
        {"Driver={X};UID=sa;PWD=secret", "Driver={X};UID=sa;PWD=****"},
        {"Provider=SQLOLEDB;Password=secret;User ID=sa", "Provider=SQLOLEDB;Password=****;User ID=sa"},
        {"Driver={X};pwd={se;cr}}et};UID=sa", "Driver={X};pwd=****;UID=sa"},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=x;Data Source=a.db;",
         "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=****;Data Source=a.db;"},
        {"Driver={X};PWD=;UID=sa", "Driver={X};PWD=;UID=sa"},
        {"no items at all", "no items at all"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(maskPasswords(c.text), c.masked);
    }
    EXPECT_EQ(maskSecret("PWD=ab;cd and ab;cd again", "ab;cd"), "PWD=**** and **** again");
    EXPECT_EQ(maskSecret("unchanged", ""), "unchanged");
}

} // namespace
