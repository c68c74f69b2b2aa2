#include "fs/AtomicFile.h"

#include "fs/FileOps.h"
#include "text/SystemReason.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::fs {

namespace {

std::string describe(const std::filesystem::path& file, const char* what, int err)
{
    return "Impossibile " + std::string(what) + " il file " + file.string() + ": " + text::systemReason(err);
}

} // namespace

bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes, const WriteOptions& options,
                     std::string* error)
{
    return writeFileAtomic(file, bytes, options, error, systemFileOps());
}

bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes, const WriteOptions& options,
                     std::string* error, FileOps& ops)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const std::string tmp = (folder / ("." + file.filename().string() + ".tmp-" + std::to_string(::getpid()))).string();
    mode_t mode = options.privateMode ? 0600 : 0644;
    // A save keeps the mode the operator gave the file; a file holding passwords never
    // becomes readable by others through it.
    if (struct stat st{}; ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = (st.st_mode & 0777) & (options.privateMode ? 0600 : 0777);

    auto failWith = [&](const char* what, int fd) {
        const int err = errno;
        if (fd >= 0)
            ops.close(fd);
        ops.unlink(tmp.c_str());
        if (error)
            *error = describe(file, what, err);
        return false;
    };

    const int fd = ops.open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return failWith("creare", -1);
    if (ops.fchmod(fd, mode) != 0)
        return failWith("creare", fd);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ops.write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failWith("scrivere", fd);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ops.fsync(fd) != 0)
        return failWith("scrivere", fd);
    if (ops.close(fd) != 0)
        return failWith("scrivere", -1);
    if (ops.rename(tmp.c_str(), file.c_str()) != 0)
        return failWith("sostituire", -1);
    return true;
}

int removeStaleTemporaries(const std::filesystem::path& folder)
{
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto mark = name.rfind(".tmp-");
        if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2 || mark + 5 >= name.size())
            continue;
        const std::string digits = name.substr(mark + 5);
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            continue;
        const auto pid = static_cast<pid_t>(std::stol(digits));
        if (pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH))
            continue; // its process still runs (or is not ours to judge)
        std::error_code rm;
        if (it->is_regular_file(rm) && std::filesystem::remove(it->path(), rm))
            ++removed;
    }
    return removed;
}

bool appendToFile(const std::filesystem::path& file, std::string_view bytes, std::string* error)
{
    std::error_code ec;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ec);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error)
            *error = describe(file, "aprire", errno);
        return false;
    }
    struct stat st {};
    const off_t start = ::fstat(fd, &st) == 0 ? st.st_size : -1;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            // Cut back what went in, so no half line stays in the file.
            if (start >= 0 && left < bytes.size())
                (void)::ftruncate(fd, start);
            ::close(fd);
            if (error)
                *error = describe(file, "scrivere", err);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
    return true;
}

bool readWholeFile(const std::filesystem::path& file, std::string& out)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

} // namespace zs::fs
