// The shared library as a host loads it: a stored control keeps its store beside the library
// file, not beside the program that loaded it.

#include "scheduler/qt/CadenzoControl.h"

#include "automation/PropertyBag.h"
#include "testsupport/TestEnv.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <filesystem>

using namespace zs::cadenzo;

TEST(Library, StoredControlKeepsItsStoreBesideTheLibrary)
{
    zs::test::ScopedTestEnv env;
    const std::filesystem::path library = std::filesystem::canonical(CADENZO_LIBRARY_PATH);
    EXPECT_EQ(libraryFolder(), library.parent_path().string());
    ASSERT_NE(library.parent_path(), std::filesystem::canonical("/proc/self/exe").parent_path());

    CadenzoControl control;
    control.ReadProperties(zs::automation::PropertyBag{});
    EXPECT_EQ(control.scheduler().path(), library.parent_path().string());

    CadenzoControl named;
    named.SetPath(env.home().string());
    named.ReadProperties(zs::automation::PropertyBag{});
    EXPECT_EQ(named.scheduler().path(), env.home().string());
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
