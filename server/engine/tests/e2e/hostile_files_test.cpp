// Hostile XML files read by a whole extraction through the zs-extract driver: the settings, the
// loading XML, stat.xml, the import's mapping schema and its data files, each replaced by every
// hostile variant (200,000 levels of nesting, 50 MB of text, a NUL byte, cut off, UTF-16,
// Latin-1, invalid UTF-8, empty, not XML). The driver must end with a clear error or a normal
// run, never a signal or a hang, and the file must stay as it was.

#include "ExtractDriver.h"
#include "db/Connection.h"
#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>

namespace zs::engine::test {
namespace {

namespace fs = std::filesystem;

/// Variants no reader can take: they must end in an error naming the file.
const std::set<std::string> kRefused = {"deep", "deep_unclosed", "nul", "truncated", "empty", "not_xml"};

struct Role {
    const char* file;           ///< relative to the program folder
    const char* root;           ///< root element of the valid file
    const char* body;           ///< what the valid file holds
    const char* refusal;        ///< what the output says when the file cannot be read
    int refusedExit;            ///< the driver's exit code then
    bool rewritten = false;     ///< the program's own store: a normal run saves it anew
    bool readerDecides = false; ///< streamed or strictly checked input: a variant either loads or fails clearly
    bool hugeRefused = false;   ///< the "huge" variant is over the reader's size bound
};

// Every name is relative to the program folder, so one set of variants serves every folder.
const char* const kSettingsBody = "<SERVERTYPE>access</SERVERTYPE>"
                                  "<PROVIDERACCESS>Provider=Microsoft.Jet.OLEDB.4.0;Data Source=</PROVIDERACCESS>"
                                  "<DATABASEACCESS>target.db</DATABASEACCESS>"
                                  "<LOADINGFILE>zentrikLoading.xml</LOADINGFILE><TIMEOUT>60</TIMEOUT>";
const char* const kLoadingBody = "<IMPORTXML><esegui>si</esegui><operazione>Importazione</operazione>"
                                 "<path>in</path><schema>schema.xsd</schema></IMPORTXML>"
                                 "<PASSO><esegui>si</esegui><operazione>Conta</operazione>"
                                 "<query>create table if not exists CONTA (n integer)</query></PASSO>";
const char* const kSchemaBody = "<element name='Riga' sql:relation='PROVA'><complexType>"
                                "<attribute name='x' sql:field='x'/></complexType></element>";
const char* const kDataBody = "<Riga x='1'/><Riga x='2'/>";

class HostileFolder {
  public:
    HostileFolder()
    {
        home = env.home();
        fs::create_directories(home / "in");
        const fs::path target = home / "target.db";
        zs::test::writeFile(target, "");
        db::Connection t;
        EXPECT_TRUE(t.open(accessCs(target)));
        EXPECT_TRUE(t.execute("create table PROVA (x integer)"));
        write("zentrikServer.xml",
              std::string("<?xml version=\"1.0\"?><zentrikServer>") + kSettingsBody + "</zentrikServer>");
        write("zentrikLoading.xml",
              std::string("<?xml version=\"1.0\"?><Estrattore>") + kLoadingBody + "</Estrattore>");
        write("schema.xsd", std::string("<schema>") + kSchemaBody + "</schema>");
        write("in/dati.xml", std::string("<ROOT>") + kDataBody + "</ROOT>");
    }
    void write(const std::string& name, const std::string& bytes) { zs::test::writeFile(home / name, bytes); }

