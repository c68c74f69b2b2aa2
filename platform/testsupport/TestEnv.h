#pragma once
// Test helpers shared by every module's tests: a private temporary folder per test with
// HOME, XDG_* and ZENTRIK_HOME pointed into it, one environment variable set for a while, and
// small file helpers.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace zs::test {

/// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

/// Sets one environment variable (removes it, given no value) for the life of the object and
/// gives it back its previous value, or its absence, afterwards.
class ScopedEnvVar {
  public:
    ScopedEnvVar(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvVar();
    ScopedEnvVar(const ScopedEnvVar&) = delete;
    ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

/// Points HOME, XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME and ZENTRIK_HOME into a
/// TempDir for the life of the object and restores the previous values afterwards.
class ScopedTestEnv {
  public:
    ScopedTestEnv();
    ~ScopedTestEnv();
    ScopedTestEnv(const ScopedTestEnv&) = delete;
    ScopedTestEnv& operator=(const ScopedTestEnv&) = delete;

    const std::filesystem::path& root() const { return m_dir.path(); }
    /// The program folder ($ZENTRIK_HOME), created empty.
    std::filesystem::path home() const { return m_dir.path() / "home"; }

  private:
    TempDir m_dir;
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& bytes);

} // namespace zs::test
