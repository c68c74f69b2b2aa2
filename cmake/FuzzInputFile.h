#pragma once
// For the libFuzzer entries of decoders that read a file by name: each input is written to one
// regular file in a folder of this process's own under the temporary folder, removed at exit.
// The readers see a plain file, as they do in the program (no descriptor links, no FIFOs).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace zs::fuzz {

class InputFile {
  public:
    explicit InputFile(const char* name)
    {
        std::error_code ec;
        m_dir = std::filesystem::temp_directory_path(ec) / ("zs-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir, ec);
        m_path = m_dir / name;
    }
    ~InputFile()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    /// Replaces the file's content with the input; false when it could not be written.
    bool write(const std::uint8_t* data, std::size_t size) const
    {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    }
    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_dir;
    std::filesystem::path m_path;
};

} // namespace zs::fuzz
