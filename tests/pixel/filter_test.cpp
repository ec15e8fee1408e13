#include "tests/pixel/pixel_test.h"

#include <cstring>

using model::Image;
using model::Rgba;

namespace {

void WriteArgb(IDirect3DTexture8* t, const std::vector<std::uint32_t>& pixels, UINT level = 0)
{
    D3DSURFACE_DESC d{};
    t->GetLevelDesc(level, &d);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(level, &locked, nullptr, 0), S_OK);
    for (UINT y = 0; y < d.Height; ++y)
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, &pixels[y * d.Width], d.Width * 4);
    t->UnlockRect(level);
}

std::vector<std::uint32_t> Grey(std::initializer_list<int> values)
{
    std::vector<std::uint32_t> out;
    for (int v : values)
        out.push_back(0xFF000000u | std::uint32_t(v) << 16 | std::uint32_t(v) << 8 | std::uint32_t(v));
    return out;
}

} // namespace

class BoxFilter : public PixelTest {
protected:
    void ExpectChainFollowsTheRule(UINT w, UINT h);
};

TEST_F(BoxFilter, GoldenValues)
{
    // 3x3: one texel averaging the top-left 2x2; a half rounds up.
    ComPtr<IDirect3DTexture8> square = textures_.Make(D3DFMT_A8R8G8B8, 3, 3, 0);
    WriteArgb(square.get(), Grey({10, 20, 200, 30, 42, 200, 200, 200, 200}));
    ASSERT_EQ(D3DXFilterTexture(square.get(), nullptr, 0, D3DX_DEFAULT), S_OK);
    EXPECT_EQ(model::ReadArgb(square.get(), nullptr, 1), Grey({26}));

    // A one-texel side takes its edge texel twice.
    ComPtr<IDirect3DTexture8> column = textures_.Make(D3DFMT_A8R8G8B8, 1, 4, 0);
    WriteArgb(column.get(), Grey({10, 13, 100, 103}));
    ASSERT_EQ(D3DXFilterTexture(column.get(), nullptr, 0, D3DX_FILTER_BOX), S_OK);
    EXPECT_EQ(model::ReadArgb(column.get(), nullptr, 1), Grey({12, 102}));
    EXPECT_EQ(model::ReadArgb(column.get(), nullptr, 2), Grey({57}));

    // The last column of an odd width is not read.
    ComPtr<IDirect3DTexture8> row = textures_.Make(D3DFMT_A8R8G8B8, 5, 1, 0);
    WriteArgb(row.get(), Grey({0, 2, 4, 7, 255}));
    ASSERT_EQ(D3DXFilterTexture(row.get(), nullptr, 0, D3DX_FILTER_BOX), S_OK);
    EXPECT_EQ(model::ReadArgb(row.get(), nullptr, 1), Grey({1, 6}));
    EXPECT_EQ(model::ReadArgb(row.get(), nullptr, 2), Grey({4}));
}

TEST_F(BoxFilter, WholeChainAtOddSizeFollowsTheRule)
{
    // Narrow, and wide enough for whole runs of four destination texels
    // before the clamped last column.
    for (UINT w : {7u, 37u, 42u})
        ExpectChainFollowsTheRule(w, 5);
}

