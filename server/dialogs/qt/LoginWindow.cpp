#include "dialogs/qt/LoginWindow.h"

#include "program/PasswordCodec.h"
#include "program/ShellServices.h"

#include "dialogs/qt/PasswordEcho.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QVBoxLayout>

#include <algorithm>

namespace zs::dialogs {

frmLogin::frmLogin(QWidget* parent, program::MessageService* messages)
    : QDialog(parent)
    , m_messages(messages)
{
    setObjectName("frmLogin");
    setWindowTitle("Accesso");
    setModal(true);
    auto* label = new QLabel("Ripeti la password per conferma.", this);
    label->setObjectName("Label1");
    m_password = new QLineEdit(this);
    m_password->setObjectName("txtPassword");
    maskWithStars(*m_password);
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
    connect(ok, &QPushButton::clicked, this, &frmLogin::confirm);
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_password->clear();
        reject();
    });
}

void frmLogin::confirm()
{
    // A password the settings cannot hold as typed is refused here, before anyone compares it.
    if (!program::PasswordCodificabile(m_password->text().toStdString())) {
        if (m_messages)
            m_messages->show(program::kPasswordNonCodificabile, program::MessageIcon::Exclamation, "Attenzione.");
        else
            QMessageBox::warning(this, QStringLiteral("Attenzione."),
                                 QString::fromUtf8(program::kPasswordNonCodificabile));
        m_password->clear();
        m_password->setFocus();
        return;
    }
    accept();
}

int frmLogin::widthForCaption(const QString& caption) const
{
    // The title bar's buttons and margins, as the style lays them out, beside the text itself.
    QStyleOptionTitleBar opt;
    opt.initFrom(this);
    opt.text = caption;
    opt.subControls = QStyle::SC_All;
    opt.titleBarFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    constexpr int kProbe = 1000;
    opt.rect = QRect(0, 0, kProbe, style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, this));
    const QRect label = style()->subControlRect(QStyle::CC_TitleBar, &opt, QStyle::SC_TitleBarLabel, this);
    const int chrome = kProbe - std::min(label.width(), kProbe);
    // Window managers draw titles in a face of their own (the desktop's sans-serif as a rule),
    // bold and often larger than the window's: the wider of the two, bold, at 11 points at least.
    const double points = std::max(font().pointSizeF(), 11.0);
    QFont own = font();
    own.setBold(true);
    own.setPointSizeF(points);
    QFont desktop(QStringLiteral("Sans"));
    desktop.setStyleHint(QFont::SansSerif);
    desktop.setBold(true);
    desktop.setPointSizeF(points);
    const int text =
        std::max(QFontMetrics(own).horizontalAdvance(caption), QFontMetrics(desktop).horizontalAdvance(caption));
    // Beside the text the window's icon and its buttons (minimize, maximize, close), each about
    // as wide as the bar is high, and the margins around them.
    const int bar = opt.rect.height();
    return text + std::max(chrome, 5 * bar + 16);
}

std::string frmLogin::ShowMe(const std::string& caption)
{
    m_password->clear();
    setWindowTitle(QString::fromStdString(caption));
    // The caption says which password is asked: the window is wide enough to show it whole.
    resize(std::max(sizeHint().width(), widthForCaption(windowTitle())), std::max(height(), sizeHint().height()));
    // Closing by the title bar counts as Cancel: the caller then sees a mismatch.
    if (exec() != QDialog::Accepted)
        return {};
    return m_password->text().toStdString();
}

} // namespace zs::dialogs
