#include "shell/qt/ShellApplication.h"

#include "dialogs/qt/CubiWindow.h"
#include "dialogs/qt/OpzioniPrompts.h"
#include "dialogs/qt/OpzioniWindow.h"
#include "dialogs/qt/WizardWindow.h"
#include "engine/DataBase.h"
#include "flatui/widgets/FlatWidgets.h"
#include "fs/AtomicFile.h"
#include "k8bus/Controls.h"
#include "process/Process.h"
#include "scheduler/qt/CadenzoControl.h"
#include "shell/LogPruning.h"
#include "shell/qt/frmMain.h"
#include "shell/qt/frmSchedulazione.h"
#include "time/Clock.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QWindow>

namespace zs::shell {
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

flatui::PictureRef solid(int w, int h, std::uint32_t argb, std::uint32_t edge)
{
    auto p = std::make_shared<flatui::Picture>(w, h, argb);
    for (int x = 0; x < w; ++x)
        p->set(x, 0, edge), p->set(x, h - 1, edge);
    for (int y = 0; y < h; ++y)
        p->set(0, y, edge), p->set(w - 1, y, edge);
    return p;
}

} // namespace

frmAlert::frmAlert(std::unique_ptr<IntervalTimer> timer)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_timer(timer ? std::move(timer) : std::make_unique<QtIntervalTimer>())
{
    setObjectName("frmAlert");
    resize(415, 76); // 6225 × 1140 twips
    setAutoFillBackground(true);
    m_label = new QLabel(this);
    m_label->setObjectName("lblAlert");
    m_label->setGeometry(4, 4, 405, 69);
    m_label->setWordWrap(true);
    m_label->setFont(QFont("Arial", 8, QFont::Bold));
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    setBackground(224, 255, 239);
}

void frmAlert::setBackground(int r, int g, int b)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(r, g, b));
    setPalette(pal);
}

QColor frmAlert::background() const
{
    return palette().color(QPalette::Window);
}

std::string frmAlert::text() const
{
    return m_label->text().toStdString();
}

void frmAlert::ShowMessage(const std::string& text)
{
    m_label->setText(QString::fromStdString(text));
    show();
}

void frmAlert::StartTimer(int seconds)
{
    m_ticks = 0;
    m_limit = seconds;
    m_timer->start(1000, [this] { Timer1_Timer(); });
}

void frmAlert::Timer1_Timer()
{
    if (++m_ticks >= m_limit)
        hide();
}

void frmAlert::hide()
{
    m_timer->stop();
    QWidget::hide();
}

void frmAlert::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && windowHandle())
        windowHandle()->startSystemMove(); // moved by its body: it has no title bar
}

mdiGlobal::mdiGlobal(ShellApplication& app) : m_app(app)
{
    setObjectName("mdiGlobal");
    m_area = new QMdiArea(this);
    m_area->setObjectName("mdiArea");
    m_area->setBackground(QColor(0xEA, 0xF3, 0xFF));
    setCentralWidget(m_area);
    auto* moduli = menuBar()->addMenu("&Moduli");
    moduli->setObjectName("mModuliMain");
    const char* entries[] = {"&Estrazione", "Opzioni &principali", "Opzioni &Secondarie", "Opzioni &cubi"};
    const int targets[] = {1, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
        auto* a = moduli->addAction(entries[i]);
        a->setObjectName(QString("mModuli%1").arg(i + 1));
        QObject::connect(a, &QAction::triggered, this, [this, t = targets[i]] { m_app.showMenuEntry(t); });
    }
    auto* esci = menuBar()->addAction("&Esci");
    esci->setObjectName("mEsci");
    QObject::connect(esci, &QAction::triggered, this, [this] { close(); });
    resize(1000, 680);
}

