#include "shell/qt/ShellApplication.h"

#include "dialogs/core/SettingsWindows.h"
#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/DialogLayout.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "engine/DataBase.h"
#include "flatui/widgets/FlatWidgets.h"
#include "fs/AtomicFile.h"
#include "k8bus/Controls.h"
#include "process/Process.h"
#include "program/LogPruning.h"
#include "program/RunLock.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThread>

namespace zs::shell {

// The foundation's names used here.
using program::ClearLogs;
using program::cutTrayTip;
using program::LogNodeId;
using program::mainCaption;
using program::MessageIcon;
using program::SettingsStore;
using program::TrayState;
using program::trayTipText;
using program::writeStartupEntry;
namespace {

/// Waits `ms` while the window events go on (the engine's pauses and the assistance waits).
void pauseWithEvents(int ms)
{
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (t.elapsed() < ms)
            QThread::msleep(static_cast<unsigned long>(std::min<qint64>(20, ms - t.elapsed())));
    } while (t.elapsed() < ms);
}

QIcon trayIcon(int index)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(index % 2 ? QColor(60, 100, 180) : QColor(180, 100, 60));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 2, 28, 28, 6, 6);
    p.setPen(Qt::white);
    p.setFont(QFont("Arial", 16, QFont::Bold));
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "Z");
    return QIcon(pm);
}

} // namespace

ShellApplication::ShellApplication(const Options& options)
    : m_folder(options.programFolder)
    , m_executable(options.executable)
    , m_defaultFolder(options.defaultFolder)
    , m_pause(options.pause ? options.pause : pauseWithEvents)
    , m_progress(options.progress)
    , m_clock(options.clock ? *options.clock : time::systemClock())
    , m_store(m_settings, m_fields, m_messages, m_folder)
    , m_loading(m_messages)
    , m_dayLog(m_folder, m_clock)
    , m_log(m_dayLog)
    , m_mailSender([this] { m_yield.yield(); }, nullptr)
{
    applyProgramFont();
    applyProgramLocale();
    installProgramTranslations();
    // The options dialog's Bus & Task call creates the bus controls by their ProgIDs. While a
    // control waits on the bus the window's events go on, and Stop ends the wait.
    k8bus::registerClasses(m_registry, [this] {
        m_yield.yield();
        return !m_state.stopped();
    });
    // The program ends when the operator closes the main window or chooses Esci, never because
    // a message box or the wizard closed while no other window was showing (start-up, tray).
    QApplication::setQuitOnLastWindowClosed(false);
    // A day log that cannot be written is told once on screen; the line cannot go to the file.
    m_dayLog.onError = [this](const std::string& error) {
        m_log.OutputAside("Log giornaliero non aggiornato: " + error, true, false);
    };
    m_notification = std::make_unique<RunNotification>(m_log, m_store, m_fields, m_yield, m_clock, m_mailSender);
    m_alert = std::make_unique<frmAlert>(options.timers ? options.timers() : nullptr);
    m_support = std::make_unique<SupportOnline>(
        m_folder, m_messages, *m_alert, [this](int ms) { m_pause(ms); },
        [this](const std::string& why) { m_log.WriteInLog(why, true, false); }, options.supportHosts);
    m_main = std::make_unique<mdiGlobal>(mdiGlobal::Hooks{
        [this](int entry) { showMenuEntry(entry); }, [this] { ChiudiApplicazione(); },
        [this] { return m_settings.AvvioMinimizzato && m_tray; }, [this] { restoredFromMinimized(); }});
}

ShellApplication::~ShellApplication()
{
    m_log.setListener(nullptr);
}

void ShellApplication::loaded(QWidget* window)
{
    m_loadOrder.push_back(window->objectName().toStdString());
}

