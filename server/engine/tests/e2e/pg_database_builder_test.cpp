// The database builder on the PostgreSQL server through ODBC, as the "SQLSERVER" and "MIXED"
// server types reach it with the settings' Provider template: the database created when
// missing, the tables with their types, sizes, nullability and named keys, the result lines.

#include "engine/DataBase.h"

#include "StepsTestSupport.h"
#include "db/Connection.h"
#include "pgtest/PgServer.h"
#include "program/ProgramSettings.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

namespace zs::engine {
namespace {

using test::scalar;

class PgDataBase : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ZS_REQUIRE_PG();
        const auto& pg = pgtest::Server::shared();
        settings.NomeServer = pg.host();
        settings.NomeDatabase = database + ".dbo";
        settings.UtenteServer = pg.user();
        settings.PasswordServer = pg.password();
        settings.ProviderAccess = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
        settings.PercorsoAccess = (dir.path() / "locale.mdb").string();
        provider = "Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=" + std::to_string(pg.port());
    }
    bool build(const std::string& type, const std::string& creation)
    {
        settingsDoc = xml::Document::loadString("<zentrikServer><ServerType>" + type + "</ServerType><Provider>" +
                                                provider + "</Provider></zentrikServer>");
        zs::test::writeFile(dir.path() / "creation.xml", creation);
        output.clear();
        return builder.CreaDatabase((dir.path() / "creation.xml").string());
    }
    std::string serverString() const { return pgtest::Server::shared().odbcConnectionString(database); }

    zs::test::TempDir dir;
    std::string database = "zs_build_" + std::to_string(::getpid());
    program::ProgramSettings settings;
    std::string provider;
    std::optional<xml::Document> settingsDoc;
    std::string output;
    zs::test::RecordingMessages messages;
    DataBase builder{settings, [this] { return settingsDoc ? settingsDoc->root() : xml::Element(); },
                     [this](const std::string& t) { output += t; }, messages};
};

TEST_F(PgDataBase, CreatesTheDatabaseAndItsTablesOnTheServer)
{
    EXPECT_TRUE(build("sqlserver", "<DB><TABELLE><CLIENTI><ID>INTEGER,,AUTOINCREMENT,NOTNULL</ID>"
                                   "<codice>CHAR,10,NOTNULL</codice><nome>TESTO,40</nome><nato>DATE</nato>"
                                   "<fido>FLOAT</fido><attivo>BOOLEAN</attivo><CHIAVE>codice</CHIAVE></CLIENTI>"
                                   "</TABELLE></DB>"))
        << output;
    EXPECT_EQ(output, "Creazione tabella CLIENTI su SQLServer: eseguita con successo\r\n");
    EXPECT_FALSE(std::filesystem::exists(settings.PercorsoAccess));

    db::Connection c;
    ASSERT_TRUE(c.open(serverString()));
    auto rs = c.query("select column_name || ':' || data_type || ':' || is_nullable || ':' || "
                      "coalesce(character_maximum_length::text, '') from information_schema.columns "
                      "where table_name = 'clienti' order by ordinal_position");
    ASSERT_TRUE(rs);
    std::vector<std::string> cols;
    for (; !rs->eof(); rs->moveNext())
        cols.push_back(rs->value(std::size_t{0}).toString());
    const std::vector<std::string> expected{"id:integer:NO:",
                                            "codice:character:NO:10",
                                            "nome:character varying:YES:40",
                                            "nato:timestamp without time zone:YES:",
                                            "fido:double precision:YES:",
                                            "attivo:boolean:YES:"};
    EXPECT_EQ(cols, expected);
    EXPECT_EQ(scalar(c, "select lower(constraint_name) from information_schema.table_constraints "
                        "where table_name = 'clienti' and constraint_type = 'PRIMARY KEY'"),
              "clienti_primarykey");
    // AUTOINCREMENT has no effect on the server: the id must be given.
    EXPECT_FALSE(c.execute("insert into CLIENTI (codice) values ('C1')"));
    c.close();

    // MIXED: the Access line first, then the server's; the server table is there already.
    EXPECT_TRUE(build("mixed", "<DB><TABELLE><CLIENTI><ID>INTEGER</ID></CLIENTI></TABELLE></DB>"));
    EXPECT_EQ(output, "Creazione tabella CLIENTI: eseguita con successo\r\n"
                      "Creazione tabella CLIENTI su SQLServer: già esistente\r\n");
    EXPECT_TRUE(std::filesystem::exists(settings.PercorsoAccess));
    EXPECT_TRUE(messages.shown.empty());

    // A link in the Access database to the server's table, through ODBC.
    ASSERT_TRUE(c.open(serverString()));
    ASSERT_TRUE(c.execute("insert into CLIENTI (id, codice, nome) values (7, 'C7', 'Sette')"));
    EXPECT_TRUE(build("access", "<DB><COLLEGAMENTI><ORIGINE>ODBC;" + serverString() +
                                    "</ORIGINE><TABELLAORIGINE>CLIENTI</TABELLAORIGINE>"
                                    "<TABELLADESTINAZIONE>CLIENTI_SERVER</TABELLADESTINAZIONE></COLLEGAMENTI></DB>"));
    EXPECT_EQ(output, "Collegamento tabella CLIENTI_SERVER: eseguito con successo\r\n");
    db::Connection local;
    ASSERT_TRUE(local.open(settings.ProviderAccess + settings.PercorsoAccess + ";"));
    EXPECT_EQ(scalar(local, "select id || ':' || trim(codice) || ':' || nome from CLIENTI_SERVER"), "7:C7:Sette");
    ASSERT_TRUE(local.execute("insert into CLIENTI_SERVER (id, codice) values (8, 'C8')"));
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "2");
}

TEST_F(PgDataBase, AProviderWithTooFewItemsBuildsNothing)
{
    provider = "Driver={PostgreSQL Unicode};Server=";
    EXPECT_FALSE(build("oracle", "<DB><TABELLE><T><a>INTEGER</a></T></TABELLE></DB>"));
    EXPECT_EQ(output.rfind("Impostazione Provider non valida", 0), 0u) << output;
}

} // namespace
} // namespace zs::engine
