// Every window of the program at its default size, built as the program builds them, on a
// real X server when there is one (xvfb-run): no text is cut by its control, no control lies
// over another or outside its window, and owner-drawn texts stand out from their background.
// Each window is also saved as a PNG (ZS_SCREENSHOT_DIR, else the test's folder) to look at.
// The same check runs at each window's minimum size and at a small and a large odd size: a child
// window of the main window never goes below its minimum and scrolls when the main window is
// smaller, so every control stays in reach.

#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/JobViewerWindow.h"
#include "dialogs/qt/LoginWindow.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "flatui/widgets/FlatWidgets.h"
#include "flatui/widgets/QtCanvas.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/ShellApplication.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/qt/frmSplash.h"
#include "shell/run/SupportOnline.h"
#include "shell/testsupport/ProgramFolderTest.h"
#include "testsupport/TestEnv.h"
#include "xml/XmlDocument.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <unistd.h>

namespace zs::shell {
namespace {

namespace fs = std::filesystem;

std::string nameOf(const QWidget* w)
{
    std::string name = w->objectName().toStdString();
    if (name.empty())
        name = std::string("<") + w->metaObject()->className() + ">";
    return name;
}

bool named(const QWidget* w)
{
    return !w->objectName().isEmpty() && !w->objectName().startsWith("qt_");
}

QString plain(QString text)
{
    return text.replace("&&", "\x01").remove('&').replace("\x01", "&");
}

/// The relative luminance of a colour (WCAG).
double luminance(QColor c)
{
    auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

/// The most frequent colour of an image's area: the background a text is drawn on.
QColor backgroundIn(const QImage& image, QRect area)
{
    std::map<QRgb, int> seen;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++seen[image.pixel(x, y)];
    QRgb best = 0;
    int count = -1;
    for (const auto& [rgb, n] : seen)
        if (n > count)
            best = rgb, count = n;
    return QColor::fromRgb(best);
}

/// What a window shows wrong: each text that does not fit its control, each control over
/// another or outside its window, each owner-drawn text too faint to read.
class LayoutCheck {
  public:
    /// Two sibling controls that overlap by design, with the test that they still read.
    using Allowance = std::function<bool(const QWidget& a, const QWidget& b)>;
    void allow(const std::string& a, const std::string& b, Allowance ok) { m_allowed[{a, b}] = std::move(ok); }

    std::vector<std::string> check(QWidget& window)
    {
        m_problems.clear();
        QCoreApplication::processEvents();
        std::vector<QWidget*> widgets{&window};
        for (QWidget* w : window.findChildren<QWidget*>())
            if (w->isVisibleTo(&window) && !w->isWindow())
                widgets.push_back(w);
        for (QWidget* w : widgets) {
            w->ensurePolished();
            texts(*w);
            if (w != &window && named(w))
                placement(*w);
        }
        return m_problems;
    }

  private:
    void problem(const QWidget& w, const std::string& what) { m_problems.push_back(nameOf(&w) + ": " + what); }

    void texts(QWidget& w)
    {
        const QFontMetrics fm(w.font());
        if (auto* label = qobject_cast<QLabel*>(&w); label && !label->text().isEmpty() && !label->pixmap()) {
            const QRect room =
                label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
            const QString text = label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text())
                                     ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                                     : label->text();
            if (label->wordWrap()) {
                if (label->heightForWidth(label->width()) > label->height())
                    problem(w, "text needs " + std::to_string(label->heightForWidth(label->width())) +
                                   " px of height, has " + std::to_string(label->height()));
            } else {
                const QRect need = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop, text);
                if (need.width() > room.width() || fm.height() > room.height())
                    problem(w, "text \"" + text.toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                                   std::to_string(fm.height()) + ", has " + std::to_string(room.width()) + "x" +
                                   std::to_string(room.height()));
            }
        } else if (qobject_cast<QCheckBox*>(&w) || qobject_cast<QRadioButton*>(&w)) {
            const QSize need = w.sizeHint();
            if (need.width() > w.width() || need.height() > w.height())
                problem(w, "\"" + static_cast<QAbstractButton&>(w).text().toStdString() + "\" needs " +
                               std::to_string(need.width()) + "x" + std::to_string(need.height()) + ", has " +
                               std::to_string(w.width()) + "x" + std::to_string(w.height()));
        } else if (auto* button = qobject_cast<QPushButton*>(&w); button && !button->text().isEmpty()) {
            const int need = fm.horizontalAdvance(plain(button->text())) + 8;
            if (need > w.width() || fm.height() + 4 > w.height())
                problem(w, "\"" + button->text().toStdString() + "\" does not fit its button");
        } else if (qobject_cast<QLineEdit*>(&w) || qobject_cast<QComboBox*>(&w)) {
            if (fm.height() + 2 > w.height())
                problem(w, "text box " + std::to_string(w.height()) + " px high for a " + std::to_string(fm.height()) +
                               " px font");
        } else if (auto* box = qobject_cast<QGroupBox*>(&w); box && !box->title().isEmpty()) {
            if (fm.horizontalAdvance(plain(box->title())) + 16 > w.width())
                problem(w, "title \"" + box->title().toStdString() + "\" does not fit");
        } else if (auto* flat = dynamic_cast<flatui::FlatButtonWidget*>(&w)) {
            // A disabled button's caption is faint on purpose.
            drawnTexts(w, flat->model().surface(), w.rect(), flat->model().enabled());
        } else if (auto* tabs = dynamic_cast<flatui::FlatTabWidget*>(&w)) {
            drawnTexts(w, tabs->model().surface(), w.rect());
        } else if (auto* grid = dynamic_cast<flatui::FlatGridWidget*>(&w)) {
            drawnTexts(w, grid->model().surface(), w.rect());
        } else if (auto* menu = dynamic_cast<flatui::MenuButtonWidget*>(&w)) {
            drawnTexts(w, menu->model().surface(), w.rect());
            if (QWidget* drop = menu->dropDown(); drop && drop->isVisible())
                menuEntries(*menu, *drop);
        }
    }

