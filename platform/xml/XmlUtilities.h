#pragma once
// Writes the program's XML documents to disk: UTF-8 with a byte-order mark, the whole
// document on one line, replacing the old file atomically so a failed save never loses it.
// The settings store, the run statistics and the cube snapshot save through it.

#include <filesystem>
#include <string>
#include <string_view>

namespace zs::fs {
class FileOps;
}
namespace zs::xml {

class Document;

/// Writes EF BB BF followed by `text` to `fileName`, replacing an existing file (read-only
/// included). On failure returns false with a readable `error`; the old file stays as it was.
[[nodiscard]] bool SaveUtf8File(const std::filesystem::path& fileName, std::string_view text,
                                std::string* error = nullptr, bool privateFile = false);
[[nodiscard]] bool SaveUtf8File(const std::filesystem::path& fileName, std::string_view text, std::string* error,
                                bool privateFile, fs::FileOps& ops);

/// The document's XML text with every CR LF pair removed, as FormatXml writes it.
std::string formattedXml(const Document& document);

/// Saves the document through SaveUtf8File with every CR LF pair removed (lone CR or LF stay).
[[nodiscard]] bool FormatXml(const Document& document, const std::filesystem::path& fileName,
                             std::string* error = nullptr, bool privateFile = false);
[[nodiscard]] bool FormatXml(const Document& document, const std::filesystem::path& fileName, std::string* error,
                             bool privateFile, fs::FileOps& ops);

} // namespace zs::xml
