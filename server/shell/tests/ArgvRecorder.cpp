// Stands in for the VNC server in the remote-assistance tests: appends one line per start to
// "calls.txt" beside its own executable, the program's file name and then each argument
// between angle brackets, so blanks inside an argument stay visible.

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return 2;
    std::string line = self.filename().string();
    for (int i = 1; i < argc; ++i)
        line += " <" + std::string(argv[i]) + ">";
    line += "\n";
    std::FILE* f = std::fopen((self.parent_path() / "calls.txt").c_str(), "a");
    if (!f)
        return 3;
    const bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    return std::fclose(f) == 0 && ok ? 0 : 4;
}
