#include "fs/AtomicFile.h"

#include "fs/FileOps.h"
#include "fs/ReadFile.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::fs {

namespace {

std::string describe(const std::filesystem::path& file, const char* what, int err)
{
    return "Impossibile " + std::string(what) + " il file " + file.string() + ": " + text::systemReason(err);
}

constexpr std::string_view kTemporaryMark = ".zstmp-";
constexpr std::size_t kRandomDigits = 16;

std::string randomHex()
{
    std::uint64_t value = 0;
    if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        // No entropy source: the clock and the address space still differ from run to run.
        value = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                reinterpret_cast<std::uintptr_t>(&value);
    }
    char out[kRandomDigits + 1];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(value));
    return out;
}

} // namespace

std::string temporaryName(const std::string& name)
{
    return "." + name + std::string(kTemporaryMark) + std::to_string(::getpid()) + "-" + randomHex();
}

std::optional<pid_t> temporaryOwner(const std::string& fileName)
{
    // ".<name>.zstmp-<pid>-<16 hex digits>"
    const auto mark = fileName.rfind(kTemporaryMark);
    if (fileName.size() < 2 || fileName[0] != '.' || mark == std::string::npos || mark < 2)
        return std::nullopt;
    const std::string_view rest = std::string_view(fileName).substr(mark + kTemporaryMark.size());
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 9 || rest.size() - dash - 1 != kRandomDigits)
        return std::nullopt;
    const std::string_view digits = rest.substr(0, dash), random = rest.substr(dash + 1);
    if (digits.find_first_not_of("0123456789") != std::string_view::npos ||
        random.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return std::nullopt;
    const auto pid = static_cast<pid_t>(std::stol(std::string(digits)));
    if (pid <= 0)
        return std::nullopt;
    return pid;
}

bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes, const WriteOptions& options,
                     std::string* error)
{
    return writeFileAtomic(file, bytes, options, error, systemFileOps());
}

bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes, const WriteOptions& options,
                     std::string* error, FileOps& ops)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    // A new file gets what the umask leaves of 0666 (0600 for passwords): the open applies it.
    // A save keeps the mode the operator gave an existing file; a file holding passwords never
    // becomes readable by others through it. A link at the file's name is replaced, never
    // followed, so its mode is not the file's.
    std::optional<mode_t> keep;
    if (struct stat st{}; ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        keep = (st.st_mode & 0777) & (options.privateMode ? 0600 : 0777);

    std::string tmp;
    auto failWith = [&](const char* what, int fd) {
        const int err = errno;
        if (fd >= 0)
            ops.close(fd);
        if (!tmp.empty())
            ops.unlink(tmp.c_str());
        if (error)
            *error = describe(file, what, err);
        return false;
    };

    const int fd = createTemporary(folder, file.filename().string(), options.privateMode ? 0600 : 0666, tmp, ops);
    if (fd < 0)
        return failWith("creare", -1);
    if (keep && ops.fchmod(fd, *keep) != 0)
        return failWith("creare", fd);
    if (!writeAll(fd, bytes, ops))
        return failWith("scrivere", fd);
    // The data reaches the disk before the new name does, and the folder's new entry right
    // after: a power cut leaves the old file or the new one, never an empty one.
    if (ops.fsync(fd) != 0)
        return failWith("scrivere", fd);
    if (ops.close(fd) != 0)
        return failWith("scrivere", -1);
    if (ops.rename(tmp.c_str(), file.c_str()) != 0)
        return failWith("sostituire", -1);
    // The file is replaced from here on; a folder that cannot be synced (some file systems
    // refuse it) does not undo that.
    syncFolder(folder, ops);
    return true;
}

int createTemporary(const std::filesystem::path& folder, const std::string& name, mode_t mode, std::string& path,
                    FileOps& ops)
{
    // The name cannot be guessed, and nothing that stands at it is ever opened: a link planted
    // in the folder can neither receive the bytes nor lend its mode.
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = (folder / temporaryName(name)).string();
        const int fd = ops.open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    path.clear();
    return -1;
}

void syncFolder(const std::filesystem::path& folder, FileOps& ops)
{
    const int dir = ops.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dir < 0)
        return;
    (void)ops.fsync(dir);
    (void)ops.close(dir);
}

int removeStaleTemporaries(const std::filesystem::path& folder)
{
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto pid = temporaryOwner(it->path().filename().string());
        if (!pid)
            continue; // not a name our saves use
        if (::kill(*pid, 0) == 0 || errno != ESRCH)
            continue; // its process still runs (or is not ours to judge)
        // Only a plain file of ours goes: a link or someone else's file at such a name stays.
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool appendToFile(const std::filesystem::path& file, std::string_view bytes, std::string* error)
{
    std::error_code ec;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ec);
    std::string why;
    Fd owner = openForWriting(file, O_WRONLY | O_APPEND, 0644, why);
    if (!owner.valid()) {
        if (error)
            *error = std::move(why);
        return false;
    }
    const int fd = owner.get();
    struct stat st {};
    const off_t start = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    if (writeAll(fd, bytes, systemFileOps()))
        return true;
    const int err = errno;
    // Cut back what went in, so no half line stays in the file.
    if (start >= 0)
        (void)::ftruncate(fd, start);
    if (error)
        *error = describe(file, "scrivere", err);
    return false;
}

bool readWholeFile(const std::filesystem::path& file, std::string& out, std::size_t maxBytes)
{
    return readFileBounded(file, maxBytes, out) == ReadOutcome::Read;
}

} // namespace zs::fs