void mdiGlobal::buildMenu()
{
    auto* menu = new QWidget;
    menu->setObjectName("frmMenu");
    menu->setAutoFillBackground(true);
    QPalette pal = menu->palette();
    pal.setColor(QPalette::Window, QColor(0x20, 0x30, 0x50));
    menu->setPalette(pal);
    m_menuButton = new flatui::MenuButtonWidget(menu);
    m_menuButton->setObjectName("mbtmenu");
    m_menuButton->move(10, 10);
    auto& m = m_menuButton->model();
    auto icons = std::make_shared<flatui::ImageList>();
    const std::uint32_t hues[] = {0xFFE0A030u, 0xFF40A0E0u, 0xFF60C060u, 0xFFC060C0u, 0xFFE06050u};
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 3; ++k)
            icons->images.push_back(solid(22, 22, hues[i], 0xFFFFFFFFu));
    auto faces = std::make_shared<flatui::ImageList>();
    faces->images.push_back(solid(154, 27, 0xFF30508Cu, 0xFF8090C0u));
    faces->images.push_back(solid(154, 27, 0xFF3C64B4u, 0xFFC0D0F0u));
    faces->images.push_back(solid(154, 27, 0xFF606060u, 0xFF909090u));
    m.ImageList = icons;
    m.ImageListMenu = faces;
    m.EventEnabled = true;
    m.caption = "Menu";
    auto font = std::make_shared<flatui::FontSpec>("Arial", 9, true);
    font->italic = true;
    m.setFont(font);
    m.setBackColor(0x503020);
    m.setColor("BackColorMenu", 0x402818);
    m.setColor("BackColorSel", 0xB47840);
    m.setColor("ForeColorMenu", 0xFFFFFF);
    m.setColor("ForeColorSel", 0xFFFFFF);
    m.CaptionLeft = 520;
    m.CaptionTop = 120;
    m.style = flatui::styleEnum::styleMenu;
    m.setImageWidth(154);
    m.setImageHeight(27);
    m.SubMenuPictureWidth = 27;
    m.setSubMenuWidth(2700);
    m.startImage = 1;
    m.startImageMenu = 1;
    m.setMenuItemsCount(5);
    m.setStateButton(flatui::stateEnum::statoSelezionato);
    const char* labels[] = {"Estrazione e elaborazione dei dati", "Opzioni principali", "Opzioni secondarie",
                            "Opzioni preparazione dei cubi ", "Configurazione guidata "};
    const int iconOf[] = {1, 2, 4, 3, 5};
    for (int i = 1; i <= 5; ++i) {
        m.setMenuLabels(i, labels[i - 1]);
        m.setMenuIcons(i, iconOf[i - 1]);
    }
    m.Intialize();
    m_menuButton->resize(164, 30);
    m.events().connect([this](automation::DispId id, std::span<automation::Variant> args) {
        if (id == flatui::MenuButtonControl::Click && !args.empty())
            m_app.showMenuEntry(static_cast<int>(args[0].toDouble()));
    });
    auto* pic = new QLabel(menu);
    pic->setObjectName("picInstantMessage1");
    pic->hide();
    m_menu = addChild(menu, true);
}

QMdiSubWindow* mdiGlobal::addChild(QWidget* window, bool menu)
{
    auto* sub = m_area->addSubWindow(window, Qt::FramelessWindowHint);
    sub->setObjectName(window->objectName() + "Sub");
    if (menu)
        sub->setWindowFlag(Qt::WindowStaysOnTopHint);
    return sub;
}

void mdiGlobal::DisponiFinestre()
{
    if (isMinimized())
        return;
    const int h = std::max(m_area->viewport()->height(), 1);
    const int w = std::max(m_area->viewport()->width() - 200, 1);
    for (QMdiSubWindow* sub : m_area->subWindowList()) {
        if (sub == m_menu) {
            sub->setGeometry(0, 0, 200, h);
        } else {
            sub->setGeometry(200, 0, w, h);
        }
        sub->show();
    }
}

void mdiGlobal::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    DisponiFinestre();
}

void mdiGlobal::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized() && m_app.m_settings.AvvioMinimizzato && m_app.m_tray)
        QTimer::singleShot(0, this, [this] { hide(); }); // it lives in the tray
}

void mdiGlobal::closeEvent(QCloseEvent* e)
{
    m_app.ChiudiApplicazione();
    e->accept();
    QCoreApplication::quit();
}

