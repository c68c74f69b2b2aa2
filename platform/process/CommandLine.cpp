#include "process/CommandLine.h"

namespace zs::process {

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

std::vector<std::string> splitWindowsCommandLine(std::string_view line)
{
    std::vector<std::string> argv;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && isBlank(line[i]))
        ++i;
    if (i == n)
        return argv;

    // The program name: quotes group, backslashes are plain characters.
    std::string program;
    if (line[i] == '"') {
        ++i;
        while (i < n && line[i] != '"')
            program += line[i++];
        if (i < n)
            ++i;
    }
    while (i < n && !isBlank(line[i])) {
        if (line[i] != '"')
            program += line[i];
        ++i;
    }
    argv.push_back(std::move(program));

    while (true) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i == n)
            break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !isBlank(line[i]))) {
            if (line[i] == '\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                    // An even count leaves the quote to the branch below.
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (line[i] == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += line[i++];
        }
        argv.push_back(std::move(arg));
    }
    return argv;
}

} // namespace zs::process
