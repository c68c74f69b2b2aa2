#pragma once
// Eight bytes of text looked at as one 64-bit word: whether the word holds a given byte, a
// byte below a bound or one that is not ASCII, with no branch per byte. The readers and writers
// of bulk rows skip the runs that need no work eight bytes at a time with these.

#include <cstdint>
#include <cstring>

namespace zs::text {

inline constexpr std::uint64_t kWordOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kWordHighs = 0x8080808080808080ULL;

/// The eight bytes at `p` (any alignment).
inline std::uint64_t loadWord(const char* p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

/// Whether one of the word's bytes is zero.
inline bool wordHasZero(std::uint64_t w)
{
    return ((w - kWordOnes) & ~w & kWordHighs) != 0;
}

/// Whether one of the word's bytes is `c`.
inline bool wordHas(std::uint64_t w, unsigned char c)
{
    return wordHasZero(w ^ (kWordOnes * c));
}

/// Whether one of the word's bytes may be below `bound` (at most 0x80): never false when one is.
inline bool wordMayHoldBelow(std::uint64_t w, unsigned char bound)
{
    return ((w - kWordOnes * bound) & ~w & kWordHighs) != 0;
}

/// Whether one of the word's bytes is not ASCII.
inline bool wordHasHigh(std::uint64_t w)
{
    return (w & kWordHighs) != 0;
}

} // namespace zs::text
