#pragma once
// frmJob ("Proprietà"): shows one step of the loading XML read-only, its jobs one at a time.

#include "dialogs/core/JobViewerModel.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace zs::dialogs {

class frmJob : public QDialog {
    Q_OBJECT
  public:
    explicit frmJob(QWidget* parent = nullptr);
    /// Fills the window from `job`; with `modal` shows it and returns when it closes.
    void ShowMe(const xml::Element& job, bool modal = true);

  private:
    JobView m_view;
    QLineEdit *m_txtDescrizione, *m_txtNome, *m_txtContatore, *m_txtSvuota, *m_txtRiempi, *m_txtValore;
    QCheckBox *m_chkSvuota, *m_chkAzzera, *m_chkIncrementale, *m_chkAutoUpdate;
    QComboBox *m_cmbJob, *m_cmbdatatype;
    QPlainTextEdit* m_txtJob;
};

} // namespace zs::dialogs
