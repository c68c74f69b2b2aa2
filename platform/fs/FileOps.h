#pragma once
// The file system calls that saves go through, as a seam: tests replace them with a version
// that fails at the N-th call with a chosen errno, to prove that no save loses data.

#include <string>
#include <sys/types.h>

namespace zs::fs {

class FileOps {
  public:
    virtual ~FileOps() = default;
    virtual int open(const char* path, int flags, mode_t mode) = 0;
    virtual ssize_t write(int fd, const void* data, size_t size) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
};

/// The real calls.
FileOps& systemFileOps();

/// Forwards to the real calls but fails call number `failAt` (1-based, counting every call)
/// with `error`; 0 never fails. `calls()` tells how many calls were made.
class FailingFileOps : public FileOps {
  public:
    FailingFileOps(int failAt, int error)
        : m_failAt(failAt)
        , m_error(error)
    {}
    int open(const char* path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void* data, size_t size) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;
    int fchmod(int fd, mode_t mode) override;
    int calls() const { return m_calls; }

  private:
    bool fail();
    int m_failAt;
    int m_error;
    int m_calls = 0;
};

} // namespace zs::fs
