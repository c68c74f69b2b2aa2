#include "fs/OwnedFolder.h"

#include "fs/AtomicFile.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::fs {

namespace {

constexpr std::size_t kRandomPart = 6; // mkdtemp's XXXXXX

/// The boot this machine is in: a marker from an earlier boot names no running process.
std::string bootId()
{
    std::string id;
    if (!readWholeFile("/proc/sys/kernel/random/boot_id", id, 128))
        return "-";
    while (!id.empty() && (id.back() == '\n' || id.back() == ' '))
        id.pop_back();
    return id.empty() ? "-" : id;
}

std::string markerText(long pid)
{
    const auto start = processStartTime(pid);
    return std::to_string(pid) + " " + std::to_string(start.value_or(0)) + " " + bootId() + "\n";
}

/// Whether the marker's text names a process that still runs (or cannot be judged).
bool makerRuns(const std::string& marker)
{
    long pid = 0;
    unsigned long long start = 0;
    char boot[64] = {};
    if (std::sscanf(marker.c_str(), "%ld %llu %63s", &pid, &start, boot) != 3 || pid <= 0)
        return true; // not a marker we write: not ours to judge
    if (std::string_view(boot) != bootId())
        return false;
    const auto now = processStartTime(pid);
    if (!now)
        return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
    return start == 0 || *now == start;
}

} // namespace

std::optional<unsigned long long> processStartTime(long pid)
{
    std::string stat;
    if (!readWholeFile("/proc/" + std::to_string(pid) + "/stat", stat, 4096))
        return std::nullopt;
    // The command name may hold blanks and parentheses: the fields follow the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    const char* p = stat.c_str() + close + 1;
    // Field 22 is the start time; the text after ')' begins with field 3.
    for (int field = 3; field < 22; ++field) {
        while (*p == ' ')
            ++p;
        while (*p && *p != ' ')
            ++p;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(p, &end, 10);
    if (end == p)
        return std::nullopt;
    return value;
}

std::optional<std::filesystem::path> makeOwnedFolder(const std::filesystem::path& parent, const std::string& prefix,
                                                     std::string* error)
{
    std::string pattern = (parent / (prefix + std::string(kRandomPart, 'X'))).string();
    if (!::mkdtemp(pattern.data())) { // 0700 whatever the umask
        if (error)
            *error = "impossibile creare la cartella " + pattern + ": " + text::systemReason(errno);
        return std::nullopt;
    }
    const std::filesystem::path folder = pattern;
    const std::string marker = markerText(static_cast<long>(::getpid()));
    const auto file = folder / kOwnerMarker;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && ::write(fd, marker.data(), marker.size()) == static_cast<ssize_t>(marker.size());
    const int err = errno;
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        if (error)
            *error = "impossibile scrivere il file " + file.string() + ": " + text::systemReason(err);
        return std::nullopt;
    }
    return folder;
}

int removeDeadOwnedFolders(const std::filesystem::path& parent, const std::string& prefix)
{
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + kRandomPart || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        const auto markerFile = it->path() / kOwnerMarker;
        struct stat ms {};
        if (::lstat(markerFile.c_str(), &ms) != 0 || !S_ISREG(ms.st_mode) || ms.st_uid != ::geteuid())
            continue;
        std::string marker;
        if (!readWholeFile(markerFile, marker, 256) || makerRuns(marker))
            continue;
        // remove_all takes links inside away as links, never what they point at.
        std::error_code rec;
        if (std::filesystem::remove_all(it->path(), rec) > 0 && !rec)
            ++removed;
    }
    return removed;
}

} // namespace zs::fs