    /// The texts an owner-drawn control drew: inside the control, and readable on what lies
    /// beneath them.
    void drawnTexts(QWidget& w, const flatui::DisplayList& list, QRect within, bool readable = true)
    {
        const QImage image = w.grab().toImage();
        const double scale = image.width() / std::max(1.0, static_cast<double>(w.width()));
        std::vector<std::pair<QRect, std::string>> drawn;
        for (const flatui::DrawOp* op : list.opsOfKind(flatui::DrawOp::Kind::Text)) {
            if (op->text.empty() || !op->font)
                continue;
            const QFontMetrics fm(flatui::toQFont(*op->font));
            const QRect rect(static_cast<int>(std::floor(op->x1)), static_cast<int>(std::floor(op->y1)),
                             fm.horizontalAdvance(QString::fromStdString(op->text)), fm.height());
            if (!within.contains(rect))
                problem(w, "drawn text \"" + op->text + "\" at " + std::to_string(rect.x()) + "," +
                               std::to_string(rect.y()) + " " + std::to_string(rect.width()) + "x" +
                               std::to_string(rect.height()) + " leaves the control " + std::to_string(within.width()) +
                               "x" + std::to_string(within.height()));
            const QRect px(QPoint(static_cast<int>(rect.left() * scale), static_cast<int>(rect.top() * scale)),
                           QPoint(static_cast<int>(rect.right() * scale), static_cast<int>(rect.bottom() * scale)));
            const double ratio = contrast(flatui::toQColor(op->color), backgroundIn(image, px));
            // Below 2:1 a caption cannot be read (white on the pale face was 1.1:1); the design's
            // white captions on blue faces stand at about 2.3:1.
            if (readable && ratio < 2.0)
                problem(w, "drawn text \"" + op->text + "\" is faint: contrast " + std::to_string(ratio));
            // Two texts over one another (a grid's headers wider than their columns) do not read.
            for (const auto& [other, text] : drawn)
                if (other.intersects(rect))
                    problem(w, "drawn texts \"" + text + "\" and \"" + op->text + "\" overlap");
            drawn.emplace_back(rect, op->text);
        }
        // A text that a later fill paints over (a grid's header wider than its column, whose
        // neighbour and border are drawn after it) is cut.
        std::vector<std::pair<QRect, const std::string*>> texts;
        for (const flatui::DrawOp& op : list.ops()) {
            if (op.kind == flatui::DrawOp::Kind::Text && !op.text.empty() && op.font) {
                const QFontMetrics fm(flatui::toQFont(*op.font));
                texts.emplace_back(QRect(static_cast<int>(std::floor(op.x1)), static_cast<int>(std::floor(op.y1)),
                                         fm.horizontalAdvance(QString::fromStdString(op.text)), fm.height()),
                                   &op.text);
            } else if (op.kind == flatui::DrawOp::Kind::FillBox) {
                const QRect fill(QPoint(static_cast<int>(std::ceil(std::min(op.x1, op.x2))),
                                        static_cast<int>(std::ceil(std::min(op.y1, op.y2)))),
                                 QPoint(static_cast<int>(std::floor(std::max(op.x1, op.x2))),
                                        static_cast<int>(std::floor(std::max(op.y1, op.y2)))));
                for (const auto& [rect, text] : texts)
                    if (fill.intersects(rect.adjusted(1, 1, -1, -1)))
                        problem(w, "drawn text \"" + *text + "\" is covered by a later fill");
            }
        }
    }

