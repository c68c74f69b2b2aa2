#include "dialogs/qt/CubiWindow.h"

#include "dialogs/qt/DialogButtons.h"
#include "dialogs/qt/DialogLayout.h"

#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "flatui/widgets/QtCanvas.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPainter>
#include <QResizeEvent>
#include <QStringList>

#include <cmath>

namespace zs::dialogs {

namespace {
constexpr double kTwips = 15.0; // twips per pixel
constexpr double kGridDesignWidth = 8775.0;
constexpr int kGridColumns = 5;
constexpr int kColumnTwips[kGridColumns] = {186, 85, 85, 85, 135};
constexpr const char* kGridFontName = "Arial";
constexpr double kGridFontPoints = 9;
constexpr double kGridFontMinPoints = 6;
constexpr double kHeaderMargin = 6; // pixels left free around a header text

/// Picture `index` of the sub-menu image list (27 × 27) the notice shows: an hourglass in the
/// list's colours.
QPixmap noticeImage(int index)
{
    QPixmap pm(27, 27);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor frame = QColor::fromHsv((index * 37) % 360, 150, 140);
    p.setPen(QPen(frame, 2));
    p.drawLine(6, 3, 21, 3);
    p.drawLine(6, 24, 21, 24);
    const QPointF glass[] = {{8, 4}, {19, 4}, {14.5, 13.5}, {19, 23}, {8, 23}, {12.5, 13.5}};
    p.setBrush(QColor(255, 255, 255, 200));
    p.setPen(QPen(frame, 1.5));
    p.drawPolygon(glass, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 170, 60));
    const QPointF sand[] = {{9.5, 22}, {17.5, 22}, {13.5, 16}};
    p.drawPolygon(sand, 3);
    return pm;
}

QFont noticeFont()
{
    QFont f("Arial");
    f.setPointSize(10);
    f.setBold(true);
    return f;
}
} // namespace

/// The progress notice: paints what the CubeProgress model says.
class CubiNotice : public QWidget {
  public:
    CubiNotice(const engine::CubeProgress& model, QWidget* parent)
        : QWidget(parent)
        , m_model(model)
    {
        setObjectName("picAvanzamento");
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override
    {
        const auto& d = m_model.drawing();
        const std::uint32_t c = engine::CubeProgress::kBackColor;
        QPainter p(this);
        p.fillRect(rect(), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
        p.setPen(QPen(Qt::black, d.frameLineWidth));
        p.drawRect(QRectF(0, 0, d.frameRight / kTwips, d.frameBottom / kTwips));
        if (d.icon > 0)
            p.drawPixmap(d.iconX, d.iconY, noticeImage(d.icon));
        p.setFont(noticeFont());
        const QFontMetrics fm(p.font());
        p.drawText(QPointF(d.textX / kTwips, d.textY / kTwips + fm.ascent()), QString::fromStdString(d.text));
    }

  private:
    const engine::CubeProgress& m_model;
};

void setUpCubeGrid(flatui::FlatGridControl& g)
{
    g.setCols(5);
    g.setRows(1);
    g.setFixedcols(0);
    g.setBorderSize(1);
    g.setAllowEdit(true);
    g.setOutsideColor(0xFFF3EA);
}

frmCubi::frmCubi(std::filesystem::path programFolder, const time::Clock& clock, program::MessageService& messages,
                 QWidget* parent)
    : QWidget(parent)
    , m_core(std::move(programFolder), clock, messages)
    , m_progress(*this)
{
    setObjectName("frmCubi");
    setWindowTitle("Opzioni preparazione dei cubi");
    setMouseTracking(true);

    // Design size 640 × 420 pixels; the grid's design width is 8775 twips (585 pixels), the
    // width its column proportions are given for.
    auto* header = new QLabel("Preparazione dei cubi", this);
    header->setStyleSheet("font-weight: bold; font-size: 14px; color: #14386e;");
    tagged(header, "lblIntestazione", "w", {12, 8, 560, 24}); // clear of the corner picture
    auto* corner = new QLabel(this);
    corner->setStyleSheet("background: #14386e;");
    tagged(corner, "imgAngolo", "r", {596, 8, 32, 32});
    tagged(new QLabel("Connessione al server OLAP", this), "label3", "W", {12, 40, 400, 18});
    tagged(new QLabel("Server OLAP", this), "label1", "", {12, 64, 120, 20});
    m_server = new QLineEdit(this);
    tagged(m_server, "txtDsoServer", "W", {140, 62, 300, 22});
    tagged(new QLabel("Database OLAP", this), "label2", "", {12, 92, 120, 20});
    m_database = new QLineEdit(this);
    tagged(m_database, "txtDsoDb", "W", {140, 90, 300, 22});
    tagged(new QLabel("Cubi", this), "lblModuli", "", {12, 120, 200, 20});

    m_grid = new flatui::FlatGridWidget(this);
    tagged(m_grid, "flgCubi", "wh", {12, 144, 585, 220});
    setUpCubeGrid(m_grid->model());

    m_aggiorna = makeFlatButton(this, "flbAggiorna", "Aggiorna", 120, 32);
    tagged(m_aggiorna, "flbAggiorna", "rb", {340, 376, 120, 32});
    m_salva = makeFlatButton(this, "flbSalva", "Salva", 120, 32);
    tagged(m_salva, "flbSalva", "rb", {477, 376, 120, 32});

    m_notice = new CubiNotice(m_progress, this);
    m_core.setView(this);

    m_grid->model().events().connect([this](automation::DispId id, std::span<automation::Variant> args) {
        if (id == flatui::ev::Click && args.size() >= 4)
            m_core.flgCubiClick(args[2].toInt32(), args[3].toInt32());
    });
    m_aggiorna->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            m_core.flbAggiornaClick();
    });
    m_salva->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            m_core.flbSalvaClick();
    });
    QObject::connect(m_server, &QLineEdit::textEdited,
                     [this](const QString& t) { m_core.set_MacchinaOLAP(t.toStdString()); });
    QObject::connect(m_database, &QLineEdit::textEdited,
                     [this](const QString& t) { m_core.set_DatabaseCubi(t.toStdString()); });
    resize(640, 420);
    setMinimumSize(minimumWidthForHeaders(), 320);
    // Load: an empty list, then the design geometry recorded for the layout.
    SaveProperties();
}