ShellApplication::ShellApplication(const Options& options)
    : m_folder(options.programFolder), m_executable(options.executable),
      m_pause(options.pause ? options.pause : pauseWithEvents), m_progress(options.progress),
      m_clock(options.clock ? *options.clock : time::systemClock()),
      m_store(m_settings, m_fields, m_messages, m_folder), m_dayLog(m_folder, m_clock), m_log(m_dayLog),
      m_mailSender([this] { m_yield.yield(); }, nullptr)
{
    applyProgramFont();
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
    m_main = std::make_unique<mdiGlobal>(*this);
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
    // Cube window, category menu, run window, secondary options, options: as the program loads them.
    auto progress = [this](int percent) {
        if (m_progress)
            m_progress(percent);
    };
    progress(0);
    // Saves killed mid-way left their temporary files; the lock says no other copy is saving.
    (void)fs::removeStaleTemporaries(m_folder);
    m_cubes = new dialogs::frmCubi(m_folder, m_clock, m_messages);
    m_cubes->core().setProgramLog(&m_log);
    m_cubes->core().setSettingsStore(&m_store);
    m_cubes->core().setYield(&m_yield);
    m_cubes->core().setRunWindow(this);
    m_main->addChild(m_cubes);
    loaded(m_cubes);
    progress(15);
    m_main->buildMenu();
    loaded(m_main->menuButton()->parentWidget());

    m_prompts = std::make_unique<dialogs::QtPrompts>(m_main.get());
    m_wizard = new dialogs::frmWizard(m_store, m_settings, m_messages, *m_prompts, m_cubes, m_main.get());
    m_options = new dialogs::frmOpzioni(dialogs::OpzioniServices{m_store, m_settings, m_messages, *m_prompts, m_wizard,
                                                                 &m_log, &m_registry, {}, {}});
    m_database = std::make_unique<engine::DataBase>(
        m_settings,
        [this] { return m_store.DocImpostazioni() ? m_store.DocImpostazioni()->root() : xml::Element(); },
        [this](const std::string& text) { m_options->OutputResponseDB(text); }, m_messages);
    m_options->setCreaDatabase([this](const std::string& path) { return m_database->CreaDatabase(path); });

    progress(30);
    RunControl::Parts parts{m_settings, m_fields, m_store, m_log, m_state, m_yield, m_messages, m_clock, *m_options, *m_cubes};
    m_frmMain = new frmMain(parts);
    m_frmMain->run().setNotification(m_notification.get());
    m_frmMain->run().setSleeper([this](int ms) { m_pause(ms); });
    m_frmMain->onTrayTip = [this](TrayState s) { ChangeToolTipIconTray(s); };
    m_notification->setCollapse([this](LogNodeId id) { m_frmMain->setExpanded(id, false); });
    m_main->addChild(m_frmMain);
    loaded(m_frmMain);

    progress(60);
    frmSchedulazione::Actions actions;
    actions.alarm.initializeResponse = [this] { m_log.InitializeResponse(); };
    actions.alarm.estrazione = [this] { m_frmMain->run().Estrazione(false); };
    actions.alarm.elaborazione = [this] { m_frmMain->run().Elaborazione(); };
    actions.alarm.unattended = [this](bool on) { m_messages.setUnattended(on); };
    actions.alarm.running = [this] { return m_frmMain->run().running(); };
    actions.alarm.note = [this](const std::string& text, bool error) { m_log.OutputAside(text, error); };
    actions.alarm.defer = [this](std::function<void()> call) {
        QTimer::singleShot(0, m_frmSchedulazione, std::move(call));
    };
    actions.testMail = [this] {
        m_log.InitializeResponse();
        m_frmMain->Form_ShowMe();
        m_yield.yield();
        m_notification->NotificaEstrazione(false);
    };
    actions.startSupport = [this] { m_support->StartSupportOnline(m_store.LeggiTesto("vnchost")); };
    actions.stopSupport = [this] { m_support->StopSupportOnline(); };
    actions.deactivated = [this] {
        ChangeStartup(m_fields.chkStartup == 1);
        std::string error;
        if (!m_store.SalvaImpostazioni(&error))
            m_log.WriteInLog(error, true, false);
    };
    actions.mainVisible = [this] { return m_main->isVisible(); };
    actions.note = [this](const std::string& text) { m_messages.show(text, MessageIcon::Information, "Attenzione."); };
    actions.storeError = [this](const std::string& text) { m_log.OutputResponse(text, true, 0); };
    m_frmSchedulazione = new frmSchedulazione(m_fields, m_yield, actions);
    // A scheduled run that came during another run starts once that run has ended.
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
    // The secondary options save when they lose the focus. Sub-windows are activated while
    // Qt is still walking a window's children (show, close), and the save lets pending events
    // run, which may delete objects that walk still holds: so the save runs after the
    // activation has been delivered, never inside it.
    QObject::connect(&m_main->area(), &QMdiArea::subWindowActivated, m_main.get(),
                     [this, previous = QPointer<QMdiSubWindow>()](QMdiSubWindow* now) mutable {
                         if (previous && previous->widget() == m_frmSchedulazione && now != previous)
                             QTimer::singleShot(0, m_frmSchedulazione, [this] { m_frmSchedulazione->Form_Deactivate(); });
                         previous = now;
                     });

    progress(75);
    m_main->addChild(m_options);
    loaded(m_options);
    SettingsStore::Windows windows;
    windows.cubes = m_cubes;
    windows.options = m_options;
    windows.main = this;
    windows.yield = &m_yield;
    m_store.setWindows(windows);
    // Without a settings file the dialog has shown the wizard; the program then ends.
    if (m_options->InitializeSettings() == dialogs::OpzioniCore::InitOutcome::NoSettings) {
        m_exitStatus = m_wizard->saved() ? 0 : 1;
        return false;
    }
    progress(100);
    m_frmSchedulazione->loadFields();
    ChangeStartup(m_fields.chkStartup == 1);
    int months = 1;
    try {
        months = std::stoi(m_fields.txtMese);
    } catch (const std::exception&) {
    }
    ClearLogs(m_folder / "log", months, m_clock.now());

    m_main->setWindowTitle(QString::fromStdString(m_settings.TitoloApplicazione + " -  Quorvane srl"));
    const bool trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    if (m_settings.AvvioMinimizzato && !trayAvailable)
        m_log.OutputAside("Area di notifica non disponibile: il programma resta ridotto a icona nella barra delle "
                          "applicazioni.",
                          false);
    if (m_settings.AvvioMinimizzato && trayAvailable) {
        m_main->hide();
        m_tray = new QSystemTrayIcon(trayIcon(m_settings.IndiceIcona), m_main.get());
        m_tray->setObjectName("trayIcon");
        auto* pop = new QMenu(m_main.get());
        pop->setObjectName("mPopTray");
        QObject::connect(pop->addAction("&Ripristina"), &QAction::triggered, m_main.get(), [this] {
            m_main->showNormal();
            m_main->activateWindow();
        });
        QObject::connect(pop->addAction("Es&ci"), &QAction::triggered, m_main.get(), [this] { m_main->close(); });
        m_tray->setContextMenu(pop);
        QObject::connect(m_tray, &QSystemTrayIcon::activated, m_main.get(), [this](auto reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                m_main->showMaximized();
                m_main->activateWindow();
                m_frmMain->Form_ShowMe();
            }
        });
        ChangeToolTipIconTray(TrayState::Startup);
        m_tray->show();
    } else {
        // Without a tray host the program must stay reachable: minimized in the task bar.
        if (m_settings.AvvioMinimizzato)
            m_main->showMinimized();
        else
            m_main->show();
        m_main->DisponiFinestre();
        m_frmMain->Form_ShowMe();
        m_main->area().setActiveSubWindow(qobject_cast<QMdiSubWindow*>(m_frmMain->parentWidget()));
        // The category menu opens its entries when it is first shown.
        QTimer::singleShot(0, m_main.get(), [this] {
            if (m_main->menuButton())
                m_main->menuButton()->model().TurnOn();
        });
    }
    return true;
}

void ShellApplication::showMenuEntry(int index)
{
    QWidget* target = nullptr;
    switch (index) {
    case 1: m_frmMain->Form_ShowMe(), target = m_frmMain; break;
    case 2: m_options->Form_ShowMe(), target = m_options; break;
    case 3: m_frmSchedulazione->Form_ShowMe(), target = m_frmSchedulazione; break;
    case 4: m_cubes->Form_ShowMe(), target = m_cubes; break;
    case 5: m_wizard->showModal(); break;
    default: break;
    }
    if (target)
        if (auto* sub = qobject_cast<QMdiSubWindow*>(target->parentWidget()))
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
            m_frmMain->setProgress(*percent);
    reportProgress(object, counter);
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
    std::string error;
    if (m_store.hasDocument() && !m_store.SalvaImpostazioni(&error))
        m_log.WriteInLog(error, true, false);
    if (m_tray)
        m_tray->hide();
    m_alert->hide();
    m_support->shutdown(); // no VNC server outlives the program
}

} // namespace zs::shell