    /// Every word of every entry of the category menu shows, inside the drop-down.
    void menuEntries(flatui::MenuButtonWidget& menu, QWidget& drop)
    {
        drawnTexts(drop, menu.model().menuSurface(), drop.rect());
        std::string shown;
        for (const auto& t : menu.model().menuSurface().texts())
            shown += " " + t + " ";
        for (int i = 1; i <= menu.model().menuItemsCount(); ++i) {
            std::istringstream words(menu.model().MenuLabels(i));
            for (std::string word; words >> word;)
                if (shown.find(word) == std::string::npos)
                    problem(drop, "menu entry " + std::to_string(i) + " loses \"" + word + "\"");
        }
    }

    void placement(QWidget& w)
    {
        QWidget* parent = w.parentWidget();
        if (!parent || qobject_cast<QMdiSubWindow*>(&w) || qobject_cast<QAbstractScrollArea*>(parent) ||
            (parent->parentWidget() && qobject_cast<QAbstractScrollArea*>(parent->parentWidget())))
            return;
        if (!parent->rect().contains(w.geometry()))
            problem(w, "lies outside its window (" + std::to_string(w.geometry().right()) + "," +
                           std::to_string(w.geometry().bottom()) + " in " + std::to_string(parent->width()) + "x" +
                           std::to_string(parent->height()) + ")");
        for (QObject* o : parent->children()) {
            auto* other = qobject_cast<QWidget*>(o);
            if (!other || other == &w || other->isWindow() || !other->isVisibleTo(parent) || !named(other) ||
                nameOf(other) < nameOf(&w) || qobject_cast<QMdiSubWindow*>(other))
                continue;
            if (!w.geometry().intersects(other->geometry()))
                continue;
            auto allowed = m_allowed.find({nameOf(&w), nameOf(other)});
            if (allowed == m_allowed.end())
                allowed = m_allowed.find({nameOf(other), nameOf(&w)});
            if (allowed != m_allowed.end() && allowed->second(w, *other))
                continue;
            problem(w, "overlaps " + nameOf(other));
        }
    }