int frmCubi::minimumWidthForHeaders()
{
    // The grid grows with the window ("wh"); each header needs its column at the smallest font.
    const QStringList headers = QString(kCubiGridHeader).split('\t');
    const flatui::FontSpec smallest(kGridFontName, kGridFontMinPoints);
    double grid = 0;
    for (int c = 0; c < kGridColumns && c < headers.size(); ++c) {
        const double need = flatui::QtTextMetrics::instance().width(headers[c].toStdString(), smallest) + kHeaderMargin;
        grid = std::max(grid, need * kGridDesignWidth / kTwips / kColumnTwips[c]);
    }
    return 640 - static_cast<int>(kGridDesignWidth / kTwips) + static_cast<int>(std::ceil(grid)) + 1;
}

void frmCubi::SaveProperties()
{
    saveLayoutProperties(*this);
}

frmCubi::~frmCubi()
{
    if (m_busyCursor)
        QApplication::restoreOverrideCursor();
}

void frmCubi::Form_ShowMe()
{
    showWindow();
}

void frmCubi::showWindow()
{
    show();
    raise();
    activateWindow();
}

void frmCubi::set_MacchinaOLAP(const std::string& name)
{
    m_core.set_MacchinaOLAP(name);
    m_server->setText(QString::fromStdString(name));
}

void frmCubi::set_DatabaseCubi(const std::string& name)
{
    m_core.set_DatabaseCubi(name);
    m_database->setText(QString::fromStdString(name));
}

void frmCubi::setMousePointer(int pointer)
{
    if (pointer == 11 && !m_busyCursor) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_busyCursor = true;
    } else if (pointer == 0 && m_busyCursor) {
        QApplication::restoreOverrideCursor();
        m_busyCursor = false;
    }
}

