#pragma once
// The secondary-options window: the scheduler control whose Alarm starts the unattended runs,
// the start-up, day-log and notification fields bound to SecondaryOptionsFields, the test mail
// button and the remote-assistance buttons.

#include "shell/run/SecondaryOptions.h"

#include <QWidget>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QScrollBar;

namespace zs::cadenzo {
class CadenzoControl;
}

namespace zs::program {
struct SecondaryOptionsFields;
} // namespace zs::program

namespace zs::shell {

class frmSchedulazione : public QWidget {
  public:
    struct Actions {
        AlarmHandler::Actions alarm;
        std::function<void()> testMail;     ///< flbEmail
        std::function<void()> startSupport; ///< flbAssistenza
        std::function<void()> stopSupport;  ///< flbStopAssistenza
        std::function<void()> deactivated;  ///< ChangeStartup and the save-all
        std::function<bool()> mainVisible;  ///< whether the start-up notes are shown
        std::function<void(const std::string&)> note;
        /// The scheduler's store could not be read or written: a red line in the run log.
        std::function<void(const std::string&)> storeError;
    };

    frmSchedulazione(program::SecondaryOptionsFields& fields, program::YieldHook& yield, Actions actions,
                     QWidget* parent = nullptr);

    cadenzo::CadenzoControl& CadenzoControl() { return *m_cadenzo; }
    AlarmHandler& alarms() { return m_alarms; }
    void Form_ShowMe();
    /// Shows the fields' values (after the settings were read).
    void loadFields();
    void Form_Deactivate();

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    void optErrorsChanged();
    /// Refuses an SMTP password the settings cannot hold as typed: says so and puts the last
    /// one back in the box (and the focus in it with `refocus`).
    void checkPassword(bool refocus);
    /// The window's groups of fields, built once by the constructor, then tied to the fields.
    void buildScheduleGroup();
    void buildStartupGroup();
    void buildMailGroup();
    void buildButtons();
    void connectStartupFields();
    void connectMailFields();

    program::SecondaryOptionsFields& m_fields;
    Actions m_actions;
    AlarmHandler m_alarms;
    cadenzo::CadenzoControl* m_cadenzo;
    QCheckBox* m_startup;
    QCheckBox* m_minimize;
    QLineEdit* m_mese;
    QScrollBar* m_vscrMese;
    QRadioButton* m_optErrors[3];
    QRadioButton* m_optErrorsType[2];
    QButtonGroup* m_optErrorsGroup = nullptr;
    QButtonGroup* m_optErrorsTypeGroup = nullptr;
    QLineEdit* m_smtp;
    QCheckBox* m_autentifica;
    QLineEdit* m_user;
    QLineEdit* m_pwd;
    bool m_loading = false;
    bool m_checkingPassword = false;
};

} // namespace zs::shell
