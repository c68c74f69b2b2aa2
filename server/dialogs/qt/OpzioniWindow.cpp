#include "dialogs/qt/OpzioniWindow.h"

#include "dialogs/qt/DialogButtons.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/JobViewerWindow.h"
#include "dialogs/qt/PasswordEcho.h"

#include "dialogs/core/DialogPrompts.h"
#include "flatui/core/Tavolex.h"
#include "flatui/widgets/FlatWidgets.h"
#include "program/SettingsStore.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

namespace zs::dialogs {

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}
QColor colour(const program::Rgb& c)
{
    return QColor(c.r, c.g, c.b);
}

/// The pages' background, 14463864 as the window system writes it (red in the low byte).
constexpr std::uint32_t kPageColour = 14463864;
// The window is designed at 640 × 480; a page is 616 × 376.
constexpr int kPages = 4;
const char* const kTabCaptions[kPages] = {"Estrazione dati", "Creazione database", "Bus & Task", "Statistiche"};

/// The band behind the tabs (window-system colour value, red in the low byte: navy 16, 32, 64).
constexpr std::uint32_t kTabBand = 0x402010;
/// The widest tab picture, and the narrowest the strip shrinks it to on a small window.
constexpr int kTabWidth = 156;
constexpr int kTabMinWidth = 110;
constexpr int kTabHeight = 36;

/// A dark tab `w` pixels wide: a rounded top with a light edge, transparent outside its shape.
flatui::PictureRef tabFace(int w)
{
    auto p = std::make_shared<flatui::Picture>(w, kTabHeight, 0x00000000u);
    for (int y = 0; y < kTabHeight; ++y)
        for (int x = 0; x < w; ++x) {
            const int inset = y < 6 ? 6 - y : 0;
            if (x < inset + 2 || x > w - 3 - inset)
                continue;
            const bool edge = y == 0 || x == inset + 2 || x == w - 3 - inset;
            const auto shade = static_cast<std::uint32_t>(std::max(0, 10 - y / 4));
            p->set(x, y, edge ? 0xFF6484B4u : 0xFF000000u | (8 + shade) << 16 | (22 + shade) << 8 | (52 + 2 * shade));
        }
    return p;
}

/// Runs a password check when the box loses the focus or Enter is pressed in it.
class PasswordWatcher : public QObject {
  public:
    PasswordWatcher(QObject* parent, std::function<void()> check)
        : QObject(parent)
        , m_check(std::move(check))
    {}
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

/// Runs `action` for a press of `key` on the watched widget, which then does nothing more with it.
class KeyWatcher : public QObject {
  public:
    KeyWatcher(QObject* parent, int key, std::function<void()> action)
        : QObject(parent)
        , m_key(key)
        , m_action(std::move(action))
    {}
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == m_key &&
            !static_cast<QKeyEvent*>(e)->isAutoRepeat()) {
            m_action();
            return true;
        }
        return QObject::eventFilter(o, e);
    }

  private:
    int m_key;
    std::function<void()> m_action;
};

} // namespace

