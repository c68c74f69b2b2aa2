#include "shell/qt/frmMain.h"

#include "dialogs/qt/DialogButtons.h"
#include "dialogs/qt/DialogLayout.h"
#include "flatui/widgets/FlatWidgets.h"
#include "shell/qt/QtServices.h"
#include "text/ItalianFormat.h"
#include "time/Clock.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace zs::shell {

// The foundation's names used here.
using program::LogNodeId;
using program::TrayState;
namespace {

/// The log tree keeps 100 pixels at the smallest height.
constexpr int kMinimumHeight = 520 - 120;

std::string longDate(const time::DateTime& d)
{
    return std::string(text::dayName(d.weekday())) + " " + std::to_string(d.day) + " " +
           std::string(text::monthName(d.month)) + " " + std::to_string(d.year);
}

} // namespace

frmMain::frmMain(const RunControl::Parts& parts, QWidget* parent)
    : QWidget(parent)
    , m_clock(parts.clock)
{
    setObjectName("frmMain");
    setWindowTitle("Estrazione e elaborazione dei dati");
    setMouseTracking(true);
    setAutoFillBackground(true);
    resize(640, 520);
    auto* title = new QLabel("Estrazione e elaborazione dei dati", this);
    dialogs::tagged(title, "lblModuli", "W", {12, 8, 616, 24});
    title->setStyleSheet("font-weight: bold; font-size: 14px; color: #14386e;");
    dialogs::tagged(new QLabel("Estrazione", this), "Label4", "", {12, 40, 200, 18});

    m_execute = dialogs::makeFlatButton(this, "flbExecuteXML", "Estrai", 140, 30);
    dialogs::tagged(m_execute, "flbExecuteXML", "", {12, 64, 140, 30});
    m_execute->setToolTip("Estrai ed elabora immediatamente i dati");
    m_elabora = dialogs::makeFlatButton(this, "flbElaboraCubi", "Elabora", 140, 30);
    dialogs::tagged(m_elabora, "flbElaboraCubi", "", {12, 100, 140, 30});
    m_elabora->setToolTip("Effettua una rielaborazione dei dati senza estrazione.");
    m_execute->setMouseTracking(true);
    m_elabora->setMouseTracking(true);
    // The run window's texts and boxes keep their margins to the right edge ("w", "r"), so the
    // log tree, the status line and the progress bar end on one line at every size.
    auto* lblExecute = dialogs::tagged(new QLabel("Avvia manualmente il processo di estrazione", this), "lblExecute",
                                       "w", {160, 70, 460, 18});
    auto* lblElabora =
        dialogs::tagged(new QLabel("Esegue manualmente il processo di elaborazione dei dati mutlidimensionali.", this),
                        "lblElabora", "w", {160, 106, 460, 18});
    m_ricarica = new QCheckBox("Ricarica i moduli prima di estrarre", this);
    dialogs::tagged(m_ricarica, "chkRicarica", "", {12, 136, 300, 22});

    m_play = new QToolButton(this);
    m_pause = new QToolButton(this);
    m_stop = new QToolButton(this);
    dialogs::tagged(m_play, "cmdPlay", "", {12, 164, 32, 26});
    dialogs::tagged(m_pause, "cmdPause", "", {48, 164, 32, 26});
    dialogs::tagged(m_stop, "cmdStop", "", {84, 164, 32, 26});
    m_play->setText(QString::fromUtf8("\u25B6"));
    m_pause->setText(QString::fromUtf8("\u275A\u275A"));
    m_stop->setText(QString::fromUtf8("\u25A0"));
    m_play->setToolTip("Riavvia l'estrazione");
    m_pause->setToolTip("Metti in pausa");
    m_stop->setToolTip("Ferma l'estrazione");
    m_stato = new QLabel(this);
    dialogs::tagged(m_stato, "lblStato", "w", {124, 168, 300, 18});
    m_progress = new QProgressBar(this);
    // On the status line, at the right, ending with the log tree: it keeps its top, so the
    // growing log tree never covers it.
    dialogs::tagged(m_progress, "ProgressBar", "r", {430, 168, 198, 18});
    m_progress->setRange(0, 100);
    m_progress->hide();

    m_tree = new LogTreeView(this);
    dialogs::tagged(m_tree, "tvwLog", "wh", {12, 196, 616, 220});
    m_text = new QTextEdit(this);
    m_text->setReadOnly(true);
    dialogs::tagged(m_text, "txtLog", "bw", {12, 422, 616, 60});
    m_date = new QLabel(this);
    m_time = new QLabel(this);
    dialogs::tagged(m_date, "lblDate", "b", {12, 490, 300, 18});
    dialogs::tagged(m_time, "lblTime", "rb", {520, 490, 108, 18});
    // The smallest size at which every text fits and the date keeps clear of the clock; below it
    // the main window scrolls the window.
    const int textsWidth = std::max(lblExecute->sizeHint().width(), lblElabora->sizeHint().width());
    setMinimumSize(std::max(640 - 460 + textsWidth + 4, 640 - 520 + 312 + 8), kMinimumHeight);

    m_run = std::make_unique<RunControl>(parts, *this);
    parts.log.setListener(m_tree);

    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
        m_text->setPlainText(item ? item->text(0) : QString());
    });
    m_execute->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            m_run->executeXmlClicked(m_ricarica->isChecked());
        else if (id == flatui::ev::MouseMove)
            m_elabora->model().Refresh();
    });
    m_elabora->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            m_run->elaboraCubiClicked();
        else if (id == flatui::ev::MouseMove)
            m_execute->model().Refresh();
    });
    connect(m_play, &QToolButton::clicked, this, [this] { m_run->cmdPlay(); });
    connect(m_pause, &QToolButton::clicked, this, [this] { m_run->cmdPause(); });
    connect(m_stop, &QToolButton::clicked, this, [this] { m_run->cmdStop(); });

    // Load: date and time, status, layout, buttons.
    refreshClock();
    auto* tmrIcon = new QTimer(this);
    tmrIcon->setObjectName("tmrIcon");
    connect(tmrIcon, &QTimer::timeout, this, &frmMain::refreshClock);
    tmrIcon->start(250);
    setStatusText("");
    dialogs::saveLayoutProperties(*this);
    setControlButtons(false, false, false);
}

