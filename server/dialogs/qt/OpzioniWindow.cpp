#include "dialogs/qt/OpzioniWindow.h"

#include "dialogs/qt/JobViewerWindow.h"

#include "dialogs/core/DialogPrompts.h"
#include "shell/SettingsStore.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zs::dialogs {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
QColor colour(const shell::Rgb& c) { return QColor(c.r, c.g, c.b); }

/// Runs a password check when the box loses the focus or Enter is pressed in it.
class PasswordWatcher : public QObject {
public:
    PasswordWatcher(QObject* parent, std::function<void()> check) : QObject(parent), m_check(std::move(check)) {}
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::FocusOut)
            m_check();
        else if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                m_check();
        }
        return QObject::eventFilter(o, e);
    }

private:
    std::function<void()> m_check;
};

} // namespace

/// picStat: paints the chart the core laid out.
class StatisticsSurface : public QWidget {
public:
    explicit StatisticsSurface(QWidget* parent) : QWidget(parent) { setObjectName("picStat"); }
    ChartLayout chart;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const int ascent = fontMetrics().ascent();
        for (const ChartBar& b : chart.bars) {
            p.setPen(Qt::black);
            p.drawText(10, b.y + ascent, q(b.name));
            p.fillRect(QRect(QPoint(b.barLeft, b.y), QPoint(b.barRight, b.y + 10)), colour(b.colour));
            p.drawText(b.labelX, b.y + ascent, q(b.label));
        }
    }
};

frmOpzioni::frmOpzioni(OpzioniServices services, QWidget* parent)
    : QWidget(parent), m_services(services), m_core(std::move(services), *this)
{
    setObjectName("frmOpzioni");
    setWindowTitle("Opzioni");
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("FlatTab");
    m_tabs->addTab(buildTreePage(), "Estrazione dati");
    m_tabs->addTab(buildDbPage(), "Creazione database");
    m_tabs->addTab(buildBusPage(), "Bus & Task");
    m_tabs->addTab(buildStatPage(), "Statistiche");
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int i) {
        if (i == 3)
            DisegnaStatistiche();
    });
    auto* confirm = new QPushButton("Conferma", this);
    confirm->setObjectName("flbConferma"); // does nothing, as it always has
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(confirm, 0, Qt::AlignRight);
    resize(640, 480);
    if (!m_services.creaDatabase)
        m_core.setCreaDatabase(creationNotAvailable([this](const std::string& t) { OutputResponseDB(t); }));
}

frmOpzioni::~frmOpzioni() = default;

QWidget* frmOpzioni::buildTreePage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab0");
    auto* l = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    auto* lbl = new QLabel("File elaborazione dati:", page);
    lbl->setObjectName("lblFileXML");
    m_txtLoadingXml = new QLineEdit(page);
    m_txtLoadingXml->setObjectName("txtLoadingXml");
    auto* browse = new QPushButton("...", page);
    browse->setObjectName("cmbLoadingXML");
    row->addWidget(lbl);
    row->addWidget(m_txtLoadingXml, 1);
    row->addWidget(browse);
    l->addLayout(row);

    m_tree = new QTreeWidget(page);
    m_tree->setObjectName("tvXML");
    m_tree->setHeaderHidden(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    l->addWidget(m_tree, 1);

    auto* boxes = new QHBoxLayout;
    auto box = [&](QCheckBox*& b, const char* name, const char* caption) {
        b = new QCheckBox(caption, page);
        b->setObjectName(name);
        boxes->addWidget(b);
    };
    box(m_chkRicarica, "chkRicarica", "Mantieni le selezioni");
    auto* reload = new QPushButton("Carica Moduli", page);
    reload->setObjectName("flbRicarica");
    boxes->addWidget(reload);
    box(m_chkSelectAll, "chkSelectAll", "Seleziona tutto");
    box(m_chkUnselectAll, "chkUnselectAll", "Deseleziona tutto");
    box(m_chkSelectHandly, "chkSelectHandly", "Selezione manuale");
    l->addLayout(boxes);

    connect(browse, &QPushButton::clicked, this, [this] { m_core.chooseLoadingXml(); });
    connect(reload, &QPushButton::clicked, this, [this] { RicaricaModuli(m_chkRicarica->isChecked()); });
    // `clicked` comes from the operator only, so values set from code start no handler.
    connect(m_chkSelectAll, &QCheckBox::clicked, this, [this](bool on) { m_core.selectAllClicked(on); });
    connect(m_chkUnselectAll, &QCheckBox::clicked, this, [this](bool on) { m_core.unselectAllClicked(on); });
    connect(m_chkSelectHandly, &QCheckBox::clicked, this, [this](bool on) { m_core.selectHandlyClicked(on); });
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        if (QTreeWidgetItem* parent = item->parent())
            m_core.nodeClick({static_cast<std::size_t>(m_tree->indexOfTopLevelItem(parent)),
                              static_cast<std::size_t>(parent->indexOfChild(item))});
        else
            m_core.nodeClick({static_cast<std::size_t>(m_tree->indexOfTopLevelItem(item)), std::nullopt});
        item->setSelected(false);
    });
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, &frmOpzioni::showMenu);
    return page;
}