void BoxFilter::ExpectChainFollowsTheRule(UINT w, UINT h)
{
    SCOPED_TRACE("width " + std::to_string(w));
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_A8R8G8B8, w, h, 0);
    ComPtr<IDirect3DTexture8> source = textures_.FromImage(model::RandomImage(w, h, 4));
    ASSERT_EQ(Convert(t.get(), nullptr, source.get(), nullptr), S_OK);
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, D3DX_FILTER_BOX), S_OK);
    UINT levels = 1;
    for (UINT side = std::max(w, h); side > 1; side /= 2)
        ++levels;
    ASSERT_EQ(t->GetLevelCount(), levels);
    std::vector<std::uint32_t> above = model::ReadArgb(t.get(), nullptr, 0);
    UINT aw = w, ah = h;
    for (UINT level = 1; level < levels; ++level) {
        const UINT lw = std::max(1u, aw / 2), lh = std::max(1u, ah / 2);
        std::vector<std::uint32_t> expected;
        for (UINT y = 0; y < lh; ++y)
            for (UINT x = 0; x < lw; ++x) {
                const UINT xs[2] = {std::min(2 * x, aw - 1), std::min(2 * x + 1, aw - 1)};
                const UINT ys[2] = {std::min(2 * y, ah - 1), std::min(2 * y + 1, ah - 1)};
                std::uint32_t v = 0;
                for (int shift = 0; shift < 32; shift += 8) {
                    unsigned sum = 0;
                    for (UINT yy : ys)
                        for (UINT xx : xs)
                            sum += (above[yy * aw + xx] >> shift) & 0xFF;
                    v |= ((sum + 2) / 4) << shift;
                }
                expected.push_back(v);
            }
        const std::vector<std::uint32_t> actual = model::ReadArgb(t.get(), nullptr, level);
        EXPECT_EQ(actual, expected) << "level " << level;
        above = actual, aw = lw, ah = lh;
    }
}

TEST_F(BoxFilter, SixteenBitChannelsAverageWithoutLoss)
{
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_G16R16, 2, 2, 0);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), S_OK);
    const std::uint16_t texels[2][4] = {{1, 65535, 1, 65534}, {2, 65534, 2, 65534}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, texels[y], 8);
    t->UnlockRect(0);
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, D3DX_FILTER_BOX), S_OK);
    const std::vector<std::uint8_t> bytes = model::Bytes(t.get(), 1);
    std::uint16_t red, green;
    std::memcpy(&red, &bytes[0], 2);
    std::memcpy(&green, &bytes[2], 2);
    EXPECT_EQ(red, 2);        // 6 / 4 = 1.5 rounds up
    EXPECT_EQ(green, 65534);  // 262137 / 4 = 65534.25
}

TEST_F(BoxFilter, PaletteLevelsTakeTheNearestEntry)
{
    std::vector<PALETTEENTRY> palette(256, PALETTEENTRY{0, 0, 0, 255});
    palette[1] = {255, 255, 255, 255};
    palette[2] = {128, 128, 128, 255};
    palette[3] = {255, 0, 0, 255};
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_P8, 4, 2, 0);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(0, &locked, nullptr, 0), S_OK);
    const std::uint8_t rows[2][4] = {{0, 1, 3, 3}, {1, 0, 3, 1}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch, rows[y], 4);
    t->UnlockRect(0);
    ASSERT_EQ(D3DXFilterTexture(t.get(), palette.data(), 0, D3DX_FILTER_BOX), S_OK);
    // Grey (128) for black and white; (255, 64, 64) is nearest to red.
    const std::vector<std::uint8_t> level1 = model::Bytes(t.get(), 1);
    EXPECT_EQ(level1[0], 2);
    EXPECT_EQ(level1[1], 3);
}