frmMain::~frmMain() = default;

LogTreeView& frmMain::tvwLog()
{
    m_tree->flush();
    return *m_tree;
}

void frmMain::refreshClock()
{
    const auto now = m_clock.now();
    m_date->setText(QString::fromStdString(longDate(now)));
    m_time->setText(QString::fromStdString(text::formatTime(now)));
}

void frmMain::Form_ShowMe()
{
    show();
    raise();
    m_execute->setFocus();
    m_progress->hide();
}

void frmMain::setProgressVisible(bool visible)
{
    m_progress->setVisible(visible);
}
void frmMain::setProgress(int percent)
{
    m_progress->setValue(percent);
}
void frmMain::setStatusText(const std::string& text)
{
    m_stato->setText(QString::fromStdString(text));
}

void frmMain::setRunButtonsEnabled(bool enabled)
{
    m_execute->model().setEnabled(enabled);
    m_elabora->model().setEnabled(enabled);
}

void frmMain::setControlButtons(bool play, bool pause, bool stop)
{
    m_play->setEnabled(play);
    m_pause->setEnabled(pause);
    m_stop->setEnabled(stop);
}

void frmMain::setCursor(Cursor cursor)
{
    if (cursor == Cursor::Default)
        unsetCursor();
    else
        QWidget::setCursor(cursor == Cursor::Hourglass ? Qt::WaitCursor : Qt::BusyCursor);
}

void frmMain::setTrayTip(TrayState state)
{
    if (onTrayTip)
        onTrayTip(state);
}

void frmMain::setExpanded(LogNodeId id, bool expanded)
{
    m_tree->setNodeExpanded(id, expanded);
}
void frmMain::ensureVisible(LogNodeId id)
{
    m_tree->ensureNodeVisible(id);
}

void frmMain::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    dialogs::applyLayoutProperties(*this);
}

void frmMain::mouseMoveEvent(QMouseEvent* e)
{
    m_execute->model().Refresh();
    m_elabora->model().Refresh();
    QWidget::mouseMoveEvent(e);
}

} // namespace zs::shell
