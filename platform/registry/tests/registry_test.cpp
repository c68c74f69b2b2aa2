#include "registry/UserRegistry.h"

#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zs::registry;

TEST(UserRegistry, FileLivesUnderXdgConfigHome)
{
    zs::test::ScopedTestEnv env;
    EXPECT_EQ(UserRegistry::defaultFile().parent_path().parent_path(), std::filesystem::path(std::getenv("XDG_CONFIG_HOME")));
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

    struct stat st{};
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
