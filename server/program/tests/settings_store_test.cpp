#include "program/SettingsStore.h"

#include "fs/FileOps.h"
#include "fs/ReadFile.h"
#include "program/LoadingDocument.h"
#include "program/PasswordCodec.h"
#include "program/ShellServices.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

using namespace zs::program;

namespace {

// Named by the build: a compiler cache may hand __FILE__ over as a path relative to the build folder.
const std::filesystem::path kData = ZS_PROGRAM_TEST_DATA;

using zs::test::RecordingMessages;

struct StoreFixture : ::testing::Test {
    zs::test::ScopedTestEnv env;
    ProgramSettings values;
    SecondaryOptionsFields fields;
    RecordingMessages messages;
    SettingsStore store{values, fields, messages, env.home()};
    /// The values the store gave the windows to show, and the start-up entry's state each time it
    /// asked for it.
    std::vector<Settings> shown;
    std::vector<bool> startups;
    /// What the windows give a save: the cube settings as last shown (a database listing the
    /// cubes the file names), a cube's shown choice going to the cube of that name.
    CubeSettings held;

    void SetUp() override
    {
        store.exchangeWith({[this](const Settings& s, bool startup) {
                                shown.push_back(s);
                                if (startup)
                                    startups.push_back(s.options.chkStartup == 1);
                                if (s.cubes.server)
                                    held.server = s.cubes.server;
                                if (s.cubes.database) {
                                    held.database = s.cubes.database;
                                    held.cubes = s.cubes.cubes;
                                    return;
                                }
                                for (const InfoCubo& c : s.cubes.cubes)
                                    for (InfoCubo& h : held.cubes)
                                        if (h.nome == c.nome)
                                            h = c;
                            },
                            [this](const zs::xml::Element&, bool) { return std::optional<CubeSettings>(held); }});
    }

    void loadText(const std::string& xml)
    {
        zs::test::writeFile(env.home() / "zentrikServer.xml", xml);
        ASSERT_TRUE(store.load());
    }
    std::vector<std::string> read() { return store.LeggiImpostazioni(store.DocImpostazioni()->root()); }
    /// After a read: the windows hold what it showed of the cubes.
    void holdShownCubes() { held = shown.back().cubes; }
};

std::vector<std::string> childNames(const zs::xml::Element& root)
{
    std::vector<std::string> names;
    for (const auto& c : root.children())
        names.push_back(c.name());
    return names;
}

} // namespace

TEST_F(StoreFixture, ReadsAMixedCaseFile)
{
    zs::test::writeFile(env.home() / "Steps.xml", "<Estrattore/>");
    zs::test::writeFile(env.home() / "zentrikServer.xml", zs::test::readFile(kData / "mixed_case_settings.xml"));
    ASSERT_TRUE(store.load());
    EXPECT_TRUE(read().empty());

    EXPECT_EQ(values.TipoServer, ServerType::SqlServer);
    EXPECT_EQ(values.NomeServer, "srvdati");
    EXPECT_EQ(values.UtenteServer, "sa");
    EXPECT_EQ(values.PasswordServer, "pwd");
    EXPECT_EQ(values.NomeDatabase, "reporting");
    EXPECT_EQ(values.ProviderServer, "provider=sqloledb");
    EXPECT_EQ(values.PercorsoAccess, "");
    EXPECT_EQ(values.TimeoutComandi, 120);
    // a bare name lives in the program folder and is found whatever its case on disk
    EXPECT_EQ(values.FileCaricamento, (env.home() / "Steps.xml").string());
    EXPECT_EQ(values.FileCreazione, "d:/dati/crea.xml");
    EXPECT_EQ(values.IndiceIcona, 2);
    EXPECT_EQ(values.TitoloApplicazione, "Zentrik Prova");
    EXPECT_FALSE(values.AvvioMinimizzato);

    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].cubes.server, "olapsrv");
    EXPECT_EQ(shown[0].cubes.database, "Vendite");
    EXPECT_EQ(shown[0].cubes.cubes, (std::vector<InfoCubo>{{"Ordini", RefreshChoice::DataOnly, "01/02/2006"},
                                                           {"Fatture", RefreshChoice::Incremental, ""}}));
    EXPECT_EQ(shown[0].bus, (BusAndTaskLogin{"k8host", "sys", "A", "op", "pwd", "01"}));
    EXPECT_EQ(fields.chkStartup, 0);
    EXPECT_EQ(fields.chkMinimize, 0);
    EXPECT_EQ(fields.txtMese, "1");
    EXPECT_EQ(fields.txtSmtp, "mail.example.test"); // the later element wins
    EXPECT_EQ(fields.optErrors, NotifyWhen::AskOnManualRun);
    EXPECT_EQ(fields.optErrorsType, NotifyWhat::Every);
    EXPECT_EQ(fields.chkAutentifica, 1);
    EXPECT_EQ(fields.txtUsername, "utente");
    EXPECT_EQ(fields.txtPwd, "A");
    EXPECT_TRUE(fields.txtSmtpEnabled);
    EXPECT_EQ(startups, std::vector<bool>{false});
}

