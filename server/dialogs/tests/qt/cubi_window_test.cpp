// The cube window offscreen: its grid, the tick cells and the connection warning.
#include "dialogs/qt/CubiWindow.h"

#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "flatui/widgets/QtCanvas.h"
#include "program/testsupport/ShellDoubles.h"
#include "testsupport/TestEnv.h"
#include "time/Clock.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

using namespace zs;
using zs::dialogs::frmCubi;

namespace {

using zs::test::RecordingMessages;

class CubiWindowTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        test::writeFile(m_dir / "olap-srv.xml",
                        "<OlapServer name=\"srv\"><Database name=\"Zentrik\" connection=\"Data Source=x.mdb;\">"
                        "<Cube name=\"Vendite\" sourceTable=\"F\"/><Cube name=\"Acquisti\" sourceTable=\"F\"/>"
                        "<Cube name=\"Magazzino\" sourceTable=\"F\"/></Database></OlapServer>");
        m_window.set_MacchinaOLAP("srv");
        m_window.set_DatabaseCubi("Zentrik");
        m_window.Inizializza();
        m_window.AggiornaTabellaCubi();
    }

    flatui::FlatGridControl& grid() { return m_window.flgCubi()->model(); }

    /// Presses the mouse in the middle of a cell of the grid.
    void click(int riga, int colonna)
    {
        auto& g = grid();
        double x = 0, y = 0;
        for (int c = 1; c < colonna; ++c)
            x += g.getColWidth(c);
        for (int r = 1; r < riga; ++r)
            y += g.getRowHeight(r);
        const QPointF at(x + g.getColWidth(colonna) / 2.0, y + g.getRowHeight(riga) / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, at, m_window.flgCubi()->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_window.flgCubi(), &press);
    }

    /// The column widths and header height of the grid at its width of 1170 pixels.
    void expectFixedGridLayout()
    {
        const int expected[] = {372, 170, 170, 170, 270};
        for (int c = 1; c <= 5; ++c)
            EXPECT_EQ(grid().getColWidth(c), expected[c - 1]);
        EXPECT_EQ(grid().getRowHeight(1), 55);
    }

    test::TempDir m_dir;
    time::FakeClock m_clock;
    RecordingMessages m_messages;
    frmCubi m_window{m_dir.path(), m_clock, m_messages};
};

TEST_F(CubiWindowTest, GridShowsFiveColumnsAndTickCells)
{
    auto& g = grid();
    EXPECT_EQ(g.cols(), 5);
    ASSERT_EQ(g.rows(), 4);
    const char* header[] = {"Cubo", "Incrementale", "Aggiornamento Dati", "Completa", "data ultima elaborazione"};
    for (int c = 1; c <= 5; ++c)
        EXPECT_EQ(g.GetValue(1, c).toString(), header[c - 1]);
    for (int r = 2; r <= 4; ++r) {
        for (int c = 2; c <= 4; ++c) {
            EXPECT_EQ(g.GetFormat(r, c), flatui::typeCellFormat::flbBoolean);
            EXPECT_EQ(g.GetValue(r, c).toBool(), c == 4) << r << "." << c;
        }
    }
    EXPECT_EQ(g.GetValue(3, 1).toString(), "Acquisti");
}

TEST_F(CubiWindowTest, ClickingATickChangesTheRefreshChoice)
{
    m_window.resize(800, 500);
    m_window.show();
    QApplication::processEvents();
    click(4, 2); // third cube, "Incrementale"
    EXPECT_EQ(m_window.cubes()[2].aggiornamento, program::RefreshChoice::Incremental);
    EXPECT_TRUE(grid().GetValue(4, 2).toBool());
    EXPECT_FALSE(grid().GetValue(4, 4).toBool());
    EXPECT_FALSE(grid().GetValue(4, 3).toBool());
    click(4, 2); // unticking keeps the choice
    EXPECT_EQ(m_window.cubes()[2].aggiornamento, program::RefreshChoice::Incremental);
    click(3, 3);
    EXPECT_EQ(m_window.cubes()[1].aggiornamento, program::RefreshChoice::DataOnly);
    click(1, 2); // the header changes nothing
    click(2, 5);
    EXPECT_EQ(m_window.cubes()[0].aggiornamento, program::RefreshChoice::Full);
    EXPECT_EQ(grid().getRowHeight(1), 55);
}

