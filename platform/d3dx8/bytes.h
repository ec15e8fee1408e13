// Little-endian loads and stores of file fields and block words, and the
// widening of short channels to 8 bits.  Used by every reader and writer of
// the platform layer and the converter.
#pragma once

#include <cstdint>

namespace d3dx {

constexpr std::uint16_t LoadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

constexpr std::uint32_t LoadU32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// Three bytes as the low bytes of a word: a B, G, R pixel as X8R8G8B8
// without its X.
constexpr std::uint32_t LoadU24(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
}

// The low `bytes` (1..4) bytes of a word.
constexpr std::uint32_t LoadLowBytes(const std::uint8_t* p, unsigned bytes)
{
    std::uint32_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v |= std::uint32_t{p[i]} << (8 * i);
    return v;
}

constexpr void StoreLowBytes(std::uint8_t* p, unsigned bytes, std::uint32_t v)
{
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr void StoreU16(std::uint8_t* p, std::uint16_t v) { StoreLowBytes(p, 2, v); }
constexpr void StoreU32(std::uint8_t* p, std::uint32_t v) { StoreLowBytes(p, 4, v); }

// 5 and 6-bit channels to 8 bits by repeating their high bits, as the DXT
// decoding rules and 16-bit TGA colour maps expand them.
constexpr int Expand5(int v) { return (v << 3) | (v >> 2); }
constexpr int Expand6(int v) { return (v << 2) | (v >> 4); }

// A channel of 0..max to 0..255, rounded to nearest.  Not the same as
// Expand5 for max 31: 3 becomes 25 here and 24 there.
constexpr std::uint8_t ScaleTo8(std::uint64_t v, std::uint64_t max)
{
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

} // namespace d3dx
