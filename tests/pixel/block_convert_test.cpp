#include "platform/d3dx8/dxt/dxt.h"
#include "tests/pixel/pixel_test.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

using model::Image;
using model::Rgba;

namespace {

const D3DFORMAT kBlockFormats[] = {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5};

// The colours of a DXT texture as the block codec decodes them, assembled
// by the test from the stored blocks.
Image DecodeBlocks(IDirect3DTexture8* texture, UINT level = 0)
{
    D3DSURFACE_DESC d{};
    texture->GetLevelDesc(level, &d);
    const std::vector<std::uint8_t> bytes = model::Bytes(texture, level);
    const unsigned blockBytes = d.Format == D3DFMT_DXT1 ? 8 : 16;
    const UINT columns = (d.Width + 3) / 4;
    Image image{d.Width, d.Height, std::vector<Rgba>(std::size_t(d.Width) * d.Height)};
    std::uint8_t texels[64];
    for (UINT by = 0; by < (d.Height + 3) / 4; ++by)
        for (UINT bx = 0; bx < columns; ++bx) {
            dxt::DecodeBlock(d.Format, &bytes[(std::size_t(by) * columns + bx) * blockBytes], texels);
            for (UINT y = 0; y < 4; ++y)
                for (UINT x = 0; x < 4; ++x)
                    if (bx * 4 + x < d.Width && by * 4 + y < d.Height) {
                        const std::uint8_t* t = texels + 4 * (y * 4 + x);
                        image.at(bx * 4 + x, by * 4 + y) = {t[0] / 255.0, t[1] / 255.0, t[2] / 255.0, t[3] / 255.0};
                    }
        }
    return image;
}

// Colours along one line through RGB space, changing smoothly, with alpha
// at or above 140: what block compression is built for.
Image SmoothImage(UINT width, UINT height)
{
    Image image{width, height, std::vector<Rgba>(std::size_t(width) * height)};
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            const int t = static_cast<int>(8 * x + 6 * y);
            image.at(x, y) = {t / 255.0, (255 - t) / 255.0, (t / 2 + 40) / 255.0, (140 + t / 2) / 255.0};
        }
    return image;
}

std::vector<PALETTEENTRY> RampPalette()
{
    std::vector<PALETTEENTRY> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i / 2 + 40), BYTE(140 + i / 2)};
    return palette;
}

// What a block format gives back at best: DXT1 keeps no alpha but a
// transparent black below 128.
Rgba BlockIdeal(D3DFORMAT f, Rgba c)
{
    if (f == D3DFMT_DXT1)
        c = c.a * 255 < 127.5 ? Rgba{0, 0, 0, 0} : Rgba{c.r, c.g, c.b, 1};
    return c;
}

double MaxError(const Image& a, const Image& b)
{
    double worst = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const Rgba& p = a.pixels[i];
        const Rgba& q = b.pixels[i];
        worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b), std::abs(p.a - q.a)});
    }
    return worst * 255;
}

class ThreadCap {
public:
    explicit ThreadCap(const char* value)
    {
        if (const char* old = std::getenv("MIPFORGE_THREADS"))
            old_ = old;
        if (value)
            setenv("MIPFORGE_THREADS", value, 1);
        else
            unsetenv("MIPFORGE_THREADS");
    }
    ~ThreadCap()
    {
        if (old_)
            setenv("MIPFORGE_THREADS", old_->c_str(), 1);
        else
            unsetenv("MIPFORGE_THREADS");
    }

private:
    std::optional<std::string> old_;
};

} // namespace

using Blocks = PixelTest;

TEST_F(Blocks, SolidFiveSixFiveColoursSurviveExactly)
{
    model::Random random(9);
    for (int n = 0; n < 12; ++n) {
        const int r5 = random.Byte() & 31, g6 = random.Byte() & 63, b5 = random.Byte() & 31;
        // The 8-bit colours a 5:6:5 endpoint decodes to (bits repeated).
        const int r = r5 << 3 | r5 >> 2, g = g6 << 2 | g6 >> 4, b = b5 << 3 | b5 >> 2;
        const Image solid{6, 7, std::vector<Rgba>(42, Rgba{r / 255.0, g / 255.0, b / 255.0, 1})};
        ComPtr<IDirect3DTexture8> argb = textures_.FromImage(solid);
        for (D3DFORMAT f : kBlockFormats) {
            ComPtr<IDirect3DTexture8> block = textures_.Make(f, 6, 7);
            ASSERT_EQ(Convert(block.get(), nullptr, argb.get(), nullptr), S_OK);
            const std::uint32_t expected = 0xFF000000u | std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
            for (std::uint32_t v : model::ReadArgb(block.get(), nullptr))
                ASSERT_EQ(v, expected) << model::Name(f) << " colour " << r5 << "," << g6 << "," << b5;
        }
    }
}

TEST_F(Blocks, DecodingAssemblesEveryBlockAtOddSizes)
{
    model::Random random(17);
    for (D3DFORMAT f : kBlockFormats)
        for (auto [w, h] : {std::pair<UINT, UINT>{7, 5}, {1, 1}, {9, 3}}) {
            ComPtr<IDirect3DTexture8> block = textures_.Make(f, w, h);
            D3DLOCKED_RECT locked{};
            D3DSURFACE_DESC d{};
            block->GetLevelDesc(0, &d);
            ASSERT_EQ(block->LockRect(0, &locked, nullptr, 0), S_OK);
            for (UINT i = 0; i < d.Size; ++i)
                static_cast<std::uint8_t*>(locked.pBits)[i] = static_cast<std::uint8_t>(random.Byte());
            block->UnlockRect(0);
            const Image reference = DecodeBlocks(block.get());
            const std::vector<std::uint32_t> argb = model::ReadArgb(block.get(), nullptr);
            for (std::size_t i = 0; i < argb.size(); ++i)
                ASSERT_EQ(argb[i], model::ToArgb(reference.pixels[i])) << model::Name(f) << " texel " << i;
        }
}