/// picStat: paints the chart the core laid out.
class StatisticsSurface : public QWidget {
  public:
    explicit StatisticsSurface(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName("picStat");
    }
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
    : QWidget(parent)
    , m_services(services)
    , m_core(std::move(services), *this)
{
    setObjectName("frmOpzioni");
    setWindowTitle("Opzioni");
    setMouseTracking(true);
    resize(640, 480);
    // The buttons and boxes beside fixed-width captions move in proportion: below 620 pixels
    // "Carica Moduli" would cover "Mantieni le selezioni" and "Crea DB" leave its page; below
    // 440 the build output would run past the page's bottom.
    setMinimumSize(620, 440);

    // The tab strip first, so the pages lie over its body.
    m_tab = tagged(new flatui::FlatTabWidget(this), "FlatTab", "Wh", {8, 8, 624, 424});
    auto& t = m_tab->model();
    // White captions on dark tabs over a dark band: an unselected tab, drawn half transparent
    // with its caption faded toward the band, still reads at 5:1.
    t.setBackColor(kTabBand);
    t.setBackColorTab(0xFFFFFF);
    t.setBorderColorTab(0xA05030);
    t.setForeColor(0xFFFFFF);
    t.setForeColorSelected(0x00FFFF);
    t.setTabs(kPages);
    for (int k = 1; k <= kPages; ++k) {
        t.setTabId(k);
        t.setTabCaption(kTabCaptions[k - 1]);
    }
    t.Refresh();

    QWidget* pages[kPages] = {buildTreePage(), buildDbPage(), buildBusPage(), buildStatPage()};
    QPalette background = palette();
    background.setColor(QPalette::Window,
                        QColor(kPageColour & 0xFF, (kPageColour >> 8) & 0xFF, (kPageColour >> 16) & 0xFF));
    for (int k = 0; k < kPages; ++k) {
        m_picTab[k] = pages[k];
        pages[k]->setParent(this);
        // Every page at the first page's place, below the tabs.
        tagged(pages[k], pages[k]->objectName().toUtf8().constData(), "Wh", {12, 48, 616, 376});
        pages[k]->setAutoFillBackground(true);
        pages[k]->setPalette(background);
    }

    m_flbConferma = tagged(makeFlatButton(this, "flbConferma", "Conferma"), "flbConferma", "rb", {520, 442, 112, 30});

    t.events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            FlatTab_Click();
    });
    // flbConferma's Click does nothing, as it always has. A mouse move over one flat button
    // takes the hover look off the other two.
    flatui::FlatButtonWidget* buttons[] = {m_flbRicarica, m_flbBuildDb, m_flbConferma};
    for (auto* b : buttons)
        b->model().events().connect([this, b](automation::DispId id, std::span<automation::Variant>) {
            if (id != flatui::ev::MouseMove)
                return;
            for (auto* other : {m_flbRicarica, m_flbBuildDb, m_flbConferma})
                if (other != b)
                    other->model().Refresh();
        });

    if (!m_services.creaDatabase)
        m_core.setCreaDatabase(creationNotAvailable([this](const std::string& t) { OutputResponseDB(t); }));
    fitTabs();
    FlatTab_Click();
    SaveProperties();
}

frmOpzioni::~frmOpzioni() = default;

QWidget* frmOpzioni::buildTreePage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab0");
    tagged(new QLabel("File elaborazione dati:", page), "lblFileXML", "", {8, 10, 140, 20});
    m_txtLoadingXml = tagged(new QLineEdit(page), "txtLoadingXml", "W", {150, 8, 420, 24});
    auto* browse = tagged(new QPushButton("...", page), "cmbLoadingXML", "L", {576, 8, 32, 24});

    m_tree = tagged(new QTreeWidget(page), "tvXML", "Wh", {8, 40, 600, 278});
    m_tree->setHeaderHidden(true);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);

    m_chkRicarica = tagged(new QCheckBox("Mantieni le selezioni", page), "chkRicarica", "b", {8, 326, 160, 22});
    m_flbRicarica =
        tagged(makeFlatButton(page, "flbRicarica", "Carica Moduli", 112, 26), "flbRicarica", "Lb", {176, 324, 112, 26});
    m_chkSelectAll = tagged(new QCheckBox("Seleziona tutto", page), "chkSelectAll", "Lb", {8, 352, 190, 22});
    m_chkUnselectAll = tagged(new QCheckBox("Deseleziona tutto", page), "chkUnselectAll", "Lb", {208, 352, 190, 22});
    m_chkSelectHandly = tagged(new QCheckBox("Selezione manuale", page), "chkSelectHandly", "Lb", {408, 352, 190, 22});

    m_flbRicarica->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            RicaricaModuli(m_chkRicarica->isChecked());
    });
    connect(browse, &QPushButton::clicked, this, [this] { m_core.chooseLoadingXml(); });
    // `clicked` comes from the operator only, so values set from code start no handler.
    connect(m_chkSelectAll, &QCheckBox::clicked, this, [this](bool on) { m_core.selectAllClicked(on); });
    connect(m_chkUnselectAll, &QCheckBox::clicked, this, [this](bool on) { m_core.unselectAllClicked(on); });
    connect(m_chkSelectHandly, &QCheckBox::clicked, this, [this](bool on) { m_core.selectHandlyClicked(on); });
    connect(m_tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        toggleNode(item);
        // A clicked node is deselected: nothing stays highlighted.
        m_tree->clearSelection();
        m_tree->setCurrentItem(nullptr);
    });
    // From the keyboard, Space toggles the node the arrows stand on, which stays current.
    m_tree->installEventFilter(new KeyWatcher(m_tree, Qt::Key_Space, [this] {
        if (QTreeWidgetItem* item = m_tree->currentItem())
            toggleNode(item);
    }));
    connect(m_tree, &QTreeWidget::customContextMenuRequested, this, &frmOpzioni::showMenu);
    return page;
}

