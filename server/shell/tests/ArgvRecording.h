#pragma once
// The recording program (ArgvRecorder.cpp) standing in for the VNC server of a program folder in
// the remote-assistance tests: installing it, and reading back the calls it recorded in the
// "calls.txt" beside it. Header only.

#include "testsupport/TestEnv.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef ZS_ARGV_RECORDER
#error "ZS_ARGV_RECORDER names the recording program"
#endif

namespace zs::test {

/// Puts the recording program into `folder` under `name`, runnable by the owner.
inline void installArgvRecorder(const std::filesystem::path& folder, const std::string& name)
{
    std::filesystem::copy_file(ZS_ARGV_RECORDER, folder / name, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(folder / name, std::filesystem::perms::owner_all);
}

/// The recorded calls in `file`, one per line in the order they were made; none when the
/// program never ran.
inline std::vector<std::string> recordedCalls(const std::filesystem::path& file)
{
    std::vector<std::string> out;
    std::istringstream in(std::filesystem::exists(file) ? readFile(file) : "");
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

/// The program's one-second pauses of remote assistance come after a command was started; a
/// server started without waiting records its call a moment later. Waits (at most 3 s) until
/// `file` holds `lines` calls, so the calls read back in issuing order.
inline void awaitRecordedCalls(const std::filesystem::path& file, std::size_t lines)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < until) {
        std::ifstream in(file);
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);)
            n += !line.empty();
        if (n >= lines)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace zs::test
