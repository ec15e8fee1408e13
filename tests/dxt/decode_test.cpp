// The decoder against hand-built blocks and the interpolation rules.
#include "platform/d3dx8/dxt/dxt.h"
#include "platform/d3dx8/dxt/dxt_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using dxt::detail::Pack565;

std::vector<std::uint8_t> Decode(D3DFORMAT format, const std::vector<std::uint8_t>& block)
{
    std::vector<std::uint8_t> rgba(64);
    dxt::DecodeBlock(format, block.data(), rgba.data());
    return rgba;
}

void ExpectTexel(const std::vector<std::uint8_t>& rgba, int i, int r, int g, int b, int a)
{
    EXPECT_EQ(rgba[4 * i + 0], r) << "texel " << i;
    EXPECT_EQ(rgba[4 * i + 1], g) << "texel " << i;
    EXPECT_EQ(rgba[4 * i + 2], b) << "texel " << i;
    EXPECT_EQ(rgba[4 * i + 3], a) << "texel " << i;
}

// Colour block bytes: endpoints little-endian, then the 2-bit indices.
std::vector<std::uint8_t> ColourBlock(std::uint16_t c0, std::uint16_t c1, std::uint32_t indices)
{
    return {static_cast<std::uint8_t>(c0), static_cast<std::uint8_t>(c0 >> 8), static_cast<std::uint8_t>(c1),
            static_cast<std::uint8_t>(c1 >> 8), static_cast<std::uint8_t>(indices),
            static_cast<std::uint8_t>(indices >> 8), static_cast<std::uint8_t>(indices >> 16),
            static_cast<std::uint8_t>(indices >> 24)};
}

// Texel i uses index i % 4.
constexpr std::uint32_t kCycleIndices = 0xE4E4E4E4u;

TEST(DxtDecode, BlockBytesPerFormat)
{
    EXPECT_EQ(dxt::BlockBytes(D3DFMT_DXT1), 8u);
    for (D3DFORMAT f : {D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5})
        EXPECT_EQ(dxt::BlockBytes(f), 16u);
    EXPECT_EQ(dxt::BlockBytes(D3DFMT_A8R8G8B8), 0u);
}

TEST(DxtDecode, FourColourBlockRoundsThirdsToNearest)
{
    // Endpoints expand to (8, 8, 24) and black; a truncating decoder would
    // give 2 instead of 3 for the second third of 8.
    const auto rgba = Decode(D3DFMT_DXT1, ColourBlock(Pack565(1, 2, 3), 0, kCycleIndices));
    ExpectTexel(rgba, 0, 8, 8, 24, 255);
    ExpectTexel(rgba, 1, 0, 0, 0, 255);
    ExpectTexel(rgba, 2, 5, 5, 16, 255);
    ExpectTexel(rgba, 3, 3, 3, 8, 255);
    ExpectTexel(rgba, 15, 3, 3, 8, 255);
}

TEST(DxtDecode, FullRangeEndpointsExpandByReplication)
{
    const auto rgba = Decode(D3DFMT_DXT1, ColourBlock(0xFFFF, Pack565(16, 32, 16), kCycleIndices));
    ExpectTexel(rgba, 0, 255, 255, 255, 255);
    ExpectTexel(rgba, 1, 132, 130, 132, 255);
    ExpectTexel(rgba, 2, 214, 213, 214, 255);  // (510+132+1)/3, (510+130+1)/3
    ExpectTexel(rgba, 3, 173, 172, 173, 255);  // (255+264+1)/3, (255+260+1)/3
}

TEST(DxtDecode, ThreeColourBlockHasMidpointAndTransparentBlack)
{
    const auto rgba = Decode(D3DFMT_DXT1, ColourBlock(0, Pack565(1, 1, 1), kCycleIndices));
    ExpectTexel(rgba, 0, 0, 0, 0, 255);
    ExpectTexel(rgba, 1, 8, 4, 8, 255);
    ExpectTexel(rgba, 2, 4, 2, 4, 255);
    ExpectTexel(rgba, 3, 0, 0, 0, 0);
}

TEST(DxtDecode, EqualEndpointsAreThreeColourInDxt1Only)
{
    const std::uint16_t c = Pack565(31, 0, 31);
    const auto dxt1 = Decode(D3DFMT_DXT1, ColourBlock(c, c, kCycleIndices));
    ExpectTexel(dxt1, 2, 255, 0, 255, 255);
    ExpectTexel(dxt1, 3, 0, 0, 0, 0);

    std::vector<std::uint8_t> block(8, 0);  // explicit alpha 0
    const auto colour = ColourBlock(c, c, kCycleIndices);
    block.insert(block.end(), colour.begin(), colour.end());
    const auto dxt3 = Decode(D3DFMT_DXT3, block);
    ExpectTexel(dxt3, 3, 255, 0, 255, 0);
}

TEST(DxtDecode, Dxt3ColourIgnoresEndpointOrder)
{
    // c0 < c1 would be the 3-colour mode in DXT1; DXT3 interpolates anyway.
    std::vector<std::uint8_t> block(8, 0xFF);
    const auto colour = ColourBlock(0, Pack565(31, 63, 31), kCycleIndices);
    block.insert(block.end(), colour.begin(), colour.end());
    const auto rgba = Decode(D3DFMT_DXT3, block);
    ExpectTexel(rgba, 2, 85, 85, 85, 255);
    ExpectTexel(rgba, 3, 170, 170, 170, 255);
}

