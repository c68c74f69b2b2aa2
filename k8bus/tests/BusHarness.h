#pragma once
// Shared set-up of the bus tests: a private environment (HOME, XDG_*, TMPDIR-like trace
// folder), no system log, short bounded waits, and a helper that runs library calls on a fresh
// thread so each test starts with empty per-thread state.

#include "ErrorLog.h"
#include "EventLog.h"
#include "Profile.h"
#include "Socket.h"
#include "TraceLog.h"

#include "DaemonDouble.h"
#include "testsupport/TestEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

namespace zs::k8bus::test {

/// Waits short enough for the hostile cases, long enough for a loaded machine.
inline SockTimeouts shortTimeouts()
{
    SockTimeouts t;
    t.firstRead = 0;
    t.nextRead = 1000;
    t.bound = 1500;
    t.connect = 2000;
    return t;
}

/// Runs `fn` on a new thread (fresh per-thread state) and waits for it.
inline void onFreshThread(const std::function<void()>& fn)
{
    std::thread([&] {
        sockSetTimeouts(shortTimeouts());
        fn();
    }).join();
}

struct StatusTriple {
    int last = 0, status = 0, reason = 0, sub = 0;
    static StatusTriple read()
    {
        StatusTriple t;
        t.last = k8GetLastStatusCodes(&t.status, &t.reason, &t.sub);
        return t;
    }
    bool operator==(const StatusTriple&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const StatusTriple& t)
{
    return o << "last " << t.last << " (" << t.status << ", " << t.reason << ", " << t.sub << ")";
}

/// The daemon's side of a log-in: reads the request and answers it with session `session`.
/// False when the client went away (or kept silent) instead.
inline bool answerLogin(k8test::DaemonConnection& c, long session)
{
    if (!c.next())
        return false;
    c.send(k8test::Reply(2).info(1, 0, session));
    return true;
}

class BusTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        setTraceFolderOverride(m_env.root().string());
        setEventLogSocketPath((m_env.root() / "no-syslog").string());
        profileResetForTests();
        m_windir.emplace("WINDIR", m_env.root().string());
    }
    void TearDown() override
    {
        m_windir.reset();
        setTraceFolderOverride({});
        profileResetForTests();
    }
    std::string traceText() const { return zs::test::readFile(m_env.root() / "k8bus.log"); }

    zs::test::ScopedTestEnv m_env;
    std::optional<zs::test::ScopedEnvVar> m_windir;
};

} // namespace zs::k8bus::test