TEST_F(StoreFixture, ServerTypeMasksConnectionSettings)
{
    struct Case {
        const char* type;
        bool serverRead;
        bool accessRead;
    } cases[] = {
        {"ACCESS", false, true}, {"Oracle", true, false}, {"SQLSERVER", true, false},
        {"mixed", true, true},   {"", true, true},        {"informix", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        values = {};
        const std::string type = *c.type ? std::string("<SERVERTYPE>") + c.type + "</SERVERTYPE>" : "";
        loadText("<r>" + type +
                 "<SERVERNAME>S</SERVERNAME><LOGIN>U</LOGIN><PASSWORD>2F053</PASSWORD><DATABASE>D</DATABASE>"
                 "<PROVIDER>P</PROVIDER><DATABASEACCESS>/Dati/X.MDB</DATABASEACCESS><PROVIDERACCESS>PA</"
                 "PROVIDERACCESS></r>");
        read();
        EXPECT_EQ(values.NomeServer, c.serverRead ? "s" : "");
        EXPECT_EQ(values.UtenteServer, c.serverRead ? "u" : "");
        EXPECT_EQ(values.PasswordServer, c.serverRead ? "A" : "");
        EXPECT_EQ(values.NomeDatabase, c.serverRead ? "d" : "");
        EXPECT_EQ(values.ProviderServer, c.serverRead ? "p" : "");
        EXPECT_EQ(values.PercorsoAccess, c.accessRead ? "/dati/x.mdb" : "");
        EXPECT_EQ(values.ProviderAccess, c.accessRead ? "pa" : "");
    }
}

TEST_F(StoreFixture, AFileWithoutProvidersGetsTheStandardOnesOfItsServerType)
{
    const std::string sqlServer = "provider=sqloledb;data source=;initial catalog=;user id=;password=";
    const std::string oracle = "provider=msdaora;data source=;database=;user id=;password=";
    const std::string jet = "provider=microsoft.jet.oledb.4.0;data source=";
    struct Case {
        const char* type;
        const char* more; // further elements of the file
        std::string server;
        std::string access;
    } cases[] = {
        {"SQLSERVER", "", sqlServer, ""},
        {"MIXED", "", sqlServer, jet},
        {"ORACLE", "", oracle, ""},
        {"ACCESS", "", "", jet},
        {"INFORMIX", "", "", jet}, // a type the program does not know has no server template
        {"SQLSERVER", "<Provider>Driver={X};S=;D=;U=;P=</Provider>", "driver={x};s=;d=;u=;p=", ""},
        {"MIXED", "<PROVIDERACCESS>Data Source=</PROVIDERACCESS><Provider></Provider>", sqlServer, "data source="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + c.more);
        values = {};
        loadText(std::string("<r><ServerType>") + c.type + "</ServerType>" + c.more + "</r>");
        read();
        EXPECT_EQ(values.ProviderServer, c.server);
        EXPECT_EQ(values.ProviderAccess, c.access);
    }
    // Read again after a change of type: nothing is left of the earlier read.
    loadText("<r><ServerType>ORACLE</ServerType></r>");
    read();
    loadText("<r><ServerType>SQLSERVER</ServerType></r>");
    read();
    EXPECT_EQ(values.ProviderServer, sqlServer);
}

TEST_F(StoreFixture, DefaultsAndUnconvertibleValues)
{
    loadText("<r><DELETELOGS>6</DELETELOGS></r>");
    EXPECT_TRUE(read().empty());
    EXPECT_EQ(values.TimeoutComandi, 3600);
    EXPECT_EQ(fields.chkStartup, 1);
    EXPECT_EQ(fields.chkMinimize, 1);
    EXPECT_TRUE(values.AvvioMinimizzato);
    EXPECT_EQ(fields.txtMese, "6");
    EXPECT_EQ(startups, std::vector<bool>{true});

    loadText("<r><TIMEOUT>molto</TIMEOUT><MINIMIZED>si</MINIMIZED><DELETELOGS>0</DELETELOGS>"
             "<CUBO nome='x'/><NOTIFICA>7</NOTIFICA></r>");
    const auto problems = read();
    EXPECT_EQ(problems.size(), 4u);
    EXPECT_EQ(values.TimeoutComandi, 3600);
    EXPECT_TRUE(values.AvvioMinimizzato);
    EXPECT_EQ(fields.txtMese, "1");
    EXPECT_EQ(fields.optErrors, NotifyWhen::Never);

    // A time-out out of range is reported like any value that does not convert.
    for (const char* text : {"-1", "-3600", "1e12"}) {
        SCOPED_TRACE(text);
        loadText(std::string("<r><TIMEOUT>") + text + "</TIMEOUT></r>");
        EXPECT_EQ(read(), std::vector<std::string>{std::string("Valore non valido per TIMEOUT: \"") + text + "\""});
        EXPECT_EQ(values.TimeoutComandi, 3600);
    }
    loadText("<r><TIMEOUT>0</TIMEOUT></r>");
    EXPECT_TRUE(read().empty());
    EXPECT_EQ(values.TimeoutComandi, 0);

    // A notification number out of range is reported and leaves the choice as it was.
    loadText("<r><NOTIFICA>1</NOTIFICA><TIPONOTIFICA>1</TIPONOTIFICA></r>");
    EXPECT_TRUE(read().empty());
    loadText("<r><NOTIFICA>-1</NOTIFICA><TIPONOTIFICA>2</TIPONOTIFICA></r>");
    EXPECT_EQ(read(), (std::vector<std::string>{"Valore non valido per NOTIFICA: \"-1\"",
                                                "Valore non valido per TIPONOTIFICA: \"2\""}));
    EXPECT_EQ(fields.optErrors, NotifyWhen::AskOnManualRun);
    EXPECT_EQ(fields.optErrorsType, NotifyWhat::Every);
    EXPECT_TRUE(fields.txtSmtpEnabled);
}

TEST_F(StoreFixture, NotificationChoicesAreSavedAsTheNumbersTheyWereReadFrom)
{
    for (const char* notifica : {"0", "1", "2"}) {
        for (const char* tipo : {"0", "1"}) {
            SCOPED_TRACE(std::string(notifica) + "/" + tipo);
            loadText(std::string("<r><notifica>") + notifica + "</notifica><tiponotifica>" + tipo +
                     "</tiponotifica></r>");
            EXPECT_TRUE(read().empty());
            std::string error;
            ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;
            auto saved = zs::xml::Document::loadString(zs::test::readFile(env.home() / "zentrikServer.xml").substr(3));
            ASSERT_TRUE(saved);
            EXPECT_EQ(saved->root().child("notifica").text(), notifica);
            EXPECT_EQ(saved->root().child("tiponotifica").text(), tipo);
        }
    }
}

TEST_F(StoreFixture, ACubesRefreshChoiceIsSavedAsItsWord)
{
    const struct {
        const char* stored;
        RefreshChoice choice;
        const char* saved;
    } cases[] = {
        {"completo", RefreshChoice::Full, "completo"},
        {"dati", RefreshChoice::DataOnly, "dati"},
        {"incrementale", RefreshChoice::Incremental, "incrementale"},
        // the words are compared exactly: any other text is the incremental choice
        {"DATI", RefreshChoice::Incremental, "incrementale"},
        {"", RefreshChoice::Incremental, "incrementale"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        loadText(std::string("<r><cubo nome='Ordini' aggiornamento='") + c.stored + "' data='d'/></r>");
        EXPECT_TRUE(read().empty());
        holdShownCubes();
        ASSERT_EQ(held.cubes.size(), 1u);
        EXPECT_EQ(held.cubes[0].aggiornamento, c.choice);
        std::string error;
        ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;
        auto saved = zs::xml::Document::loadString(zs::test::readFile(env.home() / "zentrikServer.xml").substr(3));
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->root().child("cubo").attribute("aggiornamento"), c.saved);
    }
}

TEST_F(StoreFixture, PathReadAndWrite)
{
    loadText("<r><ServerType>ACCESS</ServerType><X>VERO</X></r>");
    EXPECT_TRUE(store.ScriviImpostazione("ServerType", "True"));
    EXPECT_EQ(std::get<bool>(store.LeggiImpostazione("ServerType")), true);
    EXPECT_TRUE(store.ScriviImpostazione("ServerType", "Falso"));
    EXPECT_EQ(std::get<bool>(store.LeggiImpostazione("ServerType")), false);
    EXPECT_EQ(std::get<std::string>(store.LeggiImpostazione("X")), "VERO");
    EXPECT_EQ(std::get<std::string>(store.LeggiImpostazione("vnchost")), "");
    EXPECT_EQ(std::get<std::string>(store.LeggiImpostazione("servertype")), ""); // exact names only

    EXPECT_TRUE(store.ScriviImpostazione("BusAndTask.coDiv", "2"));
    const auto root = store.DocImpostazioni()->root();
    EXPECT_EQ(root.children().back().xml(), "<BusAndTask coDiv=\"2\"/>");
    EXPECT_EQ(store.LeggiTesto("BusAndTask.coDiv"), "2");

    std::string error;
    EXPECT_EQ(std::get<std::string>(store.LeggiImpostazione("BusAndTask.computer", &error)), "");
    EXPECT_FALSE(error.empty());
}

TEST_F(StoreFixture, WritesNeedADocument)
{
    EXPECT_FALSE(store.ScriviImpostazione("a", "b"));
    std::string error;
    EXPECT_FALSE(store.SalvaImpostazioni(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(std::get<std::string>(store.LeggiImpostazione("a")), "");
}

TEST_F(StoreFixture, SaveWritesTheElementsInOrder)
{
    loadText("<r><Sconosciuto>resta</Sconosciuto><SMTPSERVER>vecchio</SMTPSERVER><startup>1</startup>"
             "<cubo nome='Vecchio' aggiornamento='dati' data=''/></r>");
    read();
    held = {"olap", "Vendite", {{"Ordini", RefreshChoice::Full, ""}, {"Fatture", RefreshChoice::Full, ""}}};
    fields.txtSmtp = "smtp.nuovo";
    fields.txtPwd = "pwd";
    fields.optErrors = NotifyWhen::Always;
    for (int i = 0; i < 2; ++i) {
        std::string error;
        ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;
    }
    const std::string bytes = zs::test::readFile(env.home() / "zentrikServer.xml");
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(bytes.find('\n'), std::string::npos);

    auto reloaded = zs::xml::Document::loadString(bytes.substr(3));
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(childNames(reloaded->root()),
              (std::vector<std::string>{"Sconosciuto", "SMTPSERVER", "ServerOLAP", "DatabaseOLAP", "cubo", "cubo",
                                        "startup", "minimized", "deletelogs", "smtpserver", "notifica", "tiponotifica",
                                        "smtplogin", "smtpuser", "smtppwd", "timeout"}));
    EXPECT_EQ(reloaded->root().child("cubo").xml(), "<cubo nome=\"Ordini\" aggiornamento=\"completo\" data=\"\"/>");
    EXPECT_EQ(reloaded->root().child("smtppwd").text(), CodificaPassword("pwd"));
    EXPECT_EQ(reloaded->root().child("notifica").text(), "0");
    EXPECT_EQ(reloaded->root().child("timeout").text(), "3600");

    // read back: the lower-case smtpserver comes last and wins
    SecondaryOptionsFields again;
    ProgramSettings v2;
    SettingsStore other(v2, again, messages, env.home());
    ASSERT_TRUE(other.load());
    (void)other.LeggiImpostazioni(other.DocImpostazioni()->root());
    EXPECT_EQ(again.txtSmtp, "smtp.nuovo");
    EXPECT_EQ(again.txtPwd, "pwd");

    struct stat st {};
    ASSERT_EQ(::stat((env.home() / "zentrikServer.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(StoreFixture, FailedSaveLeavesTheOldFileUntouched)
{
    loadText("<r><SMTPSERVER>vecchio</SMTPSERVER></r>");
    read();
    const std::string before = zs::test::readFile(env.home() / "zentrikServer.xml");
    fields.txtSmtp = "nuovo";
    for (int failAt = 1;; ++failAt) {
        SCOPED_TRACE(failAt);
        zs::fs::FailingFileOps ops(failAt, ENOSPC);
        store.setFileOps(ops);
        std::string error;
        const bool ok = store.SalvaImpostazioni(&error);
        if (ok)
            break;
        EXPECT_EQ(zs::test::readFile(env.home() / "zentrikServer.xml"), before);
        EXPECT_FALSE(error.empty());
        ASSERT_LT(failAt, 20);
    }
    EXPECT_NE(zs::test::readFile(env.home() / "zentrikServer.xml"), before);
}

TEST_F(StoreFixture, MalformedFileIsReported)
{
    zs::test::writeFile(env.home() / "zentrikServer.xml", "<r>\n<a>\n</r>\n");
    EXPECT_FALSE(store.load());
    ASSERT_EQ(messages.shown.size(), 1u);
    const auto& m = messages.shown[0];
    EXPECT_EQ(m.title, "Attenzione.");
    EXPECT_EQ(m.icon, MessageIcon::Critical);
    EXPECT_EQ(m.text.rfind("Errore nel file " + (env.home() / "zentrikServer.xml").string() + "\r\nCodice errore :", 0),
              0u)
        << m.text;
    EXPECT_NE(m.text.find("\r\nlinea : 3\r\n"), std::string::npos) << m.text;
    EXPECT_TRUE(m.text.ends_with("\r\n</r>")) << m.text;
}

TEST_F(StoreFixture, MissingFilesGiveNothingSilently)
{
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(messages.shown.empty());
    LoadingDocument loading(messages);
    loading.CreaDocumentoXML(env.home() / "none.xml");
    EXPECT_EQ(loading.DocModuli().root().name(), "Estrattore");
    EXPECT_TRUE(loading.DocModuli().root().children().empty());
    EXPECT_TRUE(messages.shown.empty());
}

// --- Several writers on one settings file -------------------------------------------------------

namespace {

/// Another writer's save: the whole file replaced at once, as an editor or zs-extract does.
void otherWriterSaves(const std::filesystem::path& home, const std::string& xml)
{
    const auto temp = home / "altro.tmp";
    zs::test::writeFile(temp, xml);
    std::filesystem::rename(temp, home / "zentrikServer.xml");
}

std::optional<zs::xml::Document> savedFile(const std::filesystem::path& home)
{
    std::string bytes = zs::test::readFile(home / "zentrikServer.xml");
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        bytes.erase(0, 3);
    return zs::xml::Document::loadString(bytes);
}

const char* const kShared = "<r><ServerOLAP>olap</ServerOLAP><DatabaseOLAP>Vendite</DatabaseOLAP>"
                            "<cubo nome='Ordini' aggiornamento='dati' data='01/01/2026'/>"
                            "<cubo nome='Fatture' aggiornamento='completo' data=''/>"
                            "<deletelogs>3</deletelogs><smtpserver>smtp.uno</smtpserver><pause>100</pause>"
                            "<vnchost>assistenza</vnchost></r>";

std::string cubeDate(const zs::xml::Element& root, const std::string& nome)
{
    for (const auto& c : root.children())
        if (c.name() == "cubo" && c.attribute("nome") == nome)
            return c.attribute("data").value_or("?");
    return "-";
}

} // namespace

TEST_F(StoreFixture, ASaveWritesItsOwnChangesOntoTheFileAsItStands)
{
    struct Case {
        const char* name;
        std::string other;                       ///< what the other writer saved, over kShared
        std::function<void(StoreFixture&)> mine; ///< this store's change before its save
        std::function<void(const zs::xml::Element&, StoreFixture&)> check;
    };
    auto replaced = [](std::string what, const std::string& from, const std::string& to) {
        what.replace(what.find(from), from.size(), to);
        return what;
    };
    const std::string shared = kShared;
    const Case cases[] = {
        {"the other's change kept, the own one applied",
         replaced(replaced(shared, "smtp.uno", "smtp.due"), "01/01/2026", "02/02/2026"),
         [](StoreFixture& f) { f.fields.txtMese = "7"; },
         [](const zs::xml::Element& r, StoreFixture& f) {
             EXPECT_EQ(r.child("deletelogs").text(), "7");
             EXPECT_EQ(r.child("smtpserver").text(), "smtp.due");
             EXPECT_EQ(cubeDate(r, "Ordini"), "02/02/2026");
             // The fields show the file's values.
             EXPECT_EQ(f.fields.txtSmtp, "smtp.due");
             EXPECT_EQ(f.held.cubes.at(0).data, "02/02/2026");
             EXPECT_EQ(f.held.cubes.at(0).aggiornamento, RefreshChoice::DataOnly);
         }},
        {"both change one setting: the saver's value wins", replaced(shared, "smtp.uno", "smtp.loro"),
         [](StoreFixture& f) { f.fields.txtSmtp = "smtp.mio"; },
         [](const zs::xml::Element& r, StoreFixture& f) {
             EXPECT_EQ(r.child("smtpserver").text(), "smtp.mio");
             EXPECT_EQ(f.fields.txtSmtp, "smtp.mio");
         }},
        {"one cube's choice here, its date there: both kept", replaced(shared, "01/01/2026", "03/03/2026"),
         [](StoreFixture& f) { f.held.cubes.at(0).aggiornamento = RefreshChoice::Incremental; },
         [](const zs::xml::Element& r, StoreFixture&) {
             EXPECT_EQ(r.child("cubo").xml(),
                       "<cubo nome=\"Ordini\" aggiornamento=\"incrementale\" data=\"03/03/2026\"/>");
         }},
        {"a setting the other removed stays removed; one it added is kept",
         replaced(shared, "<vnchost>assistenza</vnchost>", "<email>a@b.it</email>"),
         [](StoreFixture& f) { f.fields.txtMese = "5"; },
         [](const zs::xml::Element& r, StoreFixture&) {
             EXPECT_TRUE(r.child("vnchost").isNull()) << r.xml();
             EXPECT_EQ(r.child("email").text(), "a@b.it");
             EXPECT_EQ(r.child("pause").text(), "100");
             EXPECT_EQ(r.child("deletelogs").text(), "5");
         }},
        {"a setting the other removed and this store wrote is written", replaced(shared, "<pause>100</pause>", ""),
         [](StoreFixture& f) { ASSERT_TRUE(f.store.ScriviImpostazione("pause", "250")); },
         [](const zs::xml::Element& r, StoreFixture&) { EXPECT_EQ(r.child("pause").text(), "250"); }},
        {"a value in the other's own form is taken as the field shows it",
         replaced(shared, "<deletelogs>3</deletelogs>", "<deletelogs>07</deletelogs>"), [](StoreFixture&) {},
         [](const zs::xml::Element& r, StoreFixture& f) {
             EXPECT_EQ(r.child("deletelogs").text(), "07");
             EXPECT_EQ(f.fields.txtMese, "7");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loadText(kShared);
        read();
        ASSERT_EQ(held.cubes.size(), 2u);
        otherWriterSaves(env.home(), c.other);
        c.mine(*this);
        std::string error;
        ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;
        const auto saved = savedFile(env.home());
        ASSERT_TRUE(saved);
        c.check(saved->root(), *this);
        // The single-writer order: the save-all's elements last.
        EXPECT_EQ(childNames(saved->root()).back(), "timeout");
    }
}

TEST_F(StoreFixture, ASecondSaveKeepsWhatTheFirstTookFromTheFile)
{
    loadText(kShared);
    read();
    otherWriterSaves(env.home(), std::string(kShared).replace(std::string(kShared).find("3<"), 1, "07"));
    fields.txtSmtp = "smtp.mio";
    ASSERT_TRUE(store.SalvaImpostazioni());
    // The other writer changes it again: the field took "7" from "07" and is no change of ours.
    auto now = savedFile(env.home());
    ASSERT_TRUE(now);
    now->root().child("deletelogs").setText("9");
    otherWriterSaves(env.home(), now->xml());
    ASSERT_TRUE(store.SalvaImpostazioni());
    const auto saved = savedFile(env.home());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->root().child("deletelogs").text(), "9");
    EXPECT_EQ(saved->root().child("smtpserver").text(), "smtp.mio");
    EXPECT_EQ(fields.txtMese, "9");
}

TEST_F(StoreFixture, ASaveOnAFileThatVanishedWritesItWhole)
{
    loadText(kShared);
    read();
    fields.txtMese = "4";
    std::filesystem::remove(env.home() / "zentrikServer.xml");
    ASSERT_TRUE(store.SalvaImpostazioni());
    const auto saved = savedFile(env.home());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->root().child("deletelogs").text(), "4");
    EXPECT_EQ(saved->root().child("vnchost").text(), "assistenza");
    EXPECT_EQ(cubeDate(saved->root(), "Ordini"), "01/01/2026");
    struct stat st {};
    ASSERT_EQ(::stat((env.home() / "zentrikServer.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(StoreFixture, AReloadTakesTheFilesValuesAndKeepsTheFieldsChangedHere)
{
    loadText(kShared);
    read();
    EXPECT_FALSE(store.Ricarica()); // nothing new
    const unsigned before = store.generation();
    fields.txtSmtp = "smtp.mio"; // typed, not saved yet
    otherWriterSaves(env.home(), std::string(kShared)
                                     .replace(std::string(kShared).find("3<"), 1, "6")
                                     .replace(std::string(kShared).find("smtp.uno"), 8, "smtp.loro"));
    ASSERT_TRUE(store.Ricarica());
    EXPECT_GT(store.generation(), before);
    EXPECT_EQ(fields.txtMese, "6");
    EXPECT_EQ(fields.txtSmtp, "smtp.mio");
    EXPECT_EQ(store.LeggiTesto("deletelogs"), "6");
    ASSERT_TRUE(store.SalvaImpostazioni());
    const auto saved = savedFile(env.home());
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->root().child("deletelogs").text(), "6");
    EXPECT_EQ(saved->root().child("smtpserver").text(), "smtp.mio");
}

TEST_F(StoreFixture, ASaveWaitsForTheSaveLock)
{
    loadText(kShared);
    read();
    std::string why;
    const zs::fs::Fd lockHolder = zs::fs::openForWriting(env.home() / ".zentrikSettings.lock", O_RDWR, 0600, why);
    ASSERT_TRUE(lockHolder.valid()) << why;
    ASSERT_EQ(::flock(lockHolder.get(), LOCK_EX), 0);
    const std::string before = zs::test::readFile(env.home() / "zentrikServer.xml");
    fields.txtMese = "8";
    std::atomic<bool> done{false};
    std::thread saver([&] {
        EXPECT_TRUE(store.SalvaImpostazioni());
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done);
    EXPECT_EQ(zs::test::readFile(env.home() / "zentrikServer.xml"), before);
    ASSERT_EQ(::flock(lockHolder.get(), LOCK_UN), 0);
    saver.join();
    EXPECT_EQ(savedFile(env.home())->root().child("deletelogs").text(), "8");
}

TEST_F(StoreFixture, ASaveThatCannotHaveTheLockGoesOnWithinASecondAndSaysSoOnce)
{
    const auto lockFile = env.home() / ".zentrikSettings.lock";
    struct Case {
        const char* name;
        std::function<void()> plant; ///< what keeps the lock from this save
        const char* why;
    };
    std::string lockHolderWhy;
    zs::fs::Fd lockHolder;
    const Case cases[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(lockFile.c_str(), 0600), 0); }, "pipe"},
        {"a folder", [&] { std::filesystem::create_directory(lockFile); }, "cartella"},
        {"a link", [&] { std::filesystem::create_symlink(env.home() / "altrove", lockFile); }, "collegamento"},
        {"another process holds it",
         [&] {
             lockHolder = zs::fs::openForWriting(lockFile, O_RDWR, 0600, lockHolderWhy);
             ASSERT_TRUE(lockHolder.valid()) << lockHolderWhy;
             ASSERT_EQ(::flock(lockHolder.get(), LOCK_EX), 0);
         },
         "tenuto da un altro processo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(lockFile);
        loadText(kShared);
        read();
        c.plant();
        messages.shown.clear();
        for (const char* months : {"4", "5"}) {
            fields.txtMese = months;
            const auto start = std::chrono::steady_clock::now();
            std::string error;
            ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
            EXPECT_EQ(savedFile(env.home())->root().child("deletelogs").text(), months);
        }
        ASSERT_EQ(messages.shown.size(), 1u); // the second save says nothing new
        const std::string& said = messages.shown[0].text;
        EXPECT_EQ(said.rfind("Impostazioni salvate senza il blocco " + lockFile.string() + ": ", 0), 0u) << said;
        EXPECT_NE(said.find(c.why), std::string::npos) << said;
        lockHolder.reset();
        // Once a save has the lock again, a later refusal is said again.
        std::filesystem::remove_all(lockFile);
        ASSERT_TRUE(store.SalvaImpostazioni());
        EXPECT_EQ(messages.shown.size(), 1u);
    }
}

TEST_F(StoreFixture, ASaveKeepsAFileBrokenByAHandEditBesideItBeforeWriting)
{
    loadText(kShared);
    read();
    // The operator's editor leaves the file ill-formed while the program runs.
    const std::string broken = "<r><deletelogs>9</deletelogs>\n<smtpserver>smtp.mano</smtpserver>\n<pause>";
    otherWriterSaves(env.home(), broken);
    messages.shown.clear();
    fields.txtMese = "4";
    std::string error;
    ASSERT_TRUE(store.SalvaImpostazioni(&error)) << error;

    std::vector<std::filesystem::path> kept;
    for (const auto& e : std::filesystem::directory_iterator(env.home()))
        if (e.path().filename().string().starts_with("zentrikServer.xml.rifiutato-"))
            kept.push_back(e.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(zs::test::readFile(kept[0]), broken); // nothing the operator wrote is lost
    EXPECT_EQ(savedFile(env.home())->root().child("deletelogs").text(), "4");
    ASSERT_EQ(messages.shown.size(), 1u);
    const std::string& said = messages.shown[0].text;
    EXPECT_EQ(said.rfind("Il file delle impostazioni " + (env.home() / "zentrikServer.xml").string() +
                             " non era leggibile (linea 3: ",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find("conservato come " + kept[0].string()), std::string::npos) << said;

    // The file is the store's own again: the next save keeps nothing and says nothing.
    ASSERT_TRUE(store.SalvaImpostazioni());
    EXPECT_EQ(messages.shown.size(), 1u);
    // A missing file has nothing to keep.
    std::filesystem::remove(env.home() / "zentrikServer.xml");
    ASSERT_TRUE(store.SalvaImpostazioni());
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(StoreFixture, APasswordWrittenByHandIsSaidByItsElementAndNeverReadAsEmpty)
{
    loadText("<r><ServerType>SQLSERVER</ServerType><Password>segreta</Password><smtppwd>" + CodificaPassword("ok") +
             "</smtppwd><BusAndTask computer='h' systemUserID='s' systemPassword='sistema' operatorUserID='o' "
             "operatorPassword='" +
             CodificaPassword("op") + "' coDiv='01'/><SMTPPWD>posta</SMTPPWD></r>");
    EXPECT_EQ(read(), (std::vector<std::string>{
                          "La password dell'elemento Password non è codificata: impostarla da Opzioni principali",
                          "La password dell'elemento BusAndTask.systemPassword non è codificata: impostarla da "
                          "Opzioni principali",
                          "La password dell'elemento SMTPPWD non è codificata: impostarla da Opzioni principali"}));
    EXPECT_EQ(values.PasswordServer, "segreta");
    EXPECT_EQ(fields.txtPwd, "posta");
    ASSERT_TRUE(shown.back().bus);
    EXPECT_EQ(shown.back().bus->systemPassword, "sistema");
    EXPECT_EQ(shown.back().bus->operatorPassword, "op");
}

TEST_F(StoreFixture, AReloadOfAFileThatCannotBeReadChangesNothing)
{
    const auto file = env.home() / "zentrikServer.xml";
    const struct {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"gone", [&] { std::filesystem::remove(file); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"a folder", [&] { std::filesystem::create_directory(file); }},
        {"ill-formed", [&] { zs::test::writeFile(file, "<r><deletelogs>9</deletelogs>"); }},
        {"no root", [&] { zs::test::writeFile(file, "<?xml version=\"1.0\"?>"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file);
        loadText(kShared);
        read();
        fields.txtMese = "5"; // typed, not saved
        std::filesystem::remove_all(file);
        c.plant();
        const unsigned generation = store.generation();
        const std::size_t shows = shown.size();
        EXPECT_FALSE(store.Ricarica());
        EXPECT_EQ(store.generation(), generation);
        EXPECT_EQ(shown.size(), shows);
        EXPECT_EQ(fields.txtMese, "5");
        EXPECT_EQ(store.LeggiTesto("deletelogs"), "3");
        EXPECT_TRUE(messages.shown.empty()); // a reload runs unasked: it shows no box
    }
}
