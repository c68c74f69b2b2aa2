// The XML import step over a real SQLite database: an annotated schema maps elements to
// tables and attributes or child elements to columns; imported files move to the old folder;
// a rejected file stays, leaves no rows behind and fails the step.

#include "StepsTestSupport.h"
#include "engine/ImportRecord.h"
#include "engine/ImportXml.h"
#include "engine/XmlMapping.h"

#include "fs/FileMoves.h"
#include "fs/FileOps.h"
#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sys/stat.h>

namespace zs::engine {
namespace {
using test::scalar;
namespace stdfs = std::filesystem;

const char* const kSchema = "<xsd:schema xmlns:xsd='http://www.w3.org/2001/XMLSchema' xmlns:sql='urn:zentrik:mapping'>"
                            "<xsd:element name='Cliente' sql:relation='CLIENTI'><xsd:complexType>"
                            "<xsd:sequence><xsd:element name='Nome' sql:field='nome' type='xsd:string'/></xsd:sequence>"
                            "<xsd:attribute name='Codice' sql:field='codice' type='xsd:string'/>"
                            "<xsd:attribute name='Note' sql:mapped='false'/>"
                            "</xsd:complexType></xsd:element></xsd:schema>";

std::string clienti(const std::string& rows)
{
    return "<ROOT>" + rows + "</ROOT>";
}
std::string cliente(const std::string& codice, const std::string& nome)
{
    return "<Cliente Codice='" + codice + "' Note='n'><Nome>" + nome + "</Nome></Cliente>";
}

class ImportXmlTest : public test::StepsTest {
  protected:
    ImportXmlTest()
    {
        test::sqliteRun(path("target.mdb"), {"create table CLIENTI (codice text not null, nome text)"});
        EXPECT_TRUE(m_db.open(test::sqliteCs(path("target.mdb"))));
        stdfs::create_directories(path("in"));
        zs::test::writeFile(path("schema.xsd"), kSchema);
    }
    bool step(const std::string& children)
    {
        auto doc = xml::Document::loadString("<IMPORTXML>" + children + "</IMPORTXML>");
        return m_import.ImportXmlStep(doc->root());
    }
    std::string basic()
    {
        return "<path>" + path("in").string() + "</path><SCHEMA>" + path("schema.xsd").string() + "</SCHEMA>";
    }

    db::Connection m_db;
    ImportXml m_import{m_log, m_messages, m_clock, m_dir.path(), [this] { return &m_db; }};
};

TEST_F(ImportXmlTest, ImportsTheXmlFilesAndMovesThemToOld)
{
    zs::test::writeFile(path("in/A.XML"), clienti(cliente("C1", "Uno") + cliente("C2", "Due")));
    zs::test::writeFile(path("in/b.xml"), clienti(cliente("C3", "Tre")));
    zs::test::writeFile(path("in/c.txt"), "not xml");
    EXPECT_TRUE(step(basic()));
    EXPECT_EQ(scalar(m_db, "select group_concat(codice || '=' || nome) from CLIENTI"), "C1=Uno,C2=Due,C3=Tre");
    EXPECT_TRUE(stdfs::exists(path("in/old/A.XML")));
    EXPECT_TRUE(stdfs::exists(path("in/old/b.xml")));
    EXPECT_TRUE(stdfs::exists(path("in/c.txt")));
    EXPECT_FALSE(stdfs::exists(path("in/A.XML")));
    EXPECT_TRUE(lines().empty());
    const std::string log = dayLog();
    EXPECT_NE(log.find(":importazione xml del file A\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(":importazione xml del file b\r\n"), std::string::npos) << log;

    // The next run finds only new files; an old folder named in the step is created on first use.
    zs::test::writeFile(path("in/d.xml"), clienti(cliente("C4", "Quattro")));
    EXPECT_TRUE(step(basic() + "<oldpath>" + path("archivio").string() + "</oldpath>"));
    EXPECT_EQ(scalar(m_db, "select count(*) from CLIENTI"), "4");
    EXPECT_TRUE(stdfs::exists(path("archivio/d.xml")));
}

TEST_F(ImportXmlTest, ARejectedFileFailsTheStepAndStaysForTheNextRun)
{
    struct Case {
        const char* file;
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"1-malformato.xml", "<ROOT><Cliente Codice='C9'>", "XML non valido alla riga 1, colonna 28: "},
        {"2-vuoto.xml", "<ROOT><Altro/></ROOT>", "Nessun elemento del file corrisponde allo schema"},
        // The second row breaks a constraint: the first must not stay behind.
        {"3-vincolo.xml", clienti(cliente("C7", "Sette") + "<Cliente><Nome>senza codice</Nome></Cliente>"),
         "Tabella CLIENTI: "},
    };
    for (const Case& c : cases)
        zs::test::writeFile(path("in") / c.file, c.text);
    zs::test::writeFile(path("in/4-buono.xml"), clienti(cliente("C1", "Uno")));

    m_log.OutputResponse("Importazione", false, 0); // the step line the run writes
    EXPECT_FALSE(step(basic()));
    EXPECT_EQ(scalar(m_db, "select group_concat(codice) from CLIENTI"), "C1");
    auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "Importazione");
    EXPECT_EQ(m_log.nodes()[0].image, program::LogImage::Error); // the step line turns red
    l.erase(l.begin());
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].file);
        const std::string head =
            "E:Errore nell'importazione del file " + (path("in") / cases[i].file).string() + "-" + cases[i].reason;
        EXPECT_EQ(l[i].rfind("  " + head, 0), 0u) << l[i];
        EXPECT_TRUE(stdfs::exists(path("in") / cases[i].file));
        EXPECT_EQ(m_log.nodes()[i + 1].image, static_cast<program::LogImage>(2));
    }
    EXPECT_NE(dayLog().find("[.modImportXml.ImportXmlBulkLoad]"), std::string::npos);
    EXPECT_NE(zs::test::readFile(path("log/061208x.log")).find("1-malformato.xml: XML non valido"), std::string::npos);
    EXPECT_TRUE(stdfs::exists(path("in/old/4-buono.xml")));
}

