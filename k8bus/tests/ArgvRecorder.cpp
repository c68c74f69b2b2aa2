// A stand-in terminal client for the tests: writes its argv, one argument per line, to the file
// named by K8BUS_ARGV_OUT (written to a temporary name and renamed, so a reader never sees half).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const char* out = std::getenv("K8BUS_ARGV_OUT");
    if (!out)
        return 2;
    const std::string tmp = std::string(out) + ".part";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return 3;
    for (int i = 0; i < argc; ++i)
        std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return std::rename(tmp.c_str(), out) == 0 ? 0 : 4;
}
