// Mip levels built one from another under settings: the colour space of
// filtering, the filter, the edge rule, alpha coverage and normal maps.
//
// Pictures are 8-bit RGBA: red, green, blue, alpha bytes per texel, rows
// packed without padding (the order SourceRows::ReadRgba8 gives).  Level
// n + 1 of a w x h level is max(1, w / 2) x max(1, h / 2).
//
// The box of stored values (mips box, filter box, no normal map) is exactly
// the converter's box filter (filter_texture.cpp), so with every setting at
// its default the bytes are today's: each texel the rounded average
// (a + b + c + d + 2) >> 2 of a 2x2 block, source rows and columns clamped
// to the last, so an odd side's last texel is not read.  Linear light, the
// Kaiser filter and normal maps filter in float and sample soundly: a
// destination texel covers sw / dw source texels (2.5 for 5 -> 2), so no
// texel is skipped.  Alpha coverage scales the alpha of either result.
#pragma once

#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <vector>

namespace d3dx::pixel {

// The colour space of filtering: the stored values (`box`), or linear light
// (`linear`: sRGB decoded to float, filtered, encoded back rounding to the
// nearest code; alpha stays linear).
enum class MipSpace { Box, Linear };

// The filter: a box over each texel's footprint, or a Kaiser-windowed sinc
// of radius 3 destination texels (beta 4).  Kaiser rather than Lanczos: its
// window has a parameter, beta, that trades ringing against sharpness where
// Lanczos's shape is fixed; at beta 4 it overshoots a hard edge by 7.7 %
// against Lanczos-3's 8.2 % when halving, and passes 1.6 % at 0.35 cycles
// per source texel (Lanczos-3: 1.3 %), keeping the same twelve taps.
enum class MipFilter { Box, Kaiser };

struct MipSettings {
    MipSpace mips = MipSpace::Box;
    MipFilter filter = MipFilter::Box;
    // Taps past an edge come from the opposite edge (tiling textures) rather
    // than from the edge texel.  Only the Kaiser filter reaches past an
    // edge; a box never does.
    bool wrap = false;
    // Each level's alpha is scaled so that the share of texels with alpha at
    // or above `alphaTest` equals level 0's.
    bool alphaCoverage = false;
    std::uint8_t alphaTest = 128;
    // Red, green, blue hold a unit vector as 2 * c / 255 - 1: vectors are
    // filtered, renormalised and encoded back; `mips` does not apply to them.
    // Alpha is filtered as a stored value.
    bool normalMap = false;

    bool operator==(const MipSettings&) const = default;
};

struct MipPicture {
    UINT width = 0, height = 0;
    std::vector<std::uint8_t> rgba;  // width * height * 4 bytes
};

// The share (0 to 1) of the picture's texels whose alpha is at or above
// `test`; 0 for an empty picture.
double MipAlphaCoverage(const MipPicture& picture, std::uint8_t test);

// Level n + 1 of `upper` (level n, at least 1 x 1).  `coverage` is level
// 0's MipAlphaCoverage at settings.alphaTest; it is read only when
// settings.alphaCoverage is set.  Pure function, safe on any thread.
MipPicture MipNextLevel(const MipSettings& settings, const MipPicture& upper, double coverage);

// The levels below level 0, each from the one above: `count` of them, or
// (count 0) down to 1 x 1.  Alpha coverage is matched to level0's.
std::vector<MipPicture> MipBuildChain(const MipSettings& settings, const MipPicture& level0, UINT count = 0);

// The 2x2 box of stored values, from an upper level in memory (pw x ph) to
// the next (max(1, pw / 2) x max(1, ph / 2)), as the converter's default
// filter computes it.
void BoxLevel(const std::uint8_t* upper, UINT pw, UINT ph, std::uint8_t* out);

} // namespace d3dx::pixel
