#pragma once
// A program folder (a copy of demo/) whose OLAP catalog declares many cubes of one kind, and the
// cubes' state rows as processing leaves them in the target database. Header only; test code
// only (the user links zs::db).

#include "db/Connection.h"
#include "testsupport/TestEnv.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace zs::test {

/// "Cubo00001" … as the many-cube catalogs name their cubes.
inline std::string manyCubeName(int i)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "Cubo%05d", i);
    return buf;
}

/// Replaces the demo's catalog in `home` by one of `cubes` cubes over the demo's sales (by
/// customer, summing the amount, new facts counted by id) and its two dimensions.
inline void writeManyCubeCatalog(const std::filesystem::path& home, int cubes)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OlapServer name=\"demo\"><Database "
                      "name=\"Vendite\" connection=\"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=target.db;\">"
                      "<Dimension name=\"Cliente\" table=\"CLIENTI\" column=\"nome\"/>"
                      "<Dimension name=\"Articolo\" table=\"ARTICOLI\" column=\"descrizione\"/>";
    for (int i = 1; i <= cubes; ++i)
        xml += "<Cube name=\"" + manyCubeName(i) +
               "\" sourceTable=\"VENDITE\" incrementalColumn=\"id\"><Dimension name=\"Cliente\" column=\"cliente\"/>"
               "<Measure name=\"Importo\" column=\"importo\"/></Cube>";
    writeFile(home / "olap-demo.xml", xml + "</Database></OlapServer>\n");
}

/// One more order in the demo's ERP (home/erp.db): the next extraction copies it as a new sale.
inline bool addDemoOrder(const std::filesystem::path& home)
{
    db::Connection c;
    return c.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (home / "erp.db").string()) &&
           c.execute("INSERT INTO ORDINI (cliente, articolo, quantita, data) SELECT cliente, articolo, 1, data FROM "
                     "ORDINI ORDER BY id DESC LIMIT 1");
}

/// Every object's state row in the SQLite target `db` (all its columns), by kind and name.
inline std::map<std::string, std::string> olapStateRows(const std::filesystem::path& db)
{
    std::map<std::string, std::string> out;
    db::Connection c;
    if (!c.open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + db.string()))
        return out;
    auto rs = c.query("SELECT * FROM olap_stato");
    for (; rs && !rs->eof(); rs->moveNext()) {
        std::string row;
        for (std::size_t i = 0; i < rs->columns().size(); ++i)
            row += (i ? "|" : "") + rs->value(i).toString();
        out[rs->text("oggetto") + " " + rs->text("nome")] = row;
    }
    return out;
}

} // namespace zs::test
