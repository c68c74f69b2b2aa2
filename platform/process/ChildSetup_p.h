#pragma once
// What every child this module starts is given: its environment and the null-terminated
// pointer arrays exec and posix_spawn take. Shared by Process and ChildProcess.

#include <string>
#include <vector>

namespace zs::process::detail {

/// This process's environment without the variables named in `removed` or set by `extra`,
/// followed by `extra` ("NAME=value" each).
std::vector<std::string> environmentWith(const std::vector<std::string>& extra,
                                         const std::vector<std::string>& removed = {});

/// Pointers to `strings`' characters followed by a null; valid while `strings` is unchanged.
std::vector<char*> pointers(std::vector<std::string>& strings);

} // namespace zs::process::detail
