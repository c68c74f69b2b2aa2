#pragma once
// The row loading of the XML import: one data file read as a stream (XmlPullReader), its mapped
// elements turned into rows of the mapping's tables and written in batches on the connection,
// inside the transaction the caller holds. Used by ImportXml, once per data file.

#include <filesystem>
#include <string>

namespace zs::db {
class Connection;
}

namespace zs::engine {

struct XmlMapping;

/// Loads the rows of `file` through `mapping`. False with the reason when the file was rejected
/// (unreadable, not well-formed, a row the database refused, nothing mapped); rows written
/// before stay in the caller's transaction, which is then rolled back.
bool loadXmlRows(db::Connection& c, const XmlMapping& mapping, const std::filesystem::path& file, std::string& reason);

} // namespace zs::engine
