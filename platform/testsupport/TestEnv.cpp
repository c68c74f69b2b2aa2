#include "testsupport/TestEnv.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace zs::test {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "zs-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

struct ScopedTestEnv::Saved {
    std::map<std::string, std::optional<std::string>> values;
};

namespace {
const char* const kVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "ZENTRIK_HOME"};
}

ScopedTestEnv::ScopedTestEnv() : m_saved(std::make_unique<Saved>())
{
    for (const char* v : kVars) {
        const char* old = std::getenv(v);
        m_saved->values[v] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    const auto r = m_dir.path();
    std::filesystem::create_directories(r / "config");
    std::filesystem::create_directories(r / "data");
    std::filesystem::create_directories(r / "cache");
    std::filesystem::create_directories(home());
    ::setenv("HOME", r.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (r / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (r / "data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (r / "cache").c_str(), 1);
    ::setenv("ZENTRIK_HOME", home().c_str(), 1);
}

ScopedTestEnv::~ScopedTestEnv()
{
    for (const auto& [name, value] : m_saved->values) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

std::string readFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::filesystem::path& p, const std::string& bytes)
{
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace zs::test
