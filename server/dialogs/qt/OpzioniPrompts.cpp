#include "dialogs/qt/OpzioniPrompts.h"

#include "dialogs/qt/LoginWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace zs::dialogs {

QtPrompts::QtPrompts(QWidget* parent, program::MessageService* messages)
    : m_parent(parent)
    , m_messages(messages)
{}
QtPrompts::~QtPrompts()
{
    delete m_login.data();
}

std::deque<bool>& QtPrompts::nextYesNo()
{
    static std::deque<bool> q;
    return q;
}
std::deque<std::optional<std::string>>& QtPrompts::nextFile()
{
    static std::deque<std::optional<std::string>> q;
    return q;
}
std::deque<std::string>& QtPrompts::nextPassword()
{
    static std::deque<std::string> q;
    return q;
}

bool QtPrompts::askYesNo(const std::string& text, const std::string& title, QuestionIcon icon)
{
    if (!nextYesNo().empty()) {
        const bool a = nextYesNo().front();
        nextYesNo().pop_front();
        return a;
    }
    // The box belongs to the window that asks (the wizard over the main window), so it stays
    // in front of it.
    QWidget* owner = QApplication::activeModalWidget();
    QMessageBox box(icon == QuestionIcon::information ? QMessageBox::Information : QMessageBox::Question,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                    owner ? owner : m_parent);
    box.setObjectName("messageBox");
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtPrompts::openFile(const FileDialogRequest& r)
{
    if (!nextFile().empty()) {
        auto a = nextFile().front();
        nextFile().pop_front();
        return a;
    }
    // "XML files (*.xml)|*.xml|All files (*.*)|*.*" -> "XML files (*.xml);;All files (*.*)"
    const QStringList parts = QString::fromStdString(r.filter).split('|');
    QStringList filters;
    for (int i = 0; i < parts.size(); i += 2)
        filters << parts[i];
    const QString start =
        QString::fromStdString(r.folder) + (r.fileName.empty() ? "" : "/" + QString::fromStdString(r.fileName));
    const QString chosen = QFileDialog::getOpenFileName(m_parent, QString::fromStdString(r.title), start,
                                                        filters.join(";;"), nullptr, QFileDialog::ReadOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

std::string QtPrompts::askPassword(const std::string& caption)
{
    if (!nextPassword().empty()) {
        auto a = nextPassword().front();
        nextPassword().pop_front();
        return a;
    }
    if (!m_login)
        m_login = new frmLogin(m_parent, m_messages);
    return m_login->ShowMe(caption);
}

} // namespace zs::dialogs
