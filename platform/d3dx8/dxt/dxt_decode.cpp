// Block decoding.  Interpolated entries are the exact blends of the
// expanded 8-bit endpoints, rounded to nearest: (2*c0 + c1 + 1) / 3 for the
// thirds, (c0 + c1 + 1) / 2 for the midpoint, and the alpha blends likewise
// with sevenths and fifths.  The encoders evaluate their candidates through
// the same functions, so what they optimise is what a reader sees.
#include "dxt_internal.h"

#include <algorithm>
#include <cstring>

namespace dxt {
namespace detail {

void ColourPalette(std::uint16_t c0, std::uint16_t c1, bool fourColour, std::uint8_t out[4][4])
{
    const int e0[3] = {Expand5(c0 >> 11), Expand6((c0 >> 5) & 63), Expand5(c0 & 31)};
    const int e1[3] = {Expand5(c1 >> 11), Expand6((c1 >> 5) & 63), Expand5(c1 & 31)};
    for (int ch = 0; ch < 3; ++ch) {
        out[0][ch] = static_cast<std::uint8_t>(e0[ch]);
        out[1][ch] = static_cast<std::uint8_t>(e1[ch]);
        if (fourColour) {
            out[2][ch] = static_cast<std::uint8_t>((2 * e0[ch] + e1[ch] + 1) / 3);
            out[3][ch] = static_cast<std::uint8_t>((e0[ch] + 2 * e1[ch] + 1) / 3);
        } else {
            out[2][ch] = static_cast<std::uint8_t>((e0[ch] + e1[ch] + 1) / 2);
            out[3][ch] = 0;
        }
    }
    out[0][3] = out[1][3] = out[2][3] = 255;
    out[3][3] = fourColour ? 255 : 0;
}

void AlphaPalette(int a0, int a1, std::uint8_t out[8])
{
    out[0] = static_cast<std::uint8_t>(a0);
    out[1] = static_cast<std::uint8_t>(a1);
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i)
            out[i + 1] = static_cast<std::uint8_t>(((7 - i) * a0 + i * a1 + 3) / 7);
    } else {
        for (int i = 1; i < 5; ++i)
            out[i + 1] = static_cast<std::uint8_t>(((5 - i) * a0 + i * a1 + 2) / 5);
        out[6] = 0;
        out[7] = 255;
    }
}

} // namespace detail

using namespace detail;

unsigned BlockBytes(D3DFORMAT format)
{
    const FormatInfo* info = D3DFormatInfo(format);
    return info && info->kind == FormatKind::Block ? info->blockBytes : 0;
}

namespace {

void DecodeColour(const std::uint8_t* block, bool allowThreeColour, std::uint8_t rgba[64])
{
    const std::uint16_t c0 = LoadU16(block);
    const std::uint16_t c1 = LoadU16(block + 2);
    std::uint32_t indices = LoadU32(block + 4);
    std::uint8_t palette[4][4];
    // DXT2-5 colour blocks always use the 4-colour rule, whatever the order.
    ColourPalette(c0, c1, !allowThreeColour || c0 > c1, palette);
    for (int i = 0; i < 16; ++i, indices >>= 2)
        std::memcpy(rgba + 4 * i, palette[indices & 3], 4);
}

void DecodeExplicitAlpha(const std::uint8_t* block, std::uint8_t rgba[64])
{
    for (int i = 0; i < 16; ++i) {
        const int nibble = (block[i / 2] >> (4 * (i & 1))) & 15;
        rgba[4 * i + 3] = static_cast<std::uint8_t>(nibble * 17);
    }
}

void DecodeInterpolatedAlpha(const std::uint8_t* block, std::uint8_t rgba[64])
{
    std::uint8_t palette[8];
    AlphaPalette(block[0], block[1], palette);
    std::uint64_t bits = 0;
    for (int i = 0; i < 6; ++i)
        bits |= static_cast<std::uint64_t>(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i, bits >>= 3)
        rgba[4 * i + 3] = palette[bits & 7];
}

void Unpremultiply(std::uint8_t rgba[64])
{
    for (int i = 0; i < 16; ++i) {
        std::uint8_t* p = rgba + 4 * i;
        for (int ch = 0; ch < 3; ++ch)
            p[ch] = static_cast<std::uint8_t>(detail::Unpremultiply(p[ch], p[3]));
    }
}

// A block whose format's premultiplied flag the caller has looked up.
void DecodeBlockAs(D3DFORMAT format, bool premultiplied, const std::uint8_t* block, std::uint8_t rgba[64])
{
    switch (format) {
    case D3DFMT_DXT1:
        DecodeColour(block, true, rgba);
        return;
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
        DecodeColour(block + 8, false, rgba);
        DecodeExplicitAlpha(block, rgba);
        break;
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
        DecodeColour(block + 8, false, rgba);
        DecodeInterpolatedAlpha(block, rgba);
        break;
    default:
        std::memset(rgba, 0, 64);
        return;
    }
    if (premultiplied)
        Unpremultiply(rgba);
}

} // namespace

void DecodeBlock(D3DFORMAT format, const std::uint8_t* block, std::uint8_t rgba[64])
{
    DecodeBlockAs(format, IsPremultiplied(format), block, rgba);
}

void DecodeImage(D3DFORMAT format, const std::uint8_t* blocks, std::size_t blockPitch, std::uint32_t width,
                 std::uint32_t height, std::uint8_t* rgba, std::size_t pitch)
{
    const unsigned bytes = BlockBytes(format);
    if (bytes == 0)
        return;
    const bool premultiplied = IsPremultiplied(format);
    std::uint8_t texels[64];
    for (std::uint32_t by = 0; by < (height + 3) / 4; ++by) {
        const std::uint8_t* row = blocks + static_cast<std::size_t>(by) * blockPitch;
        for (std::uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
            DecodeBlockAs(format, premultiplied, row + static_cast<std::size_t>(bx) * bytes, texels);
            const std::uint32_t w = std::min<std::uint32_t>(4, width - 4 * bx);
            const std::uint32_t h = std::min<std::uint32_t>(4, height - 4 * by);
            for (std::uint32_t y = 0; y < h; ++y)
                std::memcpy(rgba + (static_cast<std::size_t>(4 * by + y) * pitch) + 16 * static_cast<std::size_t>(bx),
                            texels + 16 * y, 4 * w);
        }
    }
}

} // namespace dxt
