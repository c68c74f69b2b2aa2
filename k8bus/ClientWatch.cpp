#include "ClientWatch.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace zs::k8bus {

ClientWatch::ClientWatch()
    : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{}

ClientWatch::~ClientWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void ClientWatch::ended()
{
    m_running.fetch_sub(1);
    const std::uint64_t one = 1;
    if (m_fd >= 0)
        (void)!::write(m_fd, &one, sizeof one);
}

void ClientWatch::drain()
{
    std::uint64_t n = 0;
    if (m_fd >= 0)
        (void)!::read(m_fd, &n, sizeof n);
}

} // namespace zs::k8bus
