#pragma once
// frmWizard: the six-page configuration wizard. The page flow, texts, recap and the settings it
// reads and writes live in WizardModel; this window shows them.

#include "dialogs/core/WizardModel.h"
#include "program/ShellServices.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QStackedLayout;
class QWidget;

namespace zs::flatui {
class FlatButtonWidget;
}

namespace zs::program {
class SettingsStore;
struct ProgramSettings;
class MessageService;
} // namespace zs::program

namespace zs::dialogs {

class Prompts;

class frmWizard : public QDialog, public program::ConfigurationWizard {
    Q_OBJECT
  public:
    /// `cubes` (may be null) takes the OLAP server and database at Finish.
    frmWizard(program::SettingsStore& store, program::ProgramSettings& values, program::MessageService& messages,
              Prompts& prompts, program::CubeWindow* cubes, QWidget* parent = nullptr);

    /// Reads the settings into the fields, opens on page 1 in the middle of the screen and
    /// waits until the window closes.
    void showModal() override;
    /// Whether the last showing ended with Fine and the settings file written.
    bool saved() const { return m_saved; }
    int PassoCorrente() const { return m_flow.PassoCorrente(); }
    /// The fields as the window holds them now.
    WizardFields fields() const;

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    /// The control of page `page` that takes the focus when the page is shown.
    QWidget* firstField(int page) const;
    /// The fields from the settings as they are now, page 1 shown.
    void load();
    void centreOnScreen();
    void MostraPasso(int n);
    void setFields(const WizardFields& f);
    void showBusFields(bool visible);
    /// The six pages, the buttons and the window's layout, built once by the constructor.
    void buildTargetPage();
    void buildAccessPage();
    void buildServerPage();
    void buildOlapPage();
    void buildBusPage();
    void buildRecapPage();
    void buildButtons();
    void layOut(QStackedLayout* stack);
    void fine();
    /// Refuses a password of `page` (every page with 0) that cannot be stored as typed: says
    /// so, shows its page, empties its box (both database boxes) and gives it the focus.
    bool passwordRefused(int page);
    void cancel();
    void chooseAccess();

    program::SettingsStore& m_store;
    program::ProgramSettings& m_values;
    program::MessageService& m_messages;
    Prompts& m_prompts;
    program::CubeWindow* m_cubes;
    WizardFlow m_flow;
    bool m_saved = false;

    QWidget* m_pages[6] = {};
    QLabel* m_lblStep1;
    QLabel* m_lblStep2;
    QLabel* m_lblCopyright;
    QLabel* m_lblServer;
    QRadioButton* m_optStep1[4] = {};
    QRadioButton* m_optStep5[2] = {};
    QLineEdit* m_txtAccess;
    QLineEdit* m_txtServerName;
    QLineEdit* m_txtDb;
    QLineEdit* m_txtLogin;
    QLineEdit* m_txtPassword[2] = {};
    QLineEdit* m_txtserverolap;
    QLineEdit* m_txtdbolap;
    QLineEdit* m_txtVevira;
    QLineEdit* m_txtsyslogin;
    QLineEdit* m_txtSysPwd;
    QLineEdit* m_txtOpLogin;
    QLineEdit* m_txtOpPwd;
    QLineEdit* m_txtCoDiv;
    QLabel* m_lblStep5[6] = {};
    QPlainTextEdit* m_txtRecap;
    flatui::FlatButtonWidget* m_flbIndietro;
    flatui::FlatButtonWidget* m_flbAvanti;
    flatui::FlatButtonWidget* m_flbCancella;
    flatui::FlatButtonWidget* m_flbfine;
};

} // namespace zs::dialogs
