#pragma once
// Whole-file writes that never lose the old file: the bytes go to a temporary file in the
// same folder, are flushed to disk, and replace the old file by rename.

#include <filesystem>
#include <string>
#include <string_view>

namespace zs::fs {

class FileOps;

struct WriteOptions {
    bool privateMode = false; ///< never looser than 0600 (files holding passwords)
};

/// Writes `bytes` to `file` atomically. A file that exists keeps its permission bits (with
/// `privateMode`, never looser than 0600); a new one gets 0644, or 0600 with `privateMode`.
/// Returns false and sets `error` (when given) to a text naming the file and the system's
/// reason; the old file is then untouched and no temporary file is left behind.
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options = {}, std::string* error = nullptr);
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options, std::string* error, FileOps& ops);

/// Removes the temporary files that saves into `folder` left behind when their process was
/// killed mid-way (".name.tmp-PID" whose process no longer runs). Returns how many went.
int removeStaleTemporaries(const std::filesystem::path& folder);

/// Appends `bytes` to `file`, creating it (and its folder) when missing. All or nothing: when
/// the bytes do not all fit (a full disk), the file is cut back to its old length, so no
/// partial line is left.
[[nodiscard]] bool appendToFile(const std::filesystem::path& file, std::string_view bytes,
                                std::string* error = nullptr);

/// Reads a whole file; nothing when it cannot be read.
bool readWholeFile(const std::filesystem::path& file, std::string& out);

} // namespace zs::fs
