#pragma once
// The Bus & Task page of the options dialog without its window: the logins read from the
// settings by path (passwords decoded), the task call that drives the bus System and Session
// controls through their dispatch ids, and the change of a stored password.

#include "program/Settings.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zs::automation {
class ClassRegistry;
class Dispatchable;
} // namespace zs::automation

namespace zs::program {
class MessageService;
class ProgramLog;
class SettingsStore;
} // namespace zs::program

namespace zs::dialogs {

class Prompts;

inline constexpr const char* kSystemProgId = "KOR8_API.System";
inline constexpr const char* kSessionProgId = "KOR8_API.Session";

/// Dispatch ids of the two controls (the bus library's contract).
namespace dispid {
namespace system {
inline constexpr int SystemHandle = 1, Machine = 5, Port = 6, Environment = 7, SystemUserId = 8, SystemPassword = 9,
                     Close = 10, Login = 11, GetLastStatusCodes = 13;
}
namespace session {
inline constexpr int ParamListCount = 2, ParamList = 3, Environment = 11, OperatorId = 12, OperatorPassword = 13,
                     CoDiv = 14, SystemHandle = 15, TaskName = 16, EnablePrinterEvents = 17, Close = 20, Open = 21,
                     ExecTask = 22;
}
} // namespace dispid

/// The six logins as the settings hold them, passwords in clear.
using BusAndTaskSettings = program::BusAndTaskLogin;

BusAndTaskSettings ReadBusAndTaskSettings(const program::SettingsStore& store);

/// A 32-bit number as the failure line writes it: a leading blank when not negative.
std::string signedNumber(std::int32_t n);
/// "Errore durante la fase di Bus&Task" CR LF "LastErr: …".
std::string BusAndTaskFailureLine(std::int32_t lastErr, std::int32_t stat, std::int32_t reason, std::int32_t subError);

/// Runs one platform task. The controls are created from the class registry by their ProgIDs
/// on the first call and kept for the dialog's life.
class BusAndTaskCaller {
  public:
    BusAndTaskCaller(const automation::ClassRegistry* registry, program::SettingsStore& store,
                     program::ProgramLog* log);
    ~BusAndTaskCaller();

    /// `ok` is true exactly when ExecTask returned true. A control that is not available or a
    /// member call that fails is logged as a failed task; the logins opened so far are closed.
    void BusAndTask(const std::string& task, const std::string& params, bool& ok);

  private:
    bool ensureControls(std::string& error);
    void log(const std::string& text);

    const automation::ClassRegistry* m_registry;
    program::SettingsStore& m_store;
    program::ProgramLog* m_log;
    std::unique_ptr<automation::Dispatchable> m_system;
    std::unique_ptr<automation::Dispatchable> m_session;
};

enum class PasswordKind { System, Operator };

/// The change of a Bus & Task password after its box was left (or Enter pressed): when the box
/// differs from the stored password, the prompt asks for it again; a matching second entry is
/// stored encoded and the settings saved, a different one shows the mismatch message. Returns
/// the text the box must show afterwards.
std::string ChangeBusAndTaskPassword(program::SettingsStore& store, PasswordKind kind, const std::string& boxText,
                                     Prompts& prompts, program::MessageService& messages);

} // namespace zs::dialogs
