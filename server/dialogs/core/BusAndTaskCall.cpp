#include "dialogs/core/BusAndTaskCall.h"

#include "dialogs/core/DialogPrompts.h"

#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "program/PasswordCodec.h"
#include "program/ProgramLog.h"
#include "program/SettingsStore.h"
#include "program/ShellServices.h"

#include <vector>

namespace zs::dialogs {

using automation::CallResult;
using automation::Dispatchable;
using automation::InvokeKind;
using automation::Variant;

BusAndTaskSettings ReadBusAndTaskSettings(const program::SettingsStore& store)
{
    BusAndTaskSettings s;
    s.computer = store.LeggiTesto("BusAndTask.computer");
    s.systemUserID = store.LeggiTesto("BusAndTask.systemUserID");
    s.systemPassword = program::storedPasswordText(store.LeggiTesto("BusAndTask.systemPassword"));
    s.operatorUserID = store.LeggiTesto("BusAndTask.operatorUserID");
    s.operatorPassword = program::storedPasswordText(store.LeggiTesto("BusAndTask.operatorPassword"));
    s.coDiv = store.LeggiTesto("BusAndTask.coDiv");
    return s;
}

std::string signedNumber(std::int32_t n)
{
    return n < 0 ? std::to_string(n) : " " + std::to_string(n);
}

std::string BusAndTaskFailureLine(std::int32_t lastErr, std::int32_t stat, std::int32_t reason, std::int32_t subError)
{
    return "Errore durante la fase di Bus&Task\r\nLastErr: " + signedNumber(lastErr) + " Stat: " + signedNumber(stat) +
           " Reason:" + signedNumber(reason) + " SubError:" + signedNumber(subError);
}

BusAndTaskCaller::BusAndTaskCaller(const automation::ClassRegistry* registry, program::SettingsStore& store,
                                   program::ProgramLog* log)
    : m_registry(registry)
    , m_store(store)
    , m_log(log)
{}

BusAndTaskCaller::~BusAndTaskCaller() = default;

void BusAndTaskCaller::log(const std::string& text)
{
    // A failed task is a failed step: an error line under the step's own line, which turns red.
    if (m_log)
        m_log->OutputResponse(text, true, 1);
}

bool BusAndTaskCaller::ensureControls(std::string& error)
{
    if (!m_system && m_registry)
        m_system = m_registry->create(kSystemProgId);
    if (!m_session && m_registry)
        m_session = m_registry->create(kSessionProgId);
    if (m_system && m_session)
        return true;
    error = std::string("controllo ") + (m_system ? kSessionProgId : kSystemProgId) + " non disponibile";
    return false;
}

namespace {

/// One call on a control; remembers the first failure so the rest of the call is skipped.
class Caller {
  public:
    explicit Caller(std::string& error)
        : m_error(error)
    {}

    Variant put(Dispatchable& o, int id, Variant value)
    {
        std::vector<Variant> args{std::move(value)};
        return run(o, id, InvokeKind::Put, args);
    }
    Variant get(Dispatchable& o, int id)
    {
        std::vector<Variant> args;
        return run(o, id, InvokeKind::Get, args);
    }
    Variant call(Dispatchable& o, int id, std::vector<Variant>& args) { return run(o, id, InvokeKind::Method, args); }
    Variant call(Dispatchable& o, int id)
    {
        std::vector<Variant> args;
        return run(o, id, InvokeKind::Method, args);
    }
    bool failed() const { return !m_error.empty(); }

