// libFuzzer entry for the reply decoder: the input is what the daemon sends after an execute
// request, and also what arrives on the session's output port (report lines); the execute loop
// must end without a crash, a hang or a read past the bytes. Output-port requests are decoded
// too: the output connection already stands, and the system session's host is one that no
// connect can reach, so a second request never connects anywhere. Built as the fuzzer
// k8bus_reply_fuzzer with ZS_FUZZ; every build replays its kept inputs.
#include "Bus.h"
#include "Socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zs::k8bus {
// The fuzzer never starts programs: a screen request fails here as a missing client would.
int startClient(int, const char*, int, const char*, const char*, bool)
{
    return 0;
}
int disconnectClientOcx()
{
    return 1;
}
} // namespace zs::k8bus

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zs::k8bus;
    static const bool ready = [] {
        SockTimeouts t;
        t.nextRead = 50;
        t.bound = 50;
        t.connect = 50;
        sockSetTimeouts(t);
        // 255.255.255.255 is never resolved: an output request's connect fails before any packet.
        return k8SystemLogin("255.255.255.255", 1, "", "u", "p") == 0;
    }();
    if (!ready || size > 65536)
        return 0;
    int fds[2], out[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, out) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return 0;
    }
    ApiGlobals* g = apiGlobals();
    KernelSession& k = g->kernelSessions[0];
    k.systemIndex = 0;
    k.busSocket = fds[0];
    k.daemonSessionId = 1;
    k.outputSocket = out[0];
    (void)::send(fds[1], data, size, MSG_NOSIGNAL);
    ::shutdown(fds[1], SHUT_WR);
    // The report lines: the input read from its end, so the two streams differ.
    std::vector<std::uint8_t> lines(data, data + size);
    std::reverse(lines.begin(), lines.end());
    (void)::send(out[1], lines.data(), lines.size(), MSG_NOSIGNAL);
    ::shutdown(out[1], SHUT_WR);
    int n = 0, room = 200, nSys = 0;
    char buf[256];
    k8ExecTask(0, "T", (size & 1) ? "D," : "L", &n, 0, &room, buf, &nSys, 0, 0, "");
    ::close(fds[1]);
    ::close(out[1]);
    if (k.busSocket >= 0)
        ::close(k.busSocket);
    k.busSocket = -1;
    if (k.outputSocket >= 0)
        ::close(k.outputSocket);
    k.outputSocket = -1;
    k.systemIndex = -1;
    return 0;
}
