#pragma once
// frmLogin: the small modal password prompt ("Ripeti la password per conferma.").

#include <QDialog>

#include <string>

class QLineEdit;

namespace zs::dialogs {

class frmLogin : public QDialog {
    Q_OBJECT
  public:
    explicit frmLogin(QWidget* parent = nullptr);
    /// Shows the prompt modally under `caption`; the typed text, "" after Cancel or closing.
    std::string ShowMe(const std::string& caption);
    /// The width at which a title bar shows `caption` whole.
    int widthForCaption(const QString& caption) const;

  private:
    QLineEdit* m_password;
};

} // namespace zs::dialogs
