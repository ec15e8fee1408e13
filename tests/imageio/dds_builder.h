// DDS files for the reader tests, built from the format table: a header,
// the palette for P8, and levels of seeded bytes.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <array>
#include <cstdint>
#include <vector>

namespace imageio {

struct DdsFile {
    std::vector<std::uint8_t> bytes;
    std::vector<std::vector<BYTE>> levels;  // tightly packed rows, as stored
    std::array<PALETTEENTRY, 256> palette{};
};

// `levels` stored levels of a width x height picture; with levels > 1 the
// header carries the mip count.
DdsFile MakeDds(D3DFORMAT format, UINT width, UINT height, UINT levels, std::uint32_t seed);

// Byte offsets of header fields in the file (after the 4-byte magic).
constexpr std::size_t kDdsHeight = 4 + 8, kDdsWidth = 4 + 12, kDdsMipCount = 4 + 24, kDdsPixelFlags = 4 + 76,
                      kDdsFourCC = 4 + 80;

} // namespace imageio
