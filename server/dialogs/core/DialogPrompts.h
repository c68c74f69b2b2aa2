#pragma once
// The modal questions, file pickers and the password prompt the configuration dialogs raise.
// The Qt host shows real dialogs (each with a "next answer" hook for tests); the Qt-free logic
// only sees this interface.

#include <optional>
#include <string>

namespace zs::dialogs {

/// What the common open-file dialog is asked to show.
struct FileDialogRequest {
    std::string title;
    std::string filter; ///< "XML files (*.xml)|*.xml|All files (*.*)|*.*"
    std::string folder; ///< starting folder
    std::string fileName;
};

/// The icon of a Yes/No question.
enum class QuestionIcon { question, information };

class Prompts {
  public:
    virtual ~Prompts() = default;
    /// A Yes/No question; true for Yes.
    virtual bool askYesNo(const std::string& text, const std::string& title,
                          QuestionIcon icon = QuestionIcon::question) = 0;
    /// The chosen file's full path, or nothing when the operator cancelled.
    virtual std::optional<std::string> openFile(const FileDialogRequest& request) = 0;
    /// The password prompt (frmLogin.ShowMe): the typed text, "" after Cancel.
    virtual std::string askPassword(const std::string& caption) = 0;
};

} // namespace zs::dialogs