  private:
    Variant run(Dispatchable& o, int id, InvokeKind kind, std::vector<Variant>& args)
    {
        if (failed())
            return {};
        const CallResult r = o.dispatchTable().invoke(o, id, kind, args);
        if (!r.ok) {
            m_error = o.dispatchTable().className() + " (" + std::to_string(id) + "): errore " +
                      std::to_string(r.errorNumber) + " " + r.errorText;
            return {};
        }
        return r.value;
    }
    std::string& m_error;
};

} // namespace

void BusAndTaskCaller::BusAndTask(const std::string& task, const std::string& params, bool& ok)
{
    ok = false;
    std::string error;
    if (!ensureControls(error)) {
        log("Errore durante la fase di Bus&Task\r\n" + error);
        return;
    }
    // Read at every call: a change made by the wizard or the password boxes counts at once.
    const BusAndTaskSettings s = ReadBusAndTaskSettings(m_store);
    Dispatchable& sys = *m_system;
    Dispatchable& ses = *m_session;
    namespace ds = dispid::system;
    namespace dn = dispid::session;

    Caller c(error);
    c.put(sys, ds::Machine, Variant(s.computer));
    c.put(sys, ds::Port, Variant(std::int16_t{0}));
    c.put(sys, ds::Environment, Variant(""));
    c.put(sys, ds::SystemUserId, Variant(s.systemUserID));
    c.put(sys, ds::SystemPassword, Variant(s.systemPassword));
    c.call(sys, ds::Login);
    const Variant handle = c.get(sys, ds::SystemHandle);
    std::int32_t systemHandle = 0;
    if (!c.failed()) {
        try {
            systemHandle = handle.toInt32();
        } catch (...) {
            error = "SystemHandle non valido";
        }
    }
    c.put(ses, dn::SystemHandle, Variant(systemHandle));
    c.put(ses, dn::Environment, Variant(""));
    c.put(ses, dn::OperatorId, Variant(s.operatorUserID));
    c.put(ses, dn::OperatorPassword, Variant(s.operatorPassword));
    c.put(ses, dn::CoDiv, Variant(s.coDiv));
    c.call(ses, dn::Open);
    c.put(ses, dn::ParamList, Variant(params));
    c.put(ses, dn::ParamListCount, Variant(std::int16_t{0}));
    c.put(ses, dn::EnablePrinterEvents, Variant(true));
    c.put(ses, dn::TaskName, Variant(task));
    const Variant result = c.call(ses, dn::ExecTask);
    bool outcome = false;
    if (!c.failed()) {
        try {
            outcome = result.toBool();
        } catch (...) {
            outcome = false;
        }
    }

    if (c.failed()) {
        // A failing member must neither end as success nor leave the logins open.
        log("Errore durante la fase di Bus&Task\r\n" + error);
        std::vector<Variant> none;
        std::vector<Variant> off{Variant(false)};
        ses.dispatchTable().invoke(ses, dn::EnablePrinterEvents, InvokeKind::Put, off);
        ses.dispatchTable().invoke(ses, dn::Close, InvokeKind::Method, none);
        sys.dispatchTable().invoke(sys, ds::Close, InvokeKind::Method, none);
        ok = false;
        return;
    }

    std::vector<Variant> codes{Variant(std::int32_t{0}), Variant(std::int32_t{0}), Variant(std::int32_t{0})};
    const Variant lastErr = c.call(sys, ds::GetLastStatusCodes, codes);
    if (!outcome) {
        auto num = [](const Variant& v) {
            try {
                return v.toInt32();
            } catch (...) {
                return std::int32_t{0};
            }
        };
        log(BusAndTaskFailureLine(num(lastErr), num(codes[0]), num(codes[1]), num(codes[2])));
    }
    error.clear(); // the closing calls run whatever happened before
    c.put(ses, dn::EnablePrinterEvents, Variant(false));
    c.call(ses, dn::Close);
    c.call(sys, ds::Close);
    ok = outcome;
}

std::string ChangeBusAndTaskPassword(program::SettingsStore& store, PasswordKind kind, const std::string& boxText,
                                     Prompts& prompts, program::MessageService& messages)
{
    const bool system = kind == PasswordKind::System;
    const std::string attribute = system ? "systemPassword" : "operatorPassword";
    const std::string path = "BusAndTask." + attribute;
    const std::string stored = program::storedPasswordText(store.LeggiTesto(path));
    if (boxText == stored)
        return boxText;
    if (!program::PasswordCodificabile(boxText)) {
        messages.show(program::kPasswordNonCodificabile, program::MessageIcon::Exclamation, "Attenzione.");
        return stored;
    }
    const std::string again = prompts.askPassword(system ? "Cambio password di sistema per accesso Bus&Task"
                                                         : "Cambio password dell'operatore per accesso Bus&Task");
    if (again != boxText) {
        messages.show("la seconda password non corrisponde con la prima. Ritentare", program::MessageIcon::Information,
                      "Attenzione.");
        return stored;
    }
    std::string error;
    if (!store.ScriviImpostazione(path, program::CodificaPassword(boxText)) || !store.SalvaImpostazioni(&error)) {
        messages.show("Impossibile salvare la nuova password: " + (error.empty() ? "impostazioni non caricate" : error),
                      program::MessageIcon::Exclamation, "Attenzione.");
    }
    return boxText;
}

} // namespace zs::dialogs
