#pragma once
// A folder the test cannot write into, also when the tests run as root (as CI containers do):
// the folder loses its write bits and, for root, the calling thread's file-system user becomes
// an unprivileged one for the object's life, which takes away root's right to write anywhere.
// Everything else under the test's own folder is opened to that user, so the code under test
// keeps writing where it may.

#include <fcntl.h>
#include <filesystem>
#include <sys/fsuid.h>
#include <unistd.h>

namespace zs::test {

class ReadOnlyFolder {
  public:
    static constexpr uid_t kUnprivileged = 65534;

    /// `folder` (created when missing) becomes read-only; `within` is the test's temporary
    /// folder that holds it.
    ReadOnlyFolder(const std::filesystem::path& folder, const std::filesystem::path& within)
        : m_folder(folder)
    {
        namespace fs = std::filesystem;
        fs::create_directories(folder);
        m_asRoot = ::geteuid() == 0;
        if (m_asRoot) {
            fs::permissions(within, fs::perms::all);
            for (const auto& e : fs::recursive_directory_iterator(within))
                fs::permissions(e.path(), e.is_directory() ? fs::perms::all : openFile);
        }
        fs::permissions(folder, readOnly);
        if (m_asRoot)
            ::setfsuid(kUnprivileged);
    }
    ~ReadOnlyFolder()
    {
        if (m_asRoot)
            ::setfsuid(0);
        std::error_code ec;
        std::filesystem::permissions(m_folder, std::filesystem::perms::all, ec);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    /// True when the folder refuses a new file here and now (the test's precondition).
    bool refusesWrites() const
    {
        const std::filesystem::path probe = m_folder / ".write-probe";
        const int fd = ::creat(probe.c_str(), 0600);
        if (fd < 0)
            return true;
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }

  private:
    static constexpr auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_read | std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_read | std::filesystem::perms::others_exec;
    static constexpr auto openFile = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_read | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_read | std::filesystem::perms::others_write;
    std::filesystem::path m_folder;
    bool m_asRoot = false;
};

} // namespace zs::test
