#pragma once
// The two controls driven as the program drives them, on one thread: by the tests against the
// daemon double, and by a host of their own.

#include "Controls.h"

#include "automation/ClassRegistry.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zs::k8bus::test {

/// A PrintLine event as the host receives it.
struct PrintedLine {
    int format = 0, type = 0, ctrl = 0;
    std::string text;
    bool operator==(const PrintedLine&) const = default;
};

inline void PrintTo(const PrintedLine& l, std::ostream* os)
{
    *os << "{" << l.format << ", " << l.type << ", " << l.ctrl << ", \"" << l.text << "\"}";
}

class ProgramControls {
  public:
    using InvokeKind = automation::InvokeKind;
    using Variant = automation::Variant;

    /// keyed: keyed parameters with a 64-byte buffer, else list mode ("A=1").
    ProgramControls(int port, bool keyed)
        : m_keyed(keyed)
    {
        registerClasses(m_registry);
        m_system = m_registry.create(kSystemProgId);
        m_session = m_registry.create(kSessionProgId);
        call(*m_system, 5, InvokeKind::Put, {Variant("127.0.0.1")});
        call(*m_system, 6, InvokeKind::Put, {Variant(static_cast<std::int32_t>(port))});
        call(*m_system, 11, InvokeKind::Method);
        call(*m_session, 15, InvokeKind::Put, {call(*m_system, 1, InvokeKind::Get)});
        if (keyed) {
            call(*m_session, 4, InvokeKind::Put, {Variant(std::int32_t{64})});
            call(*m_session, 23, InvokeKind::Put, {Variant("K"), Variant("v")});
        } else {
            call(*m_session, 3, InvokeKind::Put, {Variant("A=1")});
        }
    }
    ~ProgramControls()
    {
        call(*m_session, 20, InvokeKind::Method);
        call(*m_system, 10, InvokeKind::Method);
    }
    int open() { return call(*m_session, 21, InvokeKind::Method).toInt32(); }
    bool close() { return call(*m_session, 20, InvokeKind::Method).toBool(); }
    /// Printer events on (on an open session): every PrintLine the session fires is kept in `printed`.
    void recordPrintedLines()
    {
        m_session->events().connect([this](automation::DispId, std::span<Variant> a) {
            printed.push_back({a[1].toInt32(), a[2].toInt32(), a[3].toInt32(), a[5].toString()});
        });
        call(*m_session, 17, InvokeKind::Put, {Variant(true)});
    }
    /// Runs `task`; its result and the output it handed back.
    std::pair<bool, std::string> exec(const std::string& task)
    {
        call(*m_session, 16, InvokeKind::Put, {Variant(task)});
        const bool ok = call(*m_session, 22, InvokeKind::Method).toBool();
        const std::string out = m_keyed ? call(*m_session, 26, InvokeKind::Get, {Variant("WHO")}).toString()
                                        : call(*m_session, 8, InvokeKind::Get).toString();
        return {ok, out};
    }
    std::string own(const std::string& task) const { return m_keyed ? task : "WHO=" + task; }

    std::vector<PrintedLine> printed;

  private:
    static Variant call(automation::Dispatchable& o, int id, InvokeKind kind, std::vector<Variant> args = {})
    {
        return o.dispatchTable().invoke(o, id, kind, args).value;
    }
    bool m_keyed;
    automation::ClassRegistry m_registry;
    std::unique_ptr<automation::Dispatchable> m_system, m_session;
};

} // namespace zs::k8bus::test
