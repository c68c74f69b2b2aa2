#pragma once
// The XML import's record of the files whose rows it committed: a row per file (folder, name,
// size, time) in the target's table ZENTRIK_IMPORTXML, written in the transaction of the file's
// rows and dropped once the file has moved. It is how the start after a crash tells a queued
// file that is already in from a new one. Used by ImportXml and ImportMoves.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zs::db {
class Connection;
}

namespace zs::engine {

/// Where the import records the files whose rows it committed, until they have moved.
inline constexpr const char* kLoadedTable = "ZENTRIK_IMPORTXML";

/// A data file as the record of its import knows it.
struct FileIdentity {
    long long size = -1;
    long long modified = -1; ///< nanoseconds since the epoch
    bool operator==(const FileIdentity&) const = default;
};

/// The identity of the regular file at `file` (a link is not followed); none for anything else.
std::optional<FileIdentity> identityOf(const std::filesystem::path& file);

/// Creates the record table when the target lacks it. False with the reason when it cannot.
bool ensureLoadedTable(db::Connection& c, std::string& reason);

/// The statement that records `name` of the import folder `folder` as loaded, as `id`.
std::string recordSql(const std::string& folder, const std::string& name, const FileIdentity& id);
/// The statement that drops the record of `name` of `folder`.
std::string forgetSql(const std::string& folder, const std::string& name);

struct LoadedFile {
    std::string name;
    FileIdentity identity;
};
/// The files of `folder` recorded as loaded; none when the records cannot be read.
std::optional<std::vector<LoadedFile>> loadedFiles(db::Connection& c, const std::string& folder);

} // namespace zs::engine
