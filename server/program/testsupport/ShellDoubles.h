#pragma once
// Test doubles of the shell's services, shared by the shell, engine and dialog tests: a
// message service that records every box, and a yield hook that counts its calls and can act
// at a given one ("press Stop at the 3rd yield"). Header only; test code only.

#include "program/ShellServices.h"

#include <functional>
#include <string>
#include <vector>

namespace zs::test {

/// Records every message box; questions get the answer that ends the waiting.
class RecordingMessages : public program::MessageService {
  public:
    struct Shown {
        std::string text;
        program::MessageIcon icon = program::MessageIcon::Information;
        std::string title;
    };
    void show(const std::string& text, program::MessageIcon icon, const std::string& title) override
    {
        shown.push_back({text, icon, title});
    }
    /// Recorded in `asked` with its buttons; answered by `answer`, else as nobody answering.
    program::MessageAnswer ask(const std::string& text, program::MessageIcon icon, const std::string& title,
                               program::MessageButtons buttons) override
    {
        asked.push_back({{text, icon, title}, buttons});
        return answer ? answer(asked.back().shown) : program::endingAnswer(buttons);
    }
    struct Asked {
        Shown shown;
        program::MessageButtons buttons;
    };
    std::vector<Shown> shown;
    std::vector<Asked> asked;
    std::function<program::MessageAnswer(const Shown&)> answer;
};

/// Counts the yields; `onYield`, when set, runs at each with the count so far.
class CountingYield : public program::YieldHook {
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
