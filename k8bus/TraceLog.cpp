#include "TraceLog.h"

#include "threadglob/ThreadGlob.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace zs::k8bus {
namespace {

constexpr std::size_t kPieceText = 254; // prefix + text; CR LF may follow

struct TraceState : ThreadSlotState {
    int fd = -1;
    char prefix[16] = {};
    std::size_t prefixLength = 0;
    ~TraceState() override
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::mutex g_folderLock;
std::string g_folderOverride;

unsigned long threadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

void logOpen()
{
    auto* st = threadSlotAs<TraceState>(kSlotTrace);
    if (!st) {
        auto fresh = std::make_unique<TraceState>();
        st = fresh.get();
        if (!threadSetSlot(kSlotTrace, std::move(fresh)))
            return;
    }
    std::snprintf(st->prefix, sizeof st->prefix, "%lx: ", threadId());
    st->prefixLength = std::strlen(st->prefix);
    // O_APPEND makes every piece's append atomic against other threads and processes.
    st->fd = ::open(traceFilePath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (st->fd < 0)
        return;
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    logWrite("\n");
    logWritef("logOpen: threadId 0x%lx at %d/%d/%d %d:%02d:%02d\r\n", threadId(), tm.tm_year + 1900, tm.tm_mon + 1,
              tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

} // namespace

std::string traceFilePath()
{
    std::string folder;
    {
        std::lock_guard lock(g_folderLock);
        folder = g_folderOverride;
    }
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        folder = (tmp && *tmp) ? tmp : "/tmp";
    }
    if (folder.back() != '/')
        folder += '/';
    return folder + "k8bus.log";
}

void setTraceFolderOverride(const std::string& folder)
{
    std::lock_guard lock(g_folderLock);
    g_folderOverride = folder;
}

bool logWrite(const char* text, long length)
{
    auto* st = threadSlotAs<TraceState>(kSlotTrace);
    if (!st) {
        logOpen();
        st = threadSlotAs<TraceState>(kSlotTrace);
        if (!st)
            return false;
    }
    if (st->fd < 0 || !text)
        return false;
    std::size_t remaining = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
    const char* p = text;
    char piece[256];
    std::memcpy(piece, st->prefix, st->prefixLength);
    std::size_t used = st->prefixLength;
    while (remaining > 0) {
        const void* lf = std::memchr(p, '\n', remaining);
        std::size_t seg = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p) : remaining;
        bool lineEnd = lf != nullptr;
        bool consumeLf = lineEnd;
        if (used + seg > kPieceText) {
            seg = kPieceText - used;
            lineEnd = true;
            consumeLf = false;
        }
        std::memcpy(piece + used, p, seg);
        used += seg;
        p += seg;
        remaining -= seg;
        if (lineEnd) {
            if (seg > 0 && piece[used - 1] != '\r')
                piece[used++] = '\r';
            piece[used++] = '\n';
            if (consumeLf) {
                ++p;
                --remaining;
            }
        }
        if (remaining > 0 && used < kPieceText)
            continue;
        if (::write(st->fd, piece, used) != static_cast<ssize_t>(used)) {
            logClose();
            return false;
        }
        std::memcpy(piece, st->prefix, st->prefixLength);
        used = st->prefixLength;
    }
    if (used > st->prefixLength && ::write(st->fd, piece, used) != static_cast<ssize_t>(used)) {
        logClose();
        return false;
    }
    return true;
}

bool logWritef(const char* format, ...)
{
    if (!logIsOn())
        return false;
    char line[1024];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (n < 0)
        return false;
    return logWrite(line, std::min<long>(n, static_cast<long>(sizeof line) - 1));
}

bool logIsOn()
{
    auto* st = threadSlotAs<TraceState>(kSlotTrace);
    return !st || st->fd >= 0;
}

bool logDump(const unsigned char* bytes, std::size_t length, int mode)
{
    if (!bytes)
        return logWrite(" Null ptr\n");
    static const char kHex[] = "0123456789abcdef";
    const bool chars = mode == 1 || mode >= 32;
    const char fill = mode == 1 ? '~' : static_cast<char>(mode);
    bool result = true;
    std::size_t i = 0;
    do {
        char line[2 + 32 * 3 + 2];
        std::size_t n = 0;
        if (chars)
            line[n++] = ' ';
        for (std::size_t k = 0; k < 32 && i < length; ++k, ++i) {
            unsigned char b = bytes[i];
            if (chars) {
                if (b == ' ') {
                    line[n++] = fill;
                    line[n++] = ' ';
                } else if (static_cast<char>(b) == fill) {
                    line[n++] = fill;
                    line[n++] = fill;
                } else if (b >= 32 && b <= 126) {
                    line[n++] = static_cast<char>(b);
                    line[n++] = ' ';
                } else {
                    line[n++] = kHex[b >> 4];
                    line[n++] = kHex[b & 15];
                }
            } else {
                if (k % 2 == 0)
                    line[n++] = ' ';
                line[n++] = kHex[b >> 4];
                line[n++] = kHex[b & 15];
            }
        }
        line[n++] = '\n';
        result = logWrite(line, static_cast<long>(n));
    } while (i < length);
    return result;
}

void logClose()
{
    if (threadSlotAs<TraceState>(kSlotTrace))
        threadSetSlot(kSlotTrace, nullptr);
}

} // namespace zs::k8bus
