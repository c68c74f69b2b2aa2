#include "fs/FileOps.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zs::fs {

namespace {

class SystemFileOps : public FileOps {
  public:
    int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
    ssize_t write(int fd, const void* data, size_t size) override { return ::write(fd, data, size); }
    int fsync(int fd) override { return ::fsync(fd); }
    int close(int fd) override { return ::close(fd); }
    int rename(const char* from, const char* to) override { return std::rename(from, to); }
    int unlink(const char* path) override { return ::unlink(path); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    ssize_t read(int fd, void* data, size_t size) override { return ::read(fd, data, size); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
    int lstat(const char* path, struct stat* st) override { return ::lstat(path, st); }
    int futimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
    int renameat2(const char* from, const char* to, unsigned flags) override
    {
        return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
    }
};

} // namespace

FileOps& systemFileOps()
{
    static SystemFileOps ops;
    return ops;
}

bool writeAll(int fd, std::string_view bytes, FileOps& ops)
{
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ops.write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool FailingFileOps::fail()
{
    ++m_calls;
    if (m_calls == m_failAt) {
        errno = m_error;
        return true;
    }
    return false;
}

int FailingFileOps::open(const char* path, int flags, mode_t mode)
{
    return fail() ? -1 : systemFileOps().open(path, flags, mode);
}

ssize_t FailingFileOps::write(int fd, const void* data, size_t size)
{
    return fail() ? -1 : systemFileOps().write(fd, data, size);
}

int FailingFileOps::fsync(int fd)
{
    return fail() ? -1 : systemFileOps().fsync(fd);
}

int FailingFileOps::close(int fd)
{
    // A failed close still releases the descriptor, as the real call does.
    if (fail()) {
        systemFileOps().close(fd);
        return -1;
    }
    return systemFileOps().close(fd);
}

int FailingFileOps::rename(const char* from, const char* to)
{
    return fail() ? -1 : systemFileOps().rename(from, to);
}

int FailingFileOps::unlink(const char* path)
{
    return fail() ? -1 : systemFileOps().unlink(path);
}

int FailingFileOps::fchmod(int fd, mode_t mode)
{
    return fail() ? -1 : systemFileOps().fchmod(fd, mode);
}

ssize_t FailingFileOps::read(int fd, void* data, size_t size)
{
    return fail() ? -1 : systemFileOps().read(fd, data, size);
}

int FailingFileOps::fstat(int fd, struct stat* st)
{
    return fail() ? -1 : systemFileOps().fstat(fd, st);
}

int FailingFileOps::stat(const char* path, struct stat* st)
{
    return fail() ? -1 : systemFileOps().stat(path, st);
}

int FailingFileOps::lstat(const char* path, struct stat* st)
{
    return fail() ? -1 : systemFileOps().lstat(path, st);
}

int FailingFileOps::futimens(int fd, const struct timespec times[2])
{
    return fail() ? -1 : systemFileOps().futimens(fd, times);
}

int FailingFileOps::renameat2(const char* from, const char* to, unsigned flags)
{
    return fail() ? -1 : systemFileOps().renameat2(from, to, flags);
}

} // namespace zs::fs
