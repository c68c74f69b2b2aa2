#pragma once
// Hostile variants of an XML file for the tests of every reader: nesting far beyond any real
// file, a huge text, a NUL byte, a cut-off file, other encodings, no XML at all. A reader must
// answer each with a clear error or a normal run, never a crash, and must leave the file as it was.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zs::test {

struct HostileXml {
    std::string name;  ///< short label for test output ("deep", "huge", ...)
    std::string bytes; ///< the whole file
};

/// The variants of a file whose well-formed form is `<root>body</root>` (body ASCII, at least
/// one element). `rootName` names the root element; `body` is what a valid file would hold.
std::vector<HostileXml> hostileXmlFiles(std::string_view rootName, std::string_view body);

/// Levels of nesting of the "deep" variant, and the size of the "huge" variant's text.
inline constexpr int kHostileDepth = 200000;
inline constexpr std::size_t kHostileTextBytes = 50u * 1024u * 1024u;

} // namespace zs::test

namespace zs::test {

/// What can stand at a file's name without being a file a reader may take in: a FIFO (a
/// blocking open or read would wait for ever), a folder, a link to /dev/zero (an endless
/// file), and a regular file of `kHostileOversizedBytes` (sparse: no disk is used), over every
/// bound of the program's readers.
std::vector<std::string> hostileNonRegularKinds();
/// Plants the kind at `file` (nothing may stand there yet).
void plantNonRegular(const std::string& kind, const std::filesystem::path& file);
/// What stands at `file` (its type, size, link target), to show it was left as it was.
std::string describeEntry(const std::filesystem::path& file);
/// The largest resident set of the children waited for so far, in bytes.
long long childrenPeakMemory();

inline constexpr long long kHostileOversizedBytes = 1536LL * 1024 * 1024;
/// What a process may reach while it meets those: far below the oversized file (or an endless
/// one), with room for a sanitizer build's own overhead.
inline constexpr long long kHostileMemoryBound = 1024LL * 1024 * 1024;

} // namespace zs::test