void frmOpzioni::toggleNode(QTreeWidgetItem* item)
{
    if (QTreeWidgetItem* parent = item->parent())
        m_core.nodeClick({static_cast<std::size_t>(m_tree->indexOfTopLevelItem(parent)),
                          static_cast<std::size_t>(parent->indexOfChild(item))});
    else
        m_core.nodeClick({static_cast<std::size_t>(m_tree->indexOfTopLevelItem(item)), std::nullopt});
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
    tagged(new QLabel("File creazione database:", page), "lblCreaDB", "", {8, 10, 150, 20});
    m_txtCreationXml = tagged(new QLineEdit(page), "txtCreationXml", "W", {160, 8, 300, 24});
    auto* browse = tagged(new QPushButton("...", page), "cmbCreationXML", "L", {466, 8, 32, 24});
    m_flbBuildDb = tagged(makeFlatButton(page, "flbBuildDb", "Crea DB", 104, 28), "flbBuildDb", "L", {504, 6, 104, 28});
    m_txtBuildDBResponse = tagged(new QPlainTextEdit(page), "txtBuildDBResponse", "WHL", {8, 40, 600, 322});
    m_txtBuildDBResponse->setReadOnly(true);
    connect(browse, &QPushButton::clicked, this, [this] { m_core.chooseCreationXml(); });
    m_flbBuildDb->model().events().connect([this](automation::DispId id, std::span<automation::Variant>) {
        if (id == flatui::ev::Click)
            m_core.buildDatabase();
    });
    return page;
}

QWidget* frmOpzioni::buildBusPage()
{
    auto* page = new QWidget;
    page->setObjectName("picTab2");
    tagged(new QLabel("Opzioni Bus and Task", page), "lblBusAndTask", "", {8, 10, 300, 20});
    int row = 0;
    auto box = [&](QLineEdit*& e, const char* name, const char* label, bool masked = false) {
        const int y = 40 + 32 * row++;
        tagged(new QLabel(label, page), (std::string("lbl_") + name).c_str(), "", {8, y + 2, 140, 20});
        e = tagged(new QLineEdit(page), name, "W", {150, y, 300, 24});
        if (masked)
            maskWithStars(*e);
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
    const char* captions[] = {"visualizza i tempi dei jobs nell'ultima estrazione",
                              "visualizza i tempi medi per ogni job", "visualizza il n. di estrazioni per job"};
    for (int i = 0; i < 3; ++i) {
        m_optStatistiche[i] = tagged(new QRadioButton(captions[i], page), "", "W", {8, 8 + 24 * i, 500, 22});
        m_optStatistiche[i]->setObjectName(QString("optStatistiche_%1").arg(i));
        connect(m_optStatistiche[i], &QRadioButton::clicked, this, [this] {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            const bool ok = DisegnaStatistiche();
            QApplication::restoreOverrideCursor();
            if (!ok)
                m_services.messages.show("Per ottenere le statistiche occorre prima effettuare almeno una estrazione.",
                                         program::MessageIcon::Information, "Attenzione.");
        });
    }
    m_optStatistiche[0]->setChecked(true);
    m_picStatContainer = tagged(new QScrollArea(page), "picStatContainer", "Wh", {8, 84, 600, 282});
    m_picStat = new StatisticsSurface(m_picStatContainer);
    m_picStatContainer->setWidget(m_picStat);
    m_picStatContainer->setWidgetResizable(false);
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

bool frmOpzioni::event(QEvent* e)
{
    // Inside the main window the dialog is active with its sub-window: switching to another
    // window of the main window deactivates it although the top-level window stays active.
    if (e->type() == QEvent::ParentChange) {
        auto* sub = subWindowOf(*this);
        if (sub && sub != m_subWindow) {
            m_subWindow = sub;
            connect(sub, &QMdiSubWindow::windowStateChanged, this, [this] { activationChanged(); });
        }
    }
    return QWidget::event(e);
}

void frmOpzioni::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange)
        activationChanged();
}

bool frmOpzioni::isActiveDialog() const
{
    if (!isActiveWindow())
        return false;
    return !m_subWindow || (m_subWindow->windowState() & Qt::WindowActive);
}

