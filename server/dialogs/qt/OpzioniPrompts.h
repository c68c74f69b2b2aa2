#pragma once
// The Qt side of the dialogs' prompts: Yes/No questions, the open-file dialog and the password
// prompt frmLogin. Each has a "next answer" hook: a queued answer is returned instead of showing
// the dialog, so tests drive the real windows offscreen.

#include "dialogs/core/DialogPrompts.h"

#include <QPointer>

#include <deque>
#include <optional>
#include <string>

class QWidget;

namespace zs::program {
class MessageService;
}
#include "dialogs/qt/LoginWindow.h"
namespace zs::dialogs {

class QtPrompts : public Prompts {
  public:
    /// `messages` tells the operator why the password prompt refused what was typed.
    explicit QtPrompts(QWidget* parent = nullptr, program::MessageService* messages = nullptr);
    ~QtPrompts() override;

    bool askYesNo(const std::string& text, const std::string& title, QuestionIcon icon) override;
    std::optional<std::string> openFile(const FileDialogRequest& request) override;
    std::string askPassword(const std::string& caption) override;

    /// Answers taken, in order, by the next questions, file choices (nothing = cancelled)
    /// and password prompts of any QtPrompts.
    static std::deque<bool>& nextYesNo();
    static std::deque<std::optional<std::string>>& nextFile();
    static std::deque<std::string>& nextPassword();

  private:
    QWidget* m_parent;
    program::MessageService* m_messages;
    QPointer<frmLogin> m_login; // created on first use, reused afterwards
};

} // namespace zs::dialogs
