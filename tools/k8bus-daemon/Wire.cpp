#include "Wire.h"

namespace zs::k8test {

std::string be16(unsigned v)
{
    std::string s(2, '\0');
    s[0] = static_cast<char>((v >> 8) & 0xFF);
    s[1] = static_cast<char>(v & 0xFF);
    return s;
}

unsigned at16(const std::string& s, std::size_t i)
{
    return (static_cast<unsigned>(static_cast<unsigned char>(s[i])) << 8) | static_cast<unsigned char>(s[i + 1]);
}

Reply::Reply(int type)
    : m_type(type)
{}

Reply& Reply::count(int n)
{
    m_count = n;
    return *this;
}

Reply& Reply::param(const std::string& bytes)
{
    m_body += be16(static_cast<unsigned>(bytes.size())) + bytes;
    ++m_params;
    return *this;
}

Reply& Reply::info(long first, long second, long sessionId)
{
    std::string block = be16(3);
    for (long v : {first, second, sessionId}) {
        std::string t = std::to_string(v);
        block += be16(static_cast<unsigned>(t.size())) + t;
    }
    return param(block);
}

std::string arrayBytes(const std::vector<std::string>& elements)
{
    std::string s = be16(static_cast<unsigned>(elements.size()));
    for (const auto& e : elements)
        s += be16(static_cast<unsigned>(e.size())) + e;
    return s;
}

Reply& Reply::array(const std::vector<std::string>& elements)
{
    return param(arrayBytes(elements));
}

Reply& Reply::list(const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string s = be16(static_cast<unsigned>(pairs.size()));
    for (const auto& [k, v] : pairs)
        s += be16(static_cast<unsigned>(k.size())) + k + be16(static_cast<unsigned>(v.size())) + v;
    return param(s);
}

Reply& Reply::raw(const std::string& bytes)
{
    m_body += bytes;
    return *this;
}

std::string Reply::bytes() const
{
    std::string s(1, static_cast<char>(m_type));
    s += be16(static_cast<unsigned>(m_count.value_or(m_params)));
    return s + m_body;
}

std::string reportLine(int type, int lineCtrl, const std::string& data)
{
    std::string s;
    s += static_cast<char>(type);
    s += static_cast<char>(lineCtrl);
    return s + be16(static_cast<unsigned>(data.size())) + data;
}

namespace {

// Reads the length-prefixed item at `i` into `out` and moves past it; false when the bytes end first.
bool readItem(const std::string& s, std::size_t& i, std::vector<std::string>& out)
{
    if (s.size() - i < 2)
        return false;
    const unsigned n = at16(s, i);
    i += 2;
    if (s.size() - i < n)
        return false;
    out.push_back(s.substr(i, n));
    i += n;
    return true;
}

std::optional<std::vector<std::string>> items(const std::string& s, std::size_t from, std::size_t count)
{
    std::vector<std::string> out;
    std::size_t i = from;
    for (std::size_t k = 0; k < count; ++k)
        if (!readItem(s, i, out))
            return std::nullopt;
    if (i != s.size())
        return std::nullopt;
    return out;
}

} // namespace

std::optional<std::vector<std::string>> splitBlock(const std::string& block)
{
    if (block.size() < 2)
        return std::nullopt;
    return items(block, 2, at16(block, 0));
}

std::optional<std::vector<std::string>> openCredentialBlock(const std::string& block)
{
    if (block.empty())
        return std::nullopt;
    std::string b = block;
    if (b[0] == 1 && b.size() > 1) {
        // The key stream depends only on the scrambled last byte, so it can be rebuilt from the
        // received bytes from the back.
        const std::size_t n = b.size() - 1;
        unsigned char* p = reinterpret_cast<unsigned char*>(b.data()) + 1;
        std::uint32_t sum = p[n - 1];
        std::uint32_t step = 0x6B;
        p[n - 1] = static_cast<unsigned char>(p[n - 1] ^ 0x6B);
        bool useSum = true;
        for (std::size_t k = n - 1; k-- > 0;) {
            if (useSum) {
                sum += step;
                p[k] = static_cast<unsigned char>(p[k] ^ (sum & 0xFF));
            } else {
                step += sum;
                p[k] = static_cast<unsigned char>(p[k] ^ (step & 0xFF));
            }
            useSum = !useSum;
        }
    }
    // Items follow the mode byte until the bytes end.
    std::vector<std::string> out;
    std::size_t i = 1;
    while (i < b.size())
        if (!readItem(b, i, out))
            return std::nullopt;
    return out;
}

std::optional<std::vector<std::pair<std::string, std::string>>> splitPairs(const std::string& list)
{
    if (list.size() < 2)
        return std::nullopt;
    auto flat = items(list, 2, 2 * static_cast<std::size_t>(at16(list, 0)));
    if (!flat)
        return std::nullopt;
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i + 1 < flat->size(); i += 2)
        out.emplace_back((*flat)[i], (*flat)[i + 1]);
    return out;
}

} // namespace zs::k8test