    std::vector<std::string> m_problems;
    std::map<std::pair<std::string, std::string>, Allowance> m_allowed;
};

/// The month label's blanks leave room for the month box and its scroll bar.
bool sitsInTheLabelsGap(const QWidget& label, const QWidget& control)
{
    const auto& l = static_cast<const QLabel&>(label);
    const QString text = l.text();
    const int gapStart = static_cast<int>(text.indexOf("   "));
    const int gapEnd = static_cast<int>(text.lastIndexOf("   ")) + 3;
    if (gapStart < 0)
        return false;
    const QFontMetrics fm(l.font());
    const int left = l.x() + l.contentsRect().left() + fm.horizontalAdvance(text.left(gapStart));
    const int right = l.x() + l.contentsRect().left() + fm.horizontalAdvance(text.left(gapEnd));
    return control.x() >= left && control.geometry().right() <= right;
}

/// A tab page lies over the body of its tab strip.
bool pageInsideItsTabs(const QWidget& a, const QWidget& b)
{
    const QWidget& tabs = a.objectName() == "FlatTab" ? a : b;
    const QWidget& page = &tabs == &a ? b : a;
    return page.objectName().startsWith("picTab") && tabs.geometry().contains(page.geometry());
}

struct Windows : test::DemoProgramTest {
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(DemoProgramTest::SetUp());
        shots = std::getenv("ZS_SCREENSHOT_DIR") ? fs::path(std::getenv("ZS_SCREENSHOT_DIR")) : env.root() / "shots";
        fs::create_directories(shots);
        ShellApplication::Options o;
        o.pause = [](int) { QCoreApplication::processEvents(); };
        create(o);
        ASSERT_TRUE(app->load());
        check.allow("label3", "txtMese", sitsInTheLabelsGap);
        check.allow("label3", "vscrMese", sitsInTheLabelsGap);
        for (const char* page : {"picTab0", "picTab1", "picTab2", "picTab3"})
            check.allow("FlatTab", page, pageInsideItsTabs);
        // The category menu's entries open over the main window, inside the menu's column.
        check.allow("mdiArea", "picMenu", [this](const QWidget&, const QWidget&) {
            QWidget* menu = app->main().menuButton()->parentWidget();
            const QRect column(menu->mapTo(&app->main(), QPoint(0, 0)), menu->size());
            QWidget* drop = app->main().menuButton()->dropDown();
            return column.contains(QRect(drop->mapTo(&app->main(), QPoint(0, 0)), drop->size()));
        });
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void expectClean(QWidget& window, const std::string& name)
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        window.grab().save(QString::fromStdString((shots / (name + ".png")).string()));
        const auto problems = check.check(window);
        EXPECT_TRUE(problems.empty()) << name << ":\n  " << ::testing::PrintToString(problems);
    }
    /// A child window of the main window at its current size: never below its minimum, and each
    /// part of it inside the main window's area or reachable through its scroll bars.
    void expectReachable(QWidget& window, const std::string& name)
    {
        QCoreApplication::processEvents();
        auto* scroll =
            window.parentWidget() ? qobject_cast<QScrollArea*>(window.parentWidget()->parentWidget()) : nullptr;
        ASSERT_NE(scroll, nullptr) << name << " has no scroll area";
        EXPECT_GE(window.width(), window.minimumWidth()) << name;
        EXPECT_GE(window.height(), window.minimumHeight()) << name;
        EXPECT_GT(window.minimumWidth(), 0) << name << " has no minimum size";
        const QRect area = app->main().area().viewport()->rect();
        QWidget* sub = dialogs::subWindowOf(window);
        ASSERT_NE(sub, nullptr) << name;
        EXPECT_TRUE(area.contains(sub->geometry())) << name << "'s sub-window leaves the main window";
        const QSize view = scroll->viewport()->size();
        for (auto [bar, needed] : {std::pair{scroll->horizontalScrollBar(), window.width() - view.width()},
                                   std::pair{scroll->verticalScrollBar(), window.height() - view.height()}}) {
            EXPECT_EQ(bar->maximum(), std::max(0, needed)) << name;
            if (needed > 0) {
                EXPECT_TRUE(bar->isVisible()) << name << ": a part out of sight with no scroll bar";
            }
        }
    }
    /// The run window's progress bar ends where the log tree ends.
    void expectProgressAlignedWithTheLog(const std::string& name)
    {
        auto* bar = app->runWindow().findChild<QWidget*>("ProgressBar");
        auto* tree = app->runWindow().findChild<QWidget*>("tvwLog");
        ASSERT_TRUE(bar && tree);
        EXPECT_EQ(bar->geometry().right(), tree->geometry().right()) << name;
    }
    /// Every child window of the main window and each page of the options dialog, as they stand.
    void expectChildWindowsClean(const std::string& suffix)
    {
        for (QWidget* w : {static_cast<QWidget*>(&app->runWindow()), static_cast<QWidget*>(&app->secondaryWindow()),
                           static_cast<QWidget*>(&app->cubes())}) {
            showEntry(*w);
            expectReachable(*w, nameOf(w) + suffix);
            expectClean(*w, nameOf(w) + suffix);
        }
        showEntry(app->options());
        expectReachable(app->options(), "frmOpzioni" + suffix);
        auto* tabs = app->options().findChild<flatui::FlatTabWidget*>("FlatTab");
        ASSERT_NE(tabs, nullptr);
        for (int page = 1; page <= 4; ++page) {
            tabs->model().setTabId(page);
            tabs->model().setTabselected(true);
            app->options().FlatTab_Click();
            expectClean(app->options(), "frmOpzioni-" + std::to_string(page) + suffix);
        }
        tabs->model().setTabId(1);
        tabs->model().setTabselected(true);
        app->options().FlatTab_Click();
    }
    /// A window of its own at its minimum size, then at a small and a large odd size.
    void expectCleanAtEverySize(QWidget& window, const std::string& name)
    {
        window.show();
        QCoreApplication::processEvents();
        const QSize least = window.minimumSize().expandedTo(window.minimumSizeHint());
        ASSERT_GT(least.width(), 0) << name << " has no minimum size";
        const struct {
            const char* tag;
            QSize size;
        } sizes[] = {{"min", least}, {"small", least + QSize(37, 23)}, {"large", QSize(1187, 853)}};
        for (const auto& s : sizes) {
            window.resize(s.size.boundedTo(window.maximumSize()));
            QCoreApplication::processEvents();
            EXPECT_EQ(window.size(), s.size.boundedTo(window.maximumSize())) << name << " " << s.tag;
            expectClean(window, name + "-" + s.tag);
        }
    }
    void showEntry(QWidget& window)
    {
        if (auto* sub = dialogs::subWindowOf(window)) {
            app->main().area().setActiveSubWindow(sub);
            sub->raise();
        }
        window.show();
        window.raise();
        QCoreApplication::processEvents();
    }

