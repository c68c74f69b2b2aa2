#pragma once
// The scheduler store `cadenzo.xml`: the text the control writes for its operations and the
// reader that turns the file back into operations. Used by the scheduler core only.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zs::time {
class Clock;
}
namespace zs::fs {
class FileOps;
}

namespace zs::cadenzo {

class clsOperazione;
using OperationList = std::vector<std::shared_ptr<clsOperazione>>;

inline constexpr std::string_view kStoreFileName = "cadenzo.xml";

/// The whole store text. Calls each operation's ToXml, which moves its start onto its next
/// occurrence.
std::string storeText(const OperationList& operations);

/// True when an `abilitato` text means enabled: "True" or "Vero" in any case, or a text whose
/// leading number reads as 1 ("1", " 01", "1.0").
bool abilitatoMeansEnabled(std::string_view text);

/// The number at the start of a text, as the original's Val reads it: blanks skipped, digits
/// with an optional point and exponent; 0 when there is none.
double leadingNumber(std::string_view text);

struct LoadResult {
    bool ok = true;
    bool fileMissing = false;
    std::string error; ///< set when !ok
    /// The automation error number the original raised: 91 for an unreadable file or a missing
    /// element, 13 for a text that is no date or number.
    int number = 0;
};

/// Reads the store file into `out` (appending). Each operation gets its next occurrence from
/// `clock`. On a fault the operations read before the faulty element stay in `out` and the
/// result names the fault.
[[nodiscard]] LoadResult loadStore(const std::filesystem::path& file, const time::Clock& clock, OperationList& out);

/// Writes the store atomically; false and an error text when the file cannot be written.
[[nodiscard]] bool saveStore(const std::filesystem::path& file, const OperationList& operations, std::string* error);
[[nodiscard]] bool saveStore(const std::filesystem::path& file, const OperationList& operations, std::string* error,
                             fs::FileOps& ops);

} // namespace zs::cadenzo
