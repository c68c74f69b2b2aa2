#pragma once
// The bus wire format as the daemon double reads and writes it: a type byte, a 16-bit
// big-endian parameter count, then parameters of a 16-bit big-endian length and bytes. Blocks
// (info block, arrays, parameter lists) are parameters whose bytes start with a 16-bit count.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zs::k8test {

/// A reply under construction. Counts are written as given, so a test can lie about them.
class Reply {
  public:
    explicit Reply(int type);
    /// The header's parameter count; default: the number of parameters appended.
    Reply& count(int n);
    Reply& param(const std::string& bytes);
    Reply& num(long n) { return param(std::to_string(n)); }
    /// The reply info block: (first, second, daemon session id).
    Reply& info(long first, long second, long sessionId);
    /// An array parameter: element count and elements.
    Reply& array(const std::vector<std::string>& elements);
    /// A return-parameter list: pair count, then key and value per pair (values of keys
    /// ending in "()" given as arrays already encoded with arrayBytes).
    Reply& list(const std::vector<std::pair<std::string, std::string>>& pairs);
    /// Raw bytes appended as they are (for malformed replies).
    Reply& raw(const std::string& bytes);
    std::string bytes() const;

  private:
    int m_type;
    std::optional<int> m_count;
    int m_params = 0;
    std::string m_body;
};

std::string be16(unsigned v);
/// The big-endian 16-bit number at `i` of `s` (two bytes must be there).
unsigned at16(const std::string& s, std::size_t i);
/// count, then each element as length and bytes.
std::string arrayBytes(const std::vector<std::string>& elements);
/// A report line of the output connection: type, control, 16-bit length, data.
std::string reportLine(int type, int lineCtrl, const std::string& data);

/// A request as the daemon received it.
struct Request {
    int type = -1;
    int declaredCount = 0;
    std::vector<std::string> params;
    std::string raw; ///< every byte of the request
};

/// The items of a block parameter (count, then length-prefixed items); nothing when malformed.
std::optional<std::vector<std::string>> splitBlock(const std::string& block);
/// Undoes the credential scrambling of a user or session block and splits its items.
std::optional<std::vector<std::string>> openCredentialBlock(const std::string& block);
/// A parameter list of key/value pairs; array values are given back in their encoded bytes.
std::optional<std::vector<std::pair<std::string, std::string>>> splitPairs(const std::string& list);

} // namespace zs::k8test
