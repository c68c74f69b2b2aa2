#pragma once
// The two automation classes of the bus library, over the core in Bus.h: the System control
// (a login to a bus daemon) and the Session control (a kernel session that runs tasks and raises
// PrintLine for report output). Texts are UTF-8 at the host's side and Windows-1252 on the bus.
// Neither draws anything here: they are invisible at run time and hosts drive them by dispatch id.

#include "automation/Dispatch.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

#define K8API_CXX_EXPORT __attribute__((visibility("default")))

namespace zs::automation {
class ClassRegistry;
}

namespace zs::k8bus {

inline constexpr const char* kSystemProgId = "KOR8_API.System";
inline constexpr const char* kSessionProgId = "KOR8_API.Session";
inline constexpr const char* kTypeLibId = "{C9B8FCAA-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSystemDispId = "{C9B8FCAB-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSystemEventsId = "{C9B8FCAC-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSystemClsid = "{C9B8FCAD-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSessionDispId = "{C9B8FCAF-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSessionEventsId = "{C9B8FCB0-ABD5-11D2-ACAF-00105A1054F5}";
inline constexpr const char* kSessionClsid = "{C9B8FCB1-ABD5-11D2-ACAF-00105A1054F5}";

class CAPI_K8_SystemCtrl : public automation::Dispatchable {
  public:
    const automation::DispatchTable& dispatchTable() const override;
    automation::EventSource& events() override { return m_events; }

    int systemHandle() const { return m_handle; }

  private:
    int m_handle = -1;
    std::string m_machine, m_environment, m_userId, m_password, m_codeSet;
    std::int32_t m_port = 0;
    bool m_debugMode = false;
    automation::EventSource m_events;
};

/// Given by the host: runs on the calling thread while a control's call waits on the bus (the
/// host lets its window events run); false abandons the wait and the call fails.
using HostYield = std::function<bool()>;

class CAPI_K8_SessionCtrl : public automation::Dispatchable {
  public:
    explicit CAPI_K8_SessionCtrl(HostYield yield = {});
    ~CAPI_K8_SessionCtrl() override;
    const automation::DispatchTable& dispatchTable() const override;
    automation::EventSource& events() override { return m_events; }

    std::int32_t open();
    bool execTask();
    bool close();
    void setPrinterEvents(bool on);
    bool printerEvents() const;
    /// Raises PrintLine; called by the library for this control's session.
    void firePrintLine(int session, int format, int type, int lineCtrl, int length, const char* data);

  private:
    friend struct SessionTable;
    int m_session = -1;
    int m_system = -1;
    std::string m_environment, m_coDiv, m_operatorPassword, m_operatorId, m_taskName;
    std::string m_paramList, m_envList, m_paramListOut, m_envListOut;
    std::int32_t m_paramListCount = 0, m_envListCount = 0, m_paramCountOut = 0, m_envCountOut = 0;
    bool m_listMode = false;
    std::map<std::string, std::string> m_param, m_env, m_paramOut, m_envOut;
    std::vector<char> m_paramBuffer, m_envBuffer;
    std::int32_t m_ocxParent = 0;
    HostYield m_yield;
    automation::EventSource m_events;
};

/// Adds KOR8_API.System and KOR8_API.Session to a host's registry. Session controls made from
/// it wait through `yield` (none: a wait simply blocks until its bound).
K8API_CXX_EXPORT void registerClasses(automation::ClassRegistry& registry, HostYield yield = {});

} // namespace zs::k8bus
