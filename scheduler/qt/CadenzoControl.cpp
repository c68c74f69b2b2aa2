#include "CadenzoControl.h"

#include "QtPorts.h"
#include "Widgets.h"
#include "frmOperazione.h"

#include "scheduler/Layout.h"
#include "scheduler/Operazione.h"

#include "automation/PropertyBag.h"
#include "time/Clock.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QResizeEvent>
#include <QToolButton>
#include <QTreeWidget>

#include <cmath>
#include <dlfcn.h>
#include <filesystem>

namespace zs::cadenzo {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kIconSize = 24;
constexpr int kListTop = 22;
constexpr int kListHeight = 150;
/// The automation runtime's "Path/File access error".
constexpr int kFileAccessError = 75;

QToolButton* iconButton(QWidget* parent, const char* name, Icon icon, int top)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setIcon(iconFor(icon));
    b->setGeometry(0, top, kIconSize, kIconSize);
    return b;
}

} // namespace

std::string libraryFolder()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&libraryFolder), &info) == 0 || !info.dli_fname)
        return QCoreApplication::applicationDirPath().toStdString();
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
    return (ec ? std::filesystem::absolute(info.dli_fname) : file).parent_path().string();
}

SchedulerState& libraryState()
{
    static SchedulerState state; // one per library, as every control on the thread shares it
    return state;
}

namespace {

std::unique_ptr<frmOperazione>& dialogSlot()
{
    static std::unique_ptr<frmOperazione> dialog;
    return dialog;
}

/// Controls alive on the thread. The dialog goes with the last of them: a widget must not
/// outlive the application object, which a host destroys before the library's statics.
int& liveControls()
{
    static int count = 0;
    return count;
}

} // namespace

frmOperazione& operazioneDialog()
{
    auto& dialog = dialogSlot();
    if (!dialog)
        dialog = std::make_unique<frmOperazione>(libraryState());
    return *dialog;
}

CadenzoControl::CadenzoControl(QWidget* parent, const time::Clock* clock)
    : QWidget(parent)
    , m_clock(clock ? *clock : time::systemClock())
    , m_ambientFont(std::make_shared<FontObject>())
{
    ++liveControls();
    setObjectName(QStringLiteral("CadenzoControl"));
    m_title = new QLabel(QString::fromLatin1(kCaption), this);
    m_title->setObjectName(QStringLiteral("lblTitle"));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setGeometry(0, 0, 600, 20);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("lstOperazioni"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHeaderLabels({QStringLiteral("Operazione"), QStringLiteral("Prossimo Evento"),
                             QStringLiteral("Periodicità"), QStringLiteral("Abilitato")});
    m_list->setGeometry(0, kListTop, 400, kListHeight);

    m_aggiungi = iconButton(this, "imgAggiungi", Icon::Aggiungi, kListTop);
    m_modifica = iconButton(this, "imgModifica", Icon::Modifica, kListTop + kIconSize + 4);
    m_togli = iconButton(this, "imgTogli", Icon::Togli, kListTop + 2 * (kIconSize + 4));
    connect(m_aggiungi, &QToolButton::clicked, this, &CadenzoControl::aggiungiClicked);
    connect(m_modifica, &QToolButton::clicked, this, &CadenzoControl::modificaClicked);
    connect(m_togli, &QToolButton::clicked, this, &CadenzoControl::togliClicked);

    m_pollTimer = std::make_unique<QtTimer>(this, [this] { m_scheduler->pollTick(); });
    m_startTimer = std::make_unique<QtTimer>(this, [this] { m_scheduler->startTick(); });
    m_yield = std::make_unique<QtYield>();
    m_scheduler = std::make_unique<Scheduler>(libraryState(), m_clock, *m_pollTimer, *m_startTimer, *m_yield, this);
    m_scheduler->setAlarmHandler([this](const std::string& azione) { raiseAlarm(azione); });
    m_scheduler->setStoreErrorHandler([this](const std::string& text) { raiseStoreError(text); });

    resize(8000 / kTwipsPerPixel, kListTop + kListHeight);
    InitProperties();
}

CadenzoControl::~CadenzoControl()
{
    if (--liveControls() == 0)
        dialogSlot().reset();
}

// Out of line: the scheduler's members stay inside the library.
void CadenzoControl::AddOperation(const std::string& s)
{
    m_scheduler->AddOperation(s);
}

void CadenzoControl::AlarmRunStarted()
{
    m_scheduler->alarmRunStarted();
}

void CadenzoControl::AlarmRunDropped()
{
    m_scheduler->alarmRunDropped();
}

void CadenzoControl::pollNow()
{
    m_scheduler->pollTick();
}

void CadenzoControl::setPollIntervalMs(int ms)
{
    m_scheduler->setPollIntervalMs(ms);
}

bool CadenzoControl::Start(float delay, std::string* error)
{
    return m_scheduler->Start(delay, error);
}

void CadenzoControl::raiseAlarm(const std::string& azione)
{
    automation::Variant args[] = {automation::Variant(azione)};
    m_events.raise(kAlarmEvent, args);
}

void CadenzoControl::raiseStoreError(const std::string& descrizione)
{
    automation::Variant args[] = {automation::Variant(descrizione)};
    m_events.raise(kStoreErrorEvent, args);
}

void CadenzoControl::setCaption(const std::string& caption)
{
    m_title->setText(QString::fromStdString(caption));
}

void CadenzoControl::showRows(const std::vector<OperationRow>& rows)
{
    m_list->clear();
    for (const OperationRow& r : rows)
        new QTreeWidgetItem(m_list, {QString::fromStdString(r.azione), QString::fromStdString(r.prossimo),
                                     QString::fromStdString(r.periodicita), QString::fromStdString(r.abilitato)});
}

int CadenzoControl::selectedPosition() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    if (!item || !item->isSelected())
        return 0;
    return m_list->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item)) + 1;
}

