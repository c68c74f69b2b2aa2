#pragma once
// Serious failures also go to the system log, as a syslog datagram on /dev/log tagged with the
// event source "Kor32Srv". Which events are written follows the thread's report level, the
// setting "Kor8 Bus" / "K8EventReportLevel" (default 2: errors and warnings).

#include <cstdint>
#include <string>
#include <vector>

namespace zs::k8bus {

inline constexpr const char* kEventSource = "Kor32Srv";

enum class EventType { Error, Warning, Information, Success };

EventType eventTypeOfLevel(int level);
/// Writes one event when `level` is at or below the thread's report level; at most ten texts.
/// Every failure is silent.
void eventReport(int level, std::uint32_t eventId, const std::vector<std::string>& texts);

/// Where the datagrams go (default /dev/log); tests bind their own socket.
void setEventLogSocketPath(const std::string& path);

} // namespace zs::k8bus
