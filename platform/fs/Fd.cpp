#include "fs/Fd.h"

#include <unistd.h>

namespace zs::fs {

void Fd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

} // namespace zs::fs