TEST_F(ImportXmlTest, SchemaMismatchAndMissingFolderFailTheStep)
{
    zs::test::writeFile(path("in/a.xml"), clienti(cliente("C1", "Uno")));
    zs::test::writeFile(path("altro.xsd"),
                        std::string(kSchema).replace(std::string(kSchema).find("'nome'"), 6, "'cognome'"));
    EXPECT_FALSE(step("<path>" + path("in").string() + "</path><schema>" + path("altro.xsd").string() + "</schema>"));
    EXPECT_EQ(scalar(m_db, "select count(*) from CLIENTI"), "0");
    EXPECT_TRUE(stdfs::exists(path("in/a.xml")));

    zs::test::writeFile(path("rotto.xsd"), "<xsd:schema");
    EXPECT_FALSE(step("<path>" + path("in").string() + "</path><schema>" + path("rotto.xsd").string() + "</schema>"));
    EXPECT_FALSE(
        step("<path>" + path("manca").string() + "</path><schema>" + path("schema.xsd").string() + "</schema>"));
    ASSERT_EQ(m_messages.shown.size(), 2u);
    EXPECT_EQ(m_messages.shown[1].title, "Errore.");
    EXPECT_EQ(m_messages.shown[1].text,
              "Errore nell'importazione dei file xml\r\nCartella di importazione inesistente: " +
                  path("manca").string() + "\r\n[.modImportXml.ImportXmlBulkLoad]");
    EXPECT_EQ(scalar(m_db, "select count(*) from CLIENTI"), "0");
}

