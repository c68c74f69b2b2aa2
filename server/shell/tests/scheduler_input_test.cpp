// The scheduler's operation dialog in the assembled program, on a copy of the demo folder: the
// date texts an operator types, accepted or refused with a message that leaves the schedule
// and cadenzo.xml as they were, and the next occurrence of an operation on an excluded weekday,
// the same in the list and after a restart.

#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <optional>

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

/// What one use of the dialog came to.
struct DialogOutcome {
    std::optional<std::string> message; ///< the box the dialog showed, if any
    bool stayedOpen = false;            ///< still open after the confirm icon
};

struct Entry {
    std::string date;
    std::string hour = "06";
    std::string minute = "30";
    std::string periodicita; ///< empty: as the dialog offers it
    std::string escludi;
};

class SchedulerDialogOnDemo : public test::DemoProgramTest {
  protected:
    cadenzo::CadenzoControl& scheduler() { return app->secondaryWindow().CadenzoControl(); }
    QTreeWidget& list() { return *scheduler().findChild<QTreeWidget*>("lstOperazioni"); }
    std::string store() const { return test::readFile(home / "cadenzo.xml"); }

    void startProgram()
    {
        ShellApplication::Options o;
        o.pause = [](int) { QCoreApplication::processEvents(); };
        create(o);
        ASSERT_TRUE(app->load());
    }

    std::vector<std::string> rows()
    {
        std::vector<std::string> out;
        for (int i = 0; i < list().topLevelItemCount(); ++i)
            out.push_back(list().topLevelItem(i)->text(1).toStdString());
        return out;
    }

    /// Opens the dialog through `open` (the add or modify icon), types `e`, presses the confirm
    /// icon, takes any message box, and cancels a dialog that is still open after it.
    DialogOutcome use(const Entry& e, const std::function<void()>& open)
    {
        DialogOutcome out;
        // The timers below refer to this call's locals: they must not fire after it returns (an
        // accepted entry closes the dialog without a message box, leaving the inner one pending).
        QObject scope;
        QTimer::singleShot(0, &scope, [&] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            dlg->findChild<QLineEdit*>("txtData")->setText(QString::fromStdString(e.date));
            dlg->findChild<QLineEdit*>("txtOra")->setText(QString::fromStdString(e.hour));
            dlg->findChild<QLineEdit*>("txtMinuti")->setText(QString::fromStdString(e.minute));
            if (!e.periodicita.empty())
                dlg->findChild<QComboBox*>("cmbPeriodicità")->setCurrentText(QString::fromStdString(e.periodicita));
            if (!e.escludi.empty())
                dlg->findChild<QComboBox*>("cmbEscludi")->setCurrentText(QString::fromStdString(e.escludi));
            QTimer::singleShot(0, &scope, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                out.message = box->text().toStdString();
                box->accept();
            });
            dlg->findChild<QToolButton*>("imgConferma")->click();
            out.stayedOpen = dlg->isVisible();
            if (out.stayedOpen)
                dlg->findChild<QToolButton*>("imgAnnulla")->click();
        });
        open();
        return out;
    }
    DialogOutcome add(const Entry& e)
    {
        return use(e, [this] { scheduler().aggiungiClicked(); });
    }
    DialogOutcome modify(int row, const Entry& e)
    {
        list().setCurrentItem(list().topLevelItem(row));
        return use(e, [this] { scheduler().modificaClicked(); });
    }
};