void frmOpzioni::showMenu(const QPoint& pos)
{
    QTreeWidgetItem* item = m_tree->itemAt(pos);
    if (!item || item->parent())
        return; // a right click on a job opens no menu
    const auto target = static_cast<std::size_t>(m_tree->indexOfTopLevelItem(item));
    QMenu menu("SelezioneModuli", this);
    menu.setObjectName("mnuSelect");
    auto add = [&](const char* caption, RangeCommand c) {
        menu.addAction(caption, this, [this, target, c] { m_core.rangeCommand(target, c); });
    };
    add("Attiva solo questo", RangeCommand::SelectOnly);
    menu.addSeparator();
    add("Disattiva i precedenti", RangeCommand::UnselectBefore);
    add("Attiva i precedenti", RangeCommand::SelectBefore);
    menu.addSeparator();
    add("Disattiva i successivi", RangeCommand::UnselectAfter);
    add("Attiva i successivi", RangeCommand::SelectAfter);
    menu.addSeparator();
    menu.addAction("Proprietà", this, [this, target] {
        const xml::Element step = m_core.stepElement(target);
        if (step.isNull())
            return;
        frmJob job(this);
        job.ShowMe(step);
    });
    menu.exec(m_tree->viewport()->mapToGlobal(pos));
}

QWidget* frmOpzioni::buildDbPage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab1");
    auto* l = new QVBoxLayout(page);
    auto* row = new QHBoxLayout;
    auto* lbl = new QLabel("File creazione database:", page);
    lbl->setObjectName("lblCreaDB");
    m_txtCreationXml = new QLineEdit(page);
    m_txtCreationXml->setObjectName("txtCreationXml");
    auto* browse = new QPushButton("...", page);
    browse->setObjectName("cmbCreationXML");
    auto* build = new QPushButton("Crea DB", page);
    build->setObjectName("flbBuildDb");
    row->addWidget(lbl);
    row->addWidget(m_txtCreationXml, 1);
    row->addWidget(browse);
    row->addWidget(build);
    l->addLayout(row);
    m_txtBuildDBResponse = new QPlainTextEdit(page);
    m_txtBuildDBResponse->setObjectName("txtBuildDBResponse");
    m_txtBuildDBResponse->setReadOnly(true);
    l->addWidget(m_txtBuildDBResponse, 1);
    connect(browse, &QPushButton::clicked, this, [this] { m_core.chooseCreationXml(); });
    connect(build, &QPushButton::clicked, this, [this] { m_core.buildDatabase(); });
    return page;
}