TEST(XmlMappingSchema, NestingUpToTheBoundMapsInDocumentOrderAndOneLevelMoreIsRefused)
{
    // Row declarations nested inside each other, each wrapped in complexType and sequence: up to
    // the bound every relation is found with its fields in document order; one level more is
    // refused with a reason instead of walking on.
    auto nested = [](int rows) {
        std::string schema = "<xsd:schema xmlns:xsd='x' xmlns:sql='y'>";
        for (int i = 0; i < rows; ++i)
            schema += "<xsd:element name='R" + std::to_string(i) + "' sql:relation='T" + std::to_string(i) +
                      "'><xsd:complexType><xsd:attribute name='a' sql:field='A'/><xsd:sequence>"
                      "<xsd:element name='b' sql:field='B'/>";
        for (int i = 0; i < rows; ++i)
            schema += "</xsd:sequence></xsd:complexType></xsd:element>";
        return schema + "</xsd:schema>";
    };
    zs::test::TempDir dir;
    zs::test::writeFile(dir / "deep.xsd", nested(64));
    XmlMapping mapping;
    std::string reason;
    ASSERT_TRUE(mapping.load(dir / "deep.xsd", reason)) << reason;
    ASSERT_EQ(mapping.nodes.size(), 64u);
    const XmlMapping::Node& last = mapping.nodes.back();
    EXPECT_EQ(last.name, "R63");
    EXPECT_EQ(last.table, "T63");
    ASSERT_EQ(last.fields.size(), 2u);
    EXPECT_EQ(last.fields[0].column, "A");
    EXPECT_EQ(last.fields[1].column, "B");
    EXPECT_EQ(mapping.nodes[62].children, std::vector<std::size_t>{63});

    zs::test::writeFile(dir / "deeper.xsd", nested(65));
    EXPECT_FALSE(mapping.load(dir / "deeper.xsd", reason));
    EXPECT_NE(reason.find("troppo profondo"), std::string::npos) << reason;
}

TEST_F(ImportXmlTest, AFileThatCannotMoveFailsTheStepAndLeavesNoRows)
{
    // The file stays for the next run, so its rows must not stay too (they would come twice).
    stdfs::create_directories(path("in/old"));
    zs::test::writeFile(path("in/old/a.xml"), "earlier");
    zs::test::writeFile(path("in/a.xml"), clienti(cliente("C1", "Uno")));
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(step(basic()));
    EXPECT_EQ(zs::test::readFile(path("in/old/a.xml")), "earlier");
    EXPECT_TRUE(stdfs::exists(path("in/a.xml")));
    EXPECT_EQ(scalar(m_db, "select count(*) from CLIENTI"), "0");
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "  E:Errore nello spostamento del file " + path("in/a.xml").string() + " in " +
                        path("in/old").string() + "-esiste già un file con lo stesso nome in " +
                        path("in/old").string());
}

TEST_F(ImportXmlTest, TheStartFinishesWhatACrashLeftAndOnlyThat)
{
    // What a crash between a commit and the move leaves: the rows in, the file recorded as
    // loaded, and still queued. Set up by hand: a first import, then the file put back with its
    // record, as it stood before the move.
    zs::test::writeFile(path("in/a.xml"), clienti(cliente("C1", "Uno")));
    ASSERT_TRUE(step(basic()));
    ASSERT_EQ(scalar(m_db, "select count(*) from ZENTRIK_IMPORTXML"), "0");
    stdfs::rename(path("in/old/a.xml"), path("in/a.xml"));
    auto identity = fs::identityOf(path("in/a.xml"), fs::systemFileOps());
    ASSERT_TRUE(identity.has_value());
    const auto record = [&](const std::string& name, const fs::FileIdentity& id) {
        test::exec(m_db, recordSql(path("in").string(), name, id));
    };
    record("a.xml", *identity);
    // A record whose file has left the queue, and one whose name now holds another file.
    record("gone.xml", {10, 10});
    zs::test::writeFile(path("in/b.xml"), clienti(cliente("C2", "Due")));
    record("b.xml", {3, 3});

    EXPECT_TRUE(step(basic()));
    EXPECT_EQ(scalar(m_db, "select group_concat(codice) from CLIENTI"), "C1,C2"); // a.xml not loaded twice
    EXPECT_TRUE(stdfs::exists(path("in/old/a.xml")));
    EXPECT_TRUE(stdfs::exists(path("in/old/b.xml")));
    EXPECT_EQ(scalar(m_db, "select count(*) from ZENTRIK_IMPORTXML"), "0");
    // (The day log is Windows-1252: "gi\xE0".)
    EXPECT_NE(dayLog().find(":importazione xml del file a gi\xE0 eseguita: il file viene spostato in " +
                            path("in/old").string()),
              std::string::npos);

    // A recorded file that cannot move (another file of its name is in the old folder): it stays,
    // is not loaded again, and the step fails with the reason; the record waits for the next start.
    zs::test::writeFile(path("in/a.xml"), "<ROOT/>");
    identity = fs::identityOf(path("in/a.xml"), fs::systemFileOps());
    ASSERT_TRUE(identity.has_value());
    record("a.xml", *identity);
    m_log.OutputResponse("Importazione", false, 0);
    EXPECT_FALSE(step(basic()));
    EXPECT_TRUE(stdfs::exists(path("in/a.xml")));
    EXPECT_EQ(scalar(m_db, "select count(*) from ZENTRIK_IMPORTXML"), "1");
    const auto l = lines();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1], "  E:Errore nello spostamento del file " + path("in/a.xml").string() + " in " +
                        path("in/old").string() + "-esiste già un file con lo stesso nome in " +
                        path("in/old").string());
}

