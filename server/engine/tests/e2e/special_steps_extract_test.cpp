// The engine's own special steps through the zs-extract driver on SQLite files: an XML import,
// a stored package, a step reading a linked table, and a compaction, in one run; then a run
// whose package fails.

#include "ExtractDriver.h"
#include "StepsTestSupport.h"
#include "db/Connection.h"
#include "dblink/LinkModule.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

struct Folder {
    Folder()
    {
        dblink::registerLinkModule();
        home = env.home();
        fs::create_directories(home / "in");
        target = home / "vendite.mdb";
        zs::test::writeFile(home / "erp.db", "");
        zs::test::writeFile(target, "");
        db::Connection erp;
        EXPECT_TRUE(erp.open(accessCs(home / "erp.db")));
        exec(erp, "create table ARTICOLI (cod text, descr text)");
        exec(erp, "insert into ARTICOLI values ('A1', 'vite'), ('A2', 'dado')");
        db::Connection t;
        EXPECT_TRUE(t.open(accessCs(target)));
        exec(t, "create table CLIENTI (codice text, nome text)");
        exec(t, "create table RIEPILOGO (clienti integer)");
        exec(t, "create table COPIA (cod text, descr text)");
        exec(t, "create table ZAVORRA (x text)");
        exec(t, "with recursive n(i) as (select 1 union all select i + 1 from n where i < 2000) "
                "insert into ZAVORRA select printf('%0300d', i) from n");
        exec(t, "delete from ZAVORRA");
        exec(t, "create table DtsPackageSteps (PackageName text, StepOrder integer, StepName text, StepSql text)");
        exec(t, "insert into DtsPackageSteps values ('Riepilogo', 1, 'Svuota', 'delete from RIEPILOGO'), "
                "('Riepilogo', 2, 'Conta', 'insert into RIEPILOGO select count(*) from CLIENTI'), "
                "('Rotto', 1, 'Manca', 'insert into MANCA values (1)')");
        exec(t, dblink::createLinkSql("ARTICOLI_ERP", ";DATABASE=" + (home / "erp.db").string(), "ARTICOLI"));
        zs::test::writeFile(
            home / "clienti.xsd",
            "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
            "<xsd:element name='Cliente' sql:relation='CLIENTI'><xsd:complexType>"
            "<xsd:attribute name='Codice' sql:field='codice'/><xsd:attribute name='Nome' sql:field='nome'/>"
            "</xsd:complexType></xsd:element></xsd:schema>");
        zs::test::writeFile(home / "in/clienti.xml",
                            "<ROOT><Cliente Codice='C1' Nome='Rossi'/><Cliente Codice='C2' Nome='Bianchi'/></ROOT>");
        writeAccessSettings(home, target);
    }
    void loading(const std::string& package)
    {
        zs::test::writeFile(
            home / "zentrikLoading.xml",
            "<?xml version=\"1.0\"?><Estrattore>"
            "<IMPORTXML><esegui>si</esegui><operazione>Importazione clienti</operazione><path>" +
                (home / "in").string() + "</path><schema>" + (home / "clienti.xsd").string() +
                "</schema></IMPORTXML>"
                "<EXECUTEDTS><esegui>si</esegui><operazione>Pacchetto</operazione><packagename>" +
                package +
                "</packagename></EXECUTEDTS>"
                "<COPIA><esegui>si</esegui><operazione>Articoli collegati</operazione><svuota>si</svuota>"
                "<query>insert into COPIA select cod, descr from ARTICOLI_ERP</query></COPIA>"
                "<COMPATTA><esegui>si</esegui><operazione>Compattazione</operazione></COMPATTA>"
                "</Estrattore>");
    }
    zs::test::ScopedTestEnv env;
    fs::path home, target;
};

TEST(SpecialStepsExtraction, ImportPackageLinkAndCompaction)
{
    Folder f;
    f.loading("Riepilogo");
    const auto before = fs::file_size(f.target);
    const auto result = runExtract(f.home);
    ASSERT_EQ(result.exitCode, 0) << result.output << result.error;
    EXPECT_NE(result.output.find("Compattazione"), std::string::npos) << result.output;

    db::Connection t;
    ASSERT_TRUE(t.open(accessCs(f.target)));
    EXPECT_EQ(scalar(t, "select group_concat(codice || '=' || nome) from CLIENTI"), "C1=Rossi,C2=Bianchi");
    EXPECT_EQ(scalar(t, "select clienti from RIEPILOGO"), "2");
    EXPECT_EQ(scalar(t, "select group_concat(cod) from COPIA"), "A1,A2");
    EXPECT_TRUE(fs::exists(f.home / "in/old/clienti.xml"));
    EXPECT_LT(fs::file_size(f.target) * 4, before);
}

TEST(SpecialStepsExtraction, AFailingPackageFailsTheRun)
{
    Folder f;
    f.loading("Rotto");
    const auto result = runExtract(f.home);
    EXPECT_EQ(result.exitCode, 1) << result.output << result.error;
    EXPECT_NE(result.output.find("Step \"Manca\" Failed: no such table: MANCA"), std::string::npos) << result.output;
    EXPECT_NE((result.output + result.error).find("Errore."), std::string::npos) << result.error;
}

} // namespace
} // namespace zs::engine::test
