#include "dialogs/qt/LoginWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zs::dialogs {

frmLogin::frmLogin(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("frmLogin");
    setWindowTitle("Accesso");
    setModal(true);
    auto* label = new QLabel("Ripeti la password per conferma.", this);
    label->setObjectName("Label1");
    m_password = new QLineEdit(this);
    m_password->setObjectName("txtPassword");
    m_password->setEchoMode(QLineEdit::Password);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Annulla", this);
    cancel->setObjectName("cmdCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_password);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_password->clear();
        reject();
    });
}

std::string frmLogin::ShowMe(const std::string& caption)
{
    m_password->clear();
    setWindowTitle(QString::fromStdString(caption));
    // Closing by the title bar counts as Cancel: the caller then sees a mismatch.
    if (exec() != QDialog::Accepted)
        return {};
    return m_password->text().toStdString();
}

} // namespace zs::dialogs