bool ShellApplication::load()
{
    // Cube window, category menu, options dialog's parts, run window, secondary options, options:
    // as the program loads them.
    auto progress = [this](int percent) {
        if (m_progress)
            m_progress(percent);
    };
    progress(0);
    // Saves killed mid-way left their temporary files; the lock says no other copy is saving.
    (void)fs::removeStaleTemporaries(m_folder);
    // So did a killed notification (its archive) and a killed remote assistance (its folder).
    (void)removeRunLeftovers(m_folder);
    loadCubeWindow();
    progress(15);
    m_main->buildMenu();
    loaded(m_main->menuButton()->parentWidget());
    loadOptionsDialog();
    progress(30);
    loadRunWindow();
    progress(60);
    loadSecondaryOptions();
    progress(75);
    m_main->addChild(m_options);
    loaded(m_options);
    // What the store reads goes into these windows; what a save writes comes from them.
    dialogs::SettingsWindows{m_cubes, m_options, this, &m_yield}.connect(m_store);
    // Without a settings file the dialog has shown the wizard; the program then ends.
    if (m_options->InitializeSettings() == dialogs::OpzioniCore::InitOutcome::NoSettings) {
        m_exitStatus = m_wizard->saved() ? 0 : 1;
        return false;
    }
    progress(100);
    applySettings();
    if (m_settings.AvvioMinimizzato && QSystemTrayIcon::isSystemTrayAvailable())
        showInTray();
    else
        showWindow();
    m_started = true;
    return true;
}

void ShellApplication::loadCubeWindow()
{
    m_cubes = new dialogs::frmCubi(m_folder, m_clock, m_messages);
    m_cubes->core().setProgramLog(&m_log);
    m_cubes->core().setSettingsStore(&m_store);
    m_cubes->core().setYield(&m_yield);
    m_cubes->core().setRunWindow(this);
    m_cubes->core().setStopRequested([this] { return m_state.stopped(); });
    m_main->addChild(m_cubes);
    loaded(m_cubes);
}

void ShellApplication::loadOptionsDialog()
{
    m_prompts = std::make_unique<dialogs::QtPrompts>(m_main.get(), &m_messages);
    m_wizard = new dialogs::frmWizard(m_store, m_settings, m_messages, *m_prompts, m_cubes, m_main.get());
    m_options = new dialogs::frmOpzioni(dialogs::OpzioniServices{
        m_store, m_loading, m_settings, m_messages, *m_prompts, m_wizard, &m_log, &m_registry, {}, {}});
    m_database = std::make_unique<engine::DataBase>(
        m_settings, [this] { return m_store.DocImpostazioni() ? m_store.DocImpostazioni()->root() : xml::Element(); },
        [this](const std::string& text) { m_options->OutputResponseDB(text); }, m_messages);
    m_options->setCreaDatabase([this](const std::string& path) {
        const bool ok = m_database->CreaDatabase(path);
        // A scheduled run that fell due meanwhile waited for the build: it goes once the build
        // has let the folder go.
        QTimer::singleShot(0, m_main.get(), [this] {
            if (m_frmSchedulazione)
                m_frmSchedulazione->alarms().runEnded();
        });
        return ok;
    });
}

void ShellApplication::loadRunWindow()
{
    RunControl::Parts parts{m_settings, m_fields,   m_store, m_loading,  m_log,   m_state,
                            m_yield,    m_messages, m_clock, *m_options, *m_cubes};
    m_frmMain = new frmMain(parts);
    m_frmMain->run().setNotification(m_notification.get());
    m_frmMain->run().setSleeper([this](int ms) { m_pause(ms); });
    m_frmMain->onTrayTip = [this](TrayState s) { ChangeToolTipIconTray(s); };
    m_notification->setCollapse([this](LogNodeId id) { m_frmMain->setExpanded(id, false); });
    m_main->addChild(m_frmMain);
    loaded(m_frmMain);
}

