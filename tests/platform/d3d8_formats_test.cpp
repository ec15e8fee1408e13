#include "platform/d3d8/d3d8.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// Independent statement of the size rules, per kind of format.
struct Expected {
    std::uint64_t pitch;
    std::uint64_t rows;
};

Expected Reference(const FormatInfo& f, UINT w, UINT h)
{
    switch (f.kind) {
    case FormatKind::Block: {
        std::uint64_t bw = (w + 3) / 4, bh = (h + 3) / 4;
        return {bw * (f.format == D3DFMT_DXT1 ? 8u : 16u), bh};
    }
    case FormatKind::Yuv:
        return {((w + 1) / 2 * 4 + 3) / 4 * 4, h};
    default: {
        std::uint64_t bytes = std::uint64_t(w) * f.bitsPerPixel / 8;
        return {(bytes + 3) / 4 * 4, h};
    }
    }
}

TEST(FormatTable, HoldsEveryNamedFormatOnce)
{
    const D3DFORMAT named[] = {
        D3DFMT_R8G8B8,   D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8,    D3DFMT_R5G6B5,      D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
        D3DFMT_A4R4G4B4, D3DFMT_R3G3B2,   D3DFMT_A8,          D3DFMT_A8R3G3B2,    D3DFMT_X4R4G4B4, D3DFMT_A2B10G10R10,
        D3DFMT_G16R16,   D3DFMT_A8P8,     D3DFMT_P8,          D3DFMT_L8,          D3DFMT_A8L8,     D3DFMT_A4L4,
        D3DFMT_V8U8,     D3DFMT_L6V5U5,   D3DFMT_X8L8V8U8,    D3DFMT_Q8W8V8U8,    D3DFMT_V16U16,   D3DFMT_W11V11U10,
        D3DFMT_A2W10V10U10, D3DFMT_UYVY,  D3DFMT_YUY2,        D3DFMT_DXT1,        D3DFMT_DXT2,     D3DFMT_DXT3,
        D3DFMT_DXT4,     D3DFMT_DXT5};
    std::set<std::string> names;
    for (D3DFORMAT f : named) {
        const FormatInfo* info = D3DFormatInfo(f);
        ASSERT_NE(info, nullptr) << f;
        EXPECT_EQ(info->format, f);
        EXPECT_TRUE(names.insert(info->name).second) << info->name;
        EXPECT_EQ(std::string(info->name).rfind("D3DFMT_", 0), 0u);
    }
    EXPECT_EQ(D3DFormatInfo(D3DFMT_UNKNOWN), nullptr);
    EXPECT_EQ(D3DFormatInfo(static_cast<D3DFORMAT>(0x36545844)), nullptr); // "DXT6"
}

// The lookup is a hash: any number either finds the row of that format or none.
TEST(FormatTable, MasksFitTheBitCountAndDoNotOverlap)
{
    for (const FormatInfo& f : D3DFormatTable()) {
        if (f.kind == FormatKind::Block || f.kind == FormatKind::Yuv)
            continue;
        std::uint64_t limit = f.bitsPerPixel == 32 ? 0xFFFFFFFFull : ((1ull << f.bitsPerPixel) - 1);
        const DWORD masks[] = {f.redMask, f.greenMask, f.blueMask, f.alphaMask};
        DWORD seen = 0;
        for (DWORD m : masks) {
            EXPECT_LE(m, limit) << f.name;
            EXPECT_EQ(seen & m, 0u) << f.name;
            seen |= m;
        }
    }
}

TEST(LevelLayout, FullChainCounts)
{
    EXPECT_EQ(D3DFullMipCount(1, 1), 1u);
    EXPECT_EQ(D3DFullMipCount(1024, 1024), 11u);
    EXPECT_EQ(D3DFullMipCount(1024, 1), 11u);
    EXPECT_EQ(D3DFullMipCount(1023, 1023), 10u);
    EXPECT_EQ(D3DFullMipCount(1025, 3), 11u);
    EXPECT_EQ(D3DFullMipCount(16384, 16384), 15u);
    EXPECT_EQ(D3DFullMipCount(0, 5), 3u);
    EXPECT_EQ(D3DFullMipCount(0, 0), 0u);
}

TEST(LevelLayout, EveryLevelOfEveryFormatAtAwkwardSizes)
{
    const UINT sizes[][2] = {{1, 1}, {1, 7}, {3, 1}, {2, 2}, {4, 4}, {5, 3}, {7, 9}, {16, 16}, {255, 129}, {1024, 1}, {256, 256}};
    for (const FormatInfo& f : D3DFormatTable()) {
        for (auto [w, h] : sizes) {
            UINT count = D3DFullMipCount(w, h);
            for (UINT i = 0; i < count; ++i) {
                auto l = D3DLevelLayout(f.format, w, h, i);
                ASSERT_TRUE(l) << f.name << " " << w << "x" << h << " level " << i;
                UINT lw = std::max<UINT>(1, w >> i), lh = std::max<UINT>(1, h >> i);
                EXPECT_EQ(l->width, lw);
                EXPECT_EQ(l->height, lh);
                Expected e = Reference(f, lw, lh);
                EXPECT_EQ(l->pitch, e.pitch) << f.name << " " << lw << "x" << lh;
                EXPECT_EQ(l->rows, e.rows) << f.name;
                EXPECT_EQ(l->size, e.pitch * e.rows) << f.name;
            }
            EXPECT_FALSE(D3DLevelLayout(f.format, w, h, count)) << "past the chain";
        }
    }
}

TEST(LevelLayout, DxtLevelsBelowFourPixelsTakeOneBlock)
{
    // 1024x1024 DXT1: 524288 bytes at level 0, 8 bytes from 4x4 down.
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT1, 1024, 1024, 0)->size, 524288u);
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT1, 1024, 1024, 8)->size, 8u);   // 4x4
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT1, 1024, 1024, 9)->size, 8u);   // 2x2
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT1, 1024, 1024, 10)->size, 8u);  // 1x1
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT5, 1024, 1024, 10)->size, 16u);
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT5, 6, 2, 0)->size, 32u);        // 2x1 blocks
    EXPECT_EQ(D3DLevelLayout(D3DFMT_DXT3, 6, 2, 0)->pitch, 32u);
}

TEST(LevelLayout, RejectsBadArguments)
{
    EXPECT_FALSE(D3DLevelLayout(D3DFMT_A8R8G8B8, 0, 4, 0));
    EXPECT_FALSE(D3DLevelLayout(D3DFMT_A8R8G8B8, 4, 0, 0));
    EXPECT_FALSE(D3DLevelLayout(D3DFMT_UNKNOWN, 4, 4, 0));
    EXPECT_FALSE(D3DLevelLayout(D3DFMT_A8R8G8B8, 4, 4, 3));
}

TEST(LevelLayout, LargestSideIsComputedIn64Bits)
{
    auto l = D3DLevelLayout(D3DFMT_A8R8G8B8, 16384, 16384, 0);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->size, 16384ull * 16384 * 4);
    auto wide = D3DLevelLayout(D3DFMT_A8R8G8B8, 0xFFFFFFFFu, 1, 0);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size, 0xFFFFFFFFull * 4);
    EXPECT_FALSE(D3DLevelLayout(D3DFMT_A8R8G8B8, 0xFFFFFFFFu, 0xFFFFFFFFu, 0)) << "overflows 64 bits";
}

} // namespace