/// Fails the N-th file call of an import; with `otherDevice` it tells the old-files folder on a
/// file system of its own, so that the files move by a flushed copy.
class MoveFaults : public fs::FailingFileOps {
  public:
    MoveFaults(int failAt, bool otherDevice)
        : FailingFileOps(failAt, EIO)
        , m_otherDevice(otherDevice)
    {}
    int stat(const char* path, struct stat* st) override
    {
        const int r = FailingFileOps::stat(path, st);
        if (r == 0 && m_otherDevice && stdfs::path(path).filename() == "old")
            st->st_dev ^= 1;
        return r;
    }

  private:
    bool m_otherDevice;
};

TEST_F(ImportXmlTest, AFailedFileCallOfTheMovesLosesNoFileAndLoadsNoneTwice)
{
    // Every file call of an import fails in turn, until a run goes through: each run succeeds or
    // fails with its reason, and a file is queued without its rows, or moved with them once, or
    // (committed, recorded) left for the next start. Where a run leaves such a file, every call
    // of the next start fails in turn as well: the start finishes the move or keeps the record,
    // and never loads the file again.
    const char* const names[] = {"a.xml", "b.xml"};
    const std::string rows[] = {cliente("A1", "Uno") + cliente("A2", "Due"), cliente("B1", "Tre")};
    const auto count = [&](const std::string& sql) { return std::stoi(scalar(m_db, sql)); };
    const auto rowsOf = [&](int f) {
        return count(std::string("select count(*) from CLIENTI where codice like '") + "AB"[f] + "%'");
    };
    const auto recorded = [&](int f) {
        return count(std::string("select count(*) from ZENTRIK_IMPORTXML where NOMEFILE = '") + names[f] + "'");
    };
    const auto noTemporaries = [&] {
        for (const auto& e : stdfs::directory_iterator(path("in/old")))
            EXPECT_NE(e.path().filename().string().front(), '.') << "left behind: " << e.path();
    };
    const auto expectAllDone = [&] {
        for (int f = 0; f < 2; ++f) {
            SCOPED_TRACE(names[f]);
            EXPECT_FALSE(stdfs::exists(path("in") / names[f]));
            EXPECT_EQ(zs::test::readFile(path("in/old") / names[f]), clienti(rows[f]));
        }
        EXPECT_EQ(scalar(m_db, "select group_concat(codice) from (select codice from CLIENTI order by codice)"),
                  "A1,A2,B1");
        EXPECT_EQ(count("select count(*) from ZENTRIK_IMPORTXML"), 0);
        noTemporaries();
    };
    /// After a failed run: its lines name the files, and each file stands whole. Returns how
    /// many files it left recorded for the next start.
    const auto expectWholeFiles = [&](std::size_t linesBefore) {
        const auto l = lines();
        EXPECT_GT(l.size(), linesBefore);
        for (std::size_t i = linesBefore; i < l.size(); ++i)
            EXPECT_TRUE(l[i].find("Errore nello spostamento del file " + path("in").string()) != std::string::npos ||
                        l[i].find("Errore nell'importazione del file " + path("in").string()) != std::string::npos)
                << l[i];
        int pending = 0;
        for (int f = 0; f < 2; ++f) {
            SCOPED_TRACE(names[f]);
            const bool queued = stdfs::exists(path("in") / names[f]);
            const bool moved = stdfs::exists(path("in/old") / names[f]);
            const int all = f == 0 ? 2 : 1;
            if (recorded(f) == 1) { // committed, its move left for the next start
                ++pending;
                EXPECT_TRUE(queued) << "the file left the queue with its record";
                EXPECT_EQ(rowsOf(f), all);
            } else if (moved) {
                EXPECT_FALSE(queued);
                EXPECT_EQ(rowsOf(f), all);
            } else {
                EXPECT_TRUE(queued) << "the file was lost";
                EXPECT_EQ(rowsOf(f), 0);
            }
        }
        noTemporaries();
        return pending;
    };
    const auto run = [&](fs::FileOps& ops) {
        ImportXml import(
            m_log, m_messages, m_clock, m_dir.path(), [this] { return &m_db; }, ops);
        auto doc = xml::Document::loadString("<IMPORTXML>" + basic() + "</IMPORTXML>");
        return import.ImportXmlStep(doc->root());
    };
    const auto reset = [&] {
        stdfs::remove_all(path("in"));
        stdfs::create_directories(path("in"));
        for (int f = 0; f < 2; ++f)
            zs::test::writeFile(path("in") / names[f], clienti(rows[f]));
        test::exec(m_db, "delete from CLIENTI");
        (void)m_db.execute("delete from ZENTRIK_IMPORTXML");
    };
    for (const bool otherDevice : {false, true}) {
        int failed = 0, pending = 0, keptByTheStart = 0;
        for (int failAt = 1;; ++failAt) {
            SCOPED_TRACE((otherDevice ? "by copy, call " : "by rename, call ") + std::to_string(failAt));
            reset();
            const std::size_t before = lines().size();
            MoveFaults ops(failAt, otherDevice);
            if (run(ops)) {
                // A failed call the import may let be (a folder's flush, the copy's time) or none.
                expectAllDone();
                if (ops.calls() < failAt)
                    break;
                continue;
            }
            ++failed;
            const int left = expectWholeFiles(before);
            pending += left;
            // The next start under every failed call in turn, from the state this run left
            // (the same call failing again gives the same state).
            for (int startAt = 1; left > 0; ++startAt) {
                SCOPED_TRACE("then the start's call " + std::to_string(startAt));
                reset();
                MoveFaults again(failAt, otherDevice);
                ASSERT_FALSE(run(again));
                const std::size_t startLines = lines().size();
                MoveFaults start(startAt, otherDevice);
                if (!run(start)) {
                    keptByTheStart += expectWholeFiles(startLines);
                } else {
                    expectAllDone();
                    if (start.calls() < startAt)
                        break;
                }
                MoveFaults none(0, otherDevice);
                EXPECT_TRUE(run(none));
                expectAllDone();
                ASSERT_LT(startAt, 100);
            }
            // The next run, with no call failing, finishes what was left and loads the rest once.
            if (left == 0) {
                MoveFaults none(0, otherDevice);
                EXPECT_TRUE(run(none));
                expectAllDone();
            }
            ASSERT_LT(failAt, 100);
        }
        EXPECT_GT(failed, 0);
        EXPECT_GT(pending, 0);
        EXPECT_GT(keptByTheStart, 0);
    }
}

