// The control and its dialog driven offscreen: adding through the dialog, the list, removal,
// property persistence, the late-bound interface and resizing.

#include "scheduler/Operazione.h"
#include "scheduler/qt/CadenzoControl.h"
#include "scheduler/qt/CadenzoLibrary.h"
#include "scheduler/qt/Widgets.h"
#include "scheduler/qt/frmOperazione.h"

#include "automation/ClassRegistry.h"
#include "automation/PropertyBag.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace zs::cadenzo;
using zs::automation::InvokeKind;
using zs::automation::Variant;
using zs::time::DateTime;

namespace {

class WidgetTest : public ::testing::Test {
  protected:
    zs::test::ScopedTestEnv env;
    zs::time::FakeClock clock{{2026, 3, 25, 14, 7, 0}};
    std::unique_ptr<CadenzoControl> ctl;

    void SetUp() override
    {
        libraryState() = {};
        std::filesystem::create_directories(env.home());
        ctl = std::make_unique<CadenzoControl>(nullptr, &clock);
        ctl->AddOperation("Estrazione ed Elaborazione.");
        ctl->AddOperation("Elaborazione dati.");
        ctl->SetPath(env.home().string());
    }
    void TearDown() override
    {
        ctl.reset();
        libraryState() = {};
    }

    QTreeWidget* list() const { return ctl->findChild<QTreeWidget*>("lstOperazioni"); }
    std::string store() const { return zs::test::readFile(env.home() / "cadenzo.xml"); }

    /// Runs `fill` on the dialog once it is open, then presses `button`.
    static void whenDialogOpens(std::function<void(QDialog&)> fill, const char* button)
    {
        QTimer::singleShot(0, [fill, button] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            fill(*dlg);
            dlg->findChild<QToolButton*>(button)->click();
        });
    }
};

} // namespace