frmSchedulazione::Actions ShellApplication::secondaryOptionsActions()
{
    frmSchedulazione::Actions actions;
    actions.alarm.initializeResponse = [this] { m_log.InitializeResponse(); };
    actions.alarm.estrazione = [this] { m_frmMain->run().Estrazione(false); };
    actions.alarm.elaborazione = [this] { m_frmMain->run().Elaborazione(/*scheduled=*/true); };
    actions.alarm.unattended = [this](bool on) { m_messages.setUnattended(on); };
    // A database build holds the folder too: an alarm then waits for its end like a run's.
    actions.alarm.running = [this] { return m_frmMain->run().running() || program::RunLock::heldInThisProcess() > 0; };
    actions.alarm.note = [this](const std::string& text, bool error) { m_log.OutputAside(text, error); };
    actions.alarm.defer = [this](std::function<void()> call) {
        QTimer::singleShot(0, m_frmSchedulazione, std::move(call));
    };
    actions.testMail = [this] {
        m_log.InitializeResponse();
        showMenuEntry(1); // the run window in front, marked in the category menu
        m_yield.yield();
        m_notification->NotificaEstrazione(false);
    };
    actions.startSupport = [this] { m_support->StartSupportOnline(m_store.LeggiTesto("vnchost")); };
    actions.stopSupport = [this] { m_support->StopSupportOnline(); };
    actions.deactivated = [this] {
        ChangeStartup(m_fields.chkStartup == 1);
        std::string error;
        if (m_store.SalvaImpostazioni(&error))
            return;
        // The change is lost: the operator hears it here, as from the other windows that save;
        // the day log may lie on the full disk itself.
        m_log.WriteInLog(error, true, false);
        m_messages.show("Impossibile salvare le impostazioni: " + error, MessageIcon::Exclamation, "Attenzione.");
    };
    actions.mainVisible = [this] { return m_main->isVisible(); };
    actions.note = [this](const std::string& text) { m_messages.show(text, MessageIcon::Information, "Attenzione."); };
    actions.storeError = [this](const std::string& text) { m_log.OutputResponse(text, true, 0); };
    return actions;
}

void ShellApplication::loadSecondaryOptions()
{
    m_frmSchedulazione = new frmSchedulazione(m_fields, m_yield, secondaryOptionsActions());
    // A scheduled run that came during another run starts once that run has ended.
    // A scheduled operation is spent when its run starts, which may be after it fell due.
    m_frmMain->run().setScheduledRunStarted([this] { m_frmSchedulazione->CadenzoControl().AlarmRunStarted(); });
    m_frmMain->run().setScheduledRunDropped([this] { m_frmSchedulazione->CadenzoControl().AlarmRunDropped(); });
    m_frmMain->run().setRunEnded(
        [this] { QTimer::singleShot(0, m_frmSchedulazione, [this] { m_frmSchedulazione->alarms().runEnded(); }); });
    auto& cadenzo = m_frmSchedulazione->CadenzoControl();
    cadenzo.AddOperation(AlarmHandler::kEstrazione);
    cadenzo.AddOperation(AlarmHandler::kElaborazione);
    cadenzo.SetPath(m_folder.string());
    // A store that cannot be read or written reaches the run log through the StoreError event.
    (void)cadenzo.Start(60);
    m_main->addChild(m_frmSchedulazione);
    loaded(m_frmSchedulazione);
    // The category menu marks the window in front, however it came there (its own entries, the
    // Moduli menu, "Invia ora", a click on the icon); after the activation, as the save below.
    QObject::connect(&m_main->area(), &QMdiArea::subWindowActivated, m_main.get(), [this] {
        QTimer::singleShot(0, m_main.get(), [this] { markMenuEntry(menuEntryOf(m_main->area().activeSubWindow())); });
    });
    // The secondary options save when they lose the focus. Sub-windows are activated while
    // Qt is still walking a window's children (show, close), and the save lets pending events
    // run, which may delete objects that walk still holds: so the save runs after the
    // activation has been delivered, never inside it.
    QObject::connect(
        &m_main->area(), &QMdiArea::subWindowActivated, m_main.get(),
        [this, previous = QPointer<QMdiSubWindow>()](QMdiSubWindow* now) mutable {
            if (m_started && previous && previous == dialogs::subWindowOf(*m_frmSchedulazione) && now != previous)
                QTimer::singleShot(0, m_frmSchedulazione, [this] { m_frmSchedulazione->Form_Deactivate(); });
            previous = now;
        });
    // Other writers (zs-extract from cron, an editor) may have saved since: a window coming to
    // the front shows the file's values for what it has not changed itself.
    QObject::connect(&m_main->area(), &QMdiArea::subWindowActivated, m_main.get(), [this](QMdiSubWindow* now) {
        if (!now || !m_started)
            return;
        QTimer::singleShot(0, m_main.get(), [this, now = QPointer<QMdiSubWindow>(now)] {
            if (!now || now != m_main->area().activeSubWindow())
                return;
            (void)m_store.Ricarica();
            const unsigned generation = m_store.generation();
            if (now == dialogs::subWindowOf(*m_frmSchedulazione) && m_shownFields != generation) {
                m_shownFields = generation;
                m_frmSchedulazione->loadFields();
            } else if (now == dialogs::subWindowOf(*m_cubes) && m_shownCubes != generation) {
                m_shownCubes = generation;
                m_cubes->AggiornaTabellaCubi();
            }
        });
    });
}

