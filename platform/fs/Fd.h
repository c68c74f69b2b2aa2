#pragma once
// Move-only owner of a POSIX file descriptor: closes it on destruction. Sockets (platform/net),
// children's pipes (platform/process) and the files ReadFile.h opens hold theirs in it.

#include <utility>

namespace zs::fs {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept
        : m_fd(std::exchange(o.m_fd, -1))
    {}
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            reset();
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    /// Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1);
    /// Gives the descriptor up without closing it: the caller closes it from now on.
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd = -1;
};

} // namespace zs::fs