TEST_F(WidgetTest, AddThroughTheDialogShowsTheFourColumns)
{
    ASSERT_TRUE(ctl->Start(0));
    whenDialogOpens(
        [](QDialog& d) {
            EXPECT_EQ(d.findChild<QLineEdit*>("txtData")->text(), QString::fromUtf8("mercoledì 25 marzo 2026"));
            EXPECT_EQ(d.findChild<QLineEdit*>("txtOra")->text(), "14");
            EXPECT_EQ(d.findChild<QComboBox*>("cmbEscludi")->count(), 8);
            EXPECT_EQ(d.findChild<QComboBox*>(QString::fromUtf8("cmbPeriodicità"))->count(), 7);
            d.findChild<QComboBox*>("cmbAzione")->setCurrentIndex(1);
            d.findChild<QLineEdit*>("txtData")->setText("08/12/2026");
            d.findChild<QLineEdit*>("txtOra")->setText("7");
            d.findChild<QLineEdit*>("txtMinuti")->setText("60");
            d.findChild<QComboBox*>(QString::fromUtf8("cmbPeriodicità"))->setCurrentText("Ogni giorno");
            d.findChild<QComboBox*>("cmbEscludi")->setCurrentText(QString::fromUtf8("lunedì"));
            d.findChild<QCheckBox*>("chkAbilitato")->setChecked(true);
        },
        "imgConferma");
    ctl->aggiungiClicked();

    QTreeWidget* l = list();
    ASSERT_EQ(l->columnCount(), 4);
    const QStringList headers{"Operazione", "Prossimo Evento", QString::fromUtf8("Periodicità"), "Abilitato"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(l->headerItem()->text(i), headers[i]);
    ASSERT_EQ(l->topLevelItemCount(), 1);
    QTreeWidgetItem* row = l->topLevelItem(0);
    EXPECT_EQ(row->text(0), "Elaborazione dati.");
    EXPECT_EQ(row->text(1), "08/12/2026 07:00");
    EXPECT_EQ(row->text(2), "Ogni giorno");
    EXPECT_EQ(row->text(3), "Vero");
    EXPECT_NE(store().find("<escludi>lunedì</escludi>"), std::string::npos);
}

TEST_F(WidgetTest, TheDialogIsItalianFramedAndHasACalendarIcon)
{
    // A host whose own locale is English still gets Italian month and day names.
    const QLocale hostLocale;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ASSERT_TRUE(ctl->Start(0));
    QString month, firstDay, february;
    QImage shot, calendarIcon;
    Qt::WindowFlags flags;
    QColor face;
    whenDialogOpens(
        [&](QDialog& d) {
            flags = d.windowFlags();
            face = d.palette().color(QPalette::Window);
            shot = d.grab().toImage();
            auto* button = d.findChild<QToolButton*>("imgCalendario");
            calendarIcon = button->icon().pixmap(16, 16).toImage();
            button->click();
            auto* calendar = d.findChild<QCalendarWidget*>("Calendar");
            ASSERT_TRUE(calendar && calendar->isVisible());
            month = calendar->findChild<QToolButton*>("qt_calendar_monthbutton")->text();
            auto* view = calendar->findChild<QTableView*>("qt_calendar_calendarview");
            // Row 0 holds the day names, after the week numbers' column.
            firstDay = view->model()->data(view->model()->index(0, view->model()->columnCount() - 7)).toString();
            calendar->setCurrentPage(2026, 2);
            february = calendar->findChild<QToolButton*>("qt_calendar_monthbutton")->text();
            calendar->hide();
        },
        "imgAnnulla");
    ctl->aggiungiClicked();
    QLocale::setDefault(hostLocale);

    EXPECT_EQ(month, "marzo"); // the clock stands on 25 March 2026
    EXPECT_EQ(february, "febbraio");
    EXPECT_EQ(firstDay, "lun");

    // No title bar, but a frame: a dark line all round, clear of the dialog's face.
    EXPECT_TRUE(flags & Qt::FramelessWindowHint);
    ASSERT_FALSE(shot.isNull());
    const QColor dark(0x40, 0x40, 0x40);
    for (const QPoint p : {QPoint(0, shot.height() / 2), QPoint(shot.width() - 1, shot.height() / 2),
                           QPoint(shot.width() / 2, 0), QPoint(shot.width() / 2, shot.height() - 1)})
        EXPECT_EQ(shot.pixelColor(p), dark) << p.x() << "," << p.y();
    EXPECT_NE(face, dark);

    // The calendar button shows the calendar, not the modify pencil.
    const QImage pencil = iconFor(Icon::Modifica).pixmap(16, 16).toImage();
    EXPECT_EQ(calendarIcon, iconFor(Icon::Calendario).pixmap(16, 16).toImage());
    EXPECT_NE(calendarIcon, pencil);
}

TEST_F(WidgetTest, CancelLeavesTheOperationAndStillRewritesTheStore)
{
    ASSERT_TRUE(ctl->Start(0));
    whenDialogOpens([](QDialog&) {}, "imgConferma");
    ctl->aggiungiClicked();
    std::filesystem::remove(env.home() / "cadenzo.xml");

    list()->setCurrentItem(list()->topLevelItem(0));
    whenDialogOpens([](QDialog& d) { d.findChild<QLineEdit*>("txtOra")->setText("22"); }, "imgAnnulla");
    ctl->modificaClicked();
    EXPECT_EQ(libraryState().colOperazioni.at(0)->ProssimoAppuntamento(), (DateTime{2026, 3, 25, 14, 7, 0}));
    EXPECT_TRUE(std::filesystem::exists(env.home() / "cadenzo.xml"));
}

TEST_F(WidgetTest, RemoveAsksAndRemovesTheSelectedRow)
{
    ASSERT_TRUE(ctl->Start(0));
    whenDialogOpens([](QDialog&) {}, "imgConferma");
    ctl->aggiungiClicked();
    ASSERT_EQ(list()->topLevelItemCount(), 1);

    Prompt::setNextAnswer(true); // nothing selected: the answer changes nothing
    ctl->togliClicked();
    EXPECT_EQ(list()->topLevelItemCount(), 1);

    list()->setCurrentItem(list()->topLevelItem(0));
    Prompt::setNextAnswer(false);
    ctl->togliClicked();
    EXPECT_EQ(list()->topLevelItemCount(), 1);

    Prompt::setNextAnswer(true);
    ctl->togliClicked();
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_EQ(store(), "<cadenzo>\r\n\r\n</cadenzo>");
}

TEST_F(WidgetTest, PropertiesPersistOnlyWhatDiffersAndReadBack)
{
    zs::automation::PropertyBag bag;
    ctl->WriteProperties(bag);
    EXPECT_EQ(bag.size(), 0u);

    ctl->setFillColor(0); // black is a real choice, not "nothing stored"
    ctl->setBackColor(0x00FF0000);
    ctl->WriteProperties(bag);
    EXPECT_TRUE(bag.contains("FillColor"));

    CadenzoControl other(nullptr, &clock);
    other.ReadProperties(bag);
    EXPECT_EQ(other.FillColor(), 0u);
    EXPECT_EQ(other.BackColor(), 0x00FF0000u);
    EXPECT_EQ(other.ForeColor(), kButtonText);

    CadenzoControl fresh(nullptr, &clock);
    fresh.ReadProperties(zs::automation::PropertyBag{});
    EXPECT_EQ(fresh.FillColor(), kWindowBackground);
    EXPECT_EQ(fresh.Appearance(), 1);
    EXPECT_TRUE(fresh.Enabled());
}

TEST_F(WidgetTest, FillColorReachesTheInputControls)
{
    ctl->setFillColor(0x0000FF00);
    EXPECT_EQ(list()->palette().color(QPalette::Base), QColor(0, 255, 0));
    EXPECT_NE(ctl->findChild<QLabel*>("lblTitle")->palette().color(QPalette::Base), QColor(0, 255, 0));
    auto* txt = operazioneDialog().findChild<QLineEdit*>("txtOra");
    EXPECT_EQ(txt->palette().color(QPalette::Base), QColor(0, 255, 0));
}

TEST_F(WidgetTest, LateBoundCallsAndAlarm)
{
    const auto& table = ctl->dispatchTable();
    EXPECT_EQ(table.find(0x60030010)->name, "AddOperation");
    EXPECT_EQ(table.find(0x60030013)->name, "SetPath");
    EXPECT_EQ(table.find(0x60030014)->name, "Start");
    EXPECT_EQ(table.find(-512)->name, "Font");
    EXPECT_EQ(table.findEvent("Alarm")->id, 1);

    zs::test::writeFile(env.home() / "cadenzo.xml",
                        "<cadenzo><operazione><azione>Elaborazione dati.</azione><data>01/03/2026</data><ora>6</ora>"
                        "<minuti>0</minuti><escludi>niente</escludi><periodicita>Una volta sola</periodicita>"
                        "<abilitato>1</abilitato></operazione></cadenzo>");
    std::vector<std::string> alarms;
    QEventLoop loop;
    ctl->events().connect([&](zs::automation::DispId id, std::span<Variant> args) {
        EXPECT_EQ(id, 1);
        alarms.push_back(args[0].toString());
        loop.quit();
    });
    ctl->setPollIntervalMs(20);
    Variant none[] = {Variant()};
    ASSERT_TRUE(table.invoke(*ctl, 0x60030014, InvokeKind::Method, none)); // Start with the delay left out
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(alarms, std::vector<std::string>{"Elaborazione dati."});

    Variant put[] = {Variant(std::int32_t{0})};
    ASSERT_TRUE(table.invoke(*ctl, 0x68030002, InvokeKind::Put, put));
    EXPECT_EQ(table.invoke(*ctl, 0x68030002, InvokeKind::Get, {}).value.toInt32(), 0);
}

TEST_F(WidgetTest, StartOnAFaultyStoreFailsToTheCaller)
{
    zs::test::writeFile(env.home() / "cadenzo.xml", "<cadenzo><operazione>");
    Variant delay[] = {Variant(60.0)};
    const auto r = ctl->dispatchTable().invoke(*ctl, 0x60030014, InvokeKind::Method, delay);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorNumber, 91);
    EXPECT_EQ(zs::test::readFile(env.home() / "cadenzo.xml"), "<cadenzo><operazione>");
    EXPECT_EQ(ctl->findChild<QLabel*>("lblTitle")->text(), "Operazioni previste");
}

