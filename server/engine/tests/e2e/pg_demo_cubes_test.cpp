// The demo moved to the test PostgreSQL: its creation XML built by the database builder as the
// options dialog's "Crea DB" runs it, its loading run into that database through zs-extract
// (the ERP as a schema of the same server in place of the attached SQLite file), and the
// demo's catalog, its names as written, processed by the run's ELABORACUBI step. The
// aggregates equal the test's own SQL, and the same catalog serves the SQLite demo target.

#include "ExtractDriver.h"
#include "db/Connection.h"
#include "engine/DataBase.h"
#include "pgtest/PgServer.h"
#include "program/PasswordCodec.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef ZS_DEMO_DIR
#error "ZS_DEMO_DIR names the demo program folder"
#endif

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> rowsOf(db::Connection& c, const std::string& sql)
{
    std::vector<std::string> out;
    auto rs = c.query(sql);
    EXPECT_TRUE(rs.has_value()) << sql << (c.errors().empty() ? "" : ": " + c.errors().front().description);
    for (; rs && !rs->eof(); rs->moveNext()) {
        std::string row;
        for (std::size_t i = 0; i < rs->fieldCount(); ++i) {
            // Numbers to the cent, whatever the driver's text for a double (the ERP's prices are
            // single precision on the server).
            const db::Value& v = rs->value(i);
            const auto d = v.toDouble();
            char number[64];
            if (d && v.type() != db::Value::Type::Text)
                std::snprintf(number, sizeof number, "%.2f", *d);
            row += (i ? "|" : "") + (v.type() == db::Value::Type::Text || !d ? v.toString() : std::string(number));
        }
        out.push_back(row);
    }
    return out;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

/// The demo's loading XML changed for a PostgreSQL target as the README says: on the server the
/// ERP is the schema "erp", which the same queries reach as erp.CLIENTI, erp.ORDINI, … without
/// ATTACH; the customers' counter is the identity the operator gave CLIENTI.ID, restarted by a
/// query of the step instead of the SQL Server counter reset.
std::string loadingForTheServer()
{
    std::string text = zs::test::readFile(fs::path(ZS_DEMO_DIR) / "zentrikLoading.xml");
    const std::string attach = "<query>ATTACH DATABASE 'erp.db' AS erp</query>";
    const std::string restart = "<query>ALTER TABLE CLIENTI ALTER COLUMN ID RESTART</query>";
    text.replace(text.find(attach), attach.size(), restart);
    replaceAll(text, attach, "");
    replaceAll(text, "<azzeracontatore>si</azzeracontatore>", "<azzeracontatore>no</azzeracontatore>");
    return text;
}

std::string xmlAttr(const std::string& text)
{
    std::string out;
    for (const char ch : text)
        out += ch == '&' ? "&amp;" : ch == '"' ? "&quot;" : ch == '<' ? "&lt;" : std::string(1, ch);
    return out;
}

const char* const kPerCliente = "SELECT \"Cliente\", \"Importo\", \"Quantita\", \"fact_count\" FROM "
                                "\"olap_u081024_4_demo_7_Vendite_VenditePerCliente\" ORDER BY 1";
const char* const kPerClienteOwn =
    "SELECT cliente, sum(importo), sum(quantita), count(*) FROM VENDITE GROUP BY cliente ORDER BY 1";
const char* const kPerArticolo = "SELECT \"Articolo\", \"Cliente\", \"Quantita\", \"Ordini\" FROM "
                                 "\"olap_u081024_4_demo_7_Vendite_VenditePerArticolo\" ORDER BY 1, 2";
const char* const kPerArticoloOwn =
    "SELECT articolo, cliente, sum(quantita), count(*) FROM VENDITE GROUP BY articolo, cliente ORDER BY 1, 2";
const char* const kClienti = "SELECT \"member\" FROM \"olapdim_u081_4_demo_7_Vendite_Cliente\" ORDER BY 1";
const char* const kClientiOwn = "SELECT DISTINCT nome FROM CLIENTI ORDER BY 1";

TEST(PgDemoCubes, TheDemosCatalogServesTheDemoBuiltOnPostgreSqlAndOnSqlite)
{
    ZS_REQUIRE_PG();
    const auto& pg = pgtest::Server::shared();
    zs::test::ScopedTestEnv env;
    const fs::path home = env.home() / "demo-pg";
    fs::create_directories(home.parent_path());
    fs::copy(ZS_DEMO_DIR, home, fs::copy_options::recursive);
    const std::string database = "zs_demo_pg_" + std::to_string(::getpid());
    (void)pg.psql("DROP DATABASE IF EXISTS " + database);

    // The settings the wizard writes for a server target.
    const std::string provider =
        "Driver={PostgreSQL Unicode};Server=;Database=;UID=;PWD=;Port=" + std::to_string(pg.port());
    std::string settingsText = zs::test::readFile(home / "zentrikServer.xml");
    settingsText.replace(
        settingsText.find("<ServerType>ACCESS</ServerType>"), std::string("<ServerType>ACCESS</ServerType>").size(),
        "<ServerType>SQLSERVER</ServerType><ServerName>" + pg.host() + "</ServerName><Database>" + database +
            "</Database><Login>" + pg.user() + "</Login><Password>" + program::CodificaPassword(pg.password()) +
            "</Password><Provider>" + provider + "</Provider>");
    zs::test::writeFile(home / "zentrikServer.xml", settingsText);

    // The ERP's rows, as a schema of the same server, there before the target's tables: its
    // CLIENTI and ARTICOLI are not the target's, which "Crea DB" builds in the current schema.
    ASSERT_TRUE(pg.psql("CREATE DATABASE " + database));
    std::string erp = zs::test::readFile(fs::path(ZS_DEMO_DIR) / "erp.sql");
    std::string psqlOut;
    ASSERT_TRUE(pg.psql("CREATE SCHEMA erp; SET search_path TO erp; " + erp, &psqlOut, database)) << psqlOut;

    // "Crea DB": the creation XML's tables, as the options dialog builds them.
    {
        zs::test::RecordingMessages messages;
        program::ProgramSettings values;
        program::SecondaryOptionsFields fields;
        program::SettingsStore store(values, fields, messages, home);
        ASSERT_TRUE(store.load());
        (void)store.LeggiImpostazioni(store.DocImpostazioni()->root());
        std::string output;
        DataBase builder(
            values, [&store] { return store.DocImpostazioni()->root(); },
            [&output](const std::string& t) { output += t; }, messages);
        ASSERT_TRUE(builder.CreaDatabase(values.FileCreazione)) << output;
        for (const char* table : {"CLIENTI", "ARTICOLI", "VENDITE"})
            EXPECT_NE(output.find(std::string("Creazione tabella ") + table + " su SQLServer: eseguita con successo"),
                      std::string::npos)
                << output;
        EXPECT_EQ(output.find("già esistente"), std::string::npos) << output;
    }

    // The customers' counter: an identity the operator adds after "Crea DB".
    ASSERT_TRUE(pg.psql("ALTER TABLE clienti ALTER COLUMN id ADD GENERATED BY DEFAULT AS IDENTITY", &psqlOut, database))
        << psqlOut;
    zs::test::writeFile(home / "zentrikLoading.xml", loadingForTheServer());
    // The demo's catalog as written, its target the server database.
    std::string catalog = zs::test::readFile(home / "olap-demo.xml");
    const std::string sqliteTarget = "connection=\"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=target.db;\"";
    ASSERT_NE(catalog.find(sqliteTarget), std::string::npos);
    catalog.replace(catalog.find(sqliteTarget), sqliteTarget.size(),
                    "connection=\"" + xmlAttr(pg.odbcConnectionString(database)) + "\"");
    zs::test::writeFile(home / "olap-demo.xml", catalog);

    const auto run = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("ERRORE"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Sto elaborando il cubo VenditePerArticolo"), std::string::npos) << run.output;

    // The next run counts the customers from 1 again.
    const auto again = runExtract(home, {}, std::chrono::minutes(2));
    EXPECT_EQ(again.exitCode, 0) << again.output;
    db::Connection server;
    ASSERT_TRUE(server.open(pg.odbcConnectionString(database)));
    EXPECT_EQ(rowsOf(server, "SELECT min(id), count(distinct id), count(*) FROM clienti"),
              rowsOf(server, "SELECT 1, count(*), count(*) FROM erp.clienti"));
    EXPECT_EQ(rowsOf(server, "SELECT count(*) FROM vendite"), std::vector<std::string>{"6.00"});
    const auto pgCliente = rowsOf(server, kPerCliente);
    const auto pgArticolo = rowsOf(server, kPerArticolo);
    EXPECT_EQ(pgCliente.size(), 4u);
    EXPECT_EQ(pgCliente, rowsOf(server, kPerClienteOwn));
    EXPECT_EQ(pgArticolo, rowsOf(server, kPerArticoloOwn));
    EXPECT_EQ(rowsOf(server, kClienti), rowsOf(server, kClientiOwn));
    server.close();

    // The same catalog, untouched, on the SQLite demo target.
    const fs::path sqliteHome = env.home() / "demo-sqlite";
    fs::copy(ZS_DEMO_DIR, sqliteHome, fs::copy_options::recursive);
    const auto local = runExtract(sqliteHome, {}, std::chrono::minutes(2));
    EXPECT_EQ(local.exitCode, 0) << local.output;
    db::Connection file;
    ASSERT_TRUE(file.open(accessCs(sqliteHome / "target.db") + ";"));
    EXPECT_EQ(rowsOf(file, kPerCliente), rowsOf(file, kPerClienteOwn));
    EXPECT_EQ(rowsOf(file, kPerArticolo), rowsOf(file, kPerArticoloOwn));
    // Both targets hold the same aggregates.
    EXPECT_EQ(rowsOf(file, kPerCliente), pgCliente);
    EXPECT_EQ(rowsOf(file, kPerArticolo), pgArticolo);
    file.close();
    (void)pg.psql("DROP DATABASE IF EXISTS " + database);
}

} // namespace
} // namespace zs::engine::test