TEST_F(BoxFilter, BlockLevelsAreFilteredFromTheDecodedLevel)
{
    const UINT w = 16, h = 12;
    Image image{w, h, std::vector<Rgba>(w * h)};
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            image.at(x, y) = {x * 15 / 255.0, (255 - x * 15) / 255.0, 0.3, 1};
    ComPtr<IDirect3DTexture8> source = textures_.FromImage(image);
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_DXT5, w, h, 0);
    ASSERT_EQ(Convert(t.get(), nullptr, source.get(), nullptr), S_OK);
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, D3DX_DEFAULT), S_OK);
    const std::vector<std::uint32_t> top = model::ReadArgb(t.get(), nullptr, 0);
    const std::vector<std::uint32_t> next = model::ReadArgb(t.get(), nullptr, 1);
    ASSERT_EQ(next.size(), std::size_t(8 * 6));
    for (UINT y = 0; y < 6; ++y)
        for (UINT x = 0; x < 8; ++x)
            for (int shift = 0; shift < 32; shift += 8) {
                unsigned sum = 0;
                for (UINT yy = 2 * y; yy < 2 * y + 2; ++yy)
                    for (UINT xx = 2 * x; xx < 2 * x + 2; ++xx)
                        sum += (top[yy * w + xx] >> shift) & 0xFF;
                const int got = (next[y * 8 + x] >> shift) & 0xFF;
                EXPECT_NEAR(got, (sum + 2) / 4.0, 12) << x << "," << y << " shift " << shift;
            }
    // The 1x1 level holds the average colour, not zeros.
    const std::uint32_t last = model::ReadArgb(t.get(), nullptr, t->GetLevelCount() - 1)[0];
    EXPECT_NEAR(double((last >> 16) & 0xFF), 112, 12);
    EXPECT_NEAR(double((last >> 8) & 0xFF), 143, 12);
}

TEST_F(BoxFilter, StartsBelowTheGivenLevelAndLeavesItAlone)
{
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_A8R8G8B8, 4, 4, 3);
    ComPtr<IDirect3DTexture8> source = textures_.FromImage(model::RandomImage(4, 4, 8));
    ASSERT_EQ(Convert(t.get(), nullptr, source.get(), nullptr), S_OK);
    WriteArgb(t.get(), Grey({10, 20, 30, 40}), 1);
    const std::vector<std::uint8_t> level0 = model::Bytes(t.get(), 0);
    ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 1, D3DX_FILTER_BOX), S_OK);
    EXPECT_EQ(model::Bytes(t.get(), 0), level0);
    EXPECT_EQ(model::ReadArgb(t.get(), nullptr, 1), Grey({10, 20, 30, 40}));
    EXPECT_EQ(model::ReadArgb(t.get(), nullptr, 2), Grey({25}));
}

TEST_F(BoxFilter, OtherFiltersKeepAFlatColourFlat)
{
    for (DWORD filter : {D3DX_FILTER_POINT, D3DX_FILTER_LINEAR, D3DX_FILTER_TRIANGLE}) {
        ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_A8R8G8B8, 5, 3, 0);
        WriteArgb(t.get(), std::vector<std::uint32_t>(15, 0x80402010u));
        ASSERT_EQ(D3DXFilterTexture(t.get(), nullptr, 0, filter), S_OK);
        EXPECT_EQ(model::ReadArgb(t.get(), nullptr, 2), std::vector<std::uint32_t>{0x80402010u}) << filter;
    }
}

TEST_F(BoxFilter, BadCallsFailWithAReason)
{
    ComPtr<IDirect3DTexture8> t = textures_.Make(D3DFMT_A8R8G8B8, 4, 4, 2);
    EXPECT_TRUE(FAILED(D3DXFilterTexture(nullptr, nullptr, 0, D3DX_DEFAULT)));
    EXPECT_TRUE(FAILED(D3DXFilterTexture(t.get(), nullptr, 2, D3DX_DEFAULT)));
    EXPECT_NE(D3DXGetLastErrorText().find("level 2"), std::string::npos) << D3DXGetLastErrorText();
    EXPECT_TRUE(FAILED(D3DXFilterTexture(t.get(), nullptr, 0, 99)));
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t->LockRect(1, &locked, nullptr, 0), S_OK);
    EXPECT_TRUE(FAILED(D3DXFilterTexture(t.get(), nullptr, 0, D3DX_DEFAULT)));
    EXPECT_NE(D3DXGetLastErrorText().find("mip level 1"), std::string::npos) << D3DXGetLastErrorText();
    t->UnlockRect(1);
    // The last level has nothing below it.
    EXPECT_EQ(D3DXFilterTexture(t.get(), nullptr, 1, D3DX_DEFAULT), S_OK);
}