void frmOpzioni::activationChanged()
{
    const bool active = isActiveDialog();
    const bool deactivated = m_wasActive && !active;
    m_wasActive = active;
    if (!deactivated)
        return;
    // The save may let window events run: it runs after the activation change has been
    // delivered, never while Qt is still switching windows.
    QTimer::singleShot(0, this, [this] {
        if (!m_services.store.hasDocument())
            return;
        std::string error;
        if (!m_services.store.SalvaImpostazioni(&error))
            m_services.messages.show("Impossibile salvare le impostazioni: " + error, program::MessageIcon::Exclamation,
                                     "Attenzione.");
    });
}

OpzioniCore::InitOutcome frmOpzioni::InitializeSettings()
{
    return m_core.InitializeSettings();
}

void frmOpzioni::Form_ShowMe()
{
    show();
    raise();
    activateWindow();
    FlatTab_Click();
}

void frmOpzioni::FlatTab_Click()
{
    const int selected = m_tab->model().IndexSelectedTab();
    for (int k = 1; k <= kPages; ++k)
        m_picTab[k - 1]->setVisible(k == selected);
    if (selected == 4)
        DisegnaStatistiche(); // without data the chart stays empty; no message here
}

void frmOpzioni::SaveProperties()
{
    saveLayoutProperties(*this);
}

void frmOpzioni::fitTabs()
{
    // The tabs hang from the strip's right edge: on a narrow window they take narrower pictures
    // so the first tab never runs off the left edge.
    const int room = static_cast<int>(m_tab->width() / (0.85 * kPages + 0.15));
    const int w = std::clamp(room, kTabMinWidth, kTabWidth);
    auto& t = m_tab->model();
    // The strip's built-in picture is as wide as the widest dark one but light blue: only a
    // picture of our own, still in place, may be kept.
    if (m_tabFace && t.Picture() == m_tabFace && m_tabFace->width == w)
        return;
    m_tabFace = tabFace(w);
    t.setPicture(m_tabFace);
    t.Refresh();
}

void frmOpzioni::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    applyLayoutProperties(*this);
    fitTabs();
    if (m_tab->model().IndexSelectedTab() == 4)
        DisegnaStatistiche();
}

void frmOpzioni::mouseMoveEvent(QMouseEvent* e)
{
    QWidget::mouseMoveEvent(e);
    m_flbRicarica->model().Refresh();
    m_flbBuildDb->model().Refresh();
    m_flbConferma->model().Refresh();
}

void frmOpzioni::RicaricaModuli(bool keepTicks)
{
    m_core.RicaricaModuli(keepTicks);
}

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

void frmOpzioni::set_Computer(const std::string& t)
{
    m_eMachine->setText(q(t));
}
void frmOpzioni::set_SystemUserID(const std::string& t)
{
    m_eSystemUserId->setText(q(t));
}
void frmOpzioni::set_SystemPassword(const std::string& t)
{
    m_eSystemPassword->setText(q(t));
}
void frmOpzioni::set_OperatorUserID(const std::string& t)
{
    m_eOperatorId->setText(q(t));
}
void frmOpzioni::set_OperatorPassword(const std::string& t)
{
    m_eOperatorPassword->setText(q(t));
}
void frmOpzioni::set_CoDiv(const std::string& t)
{
    m_eCoDiv->setText(q(t));
}

void frmOpzioni::treeRefilled()
{
    m_tree->clear();
    treeChanged();
}

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
        // The marks are the dialog's own: the box shows them, the click and Space change them.
        item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
        item->setText(0, q(s.text));
        item->setData(0, Qt::UserRole, s.image);
        item->setForeground(0, colour(s.colour));
        item->setCheckState(0, s.image == 1 ? Qt::Checked : s.image == 3 ? Qt::PartiallyChecked : Qt::Unchecked);
        for (std::size_t j = 0; j < s.children.size(); ++j) {
            QTreeWidgetItem* c =
                static_cast<int>(j) < item->childCount() ? item->child(static_cast<int>(j)) : new QTreeWidgetItem(item);
            c->setFlags(c->flags() & ~Qt::ItemIsUserCheckable);
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

void frmOpzioni::setLoadingXml(const std::string& t)
{
    m_txtLoadingXml->setText(q(t));
}
void frmOpzioni::setCreationXml(const std::string& t)
{
    m_txtCreationXml->setText(q(t));
}
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