void CadenzoControl::aggiungiClicked()
{
    m_scheduler->beginEdit();
    operazioneDialog().Aggiungi(m_clock);
    m_scheduler->endEdit();
}

void CadenzoControl::modificaClicked()
{
    const int pos = selectedPosition();
    if (pos == 0)
        return;
    m_scheduler->beginEdit();
    operazioneDialog().Modifica(pos);
    m_scheduler->endEdit();
}

void CadenzoControl::togliClicked()
{
    if (!Prompt::askYesNo(this, QStringLiteral("Cancella appuntamento"),
                          QStringLiteral("sei sicuro di cancellare questa operazione?")))
        return;
    if (const int pos = selectedPosition())
        m_scheduler->removeAt(pos);
}

void CadenzoControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const ControlLayout l = layoutFor(width() * kTwipsPerPixel, kIconSize * kTwipsPerPixel);
    m_list->resize(l.listWidth / kTwipsPerPixel, m_list->height());
    for (int i = 0; i < 4; ++i)
        m_list->setColumnWidth(i, l.columns[i] / kTwipsPerPixel);
    for (QToolButton* b : {m_aggiungi, m_togli, m_modifica})
        b->move(l.iconLeft / kTwipsPerPixel, b->y());
    m_title->resize(std::max(0, width()), m_title->height());
}

void CadenzoControl::handOn()
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, oleColor(m_props.backColor));
    setPalette(pal);
    setAutoFillBackground(true);
    applyAppearance(m_props, findChildren<QWidget*>(Qt::FindDirectChildrenOnly), true);
    operazioneDialog().applyAppearance(m_props);
}

void CadenzoControl::changed(const char* bagName)
{
    handOn();
    m_site->propertyChanged(bagName);
}

void CadenzoControl::setAppearance(std::int16_t v)
{
    m_props.appearance = v;
    changed("Appearance");
}
void CadenzoControl::setBackColor(std::uint32_t v)
{
    m_props.backColor = v;
    changed("BackColor");
}
void CadenzoControl::setEnabledProperty(bool v)
{
    m_props.enabled = v;
    changed("Enabled");
}
void CadenzoControl::setFillColor(std::uint32_t v)
{
    m_props.fillColor = v;
    changed("FillColor");
}
void CadenzoControl::setFontObject(std::shared_ptr<FontObject> f)
{
    m_props.font = f ? std::move(f) : m_ambientFont;
    changed("Font");
}
void CadenzoControl::setForeColor(std::uint32_t v)
{
    m_props.foreColor = v;
    changed("ForeColor");
}
void CadenzoControl::setStyle(const automation::Variant& v)
{
    m_props.style = v;
    m_site->propertyChanged("Style");
}

