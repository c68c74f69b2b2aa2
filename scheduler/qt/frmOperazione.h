#pragma once
// The modal dialog in which the operator creates or changes one scheduled operation. One
// instance serves the whole library and is only hidden between uses, so its lists and check
// box keep their state. The rules live in OperazioneForm; this class only shows them.

#include "scheduler/OperazioneForm.h"

#include <QDialog>

class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace zs::time {
class Clock;
}

namespace zs::cadenzo {

struct AppearanceProps;

class frmOperazione : public QDialog {
    Q_OBJECT
  public:
    explicit frmOperazione(SchedulerState& state, QWidget* parent = nullptr);

    /// Opens the dialog for a new operation dated from `clock`; returns when it is hidden again.
    void Aggiungi(const time::Clock& clock);
    /// Opens the dialog on the operation at 1-based position j; does nothing when there is none.
    void Modifica(int j);

    void applyAppearance(const AppearanceProps& props);
    OperazioneForm& form() { return m_form; }

  protected:
    /// The dialog has no title bar: its frame keeps it apart from the window behind.
    void paintEvent(QPaintEvent* e) override;

  private:
    void showForm();
    void readFields();
    void conferma();
    void calendarioClicked();

    OperazioneForm m_form;
    QLabel* m_title;
    QComboBox* m_azione;
    QLineEdit* m_data;
    QToolButton* m_imgCalendario;
    QCalendarWidget* m_calendar;
    QLineEdit* m_ora;
    QLineEdit* m_minuti;
    QComboBox* m_periodicita;
    QComboBox* m_escludi;
    QCheckBox* m_abilitato;
    QToolButton* m_conferma;
    QToolButton* m_annulla;
};

} // namespace zs::cadenzo