TEST_F(ImportXmlTest, AFolderOrAFifoAtADataFilesNameIsRefusedByName)
{
    // Neither is opened (the FIFO has no writer: opening it would wait for good); each stays
    // where it is, the step ends with errors, and the files beside them go in.
    struct Case {
        const char* what;
        std::function<void(const stdfs::path&)> make;
        const char* reason;
    };
    const Case cases[] = {
        {"a FIFO", [](const stdfs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         "non è un file ma una FIFO: non viene importato"},
        {"a folder", [](const stdfs::path& p) { stdfs::create_directory(p); },
         "non è un file ma una cartella: non viene importato"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stdfs::remove_all(path("in"));
        stdfs::create_directories(path("in"));
        c.make(path("in/data.xml"));
        zs::test::writeFile(path("in/e.xml"), clienti(cliente("E1", "Uno")));
        const std::size_t before = lines().size();
        EXPECT_FALSE(step(basic()));
        const auto l = lines();
        ASSERT_EQ(l.size(), before + 1);
        EXPECT_NE(l.back().find("E:Errore nell'importazione del file " + path("in/data.xml").string() + "-" + c.reason),
                  std::string::npos)
            << l.back();
        EXPECT_TRUE(stdfs::exists(stdfs::symlink_status(path("in/data.xml"))));
        EXPECT_FALSE(stdfs::exists(path("in/old/data.xml")));
        EXPECT_TRUE(stdfs::exists(path("in/old/e.xml")));
    }
    EXPECT_EQ(scalar(m_db, "select group_concat(codice) from CLIENTI"), "E1,E1");
}

} // namespace
} // namespace zs::engine
