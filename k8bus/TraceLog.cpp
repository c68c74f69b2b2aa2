#include "TraceLog.h"

#include "threadglob/ThreadGlob.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace zs::k8bus {
namespace {

constexpr std::size_t kPieceText = 254; // prefix + text; CR LF may follow
constexpr std::size_t kHeldLimit = 64 * 1024;

// Writes all of `n` bytes (O_APPEND: each write lands whole at the end of the file).
bool writeAll(int fd, const char* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

struct TraceState;
// The thread's state in its slot, looked up once: every line would otherwise search for it.
thread_local TraceState* t_state = nullptr;

struct TraceState : ThreadSlotState {
    int fd = -1;
    char prefix[16] = {};
    std::size_t prefixLength = 0;
    std::uint64_t sinceCheck = 0; ///< bytes this thread wrote since it last looked at the file's size
    std::string held;             ///< whole pieces not yet written (traceHold)
    /// Writes the held pieces; false when the write failed.
    bool flush()
    {
        if (held.empty() || fd < 0)
            return true;
        const bool ok = writeAll(fd, held.data(), held.size());
        held.clear();
        return ok;
    }
    ~TraceState() override
    {
        if (t_state == this)
            t_state = nullptr;
        if (fd >= 0) {
            flush();
            ::close(fd);
        }
    }
};

thread_local int t_holds = 0;

TraceState* traceState()
{
    if (!t_state)
        t_state = threadSlotAs<TraceState>(kSlotTrace);
    return t_state;
}

std::mutex g_folderLock;
std::string g_folderOverride;
std::atomic<std::uint64_t> g_sizeLimit{kDefaultTraceSizeLimit};

unsigned long threadId()
{
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

// A folder of the user's own: a directory owned by us that nobody else may write into.
bool ownPrivateFolder(const char* path)
{
    struct stat st {};
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

// Why the trace is off, said on the standard error once per text, whichever thread meets it
// first (the trace itself cannot carry it).
void sayRefused(const std::string& text)
{
    static std::mutex lock;
    static std::string said;
    {
        std::lock_guard guard(lock);
        if (said == text)
            return;
        said = text;
    }
    std::fprintf(stderr, "k8bus: %s; the bus trace is off\n", text.c_str());
}

// The folder of the user's own below the temporary folder ($TMPDIR, else /tmp), made 0700 when
// missing: anyone may create names in /tmp itself. Empty, and said once, when what stands at
// the name is not a folder of ours that only we may enter.
std::string privateTempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    if (base.back() != '/')
        base += '/';
    const std::string folder = base + "k8bus-" + std::to_string(::geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        sayRefused(folder + " is " + (S_ISDIR(st.st_mode) ? "a folder of another user" : kindOf(st.st_mode)));
        return {};
    }
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        sayRefused(folder + " is open to other users");
        return {};
    }
    return folder;
}

// Opens the trace file for appending: without waiting (a FIFO at the name never holds the
// call), never through a symbolic link, only a regular file of ours with one name, and private
// to us (0600). -1 when it cannot be had; what stands at the name instead is said once.
int openTraceFile(const std::string& path)
{
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd < 0) {
        // A folder that cannot be written leaves the trace off without a word, as ever.
        if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            sayRefused(path + " is " + kindOf(st.st_mode));
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        sayRefused(path + " is " +
                   (!S_ISREG(st.st_mode)       ? kindOf(st.st_mode)
                    : st.st_uid != ::geteuid() ? "a file of another user"
                                               : "a file with more than one name"));
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        return -1;
    }
    // A regular file never blocks; the flag goes so a write never sees EAGAIN.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

void logOpen()
{
    auto* st = traceState();
    if (!st) {
        auto fresh = std::make_unique<TraceState>();
        st = fresh.get();
        if (!threadSetSlot(kSlotTrace, std::move(fresh)))
            return;
    }
    std::snprintf(st->prefix, sizeof st->prefix, "%lx: ", threadId());
    st->prefixLength = std::strlen(st->prefix);
    // O_APPEND makes every piece's append atomic against other threads and processes.
    const std::string path = traceFilePath();
    st->fd = path.empty() ? -1 : openTraceFile(path);
    st->sinceCheck = 0;
    if (st->fd < 0)
        return;
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    logWrite("\n");
    logWritef("logOpen: threadId 0x%lx at %d/%d/%d %d:%02d:%02d\r\n", threadId(), tm.tm_year + 1900, tm.tm_mon + 1,
              tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// Every so often a thread looks at the file it appends to. Past the size limit the file is
// renamed to k8bus.log.1 (replacing the older one) and a new one begun; a thread whose file was
// renamed by another thread or process moves on to the new file.
void rollOverIfDue(TraceState& st)
{
    const std::uint64_t limit = g_sizeLimit.load(std::memory_order_relaxed);
    if (st.sinceCheck < std::min<std::uint64_t>(64 * 1024, limit / 8 + 1))
        return;
    st.sinceCheck = 0;
    struct stat mine {};
    if (::fstat(st.fd, &mine) != 0)
        return;
    const std::string path = traceFilePath();
    if (path.empty())
        return;
    struct stat named {};
    const bool same = ::lstat(path.c_str(), &named) == 0 && named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
    if (same && static_cast<std::uint64_t>(mine.st_size) < limit)
        return;
    if (same && ::rename(path.c_str(), (path + ".1").c_str()) != 0)
        return;
    st.flush(); // what was gathered belongs to the file it was written for
    ::close(st.fd);
    st.fd = -1;
    logOpen();
}

// One piece: written at once, or gathered while the thread holds its trace. A failed write
// closes the thread's file (the next line opens it again).
bool emit(TraceState& st, const char* piece, std::size_t used)
{
    st.sinceCheck += used;
    if (t_holds > 0) {
        st.held.append(piece, used);
        if (st.held.size() < kHeldLimit || st.flush())
            return true;
    } else if (writeAll(st.fd, piece, used)) {
        return true;
    }
    st.held.clear();
    logClose();
    return false;
}

} // namespace

void traceHold()
{
    ++t_holds;
}

void traceRelease()
{
    if (t_holds > 0 && --t_holds == 0)
        traceFlush();
}

void traceFlush()
{
    auto* st = traceState();
    if (st && !st->flush())
        logClose();
}

std::string traceFilePath()
{
    std::string folder;
    {
        std::lock_guard lock(g_folderLock);
        folder = g_folderOverride;
    }
    if (folder.empty()) {
        // The user's own runtime folder when there is one, else a folder of ours in the
        // temporary folder.
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = ownPrivateFolder(runtime) ? std::string(runtime) : privateTempFolder();
        if (folder.empty())
            return {};
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

void setTraceSizeLimit(std::uint64_t bytes)
{
    g_sizeLimit.store(bytes > 0 ? bytes : kDefaultTraceSizeLimit);
}

bool logWrite(const char* text, long length)
{
    auto* st = traceState();
    if (!st) {
        logOpen();
        st = traceState();
        if (!st)
            return false;
    }
    if (st->fd < 0 || !text)
        return false;
    rollOverIfDue(*st);
    st = traceState();
    if (!st || st->fd < 0)
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
        if (!emit(*st, piece, used))
            return false;
        std::memcpy(piece, st->prefix, st->prefixLength);
        used = st->prefixLength;
    }
    if (used > st->prefixLength && !emit(*st, piece, used))
        return false;
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
    auto* st = traceState();
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
    if (traceState())
        threadSetSlot(kSlotTrace, nullptr); // writes what it still holds
}

} // namespace zs::k8bus