TEST(DxtDecode, ExplicitAlphaNibblesInTexelOrder)
{
    std::vector<std::uint8_t> block = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    const auto colour = ColourBlock(0xFFFF, 0xFFFF, 0);
    block.insert(block.end(), colour.begin(), colour.end());
    const auto rgba = Decode(D3DFMT_DXT3, block);
    for (int i = 0; i < 16; ++i)
        ExpectTexel(rgba, i, 255, 255, 255, 17 * i);
}

// Alpha block with texel i using index i % 8.
std::vector<std::uint8_t> AlphaBlock(int a0, int a1)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<std::uint64_t>(i % 8) << (3 * i);
    std::vector<std::uint8_t> block = {static_cast<std::uint8_t>(a0), static_cast<std::uint8_t>(a1)};
    for (int i = 0; i < 6; ++i)
        block.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    const auto colour = ColourBlock(0xFFFF, 0xFFFF, 0);
    block.insert(block.end(), colour.begin(), colour.end());
    return block;
}

TEST(DxtDecode, EightValueAlphaMode)
{
    const auto rgba = Decode(D3DFMT_DXT5, AlphaBlock(200, 10));
    const int expected[8] = {200, 10, 173, 146, 119, 91, 64, 37};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(rgba[4 * i + 3], expected[i % 8]) << i;
}

TEST(DxtDecode, SixValueAlphaModeAddsZeroAndOpaque)
{
    const auto rgba = Decode(D3DFMT_DXT5, AlphaBlock(10, 200));
    const int expected[8] = {10, 200, 48, 86, 124, 162, 0, 255};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(rgba[4 * i + 3], expected[i % 8]) << i;
}

TEST(DxtDecode, PremultipliedFormatsReturnStraightColour)
{
    // Colour (132, 130, 132) stored premultiplied by alpha 136 (nibble 8).
    std::vector<std::uint8_t> dxt2(8, 0x88);
    const auto colour = ColourBlock(Pack565(16, 32, 16), Pack565(16, 32, 16), 0);
    dxt2.insert(dxt2.end(), colour.begin(), colour.end());
    const auto straight = Decode(D3DFMT_DXT2, dxt2);
    ExpectTexel(straight, 0, 248, 244, 248, 136);  // 132 * 255 / 136 rounded, 130 * 255 / 136
    const auto plain = Decode(D3DFMT_DXT3, dxt2);
    ExpectTexel(plain, 0, 132, 130, 132, 136);

    // DXT4: zero alpha has no colour; full alpha keeps it.
    auto dxt4 = AlphaBlock(255, 0);
    std::memcpy(dxt4.data() + 8, colour.data(), 8);
    const auto rgba = Decode(D3DFMT_DXT4, dxt4);
    ExpectTexel(rgba, 0, 132, 130, 132, 255);
    ExpectTexel(rgba, 1, 0, 0, 0, 0);
}

TEST(DxtDecode, InterpolationIsTheExactBlendRoundedToNearest)
{
    std::uint8_t palette[4][4];
    for (int a = 0; a < 32; ++a)
        for (int b = 0; b < 64; ++b) {
            const std::uint16_t c0 = Pack565(a, b, a), c1 = Pack565(31 - a, 63 - b, a);
            for (bool four : {true, false}) {
                dxt::detail::ColourPalette(c0, c1, four, palette);
                const double r0 = palette[0][0], r1 = palette[1][0], g0 = palette[0][1], g1 = palette[1][1];
                if (four) {
                    ASSERT_EQ(palette[2][0], std::lround((2 * r0 + r1) / 3));
                    ASSERT_EQ(palette[3][1], std::lround((g0 + 2 * g1) / 3));
                } else {
                    ASSERT_EQ(palette[2][0], std::lround((r0 + r1) / 2 + 1e-9));
                    ASSERT_EQ(palette[2][1], std::lround((g0 + g1) / 2 + 1e-9));
                }
            }
        }
    std::uint8_t alpha[8];
    for (int a0 = 0; a0 < 256; ++a0)
        for (int a1 = 0; a1 < 256; ++a1) {
            dxt::detail::AlphaPalette(a0, a1, alpha);
            const int steps = a0 > a1 ? 7 : 5;
            for (int i = 1; i < steps; ++i)
                ASSERT_EQ(alpha[i + 1], std::lround(((steps - i) * a0 + i * a1) / double(steps)))
                    << a0 << " " << a1 << " " << i;
        }
}

TEST(DxtDecode, ImageDecodeWritesOnlyExistingTexels)
{
    // 5x3 picture: two blocks wide, one high; the second block holds one
    // column.  Bytes beyond the picture's rows stay untouched.
    const auto block = ColourBlock(0xFFFF, 0, 0x55555555);  // all index 1: black
    std::vector<std::uint8_t> blocks = ColourBlock(0xFFFF, 0, 0);
    blocks.insert(blocks.end(), block.begin(), block.end());
    const std::size_t pitch = 5 * 4 + 4;
    std::vector<std::uint8_t> rgba(pitch * 3, 7);
    dxt::DecodeImage(D3DFMT_DXT1, blocks.data(), blocks.size(), 5, 3, rgba.data(), pitch);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(rgba[y * pitch + 4 * x], x < 4 ? 255 : 0) << x << "," << y;
        EXPECT_EQ(rgba[y * pitch + 20], 7);
    }
}

} // namespace