    fs::path shots;
    LayoutCheck check;
};

TEST_F(Windows, MainWindowWithTheMenuAndTheRunWindow)
{
    // The menu's entries open when it is first shown; the run window shows its progress bar
    // while a run goes.
    app->runWindow().setProgressVisible(true);
    ASSERT_TRUE(app->main().menuButton()->dropDown() && app->main().menuButton()->dropDown()->isVisible());
    expectClean(app->main(), "mdiGlobal");
    expectClean(*app->main().menuButton()->parentWidget(), "frmMenu");
    expectClean(app->runWindow(), "frmMain");
    expectProgressAlignedWithTheLog("frmMain");
    app->runWindow().setProgressVisible(false);
}

TEST_F(Windows, ChildWindowsOfTheMainWindow)
{
    showEntry(app->secondaryWindow());
    expectClean(app->secondaryWindow(), "frmSchedulazione");
    showEntry(app->options());
    // Each page of the options dialog.
    auto* tabs = app->options().findChild<flatui::FlatTabWidget*>("FlatTab");
    ASSERT_NE(tabs, nullptr);
    for (int page = 1; page <= 4; ++page) {
        tabs->model().setTabId(page);
        tabs->model().setTabselected(true);
        app->options().FlatTab_Click();
        expectClean(app->options(), "frmOpzioni-" + std::to_string(page));
    }
    showEntry(app->cubes());
    expectClean(app->cubes(), "frmCubi");
}

TEST_F(Windows, ChildWindowsAtTheMainWindowsMinimumAndOddSizes)
{
    const QSize least = app->main().minimumSize();
    ASSERT_GT(least.width(), 0) << "the main window has no minimum size";
    app->runWindow().setProgressVisible(true);
    // The smallest main window, a small odd one, one wide and low, and a large one.
    const struct {
        const char* tag;
        QSize size;
    } sizes[] = {
        {"min", least}, {"small", least + QSize(41, 27)}, {"wide", QSize(1261, 451)}, {"large", QSize(1567, 1013)}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.tag);
        app->main().resize(s.size);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        ASSERT_EQ(app->main().size(), s.size);
        const std::string suffix = std::string("-") + s.tag;
        expectClean(app->main(), "mdiGlobal" + suffix);
        expectClean(*app->main().menuButton()->parentWidget(), "frmMenu" + suffix);
        expectChildWindowsClean(suffix);
        expectProgressAlignedWithTheLog("frmMain" + suffix);
    }
    app->runWindow().setProgressVisible(false);
}

