#pragma once
// frmLogin: the small modal password prompt ("Ripeti la password per conferma.").

#include <QDialog>

#include <string>

class QLineEdit;

namespace zs::program {
class MessageService;
}

namespace zs::dialogs {

class frmLogin : public QDialog {
    Q_OBJECT
  public:
    /// `messages` says why a password that cannot be stored is refused (a plain box when null).
    explicit frmLogin(QWidget* parent = nullptr, program::MessageService* messages = nullptr);
    /// Shows the prompt modally under `caption`; the typed text, "" after Cancel or closing.
    std::string ShowMe(const std::string& caption);
    /// The width at which a title bar shows `caption` whole.
    int widthForCaption(const QString& caption) const;

  private:
    void confirm();

    QLineEdit* m_password;
    program::MessageService* m_messages;
};

} // namespace zs::dialogs
