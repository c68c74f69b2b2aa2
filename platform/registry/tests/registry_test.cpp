#include "registry/IniFile.h"
#include "registry/UserRegistry.h"

#include "testsupport/HostileXml.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs::registry;

TEST(UserRegistry, FileLivesUnderXdgConfigHome)
{
    zs::test::ScopedTestEnv env;
    EXPECT_EQ(UserRegistry::defaultFile().parent_path().parent_path(),
              std::filesystem::path(std::getenv("XDG_CONFIG_HOME")));
}

TEST(UserRegistry, ValuesRoundTripAnyText)
{
    zs::test::ScopedTestEnv env;
    UserRegistry reg;
    const std::string awkward = " lead=trail \r\n\tback\\slash ";
    ASSERT_TRUE(reg.setValue("Software\\App\\Settings", "Text", awkward));
    ASSERT_TRUE(reg.setValue("Software\\App\\Settings", "Empty", ""));
    ASSERT_TRUE(reg.setValue("Software\\Other", "Text", "other"));
    EXPECT_EQ(UserRegistry().value("software\\app\\settings", "TEXT"), awkward);
    EXPECT_EQ(UserRegistry().value("Software\\App\\Settings", "Empty"), "");
    EXPECT_EQ(UserRegistry().value("Software\\Other", "Text"), "other");
    EXPECT_FALSE(UserRegistry().value("Software\\App\\Settings", "Missing"));
    ASSERT_TRUE(reg.setValue("Software\\App\\Settings", "text", "replaced"));
    EXPECT_EQ(reg.value("Software\\App\\Settings", "Text"), "replaced");
    EXPECT_TRUE(reg.removeValue("Software\\App\\Settings", "Text"));
    EXPECT_FALSE(reg.value("Software\\App\\Settings", "Text"));

    struct stat st {};
    ASSERT_EQ(::stat(reg.file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserRegistry, SubkeysAndSettingsShorthand)
{
    zs::test::ScopedTestEnv env;
    EXPECT_EQ(getSetting("Mercuvo", "Settings", "From", "dflt"), "dflt");
    ASSERT_TRUE(saveSetting("Mercuvo", "Settings", "From", "a@b.it"));
    EXPECT_EQ(getSetting("Mercuvo", "Settings", "From", "dflt"), "a@b.it");
    UserRegistry reg;
    ASSERT_TRUE(reg.setValue("Net\\Interfaces\\eth0", "NameServer", "1"));
    ASSERT_TRUE(reg.setValue("Net\\Interfaces\\eth1\\Deeper", "NameServer", "2"));
    EXPECT_EQ(reg.subkeys("Net\\Interfaces"), (std::vector<std::string>{"eth0", "eth1"}));
}

// A key exists when it has a section of its own or when any key below it has one, as in a hive.
TEST(UserRegistry, KeyExistsWhenItOrAKeyBelowItHasASection)
{
    zs::test::ScopedTestEnv env;
    zs::test::writeFile(UserRegistry::defaultFile(),
                        "[Software\\Brastel\\Korvi\\Kor8 Bus]\nK8WaitTimeout=1\n[Net\\Empty]\n");
    struct Case {
        const char* key;
        bool exists;
    };
    const Case cases[] = {
        {"Software\\Brastel\\Korvi\\Kor8 Bus", true},
        {"Software\\Brastel\\Korvi", true},
        {"software\\brastel\\KORVI\\", true},
        {"Software\\Brastel", true},
        {"Software", true},
        {"Net\\Empty", true},
        {"Software\\Brastel\\Korvi\\Environment", false},
        {"Software\\Brastel\\Korvi\\Kor8", false}, // a key whose name begins the section's is another key
        {"Software\\Brastel\\Korvi\\Kor8 Bus\\Deeper", false},
        {"Net\\Empty\\Below", false},
    };
    const UserRegistry reg;
    for (const auto& c : cases)
        EXPECT_EQ(reg.hasKey(c.key), c.exists) << c.key;
    EXPECT_EQ(reg.value("Software\\Brastel\\Korvi\\Kor8 Bus", "K8WaitTimeout"), "1");
    EXPECT_FALSE(reg.value("Software\\Brastel\\Korvi", "K8WaitTimeout")); // a parent holds no values of its own
}

// The one INI reader, as a hand-written profile file (kor8.ini) gives it its text.
TEST(IniFile, ProfileFileTable)
{
    const IniFile ini = IniFile::parse("orphan=before any section\n"
                                       "; comment\n"
                                       "# another\n"
                                       "[Environment]\r\n"
                                       "  K8API_CLIENT_DIR = C:\\Tools\\new \r\n"
                                       "K8API_CLIENT_CMD=xterm -T \"Korvi %s:%d\" -e telnet %s %d\n"
                                       "Quoted=\"  kept blanks  \"\n"
                                       "NoEquals\n"
                                       "[ Kor8 Bus \n"
                                       "K8WaitTimeout=1\n"
                                       "K8EventReportLevel=3\n"
                                       "[Kor8 Bus] ; the real one\n"
                                       "K8WaitTimeout=120\n"
                                       "[environment]\n"
                                       "Later=second section of the same name\n"
                                       "[Broken\n"
                                       "Stray=after a broken header\n");
    struct Case {
        const char* name;
        const char* section;
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"backslashes stay as written, blanks around are cut", "Environment", "K8API_CLIENT_DIR", "C:\\Tools\\new"},
        {"quotes inside the value stay", "ENVIRONMENT", "k8api_client_cmd", "xterm -T \"Korvi %s:%d\" -e telnet %s %d"},
        {"one pair of enclosing quotes goes", "Environment", "Quoted", "  kept blanks  "},
        {"a header without its bracket starts no section", "Kor8 Bus", "K8EventReportLevel", std::nullopt},
        {"the well-formed section after a broken header of its name wins", "Kor8 Bus", "K8WaitTimeout", "120"},
        {"entries after a broken header join no earlier section", "Environment", "Stray", std::nullopt},
        {"a broken header names nothing", "Broken", "Stray", std::nullopt},
        {"a later section of the same name is read too", "Environment", "Later", "second section of the same name"},
        {"entries before any section belong to none", "", "orphan", std::nullopt},
        {"a line without '=' is no entry", "Environment", "NoEquals", std::nullopt},
        {"comments are no entries", "Environment", "; comment", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ini.value(c.section, c.key), c.expected);
    }
    EXPECT_TRUE(ini.hasSection("kor8 bus"));
    EXPECT_FALSE(ini.hasSection("Broken"));
    EXPECT_EQ(ini.sections().size(), 3u); // Environment, Kor8 Bus, environment
    EXPECT_FALSE(ini.exists());           // parsed text, not a file
    zs::test::TempDir dir;
    EXPECT_FALSE(IniFile::load(dir / "missing.ini").exists());
    zs::test::writeFile(dir / "kor8.ini", "[Kor8 Bus]\nK8WaitTimeout=2\n");
    const IniFile file = IniFile::load(dir / "kor8.ini");
    EXPECT_TRUE(file.exists());
    EXPECT_EQ(file.value("kor8 bus", "K8WAITTIMEOUT"), "2");
}

TEST(UserRegistry, AFileThatCannotBeReadIsNeitherWaitedForNorReplaced)
{
    // A FIFO, a folder, a link to /dev/zero or an oversized file at the hive's name: reads find
    // nothing at once, and a write fails rather than replace it with a file that drops its
    // content.
    zs::test::TempDir dir;
    for (const std::string& kind : zs::test::hostileNonRegularKinds()) {
        SCOPED_TRACE(kind);
        const auto file = dir / "registry.ini";
        zs::test::plantNonRegular(kind, file);
        const std::string planted = zs::test::describeEntry(file);
        UserRegistry reg(file);
        EXPECT_EQ(reg.value("Software\\X", "a"), std::nullopt);
        EXPECT_FALSE(reg.setValue("Software\\X", "a", "1"));
        EXPECT_EQ(zs::test::describeEntry(file), planted);
        std::string error;
        const IniFile ini = IniFile::load(file, &error);
        EXPECT_TRUE(ini.refused());
        EXPECT_FALSE(ini.exists());
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    }
    // A missing file is no refusal: the first write creates it.
    const auto fresh = dir / "fresh.ini";
    EXPECT_FALSE(IniFile::load(fresh).refused());
    EXPECT_TRUE(UserRegistry(fresh).setValue("Software\\X", "a", "1"));
}
