#include "EventLog.h"

#include "Profile.h"
#include "threadglob/ThreadGlob.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zs::k8bus {
namespace {

struct EventLevelState : ThreadSlotState {
    int reportLevel = 2;
};

std::mutex g_pathLock;
std::string g_socketPath = "/dev/log";

EventLevelState* eventLevelInit()
{
    if (auto* st = threadSlotAs<EventLevelState>(kSlotEventLog))
        return st;
    auto fresh = std::make_unique<EventLevelState>();
    auto* st = fresh.get();
    if (!threadSetSlot(kSlotEventLog, std::move(fresh)))
        return nullptr;
    std::string value;
    if (GetKorviProfileString("Kor8 Bus", "K8EventReportLevel", "", value, 80) > 0 &&
        std::isdigit(static_cast<unsigned char>(value[0]))) {
        long level = 0;
        for (char c : value) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || level > 100000000)
                break;
            level = level * 10 + (c - '0');
        }
        st->reportLevel = static_cast<int>(level);
    }
    return st;
}

int syslogSeverity(EventType t)
{
    switch (t) {
    case EventType::Error:
        return 3;
    case EventType::Warning:
        return 4;
    case EventType::Success:
        return 5;
    case EventType::Information:
        return 6;
    }
    return 6;
}

} // namespace

EventType eventTypeOfLevel(int level)
{
    switch (level) {
    case 1:
        return EventType::Error;
    case 2:
        return EventType::Warning;
    case 4:
        return EventType::Success;
    default:
        return EventType::Information;
    }
}

void eventReport(int level, std::uint32_t eventId, const std::vector<std::string>& texts)
{
    if (auto* st = eventLevelInit(); st && st->reportLevel < level)
        return;
    std::string path;
    {
        std::lock_guard lock(g_pathLock);
        path = g_socketPath;
    }
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    // RFC 3164 form, facility user (1): "<pri>Mmm dd hh:mm:ss Kor32Srv[pid]: 0xid: text | text".
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &tm);
    char head[96];
    std::snprintf(head, sizeof head, "<%d>%s %s[%d]: 0x%08X:", 8 + syslogSeverity(eventTypeOfLevel(level)), stamp,
                  kEventSource, static_cast<int>(::getpid()), eventId);
    std::string message = head;
    const std::size_t count = std::min<std::size_t>(texts.size(), 10);
    for (std::size_t i = 0; i < count; ++i) {
        message += i == 0 ? " " : " | ";
        message += texts[i];
    }
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    (void)::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    ::close(fd);
}

void setEventLogSocketPath(const std::string& path)
{
    std::lock_guard lock(g_pathLock);
    g_socketPath = path;
}

} // namespace zs::k8bus