TEST_F(SchedulerDialogOnDemo, DateTextsAreAcceptedOrRefusedWithAMessageThatChangesNothing)
{
    ASSERT_NO_FATAL_FAILURE(startProgram());
    struct Case {
        const char* date;
        bool accepted;
    };
    const Case cases[] = {
        {"08/12/2027", true},
        {"8/12/2027", true},
        {"08/12/27", true}, // 2027, never the year 27
        {"8/12/27", true},
        {"08-12-2027", true},
        {"8.12.2027", true},
        {"8.12.27", true},
        {"mercoledì 8 dicembre 2027", true}, // the long form the dialog shows
        {"8 dicembre 27", true},
        {"8 Dicembre 2027", true},
        {" 08/12/2027 ", true},
        {"08/12/2027xyz", false},
        {"08/12/2027 06:30", false},
        {"giovedì 8 dicembre 2027", false}, // 8 December 2027 is a Wednesday
        {"8 dicembre 2027 xyz", false},
        {"08/12/027", false},
        {"08/12-2027", false},
        {"31/02/2027", false},
        {"domani", false},
        {"", false},
    };
    std::size_t expectedRows = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        const std::string before = store();
        const DialogOutcome out = add({c.date, "06", "30", "", ""});
        if (c.accepted) {
            EXPECT_FALSE(out.message) << *out.message;
            EXPECT_FALSE(out.stayedOpen);
            ++expectedRows;
            ASSERT_EQ(rows().size(), expectedRows);
            EXPECT_EQ(rows().back(), "08/12/2027 06:30");
        } else {
            ASSERT_TRUE(out.message);
            EXPECT_NE(out.message->find("non è valida"), std::string::npos) << *out.message;
            EXPECT_NE(out.message->find(std::string("\"") + c.date + "\""), std::string::npos) << *out.message;
            EXPECT_TRUE(out.stayedOpen);
            EXPECT_EQ(rows().size(), expectedRows);
            EXPECT_EQ(store(), before);
        }
    }
    // Every accepted text gave the same stored start, in the year 2027.
    std::size_t stored = 0;
    for (std::size_t at = 0; (at = store().find("<data>08/12/2027</data>", at)) != std::string::npos; ++at)
        ++stored;
    EXPECT_EQ(stored, expectedRows);

    // A refused date in the modify dialog leaves the operation as it was.
    const std::string before = store();
    const DialogOutcome out = modify(0, {"08/12/2027xyz", "09", "45", "", ""});
    ASSERT_TRUE(out.message);
    EXPECT_EQ(store(), before);
    EXPECT_EQ(rows().front(), "08/12/2027 06:30");
    // And the dialog accepts the correction afterwards.
    EXPECT_FALSE(modify(0, {"9.12.27", "09", "45", "", ""}).message);
    EXPECT_EQ(rows().front(), "09/12/2027 09:45");

    // The long form the message suggests, typed as it stands, is taken.
    const std::size_t from = out.message->rfind(" o ") + 3;
    const std::string suggested = out.message->substr(from, out.message->size() - 1 - from);
    EXPECT_EQ(suggested, "martedì 8 dicembre 2026");
    EXPECT_FALSE(modify(0, {suggested, "09", "45", "", ""}).message);
    EXPECT_EQ(rows().front(), "08/12/2026 09:45");
}

TEST_F(SchedulerDialogOnDemo, AnExcludedWeekdayGivesOneNextOccurrenceAndANeverDueOperationIsRefused)
{
    ASSERT_NO_FATAL_FAILURE(startProgram());
    // Daily from Sunday 12/12/2027 with Sunday excluded: Monday, in the list and in the store.
    EXPECT_FALSE(add({"12/12/2027", "06", "30", "Ogni giorno", "domenica"}).message);
    ASSERT_EQ(rows(), (std::vector<std::string>{"13/12/2027 06:30"}));
    EXPECT_NE(store().find("<data>13/12/2027</data>"), std::string::npos);

    // Weekly from that Sunday with Sunday excluded could never fall due: refused, nothing changed.
    const std::string before = store();
    const DialogOutcome out = add({"12/12/2027", "06", "30", "Una volta a settimana", "domenica"});
    ASSERT_TRUE(out.message);
    EXPECT_NE(out.message->find("non verrebbe mai eseguita"), std::string::npos) << *out.message;
    EXPECT_TRUE(out.stayedOpen);
    EXPECT_EQ(rows().size(), 1u);
    EXPECT_EQ(store(), before);
    // Changing the existing operation to it is refused too.
    EXPECT_TRUE(modify(0, {"12/12/2027", "06", "30", "Una volta a settimana", "domenica"}).message);
    EXPECT_EQ(store(), before);
    // Weekly from the Monday is fine.
    EXPECT_FALSE(add({"13/12/2027", "07", "00", "Una volta a settimana", "domenica"}).message);
    ASSERT_EQ(rows(), (std::vector<std::string>{"13/12/2027 06:30", "13/12/2027 07:00"}));

    // After a restart the list shows the same next occurrences, and so does the modify dialog.
    app.reset();
    ASSERT_NO_FATAL_FAILURE(startProgram());
    EXPECT_EQ(rows(), (std::vector<std::string>{"13/12/2027 06:30", "13/12/2027 07:00"}));
    std::string shown;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        shown = dlg->findChild<QLineEdit*>("txtData")->text().toStdString() + " " +
                dlg->findChild<QLineEdit*>("txtOra")->text().toStdString() + ":" +
                dlg->findChild<QLineEdit*>("txtMinuti")->text().toStdString();
        dlg->findChild<QToolButton*>("imgAnnulla")->click();
    });
    list().setCurrentItem(list().topLevelItem(0));
    scheduler().modificaClicked();
    EXPECT_EQ(shown, "lunedì 13 dicembre 2027 06:30");
}

} // namespace
} // namespace zs::shell