TEST_F(CubiWindowTest, UnreachableServerWarnsWhileVisible)
{
    m_window.set_MacchinaOLAP("spento");
    m_window.Inizializza(); // hidden: no message
    EXPECT_TRUE(m_messages.shown.empty());
    m_window.Form_ShowMe();
    QApplication::processEvents();
    m_window.Inizializza();
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text,
              "Impossibile connettersi al server olap spento. Controllare le opzioni di configurazione.");
    EXPECT_EQ(m_messages.shown[0].title, "Attenzione.");
    EXPECT_EQ(m_window.cubes().size(), 3u);
    EXPECT_EQ(m_window.findChild<QLineEdit*>("txtDsoServer")->text(), "spento");
}

TEST_F(CubiWindowTest, ColumnsFollowTheGridWidth)
{
    m_window.show();
    m_window.flgCubi()->setFixedWidth(1170); // 17550 twips
    m_window.resize(1300, 500);
    QApplication::processEvents();
    ASSERT_EQ(m_window.flgCubi()->width(), 1170);
    expectFixedGridLayout();
}

TEST_F(CubiWindowTest, ResizeFollowsTheLayoutCodes)
{
    m_window.show();
    QApplication::processEvents();
    ASSERT_EQ(m_window.size(), QSize(640, 420));
    auto* gridWidget = m_window.flgCubi();
    auto* salva = m_window.findChild<QWidget*>("flbSalva");
    auto* server = m_window.findChild<QWidget*>("txtDsoServer");
    auto* label = m_window.findChild<QWidget*>("label1");
    const QRect grid0 = gridWidget->geometry(), salva0 = salva->geometry(), server0 = server->geometry(),
                label0 = label->geometry();

    // 585 pixels wider and 140 higher: the grid ("wh") is 1170 pixels (17550 twips) wide.
    for (const QSize size : {QSize(1225, 560), QSize(900, 330), QSize(1225, 560)}) {
        SCOPED_TRACE(size.width());
        m_window.resize(size);
        QApplication::processEvents();
        const int dw = size.width() - 640, dh = size.height() - 420;
        EXPECT_EQ(gridWidget->geometry(), QRect(grid0.topLeft(), QSize(grid0.width() + dw, grid0.height() + dh)));
        EXPECT_EQ(salva->geometry(), salva0.translated(dw, dh)); // "rb": same distance to the edges
        const double ratio = size.width() / 640.0;               // "W": proportional width only
        EXPECT_EQ(
            server->geometry(),
            QRect(server0.topLeft(), QSize(static_cast<int>(std::lround(server0.width() * ratio)), server0.height())));
        EXPECT_EQ(label->geometry(), label0); // an empty code never moves
    }
    // Below its minimum the window stops: every header still fits its column there.
    m_window.resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(m_window.size(), m_window.minimumSize());
    EXPECT_LT(m_window.minimumWidth(), 640);
    m_window.resize(1225, 560);
    QApplication::processEvents();
    expectFixedGridLayout();
}

TEST_F(CubiWindowTest, EveryHeaderFitsItsColumn)
{
    m_window.show();
    for (const QSize size : {QSize(640, 420), QSize(800, 600), QSize(1225, 560)}) {
        SCOPED_TRACE(size.width());
        m_window.resize(size);
        QApplication::processEvents();
        auto& g = grid();
        ASSERT_TRUE(g.Font());
        EXPECT_GE(g.Font()->size, 6);
        for (int c = 1; c <= 5; ++c) {
            const std::string header = g.GetValue(1, c).toString();
            EXPECT_LE(flatui::QtTextMetrics::instance().width(header, *g.Font()), g.getColWidth(c)) << header;
        }
    }
}

