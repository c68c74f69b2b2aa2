#pragma once
// Starting the client a task's screen needs. The terminal program is started from the setting
// K8API_CLIENT_CMD ("telnet %s %d" when unset) in the folder K8API_CLIENT_DIR: the command is
// split into an argv first and %s / %d are then replaced in each argument, so a host name can
// never add arguments, and nothing goes through a shell or a printf-style format. The
// platform's window-based client control has no counterpart here: GUI mode is reported as
// failed (error 101) and the terminal client is not started in its place. The session's watch
// learns when a terminal client ends: while one runs, the call waits for the kernel however long
// the operator takes.

#include "ClientWatch.h"

#include <memory>
#include <string>
#include <vector>

namespace zs::k8bus {

/// The argv for host and port from the settings; empty when the command is empty.
std::vector<std::string> buildClientArgv(const std::string& folder, const std::string& commandFormat,
                                         const std::string& host, int port);
/// 1 started, 0 failed (error 45 or 101), -1 unknown session.
int startClient(int session, const char* host, int port, const char* operatorId, const char* operatorPassword,
                bool guiMode);
/// Starts the program without waiting for it; 1 or 0. Where the process has no display (neither
/// DISPLAY nor WAYLAND_DISPLAY) and no terminal of its own, nothing is started: error 45. `watch` (may be null) learns
/// that it runs and, from the thread that reaps it, that it has ended.
int startTextClient(const std::vector<std::string>& argv, std::shared_ptr<ClientWatch> watch = nullptr);
int disconnectClientOcx();

} // namespace zs::k8bus
