#pragma once
// Moves of whole files that never lose one: a rename that never replaces what stands at the new
// name, a copy flushed to disk for a move to another file system, and the identity (size, time)
// by which a file is known again after a move. Every call goes through FileOps, so that tests
// can fail any of them. Used by the XML import for the files it has loaded.

#include <filesystem>
#include <optional>
#include <string>

namespace zs::fs {

class FileOps;

/// A file as it is known again after a move or a copy: its size and its modification time.
struct FileIdentity {
    long long size = -1;
    long long modified = -1; ///< nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};

/// The identity of the regular file at `file` (a link is not followed); none for anything else.
std::optional<FileIdentity> identityOf(const std::filesystem::path& file, FileOps& ops);
/// The same, telling why there is none: `error` is the look's errno when it failed (ENOENT:
/// nothing stands at the name), 0 when something other than a regular file stands there.
std::optional<FileIdentity> identityOf(const std::filesystem::path& file, FileOps& ops, int& error);

/// Whether `file` and `folder` are on one file system (a rename can go from one to the other);
/// false when either cannot be looked at.
bool sameFileSystem(const std::filesystem::path& file, const std::filesystem::path& folder, FileOps& ops);

/// Copies `from` into a new temporary file in `folder` (on another file system, where a rename
/// cannot go; `to` is the name it is meant for), with its mode and time, flushed to the disk;
/// sets `tmp`. False with `reason` naming the file and the system's reason; nothing is then left
/// behind.
bool copyFlushed(const std::filesystem::path& from, const std::filesystem::path& folder,
                 const std::filesystem::path& to, std::filesystem::path& tmp, std::string& reason, FileOps& ops);

/// Renames `from` to `to` unless something stands at `to` already (errno EEXIST then).
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, FileOps& ops);

} // namespace zs::fs