TEST_F(CubiWindowTest, ProgressNoticeShowsItsIconAndText)
{
    // The notice shows while the snapshot is written; the yield is where the window paints it.
    m_window.show();
    QImage shot;
    struct Grab : program::YieldHook {
        std::function<void()> f;
        void yield() override { f(); }
    } grab;
    grab.f = [&] {
        if (auto* notice = m_window.findChild<QWidget*>("picAvanzamento");
            notice && notice->isVisible() && shot.isNull())
            shot = notice->grab().toImage();
    };
    m_window.core().setYield(&grab);
    m_window.findChild<flatui::FlatButtonWidget*>("flbAggiorna")->model().click();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), QSize(350, 50)); // 5250 x 750 twips
    const QColor background(238, 247, 254);
    // The icon (27 x 27 at pixel 5, 11) is drawn; the space between it and the text is not.
    int iconPixels = 0;
    for (int y = 11; y < 38; ++y)
        for (int x = 5; x < 32; ++x)
            iconPixels += shot.pixelColor(x, y) != background;
    EXPECT_GT(iconPixels, 50);
    EXPECT_EQ(shot.pixelColor(36, 25), background);
    m_window.core().setYield(nullptr);
}

} // namespace

namespace {

/// A catalog of `count` cubes for the OLAP server "grande".
void writeLargeCatalog(const std::filesystem::path& folder, int count)
{
    std::string cubes;
    cubes.reserve(static_cast<std::size_t>(count) * 60);
    for (int i = 1; i <= count; ++i)
        cubes += "<Cube name=\"Cubo" + std::to_string(i) + "\" sourceTable=\"F\"/>";
    test::writeFile(folder / "olap-grande.xml",
                    "<OlapServer name=\"grande\"><Database name=\"Zentrik\" connection=\"Data Source=x.mdb;\">" +
                        cubes + "</Database></OlapServer>");
}

} // namespace

TEST(CubiWindowLarge, TenThousandCubesFillTheGridAtTheSameCostPerRowAndShowWithinASecond)
{
    constexpr int kCubes = 10000;
    constexpr int kSlice = 1000;
    test::TempDir dir;
    writeLargeCatalog(dir.path(), kCubes);
    time::FakeClock clock;
    RecordingMessages messages;
    frmCubi window(dir.path(), clock, messages);
    window.set_MacchinaOLAP("grande");
    window.set_DatabaseCubi("Zentrik");
    window.Inizializza();
    ASSERT_EQ(window.core().NumeroCubi(), kCubes);

    // Opening the page fills the grid with every cube.
    window.resize(640, 420);
    QElapsedTimer shown;
    shown.start();
    window.Form_ShowMe();
    QCoreApplication::processEvents();
    const qint64 openMs = shown.elapsed();
    ASSERT_EQ(window.flgCubi()->model().rows(), kCubes + 1);
    EXPECT_EQ(window.flgCubi()->model().GetValue(kCubes + 1, 1).toString(), "Cubo10000");
    EXPECT_EQ(window.flgCubi()->model().GetFormat(kCubes + 1, 4), flatui::typeCellFormat::flbBoolean);
    EXPECT_LT(openMs, 1000) << "10,000 cubes shown " << openMs << " ms after the page opened";

    // The first and the last thousand rows of a fill, the best of a few fills each: a row
    // costs the same however many the grid already holds.
    std::vector<qint64> at(kCubes + 1, 0);
    QElapsedTimer timer;
    window.core().onGridRow = [&](int i) { at[static_cast<std::size_t>(i)] = timer.nsecsElapsed(); };
    qint64 first = std::numeric_limits<qint64>::max(), last = first;
    for (int round = 0; round < 5; ++round) {
        timer.start();
        window.AggiornaTabellaCubi();
        first = std::min(first, at[kSlice] - at[1]);
        last = std::min(last, at[kCubes] - at[kCubes - kSlice]);
    }
    window.core().onGridRow = nullptr;
    EXPECT_LE(last, 2 * first) << "first thousand rows " << first << " ns, last thousand " << last << " ns";
    EXPECT_EQ(window.flgCubi()->model().rows(), kCubes + 1);
}