// The wizard, a job of the loading XML and the log-in: each at the size it opens with, then at
// its minimum and at a small and a large odd size (the wizard on each page of the mixed kind,
// which shows all six, with the Bus & Task fields on page 5).
TEST_F(Windows, DialogsAtTheirDefaultMinimumAndOddSizes)
{
    auto doc = xml::Document::loadFile(home / "zentrikLoading.xml");
    ASSERT_TRUE(doc);
    auto& wizard = app->wizard();
    dialogs::frmJob job(&app->main());
    dialogs::frmLogin login(&app->main());
    auto* forward = wizard.findChild<flatui::FlatButtonWidget*>("flbAvanti");
    ASSERT_NE(forward, nullptr);
    struct Dialog {
        const char* name;
        QWidget& window;
        std::function<void()> open;     ///< shows it as the program does
        std::function<void()> allPages; ///< before the sizes: what makes every page show
        int pages;                      ///< checked at every size, one after the other
        std::function<void(int)> turn;  ///< after page n, to the next
    };
    const Dialog cases[] = {
        {"frmWizard", wizard, [&] { wizard.show(); },
         [&] {
             wizard.findChild<QRadioButton*>("optStep1_1")->setChecked(true);
             wizard.findChild<QRadioButton*>("optStep5_0")->click();
         },
         6,
         [&](int page) {
             EXPECT_EQ(forward->isVisible(), page < 6) << page;
             if (page < 6)
                 forward->model().click();
         }},
        {"frmJob", job, [&] { job.ShowMe(doc->root().children().front(), false); }, {}, 1, {}},
        {"frmLogin", login, [&] { login.show(); }, {}, 1, {}},
    };
    for (const Dialog& c : cases) {
        SCOPED_TRACE(c.name);
        c.open();
        expectClean(c.window, c.name);
        if (c.allPages)
            c.allPages();
        for (int page = 1; page <= c.pages; ++page) {
            expectCleanAtEverySize(c.window, c.pages > 1 ? c.name + std::string("-page") + std::to_string(page)
                                                         : std::string(c.name));
            if (c.turn)
                c.turn(page);
        }
        c.window.hide();
    }
}

TEST_F(Windows, SchedulerDialogWithItsCalendar)
{
    // The operation dialog as the secondary options open it, then with its calendar open.
    auto* cadenzo = app->secondaryWindow().findChild<cadenzo::CadenzoControl*>("CadenzoControl");
    ASSERT_NE(cadenzo, nullptr);
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        opened = true;
        expectClean(*dlg, "frmOperazione");
        dlg->findChild<QToolButton*>("imgCalendario")->click();
        auto* calendar = dlg->findChild<QWidget*>("Calendar");
        ASSERT_TRUE(calendar && calendar->isVisible());
        expectClean(*calendar, "frmOperazione-Calendar");
        calendar->hide();
        dlg->findChild<QToolButton*>("imgAnnulla")->click();
    });
    cadenzo->aggiungiClicked();
    EXPECT_TRUE(opened);
}

TEST_F(Windows, NoticeAndSplash)
{
    for (const char* text : {SupportOnline::kStartText, SupportOnline::kStopText}) {
        app->alert().ShowMessage(text);
        expectClean(app->alert(), text == SupportOnline::kStartText ? "frmAlert-start" : "frmAlert-stop");
        app->alert().hide();
    }
    // The notice and the splash keep one size: their minimum is their size.
    EXPECT_EQ(app->alert().minimumSize(), app->alert().maximumSize());
    std::vector<std::function<void()>> pending;
    frmSplash splash({1, 0, 0}, [&](int, std::function<void()> fire) { pending.push_back(std::move(fire)); });
    splash.start([] {});
    ASSERT_EQ(pending.size(), 1u);
    pending.front()(); // the build is printed and the picture fades in
    splash.Progress(60);
    EXPECT_EQ(splash.minimumSize(), splash.maximumSize());
    expectClean(splash, "frmSplash");
}

