#include "process/ChildSetup_p.h"

#include <algorithm>

extern char** environ;

namespace zs::process::detail {

namespace {

std::string nameOf(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

} // namespace

std::vector<std::string> environmentWith(const std::vector<std::string>& extra, const std::vector<std::string>& removed)
{
    const auto dropped = [&](const std::string& name) {
        return std::find(removed.begin(), removed.end(), name) != removed.end() ||
               std::any_of(extra.begin(), extra.end(), [&](const std::string& x) { return nameOf(x) == name; });
    };
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        if (!dropped(nameOf(entry)))
            env.push_back(std::move(entry));
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    p.reserve(strings.size() + 1);
    for (auto& s : strings)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

} // namespace zs::process::detail
