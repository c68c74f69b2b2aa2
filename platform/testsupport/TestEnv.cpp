#include "testsupport/TestEnv.h"

#include <cstdlib>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>
#include <utility>

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

ScopedEnvVar::ScopedEnvVar(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name))
{
    if (const char* old = std::getenv(m_name.c_str()))
        m_old = old;
    if (value)
        ::setenv(m_name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedEnvVar::~ScopedEnvVar()
{
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

struct ScopedTestEnv::Saved {
    std::deque<ScopedEnvVar> vars;
};

ScopedTestEnv::ScopedTestEnv()
    : m_saved(std::make_unique<Saved>())
{
    const auto r = m_dir.path();
    std::filesystem::create_directories(r / "config");
    std::filesystem::create_directories(r / "data");
    std::filesystem::create_directories(r / "cache");
    std::filesystem::create_directories(home());
    m_saved->vars.emplace_back("HOME", r.string());
    m_saved->vars.emplace_back("XDG_CONFIG_HOME", (r / "config").string());
    m_saved->vars.emplace_back("XDG_DATA_HOME", (r / "data").string());
    m_saved->vars.emplace_back("XDG_CACHE_HOME", (r / "cache").string());
    m_saved->vars.emplace_back("ZENTRIK_HOME", home().string());
}

ScopedTestEnv::~ScopedTestEnv() = default;

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