void CadenzoControl::InitProperties()
{
    m_props = AppearanceProps{};
    m_props.font = m_ambientFont;
    handOn();
}

void CadenzoControl::ReadProperties(const automation::PropertyBag& bag)
{
    const AppearanceProps p = readAppearance(bag, m_ambientFont);
    setAppearance(p.appearance);
    setBackColor(p.backColor);
    setEnabledProperty(p.enabled);
    setFillColor(p.fillColor);
    setFontObject(p.font);
    setForeColor(p.foreColor);
    setStyle(p.style);
    // A stored control keeps its store beside the library until the host names a folder.
    if (m_scheduler->path().empty())
        m_scheduler->SetPath(libraryFolder());
}

void CadenzoControl::WriteProperties(automation::PropertyBag& bag) const
{
    writeAppearance(bag, m_props, m_ambientFont);
}

const automation::DispatchTable& CadenzoControl::dispatchTable() const
{
    using automation::AutomationError;
    using automation::colorVariant;
    using automation::Variant;
    using C = CadenzoControl;
    static const automation::DispatchTable table =
        automation::DispatchTableBuilder<C>("CadenzoControl")
            .property(
                0x68030005, "Appearance", "Appearance", [](C& c) { return Variant(c.Appearance()); },
                [](C& c, const Variant& v) { c.setAppearance(v.toInt16()); })
            .property(
                0x68030004, "BackColor", "BackColor", [](C& c) { return colorVariant(c.BackColor()); },
                [](C& c, const Variant& v) { c.setBackColor(v.toColor()); })
            .property(
                0x68030003, "Enabled", "Enabled", [](C& c) { return Variant(c.Enabled()); },
                [](C& c, const Variant& v) { c.setEnabledProperty(v.toBool()); })
            .property(
                0x68030002, "FillColor", "FillColor", [](C& c) { return colorVariant(c.FillColor()); },
                [](C& c, const Variant& v) { c.setFillColor(v.toColor()); })
            .property(
                automation::kDispIdFont, "Font", "Font", [](C& c) { return Variant(Variant::ObjectRef(c.Font())); },
                [](C& c, const Variant& v) {
                    auto f = v.objectAs<FontObject>();
                    if (!f && !v.isEmpty() && !v.isNull())
                        throw AutomationError(automation::err::kTypeMismatch);
                    c.setFontObject(std::move(f));
                })
            .property(
                0x68030001, "ForeColor", "ForeColor", [](C& c) { return colorVariant(c.ForeColor()); },
                [](C& c, const Variant& v) { c.setForeColor(v.toColor()); })
            .property(
                0x68030000, "Style", "Style", [](C& c) { return c.Style(); },
                [](C& c, const Variant& v) { c.setStyle(v); })
            .method(0x60030010, "AddOperation",
                    [](C& c, std::span<Variant> a) {
                        c.AddOperation(automation::requiredArg(a, 0).toString());
                        return Variant();
                    })
            .method(0x60030013, "SetPath",
                    [](C& c, std::span<Variant> a) {
                        c.SetPath(automation::requiredArg(a, 0).toString());
                        return Variant();
                    })
            .method(0x60030014, "Start",
                    [](C& c, std::span<Variant> a) {
                        const double d = automation::optionalArg(a, 0, Variant(0.0)).toDouble();
                        std::string error;
                        if (!c.Start(static_cast<float>(d), &error)) {
                            // A store read but not written still polls; the caller learns it
                            // as a file access error.
                            const int number = c.scheduler().lastLoadErrorNumber();
                            throw AutomationError(number != 0 ? number : kFileAccessError, error, "Cadenzo");
                        }
                        return Variant();
                    })
            .event(kAlarmEvent, "Alarm", 1)
            .event(kStoreErrorEvent, "StoreError", 1)
            .build();
    return table;
}

} // namespace zs::cadenzo
