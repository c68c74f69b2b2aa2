#pragma once
// The server program put together: the settings, the log, the run state and every window of
// the shell (mdiGlobal with its MDI area, the category menu frmMenu, the run window frmMain,
// the secondary-options window frmSchedulazione, the pop-up notice frmAlert) over the
// settings and the engine. main() and the window tests build it the same way.

#include "automation/ClassRegistry.h"
#include "dialogs/core/CubiCore.h"
#include "engine/RunState.h"
#include "program/DesktopIntegration.h"
#include "program/LoadingDocument.h"
#include "program/ProgramLog.h"
#include "program/ProgramSettings.h"
#include "program/SettingsStore.h"
#include "shell/qt/QtServices.h"
#include "shell/qt/frmAlert.h"
#include "shell/qt/frmSchedulazione.h"
#include "shell/qt/mdiGlobal.h"
#include "shell/run/RunNotification.h"
#include "shell/run/SendMailSender.h"
#include "shell/run/SupportOnline.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMdiSubWindow;
class QSystemTrayIcon;

namespace zs::time {
class Clock;
}
namespace zs::engine {
class DataBase;
}
namespace zs::dialogs {
class QtPrompts;
class frmCubi;
class frmOpzioni;
class frmWizard;
} // namespace zs::dialogs

namespace zs::shell {

class frmMain;

class ShellApplication : public program::MainWindow, private dialogs::CubiRunWindow {
  public:
    struct Options {
        std::filesystem::path programFolder;
        const time::Clock* clock = nullptr; ///< the system clock when null
        std::filesystem::path executable;   ///< for the autostart entry
        /// The folder the program uses when ZENTRIK_HOME names none; a copy on another folder
        /// carries that folder's name in its caption. None: the caption as on the default.
        std::filesystem::path defaultFolder;
        /// Waits `ms` while window events go on (the engine's pauses between connection
        /// attempts, remote assistance's waits); a real wait when empty.
        std::function<void(int ms)> pause;
        /// The windows' repeating timers; Qt's when empty.
        IntervalTimerFactory timers;
        /// Progress of the load, 0 to 100 (the splash's bar).
        std::function<void(int percent)> progress;
        /// The support hosts remote assistance connects to.
        SupportOnline::Hosts supportHosts;
    };

    explicit ShellApplication(const Options& options);
    ~ShellApplication() override;

    /// The main window's load: the cube window, the category menu, the run window, the
    /// secondary options and last the options dialog, which reads the settings; then day-log
    /// pruning, caption, tray or window. False when there is no settings file: the wizard has
    /// been shown and the program ends.
    bool load();
    /// The status the program ends with when load() returned false: 0 when the wizard wrote
    /// the settings, 1 when it closed without them.
    int exitStatus() const { return m_exitStatus; }
    /// Saves the settings and removes the tray icon (ChiudiApplicazione).
    void ChiudiApplicazione();
    /// ChangeStartup of the main window.
    void ChangeStartup(bool enabled) override;
    void ChangeToolTipIconTray(program::TrayState state);
    std::string trayTip() const { return m_trayTip; }
    /// Brings the main window back from the tray: a click on the icon maximizes it with the run
    /// window in front, "&Ripristina" restores it to its normal size. Either way the category
    /// menu is activated and opens its entries.
    enum class TrayRestore { click, ripristina };
    void restoreFromTray(TrayRestore how);

    mdiGlobal& main() { return *m_main; }
    frmMain& runWindow() { return *m_frmMain; }
    frmSchedulazione& secondaryWindow() { return *m_frmSchedulazione; }
    frmAlert& alert() { return *m_alert; }
    dialogs::frmOpzioni& options() { return *m_options; }
    dialogs::frmCubi& cubes() { return *m_cubes; }
    dialogs::frmWizard& wizard() { return *m_wizard; }
    /// The dialogs' prompts (their "next answer" hooks drive them in tests).
    dialogs::QtPrompts& prompts() { return *m_prompts; }
    /// The names of the windows in the order load() created them.
    const std::vector<std::string>& loadOrder() const { return m_loadOrder; }
    /// What the cube processing reports to: the object in hand and its progress on the run window.
    dialogs::CubiRunWindow& cubeRunWindow() { return *this; }
    program::ProgramLog& log() { return m_log; }
    QtYield& yield() { return m_yield; }
    QtMessageService& messages() { return m_messages; }
    program::ProgramSettings& settings() { return m_settings; }
    program::SecondaryOptionsFields& fields() { return m_fields; }
    engine::RunState& state() { return m_state; }
    RunNotification& notification() { return *m_notification; }
    SupportOnline& support() { return *m_support; }