void frmCubi::gridSetRows(int rows)
{
    m_grid->model().setRows(rows);
}
void frmCubi::gridAddRow(const std::string& line)
{
    auto& g = m_grid->model();
    g.addrow(line);
    // The header row keeps its height however the grid is refilled.
    if (g.rows() == 1)
        g.setRowHeight(1, 55);
}
int frmCubi::gridRows() const
{
    return m_grid->model().rows();
}
void frmCubi::gridSetBooleanFormat(int riga, int colonna)
{
    m_grid->model().SetFormat(flatui::typeCellFormat::flbBoolean, riga, colonna);
}
bool frmCubi::gridGetBool(int riga, int colonna) const
{
    return m_grid->model().GetValue(riga, colonna).toBool();
}
void frmCubi::gridSetBool(int riga, int colonna, bool value)
{
    m_grid->model().SetValue(automation::Variant(value), riga, colonna);
}

void frmCubi::gridBeginFill(int rows)
{
    // Thousands of rows: each costs only its cells, and the grid is drawn once at the end.
    m_grid->model().reserveRows(rows);
    m_grid->model().setRedraw(false);
}
void frmCubi::gridEndFill()
{
    m_grid->model().setRedraw(true);
}

void frmCubi::MostraAvanzamento(const std::string& text, int icon)
{
    m_progress.MostraAvanzamento(width() * kTwips, height() * kTwips, text, icon);
    m_notice->setGeometry(static_cast<int>(m_progress.left() / kTwips), static_cast<int>(m_progress.top() / kTwips),
                          static_cast<int>(engine::CubeProgress::kWidth / kTwips),
                          static_cast<int>(engine::CubeProgress::kHeight / kTwips));
    m_notice->setVisible(m_progress.visible());
    m_notice->raise();
    m_notice->update();
}

void frmCubi::NascondiAvanzamento()
{
    m_progress.NascondiAvanzamento();
    m_notice->hide();
}

double frmCubi::textHeightTwips(const std::string&)
{
    return QFontMetrics(noticeFont()).height() * kTwips;
}

void frmCubi::yield()
{
    QCoreApplication::processEvents();
}

void frmCubi::layoutGrid()
{
    auto& g = m_grid->model();
    const double w = m_grid->width() * kTwips;
    std::int32_t widths[kGridColumns];
    for (int c = 0; c < kGridColumns; ++c) {
        widths[c] = static_cast<std::int32_t>(std::lround(w * kColumnTwips[c] / kGridDesignWidth));
        g.setColWidth(c + 1, widths[c]);
    }
    // The narrow choice columns take their headers ("Aggiornamento Dati") only in a small font:
    // the grid's text is the largest size at which every header fits its column.
    const QStringList headers = QString(kCubiGridHeader).split('\t');
    auto font = std::make_shared<flatui::FontSpec>(kGridFontName, kGridFontPoints);
    for (; font->size > kGridFontMinPoints; font->size -= 0.5) {
        bool fits = true;
        for (int c = 0; c < kGridColumns && c < headers.size(); ++c)
            fits = fits && flatui::QtTextMetrics::instance().width(headers[c].toStdString(), *font) + kHeaderMargin <=
                               widths[c];
        if (fits)
            break;
    }
    if (!g.Font() || g.Font()->size != font->size || g.Font()->name != font->name)
        g.setFont(font);
    g.setRowHeight(1, 55);
    g.Refresh();
}

void frmCubi::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    applyLayoutProperties(*this);
    layoutGrid();
}

void frmCubi::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    layoutGrid();
    m_core.AggiornaTabellaCubi();
}

bool frmCubi::event(QEvent* e)
{
    // Inside the main window the window becomes active with its sub-window.
    if (e->type() == QEvent::ParentChange) {
        auto* sub = subWindowOf(*this);
        if (sub && sub != m_subWindow) {
            m_subWindow = sub;
            connect(sub, &QMdiSubWindow::windowStateChanged, this,
                    [this](Qt::WindowStates before, Qt::WindowStates now) {
                        if (!(before & Qt::WindowActive) && (now & Qt::WindowActive))
                            m_core.AggiornaTabellaCubi();
                    });
        }
    }
    return QWidget::event(e);
}

void frmCubi::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        m_core.AggiornaTabellaCubi();
}

void frmCubi::mouseMoveEvent(QMouseEvent* e)
{
    QWidget::mouseMoveEvent(e);
    m_aggiorna->model().Refresh();
    m_salva->model().Refresh();
}

} // namespace zs::dialogs
