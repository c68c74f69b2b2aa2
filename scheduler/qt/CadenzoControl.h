#pragma once
// The scheduler control a host places on its window: the list of operations with the add,
// modify and remove icons, the Alarm event, and the late-bound interface _CadenzoControl.
// The behaviour lives in Scheduler; this widget shows it and forwards clicks and ticks.

#include "CadenzoExport.h"

#include "scheduler/Appearance.h"
#include "scheduler/Scheduler.h"

#include "automation/ControlSite.h"
#include "automation/Dispatch.h"

#include <QWidget>

#include <memory>

class QLabel;
class QToolButton;
class QTreeWidget;

namespace zs::automation {
class PropertyBag;
}
namespace zs::time {
class Clock;
}

namespace zs::cadenzo {

class QtTimer;
class QtYield;
class frmOperazione;

class CADENZO_EXPORT CadenzoControl : public QWidget, public automation::Dispatchable, public ISchedulerView {
    Q_OBJECT
  public:
    static constexpr automation::DispId kAlarmEvent = 1;
    /// StoreError(descrizione): the store could not be read or written; the text says what
    /// and whether the list's changes are lost on the next start.
    static constexpr automation::DispId kStoreErrorEvent = 2;

    /// `clock` must outlive the control; the library's shared state is used for operations.
    explicit CadenzoControl(QWidget* parent = nullptr, const time::Clock* clock = nullptr);
    ~CadenzoControl() override;

    const automation::DispatchTable& dispatchTable() const override;
    automation::EventSource& events() override { return m_events; }

    void AddOperation(const std::string& s);
    void SetPath(const std::string& spath) { m_scheduler->SetPath(spath); }
    /// Loads the store and starts polling; on a faulty store returns false and `error` says why.
    [[nodiscard]] bool Start(float delay = 0, std::string* error = nullptr);

    // Appearance properties: each write hands the value on and tells the container.
    std::int16_t Appearance() const { return m_props.appearance; }
    void setAppearance(std::int16_t v);
    std::uint32_t BackColor() const { return m_props.backColor; }
    void setBackColor(std::uint32_t v);
    bool Enabled() const { return m_props.enabled; }
    void setEnabledProperty(bool v);
    std::uint32_t FillColor() const { return m_props.fillColor; }
    void setFillColor(std::uint32_t v);
    std::shared_ptr<FontObject> Font() const { return m_props.font; }
    void setFontObject(std::shared_ptr<FontObject> f);
    std::uint32_t ForeColor() const { return m_props.foreColor; }
    void setForeColor(std::uint32_t v);
    const automation::Variant& Style() const { return m_props.style; }
    void setStyle(const automation::Variant& v);

    /// Container persistence: a new instance, a stored one, and saving.
    void InitProperties();
    void ReadProperties(const automation::PropertyBag& bag);
    void WriteProperties(automation::PropertyBag& bag) const;
    void setSite(automation::ControlSite* site) { m_site = site ? site : &m_nullSite; }
    void setAmbientFont(std::shared_ptr<FontObject> font) { m_ambientFont = std::move(font); }

    /// For hosts and tests that need a faster poll than the 10 seconds.
    void setPollIntervalMs(int ms);
    Scheduler& scheduler() { return *m_scheduler; }
    /// The host's Alarm handler says that the run the alarm asked for starts now: the store
    /// spends the operation then (Scheduler::alarmRunStarted).
    void AlarmRunStarted();
    /// The run the alarm asked for was dropped before it started (Scheduler::alarmRunDropped).
    void AlarmRunDropped();
    /// One poll now, as the timer's tick runs it (hosts and tests that do not wait for it).
    void pollNow();

    // The icon clicks.
    void aggiungiClicked();
    void modificaClicked();
    void togliClicked();

  protected:
    void resizeEvent(QResizeEvent* event) override;

    // The core's view port.
    void setCaption(const std::string& caption) override;
    void showRows(const std::vector<OperationRow>& rows) override;

  private:
    void raiseAlarm(const std::string& azione);
    void raiseStoreError(const std::string& descrizione);
    void changed(const char* bagName);
    void handOn();
    int selectedPosition() const;

    const time::Clock& m_clock;
    AppearanceProps m_props;
    std::shared_ptr<FontObject> m_ambientFont;
    automation::EventSource m_events;
    automation::NullSite m_nullSite;
    automation::ControlSite* m_site = &m_nullSite;
    QLabel* m_title;
    QTreeWidget* m_list;
    QToolButton* m_aggiungi;
    QToolButton* m_modifica;
    QToolButton* m_togli;
    std::unique_ptr<QtTimer> m_pollTimer;
    std::unique_ptr<QtTimer> m_startTimer;
    std::unique_ptr<QtYield> m_yield;
    std::unique_ptr<Scheduler> m_scheduler;
};

/// The folder of the loaded library file: where a stored control keeps its store until the
/// host names one.
CADENZO_EXPORT std::string libraryFolder();

/// The library's one edit dialog, created on first use and kept hidden afterwards.
CADENZO_EXPORT frmOperazione& operazioneDialog();
/// The operations and action names shared by every control on the host's thread.
CADENZO_EXPORT SchedulerState& libraryState();

} // namespace zs::cadenzo
