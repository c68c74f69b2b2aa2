#pragma once
// Whole-file writes that never lose the old file: the bytes go to a temporary file in the
// same folder, are flushed to disk, and replace the old file by rename.

#include <filesystem>
#include <string>
#include <string_view>

namespace zs::fs {

class FileOps;

struct WriteOptions {
    bool privateMode = false; ///< create with mode 0600 (files holding passwords)
};

/// Writes `bytes` to `file` atomically. Returns false and sets `error` (when given) to a text
/// naming the file and the system's reason; the old file is then untouched and no temporary
/// file is left behind.
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options = {}, std::string* error = nullptr);
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options, std::string* error, FileOps& ops);

/// Appends `bytes` to `file`, creating it (and its folder) when missing.
[[nodiscard]] bool appendToFile(const std::filesystem::path& file, std::string_view bytes,
                                std::string* error = nullptr);

/// Reads a whole file; nothing when it cannot be read.
bool readWholeFile(const std::filesystem::path& file, std::string& out);

} // namespace zs::fs
