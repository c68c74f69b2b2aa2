#pragma once
// What the settings store and the run control need of the windows: the cube window, the
// options dialog, the main window and message boxes. The Qt windows implement these; tests
// implement them with recording doubles.

#include "program/Settings.h"

#include <string>
#include <vector>

namespace zs::engine {
class StepTree;
}

namespace zs::program {

/// The cube window (frmCubi) as the shell and the settings store use it.
class CubeWindow {
  public:
    virtual ~CubeWindow() = default;
    /// Shows the window and brings it to the front.
    virtual void Form_ShowMe() = 0;
    /// Processes dimensions and cubes as the cube list says, logging through the run window.
    virtual bool process() = 0;
    virtual void set_MacchinaOLAP(const std::string& name) = 0;
    virtual void set_DatabaseCubi(const std::string& name) = 0;
    virtual void Inizializza() = 0;
    virtual void modifyCube(const std::string& nome, RefreshChoice aggiornamento, const std::string& data) = 0;
    virtual void AggiornaTabellaCubi() = 0;
    virtual std::string txtDsoServer() const = 0;
    virtual std::string txtDsoDb() const = 0;
    /// ElencoCubi from 1 to NumeroCubi.
    virtual std::vector<InfoCubo> cubes() const = 0;
};

/// The options dialog (frmOpzioni) as the shell, the settings store and the engine use it.
class OptionsDialog {
  public:
    virtual ~OptionsDialog() = default;
    /// Shows the window and brings it to the front.
    virtual void Form_ShowMe() = 0;
    /// Reloads the loading XML and rebuilds the step tree; with `keepTicks` the steps ticked
    /// before stay ticked. Ends by saving the settings.
    virtual void RicaricaModuli(bool keepTicks) = 0;
    /// The step tree (tvXML) the run reads its ticks from.
    virtual engine::StepTree& tvXML() = 0;
    /// Logs in to the bus, runs `task` with `parameters`; `ok` tells whether the task ran.
    virtual void BusAndTask(const std::string& task, const std::string& parameters, bool& ok) = 0;
    /// Appends text (no line break added) to the database-creation result box.
    virtual void OutputResponseDB(const std::string& text) = 0;
    virtual void set_Computer(const std::string& text) = 0;
    virtual void set_SystemUserID(const std::string& text) = 0;
    virtual void set_SystemPassword(const std::string& text) = 0;
    virtual void set_OperatorUserID(const std::string& text) = 0;
    virtual void set_OperatorPassword(const std::string& text) = 0;
    virtual void set_CoDiv(const std::string& text) = 0;
};

/// The configuration wizard (frmWizard), shown modally.
class ConfigurationWizard {
  public:
    virtual ~ConfigurationWizard() = default;
    /// Shows the wizard and returns when it closes.
    virtual void showModal() = 0;
};

class MainWindow {
  public:
    virtual ~MainWindow() = default;
    /// Writes (true) or removes (false) the start-with-the-desktop entry.
    virtual void ChangeStartup(bool enabled) = 0;
};

enum class MessageIcon { Critical, Question, Exclamation, Information };

/// The buttons of a modal question.
enum class MessageButtons { RetryCancel, YesNo, AbortRetryIgnore };
enum class MessageAnswer { Retry, Cancel, Yes, No, Abort, Ignore };

/// The answer that ends the waiting: Cancel for Retry/Cancel, No for Yes/No, Abort for
/// Abort/Retry/Ignore.
constexpr MessageAnswer endingAnswer(MessageButtons buttons)
{
    return buttons == MessageButtons::RetryCancel ? MessageAnswer::Cancel
           : buttons == MessageButtons::YesNo     ? MessageAnswer::No
                                                  : MessageAnswer::Abort;
}

/// Modal messages. The Qt host shows a message box; tests record the calls.
class MessageService {
  public:
    virtual ~MessageService() = default;
    virtual void show(const std::string& text, MessageIcon icon, const std::string& title) = 0;
    /// Asks a question with `buttons`. A service that cannot ask, and a box nobody answers in a
    /// scheduled run, gives the answer that ends the waiting (endingAnswer).
    virtual MessageAnswer ask(const std::string& /*text*/, MessageIcon /*icon*/, const std::string& /*title*/,
                              MessageButtons buttons)
    {
        return endingAnswer(buttons);
    }
};

/// Lets pending window events run (the Qt host processes its event queue).
class YieldHook {
  public:
    virtual ~YieldHook() = default;
    virtual void yield() = 0;
};

} // namespace zs::program