TEST_F(Windows, OptionsTabsStayInsideTheirStripAndReadOnASmallMainWindow)
{
    // The main window's default size, and 700 x 450, where the dialog keeps its minimum size and scrolls.
    struct Size {
        int w, h;
        bool atMinimum;
    };
    app->main().showNormal();
    for (const Size size : {Size{1000, 680, false}, Size{700, 450, true}}) {
        const std::string name = std::to_string(size.w) + "x" + std::to_string(size.h);
        SCOPED_TRACE(name);
        app->main().resize(size.w, size.h);
        QCoreApplication::processEvents();
        showEntry(app->options());
        auto* tabs = app->options().findChild<flatui::FlatTabWidget*>("FlatTab");
        ASSERT_NE(tabs, nullptr);
        QCoreApplication::processEvents();
        if (size.atMinimum) {
            EXPECT_EQ(app->options().size(), app->options().minimumSize());
        }
        auto& t = tabs->model();
        // With the first tab selected and with the last, so every caption is drawn unselected once.
        for (const int selected : {1, 4}) {
            SCOPED_TRACE("tab " + std::to_string(selected) + " selected");
            t.setTabId(selected);
            t.setTabselected(true);
            t.Refresh();
            app->options().FlatTab_Click();
            QCoreApplication::processEvents();
            app->options().grab().save(QString::fromStdString(
                (shots / ("frmOpzioni-" + name + (selected == 1 ? "" : "-tab4") + ".png")).string()));
            for (int k = 1; k <= t.Tabs(); ++k)
                EXPECT_GE(t.tabPictureLeft(k), 0.0)
                    << "tab " << k << " runs off the strip " << tabs->width() << " px wide";
            // Every caption, the unselected ones faded toward the band included, at 4.5:1 at least.
            const QImage image = tabs->grab().toImage();
            std::string shown;
            for (const flatui::DrawOp* op : t.surface().opsOfKind(flatui::DrawOp::Kind::Text)) {
                if (op->text.empty() || !op->font)
                    continue;
                shown += op->text + " ";
                const QFontMetrics fm(flatui::toQFont(*op->font));
                const QRect rect(static_cast<int>(op->x1), static_cast<int>(op->y1),
                                 fm.horizontalAdvance(QString::fromStdString(op->text)), fm.height());
                EXPECT_TRUE(tabs->rect().contains(rect)) << op->text;
                const double ratio = contrast(flatui::toQColor(op->color), backgroundIn(image, rect));
                EXPECT_GE(ratio, 4.5) << "\"" << op->text << "\"";
            }
            for (const char* word : {"Estrazione", "dati", "Creazione", "database", "Bus", "Task", "Statistiche"})
                EXPECT_NE(shown.find(word), std::string::npos) << word << " in " << shown;
        }
        t.setTabId(1);
        t.setTabselected(true);
        t.Refresh();
        app->options().FlatTab_Click();
    }
    app->main().resize(1000, 680);
}

TEST_F(Windows, MainWindowFitsTheAvailableScreen)
{
    // The 125 % case on a 1280 x 800 screen, where 1000 x 680 does not fit, is
    // WindowManager.MainWindowFrameFitsTheAvailableAreaBesideThePanel.
    QCoreApplication::processEvents();
    const QRect avail = app->main().screen()->availableGeometry();
    EXPECT_TRUE(avail.contains(app->main().frameGeometry()))
        << "frame " << app->main().frameGeometry().width() << "x" << app->main().frameGeometry().height() << "+"
        << app->main().frameGeometry().x() << "+" << app->main().frameGeometry().y() << " on " << avail.width() << "x"
        << avail.height();
    app->main().grab().save(QString::fromStdString((shots / "mdiGlobal-fitted.png").string()));
}