void ShellApplication::applySettings()
{
    m_frmSchedulazione->loadFields();
    ChangeStartup(m_fields.chkStartup == 1);
    int months = 1;
    try {
        months = std::stoi(m_fields.txtMese);
    } catch (const std::exception&) {
    }
    ClearLogs(m_folder / "log", months, m_clock.now());
    m_main->setWindowTitle(
        QString::fromStdString(mainCaption(m_settings.TitoloApplicazione, m_folder, m_defaultFolder)));
}

void ShellApplication::showInTray()
{
    m_main->hide();
    m_tray = new QSystemTrayIcon(trayIcon(m_settings.IndiceIcona), m_main.get());
    m_tray->setObjectName("trayIcon");
    auto* pop = new QMenu(m_main.get());
    pop->setObjectName("mPopTray");
    QObject::connect(pop->addAction("&Ripristina"), &QAction::triggered, m_main.get(),
                     [this] { restoreFromTray(TrayRestore::ripristina); });
    QObject::connect(pop->addAction("Es&ci"), &QAction::triggered, m_main.get(), [this] { m_main->close(); });
    m_tray->setContextMenu(pop);
    QObject::connect(m_tray, &QSystemTrayIcon::activated, m_main.get(), [this](auto reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            restoreFromTray(TrayRestore::click);
    });
    ChangeToolTipIconTray(TrayState::Startup);
    m_tray->show();
}

void ShellApplication::showWindow()
{
    // Without a tray host the program must stay reachable: minimized in the task bar.
    if (m_settings.AvvioMinimizzato) {
        m_log.OutputAside("Area di notifica non disponibile: il programma resta ridotto a icona nella barra delle "
                          "applicazioni.",
                          false);
        m_main->fitToScreen();
        m_main->showMinimized();
    } else {
        m_main->showFitted();
    }
    m_main->DisponiFinestre();
    m_frmMain->Form_ShowMe();
    m_main->area().setActiveSubWindow(dialogs::subWindowOf(*m_frmMain));
    // Minimized, the windows are not arranged yet and the menu's list would be drawn over what
    // is not there: it opens when the window comes back, as after a start on screen.
    if (m_main->isMinimized())
        m_menuOnRestore = true;
    else
        activateMenu();
}

void ShellApplication::restoredFromMinimized()
{
    if (!m_menuOnRestore)
        return;
    m_menuOnRestore = false;
    activateMenu();
}

void ShellApplication::restoreFromTray(TrayRestore how)
{
    if (how == TrayRestore::click) {
        m_main->showMaximized();
        m_main->activateWindow();
        showMenuEntry(1); // the run window in front
    } else {
        m_main->showFitted();
        m_main->activateWindow();
        // The window in front stays in front; it becomes the area's active one, so the menu
        // marks it and the keys go to it.
        if (QMdiSubWindow* front = frontSubWindow())
            m_main->area().setActiveSubWindow(front);
    }
    // Hidden in the tray, the window had no category menu on screen: it comes back open.
    activateMenu();
}

QMdiSubWindow* ShellApplication::frontSubWindow() const
{
    const auto stack = m_main->area().subWindowList(QMdiArea::StackingOrder);
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (menuEntryOf(*it) != 0 && (*it)->isVisible())
            return *it;
    return nullptr;
}