QWidget* frmOpzioni::buildBusPage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab2");
    auto* l = new QFormLayout(page);
    l->addRow(new QLabel("Opzioni Bus and Task", page));
    auto box = [&](QLineEdit*& e, const char* name, const char* label, bool masked = false) {
        e = new QLineEdit(page);
        e->setObjectName(name);
        if (masked)
            e->setEchoMode(QLineEdit::Password);
        l->addRow(label, e);
    };
    box(m_eMachine, "eMachine", "Computer");
    box(m_eSystemUserId, "eSystemUserId", "System UserId");
    box(m_eSystemPassword, "eSystemPassword", "System Password", true);
    box(m_eOperatorId, "eOperatorId", "Operator UserId");
    box(m_eOperatorPassword, "eOperatorPassword", "Operator Password", true);
    box(m_eCoDiv, "eCoDiv", "Co/Div");
    m_eSystemPassword->installEventFilter(
        new PasswordWatcher(m_eSystemPassword, [this] { passwordLeft(PasswordKind::System); }));
    m_eOperatorPassword->installEventFilter(
        new PasswordWatcher(m_eOperatorPassword, [this] { passwordLeft(PasswordKind::Operator); }));
    return page;
}

void frmOpzioni::passwordLeft(PasswordKind kind)
{
    if (m_checkingPassword)
        return; // the prompt takes the focus away while it asks
    m_checkingPassword = true;
    QLineEdit* box = kind == PasswordKind::System ? m_eSystemPassword : m_eOperatorPassword;
    const std::string text = ChangeBusAndTaskPassword(m_services.store, kind, box->text().toStdString(),
                                                      m_services.prompts, m_services.messages);
    box->setText(q(text));
    m_checkingPassword = false;
}

QWidget* frmOpzioni::buildStatPage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab3");
    auto* l = new QVBoxLayout(page);
    const char* captions[] = {"visualizza i tempi dei jobs nell'ultima estrazione",
                              "visualizza i tempi medi per ogni job", "visualizza il n. di estrazioni per job"};
    for (int i = 0; i < 3; ++i) {
        m_optStatistiche[i] = new QRadioButton(captions[i], page);
        m_optStatistiche[i]->setObjectName(QString("optStatistiche_%1").arg(i));
        l->addWidget(m_optStatistiche[i]);
        connect(m_optStatistiche[i], &QRadioButton::clicked, this, [this] {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const bool ok = DisegnaStatistiche();
            QApplication::restoreOverrideCursor();
            if (!ok)
                m_services.messages.show("Per ottenere le statistiche occorre prima effettuare almeno una estrazione.",
                                         shell::MessageIcon::Information, "Attenzione.");
        });
    }
    m_optStatistiche[0]->setChecked(true);
    m_picStatContainer = new QScrollArea(page);
    m_picStatContainer->setObjectName("picStatContainer");
    m_picStat = new StatisticsSurface(m_picStatContainer);
    m_picStatContainer->setWidget(m_picStat);
    m_picStatContainer->setWidgetResizable(false);
    l->addWidget(m_picStatContainer, 1);
    return page;
}

StatMeasure frmOpzioni::measure() const
{
    for (int i = 0; i < 3; ++i)
        if (m_optStatistiche[i]->isChecked())
            return static_cast<StatMeasure>(i);
    return StatMeasure::None;
}

bool frmOpzioni::DisegnaStatistiche()
{
    m_chart = {};
    const auto doc = LoadStatistics(m_services.store.programFolder(), m_services.messages);
    if (doc) {
        const auto rows = ChartRows(*doc, m_core.tree(), measure());
        const QFontMetrics fm = m_picStat->fontMetrics();
        const int width = std::max(200, m_picStatContainer->viewport()->width());
        m_chart = LayoutChart(rows, measure(), width, m_picStatContainer->viewport()->height(),
                              [&](const std::string& s) { return fm.horizontalAdvance(q(s)); });
        m_picStat->resize(width, m_chart.surfaceHeight);
    } else {
        m_picStat->resize(m_picStatContainer->viewport()->width(), 20);
    }
    m_picStat->chart = m_chart;
    m_picStat->update();
    return doc.has_value();
}