  private:
    // The stages of load(), in the order the program runs them.
    void loadCubeWindow();
    void loadOptionsDialog();
    void loadRunWindow();
    void loadSecondaryOptions();
    frmSchedulazione::Actions secondaryOptionsActions();
    void applySettings();
    void showInTray();
    void showWindow();
    /// The category menu's activation: its entries open once pending events have run.
    void activateMenu();
    /// The main window is back from minimized: the menu opens when it did not at the start.
    void restoredFromMinimized();

    void showMenuEntry(int index);
    /// The category menu's entry (1 to 4) of the window in `sub`; 0 for any other.
    int menuEntryOf(const QMdiSubWindow* sub) const;
    /// The window of the area on top (the one the operator sees), menu column aside; none
    /// when no such window is shown.
    QMdiSubWindow* frontSubWindow() const;
    /// Marks `entry` (1 to 4) in the category menu: its face and, when open, its list.
    void markMenuEntry(int entry);
    void loaded(QWidget* window);
    // dialogs::CubiRunWindow
    void setOggettoInElaborazione(const std::string& name) override { m_oggetto = name; }
    void reportProgress(const std::string& object, long counter) override;
    /// A cube with its estimated rows moves the run window's progress bar, then yields as above.
    void reportProgressRows(const std::string& object, long counter, double estimatedRows) override;
    /// A run of several objects moves the bar by the objects done, each object's rows filling
    /// its share.
    void reportRunProgress(int done, int total) override;

    std::filesystem::path m_folder;
    std::filesystem::path m_executable;
    std::filesystem::path m_defaultFolder;
    std::function<void(int)> m_pause;
    std::function<void(int)> m_progress;
    const time::Clock& m_clock;
    QtMessageService m_messages;
    QtYield m_yield;
    program::ProgramSettings m_settings;
    program::SecondaryOptionsFields m_fields;
    program::SettingsStore m_store;
    program::LoadingDocument m_loading;
    program::DayLog m_dayLog;
    program::ProgramLog m_log;
    engine::RunState m_state;
    SendMailSender m_mailSender;
    automation::ClassRegistry m_registry;
    std::unique_ptr<dialogs::QtPrompts> m_prompts;
    std::unique_ptr<engine::DataBase> m_database;
    std::unique_ptr<RunNotification> m_notification;
    std::unique_ptr<frmAlert> m_alert;
    std::unique_ptr<SupportOnline> m_support;
    std::unique_ptr<mdiGlobal> m_main;
    dialogs::frmCubi* m_cubes = nullptr;
    /// The settings' generation the secondary options and the cube grid show.
    unsigned m_shownFields = 0;
    unsigned m_shownCubes = 0;
    dialogs::frmOpzioni* m_options = nullptr;
    dialogs::frmWizard* m_wizard = nullptr;
    std::vector<std::string> m_loadOrder;
    std::string m_oggetto; ///< the dimension or cube being processed: its progress moves the bar
    int m_runDone = 0;     ///< objects of the cube run done
    int m_runTotal = 0;    ///< objects of the cube run; 0 or 1: the bar follows the object's rows
    frmMain* m_frmMain = nullptr;
    frmSchedulazione* m_frmSchedulazione = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    std::string m_trayTip;
    /// The windows are up: the activations of the load itself were the program's own, and
    /// neither save the secondary options nor read the settings that were just read.
    bool m_started = false;
    bool m_menuOnRestore = false; ///< started minimized: the menu opens when the window comes back
    int m_exitStatus = 1;
};

} // namespace zs::shell
