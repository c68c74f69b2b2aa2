#pragma once
// The sockets' descriptor owner is the file system module's.

#include "fs/Fd.h"

namespace zs::net {

using Fd = fs::Fd;

} // namespace zs::net
