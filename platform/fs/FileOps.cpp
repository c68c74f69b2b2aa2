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
};

} // namespace

FileOps& systemFileOps()
{
    static SystemFileOps ops;
    return ops;
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

} // namespace zs::fs
