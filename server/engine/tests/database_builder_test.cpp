// The database builder over real SQLite files: tables with their types, sizes, nullability,
// counters and named keys, tables that exist already, tables that fail, and linked tables
// that read and append to a table of another database.

#include "StepsTestSupport.h"
#include "engine/DataBase.h"

#include "testsupport/HostileXml.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <set>

namespace zs::engine {
namespace {
using test::scalar;

class DataBaseTest : public test::StepsTest {
  protected:
    DataBaseTest()
    {
        m_settings.ProviderAccess = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=";
        m_settings.PercorsoAccess = path("target.mdb").string();
        setServerType("access");
    }
    void setServerType(const std::string& type)
    {
        m_settingsDoc =
            xml::Document::loadString("<zentrikServer><ServerType>" + type + "</ServerType></zentrikServer>");
    }
    bool build(const std::string& creationXml)
    {
        zs::test::writeFile(path("creation.xml"), creationXml);
        m_output.clear();
        return m_builder.CreaDatabase(path("creation.xml").string());
    }
    std::string column(db::Connection& c, const std::string& table, const std::string& col)
    {
        return scalar(c, "select type || '|' || \"notnull\" || '|' || pk from pragma_table_info('" + table +
                             "') where name = '" + col + "'");
    }

    std::optional<xml::Document> m_settingsDoc;
    std::string m_output;
    DataBase m_builder{m_settings, [this] { return m_settingsDoc ? m_settingsDoc->root() : xml::Element(); },
                       [this](const std::string& t) { m_output += t; }, m_messages};
};

const char* const kTables =
    "<DB><TABELLE>"
    "<CLIENTI><ID>INTEGER,,AUTOINCREMENT</ID><codice>CHAR,10,NOTNULL</codice><nome>testo, 40</nome>"
    "<data>DATE</data><attivo>BOOLEAN</attivo><importo>FLOAT</importo><CHIAVE>ID</CHIAVE></CLIENTI>"
    "<PRIMA><a>INTEGER,,AUTOINCREMENT,NOTNULL</a><x>CHAR,5, NOTNULL</x></PRIMA>"
    "<RIGHE><ordine>CHAR,10</ordine><riga>INTEGER</riga><CHIAVE>ordine,riga</CHIAVE></RIGHE>"
    "<SENZATIPO><x/></SENZATIPO>"
    "<CHIAVEERRATA><a>INTEGER</a><b>INTEGER</b><CHIAVE>a, b</CHIAVE></CHIAVEERRATA>"
    "<MISURA><a>CHAR,dieci</a></MISURA>"
    "</TABELLE></DB>";

TEST_F(DataBaseTest, BuildsTheAccessTablesAndReportsEachOne)
{
    EXPECT_FALSE(build(kTables));
    EXPECT_EQ(m_output, "Creazione tabella CLIENTI: eseguita con successo\r\n"
                        "Creazione tabella PRIMA: eseguita con successo\r\n"
                        "Creazione tabella RIGHE: eseguita con successo\r\n"
                        "Creazione tabella SENZATIPO: non completata a causa di errori\r\n"
                        "Creazione tabella CHIAVEERRATA: non completata a causa di errori\r\n"
                        "Creazione tabella MISURA: non completata a causa di errori\r\n");
    ASSERT_EQ(m_messages.shown.size(), 3u);
    for (const auto& box : m_messages.shown) {
        EXPECT_EQ(box.title, "Errore Creazione tabelle");
        EXPECT_EQ(box.icon, program::MessageIcon::Critical);
    }
    EXPECT_NE(m_messages.shown[1].text.find("\r\nErrore sulla tabella: CHIAVEERRATA"), std::string::npos);
    EXPECT_NE(m_messages.shown[0].text.find("\r\nErrore sulla tabella: SENZATIPO"), std::string::npos);

    db::Connection c;
    ASSERT_TRUE(c.open(m_settings.ProviderAccess + m_settings.PercorsoAccess + ";"));
    EXPECT_EQ(column(c, "CLIENTI", "ID"), "INTEGER|0|1");
    EXPECT_EQ(column(c, "CLIENTI", "codice").substr(column(c, "CLIENTI", "codice").size() - 4), "|1|0");
    EXPECT_EQ(column(c, "CLIENTI", "nome").substr(column(c, "CLIENTI", "nome").size() - 4), "|0|0");
    // The counter numbers the rows; NOTNULL refuses a missing code.
    ASSERT_TRUE(c.execute("insert into CLIENTI (codice, nome) values ('C1', 'uno')"));
    ASSERT_TRUE(c.execute("insert into CLIENTI (codice, nome) values ('C2', 'due')"));
    EXPECT_EQ(scalar(c, "select group_concat(ID) from CLIENTI"), "1,2");
    EXPECT_FALSE(c.execute("insert into CLIENTI (nome) values ('x')"));
    // " NOTNULL" with its blank is not a flag.
    EXPECT_EQ(column(c, "PRIMA", "x").substr(column(c, "PRIMA", "x").size() - 4), "|0|0");
    ASSERT_TRUE(c.execute("insert into PRIMA (x) values ('a')"));
    ASSERT_TRUE(c.execute("insert into PRIMA (x) values ('b')"));
    EXPECT_EQ(scalar(c, "select group_concat(a) from PRIMA"), "1,2");
    // A two-column key, in key order.
    EXPECT_EQ(column(c, "RIGHE", "riga").substr(column(c, "RIGHE", "riga").size() - 4), "|0|2");
    EXPECT_FALSE(c.execute("insert into RIGHE values ('O1', 1), ('O1', 1)"));
    EXPECT_NE(scalar(c, "select sql from sqlite_master where name = 'RIGHE'").find("RIGHE_PrimaryKey"),
              std::string::npos);
    EXPECT_EQ(scalar(c, "select count(*) from sqlite_master where name in ('SENZATIPO','CHIAVEERRATA','MISURA')"), "0");
}

TEST_F(DataBaseTest, TheDatabasesOwnReasonStandsInsideAnItalianSentence)
{
    // A name the database itself refuses, with a reason in its own language (English).
    EXPECT_FALSE(build("<DB><TABELLE><sqlite_interna><a>INTEGER</a></sqlite_interna></TABELLE></DB>"));
    ASSERT_EQ(m_messages.shown.size(), 1u);
    const std::string& text = m_messages.shown[0].text;
    EXPECT_EQ(text.rfind("Creazione della tabella sqlite_interna non riuscita: ", 0), 0u) << text;
    EXPECT_NE(text.find("reserved for internal use"), std::string::npos) << text;
    const std::string tail = "\r\nErrore sulla tabella: sqlite_interna";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    EXPECT_EQ(m_output, "Creazione tabella sqlite_interna: non completata a causa di errori\r\n");
}

TEST(DataBaseDefinition, TypesSizesAndFlagsPerSide)
{
    struct Case {
        const char* name;
        const char* text;
        bool onServer;
        db::ColumnType type;
        std::optional<int> size;
        bool nullable, autoIncrement;
    };
    using T = db::ColumnType;
    const Case cases[] = {
        {"integer", "INTEGER", false, T::Integer, {}, true, false},
        {"float", "float", false, T::Double, {}, true, false},
        {"char with size", "CHAR,10", false, T::WChar, 10, true, false},
        {"blank size ignored", "CHAR, ", false, T::WChar, {}, true, false},
        {"boolean", "BOOLEAN", true, T::Boolean, {}, true, false},
        {"date in access", "DATE", false, T::Date, {}, true, false},
        {"date on the server", "DATE", true, T::Timestamp, {}, true, false},
        {"other word keeps text, size applies", "MEMO,80", false, T::VarWChar, 80, true, false},
        {"counter then notnull stays nullable", "INTEGER,,AUTOINCREMENT,NOTNULL", false, T::Integer, {}, true, true},
        {"notnull then counter", "INTEGER,,NOTNULL,AUTOINCREMENT", false, T::Integer, {}, false, true},
        {"no counter on the server", "INTEGER,,AUTOINCREMENT,NOTNULL", true, T::Integer, {}, false, false},
        {"flag with a blank is not a flag", "INTEGER,, NOTNULL", false, T::Integer, {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto doc = xml::Document::loadString(std::string("<T><col>") + c.text + "</col></T>");
        std::string error;
        const auto def = DataBase::definizioneTabella(doc->root(), c.onServer, error);
        ASSERT_TRUE(def) << error;
        ASSERT_EQ(def->columns.size(), 1u);
        EXPECT_EQ(def->columns[0].type, c.type);
        EXPECT_EQ(def->columns[0].size, c.size);
        EXPECT_EQ(def->columns[0].nullable, c.nullable);
        EXPECT_EQ(def->columns[0].autoIncrement, c.autoIncrement);
    }
}

TEST_F(DataBaseTest, ExistingTablesAreLeftAsTheyAre)
{
    test::sqliteRun(path("target.mdb"), {"create table CLIENTI (altro text)", "insert into CLIENTI values ('x')"});
    EXPECT_TRUE(build("<DB><TABELLE><CLIENTI><ID>INTEGER</ID></CLIENTI><clienti2><ID>INTEGER</ID></clienti2>"
                      "</TABELLE></DB>"));
    EXPECT_EQ(m_output, "Creazione tabella CLIENTI: già esistente\r\n"
                        "Creazione tabella clienti2: eseguita con successo\r\n");
    // The same name in another case is not the same table: its creation is tried and refused.
    EXPECT_FALSE(build("<DB><TABELLE><Clienti><ID>INTEGER</ID></Clienti></TABELLE></DB>"));
    EXPECT_EQ(m_output, "Creazione tabella Clienti: non completata a causa di errori\r\n");
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("target.mdb"))));
    EXPECT_EQ(scalar(c, "select altro from CLIENTI"), "x");
}

TEST_F(DataBaseTest, HostileCreationFilesGiveAnErrorBoxOrABuildNeverACrash)
{
    const std::set<std::string> refused = {"deep", "deep_unclosed", "nul", "truncated", "empty", "not_xml"};
    for (const auto& [variant, bytes] :
         zs::test::hostileXmlFiles("DB", "<TABELLE><UNO><a>INTEGER</a></UNO></TABELLE>")) {
        SCOPED_TRACE(variant);
        m_messages.shown.clear();
        std::filesystem::remove(path("target.mdb"));
        const bool built = build(bytes);
        EXPECT_TRUE(zs::test::readFile(path("creation.xml")) == bytes);
        if (refused.count(variant)) {
            EXPECT_FALSE(built);
            ASSERT_EQ(m_messages.shown.size(), 1u);
            EXPECT_EQ(m_messages.shown[0].text.rfind("Errore nel file " + path("creation.xml").string(), 0), 0u);
            EXPECT_LT(m_messages.shown[0].text.size(), 2000u);
        } else {
            EXPECT_TRUE(built) << m_output;
            EXPECT_TRUE(m_messages.shown.empty());
            db::Connection c;
            ASSERT_TRUE(c.open(m_settings.ProviderAccess + m_settings.PercorsoAccess));
            EXPECT_EQ(scalar(c, "select count(*) from UNO"), "0");
        }
    }
}

TEST_F(DataBaseTest, TheServerTypeIsReadAsTheSettingsReaderReadsIt)
{
    // The settings reader takes the element in any case; the builder must build the same.
    m_settingsDoc = xml::Document::loadString("<zentrikServer><SERVERTYPE>access</SERVERTYPE></zentrikServer>");
    EXPECT_TRUE(build("<DB><TABELLE><CLIENTI><ID>INTEGER</ID><nome>CHAR,40</nome></CLIENTI></TABELLE></DB>"));
    EXPECT_EQ(m_output, "Creazione tabella CLIENTI: eseguita con successo\r\n");
    db::Connection c;
    ASSERT_TRUE(c.open(test::sqliteCs(path("target.mdb"))));
    EXPECT_EQ(scalar(c, "select count(*) from CLIENTI"), "0");
}

TEST_F(DataBaseTest, AMissingOrUnknownServerTypeFailsWithItsLine)
{
    struct Case {
        const char* name;
        const char* settings;
        const char* line;
    };
    const Case cases[] = {
        {"missing", "<zentrikServer><Provider>x</Provider></zentrikServer>",
         "Tipo di server mancante nelle impostazioni: nessun database creato\r\n"},
        {"unknown", "<zentrikServer><ServerType>postgres</ServerType></zentrikServer>",
         "Tipo di server sconosciuto nelle impostazioni: \"postgres\": nessun database creato\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_settingsDoc = xml::Document::loadString(c.settings);
        EXPECT_FALSE(build(kTables));
        EXPECT_EQ(m_output, c.line);
        EXPECT_FALSE(std::filesystem::exists(path("target.mdb")));
    }
    EXPECT_FALSE(m_builder.CreaDatabase(path("missing.xml").string()));
}

TEST_F(DataBaseTest, LinkedTablesReadAndAppendToTheRemoteTable)
{
    test::sqliteRun(path("erp.sqlite"), {"create table ARTICOLI (cod text, descr text)",
                                         "insert into ARTICOLI values ('A1', 'vite'), ('A2', 'dado')"});
    const std::string source = ";DATABASE=" + path("erp.sqlite").string();
    EXPECT_FALSE(build("<DB><COLLEGAMENTI><ORIGINE>" + source +
                       "</ORIGINE><TABELLAORIGINE>ARTICOLI</TABELLAORIGINE><TABELLADESTINAZIONE/>"
                       "<TABELLADESTINAZIONE>Art'2</TABELLADESTINAZIONE>"
                       "<TABELLAORIGINE>NESSUNA</TABELLAORIGINE><TABELLADESTINAZIONE>ROTTO</TABELLADESTINAZIONE>"
                       "</COLLEGAMENTI></DB>"));
    EXPECT_EQ(m_output, "Collegamento tabella ARTICOLI: eseguito con successo\r\n"
                        "Collegamento tabella Art'2: eseguito con successo\r\n"
                        "Collegamento tabella ROTTO: non completato a causa di errori\r\n");
    EXPECT_TRUE(m_messages.shown.empty());

    db::Connection c; // a new connection reads the stored links
    ASSERT_TRUE(c.open(test::sqliteCs(path("target.mdb"))));
    EXPECT_EQ(scalar(c, "select group_concat(cod || '=' || descr) from ARTICOLI"), "A1=vite,A2=dado");
    ASSERT_TRUE(c.execute("insert into [Art'2] (cod, descr) values ('A3', 'rondella')"));
    db::Connection erp;
    ASSERT_TRUE(erp.open(test::sqliteCs(path("erp.sqlite"))));
    EXPECT_EQ(scalar(erp, "select count(*) from ARTICOLI"), "3");
    EXPECT_FALSE(c.execute("delete from ARTICOLI"));
    EXPECT_EQ(scalar(erp, "select count(*) from ARTICOLI"), "3");

    // Built again: the links are there already.
    EXPECT_TRUE(build("<DB><COLLEGAMENTI><ORIGINE>" + source +
                      "</ORIGINE><TABELLAORIGINE>ARTICOLI</TABELLAORIGINE><TABELLADESTINAZIONE/></COLLEGAMENTI></DB>"));
    EXPECT_EQ(m_output, "Collegamento tabella ARTICOLI: già esistente\r\n");
}

} // namespace
} // namespace zs::engine