TEST_F(Windows, PasswordBoxesShowAStarForEachCharacter)
{
    int boxes = 0;
    for (QWidget* window : std::initializer_list<QWidget*>{&app->wizard(), &app->options(), &app->secondaryWindow()})
        for (QLineEdit* box : window->findChildren<QLineEdit*>())
            if (box->echoMode() == QLineEdit::Password) {
                SCOPED_TRACE(box->objectName().toStdString());
                ++boxes;
                const QString kept = box->text();
                box->setText("abc");
                EXPECT_EQ(box->displayText(), "***");
                box->setText(kept);
            }
    // The wizard's four, the Bus & Task page's two and the SMTP password.
    EXPECT_EQ(boxes, 7);
}

/// `window` under a title bar drawn by the style at the window's width, as the operator sees it
/// framed; whether the title bar shows the whole caption.
bool framedShot(QWidget& window, const fs::path& file)
{
    QStyleOptionTitleBar opt;
    opt.initFrom(&window);
    opt.text = window.windowTitle();
    opt.subControls = QStyle::SC_All;
    opt.titleBarFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    opt.state |= QStyle::State_Active;
    opt.titleBarState = Qt::WindowActive;
    const int bar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, &window);
    opt.rect = QRect(0, 0, window.width(), bar);
    QImage shot(window.width(), bar + window.height(), QImage::Format_RGB32);
    shot.fill(Qt::white);
    QPainter p(&shot);
    QFont titleFont = window.font();
    titleFont.setBold(true); // as window managers draw titles
    p.setFont(titleFont);
    window.style()->drawComplexControl(QStyle::CC_TitleBar, &opt, &p, &window);
    p.drawPixmap(0, bar, window.grab());
    p.end();
    shot.save(QString::fromStdString(file.string()));
    const QRect label = window.style()->subControlRect(QStyle::CC_TitleBar, &opt, QStyle::SC_TitleBarLabel, &window);
    return QFontMetrics(titleFont).horizontalAdvance(opt.text) <= label.width();
}

TEST_F(Windows, PasswordPromptShowsItsWholeCaption)
{
    dialogs::frmLogin login(&app->main());
    for (const char* caption :
         {"Cambio password di sistema per accesso Bus&Task", "Cambio password dell'operatore per accesso Bus&Task"}) {
        SCOPED_TRACE(caption);
        bool fits = false;
        bool masked = false;
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(login.isVisible());
            auto* box = login.findChild<QLineEdit*>("txtPassword");
            box->setText("abc");
            masked = box->displayText() == "***";
            fits = framedShot(
                login, shots / (std::string("frmLogin-") + (caption[16] == 's' ? "sistema" : "operatore") + ".png"));
            EXPECT_TRUE(check.check(login).empty()) << ::testing::PrintToString(check.check(login));
            login.findChild<QPushButton*>("cmdCancel")->click();
        });
        EXPECT_EQ(login.ShowMe(caption), "");
        EXPECT_TRUE(fits) << "width " << login.width();
        EXPECT_TRUE(masked);
    }
}

TEST_F(Windows, QuestionBoxesShowItalianButtons)
{
    // The wizard's cancel question, raised by Escape as the operator does it.
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QWidget* wizard = QApplication::activeModalWidget();
        ASSERT_EQ(wizard, &app->wizard());
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = true;
            box->grab().save(QString::fromStdString((shots / "question-box.png").string()));
            EXPECT_EQ(box->icon(), QMessageBox::Information);
            EXPECT_EQ(plain(box->button(QMessageBox::Yes)->text()), QString::fromUtf8("Sì"));
            EXPECT_EQ(plain(box->button(QMessageBox::No)->text()), "No");
            EXPECT_TRUE(check.check(*box).empty()) << ::testing::PrintToString(check.check(*box));
            box->button(QMessageBox::Yes)->click();
        });
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(wizard->focusWidget() ? wizard->focusWidget() : wizard, &escape);
    });
    app->wizard().showModal();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(app->wizard().isVisible());

    // The program's own questions and Qt's standard buttons read in Italian.
    QMessageBox box(QMessageBox::Question, "Attenzione.", "Vuoi riprovare?",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(plain(box.button(QMessageBox::Cancel)->text()), "Annulla");
}

} // namespace
} // namespace zs::shell

int main(int argc, char** argv)
{
    // A real X server when one is there (the test runs under xvfb-run); offscreen otherwise.
    if (!std::getenv("DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
