#pragma once
// The XML import's record of the files whose rows it committed: a row per file (folder, name,
// size, time) in the target's table ZENTRIK_IMPORTXML, written in the transaction of the file's
// rows and dropped once the file has moved. It is how the start after a crash tells a queued
// file that is already in from a new one. Used by ImportXml and ImportMoves.

#include "fs/FileMoves.h"

#include <optional>
#include <string>
#include <vector>

namespace zs::db {
class Connection;
}

namespace zs::engine {

/// Where the import records the files whose rows it committed, until they have moved.
inline constexpr const char* kLoadedTable = "ZENTRIK_IMPORTXML";

/// Creates the record table when the target lacks it. False with the reason when it cannot.
bool ensureLoadedTable(db::Connection& c, std::string& reason);

/// The statement that records `name` of the import folder `folder` as loaded, as `id`.
std::string recordSql(const std::string& folder, const std::string& name, const fs::FileIdentity& id);
/// The statement that drops the record of `name` of `folder`.
std::string forgetSql(const std::string& folder, const std::string& name);

struct LoadedFile {
    std::string name;
    fs::FileIdentity identity;
};
/// The files of `folder` recorded as loaded; none when the records cannot be read.
std::optional<std::vector<LoadedFile>> loadedFiles(db::Connection& c, const std::string& folder);

} // namespace zs::engine
