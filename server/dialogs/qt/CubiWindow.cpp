#include "dialogs/qt/CubiWindow.h"

#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>

namespace zs::dialogs {

namespace {
constexpr double kTwips = 15.0; // twips per pixel
constexpr double kGridDesignWidth = 8775.0;
constexpr int kColumnTwips[] = {186, 85, 85, 85, 135};

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
    CubiNotice(const engine::CubeProgress& model, QWidget* parent) : QWidget(parent), m_model(model)
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
        p.setFont(noticeFont());
        const QFontMetrics fm(p.font());
        p.drawText(QPointF(d.textX / kTwips, d.textY / kTwips + fm.ascent()), QString::fromStdString(d.text));
    }

private:
    const engine::CubeProgress& m_model;
};

frmCubi::frmCubi(std::filesystem::path programFolder, const time::Clock& clock, shell::MessageService& messages,
                 QWidget* parent)
    : QWidget(parent), m_core(std::move(programFolder), clock, messages), m_progress(*this)
{
    setObjectName("frmCubi");
    setWindowTitle("Opzioni preparazione dei cubi");
    setMouseTracking(true);

    auto* layout = new QGridLayout(this);
    auto* header = new QLabel("Preparazione dei cubi", this);
    header->setObjectName("lblIntestazione");
    layout->addWidget(header, 0, 0, 1, 3);
    auto* label1 = new QLabel("Server OLAP", this);
    label1->setObjectName("label1");
    m_server = new QLineEdit(this);
    m_server->setObjectName("txtDsoServer");
    auto* label2 = new QLabel("Database OLAP", this);
    label2->setObjectName("label2");
    m_database = new QLineEdit(this);
    m_database->setObjectName("txtDsoDb");
    layout->addWidget(label1, 1, 0);
    layout->addWidget(m_server, 1, 1, 1, 2);
    layout->addWidget(label2, 2, 0);
    layout->addWidget(m_database, 2, 1, 1, 2);
    auto* label3 = new QLabel("Cubi", this);
    label3->setObjectName("lblModuli");
    layout->addWidget(label3, 3, 0, 1, 3);

    m_grid = new flatui::FlatGridWidget(this);
    m_grid->setObjectName("flgCubi");
    m_grid->setMinimumSize(585, 200);
    layout->addWidget(m_grid, 4, 0, 1, 3);
    auto& g = m_grid->model();
    g.setCols(5);
    g.setRows(1);
    g.setFixedcols(0);
    g.setBorderSize(1);
    g.setAllowEdit(true);
    g.setOutsideColor(0xFFF3EA);

    m_aggiorna = new flatui::FlatButtonWidget(this);
    m_aggiorna->setObjectName("flbAggiorna");
    m_aggiorna->model().setText("Aggiorna");
    m_aggiorna->setFixedSize(120, 32);
    m_salva = new flatui::FlatButtonWidget(this);
    m_salva->setObjectName("flbSalva");
    m_salva->model().setText("Salva");
    m_salva->setFixedSize(120, 32);
    layout->addWidget(m_aggiorna, 5, 1);
    layout->addWidget(m_salva, 5, 2);

    m_notice = new CubiNotice(m_progress, this);
    m_core.setView(this);

    g.events().connect([this](automation::DispId id, std::span<automation::Variant> args) {
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
    QObject::connect(m_server, &QLineEdit::textEdited, [this](const QString& t) { m_core.set_MacchinaOLAP(t.toStdString()); });
    QObject::connect(m_database, &QLineEdit::textEdited, [this](const QString& t) { m_core.set_DatabaseCubi(t.toStdString()); });
    resize(640, 420);
}

frmCubi::~frmCubi()
{
    if (m_busyCursor)
        QApplication::restoreOverrideCursor();
}

void frmCubi::Form_ShowMe() { showWindow(); }

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

void frmCubi::gridSetRows(int rows) { m_grid->model().setRows(rows); }
void frmCubi::gridAddRow(const std::string& line)
{
    auto& g = m_grid->model();
    g.addrow(line);
    // The header row keeps its height however the grid is refilled.
    if (g.rows() == 1)
        g.setRowHeight(1, 55);
}
int frmCubi::gridRows() const { return m_grid->model().rows(); }
void frmCubi::gridSetBooleanFormat(int riga, int colonna)
{
    m_grid->model().SetFormat(flatui::typeCellFormat::flbBoolean, riga, colonna);
}
bool frmCubi::gridGetBool(int riga, int colonna) const { return m_grid->model().GetValue(riga, colonna).toBool(); }
void frmCubi::gridSetBool(int riga, int colonna, bool value) { m_grid->model().SetValue(automation::Variant(value), riga, colonna); }

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

double frmCubi::textHeightTwips(const std::string&) { return QFontMetrics(noticeFont()).height() * kTwips; }

void frmCubi::yield() { QCoreApplication::processEvents(); }

void frmCubi::layoutGrid()
{
    auto& g = m_grid->model();
    const double w = m_grid->width() * kTwips;
    for (int c = 0; c < 5; ++c)
        g.setColWidth(c + 1, static_cast<std::int32_t>(std::lround(w * kColumnTwips[c] / kGridDesignWidth)));
    g.setRowHeight(1, 55);
    g.Refresh();
}

void frmCubi::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    layoutGrid();
}

void frmCubi::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    layoutGrid();
    m_core.AggiornaTabellaCubi();
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