TEST_F(WidgetTest, DelayCaptionAndResizeInTwips)
{
    ASSERT_TRUE(ctl->Start(60));
    EXPECT_EQ(ctl->findChild<QLabel*>("lblTitle")->text(), "Operazioni previste (momentaneamente sospese per 60 sec.)");

    ctl->show();
    ctl->resize(600, ctl->height());
    QApplication::processEvents();
    EXPECT_EQ(list()->width(), (9000 - 360 - 300) / 15);
    EXPECT_EQ(list()->columnWidth(1), 1525 / 15);
    EXPECT_EQ(ctl->findChild<QToolButton*>("imgAggiungi")->x(), (9000 - 360 - 150) / 15);
    ctl->resize(20, ctl->height());
    QApplication::processEvents();
    EXPECT_EQ(list()->width(), 0);
    EXPECT_EQ(list()->columnWidth(0), 500 / 15);
}

TEST_F(WidgetTest, RegisteredByProgIdAndClsid)
{
    zs::automation::ClassRegistry registry;
    registerClasses(registry);
    ASSERT_NE(registry.byProgId("cadenzo.cadenzocontrol"), nullptr);
    EXPECT_EQ(registry.byProgId(kProgId)->defaultInterface, "_CadenzoControl");
    EXPECT_EQ(registry.byProgId(kProgId)->eventInterface, "__CadenzoControl");
    auto created = registry.create(kClsid);
    ASSERT_NE(created, nullptr);
    EXPECT_NE(dynamic_cast<CadenzoControl*>(created.get()), nullptr);
}

