// The program on a copy of the demo folder that it may not write into: the scheduler's store
// cannot be saved, and the secondary-options window puts that in the run log as red lines, at
// start-up and after each change the operator makes to the schedule.

#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/ReadOnlyFolder.h"
#include "testsupport/TestEnv.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

/// The top-level lines of the run log drawn in red.
std::vector<std::string> redLines(QTreeWidget& tree)
{
    std::vector<std::string> out;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree.topLevelItem(i);
        if (item->foreground(0).color() == QColor(255, 0, 0))
            out.push_back(item->text(0).toStdString());
    }
    return out;
}

using SchedulerStoreOnDemo = test::DemoProgramTest;

TEST_F(SchedulerStoreOnDemo, ReadOnlyProgramFolderShowsTheUnsavedScheduleAsRedLines)
{
    fs::create_directories(home / "log"); // the day log stays writable: only the folder itself is not
    {
        test::ReadOnlyFolder readOnly(home, env.root());
        ASSERT_TRUE(readOnly.refusesWrites());
        ShellApplication::Options o;
        o.pause = [](int) { QCoreApplication::processEvents(); };
        create(o);
        ASSERT_TRUE(app->load());

        QTreeWidget& tree = app->runWindow().tvwLog();
        std::vector<std::string> red = redLines(tree);
        ASSERT_EQ(red.size(), 1u);
        EXPECT_NE(red[0].find("Operazioni pianificate non salvate"), std::string::npos) << red[0];
        EXPECT_NE(red[0].find((home / "cadenzo.xml").string()), std::string::npos) << red[0];
        cadenzo::CadenzoControl& scheduler = app->secondaryWindow().CadenzoControl();
        EXPECT_NE(scheduler.findChild<QLabel*>("lblTitle")->text().indexOf("NON salvate"), -1);

        // The operator adds an operation: the list shows it, the run log says it is not saved.
        QTimer::singleShot(0, [] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            dlg->findChild<QToolButton*>("imgConferma")->click();
        });
        scheduler.aggiungiClicked();
        EXPECT_EQ(scheduler.findChild<QTreeWidget*>("lstOperazioni")->topLevelItemCount(), 1);
        red = redLines(tree);
        ASSERT_EQ(red.size(), 2u);
        EXPECT_NE(red[1].find("Operazioni pianificate non salvate"), std::string::npos) << red[1];
        EXPECT_NE(scheduler.findChild<QLabel*>("lblTitle")->text().indexOf("NON salvate"), -1);
        EXPECT_FALSE(fs::exists(home / "cadenzo.xml"));
    }
}

} // namespace
} // namespace zs::shell