int ShellApplication::menuEntryOf(const QMdiSubWindow* sub) const
{
    const QWidget* windows[] = {m_frmMain, m_options, m_frmSchedulazione, m_cubes};
    for (int i = 0; i < 4; ++i)
        if (windows[i] && sub && sub == dialogs::subWindowOf(*windows[i]))
            return i + 1;
    return 0;
}

void ShellApplication::markMenuEntry(int entry)
{
    if (!entry || !m_main->menuButton())
        return;
    auto& menu = m_main->menuButton()->model();
    if (menu.MenuSelected() != entry)
        menu.setMenuSelected(entry);
    if (menu.menuVisible() && menu.hotItem() != entry) {
        menu.DrawMenu(entry, -1);
        menu.DrawButton(menu.faceItem(), true); // the face stays joined to the open list
    }
}

void ShellApplication::activateMenu()
{
    QTimer::singleShot(0, m_main.get(), [this] {
        if (!m_main->menuButton())
            return;
        m_main->menuButton()->model().TurnOn();
        // The list opens on its first entry; it marks the window in front.
        markMenuEntry(menuEntryOf(frontSubWindow()));
    });
}

void ShellApplication::showMenuEntry(int index)
{
    QWidget* target = nullptr;
    switch (index) {
    case 1:
        m_frmMain->Form_ShowMe(), target = m_frmMain;
        break;
    case 2:
        m_options->Form_ShowMe(), target = m_options;
        break;
    case 3:
        m_frmSchedulazione->Form_ShowMe(), target = m_frmSchedulazione;
        break;
    case 4:
        m_cubes->Form_ShowMe(), target = m_cubes;
        break;
    case 5:
        m_wizard->showModal();
        // The wizard is no window of the area: closed, saved or not, the menu marks again the
        // window it left in front (once the menu's own handling of the click is over).
        QTimer::singleShot(0, m_main.get(), [this] { markMenuEntry(menuEntryOf(frontSubWindow())); });
        break;
    default:
        break;
    }
    if (target)
        if (auto* sub = dialogs::subWindowOf(*target))
            m_main->area().setActiveSubWindow(sub);
}

void ShellApplication::reportProgress(const std::string& object, long counter)
{
    // Without the object's estimate the bar is not moved; the run window stays responsive while
    // the object named last is processed.
    if (object == m_oggetto && counter >= 2)
        m_yield.yield();
}

void ShellApplication::reportProgressRows(const std::string& object, long counter, double estimatedRows)
{
    if (object == m_oggetto && m_frmMain)
        if (const std::optional<int> percent = dialogs::cubeProgressPercent(counter, estimatedRows))
            m_frmMain->setProgress(m_runTotal > 1 ? (m_runDone * 100 + *percent) / m_runTotal : *percent);
    reportProgress(object, counter);
}

void ShellApplication::reportRunProgress(int done, int total)
{
    m_runDone = done;
    m_runTotal = total;
    if (m_frmMain && total > 1)
        m_frmMain->setProgress(done * 100 / total);
}

void ShellApplication::ChangeToolTipIconTray(TrayState state)
{
    m_trayTip = cutTrayTip(trayTipText(m_settings.TitoloApplicazione, state));
    if (m_settings.AvvioMinimizzato && m_tray)
        m_tray->setToolTip(QString::fromStdString(m_trayTip));
}

void ShellApplication::ChangeStartup(bool enabled)
{
    (void)writeStartupEntry(enabled, m_executable.empty() ? m_folder / "ZentrikServer" : m_executable, m_folder);
}

void ShellApplication::ChiudiApplicazione()
{
    // A scheduled run still waiting for its folder goes with the program, unstarted.
    if (m_frmMain)
        m_frmMain->run().dropWaitingRun(RunControl::DropReason::Closing);
    std::string error;
    if (m_store.hasDocument() && !m_store.SalvaImpostazioni(&error))
        m_log.WriteInLog(error, true, false);
    if (m_tray)
        m_tray->hide();
    m_alert->hide();
    m_support->shutdown(); // no VNC server outlives the program
}

} // namespace zs::shell