    zs::test::ScopedTestEnv env;
    fs::path home;
};

/// Runs the driver once over the folder; a hang is stopped after two minutes.
process::RunResult extract(const fs::path& home)
{
    return runExtract(home, {"--quiet"}, std::chrono::minutes(2));
}

void runTable(const Role& role)
{
    for (const auto& [variant, bytes] : zs::test::hostileXmlFiles(role.root, role.body)) {
        SCOPED_TRACE(std::string(role.file) + " " + variant);
        // A reader that decides itself still never takes a NUL byte in.
        const bool refused =
            role.readerDecides ? variant == "nul" : kRefused.count(variant) || (role.hugeRefused && variant == "huge");
        HostileFolder f;
        f.write(role.file, bytes);

        const auto r = extract(f.home);
        EXPECT_FALSE(r.timedOut);
        EXPECT_GE(r.exitCode, 0) << r.error;
        EXPECT_LE(r.exitCode, 2) << "ended by a signal: " << r.exitCode - 128 << "\n" << r.output.substr(0, 2000);

        // The file is as it was: where the run left it, unchanged (an imported data file moves);
        // a store the program keeps itself is rewritten only after it was read.
        fs::path now = f.home / role.file;
        if (!fs::exists(now) && fs::exists(f.home / "in/old" / fs::path(role.file).filename()))
            now = f.home / "in/old" / fs::path(role.file).filename();
        if (!role.rewritten || refused) {
            EXPECT_TRUE(zs::test::readFile(now) == bytes) << now;
        }

        if (role.readerDecides && !refused) {
            if (r.exitCode != 0) {
                EXPECT_EQ(r.exitCode, role.refusedExit) << r.output.substr(0, 2000);
                EXPECT_NE(r.output.find("ERRORE"), std::string::npos) << r.output.substr(0, 2000);
                EXPECT_LT(r.output.size(), 100000u);
            }
        } else if (refused) {
            EXPECT_EQ(r.exitCode, role.refusedExit) << r.output.substr(0, 2000);
            EXPECT_NE(r.output.find(role.refusal), std::string::npos) << r.output.substr(0, 2000);
            EXPECT_LT(r.output.size(), 100000u); // the error quotes an excerpt, not the file
        } else {
            EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
        }
    }
}

TEST(HostileFiles, Settings)
{
    runTable({"zentrikServer.xml", "zentrikServer", kSettingsBody, "zentrikServer.xml mancante o illeggibile", 2, false,
              false, /*hugeRefused=*/true});
}

TEST(HostileFiles, LoadingXml)
{
    runTable({"zentrikLoading.xml", "Estrattore", kLoadingBody, "Errore nel file", 2});
}

TEST(HostileFiles, Statistics)
{
    runTable({"stat.xml", "stat",
              "<modulo><operazione>Conta</operazione><times>1</times><avarage>0,1</avarage>"
              "<lasttime>0,1</lasttime></modulo>",
              "non viene sovrascritto", 1, true});
}

TEST(HostileFiles, MappingSchema)
{
    runTable({"schema.xsd", "schema", kSchemaBody, "non leggibile", 1, false, true});
}

TEST(HostileFiles, ImportData)
{
    runTable({"in/dati.xml", "ROOT", kDataBody, "XML non valido", 1, false, true});
}

// What stands at a file's name may be no file at all: a FIFO, a folder, a link to /dev/zero,
// or a file over every bound. Each is refused at once with the file's name, never waited for
// nor read without end, and left as it was.
struct NonRegularRole {
    const char* file;
    const char* refusal; ///< what the output says; empty: the run may skip it and succeed
    int refusedExit;
};

TEST(HostileFiles, NonRegularFilesAreRefusedAtOnceAndLeftAlone)
{
    const NonRegularRole roles[] = {
        {"zentrikServer.xml", "zentrikServer.xml mancante o illeggibile", 2},
        {"zentrikLoading.xml", "Errore nel file", 2},
        {"stat.xml", "non viene sovrascritto", 1},
        {"schema.xsd", "non leggibile", 1},
        // Not a data file: refused by name before anything opens it, or by its reader.
        {"in/dati.xml", "Errore nell'importazione del file", 1},
    };
    for (const NonRegularRole& role : roles)
        for (const std::string& kind : zs::test::hostileNonRegularKinds()) {
            SCOPED_TRACE(std::string(role.file) + " " + kind);
            HostileFolder f;
            zs::test::plantNonRegular(kind, f.home / role.file);
            const std::string before = zs::test::describeEntry(f.home / role.file);
            const auto start = std::chrono::steady_clock::now();
            const auto r = runExtract(f.home, {"--quiet"}, std::chrono::seconds(60));
            const auto took = std::chrono::steady_clock::now() - start;
            EXPECT_FALSE(r.timedOut) << "waited on what stands at the name";
            // An error comes at once; the margin is for a loaded machine, a wait would be endless.
            EXPECT_LT(took, std::chrono::seconds(5));
            EXPECT_EQ(zs::test::describeEntry(f.home / role.file), before);
            EXPECT_LT(r.output.size(), 100000u);
            if (*role.refusal) {
                EXPECT_EQ(r.exitCode, role.refusedExit) << r.output.substr(0, 2000);
                EXPECT_NE(r.output.find(role.refusal), std::string::npos) << r.output.substr(0, 2000);
                EXPECT_NE(r.output.find(role.file), std::string::npos) << r.output.substr(0, 2000);
            } else {
                EXPECT_TRUE(r.exitCode == 0 || r.exitCode == role.refusedExit) << r.output.substr(0, 2000);
            }
        }
    // No reader took in an endless or oversized file.
    EXPECT_LT(zs::test::childrenPeakMemory(), zs::test::kHostileMemoryBound);
}

// A target database that can never open is refused at the first connection try: the tries
// (10 s apart) are for connections that may come back.
TEST(HostileFiles, ATargetThatIsNoDatabaseEndsTheStepAtTheFirstTry)
{
    struct Case {
        std::string kind; ///< a non-regular kind, or "text": a regular file that is no database
        const char* reason;
    };
    const Case cases[] = {{"fifo", "is a FIFO, not a database file"},
                          {"directory", "is a folder, not a database file"},
                          {"dev_zero", "is a device, not a database file"},
                          {"oversized", "not a database"},
                          {"text", "not a database"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        HostileFolder f;
        if (c.kind == "text")
            f.write("target.db", std::string(4096, 'x'));
        else
            zs::test::plantNonRegular(c.kind, f.home / "target.db");
        const auto start = std::chrono::steady_clock::now();
        const auto r = runExtract(f.home, {"--quiet"}, std::chrono::seconds(60));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1) << r.output.substr(0, 2000);
        // Three tries would take 20 s; the margin is for a loaded machine.
        EXPECT_LT(took, std::chrono::seconds(5));
        std::size_t refusals = 0;
        for (std::size_t at = 0; (at = r.output.find("Impossibile aprire la connessione", at)) != std::string::npos;
             ++at)
            ++refusals;
        EXPECT_EQ(refusals, 1u) << r.output.substr(0, 2000);
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output.substr(0, 2000);
    }
}

TEST(HostileFiles, TheStatisticsSaveFollowsTheUmaskAndNeverALink)
{
    // A link planted at stat.xml is replaced, never written through (the temporary names are
    // the writer's own test); a new stat.xml under umask 077 is the user's alone.
    HostileFolder f;
    // The link at stat.xml leads to a valid store, which is read through it, but not written.
    const fs::path outside = f.env.root() / "outside.xml";
    const std::string outsideText = "<?xml version=\"1.0\"?><stat></stat>";
    zs::test::writeFile(outside, outsideText);
    fs::create_symlink(outside, f.home / "stat.xml");
    const mode_t old = ::umask(077);
    const auto r = extract(f.home);
    ::umask(old);
    EXPECT_EQ(r.exitCode, 0) << r.output.substr(0, 2000);
    EXPECT_EQ(zs::test::readFile(outside), outsideText);
    struct stat st {};
    ASSERT_EQ(::lstat((f.home / "stat.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(zs::test::readFile(f.home / "stat.xml").find("<operazione>Conta</operazione>"), std::string::npos);

    // The next save keeps that mode whatever the umask.
    fs::remove(f.home / "stat.xml");
    const auto again = extract(f.home);
    EXPECT_EQ(again.exitCode, 0);
    ASSERT_EQ(::lstat((f.home / "stat.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~old);
}

} // namespace
} // namespace zs::engine::test