void frmOpzioni::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && !isActiveWindow() && m_services.store.hasDocument()) {
        std::string error;
        if (!m_services.store.SalvaImpostazioni(&error))
            m_services.messages.show("Impossibile salvare le impostazioni: " + error, shell::MessageIcon::Exclamation,
                                     "Attenzione.");
    }
}

OpzioniCore::InitOutcome frmOpzioni::InitializeSettings() { return m_core.InitializeSettings(); }

void frmOpzioni::Form_ShowMe()
{
    show();
    raise();
    activateWindow();
    if (m_tabs->currentIndex() == 3)
        DisegnaStatistiche();
}

void frmOpzioni::RicaricaModuli(bool keepTicks) { m_core.RicaricaModuli(keepTicks); }

void frmOpzioni::BusAndTask(const std::string& task, const std::string& parameters, bool& ok)
{
    m_core.BusAndTask(task, parameters, ok);
}

void frmOpzioni::OutputResponseDB(const std::string& text)
{
    QTextCursor c = m_txtBuildDBResponse->textCursor();
    c.movePosition(QTextCursor::End);
    c.insertText(q(text));
    m_txtBuildDBResponse->setTextCursor(c);
}

void frmOpzioni::set_Computer(const std::string& t) { m_eMachine->setText(q(t)); }
void frmOpzioni::set_SystemUserID(const std::string& t) { m_eSystemUserId->setText(q(t)); }
void frmOpzioni::set_SystemPassword(const std::string& t) { m_eSystemPassword->setText(q(t)); }
void frmOpzioni::set_OperatorUserID(const std::string& t) { m_eOperatorId->setText(q(t)); }
void frmOpzioni::set_OperatorPassword(const std::string& t) { m_eOperatorPassword->setText(q(t)); }
void frmOpzioni::set_CoDiv(const std::string& t) { m_eCoDiv->setText(q(t)); }

void frmOpzioni::treeChanged()
{
    const auto& steps = m_core.tree().steps();
    const bool rebuild = m_tree->topLevelItemCount() != static_cast<int>(steps.size());
    if (rebuild)
        m_tree->clear();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        QTreeWidgetItem* item = rebuild ? new QTreeWidgetItem(m_tree) : m_tree->topLevelItem(static_cast<int>(i));
        const auto& s = steps[i];
        if (!rebuild && item->childCount() != static_cast<int>(s.children.size())) {
            qDeleteAll(item->takeChildren());
        }
        item->setText(0, q(s.text));
        item->setData(0, Qt::UserRole, s.image);
        item->setForeground(0, colour(s.colour));
        item->setCheckState(0, s.image == 1 ? Qt::Checked : s.image == 3 ? Qt::PartiallyChecked : Qt::Unchecked);
        for (std::size_t j = 0; j < s.children.size(); ++j) {
            QTreeWidgetItem* c = static_cast<int>(j) < item->childCount() ? item->child(static_cast<int>(j))
                                                                          : new QTreeWidgetItem(item);
            c->setText(0, q(s.children[j].text));
            c->setData(0, Qt::UserRole, s.children[j].image);
            c->setForeground(0, colour(s.children[j].colour));
            c->setCheckState(0, s.children[j].image == 1 ? Qt::Checked : Qt::Unchecked);
        }
    }
}

void frmOpzioni::setSelectionBoxes(const SelectionBoxes& b)
{
    m_chkSelectAll->setChecked(b.selectAll);
    m_chkUnselectAll->setChecked(b.unselectAll);
    m_chkSelectHandly->setChecked(b.selectHandly);
}

void frmOpzioni::setLoadingXml(const std::string& t) { m_txtLoadingXml->setText(q(t)); }
void frmOpzioni::setCreationXml(const std::string& t) { m_txtCreationXml->setText(q(t)); }
void frmOpzioni::clearBuildResponse()
{
    m_txtBuildDBResponse->clear();
    m_txtBuildDBResponse->repaint();
}

void frmOpzioni::setBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace zs::dialogs
