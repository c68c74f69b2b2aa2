#pragma once
// Test doubles of the shell's services, shared by the shell, engine and dialog tests: a
// message service that records every box, and a yield hook that counts its calls and can act
// at a given one ("press Stop at the 3rd yield"). Header only; test code only.

#include "shell/ShellServices.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zs::test {

/// The program's one-second pauses of remote assistance come after a command was started; a
/// server started without waiting records its call a moment later. Waits (at most 3 s) until
/// the recording program's file holds `lines` calls, so the calls read back in issuing order.
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

/// Records every message box; questions get the answer that ends the waiting.
class RecordingMessages : public shell::MessageService {
  public:
    struct Shown {
        std::string text;
        shell::MessageIcon icon = shell::MessageIcon::Information;
        std::string title;
    };
    void show(const std::string& text, shell::MessageIcon icon, const std::string& title) override
    {
        shown.push_back({text, icon, title});
    }
    std::vector<Shown> shown;
};

/// Counts the yields; `onYield`, when set, runs at each with the count so far.
class CountingYield : public shell::YieldHook {
  public:
    void yield() override
    {
        ++count;
        if (onYield)
            onYield(count);
    }
    int count = 0;
    std::function<void(int)> onYield;
};

} // namespace zs::test
