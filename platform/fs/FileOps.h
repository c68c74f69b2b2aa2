#pragma once
// The file system calls that saves and the import's file moves go through, as a seam: tests
// replace them with a version that fails at the N-th call with a chosen errno, to prove that no
// save and no move loses data.

#include <string>
#include <string_view>
#include <sys/types.h>

struct stat;
struct timespec;

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
    virtual ssize_t read(int fd, void* data, size_t size) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const char* path, struct stat* st) = 0;
    virtual int lstat(const char* path, struct stat* st) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    /// renameat2 on paths (relative ones to the working folder), with its `flags`.
    virtual int renameat2(const char* from, const char* to, unsigned flags) = 0;
};

/// The real calls.
FileOps& systemFileOps();

/// Writes all of `bytes` to `fd` through `ops`, again after an interrupted call. False, with
/// errno set, when a write fails; what went in before stays.
[[nodiscard]] bool writeAll(int fd, std::string_view bytes, FileOps& ops);

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
    ssize_t read(int fd, void* data, size_t size) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override;
    int lstat(const char* path, struct stat* st) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int renameat2(const char* from, const char* to, unsigned flags) override;
    int calls() const { return m_calls; }

  private:
    bool fail();
    int m_failAt;
    int m_error;
    int m_calls = 0;
};

} // namespace zs::fs