TEST_F(WidgetTest, ModifyKeepsValuesTheListsDoNotKnow)
{
    zs::test::writeFile(env.home() / "cadenzo.xml",
                        "<cadenzo><operazione><azione>Extraction</azione><data>01/04/2026</data><ora>6</ora>"
                        "<minuti>0</minuti><escludi>Sunday</escludi><periodicita>Every day</periodicita>"
                        "<abilitato>1</abilitato></operazione></cadenzo>");
    ASSERT_TRUE(ctl->Start(0));
    list()->setCurrentItem(list()->topLevelItem(0));
    whenDialogOpens(
        [](QDialog& d) {
            EXPECT_EQ(d.findChild<QComboBox*>("cmbAzione")->currentText(), "Extraction");
            EXPECT_EQ(d.findChild<QComboBox*>(QString::fromUtf8("cmbPeriodicità"))->currentText(), "Every day");
            EXPECT_EQ(d.findChild<QComboBox*>("cmbEscludi")->currentText(), "Sunday");
            d.findChild<QLineEdit*>("txtOra")->setText("7");
        },
        "imgConferma");
    ctl->modificaClicked();
    const clsOperazione& op = *libraryState().colOperazioni.at(0);
    EXPECT_EQ(op.azione(), "Extraction");
    EXPECT_EQ(op.Periodicita(), "Every day");
    EXPECT_EQ(op.Escludi(), "Sunday");
    EXPECT_EQ(op.Ora(), 7);

    // Picking another entry replaces the value; the next operation sees the plain lists again.
    list()->setCurrentItem(list()->topLevelItem(0));
    whenDialogOpens(
        [](QDialog& d) {
            d.findChild<QComboBox*>(QString::fromUtf8("cmbPeriodicità"))->setCurrentText("Ogni giorno");
            d.findChild<QComboBox*>("cmbAzione")->setCurrentText("Elaborazione dati.");
        },
        "imgConferma");
    ctl->modificaClicked();
    EXPECT_EQ(op.Periodicita(), "Ogni giorno");
    EXPECT_EQ(op.azione(), "Elaborazione dati.");
    EXPECT_EQ(op.Escludi(), "Sunday");
    whenDialogOpens(
        [](QDialog& d) {
            EXPECT_EQ(d.findChild<QComboBox*>("cmbAzione")->count(), 2);
            EXPECT_EQ(d.findChild<QComboBox*>(QString::fromUtf8("cmbPeriodicità"))->count(), 7);
            EXPECT_EQ(d.findChild<QComboBox*>("cmbEscludi")->count(), 8);
        },
        "imgAnnulla");
    ctl->aggiungiClicked();
}

TEST_F(WidgetTest, StoreFailuresReachTheHostAsEventsAndErrors)
{
    ctl->SetPath((env.home() / "missing").string());
    std::vector<std::string> reported;
    ctl->events().connect([&](zs::automation::DispId id, std::span<Variant> args) {
        if (id == CadenzoControl::kStoreErrorEvent)
            reported.push_back(args[0].toString());
    });
    EXPECT_EQ(ctl->dispatchTable().findEvent("StoreError")->id, 2);
    Variant delay[] = {Variant(0.0)};
    const auto r = ctl->dispatchTable().invoke(*ctl, 0x60030014, InvokeKind::Method, delay);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorNumber, 75);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("non salvate"), std::string::npos);
    EXPECT_EQ(ctl->findChild<QLabel*>("lblTitle")->text(), "Operazioni previste - modifiche NON salvate");

    whenDialogOpens([](QDialog&) {}, "imgConferma");
    ctl->aggiungiClicked();
    EXPECT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(reported.size(), 2u);
    EXPECT_EQ(ctl->findChild<QLabel*>("lblTitle")->text(), "Operazioni previste - modifiche NON salvate");
}

TEST_F(WidgetTest, NextEventColumnShowsDateAndTimeWhole)
{
    zs::test::writeFile(env.home() / "cadenzo.xml",
                        "<cadenzo><operazione><azione>Elaborazione dati.</azione><data>10/12/2026</data><ora>6</ora>"
                        "<minuti>30</minuti><escludi>niente</escludi><periodicita>Ogni giorno</periodicita>"
                        "<abilitato>1</abilitato></operazione></cadenzo>");
    ASSERT_TRUE(ctl->Start(0));
    ctl->resize(570, ctl->height());
    ctl->show();
    QApplication::processEvents();
    QTreeWidget* l = list();
    ASSERT_EQ(l->columnWidth(1), 1525 / 15);
    const QString text = l->topLevelItem(0)->text(1);
    ASSERT_EQ(text, "10/12/2026 06:30");
    EXPECT_EQ(QFontInfo(l->font()).family(), "Liberation Sans");
    // The view leaves a margin on each side of the text.
    const int margin = l->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, l) + 1;
    EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(text) + 2 * margin, l->columnWidth(1));
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
