#include "fs/FileMoves.h"

#include "fs/AtomicFile.h"
#include "fs/FileOps.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace zs::fs {

std::optional<FileIdentity> identityOf(const std::filesystem::path& file, FileOps& ops)
{
    int error = 0;
    return identityOf(file, ops, error);
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& file, FileOps& ops, int& error)
{
    struct stat st {};
    error = 0;
    if (ops.lstat(file.c_str(), &st) != 0) {
        error = errno;
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<long long>(st.st_size),
                        static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

bool sameFileSystem(const std::filesystem::path& file, const std::filesystem::path& folder, FileOps& ops)
{
    struct stat a {
    }, b{};
    return ops.stat(file.c_str(), &a) == 0 && ops.stat(folder.c_str(), &b) == 0 && a.st_dev == b.st_dev;
}

bool copyFlushed(const std::filesystem::path& from, const std::filesystem::path& folder,
                 const std::filesystem::path& to, std::filesystem::path& tmp, std::string& reason, FileOps& ops)
{
    int in = -1, out = -1;
    std::string tmpName;
    const auto failed = [&](const std::string& what) {
        reason = what + ": " + text::systemReason(errno);
        if (out >= 0) {
            ops.close(out);
            ops.unlink(tmpName.c_str());
        }
        if (in >= 0)
            ops.close(in);
        return false;
    };
    in = ops.open(from.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (in < 0)
        return failed("lettura di " + from.string());
    struct stat st {};
    if (ops.fstat(in, &st) != 0)
        return failed("lettura di " + from.string());
    out = createTemporary(folder, to.filename().string(), st.st_mode & 0777, tmpName, ops);
    if (out < 0)
        return failed("creazione di " + to.string());
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ops.read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failed("lettura di " + from.string());
        if (got == 0)
            break;
        if (!writeAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)), ops))
            return failed("scrittura di " + to.string());
    }
    // The copy takes the file's time: it is how a later start knows it for the same file. A
    // failed call is ignored and the time is not kept then: the moved file bears the time of
    // its copy, and a start that finds such a copy placed beside a still queued original does
    // not know it for that file (the original stays queued, its move refused by the name).
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    (void)ops.futimens(out, times);
    if (ops.fsync(out) != 0)
        return failed("scrittura di " + to.string());
    const int closed = ops.close(std::exchange(out, -1));
    if (closed != 0) {
        failed("scrittura di " + to.string());
        ops.unlink(tmpName.c_str());
        return false;
    }
    ops.close(in);
    tmp = tmpName;
    return true;
}

bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, FileOps& ops)
{
    if (ops.renameat2(from.c_str(), to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: the caller checked the name is free.
    struct stat st {};
    if (ops.lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ops.rename(from.c_str(), to.c_str()) == 0;
}

} // namespace zs::fs