TEST_F(Blocks, EveryFormatConvertsIntoAndOutOfEveryBlockFormat)
{
    const std::vector<PALETTEENTRY> palette = RampPalette();
    for (auto [w, h] : {std::pair<UINT, UINT>{7, 5}, {1, 1}}) {
        const Image input = SmoothImage(w, h);
        ComPtr<IDirect3DTexture8> argb = textures_.FromImage(input);
        for (D3DFORMAT s : model::AllFormats()) {
            ComPtr<IDirect3DTexture8> src = textures_.Make(s, w, h);
            ASSERT_EQ(Convert(src.get(), palette.data(), argb.get(), nullptr), S_OK) << model::Name(s);
            for (D3DFORMAT d : model::AllFormats()) {
                if (!model::IsBlock(s) && !model::IsBlock(d))
                    continue;  // the uncompressed pairs have their own exact test
                const std::string pair = std::string(model::Name(s)) + " -> " + model::Name(d);
                ComPtr<IDirect3DTexture8> dst = textures_.Make(d, w, h);
                ASSERT_EQ(Convert(dst.get(), palette.data(), src.get(), palette.data()), S_OK) << pair;
                // What the source holds, as its own decoder or the model says.
                const Image held = model::IsBlock(s) ? DecodeBlocks(src.get()) : model::Read(src.get(), palette.data());
                if (!model::IsBlock(d)) {
                    // Out of blocks the conversion is exact.
                    EXPECT_TRUE(Matches(model::Read(dst.get(), palette.data()), model::Store(d, held, palette.data())))
                        << pair;
                    continue;
                }
                Image ideal = held;
                for (Rgba& c : ideal.pixels)
                    c = BlockIdeal(d, c);
                // DXT2/DXT4 store colour premultiplied, which costs precision
                // where alpha is low.
                double bound = d == D3DFMT_DXT2 || d == D3DFMT_DXT4 ? 28 : 20;
                // 3- and 2-bit channels turn the smooth line into steps that
                // four colours a block cannot follow.
                if (s == D3DFMT_R3G3B2 || s == D3DFMT_A8R3G3B2)
                    bound = 80;
                EXPECT_LE(MaxError(DecodeBlocks(dst.get()), ideal), bound) << pair << " at " << w << "x" << h;
            }
        }
    }
}

TEST_F(Blocks, PartRectangleKeepsTheRestOfItsBlocks)
{
    // A solid 5:6:5 background, then a small picture loaded into a rectangle
    // that cuts blocks: outside the rectangle the background stays.
    const Image background{8, 8, std::vector<Rgba>(64, Rgba{132 / 255.0, 65 / 255.0, 0, 1})};
    const Image picture{3, 3, std::vector<Rgba>(9, Rgba{0, 130 / 255.0, 255 / 255.0, 1})};
    ComPtr<IDirect3DTexture8> back = textures_.FromImage(background), pic = textures_.FromImage(picture);
    ComPtr<IDirect3DTexture8> dxt5 = textures_.Make(D3DFMT_DXT5, 8, 8);
    ASSERT_EQ(Convert(dxt5.get(), nullptr, back.get(), nullptr), S_OK);
    const RECT where{3, 2, 6, 5};
    ASSERT_EQ(D3DXLoadSurfaceFromSurface(model::Level(dxt5.get()).get(), nullptr, &where, model::Level(pic.get()).get(),
                                         nullptr, nullptr, D3DX_FILTER_NONE, 0),
              S_OK);
    const Image out = DecodeBlocks(dxt5.get());
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x) {
            const bool inside = x >= 3 && x < 6 && y >= 2 && y < 5;
            const Rgba& e = inside ? picture.pixels[0] : background.pixels[0];
            const Rgba& o = out.at(x, y);
            EXPECT_LE(std::max({std::abs(o.r - e.r), std::abs(o.g - e.g), std::abs(o.b - e.b)}) * 255, 12)
                << x << "," << y << (inside ? " inside" : " outside");
        }
}

TEST_F(Blocks, BytesDoNotDependOnTheThreadCount)
{
    const UINT w = 260, h = 132;  // odd block counts, a partial last band
    Image image = model::RandomImage(w, h, 77);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x) {
            Rgba& c = image.at(x, y);
            c.r = (c.r * 0.2 + 0.8 * x / w), c.g = (c.g * 0.2 + 0.8 * y / h);
        }
    ComPtr<IDirect3DTexture8> argb = textures_.FromImage(image);
    for (D3DFORMAT f : {D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5}) {
        std::vector<std::vector<std::uint8_t>> runs;
        for (const char* cap : {"1", static_cast<const char*>(nullptr), "3"}) {
            ThreadCap threads(cap);
            ComPtr<IDirect3DTexture8> block = textures_.Make(f, w, h, 0);
            ASSERT_EQ(Convert(block.get(), nullptr, argb.get(), nullptr), S_OK);
            ASSERT_EQ(D3DXFilterTexture(block.get(), nullptr, 0, D3DX_FILTER_BOX), S_OK);
            std::vector<std::uint8_t> all;
            for (UINT level = 0; level < block->GetLevelCount(); ++level) {
                const std::vector<std::uint8_t> bytes = model::Bytes(block.get(), level);
                all.insert(all.end(), bytes.begin(), bytes.end());
            }
            runs.push_back(std::move(all));
        }
        EXPECT_EQ(runs[0], runs[1]) << model::Name(f) << ": one thread against all cores";
        EXPECT_EQ(runs[0], runs[2]) << model::Name(f) << ": one thread against three";
    }
}
