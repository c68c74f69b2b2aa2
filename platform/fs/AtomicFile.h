#pragma once
// Whole-file writes that never lose the old file: the bytes go to a temporary file of an
// unpredictable name in the same folder, are flushed to disk, and replace the old file by
// rename; the folder is flushed after it.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace zs::fs {

class FileOps;

struct WriteOptions {
    bool privateMode = false; ///< never looser than 0600 (files holding passwords)
};

/// Writes `bytes` to `file` atomically and durably. A file that exists keeps its permission bits
/// (with `privateMode`, never looser than 0600); a new one gets 0666, or 0600 with
/// `privateMode`, less the umask. A link standing at `file` is replaced by the file, never
/// written through. Returns false and sets `error` (when given) to a text naming the file and
/// the system's reason; the old file is then untouched and no temporary file is left behind.
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options = {}, std::string* error = nullptr);
[[nodiscard]] bool writeFileAtomic(const std::filesystem::path& file, std::string_view bytes,
                                   const WriteOptions& options, std::string* error, FileOps& ops);

/// Creates a new file for `name`'s save in `folder` under an unpredictable temporary name
/// (O_CREAT|O_EXCL|O_NOFOLLOW: nothing that stands at a name is ever opened), with `mode` less
/// the umask. Returns the descriptor and sets `path`, or -1 with errno set.
int createTemporary(const std::filesystem::path& folder, const std::string& name, mode_t mode, std::string& path,
                    FileOps& ops);

/// The temporary name a save of `name` uses: ".<name>.zstmp-<pid>-<16 random hex digits>".
std::string temporaryName(const std::string& name);
/// The process that made the temporary `fileName`, when it is a name temporaryName gives.
std::optional<pid_t> temporaryOwner(const std::string& fileName);

/// Flushes a folder's entries (a new or renamed name) to disk; a file system that cannot
/// is let be.
void syncFolder(const std::filesystem::path& folder, FileOps& ops);

/// Removes the temporary files that saves into `folder` left behind when their process was
/// killed mid-way: regular files of this user under a name temporaryName gives, whose process
/// no longer runs. Anything else (links, other users' files, other names) stays. Returns how
/// many went.
int removeStaleTemporaries(const std::filesystem::path& folder);

/// Appends `bytes` to `file`, creating it (and its folder) when missing. All or nothing: when
/// the bytes do not all fit (a full disk), the file is cut back to its old length, so no
/// partial line is left. Only a regular file is written: a FIFO, a folder, a device or a link at
/// the name fails at once, with the reason in `error` (openForWriting, fs/ReadFile.h).
[[nodiscard]] bool appendToFile(const std::filesystem::path& file, std::string_view bytes,
                                std::string* error = nullptr);

/// Reads a whole regular file of at most `maxBytes` (fs/ReadFile.h); false when it is missing,
/// not a regular file, larger, or cannot be read.
bool readWholeFile(const std::filesystem::path& file, std::string& out, std::size_t maxBytes = 64u << 20);

} // namespace zs::fs
